#include "GroupClock.h"

#include <QTest>

#include <random>

constexpr qint64 Ms = 1'000'000, Us = 1'000;

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
    QTest::addColumn<qint64>("jitter"); // uniform, each way
    QTest::addColumn<double>("spikes"); // share of trips 1-6 ms late, each way

    QTest::newRow("+200 ppm, jitter") << 5000 * Ms << 200e-6 << 200 * Us << 0.0;
    QTest::newRow("-200 ppm, jitter, leader booted later")
        << -900'000 * Ms << -200e-6 << 200 * Us << 0.0;
    QTest::newRow("+200 ppm, jitter, spikes") << 77 * Ms << 200e-6 << 200 * Us << 0.2;
    QTest::newRow("-200 ppm, jitter, many spikes") << 77 * Ms << -200e-6 << 200 * Us << 0.35;
}

// A burst of eight when joining, then one a second for two minutes, over a link of 115 us
// each way: synced after the burst, and from 30 s on the group time read between two
// exchanges is right within 50 us.
void TestGroupClock::converges() {
    QFETCH(qint64, offset);
    QFETCH(double, drift);
    QFETCH(qint64, jitter);
    QFETCH(double, spikes);
    std::mt19937_64 Random(24);
    const auto Uniform = [&Random] { return double(Random() >> 11) / double(1ull << 53); };
    const auto Delay = [&] {
        const qint64 D = 115 * Us + qint64(Uniform() * double(jitter));
        return Uniform() < spikes ? D + Ms + qint64(Uniform() * 5e6) : D;
    };
    const auto Group = [&](qint64 Local) { return Local + offset + qint64(drift * double(Local)); };

    TGroupClock Clock;
    const qint64 Start = 3600'000 * Ms;
    qint64 T1 = Start, SettledAt = 0, Worst = 0;
    for (int I = 0; I < 128; ++I) {
        T1 += I < 8 ? 20 * Ms : 1000 * Ms;
        const qint64 Arrive = T1 + Delay(), Leave = Arrive + 20 * Us;
        QVERIFY(Clock.AddExchange({T1, Group(Arrive), Group(Leave), Leave + Delay()}));
        QCOMPARE(Clock.IsSynced(), I >= 7);
        const qint64 Local = T1 + 500 * Ms;
        const qint64 Error = qAbs(Clock.ToGroup(Local) - Group(Local));
        QVERIFY(qAbs(Clock.ToLocal(Clock.ToGroup(Local)) - Local) <= 1);
        SettledAt = Error >= 50 * Us ? T1 - Start : SettledAt;
        Worst = T1 - Start >= 30'000 * Ms ? std::max(Worst, Error) : Worst;
    }
    qInfo("within 50 us after %.1f s; worst error after 30 s: %.1f us; drift %.1f ppm",
          double(SettledAt) / 1e9, double(Worst) / 1e3, Clock.Drift() * 1e6);
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
    QTest::newRow("sent before received") << 10 * Ms << 50 * Ms << 49 * Ms << 11 * Ms << false;
    QTest::newRow("round trip too slow") << 10 * Ms << 50 * Ms << 50 * Ms << 900 * Ms << false;
    QTest::newRow("would overflow") << 10 * Ms << Huge - 5 << Huge << 11 * Ms << false;
}

void TestGroupClock::refusesImpossibleExchanges() {
    QFETCH(qint64, t1);
    QFETCH(qint64, t2);
    QFETCH(qint64, t3);
    QFETCH(qint64, t4);
    QFETCH(bool, accepted);
    TGroupClock Clock;
    QCOMPARE(Clock.AddExchange({t1, t2, t3, t4}), accepted);
    QCOMPARE(Clock.OffsetAt(t1), accepted ? 39.5 * double(Ms) : 0.0);
}

QTEST_APPLESS_MAIN(TestGroupClock)
#include "tst_groupclock.moc"
