#pragma once

#include <QList>
#include <QtGlobal>

// Clock readings at or past this are refused, so that no sum or difference of two of them
// overflows (2^62 ns is over a century of uptime).
constexpr qint64 MaxClockTime = qint64(1) << 62;
constexpr bool IsClockTime(qint64 T) {
    return T >= 0 && T < MaxClockTime;
}

// One clock exchange, in nanoseconds: T1 the follower sent the request and T4 it received
// the reply (its own monotonic clock); T2 the leader received the request and T3 it sent
// the reply (the group clock).
struct TClockExchange {
    qint64 T1 = 0, T2 = 0, T3 = 0, T4 = 0;

    qint64 RoundTrip() const { return (T4 - T1) - (T3 - T2); }
    // Group clock minus local clock at the exchange's local midpoint, assuming equal
    // delays both ways.
    double Offset() const { return ((T2 - T1) + (T3 - T4)) / 2.0; }
    qint64 LocalMidpoint() const { return T1 + (T4 - T1) / 2; }
};

// A follower's estimate of the group clock (the leader's monotonic clock) from clock
// exchanges: group = local + offset + drift * (local - reference). The exchanges whose
// round trip was lowest carry the least asymmetric delay, so they win: a sliding window is
// fitted by a least-squares line in which an exchange weighs less the more its round trip
// exceeds the best one. The class has no clock of its own: every time is passed in, in
// nanoseconds.
class TGroupClock {
public:
    struct TConfig {
        int Window = 64;   // exchanges kept
        int MinSynced = 8; // accepted exchanges before the estimate counts
        // Round-trip excess below which exchanges weigh alike (the link's own noise).
        qint64 Precision = 20'000;
        qint64 MaxRoundTrip = 500'000'000; // slower exchanges say nothing useful
        // The drift is fitted only once the window spans this long; until then the last
        // drift is kept (none at first) and only the offset follows.
        qint64 MinDriftSpan = 8'000'000'000;
        double MaxDrift = 1e-3; // clocks further apart than this are not believed
    };

    TGroupClock() : TGroupClock(TConfig{}) {}
    explicit TGroupClock(const TConfig &Config);

    // Takes one exchange; false (and nothing changes) when it is impossible or too slow.
    bool AddExchange(const TClockExchange &Exchange);
    // Forgets every exchange: the leader changed, or its clock did.
    void Reset();

    bool IsSynced() const { return FAccepted >= FConfig.MinSynced; }
    int ExchangeCount() const { return int(FExchanges.size()); }

    // Group clock minus local clock at LocalTime (0 before the first exchange).
    double OffsetAt(qint64 LocalTime) const;
    // Rate of the group clock against the local one, minus one (2e-4: 200 ppm fast).
    double Drift() const { return FDrift; }
    // The lowest round trip in the window.
    qint64 BestRoundTrip() const { return FBestRoundTrip; }

    qint64 ToGroup(qint64 LocalTime) const;
    qint64 ToLocal(qint64 GroupTime) const;

private:
    void Fit();

    TConfig FConfig;
    QList<TClockExchange> FExchanges; // oldest first
    int FAccepted = 0;
    qint64 FReference = 0; // local time the line is written around
    double FOffset = 0;    // at FReference
    double FDrift = 0;
    qint64 FBestRoundTrip = 0;
};
