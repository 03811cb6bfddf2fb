#include "MainWindowRig.h"

#include "CommandServer.h"
#include "MediaPlayer.h"
#include "RemotePlayers.h"
#include "SignalWatcher.h"
#include "WindowParts.h"

#include <QLabel>
#include <QMenu>
#include <QTabBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <csignal>

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

// The window's pages and the speaker behind "My Player": opening, closing, the staged
// shutdown.
class TestMainWindowPages : public QObject, private TMainWindowRig {
    Q_OBJECT
private Q_SLOTS:
    void init() { Init(); }
    void cleanup() { Cleanup(); }

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
        auto &Media = static_cast<TFakeMedia &>(*Player->Speaker().Player());
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
};

QTEST_MAIN(TestMainWindowPages)
#include "tst_mainwindow_pages.moc"
