#include "GroupClock.h"
#include "RoomSync.h"
#include "SyncCorrector.h"

#include <QTest>

#include <random>

constexpr qint64 Ms = 1'000'000, Us = 1'000;

namespace {

// Uniform in [0, 1), the same sequence on every run.
struct TUniform {
    std::mt19937_64 Engine;
    double operator()() { return double(Engine() >> 11) / double(1ull << 53); }
};

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

} // namespace

class TestGroupClock : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void converges_data() {
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<double>("drift");
        QTest::addColumn<double>("spikes"); // share of trips 1-6 ms late, each way
        QTest::newRow("+200 ppm") << 5000 * Ms << 200e-6 << 0.0;
        QTest::newRow("-200 ppm, leader booted later") << -900'000 * Ms << -200e-6 << 0.0;
        QTest::newRow("+200 ppm, spikes") << 77 * Ms << 200e-6 << 0.2;
        QTest::newRow("-200 ppm, many spikes") << 77 * Ms << -200e-6 << 0.35;
    }

    // A burst of eight when joining, then one a second for two minutes, over a link of 115 us
    // each way with 200 us jitter: synced after the burst, and from 30 s on the group time read
    // between two exchanges is right within 50 us.
    void converges() {
        QFETCH(qint64, offset);
        QFETCH(double, drift);
        QFETCH(double, spikes);
        TUniform Uniform{std::mt19937_64(24)};
        const auto Delay = [&] {
            const qint64 D = 115 * Us + qint64(Uniform() * double(200 * Us));
            return Uniform() < spikes ? D + Ms + qint64(Uniform() * 5e6) : D;
        };
        const auto Group = [&](qint64 Local) {
            return Local + offset + qint64(drift * double(Local));
        };
        TGroupClock Clock;
        const qint64 Start = 3600'000 * Ms;
        qint64 T1 = Start, SettledAt = 0;
        for (int I = 0; I < 128; ++I) {
            T1 += I < 8 ? 20 * Ms : 1000 * Ms;
            const qint64 Arrive = T1 + Delay(), Leave = Arrive + 20 * Us;
            QVERIFY(Clock.AddExchange({T1, Group(Arrive), Group(Leave), Leave + Delay()}));
            QCOMPARE(Clock.IsSynced(), I >= 7);
            const qint64 Local = T1 + 500 * Ms;
            QVERIFY(qAbs(Clock.ToLocal(Clock.ToGroup(Local)) - Local) <= 1);
            SettledAt =
                qAbs(Clock.ToGroup(Local) - Group(Local)) >= 50 * Us ? T1 - Start : SettledAt;
        }
        QCOMPARE_LT(SettledAt, 30'000 * Ms);
        QVERIFY(qAbs(Clock.Drift() - drift) < 5e-6);
    }

    void refusesImpossibleExchanges_data() {
        QTest::addColumn<QList<qint64>>("times"); // T1-T4
        QTest::addColumn<bool>("accepted");
        const qint64 Huge = std::numeric_limits<qint64>::max();
        QTest::newRow("ordinary") << QList<qint64>{10 * Ms, 50 * Ms, 50 * Ms, 11 * Ms} << true;
        QTest::newRow("reply before request")
            << QList<qint64>{10 * Ms, 50 * Ms, 50 * Ms, 9 * Ms} << false;
        QTest::newRow("sent before received")
            << QList<qint64>{10 * Ms, 50 * Ms, 49 * Ms, 11 * Ms} << false;
        QTest::newRow("round trip too slow")
            << QList<qint64>{10 * Ms, 50 * Ms, 50 * Ms, 900 * Ms} << false;
        QTest::newRow("would overflow") << QList<qint64>{10 * Ms, Huge - 5, Huge, 11 * Ms} << false;
    }

    void refusesImpossibleExchanges() {
        QFETCH(QList<qint64>, times);
        QFETCH(bool, accepted);
        TGroupClock Clock;
        QCOMPARE(Clock.AddExchange({times[0], times[1], times[2], times[3]}), accepted);
        QCOMPARE(Clock.OffsetAt(times[0]), accepted ? 39.5 * double(Ms) : 0.0);
    }

    void correctorFollowsTheAnchor_data() {
        QTest::addColumn<double>("cardDrift");
        QTest::addColumn<double>("clockDrift");
        QTest::addColumn<qint64>("late");     // the start, after the timer
        QTest::addColumn<qint64>("latency");  // the room's output
        QTest::addColumn<double>("glitchAt"); // seconds after the start, readings 40 ms off
        QTest::addColumn<int>("glitches");    // readings in a row; negative: on alternating sides
        QTest::addColumn<int>("reAnchors");
        QTest::addColumn<double>("step");   // the sound jumps 30 s on (seconds, ahead positive)
        QTest::addColumn<int>("settledBy"); // seconds after the first start, within 1 ms
        QTest::newRow("card 200 ppm fast")
            << 200e-6 << 0.0 << 2 * Ms << 0ll << 0.0 << 0 << 0 << 0.0 << 25;
        QTest::newRow("card 200 ppm slow, leader 100 ppm fast")
            << -200e-6 << 100e-6 << -3 * Ms << 0ll << 0.0 << 0 << 0 << 0.0 << 25;
        QTest::newRow("start 350 ms late")
            << 200e-6 << 0.0 << 350 * Ms << 0ll << 0.0 << 0 << 1 << 0.0 << 25;
        QTest::newRow("a glitch as the filter starts")
            << 200e-6 << 0.0 << Ms << 0ll << 2.95 << 1 << 0 << 0.0 << 25;
        QTest::newRow("four glitches and a jump")
            << 200e-6 << 0.0 << Ms << 0ll << 30.25 << 4 << 0 << 0.0 << 25;
        QTest::newRow("five glitches")
            << 200e-6 << 0.0 << Ms << 0ll << 30.25 << 5 << 1 << 0.0 << 31;
        QTest::newRow("five glitches, alternating sides")
            << 200e-6 << 0.0 << Ms << 0ll << 30.25 << -5 << 0 << 0.0 << 25;
        QTest::newRow("30 ms output latency")
            << -150e-6 << 0.0 << Ms << 30 * Ms << 0.0 << 0 << 0 << 0.0 << 25;
        // Underruns: the sound skips or stalls. Made up at the speed limit, or re-anchored as
        // soon as a few readings agree, not once the median turns.
        QTest::newRow("an 8 ms stall")
            << 200e-6 << 0.0 << Ms << 0ll << 0.0 << 0 << 0 << -0.008 << 34;
        QTest::newRow("a 250 ms skip") << 200e-6 << 0.0 << Ms << 0ll << 0.0 << 0 << 1 << 0.25 << 31;
        // What the loop learnt and what it trims add up to no more than the speed limit.
        QTest::newRow("a card 0.46 % slow, a 1.5 ms stall")
            << -4.6e-3 << 0.0 << Ms << 0ll << 0.0 << 0 << 0 << -0.0015 << 60;
    }

    // The room's loop with its gains on libmpv. Readings every 100 ms for 60 s, with jitter, a
    // jump of 2-6 ms every 17th, and off by up to 25 ms for 3 s after each start: from
    // settledBy on, the room plays within 1 ms of the anchor, and the learnt trim makes up for
    // both clocks.
    void correctorFollowsTheAnchor() {
        QFETCH(double, cardDrift);
        QFETCH(double, clockDrift);
        QFETCH(qint64, late);
        QFETCH(qint64, latency);
        QFETCH(double, glitchAt);
        QFETCH(int, glitches);
        QFETCH(int, reAnchors);
        QFETCH(double, step);
        QFETCH(int, settledBy);
        const auto Group = [&](qint64 Local) { return Local + qint64(clockDrift * double(Local)); };
        TGroupClock Clock; // known well: converges() covers how well it gets known
        for (qint64 T = 1000'000 * Ms; T <= 1020'000 * Ms; T += 1000 * Ms)
            Clock.AddExchange({T, Group(T), Group(T), T});
        TSyncCorrector Corrector(Clock, TRoomSync::CorrectorConfig());
        Corrector.SetLatency(latency);
        const TSyncAnchor Anchor{Group(1020'500 * Ms), 12.5};
        Corrector.SetAnchor(Anchor);
        qint64 StartAt = Corrector.LocalTimeOf(Anchor.Position), SettledAt = 0;
        const qint64 First = StartAt;
        TRoom Room;
        Room.Drift = cardDrift;
        Room.Start(Anchor.Position, StartAt + late);
        Corrector.Started(StartAt);
        TUniform Uniform{std::mt19937_64(7)};
        int Seen = 0, Readings = 0;
        for (qint64 T = Room.Now + 100 * Ms; T < First + 60'000 * Ms; T += 100 * Ms) {
            Room.RunTo(T);
            if (T - First >= 30'000 * Ms)
                Room.Position += std::exchange(step, 0);
            const double Since = double(T - Room.Started) / 1e9;
            const double Glitch = glitches < 0 && ++Readings % 2 != 0 ? -0.04 : 0.04;
            Readings += glitches < 0 ? 0 : 1;
            const double Pts =
                Room.Position + (Uniform() - 0.5) * 2e-4 +
                (Readings % 17 == 0 ? 0.002 + Uniform() * 0.004 : 0) +
                (Since >= glitchAt && Since < glitchAt + 0.1 * std::abs(glitches) ? Glitch : 0) +
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
            SettledAt = Error >= 0.001 ? T - First : SettledAt;
        }
        QCOMPARE(Seen, reAnchors);
        QCOMPARE_LT(SettledAt, settledBy * 1000 * Ms);
        // Near the limit the speed often runs at it, where the integral stops learning.
        if (std::abs(cardDrift - clockDrift) < 0.004)
            QVERIFY(std::abs((1 + Corrector.LearnedTrim()) * (1 + cardDrift) - (1 + clockDrift)) <
                    20e-6);
    }
};

QTEST_APPLESS_MAIN(TestGroupClock)
#include "tst_groupclock.moc"
