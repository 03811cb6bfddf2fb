#include "FolderWalk.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// A tree is a list of entries: "dir/", "file", or "link->target" (relative to the link).
class TestFolderWalk : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void walk_data() {
        QTest::addColumn<QStringList>("Tree");
        QTest::addColumn<QStringList>("Roots");
        QTest::addColumn<QStringList>("Expected");
        QTest::newRow("audio only, path order")
            << QStringList{"b.mp3",     "a/",    "a/z.FLAC", "a b/",
                           "a b/x.ogg", "a.txt", "a.mp",     "c.opus"}
            << QStringList{""} << QStringList{"a b/x.ogg", "a/z.FLAC", "b.mp3", "c.opus"};
        QTest::newRow("hidden skipped")
            << QStringList{".hid/", ".hid/a.mp3", ".b.mp3", "v/", "v/c.mp3"} << QStringList{""}
            << QStringList{"v/c.mp3"};
        QTest::newRow("loop to itself and to its parent")
            << QStringList{"a/", "a/s.mp3", "a/self->.", "a/up->.."} << QStringList{""}
            << QStringList{"a/s.mp3"};
        QTest::newRow("linked folder and file counted once")
            << QStringList{"m/", "m/x.wav", "n->m", "y.wav->m/x.wav"} << QStringList{""}
            << QStringList{"m/x.wav"};
        QTest::newRow("a link sorting first gives way to the file itself")
            << QStringList{"a.mp3->z/b.mp3", "k->z", "z/", "z/b.mp3", "m.mp3"} << QStringList{""}
            << QStringList{"m.mp3", "z/b.mp3"};
        QTest::newRow("what only links lead to comes last")
            << QStringList{"o/", "o/x.mp3", "s/", "s/a->../o", "s/b.mp3"} << QStringList{"s"}
            << QStringList{"s/b.mp3", "s/a/x.mp3"};
        QTest::newRow("broken link") << QStringList{"gone.mp3->nothing.mp3", "k.mp3"}
                                     << QStringList{""} << QStringList{"k.mp3"};
        QTest::newRow("a root under another")
            << QStringList{"s/", "s/a.mp3", "t.mp3"} << QStringList{"s", ""}
            << QStringList{"s/a.mp3", "t.mp3"};
        QTest::newRow("missing root")
            << QStringList{"a.mp3"} << QStringList{"none"} << QStringList{};
    }

    void walk() {
        QFETCH(QStringList, Tree);
        QFETCH(QStringList, Roots);
        QFETCH(QStringList, Expected);
        QTemporaryDir Dir;
        QVERIFY(Dir.isValid());
        const QString Top = Dir.path() + u'/';
        for (const QString &Entry : Tree) {
            if (Entry.endsWith(u'/'))
                QVERIFY(QDir().mkpath(Top + Entry));
            else if (Entry.contains(QStringLiteral("->")))
                QVERIFY(QFile::link(Entry.section(QStringLiteral("->"), 1),
                                    Top + Entry.section(QStringLiteral("->"), 0, 0)));
            else
                QVERIFY(QFile(Top + Entry).open(QIODevice::WriteOnly));
        }
        QByteArrayList RootPaths;
        for (const QString &Root : Roots)
            RootPaths.append(QFile::encodeName(Top + Root));
        QByteArrayList Want;
        for (const QString &Path : Expected)
            Want.append(QFile::encodeName(Top + Path));
        QCOMPARE(TFolderWalk::AudioFilesUnder(RootPaths), Want);
        // In pieces, the same.
        TFolderWalk Walk(RootPaths);
        QByteArrayList Pieces;
        while (!Walk.Done())
            Pieces += Walk.Next(1);
        QCOMPARE(Pieces, Want);
    }
};

QTEST_GUILESS_MAIN(TestFolderWalk)
#include "tst_folderwalk.moc"
