#include "TestFiles.h"
#include "Utils.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <stdexcept>
#include <unistd.h>

namespace {

const QByteArray ExpectedFilter =
    "All audio file|*.asf;*.asx;*.wpl;*.wm;*.wx;*.wmd;*.wmz;*.wma;*.wax;*.wav;*.mp3;*.m3u;*.mid;"
    "*.midi;*.rmi;*.aif;*.aifc;*.aiff;*.au;*.snd|Win Media file(asf) "
    "(*.asf;*.asx;*.wpl;*.wm;*.wx;*.wmd;*.wmz)|*.asf;*.asx;*.wpl;*.wm;*.wx;*.wmd;*.wmz|Win Media "
    "audio file(wma) (*.wma;*.wax)|*.wma;*.wax|Win audio file(wav) (*.wav)|*.wav|MP3 audio "
    "file(mp3) (*.mp3;*.m3u)|*.mp3;*.m3u|MIDI file(midi) (*.mid;*.midi;*.rmi)|*.mid;*.midi;*.rmi|"
    "AIFF audio file(aiff) (*.aif;*.aifc;*.aiff)|*.aif;*.aifc;*.aiff|Au audio file(au) "
    "(*.au;*.snd)|*.au;*.snd";
const QByteArray ExpectedExtensions =
    "*.ASF;*.ASX;*.WPL;*.WM;*.WX;*.WMD;*.WMZ;*.WMA;*.WAX;*.WAV;"
    "*.MP3;*.M3U;*.MID;*.MIDI;*.RMI;*.AIF;*.AIFC;*.AIFF;*.AU;*.SND";

} // namespace

class TestUtils : public QObject {
    Q_OBJECT

    QTemporaryDir FHome;
    QString DataHome() const { return FHome.filePath(QStringLiteral("data")); }
    QString ConfigHome() const { return FHome.filePath(QStringLiteral("config")); }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(FHome.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(DataHome()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(ConfigHome()));
    }

    // Runs first: library code relies on the type table before any settings are loaded.
    void audioTableWithoutLoadSettings() {
        QCOMPARE(AudioExtensionList, ExpectedExtensions);
        QCOMPARE(AudioFileFilter, ExpectedFilter);
        QVERIFY(IsAcceptedAudioName("a.mp3"));
        QCOMPARE(
            QtFileFilter(AudioFileFilter),
            QStringLiteral(
                "All audio file (*.asf *.asx *.wpl *.wm *.wx *.wmd *.wmz *.wma *.wax *.wav "
                "*.mp3 *.m3u *.mid *.midi *.rmi *.aif *.aifc *.aiff *.au *.snd);;"
                "Win Media file(asf) (*.asf *.asx *.wpl *.wm *.wx *.wmd *.wmz);;"
                "Win Media audio file(wma) (*.wma *.wax);;Win audio file(wav) (*.wav);;"
                "MP3 audio file(mp3) (*.mp3 *.m3u);;MIDI file(midi) (*.mid *.midi *.rmi);;"
                "AIFF audio file(aiff) (*.aif *.aifc *.aiff);;Au audio file(au) (*.au *.snd)"));
    }

