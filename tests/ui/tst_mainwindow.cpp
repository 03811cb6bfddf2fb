#include "MainWindowRig.h"

#include "AutoRun.h"
#include "Modal.h"
#include "PhoneRemoteDialog.h"
#include "TestAccessible.h"
#include "TestFiles.h"
#include "WindowParts.h"

#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QScopeGuard>
#include <QSystemTrayIcon>
#include <QTcpSocket>
#include <QToolButton>

#include <algorithm>

// Start-up placement, the settings written, the frame's controls and menus.
class TestMainWindow : public QObject, private TMainWindowRig {
    Q_OBJECT
private Q_SLOTS:
    void init() { Init(); }
    void cleanup() { Cleanup(); }

    void firstStartKeepsDesignAndWritesOnlyHitCount() {
        {
            TMainWindow Form(0);
            Form.show();
            QVERIFY(!QFile::exists(Ini())); // start-up never creates the file
            // The designed place, or another where the first size would not fit there.
            QVERIFY(Form.screen()->availableGeometry().contains(Form.geometry()));
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
        WriteIni("[Window]\nHeight=580\nWidth=400\nTop=0\nLeft=77\nPopHitCount=3\n");
        TMainWindow Form(0);
        QCOMPARE(Form.height(), 580);
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

    // With no size stored, the window fits the library's columns where the screen has room.
    void firstWindowSize_data() {
        QTest::addColumn<QSize>("Screen");
        QTest::addColumn<QSize>("Got");
        QTest::newRow("large screen") << QSize(2560, 1400) << QSize(1000, 680);
        QTest::newRow("small screen: nine tenths") << QSize(1024, 700) << QSize(921, 630);
        QTest::newRow("tiny screen: the least") << QSize(300, 400) << QSize(318, 488);
        QTest::newRow("no screen") << QSize() << QSize(318, 488);
    }

    void firstWindowSize() {
        QFETCH(QSize, Screen);
        QTEST(TMainWindow::FirstWindowSize(Screen), "Got");
    }

    void keptOnScreen_data() {
        QTest::addColumn<QRect>("Window");
        QTest::addColumn<QRect>("Got");
        QTest::newRow("a maximized size") << QRect(251, 163, 1600, 970) << QRect(0, 0, 1584, 952);
        QTest::newRow("a screen gone")
            << QRect(2500, 1200, 1000, 680) << QRect(584, 272, 1000, 680);
    }
    void keptOnScreen() {
        QFETCH(QRect, Window);
        QTEST(TMainWindow::KeptOnScreen(Window, QRect(0, 0, 1600, 1000)), "Got");
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

    // After a selection change the library's tool buttons keep their short captions and follow
    // their actions; at the narrowest window none hides in the tool bar's overflow.
    void libraryToolButtonsAtMinimumWidth() {
        QVERIFY(WriteAll(LibraryFileName, "/m/a.mp3\r\n/m/b.mp3\r\n"));
        TMainWindow Form(0);
        Form.show();
        Form.resize(Form.minimumSize());
        TLibraryView *View = LibraryView(Form);
        View->selectionModel()->select(View->model()->index(0, 0), QItemSelectionModel::Select);
        for (const QString Caption : {"Remove", "Down", "Up"}) {
            const auto *Button = Form.findChild<QToolButton *>("F" + Caption + "Button");
            QVERIFY(Button && Button->text() == Caption);
            QCOMPARE(Button->isEnabled(), Caption != "Up"); // the first row is selected
            QTRY_VERIFY(Button->isVisible());
        }
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

    // "Phone remote..." in the library's menu shows where phones reach this computer, and the
    // media server there hands out the page.
    void phoneRemoteEntryShowsTheServedPage() {
        TMainWindow Form(0);
        auto *Entry = Form.findChild<QAction *>("FPhoneRemoteAction");
        const QList<QMenu *> Menus = Page(Form).findChildren<QMenu *>();
        QVERIFY(std::any_of(Menus.begin(), Menus.end(), [Entry](const QMenu *Menu) {
            return Menu->actions().contains(Entry);
        }));
        QString Shown;
        SetModalHook([&Shown](QDialog &Dialog) {
            if (auto *Remote = qobject_cast<TPhoneRemoteDialog *>(&Dialog))
                Shown = Remote->FAddressLabel->text();
            return int(QDialog::Rejected);
        });
        const auto Restore = qScopeGuard([] { SetModalHook({}); });
        Entry->trigger();
        const QByteArray Port = QByteArray::number(Form.MediaPort());
        QTRY_COMPARE(Shown,
                     QString::fromUtf8("http://" + Form.Sharing().LocalIP() + ':' + Port + '/'));
        QTcpSocket Browser;
        Browser.connectToHost(QHostAddress::LocalHost, Form.MediaPort());
        Browser.write("GET / HTTP/1.1\r\nHost: 127.0.0.1:" + Port + "\r\n\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(Browser.state(), QAbstractSocket::UnconnectedState, 5000);
        const QByteArray Answer = Browser.readAll().toLower();
        QVERIFY2(Answer.startsWith("http/1.1 200 "), Answer.left(100).constData());
        QVERIFY(Answer.contains("\r\ncontent-type: text/html"));
        QVERIFY(Answer.contains("<!doctype html"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
