#include "MediaPlayer.h"
#include "MediaServer.h"
#include "TestHttpServer.h"
#include "TestMedia.h"
#include "TrackTime.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <clocale>

namespace {

// Real-time output: for pause, seek and position checks.
const TMpvOptions Timed = {{"ao", "null"}};
// Plays as fast as it decodes: where only the order of events matters.
const TMpvOptions Untimed = {{"ao", "null"}, {"ao-null-untimed", "yes"}};

constexpr int SettleMs = 15000; // above mpv's network timeout of 10 s

QList<int> States(const QSignalSpy &Spy) {
    QList<int> Out;
    for (const QList<QVariant> &Args : Spy)
        Out.append(int(Args.at(0).value<TPlayState>()));
    return Out;
}

// Whether Wanted appears in Seen in this order, other states allowed in between.
bool InOrder(const QList<int> &Seen, const QList<int> &Wanted) {
    qsizetype W = 0;
    for (int S : Seen)
        if (W < Wanted.size() && S == Wanted[W])
            ++W;
    return W == Wanted.size();
}

// The states as text for a failure message (QTest::toString hands out memory to free).
QByteArray StatesText(const QList<int> &Seen) {
    QByteArrayList Parts;
    for (int S : Seen)
        Parts.append(QByteArray::number(S));
    return Parts.join(' ');
}

} // namespace

class TstMediaPlayer : public QObject {
    Q_OBJECT
private:
    TTestHttpServer *FServer = nullptr;

private Q_SLOTS:
    void initTestCase() {
        // As main does: libmpv needs the "C" numeric locale.
        std::setlocale(LC_NUMERIC, "C");
    }
    void init() {
        FServer = new TTestHttpServer(this);
        QVERIFY(FServer->Start());
        FServer->SetFile("/short.wav", MakeWav(2.0, 8000, "Test Tone", "Vellox Band"));
        FServer->SetFile("/long.wav", MakeWav(30.0));
        FServer->SetFile("/other.wav", MakeWav(30.0, 11025));
    }
    void cleanup() {
        delete FServer;
        FServer = nullptr;
    }

    void formatPosition_data() {
        QTest::addColumn<double>("Seconds");
        QTest::addColumn<QString>("Text");
        QTest::newRow("zero") << 0.0 << "00:00";
        QTest::newRow("fraction truncated") << 59.4 << "00:59";
        QTest::newRow("past a minute") << 61.0 << "01:01";
        QTest::newRow("last before an hour") << 3599.0 << "59:59";
        QTest::newRow("one hour") << 3600.0 << "1:00:00";
        QTest::newRow("hours minutes seconds") << 3725.0 << "1:02:05";
        QTest::newRow("negative") << -3.0 << "00:00";
        QTest::newRow("not a number") << qQNaN() << "00:00";
        QTest::newRow("past any track") << 1e300 << "999999:00:00";
    }
    void formatPosition() {
        QFETCH(double, Seconds);
        QFETCH(QString, Text);
        QCOMPARE(FormatTrackTime(Seconds), Text);
    }

    void playableURL_data() {
        QTest::addColumn<QByteArray>("URL");
        QTest::addColumn<bool>("Playable");
        QTest::newRow("http") << QByteArray("http://127.0.0.1/a.wav") << true;
        QTest::newRow("https upper case") << QByteArray("HTTPS://host/a.wav") << true;
        QTest::newRow("mixed case") << QByteArray("hTtP://host/a.wav") << true;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("file") << QByteArray("file:///etc/passwd") << false;
        QTest::newRow("path") << QByteArray("/etc/passwd") << false;
        QTest::newRow("one slash") << QByteArray("http:/host/a.wav") << false;
        QTest::newRow("leading blank") << QByteArray(" http://host/a.wav") << false;
        QTest::newRow("other scheme") << QByteArray("httpx://host/a.wav") << false;
        QTest::newRow("wrapped") << QByteArray("lavf://http://host/a.wav") << false;
    }
    void playableURL() {
        QFETCH(QByteArray, URL);
        QFETCH(bool, Playable);
        QCOMPARE(TMediaPlayer::IsPlayableURL(URL), Playable);
    }

    void libraryIsUsable() { QVERIFY(MediaLibraryUsable()); }

