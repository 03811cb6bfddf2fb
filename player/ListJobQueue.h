#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QHash>

#include <deque>
#include <optional>

// One queued play-list job (ADD or UPDATELIST).
struct TListJob {
    QByteArray Sender;    // peer IP address, empty for the local user
    QByteArray Command;   // command word
    QByteArrayList Lines; // argument lines, shared with the message they came in
    qint64 Bytes = 0;     // memory the lines hold (ListJobBytes), counted once when queued
    // UPDATELIST: the address whose controllers hold this list already and get no LIST.
    QByteArray Holder;
};

// Jobs are carried out one per 200 ms tick while controllers can send them far faster: the
// controllers' jobs together hold at most this many jobs and bytes.
constexpr qsizetype MaxQueuedJobs = 1000;
constexpr qint64 MaxQueuedJobBytes = 64 * 1024 * 1024;

// The memory Lines hold: per line its place in the list, and its text's block with the
// header and the heap's own share. 100000 lines of one byte hold some 6 MB, not 300 kB.
qint64 ListJobBytes(const QByteArrayList &Lines);

// The speaker's queue of list jobs. Each sender address has its own share: when the queue is
// full, the sender holding the most makes room for the others, so one flooding controller
// cannot keep the others' jobs out; the senders take turns when jobs are taken. The local
// user's jobs are always queued and never make room.
class TListJobQueue {
public:
    // Queues the job unless it comes from a controller that already holds the largest share
    // of a full queue; false when refused.
    bool Add(TListJob Job);
    // The oldest job of the sender whose turn it is; senders take turns.
    std::optional<TListJob> Take();
    qsizetype Count() const { return qsizetype(FJobs.size()); }

private:
    struct TShare {
        qsizetype Jobs = 0;
        qint64 Bytes = 0;
    };
    // How full a sender's share is: the larger of its job and byte fractions of the limits.
    static double Load(qsizetype Jobs, qint64 Bytes);
    void Account(const TListJob &Job, int Sign);
    // Drops the newest job of Sender.
    void DropNewest(const QByteArray &Sender);

    std::deque<TListJob> FJobs; // arrival order
    QHash<QByteArray, TShare> FShares;
    QByteArrayList FTurns; // senders with queued jobs, next turn first
    qsizetype FControllerJobs = 0;
    qint64 FControllerBytes = 0;
};
