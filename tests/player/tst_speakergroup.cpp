// Speakers in one process forming groups over loopback, each on ephemeral ports.
#include "FakeMedia.h"
#include "GroupWire.h"
#include "PlaybackEngine.h"
#include "SharingState.h"
#include "Speaker.h"
#include "SpeakerGroup.h"
#include "TestController.h"

#include <QTcpServer>
#include <QtTest>

namespace {

QByteArray Url(char Row) {
    return "http://10.0.0.5:37401/" + QByteArray(1, Row) + ".mp3";
}

struct TRoom {
    TFakeMedia *Media = new TFakeMedia;
    TSharingState Sharing;
    std::unique_ptr<TSpeaker> Speaker =
        std::make_unique<TSpeaker>(0, Sharing, std::unique_ptr<TMediaComponent>(Media));

    TRoom() { Speaker->ListenGroup(0); }
    TGroup &Group() const { return Speaker->Group()->Group(); }
    // This room's group port as a controller types it.
    QByteArray Host() const { return "127.0.0.1:" + QByteArray::number(Group().Port()); }
    quint16 CommandPort() const { return Speaker->CommandServer()->Port(); }
};

// A controller that watches the group.
struct TWatcher : TTestController {
    explicit TWatcher(quint16 Port) : TTestController(Port) {
        QVERIFY(Connected());
        Socket.write("GROUPWATCH\r\n");
    }
    // A GROUP message that lists Rooms rooms, waited for.
    bool WaitForRooms(int Rooms) {
        return QTest::qWaitFor([&] {
            return std::any_of(Got.cbegin(), Got.cend(), [&](const QByteArray &M) {
                return M.startsWith("GROUP / ") && M.count('\t') == 4 * Rooms;
            });
        });
    }
};

// Leader first: each room joins the leader's group.
void Join(TRoom &Leader, TRoom &Follower) {
    Leader.Group().Add(Follower.Host());
    QTRY_COMPARE(Leader.Group().Role(), TGroupRole::Leader);
    QTRY_COMPARE(Follower.Group().Role(), TGroupRole::Follower);
}

} // namespace

class TstSpeakerGroup : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void followerMirrorsTheListAndHandsEditsToTheLeader() {
        TRoom Leader, Follower;
        Leader.Speaker->AddLocalTracks({Url('A'), Url('B')});
        TWatcher Watcher(Leader.CommandPort());
        QVERIFY(Watcher.WaitForRooms(1));
        Watcher.Socket.write("GROUPADD\r\n" + Follower.Host() + "\r\n");
        QTRY_COMPARE(Follower.Group().Role(), TGroupRole::Follower);
        QVERIFY(Watcher.WaitForRooms(2));
        QTRY_COMPARE(Follower.Speaker->Engine()->Locations(), QByteArrayList({Url('A'), Url('B')}));

        // A controller that knows nothing of groups, on the follower: its ADD acts on the group.
        TTestController Old(Follower.CommandPort());
        QVERIFY(Old.Connected());
        Old.Send("ADD", {Url('C')});
        const QByteArrayList Three{Url('A'), Url('B'), Url('C')};
        QTRY_COMPARE(Leader.Speaker->Engine()->Locations(), Three);
        QTRY_COMPARE(Follower.Speaker->Engine()->Locations(), Three);
        QVERIFY(Old.WaitFor("LIST / " + Three.join(" / ")) >= 0);
        // Its own UPDATELIST comes back to it no more than from a speaker alone; others hear it.
        TTestController Other(Follower.CommandPort(), "127.0.0.2");
        QVERIFY(Other.Connected());
        const QByteArrayList Edited{Url('C'), Url('A'), Url('B')};
        const qsizetype Before = Old.Got.size();
        Old.Send("UPDATELIST", Edited);
        QVERIFY(Other.WaitFor("LIST / " + Edited.join(" / ")) >= 0);
        Old.Send("GROUPWATCH", {});
        QVERIFY(Old.WaitFor("GROUP / ", Before) >= 0);
        QCOMPARE(Old.Find("LIST / ", Before), -1);

        // Each room keeps its own volume, set from a controller of any room.
        TWatcher OnFollower(Follower.CommandPort());
        QVERIFY(OnFollower.WaitForRooms(2));
        OnFollower.Socket.write("GROUPVOLUME\r\n" + Follower.Host() + "\r\n30\r\n");
        QTRY_COMPARE(Follower.Media->Vol, 30);
        QVERIFY(!Leader.Media->Calls.contains("Volume 30"));
        QTRY_VERIFY(Watcher.Got.join('\n').contains("\t30\t0\t"));

