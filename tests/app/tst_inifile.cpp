#include "IniFile.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

class TestIniFile : public QObject {
    Q_OBJECT

    QTemporaryDir FHome;

private Q_SLOTS:
    void writeIniKeepsOtherLines() {
        const QString Ini = FHome.filePath(QStringLiteral("keep.ini"));
        QVERIFY(WriteAll(Ini, "; hand-edited\r\n[Server]\r\nPort=0x9219\r\n\r\n[Window]\r\n"
                              "Height=300\r\nTop=5\r\n\r\n[Skin]\r\nName=dark\r\n"));
        QVERIFY(WriteIniValues(Ini, {{{"Window", "Height"}, 480},
                                     {{"Window", "PopHitCount"}, 3},
                                     {{"Extra", "Count"}, -7}}));
        QCOMPARE(ReadAll(Ini), QByteArray("; hand-edited\r\n[Server]\r\nPort=0x9219\r\n\r\n"
                                          "[Window]\r\nHeight=480\r\nTop=5\r\nPopHitCount=3\r\n\r\n"
                                          "[Skin]\r\nName=dark\r\n\r\n[Extra]\r\nCount=-7\r\n"));
    }

    void writeIniReplacesKeyInAnyCase() {
        const QString Ini = FHome.filePath(QStringLiteral("case.ini"));
        QVERIFY(WriteAll(Ini, "[window]\nheight=300\n"));
        QVERIFY(WriteIniValues(Ini, {{{"Window", "Height"}, 480}}));
        QCOMPARE(ReadAll(Ini), QByteArray("[window]\nHeight=480\n"));
    }

    void writeIniCreatesFile() {
        const QString Ini = FHome.filePath(QStringLiteral("new.ini"));
        QVERIFY(WriteIniValues(Ini, {{{"Window", "PopHitCount"}, 1}}));
        QCOMPARE(ReadAll(Ini), QByteArray("[Window]\r\nPopHitCount=1\r\n"));
    }

    void writeIniFailureKeepsOldFile() {
        QTemporaryDir Top;
        QVERIFY(Top.isValid());
        const QString Folder = Top.filePath(QStringLiteral("ro"));
        const QString Ini = Folder + QStringLiteral("/vx.ini");
        const QByteArray Old = "[Window]\nHeight=300\n";
        QVERIFY(QDir().mkdir(Folder));
        QVERIFY(WriteAll(Ini, Old));
        // The file itself stays writable: only a write in place could change it.
        QVERIFY(QFile::setPermissions(Ini, QFileDevice::Permissions(0x6666)));
        QVERIFY(QFile::setPermissions(Folder, QFileDevice::Permissions(0x5555)));
        QVERIFY(QFile::setPermissions(Top.path(), QFileDevice::Permissions(0x7755)));
        if (geteuid() != 0) {
            QVERIFY(!WriteIniValues(Ini, {{{"Window", "Height"}, 480}}));
        } else {
            // Root ignores folder permissions: let an unprivileged process try.
            QProcess Helper;
            Helper.setChildProcessModifier([] {
                if (setgid(65534) != 0 || setuid(65534) != 0)
                    _exit(8);
            });
            Helper.start(QStringLiteral(APP_TEST_HELPER),
                         {QStringLiteral("writeini"), Ini, QStringLiteral("Window/Height"),
                          QStringLiteral("480")});
            QVERIFY(Helper.waitForFinished(15000));
            if (Helper.exitCode() == 8) {
                // Root of a user namespace (unshare -r) may not take another user's id.
                QFile::setPermissions(Folder, QFileDevice::Permissions(0x7700));
                QSKIP("cannot drop to an unprivileged user here");
            }
            QCOMPARE(Helper.exitCode(), 1);
        }
        QFile::setPermissions(Folder, QFileDevice::Permissions(0x7700));
        QCOMPARE(ReadAll(Ini), Old);
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
