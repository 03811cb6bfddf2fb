#include "ClockPacket.h"
#include "ClockRequests.h"

#include <QTest>

constexpr qint64 Ms = 1'000'000;

namespace {

const TClockPacket Reply{TClockPacket::TKind::Reply, 0xA1B2C3D4, 1'000'000'007, 5'000'000'000,
                         5'000'020'000};

// The reply's datagram with Bytes written over it at Offset.
QByteArray Patched(qsizetype Offset, const QByteArray &Bytes) {
    return EncodeClockPacket(Reply).replace(Offset, Bytes.size(), Bytes);
}

} // namespace

class TestClockPacket : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Random changes are the fuzz target's; these are the edges.
    void decode_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("valid");
        const QByteArray Wire = EncodeClockPacket(Reply), Zero(1, '\0');
        QTest::newRow("reply, big-endian fields")
            << QByteArray::fromHex("5658434b01020000a1b2c3d400000000000000003b9aca07"
                                   "000000012a05f200000000012a064020")
            << true;
        QTest::newRow("request") << Patched(5, "\x01").replace(24, 16, QByteArray(16, '\0'))
                                 << true;
        QTest::newRow("one byte short") << Wire.chopped(1) << false;
        QTest::newRow("one byte more") << Wire + '\0' << false;
        QTest::newRow("other magic") << Patched(0, "VXCL") << false;
        QTest::newRow("next version") << Patched(4, "\x02") << false;
        QTest::newRow("kind 3") << Patched(5, "\x03") << false;
        QTest::newRow("reserved byte set") << Patched(15, "\x80") << false;
        QTest::newRow("negative T1") << Patched(16, "\xff") << false;
        QTest::newRow("T2 at 2^62")
            << Patched(24, QByteArray::fromHex("4000000000000000")) << false;
        QTest::newRow("leader sent before it received") << Patched(35, Zero) << false;
        QTest::newRow("request with leader times") << Patched(5, "\x01") << false;
    }

    void decode() {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, valid);
        const std::optional<TClockPacket> P = DecodeClockPacket(datagram);
        QCOMPARE(P.has_value(), valid);
        if (valid)
            QCOMPARE(EncodeClockPacket(*P), datagram);
        if (valid && P->Kind == TClockPacket::TKind::Reply)
            QVERIFY(*P == Reply);
    }

    void pairsReplies_data() {
        QTest::addColumn<int>("exchangeShift"); // of the reply against the last request's
        QTest::addColumn<qint64>("t1Shift");
        QTest::addColumn<qint64>("arrival"); // after the request
        QTest::addColumn<int>("later");      // requests sent before the reply comes
        QTest::addColumn<bool>("paired");
        QTest::newRow("its reply") << 0 << 0ll << 2 * Ms << 0 << true;
        QTest::newRow("after later requests") << 0 << 0ll << 2 * Ms << 15 << true;
        QTest::newRow("no such request") << 1 << 0ll << 2 * Ms << 0 << false;
        QTest::newRow("another send time") << 0 << 1ll << 2 * Ms << 0 << false;
        QTest::newRow("given up") << 0 << 0ll << 501 * Ms << 0 << false;
        QTest::newRow("dropped for newer ones") << 0 << 0ll << 2 * Ms << 16 << false;
    }

    // The leader's reply to a request sent at 10 s (exchange numbers wrap).
    void pairsReplies() {
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
        TClockPacket Answer = ClockReply(Request, 50'000 * Ms, 50'001 * Ms);
        Answer.Exchange += exchangeShift;
        Answer.T1 += t1Shift;
        const std::optional<TClockExchange> E = Requests.TakeReply(Answer, T1 + arrival);
        QCOMPARE(E.has_value(), paired);
        if (paired) {
            QCOMPARE(E->RoundTrip(), arrival - Ms);
            QVERIFY(!Requests.TakeReply(Answer, T1 + arrival));  // a repeat
            QVERIFY(!Requests.TakeReply(Request, T1 + arrival)); // an echo of the request
        }
    }
};

QTEST_APPLESS_MAIN(TestClockPacket)
#include "tst_clockpacket.moc"
