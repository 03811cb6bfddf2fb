#pragma once

#include "ClockPacket.h"
#include "GroupClock.h"

#include <QList>

#include <optional>

// A follower's side of the clock exchange, without the socket: numbers its requests, pairs
// each reply with its request and says when to ask next: a burst when joining, then one a
// second. Times are the follower's monotonic clock, in nanoseconds.
class TClockRequests {
public:
    struct TConfig {
        int Burst = 8;
        qint64 BurstGap = 30'000'000;
        qint64 Interval = 1'000'000'000;
        qint64 GiveUp = 500'000'000; // a later reply says nothing useful
        int MaxPending = 16;
    };

    // FirstExchange: a random number, so that replies to an earlier run never match.
    explicit TClockRequests(quint32 FirstExchange) : TClockRequests(FirstExchange, TConfig{}) {}
    TClockRequests(quint32 FirstExchange, const TConfig &Config);

    // The request to send at Now; it waits for its reply until GiveUp.
    TClockPacket NewRequest(qint64 Now);
    // The exchange that Reply, received at Now, completes; nothing for a reply that no
    // waiting request asked for (another's, a repeat, a late one).
    std::optional<TClockExchange> TakeReply(const TClockPacket &Reply, qint64 Now);
    // How long after the last request the next one is due.
    qint64 NextDelay() const;
    // Joining again: forgets waiting requests and bursts again.
    void Restart();

private:
    struct TPending {
        quint32 Exchange;
        qint64 T1;
    };

    TConfig FConfig;
    quint32 FNext;
    int FSent = 0;            // since the last (re)start
    QList<TPending> FPending; // oldest first
};
