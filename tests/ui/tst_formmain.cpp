#include "CommandServer.h"
#include "LocalPlayerForm.h"
#include "Main.h"
#include "MediaPlayer.h"
#include "Utils.h"

#include <QComboBox>
#include <QMenu>
#include <QTabWidget>
#include <QTcpSocket>

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

// Start-up placement and the staged shutdown of the main window.
class TestFormMain : public QObject {
    Q_OBJECT
private:
    QTemporaryDir FHome;

    QString Ini() const { return IniFileName; }
    void WriteIni(const QString &Text) {
        // LoadSettings fixes IniFileName; write it where the next start looks.
        LoadSettings();
        QFile F(IniFileName);
        QVERIFY2(F.open(QIODevice::WriteOnly), qPrintable(IniFileName));
        F.write(Text.toUtf8());
    }
    // Runs the close sequence to its end: the first request is refused, the
    // heartbeat closes the window once no remote page is left.
    void CloseFully(TFormMain &Form) {
        Form.close();
        QVERIFY(Form.Closing());
        QTRY_VERIFY_WITH_TIMEOUT(!Form.isVisible(), 5000);
    }
    QStringList WindowKeys() {
        QSettings S(IniFileName, QSettings::IniFormat);
        S.beginGroup("Window");
        return S.childKeys();
    }

private Q_SLOTS:
    void init() {
        QVERIFY(FHome.isValid());
        qputenv("XDG_DATA_HOME", FHome.filePath("data").toUtf8());
        qputenv("XDG_CONFIG_HOME", FHome.filePath("config").toUtf8());
        LoadSettings();
        QFile::remove(IniFileName);
        RemotePlayers.clear();
    }

    void firstStartKeepsDesignAndWritesOnlyHitCount() {
        {
            TFormMain Form(0);
            Form.show();
            QVERIFY(!QFile::exists(Ini())); // start-up never creates the file
            QCOMPARE(Form.pos(), QPoint(251, 163));
            // The first heartbeat puts the known computers into the "Play on" box.
            QTRY_COMPARE(Form.suiComboBoxPlayServer->count(), 1);
            QCOMPARE(Form.suiComboBoxPlayServer->itemText(0), QString("My Computer"));
            QCOMPARE(Form.suiComboBoxPlayServer->currentText(), QString("My Computer"));
            CloseFully(Form);
        }
        QCOMPARE(WindowKeys(), QStringList{"PopHitCount"});
    }

    void storedPlacementIsAppliedAndZeroMeansUnset() {
        WriteIni("[Window]\nHeight=600\nWidth=400\nTop=0\nLeft=77\nPopHitCount=3\n");
        TFormMain Form(0);
        QCOMPARE(Form.height(), 600);
        QCOMPARE(Form.width(), 400);
        QCOMPARE(Form.y(), 163); // Top 0: designed position
        QCOMPARE(Form.x(), 77);
        QCOMPARE(Form.StartPlacement().Top, 163);
        QCOMPARE(PopHitCount, 3);
    }

    void onlyChangedValuesAreWritten() {
        WriteIni("[Window]\nHeight=600\nPopHitCount=2\n[Server]\nPort=0x9219\n");
        {
            TFormMain Form(0);
            Form.show();
            Form.move(300, 200);
            PopHitCount = 4;
            CloseFully(Form);
        }
        QSettings S(IniFileName, QSettings::IniFormat);
        QCOMPARE(S.value("Window/Height").toString(), QString("600")); // unchanged, kept
        QCOMPARE(S.value("Window/Left").toInt(), 300);
        QCOMPARE(S.value("Window/Top").toInt(), 200);
        QVERIFY(!S.contains("Window/Width"));
        QCOMPARE(S.value("Window/PopHitCount").toInt(), 4);
        QCOMPARE(S.value("Server/Port").toString(), QString("0x9219")); // never rewritten
    }

    void closeWaitsForRemotePages() {
        TFormMain Form(0);
        Form.show();
        QWidget Page;
        RemotePlayers.append(&Page);
        Form.close();
        QVERIFY(Form.Closing());
        QTest::qWait(100);
        QVERIFY(Form.isVisible()); // still waiting for the page to end
        RemotePlayers.removeAll(&Page);
        Form.ScheduleCmdTick();
        QTRY_VERIFY_WITH_TIMEOUT(!Form.isVisible(), 5000);
    }

    void controllerConnectingShowsMyPlayerAndCloseStopsIt() {
        TFormMain Form(0);
        Form.show();
        TFormLocalPlayer Player(0, std::make_unique<TMediaPlayer>(TMpvOptions{{"ao", "null"}}));
        Form.SetLocalPlayer(&Player);
        QCOMPARE(Form.suiPageControlMain->count(), 1);

        QTcpSocket Controller;
        Controller.connectToHost(QHostAddress::LocalHost, Player.CommandServer()->Port());
        QTRY_COMPARE_WITH_TIMEOUT(Form.suiPageControlMain->count(), 2, 5000);
        QCOMPARE(Form.suiPageControlMain->tabText(1), QString("My Player"));
        QCOMPARE(Form.suiPageControlMain->currentIndex(), 1);
        QVERIFY(Player.isVisible());

        // A second controller brings no second page.
        QTcpSocket Second;
        Second.connectToHost(QHostAddress::LocalHost, Player.CommandServer()->Port());
        QVERIFY(Second.waitForConnected(5000));
        QTest::qWait(100);
        QCOMPARE(Form.suiPageControlMain->count(), 2);

        CloseFully(Form);
        QVERIFY(!Player.IsListening());
        QTRY_COMPARE_WITH_TIMEOUT(Controller.state(), QAbstractSocket::UnconnectedState, 5000);
    }

    void autoRunEntryFollowsTheFile() {
        TFormMain Form(0);
        QVERIFY(!Form.ActAutoRun->isChecked());
        Form.ActAutoRun->trigger();
        QVERIFY(IsAutoRun());
        QVERIFY(Form.ActAutoRun->isChecked());
        Form.ActAutoRun->trigger();
        QVERIFY(!IsAutoRun());
        QVERIFY(!Form.ActAutoRun->isChecked());
    }

    void skinFilesStyleTheWindow() {
        LoadSettings();
        QVERIFY(QDir().mkpath(SkinDir));
        const QString Main = SkinDir + "/testskin1.vlx", Remote = SkinDir + "/testskin2.vlx";
        for (const auto &[Name, Text] : {std::pair{Main, "QWidget { color: red; }"},
                                         std::pair{Remote, "QWidget { color: blue; }"}}) {
            QFile F(Name);
            QVERIFY2(F.open(QIODevice::WriteOnly), qPrintable(Name));
            F.write(Text);
        }
        TFormMain Form(0);
        Form.LoadSkin("testskin");
        QCOMPARE(Form.styleSheet(), QString("QWidget { color: red; }"));
        QCOMPARE(Form.FileThemeRemote(), QString("QWidget { color: blue; }"));
        Form.LoadSkin("nosuchskin");
        QVERIFY(Form.styleSheet().isEmpty());
        QFile::remove(Main);
        QFile::remove(Remote);
    }
};

QTEST_MAIN(TestFormMain)
#include "tst_formmain.moc"
