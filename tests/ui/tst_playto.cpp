#include "CommandReader.h"
#include "LibraryView.h"
#include "LocalPlayerWindow.h"
#include "MainWindow.h"
#include "MediaPlayer.h"
#include "MediaServer.h"
#include "Modal.h"
#include "MusicLibrary.h"
#include "PlayTo.h"
#include "PlaybackEngine.h"
#include "RemotePlayers.h"
#include "TestFiles.h"
#include "Utils.h"

#include <QComboBox>
#include <QMessageBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// Playing the library on this computer or another one, and the rules behind it.
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
    // A fake speaker on every loopback address: what it received, and its connections.
    struct TSpeaker {
        QTcpServer Server;
        QByteArray Received;
        QList<QTcpSocket *> Peers;
        TSpeaker() {
            Server.listen(QHostAddress::AnyIPv4, 0);
            connect(&Server, &QTcpServer::newConnection, &Server, [this] {
                while (QTcpSocket *Peer = Server.nextPendingConnection()) {
                    Peers.append(Peer);
                    connect(Peer, &QTcpSocket::readyRead, Peer,
                            [this, Peer] { Received += Peer->readAll(); });
                }
            });
        }
    };

private Q_SLOTS:
    void init() {
        FHome = std::make_unique<QTemporaryDir>();
        QVERIFY(FHome->isValid());
        qputenv("XDG_DATA_HOME", FHome->filePath("data").toUtf8());
        qputenv("XDG_CONFIG_HOME", FHome->filePath("config").toUtf8());
        FMessages.clear();
        SetModalHook([this](QDialog &Dialog) {
            if (auto *Box = qobject_cast<QMessageBox *>(&Dialog))
                FMessages << Box->text();
            return int(QMessageBox::Ok);
        });
    }
    void cleanup() { SetModalHook({}); }

    void thisComputer_data() {
        QTest::addColumn<QString>("Host");
        QTest::addColumn<bool>("Expected");
        QTest::newRow("localhost") << "localhost" << true;
        QTest::newRow("LOCALHOST") << "LOCALHOST" << true;
        QTest::newRow("host name in other case") << "MYBOX" << true;
        QTest::newRow("127.0.0.1") << "127.0.0.1" << true;
        QTest::newRow("127.1, another form of it") << "127.1" << true;
        QTest::newRow("own address") << "10.1.2.3" << true;
        QTest::newRow("own address, other form") << "10.1.515" << true;
        QTest::newRow("127.0.0.2") << "127.0.0.2" << false;
        QTest::newRow("another name") << "kitchen" << false;
        QTest::newRow("all bits set") << "255.255.255.255" << false;
        QTest::newRow("empty") << "" << false;
    }
    void thisComputer() {
        QFETCH(QString, Host);
        QFETCH(bool, Expected);
        QCOMPARE(IsThisComputer(Host, "mybox", {"127.0.0.1", "10.1.2.3"}), Expected);
    }

    void targetText_data() {
        QTest::addColumn<QString>("Text");
        QTest::addColumn<int>("Check");
        QTest::newRow("empty") << "" << int(TTargetCheck::Empty);
        QTest::newRow("blanks") << "   " << int(TTargetCheck::Empty);
        QTest::newRow("My Computer") << "My Computer" << int(TTargetCheck::ThisComputer);
        QTest::newRow("mycomputer") << "mycomputer" << int(TTargetCheck::ThisComputer);
        QTest::newRow("spaced") << " My  Computer " << int(TTargetCheck::ThisComputer);
        QTest::newRow("host") << "kitchen" << int(TTargetCheck::Host);
        QTest::newRow("address") << "192.168.1.20" << int(TTargetCheck::Host);
        QTest::newRow("refused character") << "a;b" << int(TTargetCheck::Invalid);
        QTest::newRow("inner space") << "my box" << int(TTargetCheck::Invalid);
        QTest::newRow("261 characters") << QString(261, 'a') << int(TTargetCheck::Invalid);
    }
    void targetText() {
        QFETCH(QString, Text);
        QFETCH(int, Check);
        QCOMPARE(int(CheckTarget(Text)), Check);
    }

    void urlsForTheTarget_data() {
        QTest::addColumn<QByteArray>("Source");
        QTest::addColumn<QByteArray>("URL");
        QTest::newRow("name as it is") << QByteArray("/m/My Song é #1+&;.mp3")
                                       << QByteArray("http://10.0.0.4:37401/My Song é #1+&;.mp3");
        QTest::newRow("percent escaped for the second decoding")
            << QByteArray("/m/100% %41.mp3")
            << QByteArray("http://10.0.0.4:37401/100%25 %2541.mp3");
        QTest::newRow("question mark escaped, no query")
            << QByteArray("/m/Why?.mp3") << QByteArray("http://10.0.0.4:37401/Why%3F.mp3");
        QTest::newRow("http unchanged")
            << QByteArray("HTTP://h/x%20y?.mp3?a=b") << QByteArray("HTTP://h/x%20y?.mp3?a=b");
        const QByteArray To = "http://10.0.0.4:37401/";
        QTest::newRow("same name, earlier folder")
            << QByteArray("/m/A/01 Intro.mp3") << To + "A/01 Intro.mp3";
        QTest::newRow("path that another ends with")
            << QByteArray("/music/x.mp3") << To + "music/x.mp3";
        QTest::newRow("path ending with another")
            << QByteArray("/u/music/x.mp3") << To + "u/music/x.mp3";
        QTest::newRow("folder with percent and question mark")
            << QByteArray("/m/1% Hits?/y.mp3") << To + "1%25 Hits%3F/y.mp3";
    }
    void urlsForTheTarget() {
        QFETCH(QByteArray, Source);
        QFETCH(QByteArray, URL);
        const QByteArrayList Library =
            QByteArrayList{"/m/A/01 Intro.mp3", "/m/B/01 Intro.mp3", "/music/x.mp3",
                           "/u/music/x.mp3",    "/m/1% Hits?/y.mp3", "/y.mp3"}
            << Source;
        QCOMPARE(PlayURLs({Source}, Library, "10.0.0.4", 37401), QByteArrayList{URL});
        if (StartsWithAscii(Source, "http://"))
            return;
        // A speaker escapes the URL, the HTTP layer cuts the query and decodes once, the
        // media server decodes again: what it finds is that very file.
        QByteArray Request = EncodeTrackURL(URL).mid(QByteArray("http://10.0.0.4:37401").size());
        Request.truncate(Request.contains('?') ? Request.indexOf('?') : Request.size());
        QCOMPARE(TMediaServer::FindLibraryFile(
                     TMediaServer::DecodeRequestPath(PercentDecode(Request)), Library),
                 Source);
    }

    // One "ADD" carries what an empty play list takes, read whole by the speaker.
    void addWithinBounds_data() {
        QTest::addColumn<QByteArrayList>("URLs");
        QTest::addColumn<qsizetype>("Sent");
        // 1024 lines that take 16384 bytes each with their CR LF.
        QByteArrayList Full(1024, QByteArray(16382, 'x')), Over = Full;
        Over.last() += 'x';
        const QByteArray Widest(MaxCommandLineLength, 'x');
        QTest::newRow("a row over, the bound's rows sent")
            << QByteArrayList(MaxPlayListRows + 1, "a") << qsizetype(MaxPlayListRows);
        QTest::newRow("bytes at the bound") << Full << qsizetype(1024);
        QTest::newRow("a byte over") << Over << qsizetype(1023);
        QTest::newRow("line at the bound") << QByteArrayList{Widest, "b"} << qsizetype(2);
        QTest::newRow("a line over, the next still sent")
            << QByteArrayList{Widest + 'x', "b"} << qsizetype(1);
    }
    void addWithinBounds() {
        QFETCH(QByteArrayList, URLs);
        QFETCH(qsizetype, Sent);
        const TAddPlan Plan = PlanAdd(URLs);
        QCOMPARE(Plan.Left, URLs.size() - Sent);
        TCommandReader Reader(SpeakerCommands());
        Reader.Feed(BuildControllerMessage("ADD", JoinLines(Plan.URLs)), 0);
        QCOMPARE(Reader.Next().value_or(TCommandMessage{}).Lines.size(), Sent);
    }

    // Every way of naming this computer plays here, on 127.0.0.1, with http rows unchanged.
    void playOnThisComputer_data() {
        QTest::addColumn<QString>("Typed");
        for (const char *Typed : {"My Computer", "mycomputer", "MY COMPUTER", " My  Computer ",
                                  "localhost", "127.0.0.1"})
            QTest::newRow(Typed) << QString::fromUtf8(Typed);
        QTest::newRow("host name") << QString::fromUtf8(GetLocalHostName());
    }
    void playOnThisComputer() {
        QFETCH(QString, Typed);
        auto Form = MakeWindow({"/m/a b.mp3", "/m/c.mp3", "http://h/d.mp3"});
        QVERIFY(Form);
        Form->FLibraryView->selectionModel()->select(Form->Library()->index(0),
                                                     QItemSelectionModel::Select);
        Form->FLibraryView->selectionModel()->select(Form->Library()->index(2),
                                                     QItemSelectionModel::Select);
        Form->FPlayOnBox->setCurrentText(Typed);
        Form->PlayOnTypedComputer();
        QVERIFY(FMessages.isEmpty());
        const QByteArray Port = QByteArray::number(Form->MediaPort());
        QTRY_COMPARE(Form->Speaker()->Engine()->Locations(),
                     QByteArrayList({"http://127.0.0.1:" + Port + "/a b.mp3", "http://h/d.mp3"}));
        QTRY_COMPARE(Form->FPages->count(), 2); // "My Player" comes forward
        QCOMPARE(Form->FPages->tabText(Form->FPages->currentIndex()), QString("My Player"));
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
        for (void (TMainWindow::*Go)() :
             {&TMainWindow::PlayOnTypedComputer, &TMainWindow::ConnectToTypedComputer}) {
            Form->FPlayOnBox->setCurrentText(Typed);
            (Form.get()->*Go)();
        }
        QCOMPARE(FMessages, QStringList({Message, Message}));
        QCOMPARE(Form->FPages->count(), 1);
    }

    // Play to another computer: a page captioned after the host, "ADD" with this computer's
    // address, the whole library when nothing is selected; again reuses the page.
    void playOnAnotherComputer() {
        TSpeaker Speaker;
        auto Form = MakeWindow({"/m/a b.mp3", "http://h/d.mp3"});
        CommandPort = Speaker.Server.serverPort();
        Form->FPlayOnBox->setCurrentText("127.0.0.2");
        Form->PlayOnTypedComputer();
        QCOMPARE(Form->FPages->count(), 2);
        QCOMPARE(Form->FPages->tabText(1), QString("127.0.0.2 Player"));
        QCOMPARE(Form->FPages->currentIndex(), 1);
        const QByteArray Port = QByteArray::number(Form->MediaPort());
        const QByteArray Add =
            "ADD\r\n2\r\nhttp://" + LocalIP + ":" + Port + "/a b.mp3\r\n" + "http://h/d.mp3\r\n";
        QTRY_COMPARE(Speaker.Received, Add);
        Form->PlayOnTypedComputer();
        QTRY_COMPARE(Speaker.Received, Add + Add);
        QCOMPARE(Form->FPages->count(), 2);
        QCOMPARE(Speaker.Peers.size(), 1);
        // More than a play list takes: what it takes goes, a note tells the rest.
        const QByteArrayList Many(MaxPlayListRows + 3, "http://h/a.mp3");
        Form->PlayListOn("127.0.0.2", Many);
        QTRY_COMPARE(Speaker.Received.size(),
                     2 * Add.size() + BuildControllerMessage("ADD", JoinLines(Many.mid(3))).size());
        QVERIFY(Form->statusBar()->currentMessage().startsWith("3 of 100003 tracks"));
    }

    // Connect and Play with an empty library send "GET"; a name and an address are two pages.
    void getAndPagesByNameOrAddress() {
        TSpeaker Speaker;
        auto Form = MakeWindow({});
        CommandPort = Speaker.Server.serverPort();
        Form->FPlayOnBox->setCurrentText("  127.0.0.2 ");
        Form->ConnectToTypedComputer();
        QCOMPARE(Form->FPlayOnBox->currentText(), QString("127.0.0.2"));
        Form->PlayOnTypedComputer();
        QTRY_COMPARE(Speaker.Received, QByteArray("GET\r\n\r\nGET\r\n\r\n"));
        Form->PlayListOn("127.2", {}); // the same address written otherwise
        Form->PlayListOn("speaker-a", {});
        Form->PlayListOn("SPEAKER-A", {});
        QCOMPARE(Form->FPages->count(), 3);
        QVERIFY(Form->FindRemotePlayer("Speaker-A") != Form->FindRemotePlayer("127.0.0.2"));
    }

    // A refused connect shows its box once and the page goes; a speaker that drops the
    // connection takes its page with it silently; the window closes with pages open.
    void pagesEndWithTheirConnections() {
        TSpeaker Speaker;
        QTcpServer Refusing; // bound, then closed: nobody listens on that port
        QVERIFY(Refusing.listen(QHostAddress("127.0.0.3"), 0));
        const quint16 Closed = Refusing.serverPort();
        Refusing.close();
        auto Form = MakeWindow({});
        CommandPort = Closed;
        Form->PlayListOn("127.0.0.3", {});
        QTRY_COMPARE(FMessages, QStringList{"Connect to 127.0.0.3 fail."});
        QTRY_COMPARE(Form->FPages->count(), 1);
        QTest::qWait(100);
        QCOMPARE(FMessages.size(), 1);

        CommandPort = Speaker.Server.serverPort();
        Form->PlayListOn("127.0.0.2", {});
        QTRY_COMPARE(Speaker.Peers.size(), 1);
        Speaker.Peers.first()->close();
        QTRY_COMPARE(Form->FPages->count(), 1);
        QCOMPARE(FMessages.size(), 1);

        for (const char *Host : {"127.0.0.2", "127.0.0.4", "127.0.0.5"})
            Form->PlayListOn(Host, {});
        QCOMPARE(Form->FPages->count(), 4);
        QTRY_COMPARE(Speaker.Peers.size(), 4); // all three connected
        Form->show();
        Form->close();
        QTRY_VERIFY_WITH_TIMEOUT(!Form->isVisible(), 5000);
        QVERIFY(RemotePlayers().IsEmpty());
        QCOMPARE(FMessages.size(), 1); // pages ended by the close say nothing
    }
};

QTEST_MAIN(TestPlayTo)
#include "tst_playto.moc"
