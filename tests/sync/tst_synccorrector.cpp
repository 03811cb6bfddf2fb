#include "GroupClock.h"
#include "SyncCorrector.h"

#include <QTest>

#include <cmath>
#include <random>

namespace {

constexpr qint64 Ms = 1'000'000, Tick = 10 * Ms;

// A room's player as the correction loop sees it: a sound card that runs CardDrift fast,
// a speed change heard 200 ms after it is written, readings with jitter, a jump of 2-6 ms
// every so often, and off by up to 25 ms for 3 s after each start.
struct TScriptedRoom {
    double CardDrift = 0, Position = 0, Speed = 1;
    qint64 Now = 1000'000 * Ms, StartAt = 0, StartedAt = -1;
    QList<std::pair<qint64, double>> Written; // heard at, speed
    int Readings = 0;
    std::mt19937_64 Random{7};

    bool Playing() const { return StartedAt >= 0; }
    double Uniform() { return double(Random() >> 11) / double(1ull << 53); }
    void Step() {
        Now += Tick;
        while (!Written.isEmpty() && Now >= Written.first().first)
            Speed = Written.takeFirst().second;
        if (!Playing() && Now >= StartAt)
            StartedAt = Now,
            Position -= Speed * (1 + CardDrift) * double(Tick - (Now - StartAt)) / 1e9;
        if (Playing())
            Position += Speed * (1 + CardDrift) * double(Tick) / 1e9;
    }
    // Loaded paused at From, unpaused Late after a timer fired at At.
    void Start(double From, qint64 At, qint64 Late) {
        Position = From, StartAt = At + Late, StartedAt = -1;
    }
    double Reading(double GlitchAt, int Glitches) {
        const double Since = double(Now - StartedAt) / 1e9;
        double Pts = Position + (Uniform() - 0.5) * 0.0002;
        if (++Readings % 17 == 0)
            Pts += 0.002 + Uniform() * 0.004;
        if (Since >= GlitchAt && Since < GlitchAt + 0.1 * Glitches)
            Pts += 0.040;
        return Since < 3 ? Pts + 0.025 * (1 - Since / 3) : Pts;
    }
};

} // namespace

class TestSyncCorrector : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void followsTheAnchor_data();
    void followsTheAnchor();
};

void TestSyncCorrector::followsTheAnchor_data() {
    QTest::addColumn<double>("cardDrift");
    QTest::addColumn<double>("clockDrift");
    QTest::addColumn<qint64>("lateStart");
    QTest::addColumn<qint64>("latency");
    QTest::addColumn<double>("glitchAt"); // seconds after the start, readings 40 ms off
    QTest::addColumn<int>("glitches");    // readings in a row
    QTest::addColumn<int>("reAnchors");

    const qint64 None = 0;
    QTest::newRow("card 200 ppm fast") << 200e-6 << 0.0 << 2 * Ms << None << 0.0 << 0 << 0;
    QTest::newRow("card 200 ppm slow, leader 100 ppm fast")
        << -200e-6 << 100e-6 << -3 * Ms << None << 0.0 << 0 << 0;
    QTest::newRow("start 350 ms late") << 200e-6 << 0.0 << 350 * Ms << None << 0.0 << 0 << 1;
    QTest::newRow("a glitch as the filter starts")
        << 200e-6 << 0.0 << 1 * Ms << None << 2.95 << 1 << 0;
    QTest::newRow("four glitches in a row") << 200e-6 << 0.0 << Ms << None << 30.0 << 4 << 0;
    QTest::newRow("30 ms output latency") << -150e-6 << 0.0 << Ms << 30 * Ms << 0.0 << 0 << 0;
}

// Readings every 100 ms for 60 s: from 25 s after the last start on, the room plays
// within 1 ms of the group's anchor.
void TestSyncCorrector::followsTheAnchor() {
    QFETCH(double, cardDrift);
    QFETCH(double, clockDrift);
    QFETCH(qint64, lateStart);
    QFETCH(qint64, latency);
    QFETCH(double, glitchAt);
    QFETCH(int, glitches);
    QFETCH(int, reAnchors);
    TScriptedRoom Room;
    Room.CardDrift = cardDrift;
    const auto Group = [clockDrift](qint64 Local) {
        return 4000 * Ms + Local + qint64(clockDrift * double(Local));
    };
    // The clock is known well: its own test covers how well it gets known.
    TGroupClock Clock;
    for (qint64 T = Room.Now - 20'000 * Ms; T <= Room.Now; T += 1000 * Ms)
        Clock.AddExchange({T, Group(T), Group(T), T});

    TSyncCorrector Corrector(Clock);
    Corrector.SetLatency(latency);
    const TSyncAnchor Anchor{Group(Room.Now) + 500 * Ms, 12.5};
    Corrector.SetAnchor(Anchor);
    qint64 StartAt = Corrector.LocalTimeOf(Anchor.Position);
    Room.Start(Anchor.Position, StartAt, lateStart);
    Corrector.Started(StartAt);

    int Seen = 0;
    double Worst = 0;
    qint64 SettledAt = 0;
    for (int I = 0; I < 6000; ++I) {
        Room.Step();
        if (!Room.Playing() || I % 10 != 0)
            continue;
        const TSyncCorrector::TAction Action =
            Corrector.AddReading({Room.Now, Room.Reading(glitchAt, glitches)});
        Room.Written.append({Room.Now + 200 * Ms, Action.Speed});
        QVERIFY(std::abs(Action.Speed - 1) <= 0.005 + 1e-12);
        if (Action.ReAnchor) {
            ++Seen;
            StartAt = Room.Now + 500 * Ms;
            Room.Start(Corrector.PositionAt(StartAt), StartAt, Ms);
            Corrector.Started(StartAt);
            continue;
        }
        const double Expected = Anchor.Position + double(Group(Room.Now) - Anchor.GroupTime) / 1e9;
        const double Error = std::abs(Room.Position - Expected - double(latency) / 1e9);
        SettledAt = Error >= 0.001 ? Room.Now - StartAt : SettledAt;
        Worst = Room.Now - StartAt >= 25'000 * Ms ? std::max(Worst, Error) : Worst;
    }
    qInfo("within 1 ms after %.1f s; worst error after 25 s %.3f ms; learnt trim %.1f ppm",
          double(SettledAt) / 1e9, Worst * 1e3, Corrector.LearnedTrim() * 1e6);
    QCOMPARE(Seen, reAnchors);
    QVERIFY2(SettledAt < 25'000 * Ms, qPrintable(QString::number(SettledAt)));
    // The trim makes up for both clocks: the card's and the leader's.
    QVERIFY(std::abs((1 + Corrector.LearnedTrim()) * (1 + cardDrift) - (1 + clockDrift)) < 20e-6);
}

QTEST_APPLESS_MAIN(TestSyncCorrector)
#include "tst_synccorrector.moc"
