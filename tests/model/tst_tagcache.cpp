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
        QVERIFY(WriteAtPath(Changed, "audio")); // same size, new time
        const timespec Times[2] = {{0, UTIME_OMIT}, {1, 7}};
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
