#include "../player/FakeMedia.h"
#include "AutoRun.h"
#include "BalloonTip.h"
#include "CommandServer.h"
#include "LocalPlayerWindow.h"
#include "MainWindow.h"
#include "MediaPlayer.h"
#include "PlaybackEngine.h"
#include "RemotePlayers.h"
#include "Settings.h"
#include "SignalWatcher.h"
#include "Speaker.h"
#include "TestAccessible.h"
#include "TestFiles.h"
#include "WindowParts.h"

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QTabBar>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <csignal>

#include <QSettings>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QtTest>

// A remote player that ends its connection Delay ms after being asked, or when End() is called
// for a negative Delay; its page is Page.
class TStandInPage : public TRemotePlayer {
public:
    explicit TStandInPage(int Delay) : FDelay(Delay) {
        setParent(Page);
        RemotePlayers().Add(this);
    }
    QWidget *Page = new QWidget;
    QString Host() const override { return "stand-in"; }
    quint32 HostAddr() const override { return 0xFFFFFFFF; }
    void EndConnection() override {
        EndRequested = true;
        if (FDelay >= 0)
            QTimer::singleShot(FDelay, this, &TStandInPage::End);
    }
    void End() { RemotePlayers().Remove(this); }
    void PostCommand(const QByteArray &, const QByteArray &) override {}
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
    // A window with a speaker on a fake component, its "My Player" page open.
    TLocalPlayerWindow *AddPlayerPage(TMainWindow &Form) {
        TLocalPlayerWindow *Player = Form.CreateLocalPlayer(0, std::make_unique<TFakeMedia>());
        Player->Speaker().Engine()->RequestShow();
        static_cast<void>(QTest::qWaitFor([Player] { return Player->isVisible(); }));
        return Player;
    }
    // Runs every event posted so far: a marker posted now is handled after them.
    static void RunPostedEvents() {
        QObject Context;
        bool Reached = false;
        QMetaObject::invokeMethod(
            &Context, [&Reached] { Reached = true; }, Qt::QueuedConnection);
        QTRY_VERIFY(Reached);
    }
    static void RightClick(QWidget *Target, const QPoint &At) {
        QContextMenuEvent Event(QContextMenuEvent::Mouse, At, Target->mapToGlobal(At));
        QApplication::sendEvent(Target, &Event);
    }
    static QStringList Captions(const QTabWidget *Pages) {
        QStringList Texts;
        for (int I = 0; I < Pages->count(); ++I)
            Texts << Pages->tabText(I);
        return Texts;
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
        QFile::remove(LibraryFileName);
    }
    void cleanup() {
        if (CurrentBalloonTip())
            CurrentBalloonTip()->close();
    }