    void pausedPastServerTimeout() {
        // Paused for longer than the media server keeps a silent connection, with a cache far
        // smaller than the rest of the track: after the pause the track still plays to its end.
        QTemporaryDir Dir;
        QVERIFY(Dir.isValid());
        const QString File = Dir.filePath("big.wav");
        constexpr double Seconds = 80; // 30 MB at 192 kHz, far more than socket buffers hold
        QVERIFY(WriteWav(File, Seconds, 192000));
        const auto Library =
            std::make_shared<const QByteArrayList>(QByteArrayList{QFile::encodeName(File)});
        constexpr unsigned ServerTimeout = 2;
        TMediaServer Server([Library] { return Library; }, ServerTimeout);
        QVERIFY(Server.Start(0));

        const TMpvOptions SmallCache = {{"ao", "null"},
                                        {"speed", "16"},
                                        {"audio-pitch-correction", "no"},
                                        {"cache", "yes"},
                                        {"demuxer-readahead-secs", "1"},
                                        {"demuxer-max-bytes", "1MiB"}};
        TMediaPlayer P(SmallCache);
        QSignalSpy Spy(&P, &TMediaPlayer::PlayStateChange);
        P.SetURL("http://127.0.0.1:" + QByteArray::number(Server.Port()) + "/big.wav");
        QTRY_COMPARE_WITH_TIMEOUT(P.PlayState(), TPlayState::Playing, 10000);
        P.Pause();
        QTRY_COMPARE_WITH_TIMEOUT(P.PlayState(), TPlayState::Paused, 5000);
        QVERIFY(P.CurrentPosition() < Seconds / 4);
        // Paused past the server's time-out: the server drops the idle download.
        QTRY_COMPARE_WITH_TIMEOUT(Server.OpenConnections(), 0u, ServerTimeout * 1000 + 5000);

        double Reached = 0;
        QTimer Sampler;
        connect(&Sampler, &QTimer::timeout, this,
                [&] { Reached = std::max(Reached, P.CurrentPosition()); });
        Sampler.start(10);
        P.Play();
        QTRY_VERIFY_WITH_TIMEOUT(States(Spy).contains(8), 30000);
        // At this speed the last reports before the end trail the output buffer by seconds.
        QVERIFY2(Reached > Seconds * 0.9, qPrintable(QString::number(Reached)));
    }

    void startsWithDesignSettings() {
        TMediaPlayer P(Untimed);
        QVERIFY(P.IsReady());
        QCOMPARE(P.PlayState(), TPlayState::Undefined);
        QCOMPARE(P.Volume(), 50);
        QCOMPARE(P.Mute(), false);
        QVERIFY(!P.HasMedia());
        QCOMPARE(P.Duration(), 0.0);
        QVERIFY(P.URL().isEmpty());
    }

    // The user's options reach mpv after the code's (untimed: 30 s end at once); a refused one
    // does not.
    void userOptionsReachMpv() {
        qputenv(MpvOptionsVariable, "ao-null-untimed=yes,volume=100");
        TMediaPlayer P(Timed);
        qunsetenv(MpvOptionsVariable);
        QSignalSpy Spy(&P, &TMediaPlayer::PlayStateChange);
        P.SetURL(FServer->Url("/long.wav"));
        QTRY_VERIFY_WITH_TIMEOUT(States(Spy).contains(8), 10000);
        QCOMPARE(P.Volume(), 50);
    }

    // Loaded paused at a position, it waits there; unpaused, audio-pts runs on from it.
    void loadsPausedAtAPosition() {
        TMediaPlayer P(Timed);
        P.LoadPaused(FServer->Url("/long.wav"), 20.0);
        QTRY_COMPARE_WITH_TIMEOUT(P.PlayState(), TPlayState::Paused, 5000);
        QVERIFY(qAbs(P.AudioPts().value_or(0) - 20) < 0.1);
        P.SetSpeed(1.005);
        P.Play();
        QTRY_VERIFY_WITH_TIMEOUT(P.AudioPts().value_or(0) > 20.2, 5000);
        QCOMPARE(P.PlayState(), TPlayState::Playing);
    }

    void playsTrackToTheEnd() {
        TMediaPlayer P(Timed);
        QSignalSpy Spy(&P, &TMediaPlayer::PlayStateChange);
        const QByteArray URL = FServer->Url("/short.wav");
        P.SetURL(URL);
        QCOMPARE(P.URL(), URL);
        QCOMPARE(P.PlayState(), TPlayState::Transitioning);

        QTRY_COMPARE_WITH_TIMEOUT(P.PlayState(), TPlayState::Playing, 5000);
        QVERIFY(P.HasMedia());
        QVERIFY(qAbs(P.Duration() - 2.0) < 0.1);
        QCOMPARE(P.MediaName(), QStringLiteral("Test Tone"));
        QCOMPARE(P.MediaAuthor(), QStringLiteral("Vellox Band"));
        QTRY_VERIFY_WITH_TIMEOUT(P.CurrentPosition() > 0.5, 5000);
        QCOMPARE(P.CurrentPositionString(), QStringLiteral("00:0%1").arg(int(P.CurrentPosition())));

        QTRY_COMPARE_WITH_TIMEOUT(P.PlayState(), TPlayState::Stopped, 5000);
        const QList<int> Seen = States(Spy);
        QVERIFY2(InOrder(Seen, {9, 3, 8, 1}), StatesText(Seen).constData());
        QVERIFY(!Seen.contains(10));
        QVERIFY(!P.HasMedia());
        QCOMPARE(P.Duration(), 0.0);
        // The last written URL stays readable after the track ended.
        QCOMPARE(P.URL(), URL);
    }

