#include "MpdQueries.h"
#include "PlayTo.h"

#include <QtTest>

class TestMpdLibrary : public QObject {
    Q_OBJECT

    static TTrackTags Song(const QString &Artist, const QString &Album, qint64 Ms = 0) {
        TTrackTags Tags;
        if (!Artist.isEmpty())
            Tags.Artists = {Artist};
        Tags.Album = Album;
        Tags.DurationMs = Ms;
        return Tags;
    }

private Q_SLOTS:
    void uris_data() {
        QTest::addColumn<QByteArrayList>("Sources");
        QTest::addColumn<QString>("Root");
        QTest::addColumn<QByteArrayList>("Uris");
        QTest::newRow("folders below one") << QByteArrayList{"/m/a/x.mp3", "/m/b/y.mp3"} << "/m"
                                           << QByteArrayList{"a/x.mp3", "b/y.mp3"};
        QTest::newRow("shared text is no folder")
            << QByteArrayList{"/m/bc/x.mp3", "/m/bd/y.mp3", "/m/b/z.mp3"} << "/m"
            << QByteArrayList{"bc/x.mp3", "bd/y.mp3", "b/z.mp3"};
        QTest::newRow("file names repeat") << QByteArrayList{"/m/a/x%.mp3", "/m/b/x%.mp3"} << "/m"
                                           << QByteArrayList{"a/x%.mp3", "b/x%.mp3"};
        QTest::newRow("one file") << QByteArrayList{"/m/a/x.mp3"} << "/m/a"
                                  << QByteArrayList{"x.mp3"};
        QTest::newRow("nothing shared")
            << QByteArrayList{"/x.mp3", "/m/y.mp3"} << "" << QByteArrayList{"x.mp3", "m/y.mp3"};
        QTest::newRow("http rows as they are") << QByteArrayList{"http://h/s.mp3", "/m/a.mp3"}
                                               << "/m" << QByteArrayList{"http://h/s.mp3", "a.mp3"};
    }

    void uris() {
        QFETCH(QByteArrayList, Sources);
        QFETCH(QString, Root);
        QFETCH(QByteArrayList, Uris);
        const TMpdLibrary Library(Sources, {});
        QCOMPARE(QString::fromUtf8(Library.Root()), Root);
        for (int Row = 0; Row < Sources.size(); ++Row) {
            QCOMPARE(Library.Uri(Row).toByteArray(), Uris[Row]);
            QCOMPARE(Library.RowOf(Uris[Row]), Row);
            QCOMPARE(Library.UriOf(Sources[Row]), Uris[Row]);
            const QByteArray Url = Library.PlayUrl(Row, "10.0.0.2", 37401);
            QCOMPARE(Url, PlayURLs({Sources[Row]}, Sources, "10.0.0.2", 37401).first());
            if (Sources[Row].startsWith('/'))
                QCOMPARE(Library.RowOfServedName(QByteArray::fromPercentEncoding(
                             Url.mid(QByteArray("http://10.0.0.2:37401/").size()))),
                         Row);
        }
        QCOMPARE(Library.RowOf("nope.mp3"), -1);
    }

    void answers_data() {
        QTest::addColumn<QByteArrayList>("Command");
        QTest::addColumn<QString>("Answer");
        QTest::newRow("lsinfo top")
            << QByteArrayList{"lsinfo", ""}
            << "directory: a\ndirectory: b\nfile: t.mp3\nfile: http://h/r.mp3\n";
        QTest::newRow("lsinfo folder")
            << QByteArrayList{"lsinfo", "/a/"}
            << "directory: a/c\nfile: a/x.mp3\nArtist: ABBA\nAlbum: Gold\nTime: 2\n"
               "duration: 1.500\n";
        QTest::newRow("lsinfo song")
            << QByteArrayList{"lsinfo", "b/y.mp3"} << "file: b/y.mp3\nArtist: Cé\nAlbum: Gold\n";
        QTest::newRow("lsinfo missing") << QByteArrayList{"lsinfo", "q"} << "50 No such directory";
        QTest::newRow("listall")
            << QByteArrayList{"listall", ""}
            << "directory: a\ndirectory: a/c\nfile: a/c/z.mp3\nfile: a/x.mp3\ndirectory: b\n"
               "file: b/y.mp3\nfile: t.mp3\nfile: http://h/r.mp3\n";
        QTest::newRow("listall folder")
            << QByteArrayList{"listall", "a/c"} << "directory: a/c\nfile: a/c/z.mp3\n";
        QTest::newRow("list with group")
            << QByteArrayList{"list", "album", "group", "artist"}
            << "Artist: \nAlbum: \nArtist: ABBA\nAlbum: Gold\nAlbum: Mix Artist: Evil\nArtist: Cé\n"
               "Album: Gold\n";
        QTest::newRow("list album ARTIST")
            << QByteArrayList{"list", "album", "ABBA"} << "Album: Gold\nAlbum: Mix Artist: Evil\n";
        QTest::newRow("list file filtered")
            << QByteArrayList{"list", "file", "(base 'a')"} << "file: a/c/z.mp3\nfile: a/x.mp3\n";
        QTest::newRow("list artist ARTIST")
            << QByteArrayList{"list", "artist", "ABBA"} << "2 should be \"Album\" for 3 arguments";
        QTest::newRow("count grouped")
            << QByteArrayList{"count", "album", "Gold", "group", "artist"}
            << "Artist: ABBA\nsongs: 1\nplaytime: 2\nArtist: Cé\nsongs: 1\nplaytime: 0\n";
        QTest::newRow("count none")
            << QByteArrayList{"count", "artist", "no"} << "songs: 0\nplaytime: 0\n";
        QTest::newRow("search sorted window")
            << QByteArrayList{"search", "album", "O", "sort", "-Artist", "window", "1:2"}
            << "file: a/x.mp3\nArtist: ABBA\nAlbum: Gold\nTime: 2\nduration: 1.500\n";
    }

    void answers() {
        QFETCH(QByteArrayList, Command);
        QFETCH(QString, Answer);
        const auto Library = std::make_shared<const TMpdLibrary>(
            QByteArrayList{"/m/b/y.mp3", "/m/a/x.mp3", "http://h/r.mp3", "/m/a/c/z.mp3",
                           "/m/t.mp3"},
            QList<TTrackTags>{Song("Cé", "Gold"),
                              Song("ABBA", "Gold", 1500),
                              {},
                              Song("ABBA", "Mix\nArtist: Evil")});
        const QByteArray Word = Command.takeFirst();
        TMpdResponse Out;
        QByteArray Got;
        try {
            if (Word == "lsinfo")
                MpdLsInfo(Out, Library, Command[0], MpdAllTags);
            else if (Word == "listall")
                MpdListAll(Out, Library, Command[0], false, MpdAllTags);
            else if (Word == "list")
                MpdList(Out, Library, Command);
            else if (Word == "count")
                MpdCount(Out, *Library, Command, TMpdMatch::Exact);
            else
                MpdSongs(Out, Library, MpdFindRows(*Library, Command, TMpdMatch::Folded),
                         MpdAllTags);
            for (TMpdStep Step = Out.TakeStream(); Step && !Step(Out);) {
            }
            Got = Out.Take();
        } catch (const TMpdError &Error) {
            Got = QByteArray::number(int(Error.Code)) + ' ' + Error.Text;
        }
        QCOMPARE(QString::fromUtf8(Got), Answer);
    }
};

QTEST_GUILESS_MAIN(TestMpdLibrary)
#include "tst_mpdlibrary.moc"
