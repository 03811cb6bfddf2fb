#include "CommandProtocol.h"
#include "CommandReader.h"
#include "MessageText.h"

#include <QTest>

namespace {

// "WORD / line / line" (numeric singles also show their value as "=n"), for easy comparing.
QByteArrayList Drain(TCommandReader &Reader) {
    QByteArrayList Out;
    while (std::optional<TCommandMessage> M = Reader.Next())
        Out.append(Render(*M));
    return Out;
}

QByteArrayList ReadAll(const TCommandTable &Table, const QByteArray &Bytes) {
    TCommandReader Reader(Table);
    Reader.Feed(Bytes, 0);
    return Drain(Reader);
}

const TCommandTable &TableFor(const QByteArray &Side) {
    return Side == "speaker" ? SpeakerCommands() : ControllerCommands();
}

} // namespace

class TestProtocol : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void writer_data();
    void writer();
    void roundTrip_data();
    void roundTrip();
    void reading_data();
    void reading();
    void numericValues();
    void splitAnywhere();
    void lateLines_data();
    void lateLines();
    void deadlineFollowsEachLine();
    void overlongLine_data();
    void overlongLine();
    void payloadLimit_data();
    void payloadLimit();
};

void TestProtocol::writer_data() {
    QTest::addColumn<QByteArray>("word");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("alwaysArgument");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("single") << QByteArray("VOLUMN") << QByteArray("40") << false
                            << QByteArray("VOLUMN\r\n40\r\n");
    QTest::newRow("speaker omits empty value")
        << QByteArray("URL") << QByteArray() << false << QByteArray("URL\r\n");
    QTest::newRow("controller GET")
        << QByteArray("GET") << QByteArray() << true << QByteArray("GET\r\n\r\n");
    QTest::newRow("empty ADD") << QByteArray("ADD") << QByteArray() << true
                               << QByteArray("ADD\r\n0\r\n");
    QTest::newRow("empty LIST") << QByteArray("LIST") << QByteArray() << false
                                << QByteArray("LIST\r\n0\r\n");
    QTest::newRow("mixed breaks, final break adds nothing")
        << QByteArray("UPDATELIST") << QByteArray("a\r\nb\rc\nd\r\n") << true
        << QByteArray("UPDATELIST\r\n4\r\na\r\nb\r\nc\r\nd\r\n");
    QTest::newRow("empty lines inside count") << QByteArray("LIST") << QByteArray("a\r\n\r\nb")
                                              << false << QByteArray("LIST\r\n3\r\na\r\n\r\nb\r\n");
    QTest::newRow("dot doubled") << QByteArray("URL") << QByteArray(".x") << false
                                 << QByteArray("URL\r\n..x\r\n");
    QTest::newRow("dot doubled in items")
        << QByteArray("ADD") << QByteArray(".a\r\n..b\r\n.") << true
        << QByteArray("ADD\r\n3\r\n..a\r\n...b\r\n..\r\n");
    QTest::newRow("break inside single value cannot forge a message")
        << QByteArray("URL") << QByteArray("u\r\nSTATE\r\n1") << true << QByteArray("URL\r\nu\r\n");
}

void TestProtocol::writer() {
    QFETCH(QByteArray, word);
    QFETCH(QByteArray, payload);
    QFETCH(bool, alwaysArgument);
    QFETCH(QByteArray, wire);
    QCOMPARE(
        BuildMessage(word, payload, alwaysArgument ? TEmptyArgument::Send : TEmptyArgument::Omit),
        wire);
}