    void pauseSeekStopAndReplay() {
        TMediaPlayer P(Timed);
        QSignalSpy Spy(&P, &TMediaPlayer::PlayStateChange);
        P.SetURL(FServer->Url("/long.wav"));
        QTRY_COMPARE_WITH_TIMEOUT(P.PlayState(), TPlayState::Playing, 5000);

        P.Pause();
        QTRY_COMPARE_WITH_TIMEOUT(P.PlayState(), TPlayState::Paused, 5000);
        P.Play();
        QTRY_COMPARE_WITH_TIMEOUT(P.PlayState(), TPlayState::Playing, 5000);

        P.SetCurrentPosition(20.0);
        QVERIFY(P.CurrentPosition() >= 20.0);
        QTRY_VERIFY_WITH_TIMEOUT(P.CurrentPosition() > 20.2, 5000);
        QVERIFY(P.CurrentPosition() < 29.0);
        QCOMPARE(P.PlayState(), TPlayState::Playing);

        Spy.clear();
        P.Stop();
        QCOMPARE(States(Spy), QList<int>{1});
        QVERIFY(!P.HasMedia());
        QCOMPARE(P.CurrentPosition(), 0.0);
        // Seeking without media does nothing.
        P.SetCurrentPosition(5.0);
        QCOMPARE(P.CurrentPosition(), 0.0);
        P.Stop();
        QCOMPARE(States(Spy), QList<int>{1});

        // Play after a stop starts the same URL again, unpaused.
        P.Play();
        QTRY_COMPARE_WITH_TIMEOUT(P.PlayState(), TPlayState::Playing, 5000);
        QVERIFY2(InOrder(States(Spy), {1, 9, 3}), StatesText(States(Spy)).constData());
        QVERIFY(P.CurrentPosition() < 20.0);
        P.Stop();
    }

    void pauseIsClearedByTheNextTrack() {
        TMediaPlayer P(Timed);
        P.SetURL(FServer->Url("/long.wav"));
        P.Pause();
        QTRY_COMPARE_WITH_TIMEOUT(P.PlayState(), TPlayState::Paused, 5000);
        P.SetURL(FServer->Url("/other.wav"));
        QTRY_COMPARE_WITH_TIMEOUT(P.PlayState(), TPlayState::Playing, 5000);
        P.Stop();
    }

    void stopWhileIdleReportsStopped() {
        TMediaPlayer P(Untimed);
        QSignalSpy Spy(&P, &TMediaPlayer::PlayStateChange);
        P.Stop();
        QCOMPARE(States(Spy), QList<int>{1});
        QCOMPARE(P.PlayState(), TPlayState::Stopped);
    }

    void volumeAndMute_data() {
        QTest::addColumn<int>("Written");
        QTest::addColumn<int>("Read");
        QTest::newRow("inside") << 37 << 37;
        QTest::newRow("above") << 150 << 100;
        QTest::newRow("far above") << 1000 << 100;
        QTest::newRow("below") << -5 << 0;
    }
    void volumeAndMute() {
        QFETCH(int, Written);
        QFETCH(int, Read);
        TMediaPlayer P(Untimed);
        QSignalSpy Volumes(&P, &TMediaComponent::VolumeChange);
        P.SetVolume(Written);
        P.SetVolume(Written);
        P.SetMute(true);
        QCOMPARE(P.Volume(), Read);
        QVERIFY(P.Mute());
        // mpv's own notifications must not bring back another value.
        P.SetURL(FServer->Url("/short.wav"));
        QTRY_COMPARE_WITH_TIMEOUT(P.PlayState(), TPlayState::Stopped, 5000);
        QCOMPARE(P.Volume(), Read);
        QCOMPARE(Volumes.count(), 1); // once, with the value kept
        QCOMPARE(Volumes.first().first().toInt(), Read);
        QVERIFY(P.Mute());
        P.SetMute(false);
        QVERIFY(!P.Mute());
    }

