#include "AsciiText.h"
#include "LocalPlayerWindow.h"
#include "MainWindow.h"
#include "MediaPlayer.h"
#include "Modal.h"
#include "MusicLibrary.h"
#include "PlaybackEngine.h"
#include "RecordingSpeaker.h"
#include "RemotePlayerPage.h"
#include "RemotePlayers.h"
#include "SelectComputerDialog.h"
#include "Settings.h"
#include "TestFiles.h"
#include "TestPorts.h"
#include "TwoHosts.h"
#include "WindowParts.h"

#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextDocumentFragment>
#include <QToolTip>
#include <QtTest>

#include <memory>

// The main window's wiring of playing the library on this computer or another one.
class TestPlayTo : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> FHome;
    QStringList FMessages;

    // A window with a library of Sources and a speaker that plays nothing audible.
    std::unique_ptr<TMainWindow> MakeWindow(const QByteArrayList &Sources) {
        LoadSettings();
        if (!WriteAll(LibraryFileName, JoinLines(Sources)))
            return {};
        auto Form = std::make_unique<TMainWindow>();
        Form->CreateLocalPlayer(0, std::make_unique<TMediaPlayer>(TMpvOptions{{"ao", "null"}}));
        return Form;
    }
    // What a reader sees of Text drawn in Format: markup is laid out, plain text is not.
    static QString Rendered(const QString &Text, Qt::TextFormat Format) {
        const bool Rich =
            Format == Qt::RichText || (Format == Qt::AutoText && Qt::mightBeRichText(Text));
        return Rich ? QTextDocumentFragment::fromHtml(Text).toPlainText() : Text;
    }

