#include "LibraryTags.h"
#include "TagScanner.h"
#include "TestMedia.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using TStatuses = QMap<QByteArray, int>;

class TestTagScanner : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;

private Q_SLOTS:
    void initTestCase() { QVERIFY(FDir.isValid()); }

    // Files are asked for in the order of their names. Names starting with "known" are asked about
    // with the stamp they have; "gone" is no file, "fifo" a pipe.
    void scan_data() {
        QTest::addColumn<QString>("Program");
        QTest::addColumn<TStatuses>("Expected");
        const int Read = 0, Unreadable = 1, Missing = 2, Unchanged = 3;
        TStatuses Many, Slow;
        for (int I = 0; I < 40; ++I)
            Many.insert("many" + QByteArray::number(I) + ".wav", Read);
        for (int I = 0; I < 5; ++I) // a quarter of the time-out each, more than it together
            Slow.insert("slow" + QByteArray::number(I) + ".wav", Read);
        const QString Real = VX_TAGSCAN_EXE, Faulty = VX_FAULTY_TAGSCAN_EXE;
        QTest::newRow("shipped program, read, missing, unchanged")
            << Real
            << TStatuses{{"a.wav", Read},
                         {"fifo.wav", Unreadable},
                         {"gone.wav", Missing},
                         {"known.wav", Unchanged}};
        QTest::newRow("two processes, many files") << Real << Many;
        for (const QByteArray Fault : {"crash", "hang"}) // costs that file only
            QTest::newRow(Fault.constData()) << Faulty
                                             << TStatuses{{"a.wav", Read},
                                                          {Fault + ".wav", Unreadable},
                                                          {"x.wav", Read},
                                                          {"y.wav", Read}};
        QTest::newRow("nonsense on the pipe")
            << Faulty
            << TStatuses{{"garbage.wav", Unreadable}, {"b.wav", Read}, {"crash2.wav", Unreadable}};
        QTest::newRow("slow files each have the whole time-out") << Faulty << Slow;
        QTest::newRow("runs at idle priority") << Faulty << TStatuses{{"priority.wav", Read}};
        QTest::newRow("a file that changes while read is read again")
            << Faulty << TStatuses{{"changedonce.wav", Read}, {"changing.wav", Read}};
    }

    void scan() {
        QFETCH(QString, Program);
        QFETCH(TStatuses, Expected);
        QList<TTagRequest> Requests;
        for (const QByteArray &Name : Expected.keys()) {
            const QByteArray Path = QFile::encodeName(FDir.filePath(Name));
            if (Name.startsWith("fifo"))
                QCOMPARE(::mkfifo(Path.constData(), 0600), 0);
            else if (!Name.startsWith("gone"))
                QVERIFY(WriteWav(QFile::decodeName(Path), 0.1, 8000, Name));
            Requests.append({Path, Name.startsWith("known") ? StampOf(Path) : TFileStamp()});
        }
        TTagScanner Scanner(Program);
        Scanner.SetProcessCount(2);
        Scanner.SetFileTimeout(3000);
        Scanner.SetBatching(4, 50);
        QSignalSpy Done(&Scanner, &TTagScanner::Finished);
        TStatuses Got;
        connect(&Scanner, &TTagScanner::TagsRead, this, [&](const QList<TFileTags> &Batch) {
            QVERIFY(Batch.size() <= 4);
            for (const TFileTags &Entry : Batch) {
                const QByteArray Name = Entry.Path.mid(Entry.Path.lastIndexOf('/') + 1);
                QVERIFY2(!Got.contains(Name), Name);
                Got.insert(Name, int(Entry.Status));
                // A crashed file keeps its stamp; one that never held still has none.
                if (Name.startsWith("changing"))
                    QVERIFY(!Entry.Stamp.IsValid());
                else
                    QCOMPARE(Entry.Stamp, StampOf(Entry.Path));
                if (Entry.Status == TTagStatus::Read) // "priority": its nice value and I/O class
                    QCOMPARE(Entry.Tags.Title.toUtf8(),
                             Name.startsWith("priority") ? "19 3" : Name);
            }
        });
        Scanner.Scan(Requests);
        QVERIFY(Done.wait(60000));
        QCOMPARE(Got, Expected);
        QCOMPARE(Scanner.Pending(), 0);
    }

    void programThatDoesNotRun() {
        TTagScanner Scanner(FDir.filePath("no-such-program"));
        QSignalSpy Failed(&Scanner, &TTagScanner::Failed);
        Scanner.Scan({{"/a.wav", {}}});
        QVERIFY(Failed.wait(30000));
        QCOMPARE(Scanner.Pending(), 0);
    }

    // Past the library's budget a file keeps what a real one needs, from a scan or the cache.
    void libraryBudget() {
        QTemporaryDir Dir;
        QByteArrayList Sources;
        for (const char *Name : {"a.wav", "b.wav", "c.wav"}) {
            QVERIFY(WriteWav(Dir.filePath(Name), 0.1, 8000, QByteArray(1000, *Name)));
            Sources.append(QFile::encodeName(Dir.filePath(Name)));
        }
        TTagScanner Scanner(VX_TAGSCAN_EXE);
        Scanner.SetProcessCount(1);
        for (const qint64 Budget : {2500, 1500}) { // read, then from the cache
            TLibraryTags Tags(&Scanner, Dir.filePath("tags.bin"));
            Tags.SetTagBudget(Budget);
            QSignalSpy Done(&Tags, &TLibraryTags::ScanFinished);
            Tags.SetSources(Sources);
            QVERIFY(Budget < 2500 || Done.wait(30000));
            QCOMPARE(Tags.Tags(1).Title.size(), Budget < 2500 ? 512 : 1000);
            QCOMPARE(Tags.Tags(2).Title.size(), TLibraryTags::OverBudgetTagBytes);
        }
    }

    // A scan fills rows and cache; the next run shows the cache's tags at once, then rescans.
    void libraryScanThenCache() {
        QTemporaryDir Dir;
        const auto PathOf = [&](const char *Name) { return QFile::encodeName(Dir.filePath(Name)); };
        QVERIFY(WriteWav(Dir.filePath("a.wav"), 0.1, 8000, "Fjellsang", "Annbjørg Lien"));
        QVERIFY(WriteWav(Dir.filePath("gone.wav"), 0.1, 8000, "Farewell"));
        const QByteArrayList Sources{PathOf("a.wav"), "http://h/x.mp3", PathOf("gone.wav"),
                                     PathOf("a.wav")};
        const QString CacheFile = Dir.filePath("cache/tags.bin");
        {
            TTagScanner Scanner(VX_TAGSCAN_EXE);
            TLibraryTags Tags(&Scanner, CacheFile);
            QSignalSpy Done(&Tags, &TLibraryTags::ScanFinished);
            Tags.SetSources(Sources);
            QVERIFY(Done.wait(30000));
            QCOMPARE(Tags.Tags(3).Caption(), "Fjellsang - Annbjørg Lien");
            QCOMPARE(Tags.State(1), TRowTagState::Remote);
            QCOMPARE(Tags.Find(u"annbjorg"), QList<int>({0, 3}));
        }
        QVERIFY(QFile::remove(Dir.filePath("gone.wav")));
        QVERIFY(WriteWav(Dir.filePath("a.wav"), 0.2, 8000, "Changed"));
        TTagScanner Scanner(VX_TAGSCAN_EXE);
        TLibraryTags Tags(&Scanner, CacheFile);
        QSignalSpy Done(&Tags, &TLibraryTags::ScanFinished);
        Tags.SetSources(Sources);
        QCOMPARE(Tags.Tags(2).Title, "Farewell");
        QCOMPARE(Scanner.Pending(), 0);
        Tags.Rescan();
        QVERIFY(Done.wait(30000));
        QCOMPARE(Tags.Tags(0).Title, "Changed");
        QCOMPARE(Tags.State(2), TRowTagState::Missing);
        // A missing file keeps its row and tags (found by a tag, not by its name).
        QCOMPARE(Tags.Find(u"farewell"), QList<int>{2});
        QCOMPARE(Tags.Done(), 2);
        // The cache is let go after the scan's save and read again for the next rescan: the
        // unchanged file is not read again, only the missing one is said again.
        QTRY_VERIFY(!Tags.HoldsCache());
        QSignalSpy Changed(&Tags, &TLibraryTags::RowsChanged);
        Tags.Rescan();
        QVERIFY(Done.wait(30000));
        QList<int> Rows;
        for (const QList<QVariant> &Args : std::as_const(Changed))
            Rows += Args.at(0).value<QList<int>>();
        QCOMPARE(Rows, QList<int>{2});
        QCOMPARE(Tags.Tags(0).Title, "Changed");
    }
};

QTEST_GUILESS_MAIN(TestTagScanner)
#include "tst_tagscanner.moc"