void TestProtocol::roundTrip_data() {
    QTest::addColumn<QByteArray>("reader");
    QTest::addColumn<QByteArray>("word");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray A = "http://192.168.1.20:37401/a.mp3";
    const QByteArray B = "http://192.168.1.20:37401/b%20c.mp3";
    auto Row = [](const char *Side, const QByteArray &Word, const QByteArray &Payload,
                  const QByteArray &Expected) {
        QTest::addRow("%s %s %s", Side, Word.constData(), Payload.left(12).constData())
            << QByteArray(Side) << Word << Payload << Expected;
    };
    // Speaker to controller, in the order of a typical session.
    Row("controller", "MUTE", "0", "MUTE / 0");
    Row("controller", "VOLUMN", "40", "VOLUMN / 40");
    Row("controller", "STATE", "0", "STATE / 0");
    Row("controller", "LIST", A + "\r\n" + B, "LIST / " + A + " / " + B);
    Row("controller", "URL", A, "URL / " + A);
    Row("controller", "VOLUMN", "1", "VOLUMN / 1");
    Row("controller", "STATE", "3", "STATE / 3");
    Row("controller", "POSITION", "200.00\r\n12.50\r\n00:12", "POSITION / 200.00 / 12.50 / 00:12");
    Row("controller", "POSITION", "200.00\r\n13.50\r\n00:13\r\nMusic: a.mp3",
        "POSITION / 200.00 / 13.50 / 00:13 / Music: a.mp3");
    Row("controller", "URL", ".x", "URL / .x");
    // What is read back is what was written, so LIST -> page -> UPDATELIST never grows a line.
    Row("controller", "LIST", "..dotted.mp3\r\n.\r\n...", "LIST / ..dotted.mp3 / . / ...");
    // Controller to speaker.
    Row("speaker", "ADD", A + "\r\n" + B, "ADD / " + A + " / " + B);
    Row("speaker", "VOLUMN", "60", "VOLUMN / 60");
    Row("speaker", "GET", "", "GET");
    Row("speaker", "UPDATELIST", "", "UPDATELIST");
    Row("speaker", "MUTE", "-1", "MUTE / -1");
    Row("speaker", "UPDATEPOSITION", "50", "UPDATEPOSITION / 50");
    Row("speaker", "ADD", ".a\r\nb", "ADD / .a / b");
}

void TestProtocol::roundTrip() {
    QFETCH(QByteArray, reader);
    QFETCH(QByteArray, word);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, expected);
    const TEmptyArgument Mode = reader == "speaker" ? TEmptyArgument::Send : TEmptyArgument::Omit;
    QCOMPARE(ReadAll(TableFor(reader), BuildMessage(word, payload, Mode)),
             QByteArrayList{expected});
}

