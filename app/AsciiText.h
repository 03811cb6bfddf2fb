#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>
#include <QString>

#include <algorithm>
#include <cstring>

// ASCII-only case folding: only the letters a-z / A-Z change.
QByteArray AsciiUpper(QByteArray S);
QByteArray AsciiLower(QByteArray S);
bool SameTextAscii(const QByteArray &A, const QByteArray &B);
bool StartsWithAscii(const QByteArray &S, const QByteArray &Prefix);

// The value of one hexadecimal digit, -1 for any other character.
int HexValue(char C);

// Leading and trailing blanks and control characters removed.
QByteArray TrimBlanks(const QByteArray &S);

// Splits at CR LF, lone CR or lone LF; a final line break adds no empty line,
// an empty text gives no lines.
QByteArrayList SplitLines(const QByteArray &Text);
// Do(line) for each line SplitLines would give, without copying any.
template <typename TDo> void ForEachLine(QByteArrayView Text, TDo &&Do) {
    // memchr finds the breaks: a play of 100000 tracks is megabytes of lines.
    const char *At = Text.data();
    const char *const End = At + Text.size();
    const auto Next = [End](const char *From, char C) {
        const void *Found = From < End ? std::memchr(From, C, size_t(End - From)) : nullptr;
        return Found ? static_cast<const char *>(Found) : End;
    };
    const char *Cr = Next(At, '\r');
    const char *Lf = Next(At, '\n');
    while (Cr != End || Lf != End) {
        const char *Break = std::min(Cr, Lf);
        Do(QByteArrayView(At, Break));
        At = Break + (Break == Cr && Lf == Cr + 1 ? 2 : 1);
        if (Cr < At)
            Cr = Next(At, '\r');
        if (Lf < At)
            Lf = Next(At, '\n');
    }
    if (At < End)
        Do(QByteArrayView(At, End));
}

// Lines joined into one text, each followed by CR LF.
QByteArray JoinLines(const QByteArrayList &Lines);

// "%" + two hex digits becomes that byte; "%" with anything else is dropped
// together with the two characters after it; "+" stays "+".
QByteArray PercentDecode(const QByteArray &S);

// Text from the last "." after the last "/", "\\" or ":", dot included; empty when none.
QByteArray FileExtension(const QByteArray &Name);
// The file-name part of a local path: text after the last "/".
QByteArray FileNamePart(const QByteArray &Path);
// Last segment of an http URL's path, without query/fragment, not decoded.
QByteArray DocumentName(const QByteArray &URL);

// The text shown when a file cannot be read or written: What ("Cannot open file",
// "Cannot create file"), the file name and the system's reason.
QString FileError(const char *What, const QString &Path, const QString &Reason);

// Appends S unless blank or already present (ASCII case ignored); new index or -1.
int AddUniqueString(const QByteArray &S, QByteArrayList &List);

// Whether Name has none of the refused characters and at most 260 characters.
bool IsValidComputerName(const QByteArray &Name);

// Whether A and B are equal once spaces are removed and ASCII case is ignored.
bool SameNameIgnoringSpaces(const QByteArray &A, const QByteArray &B);

// The IPv4 value of a host text that is an address ("192.168.1.20", also the short forms the
// socket layer reaches, such as "127.1"); all bits set for a name.
quint32 IPv4Value(const QString &Host);
