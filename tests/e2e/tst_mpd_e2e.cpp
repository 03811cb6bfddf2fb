#include "TestFiles.h"
#include "TestHttpServer.h"
#include "TestMedia.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

// The speaker without a screen driven by MPD clients that are not ours: mpc, python-mpd2 and a
// small program on libmpdclient, on the speaker's fixed ports in the suite's namespace.
class TestMpdE2E : public QObject {
    Q_OBJECT
    QTemporaryDir FHome;
    QProcess FSpeaker;
    TTestHttpServer FHttp;

    // Runs a client to its end; its output, or why it failed.
    QByteArray Run(const QString &Program, const QStringList &Arguments) {
        // The event loop runs meanwhile: this process serves the tracks.
        QProcess Client;
        QSignalSpy Done(&Client, &QProcess::finished);
        Client.start(Program, Arguments);
        if (!Done.wait(30000) || Client.exitCode() != 0)
            return "failed: " + Client.readAllStandardError() + Client.readAllStandardOutput();
        return Client.readAllStandardOutput();
    }
    QByteArray Mpc(const QStringList &Arguments) {
        return Run("mpc", QStringList{"-h", "127.0.0.1", "-p", "6600"} + Arguments);
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(FHome.isValid() && MakeOwnHome(FHome.path()));
        QVERIFY(FHttp.Start());
        for (const char *Name : {"/a.wav", "/b.wav", "/c.wav"})
            FHttp.SetFile(Name, MakeWav(30));
        QProcessEnvironment Env = OwnHomeEnvironment(FHome.path());
        Env.insert("VX_MPV_OPTIONS", "ao=null");
        FSpeaker.setProcessEnvironment(Env);
        FSpeaker.start(VX_HEADLESS_EXE, {});
        QVERIFY(FSpeaker.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(Mpc({"status"}).contains("volume:"), 20000);
    }
    void cleanupTestCase() {
        FSpeaker.terminate();
        FSpeaker.waitForFinished(10000);
    }

    void mpc() {
        Mpc({"clear"});
        QVERIFY(!Mpc({"add", FHttp.Url("/a.wav")}).startsWith("failed"));
        QVERIFY(!Mpc({"add", FHttp.Url("/b.wav")}).startsWith("failed"));
        const QByteArray List = Mpc({"playlist"});
        QVERIFY2(List.contains("a.wav\n") && List.contains("b.wav\n"), List.constData());
        Mpc({"play"});
        QTRY_VERIFY_WITH_TIMEOUT(Mpc({"status"}).contains("[playing] #1/2"), 10000);
        Mpc({"pause"});
        QTRY_VERIFY(Mpc({"status"}).contains("[paused]"));
        Mpc({"next"});
        QTRY_VERIFY_WITH_TIMEOUT(Mpc({"status"}).contains("[playing] #2/2"), 10000);
        Mpc({"volume", "40"});
        QVERIFY(Mpc({"volume"}).contains("volume: 40%"));
    }
    void pythonMpd2() {
        const QByteArray Out = Run("/usr/bin/python3", {VX_MPD_SCRIPT, "127.0.0.1", "6600", "37400",
                                                        FHttp.Url("/a.wav"), FHttp.Url("/c.wav")});
        QVERIFY2(Out.contains("python-mpd2 ok"), Out.constData());
    }
    void libmpdclient() {
        const QByteArray Out = Run(VX_MPD_CHECK, {"127.0.0.1", "6600", FHttp.Url("/b.wav")});
        QVERIFY2(Out.contains("libmpdclient ok"), Out.constData());
    }
};

QTEST_GUILESS_MAIN(TestMpdE2E)
#include "tst_mpd_e2e.moc"
