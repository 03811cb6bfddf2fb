#include "Settings.h"
#include "SpeakerName.h"
#include "SpeakerSettings.h"
#include "TestFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QTemporaryDir>
#include <QTest>

class TestSettings : public QObject {
    Q_OBJECT

    QTemporaryDir FHome;
    QString DataHome() const { return FHome.filePath(QStringLiteral("data")); }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(FHome.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(DataHome()));
    }

    void missingIniGivesDefaultsAndIsNotCreated() {
        const QString AppData = DataHome() + QStringLiteral("/Marvane/Vellox Player");
        QFile::remove(AppData + QStringLiteral("/tst_settings.ini"));
        WindowHeight = WindowTop = PopHitCount = 99;
        CommandPort = 1;
        LoadSettings();
        QCOMPARE(AppVersion, QStringLiteral("1.1.0.112"));
        const QString Dir = QCoreApplication::applicationDirPath();
        QCOMPARE(SkinDir, Dir + QStringLiteral("/skin"));
        QVERIFY(QFileInfo(AppData).isDir());
        QCOMPARE(HelpFileName, Dir + QStringLiteral("/tst_settings.html"));
        QCOMPARE(IniFileName, AppData + QStringLiteral("/tst_settings.ini"));
        QCOMPARE(LibraryFileName, AppData + QStringLiteral("/MusicLibrary.txt"));
        QCOMPARE(WindowHeight, 0);
        QCOMPARE(WindowWidth, 0);
        QCOMPARE(WindowTop, 0);
        QCOMPARE(WindowLeft, 0);
        QCOMPARE(PopHitCount, 0);
        QCOMPARE(CommandPort, 37400);
        QCOMPARE(SkinName, QStringLiteral("vxPlayer"));
        QVERIFY(!LocalHostName.isEmpty());
        QVERIFY(!QFile::exists(IniFileName));
    }

    void iniValues_data() {
        QTest::addColumn<QByteArray>("Ini");
        QTest::addColumn<int>("Port");
        QTest::addColumn<int>("Height");
        QTest::addColumn<QString>("Skin");
        const QString Def = QStringLiteral("vxPlayer");
        QTest::newRow("0x hex") << QByteArray("[Server]\nPort=0x9219\n") << 37401 << 0 << Def;
        QTest::newRow("$ hex") << QByteArray("[Server]\nPort=$9219\n") << 37401 << 0 << Def;
        QTest::newRow("decimal") << QByteArray("[Server]\nPort=1234\n") << 1234 << 0 << Def;
        QTest::newRow("not a number") << QByteArray("[Server]\nPort=abc\n") << 37400 << 0 << Def;
        QTest::newRow("trailing junk") << QByteArray("[Server]\nPort=12ab\n") << 37400 << 0 << Def;
        QTest::newRow("empty value") << QByteArray("[Server]\nPort=\n") << 37400 << 0 << Def;
        QTest::newRow("hex with sign") << QByteArray("[Server]\nPort=$+10\n") << 37400 << 0 << Def;
        QTest::newRow("hex twice") << QByteArray("[Server]\nPort=$0x10\n") << 37400 << 0 << Def;
        QTest::newRow("bare 0x") << QByteArray("[Server]\nPort=0x\n") << 37400 << 0 << Def;
        QTest::newRow("missing key") << QByteArray("[Window]\nHeight=480\n") << 37400 << 480 << Def;
        QTest::newRow("hex is 32 bits")
            << QByteArray("[Window]\nHeight=$FFFFFFFF\n") << 37400 << -1 << Def;
        QTest::newRow("decimal overflow")
            << QByteArray("[Window]\nHeight=4294967296\n") << 37400 << 0 << Def;
        QTest::newRow("names in any case")
            << QByteArray("[server]\nPORT=0x9219\n[WINDOW]\nheight=7\n[skin]\nname=dark\n") << 37401
            << 7 << QStringLiteral("dark");
        QTest::newRow("comma and backslash kept") << QByteArray("[Skin]\nName=dark,blue\\x\n")
                                                  << 37400 << 0 << QStringLiteral("dark,blue\\x");
        QTest::newRow("first of repeated keys and sections")
            << QByteArray("[Server]\nPort=1\nPort=2\n[Server]\nPort=3\n") << 1 << 0 << Def;
        QTest::newRow("unclosed header hides its keys")
            << QByteArray("[Server\nPort=1\n") << 37400 << 0 << Def;
        QTest::newRow("CR LF, skin")
            << QByteArray("[Server]\r\nPort=0x9219\r\n[Skin]\r\nName=dark\r\n") << 37401 << 0
            << QStringLiteral("dark");
    }

    void iniValues() {
        QFETCH(QByteArray, Ini);
        QFETCH(int, Port);
        QFETCH(int, Height);
        QFETCH(QString, Skin);
        LoadSettings();
        QVERIFY(WriteAll(IniFileName, Ini));
        LoadSettings();
        QCOMPARE(CommandPort, Port);
        QCOMPARE(WindowHeight, Height);
        QCOMPARE(SkinName, Skin);
        QCOMPARE(ReadAll(IniFileName), Ini); // reading never rewrites the file
        QFile::remove(IniFileName);
    }

    // The speaker's settings: read within range, changed only to what is allowed, and kept.
    void speakerSettings() {
        TSpeakerSettings &Speaker = SpeakerSettings();
        QVERIFY(WriteAll(IniFileName, "[Speaker]\nLatencyMs=2001\nAudioDevice= a/b \nReplayGain=x\n"
                                      "ReplayGainPreamp=16\nReplayGainFallback=-16\n"));
        LoadSettings();
        QCOMPARE(Speaker.LatencyMs(), 0);
        QCOMPARE(Speaker.AudioDevice(), "a/b");
        QVERIFY(Speaker.ReplayGain() == TReplayGain{});
        const TReplayGain Gain{TReplayGain::TMode::Track, -15, false, 15};
        QVERIFY(!Speaker.SetLatencyMs(IniFileName, 2001));
        QVERIFY(!Speaker.SetAudioDevice(IniFileName, "a\x01"));
        QVERIFY(!Speaker.SetReplayGain(IniFileName, {TReplayGain::TMode::Off, 16}));
        QVERIFY(Speaker.SetLatencyMs(IniFileName, 2000));
        QVERIFY(Speaker.SetAudioDevice(IniFileName, ""));
        QVERIFY(Speaker.SetReplayGain(IniFileName, Gain));
        LoadSettings();
        QCOMPARE(Speaker.LatencyMs(), 2000);
        QCOMPARE(Speaker.AudioDevice(), "");
        QVERIFY(Speaker.ReplayGain() == Gain);
        QFile::remove(IniFileName);
    }

    // The speaker's name: the file's, cleaned; none: the computer's; kept once set.
    void speakerName() {
        TSpeakerSettings &Speaker = SpeakerSettings();
        QVERIFY(WriteAll(IniFileName, "[Speaker]\nName= Hall\xE2\x80\xAE \n"));
        LoadSettings();
        QCOMPARE(Speaker.Name(), QStringLiteral("Hall"));
        QVERIFY(Speaker.SetName(IniFileName, QString()));
        QCOMPARE(Speaker.Name(), CleanSpeakerName(QHostInfo::localHostName()));
        QVERIFY(Speaker.SetName(IniFileName, QStringLiteral("Kitchen")));
        LoadSettings();
        QCOMPARE(Speaker.Name(), QStringLiteral("Kitchen"));
        QFile::remove(IniFileName);
    }

    void resourceDir_data() {
        QTest::addColumn<QStringList>("Folders");
        QTest::addColumn<QString>("ExeDir");
        QTest::addColumn<QString>("Expected");
        QTest::newRow("build folder") << QStringList{"build/skin"} << "build"
                                      << "build";
        QTest::newRow("installed")
            << QStringList{"usr/bin", "usr/share/vellox-player/skin"} << "usr/bin"
            << "usr/share/vellox-player";
        QTest::newRow("skin beside wins")
            << QStringList{"usr/bin/skin", "usr/share/vellox-player/skin"} << "usr/bin"
            << "usr/bin";
        QTest::newRow("neither") << QStringList{"opt/bin", "opt/share/other"} << "opt/bin"
                                 << "opt/bin";
    }

    void resourceDir() {
        QFETCH(QStringList, Folders);
        QFETCH(QString, ExeDir);
        QFETCH(QString, Expected);
        QTemporaryDir Root;
        QVERIFY(Root.isValid());
        for (const QString &Folder : Folders)
            QVERIFY(QDir(Root.path()).mkpath(Folder));
        QCOMPARE(ResourceDir(Root.filePath(ExeDir)), Root.filePath(Expected));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
