#include "MpdPlaylists.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestMpdPlaylists : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void names_data() {
        QTest::addColumn<QByteArray>("Name");
        QTest::addColumn<bool>("Valid");
        QTest::newRow("plain") << QByteArray("Party mix") << true;
        QTest::newRow("accents") << QByteArray("Annbjørg") << true;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("slash") << QByteArray("../x") << false;
        QTest::newRow("backslash") << QByteArray("a\\b") << false;
        QTest::newRow("dot file") << QByteArray(".hidden") << false;
        QTest::newRow("line break") << QByteArray("a\nb") << false;
        QTest::newRow("not UTF-8") << QByteArray("a\xff") << false;
        QTest::newRow("longest") << QByteArray(TMpdPlaylists::MaxNameBytes, 'x') << true;
        QTest::newRow("too long") << QByteArray(TMpdPlaylists::MaxNameBytes + 1, 'x') << false;
    }

    void names() {
        QFETCH(QByteArray, Name);
        QFETCH(bool, Valid);
        QCOMPARE(TMpdPlaylists::IsValidName(Name), Valid);
    }

    void edits_data() {
        QTest::addColumn<QString>("Edit");
        QTest::addColumn<QByteArrayList>("After");
        QTest::addColumn<int>("Code");
        const QByteArrayList Three{"/m/a.mp3", "/m/b.mp3", "http://h/c.mp3"};
        QTest::newRow("add") << "add" << Three + QByteArrayList{"/m/d.mp3"} << 0;
        QTest::newRow("delete") << "delete 1" << QByteArrayList{"/m/a.mp3", "http://h/c.mp3"} << 0;
        QTest::newRow("delete past the end") << "delete 3" << Three << 2;
        QTest::newRow("move") << "move 0 2"
                              << QByteArrayList{"/m/b.mp3", "http://h/c.mp3", "/m/a.mp3"} << 0;
        QTest::newRow("clear") << "clear" << QByteArrayList{} << 0;
        QTest::newRow("save over") << "save" << Three << 56;
        QTest::newRow("rename onto") << "rename" << Three << 56;
        QTest::newRow("remove") << "remove" << QByteArrayList{} << 0;
    }

    void edits() {
        QFETCH(QString, Edit);
        QFETCH(QByteArrayList, After);
        QFETCH(int, Code);
        QTemporaryDir Dir;
        TMpdPlaylists Lists(Dir.path());
        TMpdPlaylists::TError Error;
        QVERIFY(Lists.Save("L", {"/m/a.mp3", "/m/b.mp3", "http://h/c.mp3"}, false, &Error));
        QVERIFY(Lists.Save("Other", {}, false, &Error));
        QSignalSpy Changed(&Lists, &TMpdPlaylists::Changed);
        const QStringList Words = Edit.split(' ');
        bool Done = false;
        if (Words[0] == "add")
            Done = Lists.Add("L", {"/m/d.mp3"}, &Error);
        else if (Words[0] == "delete")
            Done = Lists.Delete("L", Words[1].toInt(), Words[1].toInt() + 1, &Error);
        else if (Words[0] == "move")
            Done = Lists.Move("L", Words[1].toInt(), Words[2].toInt(), &Error);
        else if (Words[0] == "clear")
            Done = Lists.Clear("L", &Error);
        else if (Words[0] == "save")
            Done = Lists.Save("L", {}, false, &Error);
        else if (Words[0] == "rename")
            Done = Lists.Rename("Other", "L", &Error);
        else
            Done = Lists.Remove("L", &Error);
        QCOMPARE(Done ? 0 : Error.Code, Code);
        QCOMPARE(Changed.size(), Done ? 1 : 0);
        const auto Entries = Lists.Load("L", &Error);
        QCOMPARE(Entries.value_or(QByteArrayList()), After);
        QCOMPARE(Lists.List().size(), Words[0] == "remove" ? 1 : 2);
    }
};

QTEST_GUILESS_MAIN(TestMpdPlaylists)
#include "tst_mpdplaylists.moc"