void TestProtocol::reading_data() {
    QTest::addColumn<QByteArray>("reader");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QByteArrayList>("expected");

    QTest::newRow("unknown and lower-case words ignored")
        << QByteArray("speaker") << QByteArray("HELLO\r\nadd\r\n1\r\nu\r\nSTATE\r\n3\r\n")
        << QByteArrayList{"STATE / 3"};
    QTest::newRow("GET takes no argument; its empty line is ignored")
        << QByteArray("speaker") << QByteArray("GET\r\n\r\nGET\r\nMUTE\r\n0\r\n")
        << QByteArrayList{"GET", "GET", "MUTE / 0"};
    QTest::newRow("controller ignores GET and ADD")
        << QByteArray("controller") << QByteArray("GET\r\nADD\r\n1\r\nu\r\nMUTE\r\n-1\r\n")
        << QByteArrayList{"MUTE / -1"};
    QTest::newRow("ADD with bad count dropped, items read as words")
        << QByteArray("speaker") << QByteArray("ADD\r\nx\r\nSTATE\r\n2\r\nURL\r\nu\r\n")
        << QByteArrayList{"STATE / 2", "URL / u"};
    QTest::newRow("UPDATELIST with bad count dropped, items read as words")
        << QByteArray("speaker") << QByteArray("UPDATELIST\r\n\r\nURL\r\nu\r\n")
        << QByteArrayList{"URL / u"};
    QTest::newRow("one doubled dot taken off, a single one kept")
        << QByteArray("controller") << QByteArray("LIST\r\n3\r\n..a\r\n.b\r\n...\r\n")
        << QByteArrayList{"LIST / .a / .b / .."};
    QTest::newRow("LIST with bad count dropped")
        << QByteArray("controller") << QByteArray("LIST\r\n2x\r\nURL\r\nu\r\n")
        << QByteArrayList{"URL / u"};
    QTest::newRow("zero and negative counts carry no lines")
        << QByteArray("speaker") << QByteArray("ADD\r\n0\r\nUPDATELIST\r\n-3\r\nMUTE\r\n0\r\n")
        << QByteArrayList{"ADD", "UPDATELIST", "MUTE / 0"};
    QTest::newRow("count above the limit drops the message")
        << QByteArray("speaker") << QByteArray("ADD\r\n100001\r\nVOLUMN\r\n5\r\n")
        << QByteArrayList{"VOLUMN / 5"};
    QTest::newRow("count at the limit waits for items")
        << QByteArray("speaker") << QByteArray("ADD\r\n100000\r\nVOLUMN\r\n5\r\n")
        << QByteArrayList{};
    QTest::newRow("bad numeric arguments drop only that command")
        << QByteArray("speaker")
        << QByteArray("STATE\r\n\r\nVOLUMN\r\n+5\r\nVOLUMN\r\n 5\r\nMUTE\r\n0x1\r\n"
                      "VOLUMN\r\n2147483648\r\nVOLUMN\r\n-\r\nSTATE\r\n3\r\n")
        << QByteArrayList{"STATE / 3"};
    QTest::newRow("numeric argument is not a word line")
        << QByteArray("speaker") << QByteArray("VOLUMN\r\nSTATE\r\n3\r\n") << QByteArrayList{};
    QTest::newRow("only one CR before LF is removed")
        << QByteArray("speaker") << QByteArray("STATE\r\r\n3\r\nURL\r\nu\r\r\nURL\nv\n")
        << QByteArrayList{"URL / u\r", "URL / v"};
    QTest::newRow("items split only at LF")
        << QByteArray("speaker") << QByteArray("ADD\r\n2\r\na\rb\r\n\r\n")
        << QByteArrayList{"ADD / a\rb / "};
    QTest::newRow("empty URL argument kept")
        << QByteArray("controller") << QByteArray("URL\r\n\r\n") << QByteArrayList{"URL / "};
}

void TestProtocol::reading() {
    QFETCH(QByteArray, reader);
    QFETCH(QByteArray, wire);
    QFETCH(QByteArrayList, expected);
    QCOMPARE(ReadAll(TableFor(reader), wire), expected);
}

void TestProtocol::numericValues() {
    TCommandReader Reader(SpeakerCommands());
    Reader.Feed("MUTE\r\n-1\r\nVOLUMN\r\n-2147483648\r\nSTATE\r\n0003\r\nADD\r\n1\r\nu\r\n", 0);
    QList<qint32> Values;
    while (std::optional<TCommandMessage> M = Reader.Next())
        Values.append(M->Value);
    QCOMPARE(Values, (QList<qint32>{-1, INT32_MIN, 3, 1}));
}

void TestProtocol::splitAnywhere() {
    QByteArray Wire;
    QByteArrayList Expected;
    for (int I = 0; I < 50; ++I) {
        const QByteArray U = "http://10.0.0.1:37401/t" + QByteArray::number(I) + ".mp3";
        Wire += BuildMessage("ADD", U + "\r\n." + U, TEmptyArgument::Send);
        Wire += BuildMessage("VOLUMN", QByteArray::number(I), TEmptyArgument::Send);
        Wire += BuildMessage("GET", {}, TEmptyArgument::Send);
        Expected << "ADD / " + U + " / ." + U << "VOLUMN / " + QByteArray::number(I) << "GET";
    }
    QCOMPARE(ReadAll(SpeakerCommands(), Wire), Expected);

    TCommandReader ByteWise(SpeakerCommands());
    for (char C : Wire)
        ByteWise.Feed(QByteArray(1, C), 0);
    QCOMPARE(Drain(ByteWise), Expected);

    TCommandReader Chunked(SpeakerCommands());
    QByteArrayList Got;
    for (qsizetype Pos = 0, Step = 1; Pos < Wire.size(); Pos += Step, Step = Step % 13 + 3) {
        Chunked.Feed(Wire.mid(Pos, Step), 0);
        Got += Drain(Chunked);
    }
    QCOMPARE(Got, Expected);
}

