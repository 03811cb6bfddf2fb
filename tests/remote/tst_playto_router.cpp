#include "AsciiText.h"
#include "CommandReader.h"
#include "MediaServer.h"
#include "MusicLibrary.h"
#include "PlayTo.h"
#include "PlaybackEngine.h"
#include "RecordingSpeaker.h"
#include "RemotePlayers.h"
#include "RemoteSession.h"
#include "Settings.h"
#include "SharingState.h"
#include "TestPorts.h"
#include "TwoHosts.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

// Where played tracks go, and the rules that turn library rows into URLs for a target.
class TestPlayToRouter : public QObject {
    Q_OBJECT

    // Pages as captions; the sessions they would show.
    struct TPages : TRemotePageFactory {
        QStringList Opened;
        QList<TRemotePlayer *> Shown;
        QObject Owner;
        TRemoteSession *OpenRemotePage(const QString &Caption) override {
            Opened << Caption;
            return new TRemoteSession(&Owner);
        }
        void ShowRemotePage(TRemotePlayer *Player) override { Shown << Player; }
    };

    TSharingState FSharing;

private Q_SLOTS:
    void initTestCase() { LoadSettings(); }
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
        QTest::newRow("127.0.0.2") << "127.0.0.2" << true;
        QTest::newRow("top of 127/8") << "127.255.255.255" << true;
        QTest::newRow("below 127/8") << "126.255.255.255" << false;
        QTest::newRow("above 127/8") << "128.0.0.0" << false;
        QTest::newRow("unspecified") << "0.0.0.0" << true;
        QTest::newRow("host name on the link") << "MyBox.local" << true;
        QTest::newRow("name with the root's dot") << "localhost." << true;
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
        // Control characters and bidirectional marks, then neighbours that are not.
        for (const char16_t Code :
             std::u16string_view(u"\t\x7F\x80\x9F\x61C\x200E\x200F\x202A\x202E\x2066\x2069"))
            QTest::addRow("U+%04X inside", unsigned(Code))
                << "kit" + QString(QChar(Code)) + "chen" << int(TTargetCheck::Invalid);
        for (const char16_t Code : std::u16string_view(u"\xA0\x200D\x202F\x2065\x206A"))
            QTest::addRow("U+%04X inside", unsigned(Code))
                << "kit" + QString(QChar(Code)) + "chen" << int(TTargetCheck::Host);
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

    // Every name of this computer plays here, on 127.0.0.1, with http rows unchanged; no rows
    // given plays the whole library.
    void playOnThisComputer_data() {
        QTest::addColumn<QString>("Host");
        QTest::addColumn<QList<int>>("Rows");
        QTest::addColumn<QByteArrayList>("URLs");
        const QByteArrayList Two{"http://127.0.0.1:37401/a b.mp3", "http://h/d.mp3"};
        for (const char *Host : {"localhost", "127.0.0.1", "127.1"})
            QTest::newRow(Host) << QString::fromUtf8(Host) << QList<int>{0, 2} << Two;
        QTest::newRow("host name")
            << QString::fromUtf8(GetLocalHostName()) << QList<int>{0, 2} << Two;
        QTest::newRow("no rows: all")
            << "localhost" << QList<int>{}
            << QByteArrayList{Two[0], "http://127.0.0.1:37401/c.mp3", Two[1]};
    }
    void playOnThisComputer() {
        QFETCH(QString, Host);
        QFETCH(QList<int>, Rows);
        QFETCH(QByteArrayList, URLs);
        TPages Pages;
        TPlayTo Router(Pages, FSharing);
        QSignalSpy Local(&Router, &TPlayTo::LocalTracks);
        TMusicLibrary Library;
        Library.AddBatch({"/m/a b.mp3", "/m/c.mp3", "http://h/d.mp3"});
        Router.PlayLibraryOn(Host, Library, Rows, 37401);
        QCOMPARE(Local.count(), 1);
        QCOMPARE(Local.first().first().value<QByteArrayList>(), URLs);
        QVERIFY(Pages.Opened.isEmpty());
    }

