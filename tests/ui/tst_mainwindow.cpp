#include "CommandServer.h"
#include "LocalPlayerWindow.h"
#include "MainWindow.h"
#include "MediaPlayer.h"
#include "RemotePlayers.h"
#include "SignalWatcher.h"
#include "Utils.h"

#include <QComboBox>
#include <QMenu>
#include <QTabWidget>
#include <QTcpSocket>
#include <QTimer>

#include <csignal>

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

// A remote page that ends its connection Delay ms after being asked.
class TStandInPage : public TRemotePlayer {
public:
    explicit TStandInPage(int Delay) : FDelay(Delay) { RemotePlayers().Add(this); }
    QString Host() const override { return "stand-in"; }
    quint32 HostAddr() const override { return 0xFFFFFFFF; }
    void EndConnection() override {
        EndRequested = true;
        QTimer::singleShot(FDelay, this, [this] { RemotePlayers().Remove(this); });
    }
    bool EndRequested = false;

private:
    int FDelay;
};

// Start-up placement and the staged shutdown of the main window.
class TestMainWindow : public QObject {
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
    void CloseFully(TMainWindow &Form) {
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
    }

    void firstStartKeepsDesignAndWritesOnlyHitCount() {
        {
            TMainWindow Form(0);
            Form.show();
            QVERIFY(!QFile::exists(Ini())); // start-up never creates the file
            QCOMPARE(Form.pos(), QPoint(251, 163));
            // The first heartbeat puts the known computers into the "Play on" box.
            QTRY_COMPARE(Form.FPlayOnBox->count(), 1);
            QCOMPARE(Form.FPlayOnBox->itemText(0), QString("My Computer"));
            QCOMPARE(Form.FPlayOnBox->currentText(), QString("My Computer"));
            CloseFully(Form);
        }
        QCOMPARE(WindowKeys(), QStringList{"PopHitCount"});
    }

    void storedPlacementIsAppliedAndZeroMeansUnset() {
        WriteIni("[Window]\nHeight=600\nWidth=400\nTop=0\nLeft=77\nPopHitCount=3\n");
        TMainWindow Form(0);
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
            TMainWindow Form(0);
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

    // Pages that end a while after being asked: every close request, SIGTERM included, waits
    // for the same sequence, which ends once the last page is gone; ended pages' tabs are
    // freed meanwhile.
    void closeWaitsForRemotePages() {
        TMainWindow Form(0);
        Form.show();
        TSignalWatcher Signals;
        connect(&Signals, &TSignalWatcher::CloseRequested, &Form, &TMainWindow::close);
        QPointer<TStandInPage> Quick = new TStandInPage(50), Slow = new TStandInPage(800);
        Form.AddRemotePage(Quick, "quick Player");
        Form.AddRemotePage(Slow, "slow Player");
        QCOMPARE(Form.FPages->count(), 3);

        std::raise(SIGTERM);
        QTRY_VERIFY(Form.Closing());
        QVERIFY(Quick->EndRequested && Slow->EndRequested);
        QTRY_COMPARE(Form.FPages->count(), 2); // the quick page's tab is gone
        QTRY_VERIFY(Quick.isNull());
        std::raise(SIGTERM); // a second request waits too
        Form.close();
        QTest::qWait(200);
        QVERIFY(Form.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!Form.isVisible(), 5000);
        QVERIFY(RemotePlayers().IsEmpty());
        QCOMPARE(Form.FPages->count(), 1);
    }

    void controllerConnectingShowsMyPlayerAndCloseStopsIt() {
        TMainWindow Form(0);
        Form.show();
        TLocalPlayerWindow &Player =
            *Form.CreateLocalPlayer(0, std::make_unique<TMediaPlayer>(TMpvOptions{{"ao", "null"}}));
        QVERIFY(!Player.isVisible());
        QCOMPARE(Form.FPages->count(), 1);

        QTcpSocket Controller;
        Controller.connectToHost(QHostAddress::LocalHost, Player.CommandServer()->Port());
        QTRY_COMPARE_WITH_TIMEOUT(Form.FPages->count(), 2, 5000);
        QCOMPARE(Form.FPages->tabText(1), QString("My Player"));
        QCOMPARE(Form.FPages->currentIndex(), 1);
        QVERIFY(Player.isVisible());

        // A second controller brings no second page.
        QTcpSocket Second;
        Second.connectToHost(QHostAddress::LocalHost, Player.CommandServer()->Port());
        QVERIFY(Second.waitForConnected(5000));
        QTest::qWait(100);
        QCOMPARE(Form.FPages->count(), 2);

        CloseFully(Form);
        QVERIFY(!Player.IsListening());
        QTRY_COMPARE_WITH_TIMEOUT(Controller.state(), QAbstractSocket::UnconnectedState, 5000);
    }

    void autoRunEntryFollowsTheFile() {
        TMainWindow Form(0);
        QVERIFY(!Form.FAutoRunAction->isChecked());
        Form.FAutoRunAction->trigger();
        QVERIFY(IsAutoRun());
        QVERIFY(Form.FAutoRunAction->isChecked());
        Form.FAutoRunAction->trigger();
        QVERIFY(!IsAutoRun());
        QVERIFY(!Form.FAutoRunAction->isChecked());
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
        TMainWindow Form(0);
        Form.LoadSkin("testskin");
        QCOMPARE(Form.styleSheet(), QString("QWidget { color: red; }"));
        QCOMPARE(Form.FileThemeRemote(), QString("QWidget { color: blue; }"));
        Form.LoadSkin("nosuchskin");
        QVERIFY(Form.styleSheet().isEmpty());
        QFile::remove(Main);
        QFile::remove(Remote);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
