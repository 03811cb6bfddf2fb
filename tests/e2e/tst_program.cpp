#include "TestFiles.h"
#include <QProcess>
#include <QSettings>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

// The built program, started as a user starts it: one copy per user, the fixed
// ports, a clean close on SIGTERM.
class TestProgram : public QObject {
    Q_OBJECT
private:
    QTemporaryDir FHome;

    QProcessEnvironment Environment() const { return OwnHomeEnvironment(FHome.path()); }
    QString DataDir() const { return OwnDataDir(FHome.path()); }

    static QByteArray Fetch(quint16 Port, const QByteArray &Request) {
        QTcpSocket Socket;
        Socket.connectToHost(QHostAddress::LocalHost, Port);
        if (!Socket.waitForConnected(5000))
            return {};
        Socket.write(Request);
        QByteArray Reply;
        while (Socket.waitForReadyRead(5000))
            Reply += Socket.readAll();
        return Reply + Socket.readAll();
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(FHome.isValid());
        QVERIFY(MakeOwnHome(FHome.path()));
    }

    void startsOnceServesAndClosesCleanly() {
        const QString Song = FHome.filePath("My Song.mp3");
        QFile F(Song);
        QVERIFY(F.open(QIODevice::WriteOnly));
        F.write(QByteArray(5000, 'x'));
        F.close();
        QFile Library(DataDir() + "/MusicLibrary.txt");
        QVERIFY(Library.open(QIODevice::WriteOnly));
        Library.write(Song.toUtf8() + "\r\n");
        Library.close();

        QProcess First;
        First.setProcessEnvironment(Environment());
        First.start(VX_PLAYER_EXE);
        QVERIFY(First.waitForStarted(5000));

        // The speaker greets a controller with its state.
        QTcpSocket Controller;
        QTRY_VERIFY_WITH_TIMEOUT((Controller.abort(),
                                  Controller.connectToHost(QHostAddress::LocalHost, 37400),
                                  Controller.waitForConnected(200)),
                                 15000);
        QByteArray Greeting;
        QTRY_VERIFY_WITH_TIMEOUT((Greeting += Controller.readAll()).count('\n') >= 6, 5000);
        QCOMPARE(Greeting, QByteArray("MUTE\r\n0\r\nVOLUMN\r\n50\r\nSTATE\r\n0\r\n"));

        // The library's file is served by its name.
        const QByteArray Reply = Fetch(37401, "GET /My%20Song.mp3 HTTP/1.0\r\n\r\n");
        QVERIFY2(Reply.startsWith("HTTP/1.0 200") || Reply.startsWith("HTTP/1.1 200"),
                 Reply.left(80).constData());
        QVERIFY(Reply.endsWith(QByteArray(5000, 'x')));

        // A second start hands over to the first and ends at once.
        QProcess Second;
        Second.setProcessEnvironment(Environment());
        Second.start(VX_PLAYER_EXE);
        QVERIFY(Second.waitForFinished(10000));
        QCOMPARE(Second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(Second.exitCode(), 0);
        QCOMPARE(First.state(), QProcess::Running);

        // SIGTERM runs the ordinary close: controllers dropped, placement saved.
        First.terminate();
        QVERIFY(First.waitForFinished(10000));
        QCOMPARE(First.exitStatus(), QProcess::NormalExit);
        QCOMPARE(First.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(Controller.state(), QAbstractSocket::UnconnectedState, 5000);
        QSettings Ini(DataDir() + "/vxPlayer.ini", QSettings::IniFormat);
        QCOMPARE(Ini.value("Window/PopHitCount").toString(), QString("0"));
        QVERIFY(!Ini.contains("Window/Height"));
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
