#pragma once

#include <QList>
#include <QtGlobal>

class TGroupClock;

// The media position Position (seconds) plays at group time GroupTime (nanoseconds); from
// there the track runs at normal speed.
struct TSyncAnchor {
    qint64 GroupTime = 0;
    double Position = 0;
};

// What the room's player said at local time LocalTime (nanoseconds): the position it is
// sending to the sound card now (seconds; NaN when it has none).
struct TPlayReading {
    qint64 LocalTime = 0;
    double AudioPts = 0;
};

// Keeps one room on the group's anchor: compares the room's readings with where the anchor
// says the track should be, and answers with a playback speed a few per mille off normal.
// A PI controller turns the filtered error into the speed; its integral learns how fast
// this room's sound card runs against the group clock, and survives re-anchors. The error
// is the median over the last readings (a reading now and then jumps by a few
// milliseconds), readings right after a start or seek are ignored (they are off for
// seconds), and an error past the threshold over several readings asks for a re-anchor:
// pause, seek and start again at a time. A step of a few milliseconds (an underrun, a start
// that landed off) is made up at the speed limit for as long as it takes, not trimmed away
// over many seconds. The class has no clock of its own.
class TSyncCorrector {
public:
    struct TConfig {
        double MaxTrim = 0.005;     // speed stays within 1 +- this
        double Gain = 0.8;          // trim per second of error
        double IntegralGain = 0.16; // trim per second of error and second of time
        int MedianOf = 15;          // readings
        qint64 SettleTime = 3'000'000'000;
        double ReAnchorError = 0.020; // seconds
        int ReAnchorReadings = 5;     // in a row, each filtered, or each as read
        // Past this filtered error (seconds) the speed runs at its limit until the error is
        // made up, then readings wait QuietTime for the player to take the speed back.
        double SlewError = 0.002;
        qint64 QuietTime = 500'000'000;
    };
    struct TAction {
        double Speed = 1; // to write to the player
        bool ReAnchor = false;
    };

    explicit TSyncCorrector(const TGroupClock &Clock) : TSyncCorrector(Clock, TConfig{}) {}
    TSyncCorrector(const TGroupClock &Clock, const TConfig &Config);

    // The room's output latency (amplifier, wireless speaker): it plays this far ahead.
    void SetLatency(qint64 Nanoseconds) { FLatency = Nanoseconds; }
    void SetAnchor(const TSyncAnchor &Anchor);
    // The room started playing from the anchor (or was seeked) at LocalTime.
    void Started(qint64 LocalTime);
    // The room went on into the next track without a break: the same line in that track's
    // positions. Corrections go on; the readings of the track before no longer count.
    void Rebase(const TSyncAnchor &Anchor);

    // The position the room should send to its sound card at LocalTime.
    double PositionAt(qint64 LocalTime) const;
    // The local time at which the room should send Position.
    qint64 LocalTimeOf(double Position) const;

    // Takes one reading while playing; the answer holds until the next one.
    TAction AddReading(const TPlayReading &Reading);

    // Filtered error in seconds, ahead positive; 0 until readings count.
    double Error() const { return FError; }
    // The speed trim that holds this room on the group clock, learnt so far.
    double LearnedTrim() const { return FIntegral; }
    // Whether the last start is settled and corrections run.
    bool IsCorrecting() const { return FCorrecting; }

private:
    double Trim(double Proportional) const;
    // Runs the trim at its limit against Error until the error is made up.
    TAction StartSlew(qint64 LocalTime, double Error);

    const TGroupClock &FClock;
    TConfig FConfig;
    TSyncAnchor FAnchor;
    qint64 FLatency = 0;
    qint64 FStartedAt = 0;
    bool FStarted = false;
    bool FCorrecting = false;
    QList<double> FErrors; // newest last, at most MedianOf
    double FError = 0;
    double FIntegral = 0;
    qint64 FLastCorrection = 0;
    int FFarReadings = 0;
    int FFarRaw = 0;        // readings in a row past the re-anchor error, one side, unfiltered
    double FSlew = 0;       // added to the trim while slewing
    qint64 FSlewUntil = 0;  // local time the slew ends
    qint64 FQuietUntil = 0; // readings before this are not used
};
