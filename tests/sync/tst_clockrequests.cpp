#include "ClockRequests.h"

#include <QTest>

constexpr qint64 Ms = 1'000'000;

class TestClockRequests : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void pairsReplies_data();
    void pairsReplies();
};

void TestClockRequests::pairsReplies_data() {
    QTest::addColumn<int>("exchangeShift"); // of the reply against the last request's
    QTest::addColumn<qint64>("t1Shift");
    QTest::addColumn<qint64>("arrival"); // after the request
    QTest::addColumn<int>("later");      // requests sent before the reply comes
    QTest::addColumn<bool>("paired");

    QTest::newRow("its reply") << 0 << qint64(0) << 2 * Ms << 0 << true;
    QTest::newRow("after later requests") << 0 << qint64(0) << 2 * Ms << 15 << true;
    QTest::newRow("no such request") << 1 << qint64(0) << 2 * Ms << 0 << false;
    QTest::newRow("another send time") << 0 << qint64(1) << 2 * Ms << 0 << false;
    QTest::newRow("given up") << 0 << qint64(0) << 501 * Ms << 0 << false;
    QTest::newRow("dropped for newer ones") << 0 << qint64(0) << 2 * Ms << 16 << false;
}

// The leader's reply to a request sent at 10 s (exchange numbers wrap).
void TestClockRequests::pairsReplies() {
    QFETCH(int, exchangeShift);
    QFETCH(qint64, t1Shift);
    QFETCH(qint64, arrival);
    QFETCH(int, later);
    QFETCH(bool, paired);
    TClockRequests Requests(0xFFFFFFFF);
    const qint64 T1 = 10'000 * Ms;
    const TClockPacket Request = Requests.NewRequest(T1);
    for (int I = 1; I <= later; ++I)
        Requests.NewRequest(T1 + I);
    TClockPacket Reply = ClockReply(Request, 50'000 * Ms, 50'001 * Ms);
    Reply.Exchange += exchangeShift;
    Reply.T1 += t1Shift;
    const std::optional<TClockExchange> E = Requests.TakeReply(Reply, T1 + arrival);
    QCOMPARE(E.has_value(), paired);
    if (paired) {
        QCOMPARE(E->RoundTrip(), arrival - Ms);
        QVERIFY(!Requests.TakeReply(Reply, T1 + arrival));   // a repeat
        QVERIFY(!Requests.TakeReply(Request, T1 + arrival)); // an echo of the request
    }
}

QTEST_APPLESS_MAIN(TestClockRequests)
#include "tst_clockrequests.moc"