private Q_SLOTS:
    void init() {
        FHome = std::make_unique<QTemporaryDir>();
        QVERIFY(FHome->isValid());
        qputenv("XDG_DATA_HOME", FHome->filePath("data").toUtf8());
        qputenv("XDG_CONFIG_HOME", FHome->filePath("config").toUtf8());
        FMessages.clear();
        SetModalHook([this](QDialog &Dialog) {
            if (auto *Box = qobject_cast<QMessageBox *>(&Dialog))
                FMessages << Rendered(Box->text(), Box->textFormat());
            return int(QMessageBox::Ok);
        });
    }
    void cleanup() { SetModalHook({}); }

    // "My Computer" typed in any case and spacing, or an address of this computer, plays the
    // selected rows here and brings "My Player" forward.
    void playOnThisComputer_data() {
        QTest::addColumn<QString>("Typed");
        for (const char *Typed : {"My Computer", " MY  COMPUTER ", "127.0.0.1"})
            QTest::newRow(Typed) << QString::fromUtf8(Typed);
    }
    void playOnThisComputer() {
        QFETCH(QString, Typed);
        auto Form = MakeWindow({"/m/a b.mp3", "/m/c.mp3", "http://h/d.mp3"});
        QVERIFY(Form);
        LibraryView(*Form)->selectionModel()->select(Form->Library()->index(0),
                                                     QItemSelectionModel::Select);
        LibraryView(*Form)->selectionModel()->select(Form->Library()->index(2),
                                                     QItemSelectionModel::Select);
        PlayOnBox(*Form)->setCurrentText(Typed);
        Page(*Form).PlayOnTypedComputer();
        QVERIFY(FMessages.isEmpty());
        const QByteArray Port = QByteArray::number(Form->MediaPort());
        QTRY_COMPARE(Form->Speaker()->Engine()->Locations(),
                     QByteArrayList({"http://127.0.0.1:" + Port + "/a b.mp3", "http://h/d.mp3"}));
        QTRY_COMPARE(Pages(*Form)->count(), 2); // "My Player" comes forward
        QCOMPARE(Pages(*Form)->tabText(Pages(*Form)->currentIndex()), QString("My Player"));
    }

    void badTargetsShowTheirBox_data() {
        QTest::addColumn<QString>("Typed");
        QTest::addColumn<QString>("Message");
        QTest::newRow("empty") << "  "
                               << "Please select or input a computer name or IP !";
        QTest::newRow("invalid") << "a|b"
                                 << "Invalid computer name or IP !";
    }
    void badTargetsShowTheirBox() {
        QFETCH(QString, Typed);
        QFETCH(QString, Message);
        auto Form = MakeWindow({"/m/a.mp3"});
        for (void (TLibraryPage::*Go)() :
             {&TLibraryPage::PlayOnTypedComputer, &TLibraryPage::ConnectToTypedComputer}) {
            PlayOnBox(*Form)->setCurrentText(Typed);
            (Page(*Form).*Go)();
        }
        QCOMPARE(FMessages, QStringList({Message, Message}));
        QCOMPARE(Pages(*Form)->count(), 1);
    }

    // Play to another computer opens its page's tab in front; the note on what was left out
    // shows in the status bar.
    void playOnAnotherComputer() {
        const QString Far = OtherComputer(2);
        QVERIFY(!Far.isEmpty()); // only inside the suite's network namespace
        TRecordingSpeaker Speaker;
        auto Form = MakeWindow({"/m/a b.mp3", "http://h/d.mp3"});
        CommandPort = Speaker.Server.serverPort();
        PlayOnBox(*Form)->setCurrentText(Far);
        Page(*Form).PlayOnTypedComputer();
        QCOMPARE(Pages(*Form)->count(), 2);
        QCOMPARE(Pages(*Form)->tabText(1), Far + " Player");
        QCOMPARE(Pages(*Form)->currentIndex(), 1);
        const QByteArray Port = QByteArray::number(Form->MediaPort());
        QTRY_COMPARE(Speaker.Received, "ADD\r\n2\r\nhttp://" + Form->Sharing().LocalIP() + ":" +
                                           Port + "/a b.mp3\r\n" + "http://h/d.mp3\r\n");
        Pages(*Form)->setCurrentIndex(0);
        Form->PlayTo().PlayListOn(Far, QByteArrayList(MaxPlayListRows + 3, "http://h/a"));
        QCOMPARE(Pages(*Form)->currentIndex(), 1);
        QVERIFY(Form->statusBar()->currentMessage().startsWith("3 of 100003 tracks"));

        // The computer dialog starts on what the box shows: an address, not a known computer.
        QString Preselected = "no dialog";
        SetModalHook([&](QDialog &Dialog) {
            Preselected = static_cast<TSelectComputerDialog &>(Dialog).SelectedComputer();
            return 0;
        });
        Page(*Form).PlayOnOtherComputer();
        QCOMPARE(Preselected, QString());
    }

    // Connect trims the box's text and opens the page with "GET".
    void connectTrimsAndGets() {
        const QString Far = OtherComputer(2);
        QVERIFY(!Far.isEmpty()); // only inside the suite's network namespace
        TRecordingSpeaker Speaker;
        auto Form = MakeWindow({});
        CommandPort = Speaker.Server.serverPort();
        PlayOnBox(*Form)->setCurrentText("  " + Far + " ");
        Page(*Form).ConnectToTypedComputer();
        QCOMPARE(PlayOnBox(*Form)->currentText(), Far);
        QCOMPARE(Pages(*Form)->count(), 2);
        QTRY_COMPARE(Speaker.Received, QByteArray("GET\r\n\r\n"));
    }

    // A refused connect shows its box once and the page goes; a speaker that drops the
    // connection takes its page with it silently; the window closes with pages open.
    void pagesEndWithTheirConnections() {
        const QString Far = OtherComputer(2), Refusing = OtherComputer(3);
        const QString Near = OtherComputer(4), Next = OtherComputer(5);
        QVERIFY(!Far.isEmpty()); // only inside the suite's network namespace
        TRecordingSpeaker Speaker;
        const quint16 Closed = RefusingPort(QHostAddress(Refusing));
        QVERIFY(Closed != 0);
        auto Form = MakeWindow({});
        CommandPort = Closed;
        Form->PlayTo().PlayListOn(Refusing, {});
        QTRY_COMPARE(FMessages, QStringList{"Connect to " + Refusing + " fail."});
        QTRY_COMPARE(Pages(*Form)->count(), 1);

        CommandPort = Speaker.Server.serverPort();
        Form->PlayTo().PlayListOn(Far, {});
        QTRY_COMPARE(Speaker.Peers.size(), 1);
        Speaker.Peers.first()->close();
        QTRY_COMPARE(Pages(*Form)->count(), 1);
        QCOMPARE(FMessages.size(), 1);

        for (const QString &Host : {Far, Near, Next})
            Form->PlayTo().PlayListOn(Host, {});
        QCOMPARE(Pages(*Form)->count(), 4);
        QTRY_COMPARE(Speaker.Peers.size(), 4); // all three connected
        Form->show();
        Form->close();
        QTRY_VERIFY_WITH_TIMEOUT(!Form->isVisible(), 5000);
        QVERIFY(RemotePlayers().IsEmpty());
        QCOMPARE(FMessages.size(), 1); // pages ended by the close say nothing
    }

    // Host names, addresses and file names are shown as the text they are, markup included.
    void outsideTextIsShownAsText_data() {
        QTest::addColumn<QString>("Text");
        QTest::newRow("bold") << "/m/<b>x</b>.mp3";
        QTest::newRow("image") << "/m/<img src=\"nowhere.png\"> y.mp3";
    }
    void outsideTextIsShownAsText() {
        QFETCH(QString, Text);
        auto Form = MakeWindow({Text.toUtf8()});
        Form->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
        ShowErrorBox(Form.get(), Text);
        Form->Sharing().SetLocalIP(Text.toUtf8()); // the status bar follows
        auto *Label = Form->findChild<QLabel *>("FStatusIP");
        QWidget *Rows = LibraryView(*Form)->viewport();
        const QPoint At = LibraryView(*Form)->visualRect(Form->Library()->index(0)).center();
        QHelpEvent Hover(QEvent::ToolTip, At, Rows->mapToGlobal(At));
        QApplication::sendEvent(Rows, &Hover);
        FMessages << Rendered(Label->text(), Label->textFormat())
                  << QAccessible::queryAccessibleInterface(Label)->text(QAccessible::Name)
                  << Rendered(QToolTip::text(), Qt::AutoText);
        QCOMPARE(FMessages, QStringList(4, Text));
    }

    // The speaker goes while "About" from its page's menu is open: the page and its tab are
    // freed only once the box has returned.
    void pageEndingUnderItsAboutBoxWaits() {
        const QString Far = OtherComputer(2);
        QVERIFY(!Far.isEmpty()); // only inside the suite's network namespace
        TRecordingSpeaker Speaker;
        auto Form = MakeWindow({});
        CommandPort = Speaker.Server.serverPort();
        Form->PlayTo().PlayListOn(Far, {});
        QTRY_COMPARE(Speaker.Peers.size(), 1);
        QPointer<TRemotePlayerPage> Page = Form->findChild<TRemotePlayerPage *>();
        QString Seen;
        SetModalHook([&](QDialog &Dialog) {
            Speaker.Peers.first()->close();
            if (QTest::qWaitFor([] { return RemotePlayers().IsEmpty(); })) {
                QCoreApplication::processEvents(); // the heartbeat, and whatever it frees
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            }
            Seen = Dialog.metaObject()->className() + QString(Page ? " over the page" : "");
            return 0;
        });
        Page->findChild<QAction *>("FAboutAction")->trigger();
        QTRY_COMPARE(Seen, "TAboutDialog over the page");
        QTRY_VERIFY(Page.isNull());
    }
};

QTEST_MAIN(TestPlayTo)
#include "tst_playto.moc"
