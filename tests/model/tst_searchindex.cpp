#include "SearchFold.h"
#include "SearchIndex.h"

#include <QtTest>

// Rows found for each query typed in turn, as "0 2" (ascending row numbers).
class TestSearchIndex : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void typing_data() {
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
        QTest::newRow("no match across rows") << QStringList{"lien train"} << QStringList{""};
    }

    void typing() {
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

    void changedRowFound() {
        TSearchIndex Index;
        Index.SetRows({"blue", "red"});
        QCOMPARE(Index.Find(u"re"), QList<int>{1});
        Index.SetRow(0, "green");
        QCOMPARE(Index.Find(u"re"), QList<int>({0, 1}));
    }
};

QTEST_GUILESS_MAIN(TestSearchIndex)
#include "tst_searchindex.moc"
