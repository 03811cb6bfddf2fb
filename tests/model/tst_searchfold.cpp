#include "SearchFold.h"
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
        const QByteArray File = "01.flac";
        QTest::newRow("slashed o") << "Fjellsang"
                                   << "Annbjørg Lien" << File << "annbjorg" << true;
        QTest::newRow("stroked l") << "Etiuda"
                                   << "Paweł Mykietyn" << File << "pawel" << true;
        QTest::newRow("acute e") << "Halo"
                                 << "Beyoncé" << File << "beyonce" << true;
        QTest::newRow("query accented, row plain") << "Halo"
                                                   << "Beyonce" << File << "BEYONCÉ" << true;
        QTest::newRow("sharp s, ligatures, stroked d")
            << "Straße"
            << "Œuvre Æther Đorđe" << File << "strasse oeuvre aether dorde" << true;
        QTest::newRow("capitals") << "ØRESUND"
                                  << "ŁÓDŹ" << File << "oresund lodz" << true;
        QTest::newRow("slashed o with acute, letters past 16 bits")
            << QString("Bj\u01FFrn \U0001D401\U0001D425\U0001D42E\U0001D41E") << "" << File
            << "bjorn blue" << true;
        QTest::newRow("words in any field, any order")
            << "Blue Train"
            << "John Coltrane" << File << "train coltrane" << true;
        QTest::newRow("every word must match") << "Blue Train"
                                               << "John Coltrane" << File << "train davis" << false;
        QTest::newRow("file name searched")
            << ""
            << "" << QByteArray("Köln Concert.mp3") << "koln" << true;
        QTest::newRow("invalid UTF-8 file name")
            << ""
            << "" << QByteArray("a\xff\xfe.mp3") << "mp3" << true;
        QTest::newRow("no match across fields") << "Blue"
                                                << "Train" << File << "bluetrain" << false;
        QTest::newRow("blank query matches all") << "X"
                                                 << "" << File << QString(" \t\u00A0") << true;
    }

    void matches() {
        QFETCH(QString, Title);
        QFETCH(QString, Artist);
        QFETCH(QByteArray, FileName);
        QFETCH(QString, Query);
        QFETCH(bool, Found);
        TTrackTags Tags;
        Tags.Title = Title;
        if (!Artist.isEmpty())
            Tags.Artists = {Artist};
        QCOMPARE(SearchMatches(SearchRowText(Tags, FileName), SearchWords(Query)), Found);
    }
};

QTEST_GUILESS_MAIN(TestSearchFold)
#include "tst_searchfold.moc"
