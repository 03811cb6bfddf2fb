#include "KnownTags.h"
#include "LibraryTags.h"
#include "MusicLibrary.h"
#include "PlayTo.h"
#include "TagScanner.h"
#include "TrackCaptions.h"

#include <QTemporaryDir>
#include <QtTest>

// Which track URLs are this copy's own, and the captions their tags give.
class TestTrackCaptions : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void captions_data() {
        QTest::addColumn<QByteArray>("URL");
        QTest::addColumn<QString>("Caption");
        const QByteArrayList Library{"/m/a/Song.mp3", "/m/b/Song.mp3", "/m/100% x?.mp3",
                                     "/m/plain.mp3", "http://far/Song.mp3"};
        const auto Url = [&](int Entry, const QByteArray &Address = "127.0.0.1") {
            return PlayURLs({Library[Entry]}, Library, Address, 37401).front();
        };
        QTest::newRow("own file, loopback") << Url(0) << "One - A";
        QTest::newRow("own file, LAN address") << Url(0, "192.168.1.5") << "One - A";
        QTest::newRow("same file name, other folder") << Url(1) << "Two - B";
        QTest::newRow("percent and question mark in the name") << Url(2) << "Odd - C";
        QTest::newRow("no tags: today's caption") << Url(3) << "";
        QTest::newRow("other port") << QByteArray("http://127.0.0.1:37402/a/Song.mp3") << "";
        QTest::newRow("other computer") << Url(0, "192.168.1.9") << "";
        QTest::newRow("the library's http entry: not served here") << Url(4) << "";
        QTest::newRow("path naming no entry")
            << QByteArray("http://127.0.0.1:37401/c/Song.mp3") << "";
        QTest::newRow("not a URL") << QByteArray("/m/a/Song.mp3") << "";
    }

    void captions() {
        QFETCH(QByteArray, URL);
        QTemporaryDir Dir;
        const auto Tagged = [](const char *Title, const char *Artist) {
            TTrackTags T;
            T.Title = Title;
            T.Artists = {Artist};
            return T;
        };
        QVERIFY(WriteKnownTags(Dir.filePath("tags"), {{"/m/a/Song.mp3", Tagged("One", "A")},
                                                      {"/m/b/Song.mp3", Tagged("Two", "B")},
                                                      {"/m/100% x?.mp3", Tagged("Odd", "C")},
                                                      {"/m/plain.mp3", {}}}));
        TMusicLibrary Library;
        Library.LoadFromText("/m/a/Song.mp3\n/m/b/Song.mp3\n");
        const QByteArrayList Later{"/m/100% x?.mp3", "/m/plain.mp3", "http://far/Song.mp3"};
        TTagScanner Scanner(Dir.filePath("no-scanner"));
        TLibraryTags Tags(&Scanner, Dir.filePath("tags"));
        Tags.SetSources(Library.RowSources() + Later);
        const TTrackCaptions Captions(
            Library, Tags,
            [](const QString &Host) { return Host == "127.0.0.1" || Host == "192.168.1.5"; },
            [] { return quint16(37401); });
        Captions.Caption(URL); // asked before the rest of the rows came
        Library.AddBatch(Later);
        QTEST(Captions.Caption(URL), "Caption");
    }
};

QTEST_MAIN(TestTrackCaptions)
#include "tst_trackcaptions.moc"
