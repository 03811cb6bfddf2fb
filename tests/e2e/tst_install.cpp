#include "AsciiText.h"
#include "Settings.h"

#include <QImageReader>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// The build installed into a temporary prefix, as a package installs it: the files
// a desktop looks for, and the skins and help the installed program looks for.
class TestInstall : public QObject {
    Q_OBJECT
private:
    QTemporaryDir FPrefix;

    QString Installed(const QString &Path) const { return FPrefix.filePath(Path); }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(FPrefix.isValid());
        QProcess Install;
        Install.setProcessChannelMode(QProcess::MergedChannels);
        Install.start(QStringLiteral(VX_CMAKE_COMMAND),
                      {"--install", VX_BUILD_DIR, "--prefix", FPrefix.path()});
        QVERIFY2(Install.waitForFinished(60000), "cmake --install did not finish");
        QVERIFY2(Install.exitStatus() == QProcess::NormalExit && Install.exitCode() == 0,
                 Install.readAll().constData());
    }

    void installedFiles_data() {
        QTest::addColumn<QString>("Path");
        QTest::addColumn<int>("ImageSize"); // 0: not a PNG
        QTest::newRow("program") << "bin/vxPlayer" << 0;
        QTest::newRow("speaker program") << "lib/vellox-player/vxPlayer" << 0;
        QTest::newRow("tag scanner") << "lib/vellox-player/vxTagScan" << 0;
        QTest::newRow("skin 1") << "share/vellox-player/skin/vxPlayer1.vlx" << 0;
        QTest::newRow("skin 2") << "share/vellox-player/skin/vxPlayer2.vlx" << 0;
        QTest::newRow("help") << "share/vellox-player/vxPlayer.html" << 0;
        QTest::newRow("menu entry") << "share/applications/vxPlayer.desktop" << 0;
        QTest::newRow("scalable icon") << "share/icons/hicolor/scalable/apps/vxPlayer.svg" << 0;
        QTest::newRow("48 px icon") << "share/icons/hicolor/48x48/apps/vxPlayer.png" << 48;
        QTest::newRow("256 px icon") << "share/icons/hicolor/256x256/apps/vxPlayer.png" << 256;
        QTest::newRow("manual page") << "share/man/man1/vxPlayer.1" << 0;
        QTest::newRow("speaker service") << "lib/systemd/user/vxplayer-speaker.service" << 0;
    }

    void installedFiles() {
        QFETCH(QString, Path);
        QFETCH(int, ImageSize);
        const QFileInfo File(Installed(Path));
        QVERIFY2(File.isFile() && File.size() > 0, qPrintable(File.filePath()));
        if (Path.endsWith("/vxPlayer") || Path.endsWith("/vxTagScan"))
            QVERIFY(File.isExecutable());
        if (ImageSize > 0)
            QCOMPARE(QImageReader(File.filePath()).size(), QSize(ImageSize, ImageSize));
    }

    void menuEntry() {
        const QString Path = Installed("share/applications/vxPlayer.desktop");
        QFile File(Path);
        QVERIFY(File.open(QIODevice::ReadOnly));
        const QByteArrayList Lines = SplitLines(File.readAll());
        // Menus start the program and find the icon by these names, both installed above.
        for (const char *Line : {"Name=Vellox Player", "Exec=vxPlayer", "Icon=vxPlayer",
                                 "Categories=AudioVideo;Audio;Player;"})
            QVERIFY2(Lines.contains(Line), Line);

        const QString Validate = QStandardPaths::findExecutable("desktop-file-validate");
        if (Validate.isEmpty())
            QSKIP("desktop-file-validate is not installed (package desktop-file-utils)");
        QProcess Check;
        Check.setProcessChannelMode(QProcess::MergedChannels);
        Check.start(Validate, {Path});
        QVERIFY(Check.waitForFinished(30000));
        const QByteArray Output = Check.readAll();
        QVERIFY2(Check.exitCode() == 0 && Output.isEmpty(), Output.constData());
    }

    // The service starts the program where it was installed, whatever the prefix.
    void speakerServiceStartsTheInstalledProgram() {
        QFile File(Installed("lib/systemd/user/vxplayer-speaker.service"));
        QVERIFY(File.open(QIODevice::ReadOnly));
        const QByteArrayList Lines = SplitLines(File.readAll());
        QVERIFY(Lines.contains("ExecStart=" + Installed("bin/vxPlayer").toUtf8() + " --headless"));
    }

    void installedProgramFindsSkinsAndHelp() {
        const QString Resources = ResourceDir(Installed("bin"));
        QCOMPARE(Resources, Installed("share/vellox-player"));
        QVERIFY(QFileInfo::exists(Resources + "/skin/vxPlayer1.vlx"));
        QVERIFY(QFileInfo::exists(Resources + "/vxPlayer.html"));
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
