#include "CommandProtocol.h"

#include "AsciiText.h"

#include <cstddef>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <utility>

const TCommandTable &SpeakerCommands() {
    using S = TCommandShape;
    namespace W = CommandWord;
    static const TCommandTable Table{
        {.Word = W::Get, .Shape = S::WordOnly},
        {.Word = W::Add, .Shape = S::Counted},
        {.Word = W::UpdateList, .Shape = S::Counted, .AllItemsOrNothing = true},
        {.Word = W::State, .Shape = S::Single, .Numeric = true},
        {.Word = W::Volume, .Shape = S::Single, .Numeric = true},
        {.Word = W::Mute, .Shape = S::Single, .Numeric = true},
        {.Word = W::URL, .Shape = S::Single},
        {.Word = W::UpdatePosition, .Shape = S::Single, .Numeric = true},
        {.Word = W::GroupWatch, .Shape = S::WordOnly},
        {.Word = W::GroupAdd, .Shape = S::Single},
        {.Word = W::GroupLeave, .Shape = S::Single},
        {.Word = W::GroupVolume, .Shape = S::Single, .Numeric = true, .Arguments = 2},
        {.Word = W::GroupMute, .Shape = S::Single, .Numeric = true, .Arguments = 2},
    };
    return Table;
}

const TCommandTable &ControllerCommands() {
    using S = TCommandShape;
    namespace W = CommandWord;
    static const TCommandTable Table{
        {.Word = W::List, .Shape = S::Counted},
        {.Word = W::State, .Shape = S::Single, .Numeric = true},
        {.Word = W::Volume, .Shape = S::Single, .Numeric = true},
        {.Word = W::URL, .Shape = S::Single},
        {.Word = W::Position, .Shape = S::Counted},
        {.Word = W::Mute, .Shape = S::Single, .Numeric = true},
        {.Word = W::Group, .Shape = S::Counted, .AllItemsOrNothing = true},
        {.Word = W::GroupError, .Shape = S::Single},
    };
    return Table;
}

const TCommandEntry *FindCommand(const TCommandTable &Table, QByteArrayView Word) {
    for (const TCommandEntry &Entry : Table)
        if (Entry.Word == Word)
            return &Entry;
    return nullptr;
}

qint64 SinceLastDataMs(qintptr SocketDescriptor) {
    tcp_info Info{};
    socklen_t Size = sizeof Info;
    if (SocketDescriptor < 0 ||
        getsockopt(int(SocketDescriptor), IPPROTO_TCP, TCP_INFO, &Info, &Size) != 0 ||
        Size < offsetof(tcp_info, tcpi_last_data_recv) + sizeof Info.tcpi_last_data_recv)
        return 0;
    return qint64(Info.tcpi_last_data_recv);
}

qint64 KernelBytesWaiting(qintptr SocketDescriptor) {
    int Waiting = 0;
    if (SocketDescriptor < 0 || ioctl(int(SocketDescriptor), FIONREAD, &Waiting) != 0)
        return 0;
    return Waiting;
}

std::optional<qint32> ParseCommandInteger(QByteArrayView Text) {
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

namespace {

// Whether the side that reads Word expects a count line and items.
bool IsCounted(const QByteArray &Word) {
    for (const TCommandTable *Table : {&SpeakerCommands(), &ControllerCommands()})
        if (const TCommandEntry *Entry = FindCommand(*Table, Word))
            return Entry->Shape == TCommandShape::Counted;
    return false;
}

void AppendLine(QByteArray &Out, QByteArrayView Line) {
    if (Line.startsWith('.'))
        Out.append('.');
    Out.append(Line);
    Out.append("\r\n");
}

} // namespace

QByteArray BuildMessage(const QByteArray &Word, const QByteArray &Payload, TEmptyArgument Empty) {
    // Lines are walked in place: a play of 100000 tracks copies no line on its own.
    qsizetype Count = 0;
    QByteArrayView First;
    ForEachLine(Payload, [&](QByteArrayView Line) {
        if (Count++ == 0)
            First = Line;
    });
    QByteArray Out;
    // Every line may gain a "." and a CR LF; one allocation for the whole message.
    Out.reserve(Word.size() + Payload.size() + 3 * Count + 16);
    AppendLine(Out, Word);
    if (IsCounted(Word)) {
        AppendLine(Out, QByteArray::number(Count));
        ForEachLine(Payload, [&](QByteArrayView Line) { AppendLine(Out, Line); });
    } else if (!Payload.isEmpty() || Empty == TEmptyArgument::Send) {
        // A line break inside a single value would start a forged message on the peer's side,
        // so only its first line goes out.
        AppendLine(Out, First);
    }
    return Out;
}

QByteArray BuildArgumentsMessage(const QByteArray &Word, const QByteArrayList &Arguments) {
    QByteArray Out;
    AppendLine(Out, Word);
    for (const QByteArray &Argument : Arguments) {
        // As in BuildMessage: a line break inside a value would forge a message.
        QByteArrayView First;
        bool Taken = false;
        ForEachLine(Argument, [&](QByteArrayView Line) {
            if (!std::exchange(Taken, true))
                First = Line;
        });
        AppendLine(Out, First);
    }
    return Out;
}
