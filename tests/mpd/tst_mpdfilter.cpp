#include "MpdFilter.h"

#include <QtTest>

class TestMpdFilter : public QObject {
    Q_OBJECT

    struct TSong {
        QByteArray Uri;
        TTrackTags Tags;
    };
    QList<TSong> FSongs;

    static QByteArrayList Args(const QStringList &Texts) {
        QByteArrayList Out;
        for (const QString &Text : Texts)
            Out.append(Text.toUtf8());
        return Out;
    }

private Q_SLOTS:
    void initTestCase() {
        TTrackTags A, B, C;
        A.Artists = {QStringLiteral("Annbjørg Lien")};
        A.Album = "Aurora", A.Title = "Lys", A.Track = 1, A.Year = 1999;
        B.Artists = {"ABBA", "Frida"};
        B.Album = "Gold", B.Title = "Waterloo", B.Genre = "Pop";
        C.Artists = {"X"};
        C.AlbumArtist = "Various", C.Album = "Mix";
        FSongs = {{"a/x.flac", A}, {"b/z.ogg", {}}, {"b/y.mp3", B}, {"ba/w.mp3", C}};
    }

    void matches_data() {
        QTest::addColumn<QStringList>("Filter");
        QTest::addColumn<bool>("Folded");
        QTest::addColumn<QString>("Rows");
        const auto Row = [](const char *Name, QStringList F, bool Folded, const char *Rows) {
            QTest::newRow(Name) << F << Folded << QString(Rows);
        };
        Row("find is exact", {"artist", "ABBA"}, false, "2");
        Row("find keeps case", {"artist", "abba"}, false, "");
        Row("search folds case", {"artist", "abba"}, true, "2");
        Row("search folds accents", {"any", "annbjorg"}, true, "0");
        Row("search contains", {"title", "ATER"}, true, "2");
        Row("second artist", {"artist", "Frida"}, false, "2");
        Row("missing tag is empty", {"album", ""}, false, "1");
        Row("album artist falls back", {"albumartist", "ABBA"}, false, "2");
        Row("own album artist first", {"albumartist", "X"}, false, "");
        Row("numbers as text", {"track", "1"}, false, "0");
        Row("date is the year", {"date", "1999"}, false, "0");
        Row("tag never had", {"performer", ""}, false, "0123");
        Row("pairs all hold", {"artist", "ABBA", "album", "Mix"}, false, "");
        Row("equal", {"(artist == \"ABBA\")"}, false, "2");
        Row("not equal", {"(Artist != 'ABBA')"}, false, "013");
        Row("contains exact", {"(album contains 'o')"}, false, "02");
        Row("negation", {"(!(album contains \"o\"))"}, false, "13");
        Row("and", {"((genre == 'Pop') AND (title starts_with 'Water'))"}, false, "2");
        Row("base is a folder", {"(base 'b')"}, false, "12");
        Row("file", {"(file == 'b/z.ogg')"}, false, "1");
        Row("file folded", {"(file contains 'Z.OGG')"}, true, "1");
        Row("escaped quote", {"(title == 'L\\ys')"}, false, "0");
        Row("expressions and pairs", {"(base 'b')", "album", "gold"}, true, "2");
        Row("no filter", {}, false, "0123");
    }

    void matches() {
        QFETCH(QStringList, Filter);
        QFETCH(bool, Folded);
        QFETCH(QString, Rows);
        QString Error;
        const auto F =
            TMpdFilter::Parse(Args(Filter), Folded ? TMpdMatch::Folded : TMpdMatch::Exact, &Error);
        QVERIFY2(F, qPrintable(Error));
        QString Hits;
        for (int I = 0; I < FSongs.size(); ++I)
            if (F->Matches({FSongs[I].Uri, &FSongs[I].Tags}))
                Hits += QString::number(I);
        QCOMPARE(Hits, Rows);
    }

    void refuses_data() {
        QTest::addColumn<QStringList>("Filter");
        QTest::addColumn<QString>("Error");
        QTest::newRow("unclosed") << QStringList{"(artist == 'x'"} << "')' expected";
        QTest::newRow("operator") << QStringList{"(artist ~= 'x')"} << "Unknown filter operator";
        QTest::newRow("regex") << QStringList{"(artist =~ 'x')"} << "not supported";
        QTest::newRow("type") << QStringList{"(foo == 'x')"} << "Unknown filter type: foo";
        QTest::newRow("unquoted") << QStringList{"(artist == x)"} << "Quoted string expected";
        QTest::newRow("open quote") << QStringList{"(artist == 'x)"} << "Closing quote not found";
        QTest::newRow("odd pairs") << QStringList{"artist"} << "Incorrect number";
        QTest::newRow("garbage") << QStringList{"(base 'x') y"} << "garbage";
        QTest::newRow("empty not") << QStringList{"(!)"} << "'(' expected";
        QTest::newRow("deep") << QStringList{QString("(!").repeated(40) + "(base 'x')" +
                                             QString(")").repeated(40)}
                              << "too deeply";
        QStringList Many;
        for (int I = 0; I <= TMpdFilter::MaxConditions; ++I)
            Many << "title"
                 << "x";
        QTest::newRow("many") << Many << "Too many filter conditions";
        QTest::newRow("long") << QStringList{"(base '" + QString(9000, 'x') + "')"} << "too long";
    }

    void refuses() {
        QFETCH(QStringList, Filter);
        QFETCH(QString, Error);
        QString Said;
        QVERIFY(!TMpdFilter::Parse(Args(Filter), TMpdMatch::Exact, &Said));
        QVERIFY2(Said.contains(Error), qPrintable(Said));
    }
};

QTEST_GUILESS_MAIN(TestMpdFilter)
#include "tst_mpdfilter.moc"
