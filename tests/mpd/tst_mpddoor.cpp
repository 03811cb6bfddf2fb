#include "MpdDoor.h"
#include "MpdQueue.h"
#include "MpdServer.h"
#include "MpdSession.h"
#include "SpeakerRig.h"
#include "TestFiles.h"

#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

// The door over a speaker on a fake component with rows A B C D E (ids 1..5), B current.
struct TDoorRig : TSpeakerRig {
    TMpdDoor Door{Speaker, Sharing, TMpdSettings{}};
    TMpdSession Session{Door.Commands(), TMpdClient{}};

    TDoorRig() {
        QObject::connect(&Door, &TMpdDoor::Notified, [this](TMpdIdleMask M) { Session.Notify(M); });
    }

    QByteArray Send(const QByteArrayList &Lines) {
        for (const QByteArray &Line : Lines)
            Session.Feed(Line + '\n');
        while (Session.HasWork())
            Session.Run(1 << 20);
        return Session.TakeOutput();
    }
    QByteArray Order() const {
        QByteArray Out;
        for (const QByteArray &Location : Speaker.Engine()->Locations())
            Out += Location.at(Location.size() - 5);
        return Out;
    }
};

class TestMpdDoor : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void commands_data() {
        QTest::addColumn<QByteArrayList>("lines"); // "$V": the queue's version before
        QTest::addColumn<QByteArray>("order");
        QTest::addColumn<QByteArray>("answer"); // a part of the answer

