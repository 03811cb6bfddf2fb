#include "InstanceSlot.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

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
        QTest::addColumn<QByteArray>("runtime"); // private, foreign, open, link, missing, taken
        QTest::addColumn<QByteArray>("used");    // runtime, temp or none
        QTest::newRow("private") << QByteArray("private") << QByteArray("runtime");
        QTest::newRow("another user's") << QByteArray("foreign") << QByteArray("temp");
        QTest::newRow("others can write") << QByteArray("open") << QByteArray("temp");
        QTest::newRow("its group can write") << QByteArray("group") << QByteArray("temp");
        QTest::newRow("a link to a private one") << QByteArray("link") << QByteArray("temp");
        QTest::newRow("none") << QByteArray("missing") << QByteArray("temp");
        QTest::newRow("none, temp one taken") << QByteArray("taken") << QByteArray("none");
    }

    void folderOnlyThisUserWrites() {
        QFETCH(QByteArray, runtime);
        QFETCH(QByteArray, used);
        QTemporaryDir Top;
        const QString Run = Top.filePath("run"), Temp = Top.filePath("tmp");
        const QString Own = Temp + "/vxPlayer-" + QString::number(getuid());
        QVERIFY(QDir().mkpath(Run) && QDir().mkpath(runtime == "taken" ? Own : Temp));
        QVERIFY(QFile::link(Run, Top.filePath("link")));
        const int Mode = runtime == "open" ? 0x7777 : runtime == "group" ? 0x7770 : 0x7700;
        QVERIFY(QFile::setPermissions(Run, QFileDevice::Permissions(Mode)));
        const QString Taken = runtime == "taken" ? Own : runtime == "foreign" ? Run : QString();
        if (!Taken.isEmpty() && chown(QFile::encodeName(Taken).constData(), 65534, 65534) != 0)
            QSKIP("cannot give a folder to another user here");
        const bool None = runtime == "missing" || runtime == "taken";
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(Top.filePath(runtime == "link" ? "link"
                                                                  : None            ? "x"
                                                                                    : "run")));
        qputenv("TMPDIR", QFile::encodeName(Temp));
        QCOMPARE(TInstanceSlot::ServerName().section(u'/', 0, -2), used == "runtime" ? Run
                                                                   : used == "temp"  ? Own
                                                                                     : "");
        OpenInstanceSlot();
        QVERIFY(!ActivatePreviousInstance());
        QCOMPARE(InstanceSlot()->IsListening(), used != "none");
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