void TestProtocol::lateLines_data() {
    QTest::addColumn<QByteArray>("onTime");
    QTest::addColumn<qint64>("lateAt");
    QTest::addColumn<QByteArray>("late");
    QTest::addColumn<QByteArrayList>("expected");

    QTest::newRow("numeric argument just in time")
        << QByteArray("VOLUMN\r\n") << qint64(4999) << QByteArray("40\r\n")
        << QByteArrayList{"VOLUMN / 40"};
    QTest::newRow("late numeric argument drops the command")
        << QByteArray("VOLUMN\r\n") << qint64(5000) << QByteArray("40\r\nMUTE\r\n0\r\n")
        << QByteArrayList{"MUTE / 0"};
    QTest::newRow("late late line read as a word line")
        << QByteArray("STATE\r\n") << qint64(6000) << QByteArray("URL\r\nu\r\n")
        << QByteArrayList{"URL / u"};
    QTest::newRow("late text argument is empty")
        << QByteArray("URL\r\n") << qint64(5000) << QByteArray("u\r\nSTATE\r\n3\r\n")
        << QByteArrayList{"URL / ", "STATE / 3"};
    QTest::newRow("each missing item is an empty line")
        << QByteArray("ADD\r\n3\r\na\r\n") << qint64(5000) << QByteArray("b\r\nMUTE\r\n-1\r\n")
        << QByteArrayList{"ADD / a /  / ", "MUTE / -1"};
    QTest::newRow("missing item drops UPDATELIST")
        << QByteArray("UPDATELIST\r\n2\r\na\r\n") << qint64(5000)
        << QByteArray("b\r\nMUTE\r\n-1\r\n") << QByteArrayList{"MUTE / -1"};
    QTest::newRow("late count drops ADD")
        << QByteArray("ADD\r\n") << qint64(5000) << QByteArray("1\r\nURL\r\nu\r\n")
        << QByteArrayList{"URL / u"};
    QTest::newRow("late count drops UPDATELIST") << QByteArray("UPDATELIST\r\n") << qint64(5000)
                                                 << QByteArray("1\r\nu\r\n") << QByteArrayList{};
    QTest::newRow("half-received late line becomes a word line")
        << QByteArray("ADD\r\n1\r\nSTA") << qint64(5000) << QByteArray("TE\r\n2\r\n")
        << QByteArrayList{"ADD / ", "STATE / 2"};
}

void TestProtocol::lateLines() {
    QFETCH(QByteArray, onTime);
    QFETCH(qint64, lateAt);
    QFETCH(QByteArray, late);
    QFETCH(QByteArrayList, expected);

    // Once through the owner's timer, once with the late bytes arriving before it fires.
    for (bool TimerFires : {true, false}) {
        TCommandReader Reader(SpeakerCommands());
        Reader.Feed(onTime, 0);
        if (TimerFires) {
            QCOMPARE(Reader.NextDeadline(), std::optional<qint64>(5000));
            Reader.Expire(lateAt);
        }
        Reader.Feed(late, lateAt);
        QCOMPARE(Drain(Reader), expected);
    }
}

void TestProtocol::deadlineFollowsEachLine() {
    TCommandReader Reader(ControllerCommands());
    QCOMPARE(Reader.NextDeadline(), std::nullopt);
    Reader.Feed("POSITION\r\n", 100);
    QCOMPARE(Reader.NextDeadline(), std::optional<qint64>(5100));
    Reader.Feed("3\r\n", 4000);
    QCOMPARE(Reader.NextDeadline(), std::optional<qint64>(9000));
    Reader.Feed("1.00\r\n2.00\r\n", 8000);
    QCOMPARE(Reader.NextDeadline(), std::optional<qint64>(13000));
    Reader.Expire(12999);
    QVERIFY(!Reader.HasMessage());
    Reader.Feed("00:02\r\n", 12999);
    QCOMPARE(Reader.NextDeadline(), std::nullopt);
    QCOMPARE(Drain(Reader), QByteArrayList{"POSITION / 1.00 / 2.00 / 00:02"});
}