        const auto Row = [](const char *Name, QByteArrayList Lines, QByteArray Order,
                            QByteArray Answer) { QTest::newRow(Name) << Lines << Order << Answer; };
        Row("status", {"status"}, "ABCDE",
            "playlistlength: 5\nmixrampdb: 0\nstate: play\nsong: 1\nsongid: 2\n");
        Row("stats count the queue", {"stats"}, "ABCDE", "artists: 0\nalbums: 0\nsongs: 5\n");
        Row("current song", {"currentsong"}, "ABCDE", "Title: B.mp3\nPos: 1\nId: 2\nOK\n");
        Row("addid at a position", {"addid http://h/F.mp3 1"}, "AFBCDE", "Id: 6\nOK\n");
        Row("add after the current song", {"add http://h/F.mp3 +0"}, "ABFCDE", "OK\n");
        Row("add what is not there", {"add Some/Folder"}, "ABCDE",
            "ACK [50@0] {add} No such song\n");
        Row("delete a range", {"delete 1:3"}, "ADE", "OK\n");
        Row("delete past the end", {"delete 5"}, "ABCDE", "ACK [2@0] {delete} Bad song index\n");
        Row("deleteid", {"deleteid 3"}, "ABDE", "OK\n");
        Row("move a range", {"move 1:3 0"}, "BCADE", "OK\n");
        Row("moveid after the current", {"moveid 5 +0"}, "ABECD", "OK\n");
        Row("moveid from before the current", {"moveid 1 +0"}, "BACDE", "OK\n");
        Row("swapid", {"swapid 1 5"}, "EBCDA", "OK\n");
        Row("clear", {"clear", "status"}, "", "playlistlength: 0\n");
        Row("ids stay with rows", {"move 0 4", "playlistid 1"}, "BCDEA", "Pos: 4\nId: 1\nOK\n");
        Row("an id that is gone", {"deleteid 2", "playid 2"}, "ACDE",
            "ACK [50@0] {playid} No such song\n");
        Row("plchanges lists moved rows only", {"move 0 1", "plchangesposid $V"}, "BACDE",
            "OK\ncpos: 0\nId: 2\ncpos: 1\nId: 1\nOK\n");
        Row("playlistsearch folds case", {"playlistsearch title b.MP3"}, "ABCDE",
            "\nPos: 1\nId: 2\nOK\n");
        Row("a fixed option", {"random 0", "repeat 0"}, "ABCDE",
            "OK\nACK [2@0] {repeat} This speaker's play list always loops\n");
        Row("volume", {"setvol 30", "volume -5", "getvol"}, "ABCDE", "OK\nOK\nvolume: 25\nOK\n");
        Row("pause", {"pause", "status"}, "ABCDE", "state: pause\n");
        Row("the output switch mutes", {"disableoutput 0", "outputs"}, "ABCDE",
            "outputenabled: 0\n");
        Row("stop holds", {"stop", "status"}, "ABCDE", "state: stop\n");
        Row("stopped, no skip", {"stop", "next"}, "ABCDE", "ACK [55@0] {next} Not playing\n");
    }
    void commands() {
        QFETCH(QByteArrayList, lines);
        QFETCH(QByteArray, order);
        QFETCH(QByteArray, answer);
        TDoorRig Rig;
        const QByteArray Version = QByteArray::number(Rig.Door.Queue().Version());
        for (QByteArray &Line : lines)
            Line.replace("$V", Version);
        const QByteArray Got = Rig.Send(lines);
        QVERIFY2(Got.contains(answer), Got.constData());
        QCOMPARE(Rig.Order(), order);
        Rig.Speaker.Engine()->PlayTick();
        if (lines.contains("stop"))
            QCOMPARE(Rig.Media->State, 1); // no next track started
    }

    void loadedTrackTellsItsTags() {
        TDoorRig Rig;
        Rig.Media->Name = "Alpha";
        Rig.Media->Author = "Band";
        QVERIFY(Rig.Send({"currentsong"}).contains("Artist: Band\nTitle: Alpha\nPos: 1\n"));
        QVERIFY(Rig.Send({"playlistinfo 2"}).contains("Title: C.mp3\nPos: 2\n"));
    }

    void settings_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QByteArray>("read"); // enabled, port, password
        QTest::newRow("nothing said") << QByteArray("[Server]\nPort=1\n") << QByteArray("1 6600 ");
        QTest::newRow("all said") << QByteArray("[mpd]\nport=7000\nPassword= se cret \n")
                                  << QByteArray("1 7000 se cret");
        QTest::newRow("off") << QByteArray("[Mpd]\nEnabled=0\n") << QByteArray("0 6600 ");
        QTest::newRow("port 0 is off") << QByteArray("[Mpd]\nPort=0\n") << QByteArray("0 6600 ");
        QTest::newRow("a port past 65535")
            << QByteArray("[Mpd]\nPort=70000\n") << QByteArray("0 6600 ");
    }
    void settings() {
        QFETCH(QByteArray, ini);
        QFETCH(QByteArray, read);
        QTemporaryDir Dir;
        QVERIFY(WriteAll(Dir.filePath("vxPlayer.ini"), ini));
        const TMpdSettings S = LoadMpdSettings(Dir.filePath("vxPlayer.ini"));
        QCOMPARE(QByteArray::number(S.Enabled) + ' ' + QByteArray::number(S.Port) + ' ' +
                     S.Password,
                 read);
    }

    void idleHearsOtherControllers_data() {
        QTest::addColumn<QByteArray>("word");
        QTest::addColumn<QByteArray>("changed");
        QTest::newRow("state") << QByteArray("STATE") << QByteArray("changed: player\n");
        QTest::newRow("volume") << QByteArray("VOLUMN") << QByteArray("changed: mixer\n");
        QTest::newRow("list") << QByteArray("ADD") << QByteArray("changed: playlist\n");
    }
    void idleHearsOtherControllers() {
        QFETCH(QByteArray, word);
        QFETCH(QByteArray, changed);
        TDoorRig Rig;
        QCOMPARE(Rig.Send({"idle"}), QByteArray());
        TCommandMessage Message{word, {"http://h/Z.mp3"}, 2};
        Rig.Speaker.Engine()->ExecuteCommand(7, "10.0.0.9", Message);
        Rig.Speaker.Engine()->PlayTick();
        // What came first may have woken it: the change is then told at the next idle.
        const QByteArray Got = Rig.Session.TakeOutput() + Rig.Send({"idle"});
        QVERIFY2(Got.contains(changed), Got.constData());
    }

    // The connections: the banner, a line past the limit, silence, the allow switch.
    void connections() {
        TDoorRig Rig;
        Rig.Door.Server().SetIdleTimeout(500);
        QVERIFY(Rig.Door.Listen(0));
        QTcpSocket Idle, Silent, Long;
        for (QTcpSocket *Socket : {&Idle, &Silent, &Long}) {
            Socket->connectToHost(QHostAddress::LocalHost, Rig.Door.Port());
            if (Socket == &Idle) // goes out as soon as it is connected
                Idle.write("idle\n");
            QTRY_COMPARE(Socket->peek(64), QByteArray("OK MPD 0.23.5\n"));
            Socket->readAll();
        }
        Long.write(QByteArray(9000, 'x'));
        QTRY_COMPARE(Long.state(), QAbstractSocket::UnconnectedState);
        QTRY_COMPARE(Silent.state(), QAbstractSocket::UnconnectedState);
        Rig.Speaker.Engine()->AddTracksNow({"http://h/Z.mp3"});
        QTRY_COMPARE(Idle.peek(64), QByteArray("changed: playlist\nOK\n"));
        Rig.Sharing.SetAllowOthers(false);
        QVERIFY(Rig.Door.Server().Address().isLoopback());
        QCOMPARE(Idle.state(), QAbstractSocket::ConnectedState);
    }

    void fullServerReplacesTheOldestFromTheSameAddress() {
        TDoorRig Rig;
        QVERIFY(Rig.Door.Listen(0));
        std::vector<std::unique_ptr<QTcpSocket>> Sockets;
        for (int I = 0; I <= TMpdServer::MaxConnections; ++I) {
            Sockets.push_back(std::make_unique<QTcpSocket>());
            Sockets.back()->connectToHost(QHostAddress::LocalHost, Rig.Door.Port());
            if (I + 1 == TMpdServer::MaxConnections)
                QTRY_COMPARE(Rig.Door.Server().ConnectionCount(), TMpdServer::MaxConnections);
        }
        QTRY_COMPARE(Sockets.front()->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(Rig.Door.Server().ConnectionCount(), TMpdServer::MaxConnections);
    }
};

QTEST_GUILESS_MAIN(TestMpdDoor)
#include "tst_mpddoor.moc"