    void firstStartKeepsDesignAndWritesOnlyHitCount() {
        {
            TMainWindow Form(0);
            Form.show();
            QVERIFY(!QFile::exists(Ini())); // start-up never creates the file
            QCOMPARE(Form.pos(), QPoint(251, 163));
            // The first heartbeat puts the known computers into the "Play on" box.
            auto *Box = PlayOnBox(Form);
            QTRY_COMPARE(Box->count(), 1);
            QCOMPARE(Box->itemText(0), QString("My Computer"));
            QCOMPARE(Box->currentText(), QString("My Computer"));
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
        QPointer<TStandInPage> Quick = new TStandInPage(0), Slow = new TStandInPage(-1);
        Form.AddRemotePage(Quick->Page, Quick, "quick Player");
        Form.AddRemotePage(Slow->Page, Slow, "slow Player");
        QCOMPARE(Pages(Form)->count(), 3);

        std::raise(SIGTERM);
        QTRY_VERIFY(Form.Closing());
        QVERIFY(Quick->EndRequested && Slow->EndRequested);
        QTRY_COMPARE(Pages(Form)->count(), 2); // the quick page's tab is gone
        QTRY_VERIFY(Quick.isNull());
        QSignalSpy Requests(&Signals, &TSignalWatcher::CloseRequested);
        std::raise(SIGTERM); // a second request waits too
        QVERIFY(Requests.wait());
        Form.close();
        QVERIFY(Form.isVisible());
        Slow->End();
        QTRY_VERIFY(!Form.isVisible());
        QVERIFY(RemotePlayers().IsEmpty());
        QCOMPARE(Pages(Form)->count(), 1);
    }

    void controllerConnectingShowsMyPlayerAndCloseStopsIt() {
        TMainWindow Form(0);
        Form.show();
        TLocalPlayerWindow &Player =
            *Form.CreateLocalPlayer(0, std::make_unique<TMediaPlayer>(TMpvOptions{{"ao", "null"}}));
        QVERIFY(!Player.isVisible());
        QCOMPARE(Pages(Form)->count(), 1);

        QTcpSocket Controller;
        Controller.connectToHost(QHostAddress::LocalHost, Player.Speaker().CommandServer()->Port());
        QTRY_COMPARE_WITH_TIMEOUT(Pages(Form)->count(), 2, 5000);
        QCOMPARE(Pages(Form)->tabText(1), QString("My Player"));
        QCOMPARE(Pages(Form)->currentIndex(), 1);
        QVERIFY(Player.isVisible());

        // A second controller brings no second page.
        QTcpSocket Second;
        Second.connectToHost(QHostAddress::LocalHost, Player.Speaker().CommandServer()->Port());
        QTRY_COMPARE(Player.Speaker().CommandServer()->ConnectionCount(), 2);
        RunPostedEvents(); // the heartbeat it asked for
        QCOMPARE(Pages(Form)->count(), 2);

        CloseFully(Form);
        QVERIFY(!Player.Speaker().IsListening());
        QTRY_COMPARE_WITH_TIMEOUT(Controller.state(), QAbstractSocket::UnconnectedState, 5000);
    }

    // Tabs: "Music library", "My Player", "stand-in Player". The menu opens only in the tab
    // strip, never for the library page, and closes the active page whichever tab was clicked.
    void pageMenu_data() {
        QTest::addColumn<int>("Active");
        QTest::addColumn<int>("Tab");           // the tab right-clicked; -1: inside the active page
        QTest::addColumn<QStringList>("After"); // tabs left once the entry ran; empty: no menu
        QTest::newRow("library active") << 0 << 0 << QStringList();
        QTest::newRow("library active, other tab") << 0 << 2 << QStringList();
        QTest::newRow("remote, library tab") << 2 << 0 << QStringList{"Music library", "My Player"};
        QTest::newRow("remote, own tab") << 2 << 2 << QStringList{"Music library", "My Player"};
        QTest::newRow("remote, its content") << 2 << -1 << QStringList();
        QTest::newRow("my player, other tab")
            << 1 << 2 << QStringList{"Music library", "stand-in Player"};
        QTest::newRow("my player, its content") << 1 << -1 << QStringList();
    }
    void pageMenu() {
        QFETCH(int, Active);
        QFETCH(int, Tab);
        QFETCH(QStringList, After);
        TMainWindow Form(0);
        Form.show();
        TLocalPlayerWindow *Player = AddPlayerPage(Form);
        auto *Remote = new TStandInPage(0);
        Form.AddRemotePage(Remote->Page, Remote, "stand-in Player");
        Pages(Form)->setCurrentIndex(Active);
        auto *Menu = Form.findChild<QMenu *>("FPageMenu");
        auto *Close = Form.findChild<QAction *>("FClosePageAction");
        QTabBar *Bar = Pages(Form)->tabBar();
        if (Tab < 0)
            RightClick(Active == 1 ? static_cast<QWidget *>(Player) : Remote->Page, QPoint(20, 20));
        else
            RightClick(Bar, Bar->tabRect(Tab).center());
        QCOMPARE(Menu->isVisible(), !After.isEmpty());
        if (After.isEmpty())
            return;
        QCOMPARE(Close->text(), "Close " + Pages(Form)->tabText(Active));
        Menu->hide();
        Close->trigger();
        QTRY_COMPARE(Captions(Pages(Form)), After);
    }

    // Ctrl+F4 on the library page does nothing; on "My Player" the page goes while the
    // player keeps its list and plays on, and the next request brings the page back.
    void closePageKeepsTheLocalPlayer() {
        TMainWindow Form(0);
        Form.show();
        QVERIFY(QTest::qWaitForWindowActive(&Form));
        QTest::keyClick(&Form, Qt::Key_F4, Qt::ControlModifier);
        QCOMPARE(Captions(Pages(Form)), QStringList{"Music library"});
        TLocalPlayerWindow *Player = AddPlayerPage(Form);
        auto &Media = static_cast<TFakeMedia &>(*Player->Speaker().Media());
        Player->Speaker().AddLocalTracks({"http://127.0.0.1:1/a.mp3", "http://127.0.0.1:1/b.mp3"});
        QTRY_COMPARE(Player->Speaker().Engine()->Model()->rowCount(), 2);
        Media.Enter(3);
        Pages(Form)->setCurrentIndex(1);
        QTest::keyClick(&Form, Qt::Key_F4, Qt::ControlModifier);
        QCOMPARE(Captions(Pages(Form)), QStringList{"Music library"});
        QVERIFY(!Player->isVisible());
        QVERIFY(Media.State == 3 && !Media.Calls.contains("Stop"));
        Player->Speaker().Engine()->RequestShow();
        QTRY_COMPARE(Captions(Pages(Form)), (QStringList{"Music library", "My Player"}));
        QVERIFY(Player->isVisible());
        QCOMPARE(Player->Speaker().Engine()->Model()->rowCount(), 2);
    }

    // Allow off drops both controllers at once and refuses the next; allow on admits again.
    void allowSwitchDropsAndRefusesControllers() {
        TMainWindow Form(0);
        TCommandServer *Server =
            Form.CreateLocalPlayer(0, std::make_unique<TFakeMedia>())->Speaker().CommandServer();
        auto *Allow = Form.findChild<QAction *>("FAllowAction");
        QTcpSocket First, Second, Third, Fourth;
        First.connectToHost(QHostAddress::LocalHost, Server->Port());
        Second.connectToHost(QHostAddress::LocalHost, Server->Port());
        QTRY_COMPARE(Server->ConnectionCount(), 2);
        Allow->trigger();
        QCOMPARE(Server->ConnectionCount(), 0);
        QCOMPARE(Form.findChild<QLabel *>("FStatusAllow")->text(), QString("Deny"));
        Form.findChild<QMenu *>("FSystemMenu")->aboutToShow();
        QVERIFY(Allow->text().startsWith("Allo&w"));
        QTRY_COMPARE(First.state() + Second.state(), 0); // both UnconnectedState
        Third.connectToHost(QHostAddress::LocalHost, Server->Port());
        QTRY_COMPARE(Third.state(), QAbstractSocket::UnconnectedState);
        Allow->trigger();
        Fourth.connectToHost(QHostAddress::LocalHost, Server->Port());
        QTRY_VERIFY(Fourth.bytesAvailable() > 0); // the greeting
        QCOMPARE(Server->ConnectionCount(), 1);
    }

    void onlyThePictureToggles_data() {
        QTest::addColumn<QString>("Panel");
        QTest::addColumn<int>("X");
        QTest::addColumn<bool>("Toggles");
        QTest::newRow("picture, left edge") << "FStatusIcon" << 0 << true;
        QTest::newRow("picture, right edge") << "FStatusIcon" << 18 << true;
        QTest::newRow("panel 0 past the picture") << "FStatusIcon" << 19 << false;
        QTest::newRow("panel 1") << "FStatusAllow" << 5 << false;
        QTest::newRow("panel 2") << "FStatusIP" << 5 << false;
    }
    void onlyThePictureToggles() {
        QFETCH(QString, Panel);
        QFETCH(int, X);
        QFETCH(bool, Toggles);
        TMainWindow Form(0);
        Form.show();
        QTest::mouseDClick(Form.findChild<QLabel *>(Panel), Qt::LeftButton, {}, QPoint(X, 5));
        QCOMPARE(Form.Sharing().AllowOthers(), !Toggles);
    }

    // After the first activation, with an empty library, once per run.
    void firstHint_data() {
        QTest::addColumn<QByteArray>("LibraryText");
        QTest::addColumn<int>("HitCount");
        QTest::addColumn<bool>("Shown");
        QTest::newRow("empty library") << QByteArray() << 4 << true;
        QTest::newRow("one entry") << QByteArray("/m/a.mp3\r\n") << 0 << false;
        QTest::newRow("fifth add seen") << QByteArray() << 5 << false;
    }
    void firstHint() {
        QFETCH(QByteArray, LibraryText);
        QFETCH(int, HitCount);
        QFETCH(bool, Shown);
        QVERIFY(WriteAll(LibraryFileName, LibraryText));
        WriteIni(QString("[Window]\nPopHitCount=%1\n").arg(HitCount));
        TMainWindow Form(0, 0, 0);
        QWidget Other;
        for (QWidget *Activated : QList<QWidget *>{&Form, &Other, &Form}) {
            Activated->show();
            Activated->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(Activated));
            RunPostedEvents(); // the hint's look at the library
            QCOMPARE(CurrentBalloonTip() && CurrentBalloonTip()->Title() == "Step 1 of 2", Shown);
            Shown = false; // not again in this run
            if (CurrentBalloonTip())
                CurrentBalloonTip()->close();
        }
    }

