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
    double CardDrift = 0;
    qint64 Now = 1000'000 * Ms;
    double Position = 0, Speed = 1;
    QList<std::pair<qint64, double>> Written; // heard at, speed
    qint64 StartAt = 0, StartedAt = 0;
    bool Playing = false, Starting = false;
    int Readings = 0;
    std::mt19937_64 Random{7};

    double Uniform() { return double(Random() >> 11) / double(qint64(1) << 53); }
    void Step() {
        Now += Tick;
        if (Playing)
            Position += Speed * (1 + CardDrift) * double(Tick) / 1e9;
        while (!Written.isEmpty() && Now >= Written.first().first)
            Speed = Written.takeFirst().second;
        if (Starting && Now >= StartAt) {
            Playing = true, Starting = false, StartedAt = Now;
            Position += Speed * (1 + CardDrift) * double(Now - StartAt) / 1e9;
        }
    }
    void WriteSpeed(double Value) { Written.append({Now + 200 * Ms, Value}); }
    // Loaded paused at From, unpaused at At (Late after the timer fired).
    void StartAt_(double From, qint64 At, qint64 Late) {
        Playing = false, Starting = true, Position = From, StartAt = At + Late;
    }
    double Reading(qint64 GlitchAt) {
        double Pts = Position + (Uniform() - 0.5) * 0.0002;
        if (++Readings % 17 == 0)
            Pts += 0.002 + Uniform() * 0.004;
        if (Readings == GlitchAt)
            Pts += 0.040;
        const double Since = double(Now - StartedAt) / 1e9;
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
    QTest::addColumn<int>("glitchAt"); // reading with a 40 ms jump, 0: none
    QTest::addColumn<int>("reAnchors");

    QTest::newRow("card 200 ppm fast") << 200e-6 << 0.0 << 2 * Ms << qint64(0) << 0 << 0;
    QTest::newRow("card 200 ppm slow, leader 100 ppm fast")
        << -200e-6 << 100e-6 << -3 * Ms << qint64(0) << 0 << 0;
    QTest::newRow("start 350 ms late") << 200e-6 << 0.0 << 350 * Ms << qint64(0) << 0 << 1;
    QTest::newRow("one 40 ms glitch") << 200e-6 << 0.0 << 1 * Ms << qint64(0) << 300 << 0;
    QTest::newRow("30 ms output latency") << -150e-6 << 0.0 << 1 * Ms << 30 * Ms << 0 << 0;
}

// Readings every 100 ms for 60 s: from 25 s after the last start on, the room plays
// within 1 ms of the group's anchor.
void TestSyncCorrector::followsTheAnchor() {
    QFETCH(double, cardDrift);
    QFETCH(double, clockDrift);
    QFETCH(qint64, lateStart);
    QFETCH(qint64, latency);
    QFETCH(int, glitchAt);
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
    Room.StartAt_(Anchor.Position, StartAt, lateStart);
    Corrector.Started(StartAt);

    int Seen = 0;
    double Worst = 0;
    qint64 SettledAt = 0;
    for (int I = 0; I < 6000; ++I) {
        Room.Step();
        if (!Room.Playing || I % 10 != 0)
            continue;
        const TSyncCorrector::TAction Action =
            Corrector.AddReading({Room.Now, Room.Reading(glitchAt)});
        Room.WriteSpeed(Action.Speed);
        QVERIFY(std::abs(Action.Speed - 1) <= 0.005);
        if (Action.ReAnchor) {
            ++Seen;
            StartAt = Room.Now + 500 * Ms;
            Room.StartAt_(Corrector.PositionAt(StartAt), StartAt, Ms);
            Corrector.Started(StartAt);
            continue;
        }
        const double Expected = Anchor.Position + double(Group(Room.Now) - Anchor.GroupTime) / 1e9;
        const double Error = std::abs(Room.Position - Expected - double(latency) / 1e9);
        if (Error >= 0.001)
            SettledAt = Room.Now - StartAt;
        if (Room.Now - StartAt >= 25'000 * Ms)
            Worst = std::max(Worst, Error);
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