void TestProtocol::overlongLine_data() {
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<bool>("byteWise");
    QTest::addColumn<QByteArrayList>("expected");

    const QByteArray Max(MaxCommandLineLength, 'u');
    const QByteArray Over(MaxCommandLineLength + 1, 'u');
    QTest::newRow("longest line accepted")
        << QByteArray("URL\r\n" + Max + "\r\n") << false << QByteArrayList{"URL / " + Max};
    QTest::newRow("longest line accepted, bytewise")
        << QByteArray("URL\r\n" + Max + "\r\n") << true << QByteArrayList{"URL / " + Max};
    QTest::newRow("overlong word line skipped")
        << QByteArray(Over + "\r\nSTATE\r\n3\r\n") << false << QByteArrayList{"STATE / 3"};
    for (bool ByteWise : {false, true}) {
        const char *Suffix = ByteWise ? ", bytewise" : "";
        QTest::addRow("overlong argument drops the command%s", Suffix)
            << QByteArray("URL\r\n" + Over + "\r\nMUTE\r\n0\r\n") << ByteWise
            << QByteArrayList{"MUTE / 0"};
        QTest::addRow("overlong item drops the message, rest are words%s", Suffix)
            << QByteArray("ADD\r\n3\r\na\r\n" + Over + "\r\nSTATE\r\n1\r\nGET\r\n") << ByteWise
            << QByteArrayList{"STATE / 1", "GET"};
        QTest::addRow("overlong by a stray CR%s", Suffix)
            << QByteArray("URL\r\n" + Max + "\r\r\nGET\r\n") << ByteWise << QByteArrayList{"GET"};
    }
    QTest::newRow("a megabyte without LF")
        << QByteArray("URL\r\n" + QByteArray(1 << 20, 'x') + "\nVOLUMN\r\n7\r\n") << false
        << QByteArrayList{"VOLUMN / 7"};
}

void TestProtocol::overlongLine() {
    QFETCH(QByteArray, wire);
    QFETCH(bool, byteWise);
    QFETCH(QByteArrayList, expected);
    TCommandReader Reader(SpeakerCommands());
    if (byteWise) {
        for (char C : wire)
            Reader.Feed(QByteArray(1, C), 0);
    } else {
        Reader.Feed(wire, 0);
    }
    QCOMPARE(Drain(Reader), expected);
}

void TestProtocol::payloadLimit_data() {
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("lineLength");
    QTest::addColumn<bool>("delivered");

    QTest::newRow("16 MiB of longest lines") << 1024 << int(MaxCommandLineLength) << true;
    QTest::newRow("one line more") << 1025 << int(MaxCommandLineLength) << false;
    QTest::newRow("most items, under 16 MiB") << int(MaxCommandItemCount) << 167 << true;
    QTest::newRow("most items, over 16 MiB") << int(MaxCommandItemCount) << 168 << false;
}

void TestProtocol::payloadLimit() {
    QFETCH(int, lines);
    QFETCH(int, lineLength);
    QFETCH(bool, delivered);

    // Fed in pieces, as a socket delivers it; what follows a dropped message still counts.
    TCommandReader Reader(SpeakerCommands());
    Reader.Feed("ADD\r\n" + QByteArray::number(lines) + "\r\n", 0);
    const QByteArray Line = QByteArray(lineLength, 'u') + "\r\n";
    for (int I = 0; I < lines; ++I)
        Reader.Feed(Line, 0);
    Reader.Feed("STATE\r\n3\r\n", 0);
    QByteArrayList Words;
    while (std::optional<TCommandMessage> M = Reader.Next()) {
        Words.append(M->Word);
        if (M->Word == "ADD")
            QCOMPARE(M->Lines.size(), lines);
    }
    const QByteArrayList Expected =
        delivered ? QByteArrayList{"ADD", "STATE"} : QByteArrayList{"STATE"};
    QCOMPARE(Words, Expected);
}

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
