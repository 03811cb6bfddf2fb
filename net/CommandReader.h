#pragma once

#include "CommandProtocol.h"

#include <QByteArrayList>

#include <deque>
#include <optional>

// One whole message read from a command connection.
struct TCommandMessage {
    QByteArray Word;
    // Single: the one argument line. Counted: the item lines. WordOnly: none.
    QByteArrayList Lines;
    // Numeric Single: the argument. Counted: the count as read (0 when it did not parse).
    qint32 Value = 0;

    QByteArray Argument() const { return Lines.value(0); }
};

// Incremental reader of one command connection: bytes in, whole messages out. It owns no
// socket and reads no clock; the owner passes the time with every call, feeds whatever the
// socket delivered and arms one single-shot timer for NextDeadline() that calls Expire().
//
// Rules it applies:
// - LF ends a line; one CR right before it is removed. A line that starts with ".." loses
//   its first "." (the writer's doubling); other lines are kept exactly as received.
// - A word line that is not in the table is ignored (matching is exact and case-sensitive).
// - Each argument line must complete within CommandLineTimeoutMs after the previous line of
//   its message. When it does not: a numeric argument or a count drops the message, a text
//   argument is taken as an empty line, and each missing item line is taken as an empty line
//   (a table entry may drop the message instead: a partial UPDATELIST would replace the
//   whole play list). Whatever arrives later is read as word lines.
// - A count of 0 or less gives no lines. A count that is not an integer drops the message,
//   and so do a count above MaxCommandItemCount and items whose bytes together pass
//   MaxCommandPayload. In these drop cases the item lines that follow are read as word
//   lines.
// - A line longer than MaxCommandLineLength drops the message being read; the rest of that
//   line is skipped without being buffered and reading resumes after its LF.
class TCommandReader {
public:
    // LineTimeoutMs: how long each argument line may take (tests shorten it).
    explicit TCommandReader(const TCommandTable &Table,
                            qint64 LineTimeoutMs = CommandLineTimeoutMs);

    // Takes the next bytes received; NowMs (a monotonic clock in milliseconds) is when they
    // arrived. Bytes that complete a line after its deadline find the message expired.
    void Feed(QByteArrayView Bytes, qint64 NowMs);
    // Applies a passed argument deadline, if any.
    void Expire(qint64 NowMs);
    // When Expire() next has work to do, if a message waits for an argument line.
    std::optional<qint64> NextDeadline() const;
    // The oldest whole message not yet taken.
    std::optional<TCommandMessage> Next();
    // Whether a message is ready for Next().
    bool HasMessage() const { return !FReady.empty(); }
    // Bytes held for the message being read and the unfinished line; a kept line also costs
    // its bookkeeping.
    qint64 PendingBytes() const {
        return FPayload + FCurrent.Lines.size() * PendingLineCost + FPartial.size();
    }
    static constexpr qint64 PendingLineCost = 64;

private:
    enum class TPhase { Word, Argument, Count, Items };

    void TakeLine(QByteArrayView Line, qint64 NowMs);
    void StartMessage(const TCommandEntry &Entry, qint64 NowMs);
    void Deliver();
    void DropMessage();
    void LineTooLong();

    TCommandTable FTable;
    qint64 FLineTimeout;
    QByteArray FPartial;    // bytes of an unfinished line, at most the limit + one CR
    bool FSkipping = false; // inside an overlong line: discard up to its LF
    TPhase FPhase = TPhase::Word;
    TCommandEntry FEntry; // the entry of the message being read
    TCommandMessage FCurrent;
    qint32 FRemaining = 0; // item lines still to come
    qint64 FPayload = 0;   // item bytes read so far
    qint64 FDeadline = 0;
    std::deque<TCommandMessage> FReady;
};
