#include "TagReader.h"
#include "TestMedia.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <taglib/fileref.h>
#include <taglib/mp4file.h>
#include <taglib/tpropertymap.h>

class TestTagReader : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;

    // A one-second tone in the format of Name's extension, its tags written by TagLib.
    QByteArray Fixture(const QString &Name, const QMap<QString, QStringList> &Tags) {
        const QString Path = FDir.filePath(Name);
        QProcess Encoder;
        Encoder.start("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                 "sine=frequency=440:duration=1:sample_rate=8000", "-ar", "48000",
                                 "-ac", "1", "-map_metadata", "-1", Path});
        if (!Encoder.waitForFinished(60000) || Encoder.exitCode() != 0)
            return {};
        TagLib::FileRef Ref(QFile::encodeName(Path).constData());
        TagLib::PropertyMap Map;
        for (auto It = Tags.begin(); It != Tags.end(); ++It)
            for (const QString &Value : It.value())
                Map[It.key().toStdString()].append(TagLib::String(Value.toStdWString()));
        Ref.file()->setProperties(Map);
        // MP4 keeps these in iTunes freeform items, outside the property map.
        if (auto *Mp4 = dynamic_cast<TagLib::MP4::File *>(Ref.file()))
            for (auto It = Tags.begin(); It != Tags.end(); ++It)
                if (It.key().startsWith("REPLAYGAIN_"))
                    Mp4->tag()->setItem("----:com.apple.iTunes:" + It.key().toLower().toStdString(),
                                        TagLib::StringList(It.value().value(0).toStdString()));
        return Ref.save() ? QFile::encodeName(Path) : QByteArray();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(FDir.isValid()); }

    void formats_data() {
        QTest::addColumn<QString>("Name");
        QTest::addColumn<QStringList>("Written");
        QTest::addColumn<QStringList>("WrittenArtists");
        QTest::addColumn<QStringList>("Artists");
        QTest::addColumn<bool>("Compilation");
        const QStringList Two{"Ann/Bo", "Cé"};
        for (const char *Name : {"a.mp3", "a.flac", "a.ogg", "a.opus", "a.m4a", "a.aiff", "a.wv"})
            QTest::newRow(Name) << QString(Name) << Two << QStringList() << Two << true;
        // The format keeps one author text, and no compilation flag.
        QTest::newRow("a.wma") << "a.wma" << Two << QStringList() << QStringList{"Ann/Bo Cé"}
                               << false;
        QTest::newRow("ARTISTS preferred")
            << "b.flac" << QStringList{"Ann feat. Bo"} << QStringList{"Ann", "Bo"}
            << QStringList{"Ann", "Bo"} << true;
        QTest::newRow("one artist never split")
            << "b.mp3" << QStringList{"AC/DC; Live"} << QStringList() << QStringList{"AC/DC; Live"}
            << true;
    }

    void formats() {
        QFETCH(QString, Name);
        QFETCH(QStringList, Written);
        QFETCH(QStringList, WrittenArtists);
        QFETCH(QStringList, Artists);
        QFETCH(bool, Compilation);
        QMap<QString, QStringList> Tags{
            {"TITLE", {"Tïtle\tTab\nLine"}}, {"ARTIST", Written},       {"ALBUM", {"Album"}},
            {"ALBUMARTIST", {"Various"}},    {"TRACKNUMBER", {"3/12"}}, {"DISCNUMBER", {"2/3"}},
            {"DATE", {"2004-05-01"}},        {"GENRE", {"Folk"}},       {"COMPOSER", {"Comp"}},
            {"COMPILATION", {"1"}}};
        if (!WrittenArtists.isEmpty())
            Tags.insert("ARTISTS", WrittenArtists);
        const QByteArray Path = Fixture(Name, Tags);
        QVERIFY2(!Path.isEmpty(), "the fixture could not be made");
        const TFileTags Got = ReadFileTags(Path, StampOf(Path));
        QCOMPARE(Got.Status, TTagStatus::Read);
        const TTrackTags &T = Got.Tags;
        QCOMPARE(T.Title, "Tïtle\tTab\nLine");
        QCOMPARE(T.Artists, Artists);
        QCOMPARE(QStringList({T.Album, T.AlbumArtist, T.Genre, T.Composer}),
                 QStringList({"Album", "Various", "Folk", "Comp"}));
        QCOMPARE(QList<int>({T.Track, T.Disc, T.Year}), QList<int>({3, 2, 2004}));
        QCOMPARE(T.Compilation, Compilation);
        QVERIFY2(qAbs(T.DurationMs - 1000) <= 50, qPrintable(QString::number(T.DurationMs)));
    }

    // ReplayGain values in every format that carries them; Opus's R128 gain on ReplayGain's level.
    void replayGain_data() {
        QTest::addColumn<QString>("Name");
        QTest::addColumn<QStringList>("Written"); // key=value
        QTest::addColumn<QList<qint32>>("Read");  // track, album gain; track, album peak
        QTest::addColumn<QString>("Shown");
        const QStringList Tags{"REPLAYGAIN_TRACK_GAIN=-6.20 dB", "REPLAYGAIN_ALBUM_GAIN=+1.5 dB",
                               "REPLAYGAIN_TRACK_PEAK=0.988", "REPLAYGAIN_ALBUM_PEAK=1.05"};
        const QList<qint32> Gains{-620, 150, 988000, 1050000};
        for (const char *Name : {"g.flac", "g.mp3", "g.ogg", "g.m4a"})
            QTest::newRow(Name) << QString(Name) << Tags << Gains
                                << "ReplayGain: track -6.20 dB, album +1.50 dB";
        constexpr qint32 None = TTrackTags::NoGain;
        QTest::newRow("opus R128")
            << "r.opus" << QStringList{"R128_TRACK_GAIN=-2816", "R128_ALBUM_GAIN=256"}
            << QList<qint32>{-600, 600, None, None} << "ReplayGain: track -6.00 dB, album +6.00 dB";
        QTest::newRow("none, or not a number")
            << "n.flac" << QStringList{"REPLAYGAIN_TRACK_GAIN=loud"}
            << QList<qint32>{None, None, None, None} << QString();
    }
    void replayGain() {
        QFETCH(QString, Name);
        QFETCH(QStringList, Written);
        QFETCH(QList<qint32>, Read);
        QFETCH(QString, Shown);
        QMap<QString, QStringList> Tags;
        for (const QString &Tag : Written)
            Tags.insert(Tag.section('=', 0, 0), {Tag.section('=', 1)});
        const QByteArray Path = Fixture(Name, Tags);
        QVERIFY2(!Path.isEmpty(), "the fixture could not be made");
        const TTrackTags T = ReadFileTags(Path, StampOf(Path)).Tags;
        QCOMPARE(QList<qint32>({T.TrackGain, T.AlbumGain, T.TrackPeak, T.AlbumPeak}), Read);
        QCOMPARE(T.GainText(), Shown);
    }

    // WAV's RIFF INFO chunk is not the format's tag() but reaches the property map; its text may
    // be in a code page rather than UTF-8.
    void wavInfo_data() {
        QTest::addColumn<QByteArray>("Title");
        QTest::addColumn<QString>("Expected");
        QTest::newRow("UTF-8") << QByteArray("S\xC3\xB8ng") << QStringLiteral("Søng");
        QTest::newRow("Latin-1") << QByteArray("Annbj\xF8rg") << QStringLiteral("Annbjørg");
    }

    void wavInfo() {
        QFETCH(QByteArray, Title);
        QFETCH(QString, Expected);
        const QString Path = FDir.filePath("info.wav");
        QVERIFY(WriteWav(Path, 1.0, 8000, Title, "Singer"));
        const TFileTags Got = ReadFileTags(QFile::encodeName(Path), {});
        QCOMPARE(Got.Tags.Title, Expected);
        QCOMPARE(Got.Tags.Artists, QStringList{"Singer"});
        QCOMPARE(Got.Tags.DurationMs, 1000);
    }
};

QTEST_GUILESS_MAIN(TestTagReader)
#include "tst_tagreader.moc"
