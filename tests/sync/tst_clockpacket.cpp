#include "ClockPacket.h"

#include <QTest>

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
    void decode_data();
    void decode();
};

// Random changes are the fuzz target's; these are the edges.
void TestClockPacket::decode_data() {
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<bool>("valid");

    const QByteArray Wire = EncodeClockPacket(Reply), Zero(1, '\0');
    QTest::newRow("reply, big-endian fields")
        << QByteArray::fromHex("5658434b01020000a1b2c3d400000000000000003b9aca07"
                               "000000012a05f200000000012a064020")
        << true;
    QTest::newRow("request") << Patched(5, "\x01").replace(24, 16, QByteArray(16, '\0')) << true;
    QTest::newRow("one byte short") << Wire.chopped(1) << false;
    QTest::newRow("one byte more") << Wire + '\0' << false;
    QTest::newRow("other magic") << Patched(0, "VXCL") << false;
    QTest::newRow("next version") << Patched(4, "\x02") << false;
    QTest::newRow("kind 3") << Patched(5, "\x03") << false;
    QTest::newRow("reserved byte set") << Patched(15, "\x80") << false;
    QTest::newRow("negative T1") << Patched(16, "\xff") << false;
    QTest::newRow("T2 at 2^62") << Patched(24, QByteArray::fromHex("4000000000000000")) << false;
    QTest::newRow("leader sent before it received") << Patched(35, Zero) << false;
    QTest::newRow("request with leader times") << Patched(5, "\x01") << false;
}

void TestClockPacket::decode() {
    QFETCH(QByteArray, datagram);
    QFETCH(bool, valid);
    const std::optional<TClockPacket> P = DecodeClockPacket(datagram);
    QCOMPARE(P.has_value(), valid);
    if (valid)
        QCOMPARE(EncodeClockPacket(*P), datagram);
    if (valid && P->Kind == TClockPacket::TKind::Reply)
        QVERIFY(*P == Reply);
}

QTEST_APPLESS_MAIN(TestClockPacket)
#include "tst_clockpacket.moc"
