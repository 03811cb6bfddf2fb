#include "MpdLineReader.h"

#include <QtTest>

// A request as text: its kind ("1", "L", "O"), then each line's words joined by "|" (or
// "!error"), lines apart by ";".
static QByteArray Render(const TMpdRequest &Request) {
    QByteArray Out = Request.Kind == TMpdRequest::Single ? "1"
                     : Request.Kind == TMpdRequest::List ? "L"
                                                         : "O";
    for (const TMpdLine &Line : Request.Lines)
        Out += ' ' + (Line.Error.isEmpty() ? Line.Words.join('|') : '!' + Line.Error) + ';';
    return Out;
}

class TestMpdLineReader : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void read_data() {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QByteArrayList>("requests");
        QTest::addColumn<bool>("failed");

        const QByteArray Long(TMpdLineReader::MaxLineBytes, 'x');
        QByteArray BigList = "command_list_begin\n";
        for (int I = 0; I < 2200; ++I)
            BigList += "add " + QByteArray(1000, 'u') + '\n';
        QTest::newRow("words apart by blanks")
            << QByteArray("find  artist\tX\n") << QByteArrayList{"1 find|artist|X;"} << false;
        QTest::newRow("quotes and escapes") << QByteArray("add \"a b\" \"q\\\"\\\\z\" \"\"\n")
                                            << QByteArrayList{"1 add|a b|q\"\\z|;"} << false;
        QTest::newRow("CR LF") << QByteArray("status\r\n") << QByteArrayList{"1 status;"} << false;
        QTest::newRow("missing closing quote")
            << QByteArray("add \"abc\n") << QByteArrayList{"1 !Missing closing '\"';"} << false;
        QTest::newRow("quote inside a word")
            << QByteArray("add ab\"c\n") << QByteArrayList{"1 !Invalid unquoted character;"}
            << false;
        QTest::newRow("no space after a quote")
            << QByteArray("add \"a\"b\n") << QByteArrayList{"1 !Space expected after closing '\"';"}
            << false;
        QTest::newRow("empty line")
            << QByteArray("\n") << QByteArrayList{"1 !No command given;"} << false;
        QTest::newRow("lists") << QByteArray("command_list_begin\nping\nstatus\ncommand_list_end\n"
                                             "command_list_ok_begin\ncommand_list_end\nping\n")
                               << QByteArrayList{"L ping; status;", "O", "1 ping;"} << false;
        QTest::newRow("an unfinished list is not a request")
            << QByteArray("command_list_begin\nping\n") << QByteArrayList{} << false;
        QTest::newRow("a line of the limit")
            << Long + "\nping\n"
            << QByteArrayList{"1 " + Long + ';', "1 ping;"} << false;
        QTest::newRow("a longer line closes") << Long + "x\nping\n" << QByteArrayList{} << true;
        QTest::newRow("a list past 2 MiB closes") << BigList << QByteArrayList{} << true;
    }
    void read() {
        QFETCH(QByteArray, wire);
        QFETCH(QByteArrayList, requests);
        QFETCH(bool, failed);
        // Whole, and in pieces of 7 bytes: the same requests.
        for (const qsizetype Piece : {wire.size(), qsizetype(7)}) {
            TMpdLineReader Reader;
            QByteArrayList Got;
            for (qsizetype At = 0; At < wire.size(); At += Piece) {
                Reader.Feed(QByteArrayView(wire).sliced(At, std::min(Piece, wire.size() - At)));
                while (const std::optional<TMpdRequest> Request = Reader.Next())
                    Got.append(Render(*Request));
            }
            QCOMPARE(Got, requests);
            QCOMPARE(Reader.Failed(), failed);
            QVERIFY(Reader.PendingBytes() <=
                    TMpdLineReader::MaxListBytes + TMpdLineReader::MaxLineBytes);
        }
    }
};

QTEST_GUILESS_MAIN(TestMpdLineReader)
#include "tst_mpdlinereader.moc"
