#include "SearchFold.h"
#include "SearchIndex.h"
#include "TrackTags.h"

#include <QtTest>

class TestSearchFold : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void matches_data() {
        QTest::addColumn<QString>("Title");
        QTest::addColumn<QString>("Artist");
        QTest::addColumn<QByteArray>("FileName");
        QTest::addColumn<QString>("Query");
        QTest::addColumn<bool>("Found");
        QTest::addColumn<QString>("Genre");
        QTest::addColumn<int>("Year");
        const auto Row = [](const char *Name, const QString &Title, const QString &Artist,
                            const QString &Query, bool Found, const QByteArray &File = "01.flac",
                            const QString &Genre = {}, int Year = 0) {
            QTest::newRow(Name) << Title << Artist << File << Query << Found << Genre << Year;
        };
        Row("slashed o", "Fjellsang", "Annbjørg Lien", "annbjorg", true);
        Row("stroked l", "Etiuda", "Paweł Mykietyn", "pawel", true);
        Row("acute e", "Halo", "Beyoncé", "beyonce", true);
        Row("query accented, row plain", "Halo", "Beyonce", "BEYONCÉ", true);
        Row("sharp s, ligatures, stroked d", "Straße", "Œuvre Æther Đorđe",
            "strasse oeuvre aether dorde", true);
        Row("capitals", "ØRESUND", "ŁÓDŹ", "oresund lodz", true);
        Row("slashed o with acute, letters past 16 bits",
            QString("Bj\u01FFrn \U0001D401\U0001D425\U0001D42E\U0001D41E"), "", "bjorn blue", true);
        Row("words in any field, any order", "Blue Train", "John Coltrane", "train coltrane", true);
        Row("every word must match", "Blue Train", "John Coltrane", "train davis", false);
        Row("file name searched", "", "", "koln", true, "Köln Concert.mp3");
        Row("invalid UTF-8 file name", "", "", "mp3", true, "a\xff\xfe.mp3");
        Row("no match across fields", "Blue", "Train", "bluetrain", false);
        Row("blank query matches all", "X", "", " \t\u00A0", true);
        Row("genre and year", "X", "", "jazz 1959", true, "01.flac", "Jazz", 1959);
        Row("no year: no 0", "X", "", "0", false, "a.flac");
    }

    void matches() {
        QFETCH(QString, Title);
        QFETCH(QString, Artist);
        QFETCH(QByteArray, FileName);
        QFETCH(QString, Query);
        QFETCH(bool, Found);
        TTrackTags Tags;
        Tags.Title = Title;
        QFETCH(QString, Genre);
        QFETCH(int, Year);
        Tags.Genre = Genre;
        Tags.Year = Year;
        if (!Artist.isEmpty())
            Tags.Artists = {Artist};
        QCOMPARE(SearchMatches(SearchRowText(Tags, FileName), SearchWords(Query)), Found);
    }

    // Rows found for each query typed in turn, as "0 2" (ascending row numbers).
    void indexWhileTyping_data() {
        QTest::addColumn<QStringList>("Queries");
        QTest::addColumn<QStringList>("Found");
        QTest::newRow("typing on narrows") << QStringList{"a", "an", "ann", "ann b", "ann bl"}
                                           << QStringList{"0 1 2 3", "0 1 3", "0 3", "0 3", "3"};
        QTest::newRow("deleting widens again")
            << QStringList{"annb", "ann", "an", ""} << QStringList{"0", "0 3", "0 1 3", "0 1 2 3"};
        QTest::newRow("a new word elsewhere")
            << QStringList{"lien", "lien train", "train"} << QStringList{"0", "", "1"};
        QTest::newRow("replacing a word")
            << QStringList{"blue", "blux", "blu"} << QStringList{"3", "", "3"};
    }

    void indexWhileTyping() {
        QFETCH(QStringList, Queries);
        QFETCH(QStringList, Found);
        TSearchIndex Index;
        QByteArrayList Rows;
        for (const char *Text : {"Annbjørg Lien", "Train to Anywhere", "Café", "Ann Blue"})
            Rows.append(SearchFold(QString::fromUtf8(Text)));
        Index.SetRows(Rows);
        for (qsizetype I = 0; I < Queries.size(); ++I) {
            QStringList Got;
            for (const int Row : Index.Find(Queries[I]))
                Got.append(QString::number(Row));
            QCOMPARE(Got.join(' '), Found[I]);
        }
    }

    void indexFindsChangedRow() {
        TSearchIndex Index;
        QByteArrayList Rows(200, "blue");
        Rows[1] = "red";
        Index.SetRows(Rows);
        QCOMPARE(Index.Find(u"re"), QList<int>{1});
        Index.SetRow(0, "green"); // kept apart
        Index.SetRow(1, "tan");   // written in place
        QCOMPARE(Index.Find(u"re"), QList<int>{0});
        // So many that the buffer is made anew meanwhile.
        for (int Row = 2; Row < 200; ++Row)
            Index.SetRow(Row, "grey " + QByteArray::number(Row));
        QCOMPARE(Index.Find(u"re").size(), 199);
        QCOMPARE(Index.Find(u"tan"), QList<int>{1});
        QCOMPARE(Index.Find(u"grey 199"), QList<int>{199});
    }
};

QTEST_GUILESS_MAIN(TestSearchFold)
#include "tst_searchfold.moc"
