#include "LibraryFolders.h"
#include "MusicLibrary.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestLibraryFolders : public QObject {
    Q_OBJECT

    static bool Touch(const QString &Path) { return QFile(Path).open(QIODevice::WriteOnly); }

private Q_SLOTS:
    void settingsValue_data() {
        QTest::addColumn<QByteArray>("Value");
        QTest::addColumn<QByteArrayList>("Folders");
        QTest::newRow("two, blanks around")
            << QByteArray(" /a ;/b c") << QByteArrayList{"/a", "/b c"};
        QTest::newRow("relative and repeated dropped")
            << QByteArray("x;/a;;/a") << QByteArrayList{"/a"};
        QTest::newRow("none") << QByteArray() << QByteArrayList{};
    }

    void settingsValue() {
        QFETCH(QByteArray, Value);
        QFETCH(QByteArrayList, Folders);
        QCOMPARE(TLibraryFolders::ParseFolders(Value), Folders);
        QCOMPARE(TLibraryFolders::ParseFolders(TLibraryFolders::FoldersValue(Folders)), Folders);
    }

    // Files there at the start come in; files put there later (in new folders too) follow;
    // hidden ones and files outside stay out.
    void followsTheFolders() {
        QTemporaryDir Dir;
        QVERIFY(Dir.isValid());
        const QString Music = Dir.filePath("Music");
        QVERIFY(QDir().mkpath(Music + "/Old"));
        QVERIFY(Touch(Music + "/Old/a.mp3"));
        TMusicLibrary Library;
        TLibraryFolders Folders(Library);
        Folders.SetSettleDelay(0);
        QSignalSpy Walked(&Folders, &TLibraryFolders::WalkFinished);
        Folders.SetFolders({QFile::encodeName(Music)});
        QVERIFY(Walked.wait(10000));
        QCOMPARE(Library.RowSources(), QByteArrayList{QFile::encodeName(Music + "/Old/a.mp3")});
        QCOMPARE(Folders.Watched(), 2);

        QVERIFY(Touch(Music + "/.hidden.mp3"));
        QVERIFY(Touch(Dir.filePath("outside.mp3")));
        QVERIFY(Touch(Music + "/b.flac"));
        QTRY_COMPARE_WITH_TIMEOUT(Library.Count(), 2, 10000);
        QVERIFY(QDir().mkpath(Music + "/New"));
        QVERIFY(Touch(Music + "/New/c.ogg"));
        QTRY_COMPARE_WITH_TIMEOUT(Library.Count(), 3, 10000);
        QVERIFY(Touch(Music + "/New/d.opus")); // the new folder is watched as well
        QTRY_COMPARE_WITH_TIMEOUT(Library.Count(), 4, 10000);
        QCOMPARE(FileNames(Library), (QStringList{"a.mp3", "b.flac", "c.ogg", "d.opus"}));
    }

private:
    static QStringList FileNames(const TMusicLibrary &Library) {
        QStringList Names;
        for (const TLibraryEntry &Entry : Library.Rows())
            Names.append(QString::fromUtf8(Entry.Name));
        return Names;
    }
};

QTEST_GUILESS_MAIN(TestLibraryFolders)
#include "tst_libraryfolders.moc"
