#include "GroupClock.h"

#include <QTest>

#include <random>

namespace {

constexpr qint64 Ms = 1'000'000, Us = 1'000;

// A link between a follower and a leader whose clock runs Drift faster, Offset ahead, with
// a fixed delay each way, uniform jitter up to Jitter and, now and then, a delay spike on
// one way only.
struct TLink {
    qint64 Offset = 0;
    double Drift = 0;
    qint64 Jitter = 0;
    double SpikeShare = 0; // of the trips, each way
    qint64 Base = 115 * Us;
    std::mt19937_64 Random{24};

    qint64 Group(qint64 Local) const { return Local + Offset + qint64(Drift * double(Local)); }
    double Uniform() { return double(Random() >> 11) / double(qint64(1) << 53); }
    qint64 Delay() {
        qint64 D = Base + qint64(Uniform() * double(Jitter));
        if (Uniform() < SpikeShare)
            D += Ms + qint64(Uniform() * 5.0 * double(Ms));
        return D;
    }
    TClockExchange Exchange(qint64 T1) {
        const qint64 Arrive = T1 + Delay(), Leave = Arrive + 20 * Us;
        return {T1, Group(Arrive), Group(Leave), Leave + Delay()};
    }
};

} // namespace

class TestGroupClock : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void converges_data();
    void converges();
    void refusesImpossibleExchanges_data();
    void refusesImpossibleExchanges();
};

void TestGroupClock::converges_data() {
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<double>("drift");
    QTest::addColumn<qint64>("jitter");
    QTest::addColumn<double>("spikes");

    QTest::newRow("fixed offset, quiet link") << 5000 * Ms << 0.0 << qint64(0) << 0.0;
    QTest::newRow("leader booted later") << -900'000 * Ms << 0.0 << 200 * Us << 0.0;
    QTest::newRow("+200 ppm, 0.2 ms jitter") << 5000 * Ms << 200e-6 << 200 * Us << 0.0;
    QTest::newRow("-200 ppm, 0.2 ms jitter") << 5000 * Ms << -200e-6 << 200 * Us << 0.0;
    QTest::newRow("+200 ppm, jitter, spikes") << 77 * Ms << 200e-6 << 200 * Us << 0.2;
    QTest::newRow("-200 ppm, jitter, many spikes") << 77 * Ms << -200e-6 << 200 * Us << 0.35;
}

// A burst of eight when joining, then one a second for two minutes: synced after the
// burst, and from 30 s on the group time is right within 50 us.
void TestGroupClock::converges() {
    QFETCH(qint64, offset);
    QFETCH(double, drift);
    QFETCH(qint64, jitter);
    QFETCH(double, spikes);
    TLink Link{offset, drift, jitter, spikes};
    TGroupClock Clock;

    const qint64 Start = 3600'000 * Ms;
    qint64 Now = Start, SettledAt = 0, WorstLate = 0;
    for (int I = 0; I < 128; ++I) {
        Now += I < 8 ? 20 * Ms : 1000 * Ms;
        const TClockExchange E = Link.Exchange(Now);
        QVERIFY(Clock.AddExchange(E));
        QCOMPARE(Clock.IsSynced(), I >= 7);
        // Read between two exchanges, where it is used.
        const qint64 Local = E.T4 + 500 * Ms;
        const qint64 Error = qAbs(Clock.ToGroup(Local) - Link.Group(Local));
        QVERIFY(qAbs(Clock.ToLocal(Clock.ToGroup(Local)) - Local) <= 1);
        if (Error >= 50 * Us)
            SettledAt = Now - Start;
        if (Now - Start >= 30'000 * Ms)
            WorstLate = std::max(WorstLate, Error);
    }
    qInfo("settled within 50 us after %.1f s; worst error after 30 s: %.1f us; drift %.1f ppm",
          double(SettledAt) / 1e9, double(WorstLate) / 1e3, Clock.Drift() * 1e6);
    QVERIFY2(SettledAt < 30'000 * Ms, qPrintable(QString::number(SettledAt)));
    QVERIFY(qAbs(Clock.Drift() - drift) < 5e-6);
}

void TestGroupClock::refusesImpossibleExchanges_data() {
    QTest::addColumn<qint64>("t1");
    QTest::addColumn<qint64>("t2");
    QTest::addColumn<qint64>("t3");
    QTest::addColumn<qint64>("t4");
    QTest::addColumn<bool>("accepted");

    const qint64 Huge = std::numeric_limits<qint64>::max();
    QTest::newRow("ordinary") << 10 * Ms << 50 * Ms << 50 * Ms << 11 * Ms << true;
    QTest::newRow("reply before request") << 10 * Ms << 50 * Ms << 50 * Ms << 9 * Ms << false;
    QTest::newRow("leader sent before it received")
        << 10 * Ms << 50 * Ms << 49 * Ms << 11 * Ms << false;
    QTest::newRow("leader took longer than the trip")
        << 10 * Ms << 50 * Ms << 52 * Ms << 11 * Ms << false;
    QTest::newRow("round trip too slow") << 10 * Ms << 50 * Ms << 50 * Ms << 900 * Ms << false;
    QTest::newRow("negative time") << -10 * Ms << 50 * Ms << 50 * Ms << 11 * Ms << false;
    QTest::newRow("times that would overflow") << 10 * Ms << Huge - 5 << Huge << 11 * Ms << false;
}

void TestGroupClock::refusesImpossibleExchanges() {
    QFETCH(qint64, t1);
    QFETCH(qint64, t2);
    QFETCH(qint64, t3);
    QFETCH(qint64, t4);
    QFETCH(bool, accepted);
    TGroupClock Clock;
    QCOMPARE(Clock.AddExchange({t1, t2, t3, t4}), accepted);
    QCOMPARE(Clock.ExchangeCount(), accepted ? 1 : 0);
    QCOMPARE(Clock.OffsetAt(t1), accepted ? 39.5 * double(Ms) : 0.0);
}

QTEST_APPLESS_MAIN(TestGroupClock)
#include "tst_groupclock.moc"
