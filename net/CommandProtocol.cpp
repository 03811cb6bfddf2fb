#include "CommandProtocol.h"

#include "Utils.h"

const TCommandTable &SpeakerCommands() {
    using S = TCommandShape;
    static const TCommandTable Table{
        {"GET", S::WordOnly, false, false},      {"ADD", S::Counted, false, false},
        {"UPDATELIST", S::Counted, false, true}, {"STATE", S::Single, true, false},
        {"VOLUMN", S::Single, true, false},      {"MUTE", S::Single, true, false},
        {"URL", S::Single, false, false},        {"UPDATEPOSITION", S::Single, true, false},
    };
    return Table;
}

const TCommandTable &ControllerCommands() {
    using S = TCommandShape;
    static const TCommandTable Table{
        {"LIST", S::Counted, false, false},     {"STATE", S::Single, true, false},
        {"VOLUMN", S::Single, true, false},     {"URL", S::Single, false, false},
        {"POSITION", S::Counted, false, false}, {"MUTE", S::Single, true, false},
    };
    return Table;
}

std::optional<qint32> ParseCommandInteger(const QByteArray &Text) {
    qsizetype I = 0;
    const bool Negative = Text.startsWith('-');
    if (Negative)
        I = 1;
    if (I >= Text.size())
        return std::nullopt;
    qint64 Value = 0;
    for (; I < Text.size(); ++I) {
        const char C = Text[I];
        if (C < '0' || C > '9')
            return std::nullopt;
        Value = Value * 10 + (C - '0');
        if (Value > qint64(1) << 31)
            return std::nullopt;
    }
    if (Negative)
        Value = -Value;
    if (Value < INT32_MIN || Value > INT32_MAX)
        return std::nullopt;
    return qint32(Value);
}

bool IsCountedWord(const QByteArray &Word) {
    return Word == "LIST" || Word == "POSITION" || Word == "ADD" || Word == "UPDATELIST";
}

namespace {

void AppendLine(QByteArray &Out, const QByteArray &Line) {
    if (Line.startsWith('.'))
        Out.append('.');
    Out.append(Line);
    Out.append("\r\n");
}

} // namespace

QByteArray BuildMessage(const QByteArray &Word, const QByteArray &Payload, TEmptyArgument Empty) {
    QByteArray Out;
    AppendLine(Out, Word);
    const QByteArrayList Lines = SplitLines(Payload);
    if (IsCountedWord(Word)) {
        AppendLine(Out, QByteArray::number(Lines.size()));
        for (const QByteArray &Line : Lines)
            AppendLine(Out, Line);
    } else if (!Payload.isEmpty() || Empty == TEmptyArgument::Send) {
        // A line break inside a single value would start a forged message on the peer's side,
        // so only its first line goes out.
        AppendLine(Out, Lines.value(0));
    }
    return Out;
}