    void missingIniGivesDefaultsAndIsNotCreated() {
        const QString AppData = DataHome() + QStringLiteral("/Marvane/Vellox Player");
        QFile::remove(AppData + QStringLiteral("/tst_utils.ini"));
        WindowHeight = WindowTop = PopHitCount = 99;
        CommandPort = 1;
        LoadSettings();
        QCOMPARE(AppVersion, QStringLiteral("1.1.0.112"));
        const QString Dir = QCoreApplication::applicationDirPath();
        QCOMPARE(SkinDir, Dir + QStringLiteral("/skin"));
        QVERIFY(QFileInfo(AppData).isDir());
        QCOMPARE(HelpFileName, Dir + QStringLiteral("/tst_utils.html"));
        QCOMPARE(IniFileName, AppData + QStringLiteral("/tst_utils.ini"));
        QCOMPARE(LibraryFileName, AppData + QStringLiteral("/MusicLibrary.txt"));
        QCOMPARE(WindowHeight, 0);
        QCOMPARE(WindowWidth, 0);
        QCOMPARE(WindowTop, 0);
        QCOMPARE(WindowLeft, 0);
        QCOMPARE(PopHitCount, 0);
        QCOMPARE(CommandPort, 37400);
        QCOMPARE(SkinName, QStringLiteral("vxPlayer"));
        QVERIFY(!LocalHostName.isEmpty());
        QCOMPARE(AudioFileFilter, ExpectedFilter);
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
        QTest::newRow("negative") << QByteArray("[Window]\nHeight=-20\n") << 37400 << -20 << Def;
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

    void acceptedAudioName_data() {
        QTest::addColumn<QByteArray>("Name");
        QTest::addColumn<bool>("Accepted");
        QTest::newRow("windows path") << QByteArray("C:\\Music\\Song.MP3") << true;
        QTest::newRow("posix path") << QByteArray("/home/u/Music/song.flac.wav") << true;
        QTest::newRow("midi") << QByteArray("a.midi") << true;
        QTest::newRow("piece of an extension") << QByteArray("a.mp") << true;
        QTest::newRow("wax") << QByteArray("a.wax") << true;
        QTest::newRow("url") << QByteArray("http://h/x/track.Wma") << true;
        QTest::newRow("no extension") << QByteArray("README") << false;
        QTest::newRow("ogg") << QByteArray("a.ogg") << false;
        QTest::newRow("dot before backslash") << QByteArray("C:\\dir.mp3\\file") << false;
        QTest::newRow("dot before slash") << QByteArray("/home/u/dir.mp3/file") << false;
        QTest::newRow("dot before colon") << QByteArray("x.mp3:file") << false;
        QTest::newRow("empty") << QByteArray() << false;
    }

    void acceptedAudioName() {
        QFETCH(QByteArray, Name);
        QFETCH(bool, Accepted);
        QCOMPARE(IsAcceptedAudioName(Name), Accepted);
    }

    void addUniqueString_data() {
        QTest::addColumn<QByteArrayList>("List");
        QTest::addColumn<QByteArray>("S");
        QTest::addColumn<int>("Index");
        const QByteArrayList One{"a.mp3"};
        QTest::newRow("three blanks") << One << QByteArray("   ") << -1;
        QTest::newRow("control chars only") << One << QByteArray("\t\r\n") << -1;
        QTest::newRow("other case") << QByteArrayList{"x", "A.MP3"} << QByteArray("a.mp3") << -1;
        QTest::newRow("leading blank") << One << QByteArray(" a.mp3") << 1;
        QTest::newRow("non-ASCII case differs")
            << QByteArrayList{"\xc3\xa9"} << QByteArray("\xc3\x89") << 1;
        QTest::newRow("empty list") << QByteArrayList() << QByteArray("b") << 0;
    }

    void addUniqueString() {
        QFETCH(QByteArrayList, List);
        QFETCH(QByteArray, S);
        QFETCH(int, Index);
        const QByteArrayList Before = List;
        QCOMPARE(AddUniqueString(S, List), Index);
        QCOMPARE(List, Index < 0 ? Before : Before + QByteArrayList{S});
    }

    void validComputerName_data() {
        QTest::addColumn<QByteArray>("Name");
        QTest::addColumn<bool>("Valid");
        for (char C : QByteArray("`~!@#$^&*(){}\\|;:'\"<>/? "))
            QTest::addRow("refused %c", C) << QByteArray("pc") + C + "2" << false;
        for (char C : QByteArray("%,.-_=+[]"))
            QTest::addRow("allowed %c", C) << QByteArray("pc") + C + "2" << true;
        QTest::newRow("address") << QByteArray("192.168.0.5") << true;
        QTest::newRow("empty") << QByteArray() << true;
        QTest::newRow("260") << QByteArray(260, 'a') << true;
        QTest::newRow("261") << QByteArray(261, 'a') << false;
    }

    void validComputerName() {
        QFETCH(QByteArray, Name);
        QFETCH(bool, Valid);
        QCOMPARE(IsValidComputerName(Name), Valid);
    }

    void sameNameIgnoringSpaces_data() {
        QTest::addColumn<QByteArray>("A");
        QTest::addColumn<QByteArray>("B");
        QTest::addColumn<bool>("Same");
        QTest::newRow("spaces and case")
            << QByteArray("My Computer") << QByteArray("mycomputer") << true;
        QTest::newRow("spaces everywhere")
            << QByteArray(" my  com puter ") << QByteArray("MYCOMPUTER") << true;
        QTest::newRow("tab is not a space")
            << QByteArray("my\tcomputer") << QByteArray("mycomputer") << false;
        QTest::newRow("different")
            << QByteArray("My Computer") << QByteArray("My Computers") << false;
    }

    void sameNameIgnoringSpaces() {
        QFETCH(QByteArray, A);
        QFETCH(QByteArray, B);
        QFETCH(bool, Same);
        QCOMPARE(TUtils::SameNameIgnoringSpaces(A, B), Same);
    }

    void documentName_data() {
        QTest::addColumn<QByteArray>("URL");
        QTest::addColumn<QByteArray>("Name");
        QTest::newRow("plain") << QByteArray("http://h:37401/a/b/song.mp3")
                               << QByteArray("song.mp3");
        QTest::newRow("query") << QByteArray("http://h/a/song.mp3?x=1/2") << QByteArray("song.mp3");
        QTest::newRow("fragment") << QByteArray("http://h/song.mp3#t=5") << QByteArray("song.mp3");
        QTest::newRow("fragment before ?")
            << QByteArray("http://h/s.mp3#a?b") << QByteArray("s.mp3");
        QTest::newRow("trailing slash") << QByteArray("http://h/a/") << QByteArray();
        QTest::newRow("no path") << QByteArray("http://host") << QByteArray();
        QTest::newRow("slash only in query") << QByteArray("http://host?a=/b") << QByteArray();
        QTest::newRow("spaces kept")
            << QByteArray("http://h/My Song.mp3") << QByteArray("My Song.mp3");
        QTest::newRow("escapes kept")
            << QByteArray("http://h/My%20Song.mp3") << QByteArray("My%20Song.mp3");
        QTest::newRow("unparsable") << QByteArray("http://[::1/a.mp3") << QByteArray();
    }

    void documentName() {
        QFETCH(QByteArray, URL);
        QFETCH(QByteArray, Name);
        QCOMPARE(DocumentName(URL), Name);
    }

    void splitLines_data() {
        QTest::addColumn<QByteArray>("Text");
        QTest::addColumn<QByteArrayList>("Lines");
        QTest::newRow("empty") << QByteArray() << QByteArrayList();
        QTest::newRow("mixed breaks")
            << QByteArray("a\r\nb\nc\rd") << QByteArrayList{"a", "b", "c", "d"};
        QTest::newRow("final break") << QByteArray("a\r\n") << QByteArrayList{"a"};
        QTest::newRow("blank lines kept")
            << QByteArray("a\n\n\r\nb") << QByteArrayList{"a", "", "", "b"};
        QTest::newRow("LF CR is two breaks")
            << QByteArray("a\n\rb") << QByteArrayList{"a", "", "b"};
    }

    void splitLines() {
        QFETCH(QByteArray, Text);
        QFETCH(QByteArrayList, Lines);
        QCOMPARE(SplitLines(Text), Lines);
    }

    void percentDecode_data() {
        QTest::addColumn<QByteArray>("In");
        QTest::addColumn<QByteArray>("Out");
        QTest::newRow("escape") << QByteArray("My%20Song%2e%C3%A9")
                                << QByteArray("My Song.\xc3\xa9");
        QTest::newRow("plus stays") << QByteArray("a+b") << QByteArray("a+b");
        QTest::newRow("invalid dropped") << QByteArray("a%zzb") << QByteArray("ab");
        QTest::newRow("half invalid") << QByteArray("a%4gb") << QByteArray("ab");
        QTest::newRow("cut at end") << QByteArray("ab%4") << QByteArray("ab");
        QTest::newRow("lone percent") << QByteArray("ab%") << QByteArray("ab");
        QTest::newRow("NUL byte") << QByteArray("a%00b") << QByteArray("a\0b", 3);
    }

    void percentDecode() {
        QFETCH(QByteArray, In);
        QFETCH(QByteArray, Out);
        QCOMPARE(PercentDecode(In), Out);
    }

    void autoRun() {
        const QString Link = ConfigHome() + QStringLiteral("/autostart/tst_utils.desktop");
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

    void writeIniKeepsOtherLines() {
        const QString Ini = FHome.filePath(QStringLiteral("keep.ini"));
        QVERIFY(WriteAll(Ini, "; hand-edited\r\n[Server]\r\nPort=0x9219\r\n\r\n[Window]\r\n"
                              "Height=300\r\nTop=5\r\n\r\n[Skin]\r\nName=dark\r\n"));
        QVERIFY(WriteIniValues(Ini, {{QStringLiteral("Window/Height"), 480},
                                     {QStringLiteral("Window/PopHitCount"), 3},
                                     {QStringLiteral("Extra/Count"), -7}}));
        QCOMPARE(ReadAll(Ini), QByteArray("; hand-edited\r\n[Server]\r\nPort=0x9219\r\n\r\n"
                                          "[Window]\r\nHeight=480\r\nTop=5\r\nPopHitCount=3\r\n\r\n"
                                          "[Skin]\r\nName=dark\r\n\r\n[Extra]\r\nCount=-7\r\n"));
    }

    void writeIniReplacesKeyInAnyCase() {
        const QString Ini = FHome.filePath(QStringLiteral("case.ini"));
        QVERIFY(WriteAll(Ini, "[window]\nheight=300\n"));
        QVERIFY(WriteIniValues(Ini, {{QStringLiteral("Window/Height"), 480}}));
        QCOMPARE(ReadAll(Ini), QByteArray("[window]\nHeight=480\n"));
    }

    void writeIniCreatesFile() {
        const QString Ini = FHome.filePath(QStringLiteral("new.ini"));
        QVERIFY(WriteIniValues(Ini, {{QStringLiteral("Window/PopHitCount"), 1}}));
        QCOMPARE(ReadAll(Ini), QByteArray("[Window]\nPopHitCount=1\n"));
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
            QVERIFY(!WriteIniValues(Ini, {{QStringLiteral("Window/Height"), 480}}));
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

QTEST_GUILESS_MAIN(TestUtils)
#include "tst_utils.moc"
