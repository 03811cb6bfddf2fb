#include "GroupClock.h"
#include "SyncCorrector.h"

#include <QTest>

#include <cmath>
#include <random>

constexpr qint64 Ms = 1'000'000;

// A room's player: a sound card that runs Drift fast, a speed heard 200 ms after it is set.
struct TRoom {
    double Drift = 0, Position = 0, Speed = 1;
    qint64 Now = 0, Started = 0;
    QList<std::pair<qint64, double>> Heard;
    void Start(double From, qint64 At) { Position = From, Now = Started = At; }
    void RunTo(qint64 Time) {
        for (; Now < Time; Now += 10 * Ms) {
            while (!Heard.isEmpty() && Heard.first().first <= Now)
                Speed = Heard.takeFirst().second;
            Position += Speed * (1 + Drift) * 0.01;
        }
    }
};

class TestSyncCorrector : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void followsTheAnchor_data();
    void followsTheAnchor();
};

void TestSyncCorrector::followsTheAnchor_data() {
    QTest::addColumn<double>("cardDrift");
    QTest::addColumn<double>("clockDrift");
    QTest::addColumn<qint64>("late");     // the start, after the timer
    QTest::addColumn<qint64>("latency");  // the room's output
    QTest::addColumn<double>("glitchAt"); // seconds after the start, readings 40 ms off
    QTest::addColumn<int>("glitches");    // readings in a row
    QTest::addColumn<int>("reAnchors");

    QTest::newRow("card 200 ppm fast") << 200e-6 << 0.0 << 2 * Ms << 0ll << 0.0 << 0 << 0;
    QTest::newRow("card 200 ppm slow, leader 100 ppm fast")
        << -200e-6 << 100e-6 << -3 * Ms << 0ll << 0.0 << 0 << 0;
    QTest::newRow("start 350 ms late") << 200e-6 << 0.0 << 350 * Ms << 0ll << 0.0 << 0 << 1;
    QTest::newRow("a glitch as the filter starts") << 200e-6 << 0.0 << Ms << 0ll << 2.95 << 1 << 0;
    QTest::newRow("four glitches and a jump") << 200e-6 << 0.0 << Ms << 0ll << 30.25 << 4 << 0;
    QTest::newRow("30 ms output latency") << -150e-6 << 0.0 << Ms << 30 * Ms << 0.0 << 0 << 0;
}

// Readings every 100 ms for 60 s, with jitter, a jump of 2-6 ms every 17th, and off by up to
// 25 ms for 3 s after each start: from 25 s after the last start on, the room plays within
// 1 ms of the anchor, and the learnt trim makes up for both clocks.
void TestSyncCorrector::followsTheAnchor() {
    QFETCH(double, cardDrift);
    QFETCH(double, clockDrift);
    QFETCH(qint64, late);
    QFETCH(qint64, latency);
    QFETCH(double, glitchAt);
    QFETCH(int, glitches);
    QFETCH(int, reAnchors);
    const auto Group = [&](qint64 Local) { return Local + qint64(clockDrift * double(Local)); };
    TGroupClock Clock; // known well: its own test covers how well it gets known
    for (qint64 T = 1000'000 * Ms; T <= 1020'000 * Ms; T += 1000 * Ms)
        Clock.AddExchange({T, Group(T), Group(T), T});
    TSyncCorrector Corrector(Clock);
    Corrector.SetLatency(latency);
    const TSyncAnchor Anchor{Group(1020'500 * Ms), 12.5};
    Corrector.SetAnchor(Anchor);
    qint64 StartAt = Corrector.LocalTimeOf(Anchor.Position);
    TRoom Room;
    Room.Drift = cardDrift;
    Room.Start(Anchor.Position, StartAt + late);
    Corrector.Started(StartAt);

    std::mt19937_64 Random(7);
    const auto Uniform = [&Random] { return double(Random() >> 11) / double(1ull << 53); };
    int Seen = 0, Readings = 0;
    double Worst = 0;
    qint64 SettledAt = 0;
    const qint64 End = StartAt + 60'000 * Ms;
    for (qint64 T = Room.Now + 100 * Ms; T < End; T += 100 * Ms) {
        Room.RunTo(T);
        const double Since = double(T - Room.Started) / 1e9;
        const double Pts = Room.Position + (Uniform() - 0.5) * 2e-4 +
                           (++Readings % 17 == 0 ? 0.002 + Uniform() * 0.004 : 0) +
                           (Since >= glitchAt && Since < glitchAt + 0.1 * glitches ? 0.04 : 0) +
                           (Since < 3 ? 0.025 * (1 - Since / 3) : 0);
        const TSyncCorrector::TAction Action = Corrector.AddReading({T, Pts});
        QVERIFY(std::abs(Action.Speed - 1) <= 0.005 + 1e-12);
        Room.Heard.append({T + 200 * Ms, Action.Speed});
        if (Action.ReAnchor) {
            ++Seen, StartAt = T + 500 * Ms, T = StartAt + Ms;
            Room.Start(Corrector.PositionAt(StartAt), T);
            Corrector.Started(StartAt);
            continue;
        }
        const double Error = std::abs(Room.Position - Anchor.Position - double(latency) / 1e9 -
                                      double(Group(T) - Anchor.GroupTime) / 1e9);
        SettledAt = Error >= 0.001 ? T - StartAt : SettledAt;
        Worst = T - StartAt >= 25'000 * Ms ? std::max(Worst, Error) : Worst;
    }
    qInfo("within 1 ms after %.1f s; worst error after 25 s %.3f ms; learnt trim %.1f ppm",
          double(SettledAt) / 1e9, Worst * 1e3, Corrector.LearnedTrim() * 1e6);
    QCOMPARE(Seen, reAnchors);
    QVERIFY2(SettledAt < 25'000 * Ms, qPrintable(QString::number(SettledAt)));
    QVERIFY(std::abs((1 + Corrector.LearnedTrim()) * (1 + cardDrift) - (1 + clockDrift)) < 20e-6);
}

QTEST_APPLESS_MAIN(TestSyncCorrector)
#include "tst_synccorrector.moc"
