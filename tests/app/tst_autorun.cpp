#include "AsciiText.h"
#include "AutoRun.h"
#include "TestFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <stdexcept>

class TestAutoRun : public QObject {
    Q_OBJECT

    QTemporaryDir FHome;
    QString ConfigHome() const { return FHome.filePath(QStringLiteral("config")); }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(FHome.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(ConfigHome()));
    }

    void autoRun() {
        const QString Link = ConfigHome() + QStringLiteral("/autostart/tst_autorun.desktop");
        QCOMPARE(AutoRunFileName(), Link);
        QVERIFY(!IsAutoRun());
        QVERIFY(SetAutoRun(true));
        QVERIFY(IsAutoRun());
        const QByteArrayList Lines = SplitLines(ReadAll(Link));
        const QString Exe = QCoreApplication::applicationFilePath();
        QCOMPARE(Lines.value(0), QByteArray("[Desktop Entry]"));
        QVERIFY(Lines.contains("Type=Application"));
        QVERIFY(Lines.contains("Name=Vellox Player"));
        QVERIFY(Lines.contains("Exec=\"" + Exe.toUtf8() + '"'));
        QVERIFY(Lines.contains("TryExec=" + Exe.toUtf8()));
        QVERIFY(Lines.contains("Path=" + QCoreApplication::applicationDirPath().toUtf8()));
        QVERIFY(Lines.contains("X-GNOME-Autostart-enabled=true"));
        QVERIFY(SetAutoRun(false));
        QVERIFY(!IsAutoRun());
        QVERIFY(SetAutoRun(false)); // nothing to delete is no failure
    }

    void shortcutExec_data() {
        QTest::addColumn<QString>("Target");
        QTest::addColumn<QString>("Arguments");
        QTest::addColumn<QByteArray>("Exec");
        QTest::newRow("space, args") << QStringLiteral("/opt/my apps/vx") << QStringLiteral("--min")
                                     << QByteArray("Exec=\"/opt/my apps/vx\" --min");
        QTest::newRow("shell characters") << QStringLiteral("/opt/a$b`c\"d%e") << QString()
                                          << QByteArray("Exec=\"/opt/a\\\\$b\\\\`c\\\\\"d%%e\"");
        QTest::newRow("backslash")
            << QStringLiteral("/opt/a\\b") << QString() << QByteArray("Exec=\"/opt/a\\\\\\\\b\"");
    }

    void shortcutExec() {
        QFETCH(QString, Target);
        QFETCH(QString, Arguments);
        QFETCH(QByteArray, Exec);
        const QString Link = FHome.filePath(QStringLiteral("x.desktop"));
        CreateShortcut(Target, Arguments, Link, QStringLiteral("Two\nlines"));
        const QByteArrayList Lines = SplitLines(ReadAll(Link));
        QVERIFY2(Lines.contains(Exec), ReadAll(Link).constData());
        QVERIFY(Lines.contains("Name=Two\\nlines"));
    }

    void shortcutRefusesOtherExtensions_data() {
        QTest::addColumn<QString>("Name");
        QTest::addColumn<bool>("Accepted");
        QTest::newRow("lnk") << QStringLiteral("vx.lnk") << false;
        QTest::newRow("none") << QStringLiteral("vx") << false;
        QTest::newRow("desktop then more") << QStringLiteral("vx.desktop.bak") << false;
        QTest::newRow("desktop folder") << QStringLiteral("d.desktop/vx") << false;
        QTest::newRow("upper case") << QStringLiteral("vx.DESKTOP") << true;
    }

    void shortcutRefusesOtherExtensions() {
        QFETCH(QString, Name);
        QFETCH(bool, Accepted);
        QTemporaryDir Dir;
        QVERIFY(Dir.isValid() && QDir(Dir.path()).mkdir(QStringLiteral("d.desktop")));
        const QString Link = Dir.filePath(Name);
        QString Error;
        try {
            CreateShortcut(QStringLiteral("/usr/bin/vx"), QString(), Link, QStringLiteral("V"));
        } catch (const std::runtime_error &E) {
            Error = QString::fromUtf8(E.what());
        }
        QCOMPARE(Error, Accepted ? QString() : QStringLiteral("Ext need .desktop"));
        QCOMPARE(QFile::exists(Link), Accepted);
    }
};

QTEST_GUILESS_MAIN(TestAutoRun)
#include "tst_autorun.moc"
