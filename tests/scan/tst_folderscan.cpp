#include "FolderScan.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestFolderScan : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A walk comes in slices of at most SliceSize, in path order, and ends after the last; a
    // cancel drops what was not handed over yet.
    void slices_data() {
        QTest::addColumn<int>("Files");
        QTest::addColumn<bool>("Cancel");
        QTest::newRow("one slice") << TFolderScan::SliceSize << false;
        QTest::newRow("two and one more") << TFolderScan::SliceSize * 2 + 1 << false;
        QTest::newRow("cancelled at the first") << TFolderScan::SliceSize * 2 + 1 << true;
    }
    void slices() {
        QFETCH(int, Files);
        QFETCH(bool, Cancel);
        QTemporaryDir Dir;
        QByteArrayList Paths;
        for (int I = 0; I < Files; ++I) {
            Paths << QFile::encodeName(Dir.filePath(QString::asprintf("%05d.mp3", I)));
            QVERIFY(QFile(QFile::decodeName(Paths.last())).open(QIODevice::WriteOnly));
        }
        TFolderScan Scan;
        QByteArrayList Found;
        QList<qsizetype> Sizes;
        connect(&Scan, &TFolderScan::Found, this, [&](const QByteArrayList &Slice) {
            QVERIFY(Slice.size() <= TFolderScan::SliceSize);
            Found << Slice;
            Sizes << Slice.size();
            if (Cancel)
                Scan.Cancel();
        });
        QSignalSpy Finished(&Scan, &TFolderScan::Finished);
        Scan.Start({QFile::encodeName(Dir.path())});
        QVERIFY(Finished.wait(10000));
        QCOMPARE(Finished.at(0).at(0).toBool(), Cancel);
        QVERIFY(!Cancel || Sizes.size() == 1);
        QCOMPARE(Found, Paths.mid(0, Cancel ? Sizes.value(0) : Files));
    }
};

QTEST_GUILESS_MAIN(TestFolderScan)
#include "tst_folderscan.moc"
