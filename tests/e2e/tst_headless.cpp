#include "TestController.h"
#include "TestFiles.h"
#include "TestHttpServer.h"
#include "TestMedia.h"
#include "TwoHosts.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <algorithm>

// The built program as a speaker without a screen: no display, no window toolkit platform.
// It runs in host B; this test is a controller, a peer and a file server in host A.
class TestHeadless : public QObject {
    Q_OBJECT
private:
    QTemporaryDir FHome;
    TTwoHosts FHosts;
    QProcess FSpeaker;
    QUdpSocket FPeer;      // a copy of the program in host A, as presence sees it
    QByteArrayList FHeard; // what host B sent it

    QString DataDir() const { return OwnDataDir(FHome.path()); }
    QProcessEnvironment Environment() const {
        QProcessEnvironment Env = OwnHomeEnvironment(FHome.path());
        for (const char *Name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            Env.remove(Name);
        return Env;
    }
    void StartInB(QProcess &Process) {
        Process.setProcessEnvironment(Environment());
        FHosts.StartInB(Process, {VX_PLAYER_EXE, "--headless"});
        QVERIFY2(Process.waitForStarted(5000), qPrintable(Process.errorString()));
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(FHome.isValid());
        QVERIFY(MakeOwnHome(FHome.path()));
        QVERIFY2(FHosts.SetUp(), qPrintable(FHosts.Error()));
        QVERIFY(FPeer.bind(QHostAddress::AnyIPv4, 37400));
        connect(&FPeer, &QUdpSocket::readyRead, this, [this] {
            while (FPeer.hasPendingDatagrams()) {
                const QNetworkDatagram D = FPeer.receiveDatagram();
                if (D.senderAddress().toString().toLatin1() == TTwoHosts::AddressB)
                    FHeard.append(D.data());
            }
        });
    }
    void cleanupTestCase() {
        FSpeaker.kill();
        FSpeaker.waitForFinished(5000);
        FHosts.TearDown();
    }

    // Asking for help or the version needs no display and starts nothing.
    void commandLine_data() {
        QTest::addColumn<QString>("Option");
        QTest::addColumn<QByteArray>("Shown");
        QTest::newRow("version") << "--version" << QByteArray(VX_APP_VERSION);
        QTest::newRow("help") << "--help" << QByteArray("--headless");
    }
    void commandLine() {
        QFETCH(QString, Option);
        QFETCH(QByteArray, Shown);
        QProcess Program;
        Program.setProcessEnvironment(Environment());
        Program.start(VX_PLAYER_EXE, {Option});
        QVERIFY(Program.waitForFinished(10000));
        QCOMPARE(Program.exitCode(), 0);
        QVERIFY(Program.readAllStandardOutput().contains(Shown));
    }

    void speakerWithoutAScreen() {
        QVERIFY(WriteAll(FHome.filePath("Song.mp3"), QByteArray(5000, 'x')));
        QVERIFY(WriteAll(DataDir() + "/MusicLibrary.txt", FHome.filePath("Song.mp3").toUtf8()));
        TTestHttpServer Http;
        QVERIFY(Http.Start(QHostAddress(QString::fromLatin1(TTwoHosts::AddressA))));
        Http.SetFile("/tone.wav", MakeWav(60));
        StartInB(FSpeaker);

        // It greets the network, and answers a greeting.
        QTRY_VERIFY_WITH_TIMEOUT(FHeard.contains("VELOXHELLO"), 15000);
        // It became the program that carries no window toolkit.
        QVERIFY(!ReadAll(QString("/proc/%1/maps").arg(FSpeaker.processId())).contains("Widgets"));
        // The answers carry its name after the word older copies read.
        const auto Answers = [this] {
            return std::count_if(FHeard.cbegin(), FHeard.cend(), [](const QByteArray &D) {
                return D.startsWith("VELOXALIVE\nNAME=") && D.size() > 16;
            });
        };
        const auto Before = Answers();
        FPeer.writeDatagram("VELOXHELLO", QHostAddress(QString::fromLatin1(TTwoHosts::AddressB)),
                            37400);
        QTRY_VERIFY_WITH_TIMEOUT(Answers() > Before, 5000);

        // A controller is greeted and answered, and the track it adds plays.
        TTestController C(37400, TTwoHosts::AddressA, TTwoHosts::AddressB);
        QVERIFY(C.Connected());
        QVERIFY(C.WaitFor("STATE") >= 0);
        C.Send("GET", {});
        QVERIFY(C.WaitFor("LIST") >= 0);
        C.Send("ADD", {Http.Url("/tone.wav")});
        const qsizetype Playing = C.WaitFor("STATE / 3");
        QVERIFY(Playing >= 0);
        const qsizetype First = C.WaitFor("POSITION", Playing);
        QVERIFY(First >= 0);
        QVERIFY(C.WaitFor("POSITION", First + 1) >= 0);

        // The library's file is served by its name.
        QTcpSocket Media;
        Media.connectToHost(QString::fromLatin1(TTwoHosts::AddressB), 37401);
        QVERIFY(Media.waitForConnected(5000));
        Media.write("GET /Song.mp3 HTTP/1.0\r\n\r\n");
        QByteArray Reply;
        QTRY_VERIFY((Reply += Media.readAll()).endsWith(QByteArray(5000, 'x')));
        QVERIFY2(Reply.startsWith("HTTP/1.1 200 "), Reply.left(80).constData());

        // A second start hands over to the first and ends at once.
        QProcess Second;
        StartInB(Second);
        QVERIFY(Second.waitForFinished(10000));
        QCOMPARE(Second.exitCode(), 0);
        QCOMPARE(FSpeaker.state(), QProcess::Running);

        // SIGTERM runs the close sequence: goodbye, controllers dropped, settings written.
        QElapsedTimer Closing;
        Closing.start();
        FSpeaker.terminate();
        QVERIFY(FSpeaker.waitForFinished(5000));
        QVERIFY2(Closing.elapsed() < 1000, qPrintable(QString::number(Closing.elapsed())));
        QCOMPARE(FSpeaker.exitStatus(), QProcess::NormalExit);
        QCOMPARE(FSpeaker.exitCode(), 0);
        QTRY_VERIFY(FHeard.contains("VELOXCLOSE"));
        QTRY_COMPARE(C.Socket.state(), QAbstractSocket::UnconnectedState);
        QSettings Ini(DataDir() + "/vxPlayer.ini", QSettings::IniFormat);
        QCOMPARE(Ini.value("Window/PopHitCount").toString(), QString("0"));
    }

    // The settings can keep other people from playing here.
    void othersKeptOut() {
        QVERIFY(WriteAll(DataDir() + "/vxPlayer.ini", "[Server]\r\nHeadlessAllow=0\r\n"));
        FHeard.clear();
        StartInB(FSpeaker);
        // The greeting goes out once the command port listens.
        QTRY_VERIFY_WITH_TIMEOUT(FHeard.contains("VELOXHELLO"), 15000);
        TTestController C(37400, TTwoHosts::AddressA, TTwoHosts::AddressB);
        QVERIFY(C.Connected());
        QTRY_COMPARE(C.Socket.state(), QAbstractSocket::UnconnectedState);
        QVERIFY(C.Got.isEmpty());
        FSpeaker.terminate();
        QVERIFY(FSpeaker.waitForFinished(5000));
        QCOMPARE(FSpeaker.exitCode(), 0);
    }

    // The settings' mpv options reach the speaker's mpv: untimed, a minute of sound ends at once
    // and the next track follows.
    void settingsBeforeSound() {
        QVERIFY(WriteAll(DataDir() + "/vxPlayer.ini",
                         "[Speaker]\r\nMpvOptions=ao=null,ao-null-untimed=yes\r\n"));
        TTestHttpServer Http;
        QVERIFY(Http.Start(QHostAddress(QString::fromLatin1(TTwoHosts::AddressA))));
        Http.SetFile("/tone.wav", MakeWav(60));
        Http.SetFile("/next.wav", MakeWav(60));
        FHeard.clear();
        StartInB(FSpeaker);
        QTRY_VERIFY_WITH_TIMEOUT(FHeard.contains("VELOXHELLO"), 15000);
        TTestController C(37400, TTwoHosts::AddressA, TTwoHosts::AddressB);
        QVERIFY(C.Connected());
        C.Send("ADD", {Http.Url("/tone.wav"), Http.Url("/next.wav")});
        QVERIFY(C.WaitFor("URL / " + Http.Url("/next.wav"), 0, 20000) >= 0);
    }
};

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
