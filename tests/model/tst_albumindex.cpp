#include "AlbumIndex.h"
#include "LibraryListing.h"

#include <QtTest>

namespace {

// One track a line: "title|artist;artist|album|album artist|disc|track|year|flags|file"; flags:
// "c" compilation, "p" a picture.
void Parse(const QStringList &Lines, QList<TTrackTags> &Tags, QByteArrayList &Sources) {
    for (const QString &Line : Lines) {
        const QStringList F = Line.split(u'|');
        TTrackTags T;
        T.Title = F[0];
        T.Artists = F[1].split(u';', Qt::SkipEmptyParts);
        T.Album = F[2];
        T.AlbumArtist = F[3];
        T.Disc = F[4].toInt();
        T.Track = F[5].toInt();
        T.Year = F[6].toInt();
        T.Compilation = F[7].contains(u'c');
        if (F[7].contains(u'p'))
            T.CoverHash = "pic" + QByteArray::number(Tags.size());
        Tags.append(T);
        Sources.append("/music/" + F[8].toUtf8());
    }
}

QString Joined(const QList<int> &Rows) {
    QStringList Out;
    for (const int Row : Rows)
        Out.append(QString::number(Row));
    return Out.join(u',');
}

} // namespace

class TestAlbumIndex : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void albums_data() {
        QTest::addColumn<QStringList>("Tracks");
        // "artist/album=rows" in album order, "+" and the album's cover when it has one.
        QTest::addColumn<QStringList>("Albums");
        QTest::addColumn<QStringList>("Artists");
        QTest::newRow("compilation by album artist or flag, track artists differ")
            << QStringList{"b|X|Hits|VA|1|2|2001||b", "a|Y|Hits|VA|1|1|2001||a",
                           "c|Z|Hits|VA|1|3|2001|p|c", "d|X|Mix|||1|2005|c|d",
                           "e|Y|Mix|||2|2005|c|e"}
            << QStringList{"VA/Hits=1,0,2+pic2", "Various Artists/Mix=3,4"}
            << QStringList{"VA", "Various Artists", "X ~0=0 ~1=3", "Y ~0=1 ~1=4", "Z ~0=2"};
        QTest::newRow("one title, several artists, no album artist: several albums")
            << QStringList{"a|Y|Best||1|1|0||a", "b|X|Best||1|1|0||b"}
            << QStringList{"X/Best=1", "Y/Best=0"} << QStringList{"X", "Y"};
        QTest::newRow("leading The ignored, case and accents folded")
            << QStringList{"a|The Zombies|Z|||||p|a", "b|Édith Piaf|P|||||p|b",
                           "c|the Beatles|B|||||p|c", "d|edith piaf|Q||||||d",
                           "e|Abba|A||||||e",         "f|The|T||||||f"}
            << QStringList{"Abba/A=4",
                           "the Beatles/B=2+pic2",
                           "Édith Piaf/P=1+pic1",
                           "edith piaf/Q=3",
                           "The/T=5",
                           "The Zombies/Z=0+pic0"}
            << QStringList{"Abba", "the Beatles", "Édith Piaf", "The", "The Zombies"};
        QTest::newRow("artist's albums by year then title, no year last")
            << QStringList{"a|X|Cee||||||a", "b|X|Bee||||2000||b", "c|X|Aye||||2000||c",
                           "d|X|Dee||||1990||d"}
            << QStringList{"X/Dee=3", "X/Aye=2", "X/Bee=1", "X/Cee=0"} << QStringList{"X"};
        QTest::newRow("an album's year is its earliest track's")
            << QStringList{"a|X|Late||1|1|2010||a", "b|X|Late||1|2|1990||b", "c|X|Mid||||2000||c"}
            << QStringList{"X/Late=0,1", "X/Mid=2"} << QStringList{"X"};
        QTest::newRow("a named album artist outranks the compilation mark")
            << QStringList{"a|X|Hits|DJ Y|1|1|2001|c|a", "b|Z|Hits|DJ Y|1|2|2001|c|b"}
            << QStringList{"DJ Y/Hits=0,1"} << QStringList{"DJ Y", "X ~0=0", "Z ~0=1"};
        QTest::newRow("disc, track, file; no disc is disc 1; no track last; first cover")
            << QStringList{"a|X|A||2|1|||a", "b|X|A|||2||p|b", "c|X|A||1|1|||c",
                           "d|X|A||1||||z",  "e|X|A||||||y",   "f|X|A||1|3||p|f"}
            << QStringList{"X/A=2,1,5,4,3,0+pic1"} << QStringList{"X"};
        QTest::newRow("missing tags: one album and one artist, both last")
            << QStringList{"||||||||b.mp3", "t|X|A||||||a", "||||||||a.mp3"}
            << QStringList{"X/A=1", "/=2,0"} << QStringList{"X", ""};
    }

    void albums() {
        QFETCH(QStringList, Tracks);
        QFETCH(QStringList, Albums);
        QFETCH(QStringList, Artists);
        QList<TTrackTags> Tags;
        QByteArrayList Sources;
        Parse(Tracks, Tags, Sources);
        const TAlbumIndex Index(Tags, Sources);
        QStringList GotAlbums, GotArtists;
        for (int At = 0; At < int(Index.Albums().size()); ++At) {
            const TAlbum &A = Index.Albums()[At];
            GotAlbums.append(A.Artist + u'/' + A.Title + u'=' + Joined(A.Rows) +
                             (A.CoverHash.isEmpty() ? "" : "+" + A.CoverHash));
            QVERIFY(Index.Artists()[A.ArtistIndex].Albums.contains(At));
        }
        // An artist's tracks on albums filed under others: " ~album=rows".
        for (const TAlbumArtist &A : Index.Artists()) {
            GotArtists.append(A.Name);
            for (int G = 0; G < int(A.Guest.size()); ++G)
                GotArtists.last() +=
                    QStringLiteral(" ~%1=").arg(A.Guest[G]) + Joined(A.GuestRows[G]);
        }
        QCOMPARE(GotAlbums, Albums);
        QCOMPARE(GotArtists, Artists);
        QCOMPARE(Index.Order(TLibraryColumn::Album).size(), Tracks.size());
    }

    void columns_data() {
        QTest::addColumn<int>("Column");
        QTest::addColumn<QString>("Order");
        QTest::newRow("title; no title sorts by file name")
            << int(TLibraryColumn::Title) << "1,3,2,4,0";
        QTest::newRow("artist without The; ties in album order")
            << int(TLibraryColumn::Artist) << "3,0,2,1,4";
        QTest::newRow("album name, ties in album order")
            << int(TLibraryColumn::Album) << "3,0,2,1,4";
        QTest::newRow("disc; none is disc 1") << int(TLibraryColumn::Disc) << "3,0,1,4,2";
        QTest::newRow("track number, then disc") << int(TLibraryColumn::Number) << "3,2,1,0,4";
        QTest::newRow("length, unknown last") << int(TLibraryColumn::Length) << "1,0,3,2,4";
        QTest::newRow("file name, accents folded") << int(TLibraryColumn::File) << "0,3,4,1,2";
    }

    void columns() {
        QFETCH(int, Column);
        QFETCH(QString, Order);
        QList<TTrackTags> Tags;
        QByteArrayList Sources;
        Parse({"Zed|The Band|Live|||4|1999||a.mp3", "apple|Cat|Tea||1|2|||d.mp3",
               "Bee|band|Live||2|1|1999||Éa.mp3", "|The Band|Live||1|1|1999||B.mp3",
               "||||||||c.mp3"},
              Tags, Sources);
        const QList<int> Lengths{300, 100, 0, 400, 0};
        for (int Row = 0; Row < int(Tags.size()); ++Row)
            Tags[Row].DurationMs = Lengths[Row];
        const TAlbumIndex Index(Tags, Sources);
        const auto C = TLibraryColumn(Column);
        QCOMPARE(Joined(Index.Order(C)), Order);
        // A subset keeps the column's order, reversed when descending.
        QList<int> Expected = Index.Order(C);
        Expected.removeAll(1);
        std::reverse(Expected.begin(), Expected.end());
        QCOMPARE(Index.Sorted({4, 0, 2, 3}, C, Qt::DescendingOrder), Expected);
    }

    // What the library page lists: hits ("" for no search), sort column (~column: descending),
    // artist, album.
    void listing_data() {
        QTest::addColumn<QString>("Hits");
        QTest::addColumn<int>("Column");
        QTest::addColumn<int>("Artist");
        QTest::addColumn<int>("Album");
        QTest::addColumn<QString>("Rows");
        QTest::addColumn<QString>("Artists");
        QTest::addColumn<QString>("Albums");
        QTest::newRow("no search: library order") << "" << -1 << -1 << -1 << "0,1,2,3"
                                                  << "0,1"
                                                  << "0,1,2";
        QTest::newRow("search: hits in library order") << "0,3" << -1 << -1 << -1 << "0,3"
                                                       << "0"
                                                       << "0,1";
        QTest::newRow("search, by file descending") << "0,1,2" << ~5 << -1 << -1 << "2,1,0"
                                                    << "0,1"
                                                    << "1,2";
        QTest::newRow("artist: its albums in album order") << "" << -1 << 0 << -1 << "3,2,0"
                                                           << "0,1"
                                                           << "0,1";
        QTest::newRow("album, narrowed by the search") << "0,1" << -1 << 0 << 1 << "0"
                                                       << "0,1"
                                                       << "1";
        QTest::newRow("album by title") << "" << 0 << 0 << 1 << "0,2"
                                        << "0,1"
                                        << "0,1";
    }

    void summary_data() {
        QTest::addColumn<int>("Shown");
        QTest::addColumn<int>("Total");
        QTest::addColumn<qint64>("Ms");
        QTest::addColumn<QString>("Text");
        QTest::newRow("all, minutes") << 316 << 316 << qint64(1052499) << "316 tracks, 17:32";
        QTest::newRow("some, hours") << 12 << 316 << qint64(3723000) << "12 of 316 tracks, 1:02:03";
        QTest::newRow("one") << 1 << 1 << qint64(0) << "1 track, 00:00";
        QTest::newRow("none of one") << 0 << 1 << qint64(0) << "0 of 1 track, 00:00";
    }

    void summary() {
        QFETCH(int, Shown);
        QFETCH(int, Total);
        QFETCH(qint64, Ms);
        QTEST(ListingSummary(Shown, Total, Ms), "Text");
    }

    void listing() {
        QFETCH(QString, Hits);
        QFETCH(int, Column);
        QFETCH(int, Artist);
        QFETCH(int, Album);
        QList<TTrackTags> Tags;
        QByteArrayList Sources;
        Parse({"a|X|A1||1|2|2000||a", "b|Y|B1||1|1|1990||b", "c|X|A1||1|1|2000||c",
               "d|X|A2||1|1|1995||d"},
              Tags, Sources);
        const TAlbumIndex Index(Tags, Sources);
        TSearchHits Found;
        if (!Hits.isEmpty()) {
            Found.emplace();
            for (const QString &Row : Hits.split(u','))
                Found->append(Row.toInt());
        }
        const TListingChoice Choice{Column < -1 ? ~Column : Column,
                                    Column < -1 ? Qt::DescendingOrder : Qt::AscendingOrder, Artist,
                                    Album};
        QTEST(Joined(ListedRows(&Index, 4, Found, Choice)), "Rows");
        QTEST(Joined(ListedArtists(Index, Found)), "Artists");
        QTEST(Joined(ListedAlbums(Index, Found, Artist)), "Albums");
    }
};

QTEST_GUILESS_MAIN(TestAlbumIndex)
#include "tst_albumindex.moc"
