#include "InstanceSlot.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include <cstdio>
#include <unistd.h>

class TestInstanceSlot : public QObject {
    Q_OBJECT

    QTemporaryDir FRuntime;

    // Runs the helper process; its exit code, or -1 when it did not finish.
    static int RunHelper(const QStringList &Args) {
        QProcess Helper;
        QSignalSpy Finished(&Helper, &QProcess::finished);
        Helper.start(QStringLiteral(APP_TEST_HELPER), Args);
        if (!Finished.wait(15000) || Helper.exitStatus() != QProcess::NormalExit)
            return -1;
        return Helper.exitCode();
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(FRuntime.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(FRuntime.path()));
        QVERIFY(TInstanceSlot::ServerName().startsWith(FRuntime.path()));
    }

    void cleanup() {
        CloseInstanceSlot();
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(FRuntime.path()));
        qunsetenv("TMPDIR");
    }

    void folderOnlyThisUserWrites_data() {
        QTest::addColumn<QByteArray>("runtime"); // private, foreign, open, link or unset
        QTest::addColumn<bool>("tempTaken");     // our temp folder was made by another user
        QTest::addColumn<QByteArray>("used");    // runtime, temp or none
        const auto Row = [](const char *Name, const char *Runtime, bool Taken, const char *Used) {
            QTest::newRow(Name) << QByteArray(Runtime) << Taken << QByteArray(Used);
        };
        Row("private runtime folder", "private", false, "runtime");
        Row("another user's", "foreign", false, "temp");
        Row("others can write", "open", false, "temp");
        Row("a link to a private one", "link", false, "temp");
        Row("none", "unset", false, "temp");
        Row("none, temp folder taken", "unset", true, "none");
    }

    void folderOnlyThisUserWrites() {
        QFETCH(QByteArray, runtime);
        QFETCH(bool, tempTaken);
        QFETCH(QByteArray, used);
        QTemporaryDir Top;
        const QString Run = Top.filePath("run"), Temp = Top.filePath("tmp");
        const QString Own = Temp + "/vxPlayer-" + QString::number(getuid());
        QVERIFY(QDir().mkpath(Run) && QDir().mkpath(tempTaken ? Own : Temp));
        QVERIFY(QFile::setPermissions(
            Run, QFileDevice::Permissions(runtime == "open" ? 0x7777 : 0x7700)));
        const QString Taken = tempTaken ? Own : runtime == "foreign" ? Run : QString();
        if (!Taken.isEmpty() && chown(QFile::encodeName(Taken).constData(), 65534, 65534) != 0)
            QSKIP("cannot give a folder to another user here");
        QVERIFY(QFile::link(Run, Top.filePath("link")));
        if (runtime == "unset")
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR",
                    QFile::encodeName(Top.filePath(runtime == "link" ? "link" : "run")));
        qputenv("TMPDIR", QFile::encodeName(Temp));
        const QString Name = TInstanceSlot::ServerName();
        QCOMPARE(Name.section(u'/', 0, -2), used == "runtime" ? Run : used == "temp" ? Own : "");
        OpenInstanceSlot();
        QVERIFY(!ActivatePreviousInstance());
        QCOMPARE(InstanceSlot()->IsListening(), used != "none");
    }

    void anotherUsersSocketIsNotObeyed() {
        // Another user's copy listens; its socket is moved to our guard's name.
        QTemporaryDir Top;
        const QString Foreign = Top.filePath("foreign");
        QVERIFY(QFile::setPermissions(Top.path(), QFileDevice::Permissions(0x7711)));
        QVERIFY(QDir().mkdir(Foreign));
        QVERIFY(QFile::setPermissions(Foreign, QFileDevice::Permissions(0x7700)));
        if (chown(QFile::encodeName(Foreign).constData(), 65534, 65534) != 0)
            QSKIP("cannot give a folder to another user here");
        QProcess Helper;
        Helper.setChildProcessModifier([] {
            if (setgid(65534) != 0 || setuid(65534) != 0)
                _exit(8);
        });
        QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
        Env.insert("XDG_RUNTIME_DIR", Foreign);
        Helper.setProcessEnvironment(Env);
        Helper.start(QStringLiteral(APP_TEST_HELPER), {QStringLiteral("activate"), "20000"});
        QStringList Sockets;
        QTRY_VERIFY_WITH_TIMEOUT(
            !(Sockets = QDir(Foreign).entryList(QDir::System)).isEmpty() || !Helper.state(), 10000);
        if (Helper.exitCode() == 8)
            QSKIP("cannot run as another user here");
        QCOMPARE(std::rename(QFile::encodeName(Foreign + '/' + Sockets.value(0)).constData(),
                             QFile::encodeName(TInstanceSlot::ServerName()).constData()),
                 0);
        OpenInstanceSlot();
        QVERIFY(!ActivatePreviousInstance());
        Helper.kill();
        QVERIFY(Helper.waitForFinished(5000));
    }

    void secondCopyAsksFirstToRestore() {
        OpenInstanceSlot();
        QVERIFY(!ActivatePreviousInstance());
        QVERIFY(InstanceSlot()->IsListening());
        QVERIFY(!ActivatePreviousInstance()); // asking again does not find itself
        QSignalSpy Restore(InstanceSlot(), &TInstanceSlot::RestoreRequested);
        QCOMPARE(RunHelper({QStringLiteral("activate")}), 0);
        QVERIFY(Restore.count() == 1 || Restore.wait(5000));
        QCOMPARE(Restore.count(), 1);
    }

    void releasedSlotGoesToNextCopy() {
        OpenInstanceSlot();
        QVERIFY(!ActivatePreviousInstance());
        CloseInstanceSlot();
        QVERIFY(!QFile::exists(TInstanceSlot::ServerName()));
        QCOMPARE(RunHelper({QStringLiteral("activate"), QStringLiteral("0")}), 2);
    }

    void staleSocketDoesNotBlockStart() {
        QCOMPARE(RunHelper({QStringLiteral("crash")}), 3);
        QVERIFY(QFile::exists(TInstanceSlot::ServerName()));
        OpenInstanceSlot();
        QVERIFY(!ActivatePreviousInstance());
        QVERIFY(InstanceSlot()->IsListening());
        QCOMPARE(RunHelper({QStringLiteral("activate")}), 0);
    }

    void badClientsAreDropped_data() {
        QTest::addColumn<QByteArray>("Sent");
        QTest::newRow("silent") << QByteArray();
        QTest::newRow("other line") << QByteArray("HELLO\n");
        QTest::newRow("no line end") << QByteArray("RESTORE");
        QTest::newRow("restore with more") << QByteArray("RESTORE NOW\n");
        QTest::newRow("oversized") << QByteArray(100000, 'R');
    }

    void badClientsAreDropped() {
        QFETCH(QByteArray, Sent);
        OpenInstanceSlot();
        QVERIFY(!ActivatePreviousInstance());
        QSignalSpy Restore(InstanceSlot(), &TInstanceSlot::RestoreRequested);
        QLocalSocket Client;
        QSignalSpy Dropped(&Client, &QLocalSocket::disconnected);
        Client.connectToServer(TInstanceSlot::ServerName());
        QVERIFY(Client.waitForConnected(2000));
        Client.write(Sent);
        QVERIFY(Dropped.wait(5000));
        QCOMPARE(Restore.count(), 0);
        QVERIFY(InstanceSlot()->IsListening());
    }

    void simultaneousStartsGiveOneOwner() {
        QList<QProcess *> Helpers;
        for (int I = 0; I < 3; ++I) {
            auto *Helper = new QProcess(this);
            Helper->start(QStringLiteral(APP_TEST_HELPER),
                          {QStringLiteral("activate"), QStringLiteral("4000")});
            Helpers.append(Helper);
        }
        QList<int> Codes;
        for (QProcess *Helper : Helpers) {
            QVERIFY(Helper->waitForFinished(15000));
            Codes.append(Helper->exitCode());
            delete Helper;
        }
        std::sort(Codes.begin(), Codes.end());
        QCOMPARE(Codes, QList<int>({0, 0, 2}));
    }
};

QTEST_GUILESS_MAIN(TestInstanceSlot)
#include "tst_instanceslot.moc"
