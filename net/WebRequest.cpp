#include "MediaServer.h"

#include "AsciiText.h"
#include "AudioTypes.h"

// The parts of a request the server reads itself: byte ranges, content types, headers and
// arguments.

namespace {

bool ParseNumber(const QByteArray &Text, qint64 &Value) {
    if (Text.isEmpty() || Text.size() > 18)
        return false;
    for (char C : Text)
        if (C < '0' || C > '9')
            return false;
    Value = Text.toLongLong();
    return true;
}

} // namespace

TByteRange ParseByteRange(const QByteArray &Header, qint64 Size) {
    TByteRange Whole;
    const QByteArray Ranges = Header.trimmed();
    if (!StartsWithAscii(Ranges, "bytes="))
        return Whole;
    const QByteArray Set = Ranges.mid(6).trimmed();
    if (Set.contains(','))
        return Whole;
    const qsizetype Dash = Set.indexOf('-');
    if (Dash < 0)
        return Whole;
    const QByteArray First = Set.left(Dash).trimmed();
    const QByteArray Last = Set.mid(Dash + 1).trimmed();
    TByteRange Unsatisfiable{TByteRange::Unsatisfiable, 0, 0};
    qint64 A = 0, B = 0;
    if (First.isEmpty()) {
        if (!ParseNumber(Last, B))
            return Whole;
        if (B == 0 || Size == 0)
            return Unsatisfiable;
        const qint64 Length = std::min(B, Size);
        return {TByteRange::Partial, Size - Length, Length};
    }
    if (!ParseNumber(First, A))
        return Whole;
    if (Last.isEmpty()) {
        B = Size - 1;
    } else if (!ParseNumber(Last, B) || B < A) {
        return Whole;
    }
    if (A >= Size)
        return Unsatisfiable;
    B = std::min(B, Size - 1);
    return {TByteRange::Partial, A, B - A + 1};
}

QByteArray MediaContentType(const QByteArray &FileName) {
    const QByteArray Type = AudioContentType(FileName);
    return Type.isEmpty() ? QByteArray("application/octet-stream") : Type;
}

QByteArray TWebRequest::Header(QByteArrayView Name) const {
    for (const auto &[Key, Value] : Headers)
        if (SameTextAscii(Key, Name.toByteArray()))
            return Value;
    return {};
}

int TWebRequest::HeaderCount(QByteArrayView Name) const {
    int Count = 0;
    for (const auto &Pair : Headers)
        Count += SameTextAscii(Pair.first, Name.toByteArray()) ? 1 : 0;
    return Count;
}

QByteArray TWebRequest::Argument(QByteArrayView Name) const {
    for (const auto &[Key, Value] : Arguments)
        if (Key == Name)
            return Value;
    return {};
}
