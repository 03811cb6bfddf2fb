// ReplayGain: the settings as libmpv options, and what they do to the sound.
#include "MediaPlayer.h"
#include "ReplayGainOptions.h"
#include "SpeakerSettings.h"
#include "TestHttpServer.h"
#include "ToneJoin.h"

#include <QTemporaryDir>
#include <QtTest>

#include <clocale>

using TMode = TReplayGain::TMode;

class TstReplayGain : public QObject {
    Q_OBJECT
    QTemporaryDir FDir;

private Q_SLOTS:
    void initTestCase() {
        std::setlocale(LC_NUMERIC, "C"); // as main does, for libmpv
        QVERIFY(FDir.isValid());
    }

    void options_data() {
        QTest::addColumn<TReplayGain>("Gain");
        QTest::addColumn<QByteArray>("Options");
        QTest::newRow("defaults") << TReplayGain{}
                                  << QByteArray("replaygain=album replaygain-preamp=0 "
                                                "replaygain-clip=no replaygain-fallback=0");
        QTest::newRow("track, clipping allowed")
            << TReplayGain{TMode::Track, -15, false, 4}
            << QByteArray("replaygain=track replaygain-preamp=-15 replaygain-clip=yes "
                          "replaygain-fallback=4");
        QTest::newRow("off: no fallback gain")
            << TReplayGain{TMode::Off, 15, true, -6}
            << QByteArray("replaygain=no replaygain-preamp=15 replaygain-clip=no "
                          "replaygain-fallback=0");
    }
    void options() {
        QFETCH(TReplayGain, Gain);
        QFETCH(QByteArray, Options);
        QByteArrayList Pairs;
        for (const auto &[Key, Value] : ReplayGainOptions(Gain))
            Pairs.append(Key + '=' + Value);
        QCOMPARE(Pairs.join(' '), Options);
    }

    // The level of a one-second tone (0 dB: as encoded) with the tags Tags, played with Gain.
    void sound_data() {
        QTest::addColumn<TReplayGain>("Gain");
        QTest::addColumn<QString>("Tags");
        QTest::addColumn<double>("LowDb");
        QTest::addColumn<double>("HighDb");
        const QString Tagged = "REPLAYGAIN_TRACK_GAIN=-12.00 dB,REPLAYGAIN_TRACK_PEAK=0.125,"
                               "REPLAYGAIN_ALBUM_GAIN=-6.00 dB,REPLAYGAIN_ALBUM_PEAK=0.125";
        // 24 dB up would clip: held where the peak the tags give (0.25) reaches full scale.
        const QString Loud = "REPLAYGAIN_TRACK_GAIN=+24.00 dB,REPLAYGAIN_TRACK_PEAK=0.25";
        QTest::newRow("track") << TReplayGain{TMode::Track, 0, true, 0} << Tagged << -12.1 << -11.9;
        QTest::newRow("album") << TReplayGain{} << Tagged << -6.1 << -5.9;
        QTest::newRow("pre-amp") << TReplayGain{TMode::Track, 3, true, 0} << Tagged << -9.1 << -8.9;
        QTest::newRow("off") << TReplayGain{TMode::Off, 3, true, 0} << Tagged << -0.1 << 0.1;
        QTest::newRow("untagged") << TReplayGain{TMode::Album, 0, true, -4} << "" << -4.1 << -3.9;
        QTest::newRow("off, untagged") << TReplayGain{TMode::Off, 0, true, -4} << "" << -0.1 << 0.1;
        QTest::newRow("clipping prevented")
            << TReplayGain{TMode::Track, 0, true, 0} << Loud << 11.9 << 12.2;
        QTest::newRow("clipping allowed")
            << TReplayGain{TMode::Track, 0, false, 0} << Loud << 15.0 << 24.0;
    }
    void sound() {
        QFETCH(TReplayGain, Gain);
        QFETCH(QString, Tags);
        QFETCH(double, LowDb);
        QFETCH(double, HighDb);
        QStringList Metadata;
        for (const QString &Tag : Tags.split(',', Qt::SkipEmptyParts))
            Metadata << "-metadata" << Tag;
        const QString Name = QTest::currentDataTag();
        const QString Track = FDir.filePath(Name + ".flac"), Pcm = FDir.filePath(Name + ".pcm");
        QVERIFY(EncodeTone(Track, 0, ToneRate, Metadata));
        QFile In(Track);
        QVERIFY(In.open(QIODevice::ReadOnly));
        TTestHttpServer Server;
        QVERIFY(Server.Start());
        Server.SetFile("/t.flac", In.readAll(), "audio/flac");

        SpeakerSettings().Load(
            {"[Speaker]", "ReplayGain=" + ReplayGainModeName(Gain.Mode),
             "ReplayGainPreamp=" + QByteArray::number(Gain.PreampDb),
             "ReplayGainPreventClipping=" + QByteArray::number(Gain.PreventClipping),
             "ReplayGainFallback=" + QByteArray::number(Gain.FallbackDb)});
        QCOMPARE(SpeakerSettings().ReplayGain(), Gain);
        {
            TMediaPlayer P(PcmOutput(Pcm));
            P.SetVolume(100);
            P.SetURL(Server.Url("/t.flac"));
            QTRY_COMPARE_WITH_TIMEOUT(P.PlayState(), TPlayState::Stopped, 10000);
        }
        QFile Out(Pcm);
        QVERIFY(Out.open(QIODevice::ReadOnly));
        const TToneCheck Check = CheckTone(Out.readAll());
        QVERIFY(Check.Periods > 100);
        // The tone as encoded: a sine of amplitude 1/8.
        const double Db = 20 * std::log10(Check.MaxLevel / (0.125 / std::sqrt(2.0)));
        QVERIFY2(Db >= LowDb && Db <= HighDb, qPrintable(QString::number(Db)));
    }
};

QTEST_GUILESS_MAIN(TstReplayGain)
#include "tst_replaygain.moc"
