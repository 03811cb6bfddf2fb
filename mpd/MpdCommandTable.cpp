#include "MpdCommandTable.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

void TMpdCommandTable::Add(TMpdCommand Command) {
    const QByteArray Word = Command.Word;
    FCommands.insert(Word, std::move(Command));
}

const TMpdCommand *TMpdCommandTable::Find(const QByteArray &Word) const {
    const auto It = FCommands.constFind(Word);
    return It == FCommands.cend() ? nullptr : &*It;
}

QByteArrayList TMpdCommandTable::Words() const {
    QByteArrayList Words = FCommands.keys();
    std::sort(Words.begin(), Words.end());
    return Words;
}

qint64 MpdInteger(const QByteArray &Arg, qint64 Min, qint64 Max) {
    bool Ok = false;
    const qint64 Value = Arg.toLongLong(&Ok);
    if (!Ok)
        MpdFail(TMpdAck::Arg, "Integer expected: " + Arg);
    if (Value < Min || Value > Max)
        MpdFail(TMpdAck::Arg, "Number out of range: " + Arg);
    return Value;
}

double MpdNumber(const QByteArray &Arg) {
    bool Ok = false;
    const double Value = Arg.toDouble(&Ok);
    if (!Ok || !std::isfinite(Value))
        MpdFail(TMpdAck::Arg, "Float expected: " + Arg);
    return Value;
}

bool MpdBool(const QByteArray &Arg) {
    if (Arg != "0" && Arg != "1")
        MpdFail(TMpdAck::Arg, "Boolean (0/1) expected: " + Arg);
    return Arg == "1";
}

TMpdRange MpdRangeArg(const QByteArray &Arg) {
    const qsizetype Colon = Arg.indexOf(':');
    if (Colon < 0) {
        const int Start = int(MpdInteger(Arg));
        return {Start, Start + 1};
    }
    const int Start = int(MpdInteger(Arg.left(Colon)));
    const QByteArray EndText = Arg.mid(Colon + 1);
    if (EndText.isEmpty())
        return {Start, -1};
    const int End = int(MpdInteger(EndText));
    if (End < Start)
        MpdFail(TMpdAck::Arg, "Bad range: " + Arg);
    return {Start, End};
}
