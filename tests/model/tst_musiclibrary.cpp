#include "MusicLibrary.h"
#include "TestFiles.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class TestMusicLibrary : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;

    QString PathOf(const QString &Name) const { return FDir.filePath(Name); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(FDir.isValid()); }

    void roundTrip_data() {
        QTest::addColumn<QByteArray>("File");
        QTest::addColumn<QByteArrayList>("Sources");
        QTest::addColumn<QByteArray>("Saved");
        QTest::newRow("blank line and repeats kept")
            << QByteArray("/m/a.mp3\r\n\r\n/m/a.mp3\r\n/M/A.MP3\r\n")
            << QByteArrayList{"/m/a.mp3", "", "/m/a.mp3", "/M/A.MP3"}
            << QByteArray("/m/a.mp3\r\n\r\n/m/a.mp3\r\n/M/A.MP3\r\n");
        QTest::newRow("last line without break")
            << QByteArray("/m/a.mp3\r\n/m/b.wav") << QByteArrayList{"/m/a.mp3", "/m/b.wav"}
            << QByteArray("/m/a.mp3\r\n/m/b.wav\r\n");
        QTest::newRow("LF only") << QByteArray("/a.mp3\n/b.mp3\n\n")
                                 << QByteArrayList{"/a.mp3", "/b.mp3", ""}
                                 << QByteArray("/a.mp3\r\n/b.mp3\r\n\r\n");
        QTest::newRow("CR only") << QByteArray("/a.mp3\r/b.mp3\r")
                                 << QByteArrayList{"/a.mp3", "/b.mp3"}
                                 << QByteArray("/a.mp3\r\n/b.mp3\r\n");
        QTest::newRow("NUL ends the text")
            << QByteArray("/a.mp3\r\n/b.m\0p3\r\n/c.mp3\r\n", 25)
            << QByteArrayList{"/a.mp3", "/b.m"} << QByteArray("/a.mp3\r\n/b.m\r\n");
        QTest::newRow("nothing trimmed or filtered")
            << QByteArray("  /a b.mp3 \t\r\nnotes.txt\r\nhttp://h/dir/\r\n")
            << QByteArrayList{"  /a b.mp3 \t", "notes.txt", "http://h/dir/"}
            << QByteArray("  /a b.mp3 \t\r\nnotes.txt\r\nhttp://h/dir/\r\n");
        QTest::newRow("empty file") << QByteArray() << QByteArrayList{} << QByteArray();
    }

    void roundTrip() {
        QFETCH(QByteArray, File);
        QFETCH(QByteArrayList, Sources);
        QFETCH(QByteArray, Saved);
        QVERIFY(WriteAll(PathOf("in.txt"), File));
        TMusicLibrary Library;
        QString Error;
        QVERIFY(Library.LoadFromFile(PathOf("in.txt"), &Error));
        QVERIFY(Error.isEmpty());
        QCOMPARE(Library.Library(), Sources);
        QCOMPARE(Library.RowSources(), Sources);
        QCOMPARE(*Library.Snapshot(), Sources);
        QVERIFY(Library.SaveToFile(PathOf("out.txt"), &Error));
        QCOMPARE(ReadAll(PathOf("out.txt")), Saved);
    }

    void displayNames() {
        QVERIFY(WriteAll(PathOf("names.txt"), "/home/u/Music/Song.mp3\r\n"
                                              "HTTP://host/x/Track.MP3?a=1#f\r\n"
                                              "http://host/dir/\r\n"
                                              "\r\n"
                                              "relative.wav\r\n"));
        TMusicLibrary Library;
        QVERIFY(Library.LoadFromFile(PathOf("names.txt")));
        QCOMPARE(Library.Count(), 5);
        const QByteArrayList Expected{"Song.mp3", "Track.MP3", "", "", "relative.wav"};
        for (int I = 0; I < Library.Count(); ++I) {
            QCOMPARE(Library.Row(I).Name, Expected[I]);
            QCOMPARE(Library.data(Library.index(I)).toString(), QString::fromUtf8(Expected[I]));
        }
    }

    void missingFileIsEmptyLibrary() {
        TMusicLibrary Library;
        QVERIFY(Library.AddToLibrary("/m/old.mp3"));
        QString Error;
        QVERIFY(Library.LoadFromFile(PathOf("does-not-exist.txt"), &Error));
        QVERIFY(Error.isEmpty());
        QCOMPARE(Library.Count(), 0);
        QVERIFY(Library.Snapshot()->isEmpty());
        QVERIFY(!QFile::exists(PathOf("does-not-exist.txt")));
    }

    void unreadableFileReportsError() {
        QVERIFY(QDir(FDir.path()).mkpath("a-folder.txt"));
        TMusicLibrary Library;
        QVERIFY(Library.AddToLibrary("/m/old.mp3"));
        QString Error;
        QVERIFY(!Library.LoadFromFile(PathOf("a-folder.txt"), &Error));
        QVERIFY2(Error.startsWith("Cannot open file"), qPrintable(Error));
        QVERIFY(Error.contains(PathOf("a-folder.txt")));
        QCOMPARE(Library.Count(), 0);

        // The next save keeps what could not be read instead of overwriting it.
        QVERIFY(QFile::exists(PathOf("a-folder.txt/keep.txt")) ||
                QFile(PathOf("a-folder.txt/keep.txt")).open(QIODevice::WriteOnly));
        QVERIFY(Library.AddToLibrary("/m/new.mp3"));
        QVERIFY2(Library.SaveToFile(PathOf("a-folder.txt"), &Error), qPrintable(Error));
        QVERIFY(QFile::exists(PathOf("a-folder.txt.unreadable/keep.txt")));
        QCOMPARE(ReadAll(PathOf("a-folder.txt")), QByteArray("/m/new.mp3\r\n"));

        // A second unreadable file is kept beside the first rescue, never over it.
        QVERIFY(QFile::remove(PathOf("a-folder.txt")));
        QVERIFY(QDir(FDir.path()).mkpath("a-folder.txt/second"));
        QVERIFY(!Library.LoadFromFile(PathOf("a-folder.txt"), &Error));
        QVERIFY2(Library.SaveToFile(PathOf("a-folder.txt"), &Error), qPrintable(Error));
        QVERIFY(QFile::exists(PathOf("a-folder.txt.unreadable/keep.txt")));
        QVERIFY(QFile::exists(PathOf("a-folder.txt.unreadable.2/second")));
    }

    void localSource_data() {
        QTest::addColumn<QByteArray>("Name"); // under the test folder
        QTest::addColumn<bool>("Lossy");      // the URL as Qt makes it from a QString
        const QByteArray Latin1 = "caf\xE9.mp3";
        QTest::newRow("UTF-8 name") << QByteArray("Caf\xC3\xA9.mp3") << true;
        QTest::newRow("Latin-1 name, exact URL") << Latin1 << false;
        QTest::newRow("Latin-1 name, through QString") << Latin1 << true;
        QTest::newRow("Latin-1 folder, through QString") << QByteArray("d\xFC/x.mp3") << true;
    }

    void localSource() {
        // Old collections have names that are not UTF-8: the library keeps their bytes.
        QFETCH(QByteArray, Name);
        QFETCH(bool, Lossy);
        const QByteArray Root = QFile::encodeName(FDir.path()) + "/bytes/";
        const QByteArray Path = Root + Name;
        QVERIFY(QDir().mkpath(FDir.filePath("bytes")));
        if (Name.contains('/')) {
            const QByteArray Folder = Root + Name.left(Name.indexOf('/'));
            QVERIFY(::mkdir(Folder.constData(), 0700) == 0 || errno == EEXIST);
        }
        const int Fd = ::open(Path.constData(), O_CREAT | O_WRONLY, 0600);
        QVERIFY2(Fd >= 0, Path.constData());
        ::close(Fd);
        const QUrl Url = Lossy ? QUrl::fromLocalFile(QFile::decodeName(Path))
                               : QUrl("file://" + QString::fromLatin1(Path.toPercentEncoding("/")));
        QCOMPARE(TMusicLibrary::LocalSource(Url), Path);
    }

    void addRules_data() {
        QTest::addColumn<QByteArray>("Source");
        QTest::addColumn<bool>("Added");
        QTest::addColumn<QByteArray>("Name");
        QTest::addColumn<int>("Why");
        QTest::newRow("local file")
            << QByteArray("/home/u/b.wav") << true << QByteArray("b.wav") << int(TRefusal::None);
        QTest::newRow("case-different duplicate") << QByteArray("/HOME/U/Music/A.MP3") << false
                                                  << QByteArray() << int(TRefusal::Duplicate);
        QTest::newRow("upper-case scheme kept") << QByteArray("HTTP://host/Song.MP3") << true
                                                << QByteArray("Song.MP3") << int(TRefusal::None);
        QTest::newRow("query cut from name") << QByteArray("http://host/a.mp3?x=1") << true
                                             << QByteArray("a.mp3") << int(TRefusal::None);
        QTest::newRow("folder URL")
            << QByteArray("http://host/dir/") << false << QByteArray() << int(TRefusal::NotAudio);
        QTest::newRow("not audio")
            << QByteArray("/home/u/notes.txt") << false << QByteArray() << int(TRefusal::NotAudio);
        QTest::newRow("no extension")
            << QByteArray("/home/u/Music") << false << QByteArray() << int(TRefusal::NotAudio);
        QTest::newRow("blank") << QByteArray("   ") << false << QByteArray()
                               << int(TRefusal::Blank);
        QTest::newRow("untrimmed kept")
            << QByteArray(" /x/c.mp3") << true << QByteArray("c.mp3") << int(TRefusal::None);
        // A name that cannot be one line of the library file.
        QTest::newRow("LF in name")
            << QByteArray("/x/a\nb.mp3") << false << QByteArray() << int(TRefusal::Unusable);
        QTest::newRow("CR in name")
            << QByteArray("/x/a\r.mp3") << false << QByteArray() << int(TRefusal::Unusable);
        QTest::newRow("NUL in name")
            << QByteArray("/x/a\0b.mp3", 10) << false << QByteArray() << int(TRefusal::Unusable);
        QTest::newRow("LF in URL")
            << QByteArray("http://h/a\n.mp3") << false << QByteArray() << int(TRefusal::Unusable);
    }

    void addRules() {
        QFETCH(QByteArray, Source);
        QFETCH(bool, Added);
        QFETCH(QByteArray, Name);
        QFETCH(int, Why);
        TMusicLibrary Library;
        QVERIFY(Library.AddToLibrary("/home/u/Music/a.mp3"));
        QList<TRefusedSource> Refused;
        QCOMPARE(Library.AddBatch({Source}, &Refused), Added ? 1 : 0);
        QCOMPARE(Refused.isEmpty() ? int(TRefusal::None) : int(Refused.first().Why), Why);
        const auto Told = [&](int W) {
            return W == int(TRefusal::NotAudio) || W == int(TRefusal::Unusable);
        };
        QCOMPARE(!RefusalNote(Refused).isEmpty(), Told(Why));
        QCOMPARE(Library.Count(), Added ? 2 : 1);
        QCOMPARE(Library.Library().size(), Library.Count());
        QCOMPARE(Library.Snapshot()->size(), Library.Count());
        if (Added) {
            QCOMPARE(Library.Row(1).Source, Source);
            QCOMPARE(Library.Row(1).Name, Name);
            QCOMPARE(Library.Library().last(), Source);
        }
    }

    void duplicateOfLoadedRepeat() {
        // A refused add still leaves the caller a consistent library to save.
        QVERIFY(WriteAll(PathOf("rep.txt"), "/m/a.mp3\r\n/m/a.mp3\r\n"));
        TMusicLibrary Library;
        QVERIFY(Library.LoadFromFile(PathOf("rep.txt")));
        QVERIFY(!Library.AddToLibrary("/M/a.mp3"));
        Library.RemoveRow(0);
        QVERIFY(!Library.AddToLibrary("/M/a.mp3")); // one copy still there
        Library.RemoveRow(0);
        QVERIFY(Library.AddToLibrary("/M/a.mp3"));
        QVERIFY(Library.SaveToFile(PathOf("rep.txt")));
        QCOMPARE(ReadAll(PathOf("rep.txt")), QByteArray("/M/a.mp3\r\n"));
    }

    void batchAddsInOrderAndPublishesOnce() {
        TMusicLibrary Library;
        QSignalSpy Inserted(&Library, &QAbstractItemModel::rowsInserted);
        const auto Before = Library.Snapshot();
        QCOMPARE(Library.AddBatch({"/a/1.mp3", "/a/x.txt", "/a/2.wav", "/A/1.MP3", "/a/3.mid"}), 3);
        QCOMPARE(Library.RowSources(), (QByteArrayList{"/a/1.mp3", "/a/2.wav", "/a/3.mid"}));
        QCOMPARE(Inserted.count(), 1);
        QVERIFY(Before->isEmpty()); // a reader's snapshot never changes under it
        QCOMPARE(Library.Snapshot()->size(), 3);
        QCOMPARE(Library.AddBatch({"/a/x.txt"}), 0);
    }

    void removeDeletesFirstCaseInsensitiveMatch() {
        QVERIFY(WriteAll(PathOf("rm.txt"), "/m/A.mp3\r\n/m/b.mp3\r\n/m/a.MP3\r\n/m/c.mp3\r\n"));
        TMusicLibrary Library;
        QVERIFY(Library.LoadFromFile(PathOf("rm.txt")));
        // Rows are reordered, FLibrary is not: removing the row "/m/a.MP3" drops
        // FLibrary's first case-equal string, "/m/A.mp3".
        QVERIFY(Library.SetRowOrder({2, 0, 1, 3}));
        QCOMPARE(Library.Row(0).Source, QByteArray("/m/a.MP3"));
        Library.RemoveRows({0, 3, 3, 99, -1});
        QCOMPARE(Library.RowSources(), (QByteArrayList{"/m/A.mp3", "/m/b.mp3"}));
        QCOMPARE(Library.Library(), (QByteArrayList{"/m/b.mp3", "/m/a.MP3"}));
        QCOMPARE(*Library.Snapshot(), Library.Library());
    }

    void removeScatteredRows() {
        TMusicLibrary Library;
        QByteArrayList Sources;
        for (int I = 0; I < 300; ++I)
            Sources.append("/m/" + QByteArray::number(I) + ".mp3");
        QCOMPARE(Library.AddBatch(Sources), 300);
        QList<int> Odd;
        QByteArrayList Even;
        for (int I = 0; I < 300; ++I)
            (I % 2 ? Odd.append(I) : Even.append(Sources[I]));
        Library.RemoveRows(Odd);
        QCOMPARE(Library.RowSources(), Even);
        QCOMPARE(Library.Library(), Even);
        QVERIFY(Library.AddToLibrary("/M/1.MP3")); // its key left the index
        QVERIFY(!Library.AddToLibrary("/M/2.MP3"));
    }

    void rowPrimitives() {
        TMusicLibrary Library;
        QCOMPARE(Library.AddBatch({"/a.mp3", "/b.mp3", "/c.mp3"}), 3);
        const QPersistentModelIndex Kept = Library.index(0);
        QVERIFY(!Library.SetRowOrder({0, 0, 1}));
        QVERIFY(!Library.SetRowOrder({0, 1}));
        QVERIFY(Library.SetRowOrder({2, 0, 1}));
        QCOMPARE(Kept.row(), 1);
        const TLibraryEntry Entry = Library.TakeRow(0);
        QCOMPARE(Entry.Source, QByteArray("/c.mp3"));
        Library.InsertRow(2, Entry);
        QCOMPARE(Library.RowSources(), (QByteArrayList{"/a.mp3", "/b.mp3", "/c.mp3"}));
        QCOMPARE(Library.Library(), (QByteArrayList{"/a.mp3", "/b.mp3", "/c.mp3"}));
    }

    void failedSaveKeepsOldFile_data() {
        QTest::addColumn<QString>("Target");
        QTest::newRow("parent is a file") << QStringLiteral("plain-file/MusicLibrary.txt");
        QTest::newRow("target is a folder") << QStringLiteral("folder-target");
    }

    void failedSaveKeepsOldFile() {
        QFETCH(QString, Target);
        QVERIFY(WriteAll(PathOf("plain-file"), "old bytes\r\n"));
        QVERIFY(QDir(FDir.path()).mkpath("folder-target"));
        TMusicLibrary Library;
        QVERIFY(Library.AddToLibrary("/a.mp3"));
        QString Error;
        QVERIFY(!Library.SaveToFile(PathOf(Target), &Error));
        QVERIFY2(Error.startsWith("Cannot create file"), qPrintable(Error));
        QVERIFY(Error.contains(PathOf(Target)));
        QCOMPARE(ReadAll(PathOf("plain-file")), QByteArray("old bytes\r\n"));
        QVERIFY(QFileInfo(PathOf("folder-target")).isDir());
    }

    void saveReplacesWholeFile() {
        QVERIFY(WriteAll(PathOf("whole.txt"), QByteArray(1000, 'x')));
        TMusicLibrary Library;
        QVERIFY(Library.SaveToFile(PathOf("whole.txt")));
        QCOMPARE(QFileInfo(PathOf("whole.txt")).size(), 0);
        QVERIFY(Library.AddToLibrary("/a.mp3"));
        QVERIFY(Library.SaveToFile(PathOf("whole.txt")));
        QCOMPARE(ReadAll(PathOf("whole.txt")), QByteArray("/a.mp3\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestMusicLibrary)
#include "tst_musiclibrary.moc"
