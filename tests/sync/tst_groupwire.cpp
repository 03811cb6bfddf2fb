#include "GroupWire.h"

#include <QtEndian>
#include <QtTest>

namespace {

QByteArray Be32(quint32 N) {
    QByteArray Out(4, '\0');
    qToBigEndian<quint32>(N, Out.data());
    return Out;
}

// A record on the wire from its kind and raw body.
QByteArray Raw(quint8 Kind, const QByteArray &Body) {
    return Be32(quint32(Body.size() + 1)) + char(Kind) + Body;
}

struct TFeed {
    TGroupLinkReader Reader;
    QList<TGroupRecord> Got;
    void Feed(QByteArrayView Bytes) {
        Reader.Feed(Bytes);
        while (std::optional<TGroupRecord> R = Reader.Next())
            Got.append(*R);
    }
};

} // namespace

class TstGroupWire : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every kind comes back as it went, whether the bytes arrive whole or one at a time.
    void recordsRoundTrip() {
        const QList<TGroupRecord> Records{
            HelloRecord({1, "Kitchen", TGroupIntent::Rejoin, 7, 8, 37402, "why"}),
            {TGroupKind::Members, {}, {}, {"a\tb\t1\t0\tPlaying"}},
            {TGroupKind::List, {}, {}, {"http://x/1.mp3", "", ".dot"}},
            AnchorRecord({3, "http://x/1.mp3", TGroupPlay::Playing, 12.5, 123456789}),
            {TGroupKind::Command, {}, {"ADD"}, {"http://x/2.mp3"}},
            {TGroupKind::Report, {40, 1, 3}, {"Playing"}, {}},
            {TGroupKind::SetVolume, {-1, 1}, {}, {}},
            {TGroupKind::Bye, {}, {""}, {}},
            {TGroupKind::Ping, {}, {}, {}},
        };
        QByteArray Wire;
        for (const TGroupRecord &R : Records)
            Wire += EncodeGroupRecord(R);
        TFeed Whole, Bytewise;
        Whole.Feed(Wire);
        for (char C : std::as_const(Wire))
            Bytewise.Feed(QByteArrayView(&C, 1));
        QCOMPARE(Whole.Got, Records);
        QCOMPARE(Bytewise.Got, Records);
        QVERIFY(!Bytewise.Reader.Failed());
        QCOMPARE(ReadAnchor(Whole.Got[3])->Position, 12.5);
    }

    // What a hostile peer may send: the link fails, and holds nothing it was promised.
    void malformedInput_data() {
        QTest::addColumn<QByteArray>("Bytes");
        QTest::addColumn<bool>("Fails"); // false: waits for more
        QTest::newRow("zero length") << Be32(0) << true;
        QTest::newRow("length past the limit") << Be32(MaxGroupRecord + 1) << true;
        QTest::newRow("truncated body") << Be32(100) + char(2) << false;
        QTest::newRow("unknown kind") << Raw(42, {}) << true;
        QTest::newRow("bytes after the fields") << Raw(9, "x") << true;
        QTest::newRow("missing number") << Raw(7, QByteArray(8, '\0')) << true;
        QTest::newRow("text longer than its record") << Raw(8, Be32(5) + "abc") << true;
        QTest::newRow("text past the limit")
            << Raw(8, Be32(MaxGroupText + 1) + QByteArray(MaxGroupText + 1, 'a')) << true;
        QTest::newRow("list count past what follows") << Raw(3, Be32(1000)) << true;
        QTest::newRow("list count past the limit")
            << Raw(3, Be32(MaxGroupListCount + 1) + QByteArray(4 * (MaxGroupListCount + 1), '\0'))
            << true;
        // Rows "first record ...": read as a link reads, whose first record is a hello.
        QTest::newRow("first record longer than a hello") << Be32(MaxHelloRecord + 1) << true;
        QTest::newRow("first record as long as a hello") << Be32(MaxHelloRecord) + '\1' << false;
        QTest::newRow("good record, then garbage")
            << EncodeGroupRecord({TGroupKind::Ping, {}, {}, {}}) + "GET\r\n"
            << true;
    }
    void malformedInput() {
        QFETCH(QByteArray, Bytes);
        QFETCH(bool, Fails);
        TFeed F;
        if (QByteArray(QTest::currentDataTag()).startsWith("first record"))
            F.Reader = TGroupLinkReader(MaxHelloRecord);
        F.Feed(Bytes);
        QCOMPARE(F.Reader.Failed(), Fails);
        QCOMPARE(F.Reader.InRecord(), !Fails);
        // Nothing after a failure is read.
        F.Feed(EncodeGroupRecord({TGroupKind::Ping, {}, {}, {}}));
        QCOMPARE(F.Got.size(), qsizetype(Bytes.startsWith(Raw(9, {})) ? 1 : 0));
    }

    void encoderRefusesWhatNoReaderTakes() {
        QVERIFY(EncodeGroupRecord({TGroupKind::Bye, {}, {QByteArray(MaxGroupText + 1, 'a')}, {}})
                    .isEmpty());
        QVERIFY(EncodeGroupRecord({TGroupKind::Report, {1}, {"x"}, {}}).isEmpty());
        QVERIFY(EncodeGroupRecord({TGroupKind::Ping, {}, {}, {"item"}}).isEmpty());
    }

    void helloOfAnotherProgram() {
        TGroupRecord Hello = HelloRecord({});
        Hello.Texts[0] = "VXOTHER";
        QVERIFY(!ReadHello(Hello));
        QVERIFY(!ReadHello({TGroupKind::Bye, {}, {GroupLinkMagic}, {}}));
    }

    void roomLines_data() {
        QTest::addColumn<QByteArray>("Line");
        QTest::addColumn<bool>("Valid");
        QTest::newRow("five fields") << QByteArray("h\tKitchen\t40\t1\tPlaying") << true;
        QTest::newRow("four fields") << QByteArray("h\tKitchen\t40\t1") << false;
        QTest::newRow("six fields") << QByteArray("h\tK\t40\t1\tx\ty") << false;
        QTest::newRow("volume past 100") << QByteArray("h\tK\t101\t0\tx") << false;
        QTest::newRow("mute not 0 or 1") << QByteArray("h\tK\t1\t-1\tx") << false;
        QTest::newRow("field too long") << "h\t" + QByteArray(256, 'n') + "\t1\t0\tx" << false;
    }
    void roomLines() {
        QFETCH(QByteArray, Line);
        QFETCH(bool, Valid);
        QCOMPARE(ParseRoomLine(Line).has_value(), Valid);
    }

    // Whatever the names hold, the line a room sends is one the others accept.
    void roomLineFromAnyText() {
        const TRoomLine Room{"a\tb", QByteArray(300, 'x') + "\r\n", 250, true, "\xC3\xA9"};
        const std::optional<TRoomLine> Back = ParseRoomLine(FormatRoomLine(Room));
        QVERIFY(Back);
        QCOMPARE(Back->Host, QByteArray("a b"));
        QCOMPARE(Back->Name.size(), MaxRoomField);
        QCOMPARE(Back->Volume, 100);
    }
};

QTEST_GUILESS_MAIN(TstGroupWire)
#include "tst_groupwire.moc"
