#include "GroupClock.h"

#include <algorithm>
#include <cmath>

TGroupClock::TGroupClock(const TConfig &Config) : FConfig(Config) {
    FConfig.Window = std::max(FConfig.Window, 2);
    FConfig.Precision = std::max<qint64>(FConfig.Precision, 1);
}

bool TGroupClock::AddExchange(const TClockExchange &Exchange) {
    const TClockExchange &E = Exchange;
    if (!IsClockTime(E.T1) || !IsClockTime(E.T2) || !IsClockTime(E.T3) || !IsClockTime(E.T4))
        return false;
    if (E.T4 < E.T1 || E.T3 < E.T2 || E.RoundTrip() < 0 || E.RoundTrip() > FConfig.MaxRoundTrip)
        return false;
    // Replies may come back out of order; the window stays in local time order.
    auto At = std::upper_bound(
        FExchanges.begin(), FExchanges.end(), E.LocalMidpoint(),
        [](qint64 Mid, const TClockExchange &X) { return Mid < X.LocalMidpoint(); });
    FExchanges.insert(At, E);
    while (FExchanges.size() > FConfig.Window)
        FExchanges.removeFirst();
    ++FAccepted;
    Fit();
    return true;
}

void TGroupClock::Reset() {
    FExchanges.clear();
    FAccepted = 0;
    FReference = 0;
    FOffset = 0;
    FDrift = 0;
    FBestRoundTrip = 0;
}

void TGroupClock::Fit() {
    FBestRoundTrip = FExchanges.first().RoundTrip();
    for (const TClockExchange &E : FExchanges)
        FBestRoundTrip = std::min(FBestRoundTrip, E.RoundTrip());
    // An exchange's offset is wrong by at most half of what its round trip exceeds the
    // best one by: the weight falls with the square of that bound, so a delay spike of a
    // millisecond counts thousands of times less than a clean exchange.
    const auto Weight = [this](const TClockExchange &E) {
        const double Bound = double(E.RoundTrip() - FBestRoundTrip + FConfig.Precision);
        return 1.0 / (Bound * Bound);
    };

    // The line is written around the newest exchange, where it is used.
    FReference = FExchanges.last().LocalMidpoint();
    double SumW = 0, SumX = 0, SumY = 0;
    for (const TClockExchange &E : FExchanges) {
        const double W = Weight(E);
        SumW += W;
        SumX += W * double(E.LocalMidpoint() - FReference);
        SumY += W * E.Offset();
    }
    const double MeanX = SumX / SumW, MeanY = SumY / SumW;
    const qint64 Span = FExchanges.last().LocalMidpoint() - FExchanges.first().LocalMidpoint();
    if (FExchanges.size() >= 2 && Span >= FConfig.MinDriftSpan) {
        double Sxx = 0, Sxy = 0;
        for (const TClockExchange &E : FExchanges) {
            const double Dx = double(E.LocalMidpoint() - FReference) - MeanX;
            Sxx += Weight(E) * Dx * Dx;
            Sxy += Weight(E) * Dx * (E.Offset() - MeanY);
        }
        const double Slope = Sxx > 0 ? Sxy / Sxx : FDrift;
        // A slope beyond what clocks do is noise: the last drift stays.
        if (std::abs(Slope) <= FConfig.MaxDrift)
            FDrift = Slope;
    }
    FOffset = MeanY - FDrift * MeanX;
}

double TGroupClock::OffsetAt(qint64 LocalTime) const {
    return FOffset + FDrift * double(LocalTime - FReference);
}

qint64 TGroupClock::ToGroup(qint64 LocalTime) const {
    return LocalTime + std::llround(OffsetAt(LocalTime));
}

qint64 TGroupClock::ToLocal(qint64 GroupTime) const {
    // GroupTime = L + Offset + Drift * (L - Reference), solved for L.
    const double FromReference = (double(GroupTime - FReference) - FOffset) / (1.0 + FDrift);
    return FReference + std::llround(FromReference);
}
