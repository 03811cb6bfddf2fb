#include "StartTimer.h"

#include <QEventLoop>
#include <QTest>

class TestStartTimer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void runsOnceNeverEarly_data() {
        QTest::addColumn<qint64>("in"); // from now, ns
        QTest::newRow("past") << qint64(-5'000'000);
        QTest::newRow("within the spin") << qint64(1'500'000);
        QTest::newRow("later") << qint64(40'700'000);
    }

    // A second start replaces the first; the action runs once, at or after its moment.
    void runsOnceNeverEarly() {
        QFETCH(qint64, in);
        TStartTimer Timer;
        QList<qint64> Ran;
        Timer.Start(MonotonicNow() + 1'000'000'000, [&Ran](qint64) { Ran.append(-1); });
        const qint64 At = MonotonicNow() + in;
        QEventLoop Loop; // as the program waits: in poll, not in sleeps
        Timer.Start(At, [&](qint64 RanAt) { Ran.append(RanAt), Loop.quit(); });
        QTimer::singleShot(5000, &Loop, &QEventLoop::quit);
        Loop.exec();
        QCOMPARE(Ran.size(), 1);
        QVERIFY(Ran[0] >= At);
        QVERIFY(!Timer.IsPending());
    }
};

QTEST_GUILESS_MAIN(TestStartTimer)
#include "tst_starttimer.moc"