    void windowKeepsItsMinimumSize_data() {
        QTest::addColumn<QSize>("Asked");
        QTest::addColumn<QSize>("Got");
        QTest::newRow("both too small") << QSize(100, 100) << QSize(318, 488);
        QTest::newRow("too narrow") << QSize(200, 600) << QSize(318, 600);
        QTest::newRow("too low") << QSize(400, 300) << QSize(400, 488);
    }
    void windowKeepsItsMinimumSize() {
        QFETCH(QSize, Asked);
        TMainWindow Form(0);
        Form.show();
        Form.resize(Asked);
        QTEST(Form.size(), "Got");
    }

    // Without a notification area the window minimises like any other, never hidden for good.
    void minimisingWithoutTrayKeepsTheWindow() {
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        TMainWindow Form(0);
        Form.show();
        Form.showMinimized();
        RunPostedEvents();
        QVERIFY(Form.isVisible());
    }

    // A taken media or command port shows in the status bar and on the "My Player" page.
    void takenPortsAreShown() {
        QTcpServer MediaHolder, CommandHolder;
        QVERIFY(MediaHolder.listen(QHostAddress::AnyIPv4) && CommandHolder.listen());
        const QString Media = QString::number(MediaHolder.serverPort());
        const QString Command = QString::number(CommandHolder.serverPort());
        // The log says each taken port once.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("TCP port " + Media));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("port " + Command + " is taken"));
        QTest::failOnWarning(QRegularExpression(Media + '|' + Command));
        TMainWindow Form(MediaHolder.serverPort());
        Form.show();
        auto *Note = Form.findChild<QLabel *>("FStatusPorts");
        QVERIFY(Note->isVisible());
        QCOMPARE(Note->text(), "Port " + Media + " taken");
        auto *Player =
            Form.CreateLocalPlayer(CommandHolder.serverPort(), std::make_unique<TFakeMedia>());
        QCOMPARE(Note->text(), "Ports " + Media + ", " + Command + " taken");
        Player->Speaker().Engine()->RequestShow();
        QTRY_VERIFY(Player->isVisible());
        auto *PageNote = Pages(Form)->widget(1)->findChild<QLabel *>("PortNote");
        QVERIFY(PageNote && PageNote->text().contains(Command));
    }

    // Every visible control of the frame has a name a screen reader can read.
    void controlsHaveAccessibleNames() {
        TMainWindow Form(0);
        Form.show();
        const QStringList Nameless = NamelessControls(&Form);
        QVERIFY2(Nameless.isEmpty(), qPrintable(Nameless.join(", ")));
    }

    void autoRunEntryFollowsTheFile() {
        TMainWindow Form(0);
        auto *AutoRun = Form.findChild<QAction *>("FAutoRunAction");
        QVERIFY(!AutoRun->isChecked());
        AutoRun->trigger();
        QVERIFY(IsAutoRun());
        QVERIFY(AutoRun->isChecked());
        AutoRun->trigger();
        QVERIFY(!IsAutoRun());
        QVERIFY(!AutoRun->isChecked());
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
