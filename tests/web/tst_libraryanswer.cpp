#include "LibraryAnswer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <tuple>

namespace {

// Six bytes of JSON a character: a row larger than a page.
const QString HugeTitle(50000, QChar(1));

TTrackTags Tags(const QString &Title, const QString &Artist, const QString &Album, int Track = 0) {
    TTrackTags T;
    std::tie(T.Title, T.Artists, T.Album, T.Track) =
        std::tuple(Title, QStringList{Artist}, Album, Track);
    return T;
}

// Local paths under a home folder, a name that is not UTF-8, an http row, tags with control
// characters.
TLibraryAnswer Library() {
    const QByteArrayList Sources{"/home/alice/Music/a.flac", "/home/alice/Music/b.flac",
                                 "/home/alice/\xff\xfe.mp3", "http://radio.example/live.mp3",
                                 "/home/alice/t.flac",       "/home/alice/huge.flac"};
    QList<TLibraryEntry> Rows;
    for (const QByteArray &Source : Sources)
        Rows.append({TMusicLibrary::DisplayName(Source), Source});
    const QString Annbjorg = QStringLiteral("Annbjørg Lien");
    return TLibraryAnswer(7, 1, Rows,
                          {Tags("Tredje", Annbjorg, "Prisme", 3),
                           Tags("Første", Annbjorg, "Prisme", 1),
                           {},
                           {},
                           Tags("Tab\tNew\nline", QStringLiteral("Paweł M"), "Ciało"),
                           Tags(HugeTitle, {}, {})});
}

} // namespace

class TestLibraryAnswer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every view: valid JSON whatever the names hold, no local path, the search folded.
    void answers_data() {
        QTest::addColumn<QByteArray>("View");
        QTest::addColumn<QByteArray>("Query");
        QTest::addColumn<int>("Group"); // artist or album
        QTest::addColumn<int>("Count");
        QTest::addColumn<QString>("First"); // the first item's name, or an http row's URL
        QTest::newRow("tracks") << QByteArray("tracks") << QByteArray() << 0 << 6 << "Tredje";
        QTest::newRow("a row larger than a page")
            << QByteArray("tracks") << QByteArray("huge") << 0 << 1 << HugeTitle;
        QTest::newRow("accents and case folded")
            << QByteArray("tracks") << QByteArray("ANNBJORG tred") << 0 << 1 << "Tredje";
        QTest::newRow("a letter decomposition leaves whole")
            << QByteArray("tracks") << QByteArray("pawel ciało") << 0 << 1 << "Tab\tNew\nline";
        QTest::newRow("paths are not searched")
            << QByteArray("tracks") << QByteArray("alice") << 0 << 0 << "";
        QTest::newRow("an http row shows its URL") << QByteArray("tracks") << QByteArray("live")
                                                   << 0 << 1 << "http://radio.example/live.mp3";
        QTest::newRow("artists by name, the untagged last")
            << QByteArray("artists") << QByteArray() << 0 << 3 << "Annbjørg Lien";
        QTest::newRow("artists of the hits")
            << QByteArray("artists") << QByteArray("ciało") << 0 << 1 << "Paweł M";
        QTest::newRow("albums") << QByteArray("albums") << QByteArray() << -1 << 3 << "Prisme";
        QTest::newRow("an artist's albums")
            << QByteArray("albums") << QByteArray() << 1 << 1 << "Ciało";
        QTest::newRow("album in track order")
            << QByteArray("album") << QByteArray() << 0 << 2 << "Første";
    }
    void answers() {
        QFETCH(QByteArray, View);
        QFETCH(QByteArray, Query);
        QFETCH(int, Group);
        QFETCH(int, Count);
        QFETCH(QString, First);
        const TLibraryAnswer Answer = Library();
        const QByteArray Json = View == "tracks"    ? Answer.Page(Query, 0, 100)
                                : View == "artists" ? Answer.ArtistsPage(Query, 0, 100)
                                : View == "albums"  ? Answer.AlbumsPage(Group, Query, 0, 100)
                                                    : Answer.AlbumPage(Group, 0, 100);
        QJsonParseError Error;
        const QJsonObject Object = QJsonDocument::fromJson(Json, &Error).object();
        QCOMPARE(Error.error, QJsonParseError::NoError);
        QVERIFY(!Json.contains("/home"));
        QCOMPARE(Object.value("count").toInt(), Count);
        const QJsonArray Items = Object.value(View == "album" ? "tracks" : View).toArray();
        const QJsonArray Item = Items.isEmpty() ? QJsonArray{""} : Items.first().toArray();
        QCOMPARE(Item.last().isString() ? Item.last().toString() : Item[1].toString(), First);
    }
};

QTEST_GUILESS_MAIN(TestLibraryAnswer)
#include "tst_libraryanswer.moc"
