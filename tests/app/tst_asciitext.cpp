#include "AsciiText.h"

#include <QTest>

class TestAsciiText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void addUniqueString_data() {
        QTest::addColumn<QByteArrayList>("List");
        QTest::addColumn<QByteArray>("S");
        QTest::addColumn<int>("Index");
        const QByteArrayList One{"a.mp3"};
        QTest::newRow("three blanks") << One << QByteArray("   ") << -1;
        QTest::newRow("control chars only") << One << QByteArray("\t\r\n") << -1;
        QTest::newRow("other case") << QByteArrayList{"x", "A.MP3"} << QByteArray("a.mp3") << -1;
        QTest::newRow("leading blank") << One << QByteArray(" a.mp3") << 1;
        QTest::newRow("non-ASCII case differs")
            << QByteArrayList{"\xc3\xa9"} << QByteArray("\xc3\x89") << 1;
        QTest::newRow("empty list") << QByteArrayList() << QByteArray("b") << 0;
    }

    void addUniqueString() {
        QFETCH(QByteArrayList, List);
        QFETCH(QByteArray, S);
        QFETCH(int, Index);
        const QByteArrayList Before = List;
        QCOMPARE(AddUniqueString(S, List), Index);
        QCOMPARE(List, Index < 0 ? Before : Before + QByteArrayList{S});
    }

    void validComputerName_data() {
        QTest::addColumn<QByteArray>("Name");
        QTest::addColumn<bool>("Valid");
        for (char C : QByteArray("`~!@#$^&*(){}\\|;:'\"<>/? "))
            QTest::addRow("refused %c", C) << QByteArray("pc") + C + "2" << false;
        for (char C : QByteArray("%,.-_=+[]"))
            QTest::addRow("allowed %c", C) << QByteArray("pc") + C + "2" << true;
        QTest::newRow("address") << QByteArray("192.168.0.5") << true;
        QTest::newRow("empty") << QByteArray() << true;
        QTest::newRow("260") << QByteArray(260, 'a') << true;
        QTest::newRow("261") << QByteArray(261, 'a') << false;
    }

    void validComputerName() {
        QFETCH(QByteArray, Name);
        QFETCH(bool, Valid);
        QCOMPARE(IsValidComputerName(Name), Valid);
    }

    void sameNameIgnoringSpaces_data() {
        QTest::addColumn<QByteArray>("A");
        QTest::addColumn<QByteArray>("B");
        QTest::addColumn<bool>("Same");
        QTest::newRow("spaces and case")
            << QByteArray("My Computer") << QByteArray("mycomputer") << true;
        QTest::newRow("spaces everywhere")
            << QByteArray(" my  com puter ") << QByteArray("MYCOMPUTER") << true;
        QTest::newRow("tab is not a space")
            << QByteArray("my\tcomputer") << QByteArray("mycomputer") << false;
        QTest::newRow("different")
            << QByteArray("My Computer") << QByteArray("My Computers") << false;
    }

    void sameNameIgnoringSpaces() {
        QFETCH(QByteArray, A);
        QFETCH(QByteArray, B);
        QFETCH(bool, Same);
        QCOMPARE(SameNameIgnoringSpaces(A, B), Same);
    }

    void documentName_data() {
        QTest::addColumn<QByteArray>("URL");
        QTest::addColumn<QByteArray>("Name");
        QTest::newRow("plain") << QByteArray("http://h:37401/a/b/song.mp3")
                               << QByteArray("song.mp3");
        QTest::newRow("query") << QByteArray("http://h/a/song.mp3?x=1/2") << QByteArray("song.mp3");
        QTest::newRow("fragment") << QByteArray("http://h/song.mp3#t=5") << QByteArray("song.mp3");
        QTest::newRow("fragment before ?")
            << QByteArray("http://h/s.mp3#a?b") << QByteArray("s.mp3");
        QTest::newRow("trailing slash") << QByteArray("http://h/a/") << QByteArray();
        QTest::newRow("no path") << QByteArray("http://host") << QByteArray();
        QTest::newRow("slash only in query") << QByteArray("http://host?a=/b") << QByteArray();
        QTest::newRow("spaces kept")
            << QByteArray("http://h/My Song.mp3") << QByteArray("My Song.mp3");
        QTest::newRow("escapes kept")
            << QByteArray("http://h/My%20Song.mp3") << QByteArray("My%20Song.mp3");
        QTest::newRow("unparsable") << QByteArray("http://[::1/a.mp3") << QByteArray();
    }

    void documentName() {
        QFETCH(QByteArray, URL);
        QFETCH(QByteArray, Name);
        QCOMPARE(DocumentName(URL), Name);
    }

    void splitLines_data() {
        QTest::addColumn<QByteArray>("Text");
        QTest::addColumn<QByteArrayList>("Lines");
        QTest::newRow("empty") << QByteArray() << QByteArrayList();
        QTest::newRow("mixed breaks")
            << QByteArray("a\r\nb\nc\rd") << QByteArrayList{"a", "b", "c", "d"};
        QTest::newRow("final break") << QByteArray("a\r\n") << QByteArrayList{"a"};
        QTest::newRow("blank lines kept")
            << QByteArray("a\n\n\r\nb") << QByteArrayList{"a", "", "", "b"};
        QTest::newRow("LF CR is two breaks")
            << QByteArray("a\n\rb") << QByteArrayList{"a", "", "b"};
    }

    void splitLines() {
        QFETCH(QByteArray, Text);
        QFETCH(QByteArrayList, Lines);
        QCOMPARE(SplitLines(Text), Lines);
    }

    void percentDecode_data() {
        QTest::addColumn<QByteArray>("In");
        QTest::addColumn<QByteArray>("Out");
        QTest::newRow("escape") << QByteArray("My%20Song%2e%C3%A9")
                                << QByteArray("My Song.\xc3\xa9");
        QTest::newRow("plus stays") << QByteArray("a+b") << QByteArray("a+b");
        QTest::newRow("invalid dropped") << QByteArray("a%zzb") << QByteArray("ab");
        QTest::newRow("half invalid") << QByteArray("a%4gb") << QByteArray("ab");
        QTest::newRow("cut at end") << QByteArray("ab%4") << QByteArray("ab");
        QTest::newRow("lone percent") << QByteArray("ab%") << QByteArray("ab");
        QTest::newRow("NUL byte") << QByteArray("a%00b") << QByteArray("a\0b", 3);
    }

    void percentDecode() {
        QFETCH(QByteArray, In);
        QFETCH(QByteArray, Out);
        QCOMPARE(PercentDecode(In), Out);
    }
};

QTEST_GUILESS_MAIN(TestAsciiText)
#include "tst_asciitext.moc"