    // Another computer: a page captioned after the host, "ADD" with this computer's address;
    // again reuses the page; more than a play list takes sends what it takes and a note.
    void playOnAnotherComputer() {
        const QString Far = OtherComputer(2);
        QVERIFY(!Far.isEmpty()); // only inside the suite's network namespace
        TRecordingSpeaker Speaker;
        CommandPort = Speaker.Server.serverPort();
        TPages Pages;
        TSharingState Sharing;
        Sharing.SetLocalIP("10.0.0.7");
        TPlayTo Router(Pages, Sharing);
        QSignalSpy Notes(&Router, &TPlayTo::NotAdded);
        TMusicLibrary Library;
        Library.AddBatch({"/m/a b.mp3", "http://h/d.mp3"});
        Router.PlayLibraryOn(Far, Library, {}, 37401);
        QCOMPARE(Pages.Opened, QStringList{Far + " Player"});
        TRemotePlayer *Player = Router.FindRemotePlayer(Far);
        QVERIFY(Player);
        QCOMPARE(Pages.Shown, QList<TRemotePlayer *>{Player});
        const QByteArray Add = "ADD\r\n2\r\nhttp://10.0.0.7:37401/a b.mp3\r\nhttp://h/d.mp3\r\n";
        QTRY_COMPARE(Speaker.Received, Add);
        Router.PlayLibraryOn(Far, Library, {}, 37401);
        QTRY_COMPARE(Speaker.Received, Add + Add);
        QCOMPARE(Pages.Opened.size(), 1);
        QCOMPARE(Speaker.Peers.size(), 1);
        QVERIFY(Notes.isEmpty());
        const QByteArrayList Many(MaxPlayListRows + 3, "http://h/a.mp3");
        Router.PlayListOn(Far, Many);
        QTRY_COMPARE(Speaker.Received.size(),
                     2 * Add.size() + BuildControllerMessage("ADD", JoinLines(Many.mid(3))).size());
        QCOMPARE(Notes.count(), 1);
        QVERIFY(Notes.first().first().toString().startsWith("3 of 100003 tracks"));
    }

    // An empty list sends "GET"; a name and an address are two pages, an address written
    // otherwise and a name in other case are not.
    void getAndPagesByNameOrAddress() {
        const QString Far = OtherComputer(2);
        QVERIFY(!Far.isEmpty()); // only inside the suite's network namespace
        TRecordingSpeaker Speaker;
        CommandPort = Speaker.Server.serverPort();
        TPages Pages;
        TPlayTo Router(Pages, FSharing);
        for (const QString &Host : {Far, QStringLiteral("10.254.2"), QStringLiteral("speaker-a"),
                                    QStringLiteral("SPEAKER-A")})
            Router.PlayListOn(Host, {});
        // Before any event: the name's failed lookup would end its player.
        QCOMPARE(Pages.Opened, QStringList({Far + " Player", "speaker-a Player"}));
        QVERIFY(Router.FindRemotePlayer("Speaker-A"));
        QVERIFY(Router.FindRemotePlayer("Speaker-A") != Router.FindRemotePlayer(Far));
        QTRY_COMPARE(Speaker.Received, QByteArray("GET\r\n\r\nGET\r\n\r\n"));
    }

    // A refused connect is said once, with the host; a dropped connection takes the player
    // out of RemotePlayers silently, and the host gets a new page next time.
    void playersEndWithTheirConnections() {
        const QString Far = OtherComputer(2), Refusing = OtherComputer(3);
        QVERIFY(!Far.isEmpty()); // only inside the suite's network namespace
        TRecordingSpeaker Speaker;
        const quint16 Closed = RefusingPort(QHostAddress(Refusing));
        QVERIFY(Closed != 0);
        TPages Pages;
        TPlayTo Router(Pages, FSharing);
        QSignalSpy Failed(&Router, &TPlayTo::ConnectFailed);
        CommandPort = Closed;
        Router.PlayListOn(Refusing, {});
        QTRY_VERIFY(RemotePlayers().IsEmpty());
        CommandPort = Speaker.Server.serverPort();
        Router.PlayListOn(Far, {});
        QTRY_COMPARE(Speaker.Peers.size(), 1);
        Speaker.Peers.first()->close();
        QTRY_VERIFY(RemotePlayers().IsEmpty());
        QCOMPARE(Failed.count(), 1);
        QCOMPARE(Failed.first().first().toString(), Refusing);
        Router.PlayListOn(Far, {});
        QCOMPARE(Pages.Opened.size(), 3);
    }
};

QTEST_GUILESS_MAIN(TestPlayToRouter)
#include "tst_playto_router.moc"