    void replacingURLDoesNotStop() {
        TMediaPlayer P(Timed);
        QSignalSpy Spy(&P, &TMediaPlayer::PlayStateChange);
        P.SetURL(FServer->Url("/long.wav"));
        QTRY_COMPARE_WITH_TIMEOUT(P.PlayState(), TPlayState::Playing, 5000);
        Spy.clear();
        const QByteArray Next = FServer->Url("/other.wav");
        P.SetURL(Next);
        QTRY_COMPARE_WITH_TIMEOUT(P.PlayState(), TPlayState::Playing, 5000);
        QCOMPARE(States(Spy), (QList<int>{9, 3}));
        QCOMPARE(P.URL(), Next);
        QVERIFY(FServer->Requests().contains("GET /other.wav"));
        P.Stop();
    }

    void unreachableSettlesReady_data() {
        QTest::addColumn<QByteArray>("Path");
        QTest::addColumn<bool>("ClosedPort");
        QTest::newRow("not found") << QByteArray("/missing.wav") << false;
        QTest::newRow("closed without answer") << QByteArray("/refused.wav") << false;
        QTest::newRow("connection refused") << QByteArray("/any.wav") << true;
    }
    void unreachableSettlesReady() {
        QFETCH(QByteArray, Path);
        QFETCH(bool, ClosedPort);
        // The answer is held back a little so the GUI thread must keep running meanwhile.
        FServer->SetRefused("/refused.wav", 300);
        QByteArray URL = FServer->Url(Path);
        if (ClosedPort) {
            QTcpServer Probe;
            QVERIFY(Probe.listen(QHostAddress::LocalHost, 0));
            URL = "http://127.0.0.1:" + QByteArray::number(Probe.serverPort()) + Path;
        }
        TMediaPlayer P(Untimed);
        QSignalSpy Spy(&P, &TMediaPlayer::PlayStateChange);
        int Ticks = 0;
        QTimer Ticker;
        connect(&Ticker, &QTimer::timeout, this, [&Ticks] { ++Ticks; });
        Ticker.start(20);

        P.SetURL(URL);
        QCOMPARE(States(Spy), QList<int>{9});
        QTRY_COMPARE_WITH_TIMEOUT(P.PlayState(), TPlayState::Ready, SettleMs);
        QCOMPARE(States(Spy), (QList<int>{9, 10}));
        QCOMPARE(P.URL(), URL);
        QVERIFY(!P.HasMedia());
        if (!ClosedPort)
            QVERIFY(FServer->Requests().contains("GET " + Path));
        if (Path == "/refused.wav")
            QVERIFY(Ticks > 0);
    }

    void otherSchemesNeverReachMpv_data() {
        QTest::addColumn<QByteArray>("Target");
        QTest::newRow("file url") << QByteArray("file:///etc/passwd");
        QTest::newRow("local path") << QByteArray("/etc/passwd");
        QTest::newRow("empty") << QByteArray();
        // These would reach the test server if mpv were asked to open them.
        QTest::newRow("ftp") << QByteArray("ftp://127.0.0.1:PORT/short.wav");
        QTest::newRow("rtsp") << QByteArray("rtsp://127.0.0.1:PORT/short.wav");
        QTest::newRow("tcp") << QByteArray("tcp://127.0.0.1:PORT");
    }
    void otherSchemesNeverReachMpv() {
        QFETCH(QByteArray, Target);
        const QByteArray URL = Target.replace("PORT", QByteArray::number(FServer->Port()));
        TMediaPlayer P(Untimed);
        QSignalSpy Spy(&P, &TMediaPlayer::PlayStateChange);
        QSignalSpy Connections(FServer, &TTestHttpServer::ConnectionAccepted);
        P.SetURL(URL);
        QCOMPARE(States(Spy), (QList<int>{9, 10}));
        QCOMPARE(P.URL(), URL);
        // A connection that must not come: wait a while for it.
        QVERIFY(!Connections.wait(500));
        QCOMPARE(FServer->ConnectionCount(), 0);
        QVERIFY(FServer->Requests().isEmpty());
        QCOMPARE(P.PlayState(), TPlayState::Ready);
    }

    void refusedSchemeStopsCurrentTrack() {
        TMediaPlayer P(Timed);
        P.SetURL(FServer->Url("/long.wav"));
        QTRY_COMPARE_WITH_TIMEOUT(P.PlayState(), TPlayState::Playing, 5000);
        QSignalSpy Spy(&P, &TMediaPlayer::PlayStateChange);
        P.SetURL("file:///etc/passwd");
        QCOMPARE(States(Spy), (QList<int>{9, 10}));
        QVERIFY(!P.HasMedia());
        // The old track's end must not show up as another state later.
        QVERIFY(!Spy.wait(500));
    }
};

QTEST_GUILESS_MAIN(TstMediaPlayer)
#include "tst_mediaplayer.moc"
