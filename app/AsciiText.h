#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

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
