#include "MpdDoor.h"
#include "MpdQueue.h"
#include "MpdServer.h"
#include "MpdSession.h"
#include "SpeakerRig.h"

#include <QTcpSocket>
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
        Rig.Door.Server().SetIdleTimeout(200);
        QVERIFY(Rig.Door.Listen(0));
        QTcpSocket Silent, Idle, Long;
        for (QTcpSocket *Socket : {&Silent, &Idle, &Long}) {
            Socket->connectToHost(QHostAddress::LocalHost, Rig.Door.Port());
            QTRY_COMPARE(Socket->peek(64), QByteArray("OK MPD 0.23.5\n"));
            Socket->readAll();
        }
        Idle.write("idle\n");
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
