// Tracks that follow each other play as one sound: checked on the samples libmpv writes.
#include "MediaPlayer.h"
#include "PlaybackEngine.h"
#include "SharingState.h"
#include "Speaker.h"
#include "TestHttpServer.h"
#include "ToneJoin.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <clocale>

namespace {

// Where the first half ends: not at a period's end, so the cut falls mid-cycle.
constexpr int Cut = ToneRate + 37;
constexpr int End = 2 * ToneRate;

QByteArray ReadAll(const QString &Path) {
    QFile File(Path);
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}

} // namespace

class TstGapless : public QObject {
    Q_OBJECT
    QTemporaryDir FDir;
    TTestHttpServer *FServer = nullptr;

    // Both halves in format Ext, served as /h1.Ext and /h2.Ext.
    bool ServeHalves(const QString &Ext, const QStringList &Options = {}) {
        for (const auto &[Name, From, To] : {std::tuple{"h1.", 0, Cut}, {"h2.", Cut, End}}) {
            const QString File = FDir.filePath(Name + Ext);
            if (!EncodeTone(File, From, To, Options))
                return false;
            FServer->SetFile("/" + QFile::encodeName(Name + Ext), ReadAll(File), "audio/x");
        }
        return true;
    }

    // Play states as numbers, and "J" where the component joined the next track.
    static void Watch(TMediaComponent *Media, QByteArrayList &Log) {
        QObject::connect(Media, &TMediaComponent::PlayStateChange,
                         [&Log](TPlayState S) { Log.append(QByteArray::number(int(S))); });
        QObject::connect(Media, &TMediaComponent::NextStarted, [&Log] { Log.append("J"); });
    }
    // From the first sound on: playing, then the joins and the end Then says; no stop between.
    static void VerifyStates(const QByteArrayList &Log, const QByteArrayList &Then) {
        QCOMPARE(Log.mid(Log.indexOf("3"), Then.size() + 1), QByteArrayList{"3"} + Then);
    }

    // The tone was heard whole: no sample lost or doubled at the join, no silence.
    static void VerifyWhole(const QString &Pcm, double Tolerance = 0.25,
                            const QString &Known = {}) {
        const TToneCheck Check = CheckTone(ReadAll(Pcm));
        QVERIFY2(Check.Periods > End / TonePeriod - 20, qPrintable(QString::number(Check.Periods)));
        if (!Known.isEmpty())
            QEXPECT_FAIL("", qPrintable(Known), Abort);
        QVERIFY2(std::abs(Check.Drift) < Tolerance, qPrintable(QString::number(Check.Drift)));
        QVERIFY2(Check.MinLevel > 0.8 * Check.MaxLevel,
                 qPrintable(QString::number(Check.MinLevel)));
    }

private Q_SLOTS:
    void initTestCase() {
        std::setlocale(LC_NUMERIC, "C"); // as main does, for libmpv
        QVERIFY(FDir.isValid());
    }
    void init() {
        FServer = new TTestHttpServer(this);
        QVERIFY(FServer->Start());
    }
    void cleanup() { delete FServer; }

    // Each codec's encoder delay and padding are left out (LAME/Xing header, MP4 edit list,
    // Opus pre-skip, Vorbis granule positions).
    void componentJoins_data() {
        QTest::addColumn<QString>("Ext");
        QTest::addColumn<QStringList>("Options");
        QTest::addColumn<double>("Tolerance"); // the codec's own phase error, in samples
        QTest::addColumn<QString>("Known");    // why FFmpeg 5.1 does not join it yet
        QTest::newRow("flac") << "flac" << QStringList() << 0.05 << QString();
        QTest::newRow("mp3") << "mp3" << QStringList{"-b:a", "192k"} << 0.25 << QString();
        QTest::newRow("ogg") << "ogg" << QStringList() << 0.25
                             << "FFmpeg drops a Vorbis file's last 128 samples";
        QTest::newRow("opus") << "opus" << QStringList{"-b:a", "192k"} << 0.25 << QString();
        QTest::newRow("m4a") << "m4a" << QStringList() << 0.25
                             << "FFmpeg keeps AAC's end padding (the edit list's end)";
    }
    void componentJoins() {
        QFETCH(QString, Ext);
        QFETCH(QStringList, Options);
        QFETCH(double, Tolerance);
        QFETCH(QString, Known);
        QVERIFY(ServeHalves(Ext, Options));
        const QString Pcm = FDir.filePath("out-" + Ext);
        {
            TMediaPlayer P(PcmOutput(Pcm));
            QByteArrayList Log;
            Watch(&P, Log);
            QSignalSpy Joins(&P, &TMediaPlayer::NextStarted);
            P.SetVolume(100);
            P.SetURL(FServer->Url("/h1." + Ext.toUtf8()));
            P.SetNextURL(FServer->Url("/h2." + Ext.toUtf8()));
            QVERIFY(Joins.wait(10000));
            QCOMPARE(Joins.first().first().toByteArray(), FServer->Url("/h2." + Ext.toUtf8()));
            QTRY_COMPARE_WITH_TIMEOUT(P.PlayState(), TPlayState::Stopped, 10000);
            VerifyStates(Log, {"J", "8"});
        }
        VerifyWhole(Pcm, Tolerance, Known);
    }

    // The speaker queues what follows after any change of what plays or what comes next.
    void speakerJoins_data() {
        QTest::addColumn<QString>("Change");
        QTest::newRow("URL command") << "url";
        QTest::newRow("list edit") << "edit";
    }
    void speakerJoins() {
        QFETCH(QString, Change);
        QVERIFY(ServeHalves("flac"));
        const QByteArray H1 = FServer->Url("/h1.flac"), H2 = FServer->Url("/h2.flac");
        const QString Pcm = FDir.filePath("speaker-" + Change);
        {
            TSharingState Sharing;
            TSpeaker Speaker(0, Sharing, std::make_unique<TMediaPlayer>(PcmOutput(Pcm)));
            TPlaybackEngine &Engine = *Speaker.Engine();
            QByteArrayList Log;
            Watch(Speaker.Media(), Log);
            QSignalSpy Joins(Speaker.Media(), &TMediaComponent::NextStarted);
            // Something played a moment ago, at full volume: no quiet start for the tone.
            Engine.OnPlayStateChanged(TPlayState::Playing);
            Engine.ExecuteCommand(1, "127.0.0.1", TCommandMessage{"VOLUMN", {"100"}, 100});
            // The list plays in a loop, H1 H2 H1 ...: one unbroken tone, as the cut is mid-cycle
            // and the tone's end is a period's end.
            if (Change == "url") {
                Engine.AddLocalTracks({H2, H1});
                Engine.ProcessListJob();
                Engine.ExecuteCommand(1, "127.0.0.1", TCommandMessage{"URL", {H1}, 0});
            } else {
                Engine.AddLocalTracks({H1}); // a list of one: H1 follows itself
                Engine.ProcessListJob();
                // Loaded now; the test's server answers no request before the edit is made.
                Engine.PlayTick();
                Engine.AddLocalTracks({H2});
                Engine.ProcessListJob();
            }
            QVERIFY(Joins.wait(10000));
            QCOMPARE(Speaker.Media()->URL(), H2);
            QTRY_VERIFY_WITH_TIMEOUT(Joins.size() >= 2, 10000);
            Speaker.StopServices();
            VerifyStates(Log, {"J", "J"});
        }
        VerifyWhole(Pcm);
    }
};

QTEST_GUILESS_MAIN(TstGapless)
#include "tst_gapless.moc"
