#include "LibraryTags.h"
#include "TagScanner.h"
#include "TestMedia.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestLibraryTags : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;

    QByteArray PathOf(const char *Name) const { return QFile::encodeName(FDir.filePath(Name)); }

private Q_SLOTS:
    // A scan fills rows and cache; the next run shows the cache's tags at once, then rescans.
    void scanThenCache() {
        QVERIFY(WriteWav(FDir.filePath("a.wav"), 0.1, 8000, "Fjellsang", "Annbjørg Lien"));
        QVERIFY(WriteWav(FDir.filePath("gone.wav"), 0.1, 8000, "Gone"));
        const QByteArrayList Sources{PathOf("a.wav"), "http://h/x.mp3", PathOf("gone.wav"),
                                     PathOf("a.wav")};
        const QString CacheFile = FDir.filePath("cache/tags.bin");
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
        QVERIFY(QFile::remove(FDir.filePath("gone.wav")));
        QVERIFY(WriteWav(FDir.filePath("a.wav"), 0.2, 8000, "Changed"));
        TTagScanner Scanner(VX_TAGSCAN_EXE);
        TLibraryTags Tags(&Scanner, CacheFile);
        QSignalSpy Done(&Tags, &TLibraryTags::ScanFinished);
        Tags.SetSources(Sources);
        QCOMPARE(Tags.Tags(2).Title, "Gone");
        QCOMPARE(Scanner.Pending(), 0);
        Tags.Rescan();
        QVERIFY(Done.wait(30000));
        QCOMPARE(Tags.Tags(0).Title, "Changed");
        QCOMPARE(Tags.State(2), TRowTagState::Missing);
        QCOMPARE(Tags.Find(u"gone"), QList<int>{2}); // a missing file keeps its row and tags
        QCOMPARE(Tags.Done(), 2);
    }
};

QTEST_GUILESS_MAIN(TestLibraryTags)
#include "tst_librarytags.moc"
