#include "SyncCorrector.h"

#include "GroupClock.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double NsPerSecond = 1e9;

// A gap between readings longer than this (the loop was held up) counts as this long, so
// one late reading cannot swing the learnt trim.
constexpr qint64 MaxStep = 1'000'000'000;

double Median(QList<double> Values) {
    const qsizetype Mid = Values.size() / 2;
    std::nth_element(Values.begin(), Values.begin() + Mid, Values.end());
    if (Values.size() % 2 != 0)
        return Values[Mid];
    const double Upper = Values[Mid];
    return (*std::max_element(Values.begin(), Values.begin() + Mid) + Upper) / 2;
}

} // namespace

TSyncCorrector::TSyncCorrector(const TGroupClock &Clock, const TConfig &Config)
    : FClock(Clock), FConfig(Config) {
    FConfig.MedianOf = std::max(FConfig.MedianOf, 1);
    FConfig.ReAnchorReadings = std::max(FConfig.ReAnchorReadings, 1);
}

void TSyncCorrector::SetAnchor(const TSyncAnchor &Anchor) {
    FAnchor = Anchor;
    FStarted = false;
    FCorrecting = false;
}

void TSyncCorrector::Started(qint64 LocalTime) {
    FStarted = true;
    FCorrecting = false;
    FStartedAt = LocalTime;
    FErrors.clear();
    FError = 0;
    FFarReadings = FFarRaw = 0;
    FSlew = 0;
    FQuietUntil = 0;
}

void TSyncCorrector::Rebase(const TSyncAnchor &Anchor) {
    FAnchor = Anchor;
    FErrors.clear();
    FFarReadings = FFarRaw = 0;
}

double TSyncCorrector::PositionAt(qint64 LocalTime) const {
    const qint64 SinceAnchor = FClock.ToGroup(LocalTime) - FAnchor.GroupTime + FLatency;
    return FAnchor.Position + double(SinceAnchor) / NsPerSecond;
}

qint64 TSyncCorrector::LocalTimeOf(double Position) const {
    const double Ahead = (Position - FAnchor.Position) * NsPerSecond;
    return FClock.ToLocal(FAnchor.GroupTime + std::llround(Ahead) - FLatency);
}

double TSyncCorrector::Trim(double Proportional) const {
    return std::clamp(Proportional + FIntegral, -FConfig.MaxTrim, FConfig.MaxTrim);
}

TSyncCorrector::TAction TSyncCorrector::StartSlew(qint64 LocalTime, double Error) {
    const double Limit = Error > 0 ? -FConfig.MaxTrim : FConfig.MaxTrim;
    const double Slew = Limit - FIntegral;
    if (std::abs(Slew) < FConfig.MaxTrim / 10)
        return {1 + Trim(0), false}; // the learnt trim holds the limit already
    FSlew = Slew;
    FSlewUntil = LocalTime + std::llround(std::abs(Error / Slew) * NsPerSecond);
    return {1 + Trim(FSlew), false};
}

TSyncCorrector::TAction TSyncCorrector::AddReading(const TPlayReading &Reading) {
    TAction Hold{1 + Trim(FSlew != 0 ? FSlew : FCorrecting ? -FConfig.Gain * FError : 0), false};
    if (!FStarted || !std::isfinite(Reading.AudioPts))
        return Hold;
    // Right after a start the player's position is off by milliseconds for a while; the
    // learnt trim alone drives the speed until it settles.
    if (!FCorrecting) {
        if (Reading.LocalTime - FStartedAt < FConfig.SettleTime)
            return Hold;
        FCorrecting = true;
        FLastCorrection = Reading.LocalTime;
    }
    if (FSlew != 0) {
        if (Reading.LocalTime < FSlewUntil)
            return {1 + Trim(FSlew), false};
        // Made up. The readings before it say nothing of now, and the next few are off while
        // the player takes the speed back.
        FSlew = 0;
        FQuietUntil = FSlewUntil + FConfig.QuietTime;
        FErrors.clear();
        FError = 0;
    }
    if (Reading.LocalTime < FQuietUntil) {
        FLastCorrection = Reading.LocalTime;
        return {1 + Trim(0), false};
    }

    const double Raw = Reading.AudioPts - PositionAt(Reading.LocalTime);
    FErrors.append(Raw);
    if (FErrors.size() > FConfig.MedianOf)
        FErrors.removeFirst();
    FError = Median(FErrors);

    // A jump the readings agree on (an underrun that skipped or repeated sound) is known as
    // soon as a few of them are in, long before the median turns.
    const bool Far = std::abs(Raw) > FConfig.ReAnchorError;
    const bool SameSide = FErrors.size() < 2 || (Raw > 0) == (FErrors[FErrors.size() - 2] > 0);
    FFarRaw = Far ? (SameSide ? FFarRaw + 1 : 1) : 0;
    FFarReadings = std::abs(FError) > FConfig.ReAnchorError ? FFarReadings + 1 : 0;
    if (FFarReadings >= FConfig.ReAnchorReadings || FFarRaw >= FConfig.ReAnchorReadings) {
        // Too far to trim back in reasonable time; the next start begins afresh.
        FStarted = FCorrecting = false;
        FFarReadings = FFarRaw = 0;
        return {1 + Trim(0), true};
    }
    // Only on a full window: on real audio the readings can stay a few milliseconds off for a
    // while after a start, and a slew would make that error real. The latest readings say how
    // far a step went; the median can still hold a reading from before it.
    if (FErrors.size() == FConfig.MedianOf && std::abs(FError) > FConfig.SlewError) {
        const double Recent = Median(FErrors.mid(FErrors.size() - FConfig.ReAnchorReadings));
        if (std::abs(Recent) > FConfig.SlewError && std::abs(Recent) <= FConfig.ReAnchorError &&
            (Recent > 0) == (FError > 0))
            return StartSlew(Reading.LocalTime, Recent);
    }

    const double Step =
        double(std::clamp<qint64>(Reading.LocalTime - FLastCorrection, 0, MaxStep)) / NsPerSecond;
    FLastCorrection = Reading.LocalTime;
    const double Proportional = -FConfig.Gain * FError;
    const double Learn = -FConfig.IntegralGain * FError * Step;
    // While the speed is at its limit the integral learns only what brings it back.
    const double Unclamped = Proportional + FIntegral;
    if (std::abs(Unclamped) < FConfig.MaxTrim || (Unclamped > 0) != (Learn > 0))
        FIntegral = std::clamp(FIntegral + Learn, -FConfig.MaxTrim, FConfig.MaxTrim);
    return {1 + Trim(Proportional), false};
}
