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
        const auto Touch = [](const QByteArray &Path, long Ns) {
            const timespec Times[2] = {{0, UTIME_OMIT}, {1000, Ns}};
            return utimensat(AT_FDCWD, Path.constData(), Times, 0) == 0;
        };
        TTagCache Cache;
        for (const QByteArray &Path : {Odd, Changed, Gone}) {
            QVERIFY(WriteAtPath(Path, "audio") && Touch(Path, 5));
            Cache.Put(Tagged(Path, StampOf(Path)));
        }
        const QString File = FDir.filePath("cache/tags.bin");
        QVERIFY(Cache.Save(File));
        // The same size, within the same second.
        QVERIFY(WriteAtPath(Changed, "audio") && Touch(Changed, 7));
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

    // Tags cut to 10 bytes: "title|artist;artist|album" before and after.
    void boundPerFile_data() {
        QTest::addColumn<QString>("Tags");
        QTest::addColumn<QString>("Kept");
        QTest::newRow("within the bound") << "Ab|X;Y|Z"
                                          << "Ab|X;Y|Z";
        QTest::newRow("title, artists, then album") << "0123456|abc;def|zz"
                                                    << "0123456|abc|";
        QTest::newRow("never inside a character") << "012345678|é|"
                                                  << "012345678||";
        QTest::newRow("nor inside a pair") << "0123456😀||"
                                           << "0123456||";
    }
    void boundPerFile() {
        QFETCH(QString, Tags);
        const QStringList F = Tags.split(u'|');
        TTrackTags T;
        T.Title = F[0], T.Artists = F[1].split(u';', Qt::SkipEmptyParts), T.Album = F[2];
        BoundTagText(T, 10);
        QTEST(T.Title + u'|' + T.Artists.join(u';') + u'|' + T.Album, "Kept");
        // A record read trusts no writer: tags past the bound are refused.
        QByteArray Record;
        T.Genre.fill(u'x', MaxFileTagBytes + 1 - TagTextBytes(T));
        PutFileTags(Record, {"/a.mp3", {}, TTagStatus::Read, T});
        TByteReader In(Record);
        QVERIFY(!TakeFileTags(In, *std::make_unique<TFileTags>()));
    }

    // What is in the cache file's place: read only when it is this user's own file; reported,
    // then replaced by the next write, in a folder only this user may write.
    void fileKinds_data() {
        QTest::addColumn<QByteArray>("Kind");
        QTest::addColumn<bool>("Read");
        for (const char *Kind : {"link", "pipe", "device", "foreign", "huge"})
            QTest::newRow(Kind) << QByteArray(Kind) << false;
        QTest::newRow("own file") << QByteArray("own") << true;
    }
    void fileKinds() {
        QFETCH(QByteArray, Kind);
        QFETCH(bool, Read);
        QTemporaryDir Dir;
        const QString File = Dir.filePath("cache/tags.bin"), Other = Dir.filePath("other.bin");
        const QByteArray Path = QFile::encodeName(File), Bytes = TwoEntries().ToBytes();
        QVERIFY(QDir().mkpath(Dir.filePath("cache")) &&
                WriteAtPath(QFile::encodeName(Other), Bytes));
        QVERIFY(QFile::setPermissions(Dir.filePath("cache"), QFileDevice::Permissions(0x7777)));
        if (Kind == "link" || Kind == "device")
            QVERIFY(QFile::link(Kind == "link" ? Other : "/dev/zero", File));
        else if (Kind == "pipe")
            QCOMPARE(::mkfifo(Path.constData(), 0600), 0);
        else
            QVERIFY(WriteAtPath(Path, Bytes));
        if (Kind == "huge")
            QCOMPARE(::truncate(Path.constData(), TTagCache::MaxFileBytes + 1), 0);
        if (Kind == "foreign" && ::chown(Path.constData(), 65534, 65534) != 0)
            QSKIP("cannot give a file to another user here");
        TTagCache Cache;
        QString Problem;
        QCOMPARE(Cache.Load(File, &Problem), Read);
        QCOMPARE(Problem.isEmpty(), Read);
        QVERIFY(Cache.Save(File));
        struct stat Info {};
        QVERIFY(::lstat(Path.constData(), &Info) == 0 && S_ISREG(Info.st_mode));
        QVERIFY(QFileInfo(Dir.filePath("cache")).permissions() == QFileDevice::Permissions(0x7755));
        QCOMPARE(ReadAll(Other), Bytes); // a link's target is left alone
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
