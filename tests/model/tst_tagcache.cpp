#include "ByteRecord.h"
#include "TagCache.h"
#include "TestFiles.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

class TestTagCache : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;

    QByteArray PathOf(const QByteArray &Name) const {
        return QFile::encodeName(FDir.path()) + '/' + Name;
    }
    // A read file's entry whose texts hold tabs, line breaks and separators.
    static TFileTags Tagged(const QByteArray &Path, const TFileStamp &Stamp) {
        TFileTags Entry{Path, Stamp, TTagStatus::Read, {}};
        Entry.Tags.Title = "T\t\n\ré";
        Entry.Tags.Artists = {"x/y", "z; w"};
        Entry.Tags.DurationMs = 1234;
        Entry.Tags.Compilation = true;
        Entry.Tags.AlbumGain = -620;
        return Entry;
    }
    // A cache holding one read file and one the reader could not read.
    TTagCache TwoEntries() {
        TTagCache Cache;
        Cache.Put(Tagged(PathOf("a.mp3"), {5, 10}));
        Cache.Put({PathOf("b.mp3"), {6, 11}, TTagStatus::Unreadable, {}});
        return Cache;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(FDir.isValid()); }

    void roundTripFollowsFiles() {
        const QByteArray Odd = PathOf("caf\xe9\xff.flac"), Changed = PathOf("changed.ogg"),
                         Gone = PathOf("gone.opus");
        TTagCache Cache;
        for (const QByteArray &Path : {Odd, Changed, Gone}) {
            QVERIFY(WriteAtPath(Path, "audio"));
            Cache.Put(Tagged(Path, StampOf(Path)));
        }
        const QString File = FDir.filePath("cache/tags.bin");
        QVERIFY(Cache.Save(File));
        const qint64 Was = StampOf(Changed).MTimeNs; // the same size and second, not nanosecond
        QVERIFY(WriteAtPath(Changed, "audio"));
        const timespec Times[2] = {{0, UTIME_OMIT}, {Was / 1000000000, (Was % 1000000000) ^ 1}};
        QCOMPARE(utimensat(AT_FDCWD, Changed.constData(), Times, 0), 0);
        QCOMPARE(::unlink(Gone.constData()), 0);

        TTagCache Loaded;
        QVERIFY(Loaded.Load(File));
        QCOMPARE(Loaded.Count(), 3);
        QVERIFY(Loaded.FindCurrent(Odd, StampOf(Odd)) &&
                *Loaded.FindCurrent(Odd, StampOf(Odd)) == Tagged(Odd, StampOf(Odd)));
        QVERIFY(!Loaded.FindCurrent(Changed, StampOf(Changed)));
        QVERIFY(!Loaded.FindCurrent(Gone, StampOf(Gone)));
        QVERIFY(Loaded.Find(Gone)); // a missing file keeps its tags
        Loaded.Put({Gone, {}, TTagStatus::Missing, {}});
        QVERIFY(Loaded.Find(Gone));
        Loaded.KeepOnly({Odd});
        QCOMPARE(Loaded.Count(), 1);
        QCOMPARE(::unlink(Odd.constData()), 0); // a name QTemporaryDir cannot remove
    }

    // A file's tags are cut to the bound together, title first, never inside a character; a
    // record holding more is refused whoever wrote it.
    void boundPerFile() {
        TTrackTags T;
        T.Title = "012345678", T.Artists = {"é", "x"}, T.Album = "y";
        BoundTagText(T, 10);
        QCOMPARE(T.Title + T.Artists.join(u';') + T.Album, "012345678");
        QByteArray Record;
        T.Genre.fill(u'x', MaxFileTagBytes + 1 - TagTextBytes(T));
        PutFileTags(Record, {"/a.mp3", {}, TTagStatus::Read, T});
        TByteReader In(Record);
        QVERIFY(!TakeFileTags(In, *std::make_unique<TFileTags>()));
    }

    // The file in the cache's place is read only when it is this user's own; else it is
    // reported, and replaced by the next write (in a folder only this user may write).
    void fileKinds_data() {
        QTest::addColumn<QByteArray>("Kind");
        for (const char *Kind : {"own", "link", "pipe", "device", "foreign", "huge"})
            QTest::newRow(Kind) << QByteArray(Kind);
    }
    void fileKinds() {
        QFETCH(QByteArray, Kind);
        const QString Folder = FDir.filePath(Kind), File = Folder + "/tags.bin", Other = File + "x";
        const QByteArray Path = QFile::encodeName(File);
        QVERIFY(QDir().mkpath(Folder) && WriteAll(Other, "x"));
        QVERIFY(QFile::setPermissions(Folder, QFileDevice::Permissions(0x7777)));
        QVERIFY(Kind == "link" || Kind == "device"
                    ? QFile::link(Kind == "link" ? Other : "/dev/zero", File)
                : Kind == "pipe" ? ::mkfifo(Path.constData(), 0600) == 0
                                 : WriteAtPath(Path, TwoEntries().ToBytes()));
        QVERIFY(Kind != "huge" || ::truncate(Path.constData(), TTagCache::MaxFileBytes + 1) == 0);
        if (Kind == "foreign" && ::chown(Path.constData(), 65534, 65534) != 0)
            QSKIP("cannot give a file to another user here");
        QString Problem;
        const bool Read = TTagCache().Load(File, &Problem);
        QVERIFY(Read == (Kind == "own") && Problem.isEmpty() == Read);
        QVERIFY(TTagCache().Save(File) && !QFileInfo(File).isSymLink() && QFileInfo(File).isFile());
        QCOMPARE(QFileInfo(Folder).permissions(), QFileDevice::Permissions(0x7755));
        QCOMPARE(ReadAll(Other), "x"); // a link's target is left alone
    }

    void damagedIgnored_data() {
        QTest::addColumn<int>("Cut");
        QTest::addColumn<int>("Flip");
        QTest::addColumn<QByteArray>("Append");
        QTest::newRow("cut short") << 20 << -1 << QByteArray();
        QTest::newRow("one byte changed in a value") << 0 << 40 << QByteArray();
        QTest::newRow("another version") << 0 << 8 << QByteArray();
        QTest::newRow("bytes after the end") << 0 << -1 << QByteArray("x");
        QTest::newRow("empty") << 100000 << -1 << QByteArray();
    }

    void damagedIgnored() {
        QFETCH(int, Cut);
        QFETCH(int, Flip);
        QFETCH(QByteArray, Append);
        QByteArray Data = TwoEntries().ToBytes();
        Data.chop(qMin<qsizetype>(Cut, Data.size()));
        if (Flip >= 0)
            Data[Flip] = char(Data[Flip] ^ 1);
        Data += Append;
        TTagCache Cache = TwoEntries();
        QVERIFY(!Cache.FromBytes(Data));
        QCOMPARE(Cache.Count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTagCache)
#include "tst_tagcache.moc"
