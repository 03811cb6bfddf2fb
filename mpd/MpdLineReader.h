#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QList>

#include <deque>
#include <optional>

// One command line as read: its words (the command first, quotes and escapes removed), or
// why it could not be read.
struct TMpdLine {
    QByteArrayList Words;
    QByteArray Error; // not empty: the line is not a command
};

// What the session carries out at once: one command, or a whole command list.
struct TMpdRequest {
    enum TKind { Single, List, ListOk };
    TKind Kind = Single;
    QList<TMpdLine> Lines;
};

// Incremental reader of one MPD connection: bytes in, whole requests out. A line ends at LF
// (a CR before it is dropped). A line longer than MaxLineBytes, or a command list whose lines
// pass MaxListBytes, fails the reader: the connection must close. Nothing is buffered past
// those limits.
class TMpdLineReader {
public:
    static constexpr qsizetype MaxLineBytes = 8 * 1024;
    static constexpr qsizetype MaxListBytes = 2 * 1024 * 1024;

    // Takes the next bytes received.
    void Feed(QByteArrayView Bytes);
    // The oldest whole request not yet taken.
    std::optional<TMpdRequest> Next();
    bool HasRequest() const { return !FReady.empty(); }
    // Whether a limit was passed; nothing more is read then.
    bool Failed() const { return FFailed; }
    // Bytes held: the unfinished line, the open list, the requests not taken.
    qint64 PendingBytes() const { return FPartial.size() + FListBytes + FReadyBytes; }

private:
    void TakeLine(const QByteArray &Line);

    QByteArray FPartial;
    std::optional<TMpdRequest> FList; // an open command list
    qint64 FListBytes = 0;
    std::deque<TMpdRequest> FReady;
    qint64 FReadyBytes = 0;
    std::deque<qint64> FReadySizes;
    bool FFailed = false;
};

// The words of one line as the protocol quotes them: words apart by blanks, a word in double
// quotes may hold blanks and takes "\" before any byte as that byte.
TMpdLine ParseMpdLine(const QByteArray &Line);