        // Leaving: both rooms play alone again.
        OnFollower.Socket.write("GROUPLEAVE\r\n" + Follower.Host() + "\r\n");
        QTRY_COMPARE(Follower.Group().Role(), TGroupRole::Alone);
        QTRY_COMPARE(Leader.Group().Role(), TGroupRole::Alone);
    }

    // Where a command goes, and the locations a follower hands its leader.
    void routes_data() {
        QTest::addColumn<TGroupRole>("Role");
        QTest::addColumn<QByteArray>("Word");
        QTest::addColumn<QByteArray>("Line");
        QTest::addColumn<QByteArray>("Address"); // this room's for other computers
        QTest::addColumn<TCommandRoute>("Route");
        QTest::addColumn<QByteArray>("Sent");
        const auto F = TGroupRole::Follower, L = TGroupRole::Leader, A = TGroupRole::Alone;
        const auto E = TCommandRoute::Engine, Up = TCommandRoute::Leader;
        const QByteArray Mine = "http://127.0.0.1:37401/d.mp3", Far = "http://10.0.0.9/x.mp3";
        const auto Row = [](const char *Name, TGroupRole Role, QByteArray Word, QByteArray Line,
                            QByteArray Address, TCommandRoute Route, QByteArray Sent) {
            QTest::newRow(Name) << Role << Word << Line << Address << Route << Sent;
        };
        Row("alone plays here", A, "ADD", Mine, "10.1.1.2", E, Mine);
        Row("a leader plays here", L, "URL", Mine, "10.1.1.2", E, Mine);
        Row("follower's add goes up, reachable", F, "ADD", Mine, "10.1.1.2", Up,
            "http://10.1.1.2:37401/d.mp3");
        Row("follower's list edit", F, "UPDATELIST", "http://LocalHost/d.mp3", "10.1.1.2", Up,
            "http://10.1.1.2/d.mp3");
        Row("follower's start", F, "URL", "http://127.8.0.1:1/d.mp3", "10.1.1.2", Up,
            "http://10.1.1.2:1/d.mp3");
        Row("another computer's track as it is", F, "ADD", Far, "10.1.1.2", Up, Far);
        Row("a look-alike host as it is", F, "ADD", "http://127.0.0.1.example/d", "10.1.1.2", Up,
            "http://127.0.0.1.example/d");
        Row("offline: nothing better", F, "ADD", Mine, "127.0.0.1", Up, Mine);
        Row("transport goes up", F, "STATE", "3", "10.1.1.2", Up, "3");
        Row("volume stays", F, "VOLUMN", "30", "10.1.1.2", E, "30");
        Row("group words", F, "GROUPADD", "10.0.0.3", "10.1.1.2", TCommandRoute::Group, "10.0.0.3");
    }
    void routes() {
        QFETCH(TGroupRole, Role);
        QFETCH(QByteArray, Word);
        QFETCH(QByteArray, Line);
        QFETCH(QByteArray, Address);
        QFETCH(TCommandRoute, Route);
        QFETCH(QByteArray, Sent);
        const TCommandRouting To = RouteCommand(Role, Word, {Line}, Address);
        QCOMPARE(To.Route, Route);
        QCOMPARE(To.Lines, QByteArrayList{Sent});
    }

    // The follower's own user plays on the group; the room's own list comes back after.
    void followerPlaysOnTheGroup() {
        TRoom Leader, Follower;
        Follower.Speaker->AddLocalTracks({Url('X')});
        QTRY_COMPARE(Follower.Speaker->Engine()->Locations(), QByteArrayList{Url('X')});
        Follower.Sharing.SetLocalIP("10.1.1.2");
        Join(Leader, Follower);
        Follower.Speaker->PlayLocalTracks({"http://127.0.0.1:37401/d.mp3"}, TPlayMode::PlayNow);
        const QByteArrayList Reachable{"http://10.1.1.2:37401/d.mp3"};
        QTRY_COMPARE(Leader.Speaker->Engine()->Locations(), Reachable);
        QTRY_COMPARE(Follower.Speaker->Engine()->Locations(), Reachable);
        QTRY_COMPARE(Leader.Media->LoadedURL, Reachable[0]);
        Leader.Media->Enter(3);
        QTRY_COMPARE(Follower.Media->LoadedURL, Reachable[0]);
        QTRY_COMPARE(Follower.Speaker->Engine()->Model()->MarkedRow(), 0); // My Player marks it
        Leader.Group().Leave(Follower.Group().Members().value(1).split('\t').value(0));
        QTRY_COMPARE(Follower.Group().Role(), TGroupRole::Alone);
        QTRY_COMPARE(Follower.Speaker->Engine()->Locations(), QByteArrayList{Url('X')});
    }

    // A room that cannot join is named, with the reason.
    void refusedRooms_data() {
        QTest::addColumn<QByteArray>("Answer"); // what the port says; "closed": nothing listens
        QTest::addColumn<QByteArray>("Error");
        QTest::newRow("nothing listens")
            << QByteArray("closed") << QByteArray("it does not answer");
        QTest::newRow("nothing listens, asked on a follower")
            << QByteArray("closed") << QByteArray("it does not answer");
        QTest::newRow("a speaker whose owner lets nobody play")
            << QByteArray("switched off") << QByteArray("it does not answer");
        QTest::newRow("another protocol") << QByteArray("HTTP/1.1 400 Bad Request\r\n\r\n")
                                          << QByteArray("it answers something else");
        QTest::newRow("older version")
            << EncodeGroupRecord(HelloRecord({0, "Kitchen", TGroupIntent::Accept, 1, 0, 0, {}}))
            << QByteArray("Kitchen cannot play in sync: it runs an older version.");
    }
    void refusedRooms() {
        QFETCH(QByteArray, Answer);
        QFETCH(QByteArray, Error);
        // Rows "... on a follower": the controller asks a follower of the leader.
        const bool ViaFollower = QByteArray(QTest::currentDataTag()).endsWith("on a follower");
        TRoom Leader, Follower;
        if (ViaFollower)
            Join(Leader, Follower);
        QTcpServer Other;
        QVERIFY(Other.listen(QHostAddress::LocalHost, 0));
        TRoom Room;
        Room.Sharing.SetAllowOthers(false);
        const QByteArray Host = Answer == "switched off"
                                    ? Room.Host()
                                    : "127.0.0.1:" + QByteArray::number(Other.serverPort());
        if (Answer == "closed")
            Other.close();
        connect(&Other, &QTcpServer::newConnection, &Other,
                [&] { Other.nextPendingConnection()->write(Answer); });
        TWatcher Watcher((ViaFollower ? Follower : Leader).CommandPort());
        Watcher.Socket.write("GROUPADD\r\n" + Host + "\r\n");
        const qsizetype At = Watcher.WaitFor("GROUPERROR / ");
        QVERIFY(At >= 0);
        QVERIFY2(Watcher.Got[At].contains(" cannot play in sync: ") &&
                     Watcher.Got[At].contains(Error),
                 Watcher.Got[At]);
        QCOMPARE(Leader.Group().Role(), ViaFollower ? TGroupRole::Leader : TGroupRole::Alone);
    }

    void followerStopsWhenTheLeaderGoes() {
        auto Leader = std::make_unique<TRoom>();
        TRoom Follower;
        Leader->Speaker->AddLocalTracks({Url('A')});
        Join(*Leader, Follower);
        TWatcher Watcher(Follower.CommandPort());
        QVERIFY(Watcher.WaitForRooms(2));
        Leader.reset();
        QVERIFY(Watcher.WaitFor("GROUPERROR / The group's leader went away.") >= 0);
        QCOMPARE(Follower.Group().Role(), TGroupRole::Alone);
        QCOMPARE(Follower.Media->State, 1);
        QVERIFY(Watcher.WaitFor("GROUP / ") >= 0);
        QTRY_VERIFY(Watcher.Got.constLast().endsWith("\tThe group's leader went away."));
    }

    // A follower whose link breaks connects back by itself and is sent the list again.
    void followerRejoinsAfterItsLinkBreaks() {
        TRoom Leader, Follower;
        Join(Leader, Follower);
        for (QTcpSocket *Socket : Follower.Group().findChildren<QTcpSocket *>())
            Socket->abort();
        Leader.Speaker->AddLocalTracks({Url('A')});
        QTRY_COMPARE(Follower.Speaker->Engine()->Locations(), QByteArrayList{Url('A')});
        QCOMPARE(Follower.Group().Role(), TGroupRole::Follower);
        QTRY_VERIFY(!Leader.Group().Members().value(1).endsWith("\tAway"));
    }

    // Joining another group takes a room out of its first one.
    void roomInvitedElsewhereChangesGroups() {
        TRoom First, Second, Room;
        Join(First, Room);
        Join(Second, Room);
        QTRY_COMPARE(First.Group().Role(), TGroupRole::Alone);
    }
};

QTEST_GUILESS_MAIN(TstSpeakerGroup)
#include "tst_speakergroup.moc"
