// A group's faults against scripted peers on loopback, with short time-outs.
#include "Group.h"
#include "TwoHosts.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

TGroup::TConfig Quick() {
    TGroup::TConfig Config;
    Config.Link = {300, 50, 300};
    Config.KeepPlaceMs = 300;
    Config.RejoinForMs = 1500;
    Config.Backoff = {20, 50};
    return Config;
}

QByteArray Record(const TGroupRecord &R) {
    return EncodeGroupRecord(R);
}

// A room on another computer, as a controller types it.
QByteArray Far(quint16 Port) {
    return OtherComputer(1).toLatin1() + ':' + QByteArray::number(Port);
}

} // namespace

class TstGroup : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A follower whose leader vanished without a goodbye stops and says why.
    void followerLosesItsLeader_data() {
        QTest::addColumn<QString>("Leader"); // what the leader's group port does afterwards
        QTest::addColumn<bool>("Abort");     // the link breaks at once, or just goes silent
        QTest::newRow("crashed: nothing listens") << "closed" << true;
        QTest::newRow("network gone: link silent, port silent") << "silent" << false;
        QTest::newRow("restarted: another group") << "refuses" << true;
    }
    void followerLosesItsLeader() {
        QFETCH(QString, Leader);
        QFETCH(bool, Abort);
        TGroup Follower("Hall", {}, Quick());
        QVERIFY(Follower.Listen(0));
        QTcpServer LeaderPort;
        QVERIFY(LeaderPort.listen(QHostAddress::LocalHost, 0));
        connect(&LeaderPort, &QTcpServer::newConnection, &LeaderPort, [&] {
            QTcpSocket *S = LeaderPort.nextPendingConnection();
            if (Leader == "refuses")
                S->write(Record(HelloRecord({1, "New", TGroupIntent::Refuse, 9, 0, 0, {}})));
        });
        const quint16 Port = LeaderPort.serverPort();
        if (Leader == "closed")
            LeaderPort.close();

        QTcpSocket Link;
        Link.connectToHost(QHostAddress::LocalHost, Follower.Port());
        QVERIFY(Link.waitForConnected(5000));
        Link.write(Record(HelloRecord({1, "Lead", TGroupIntent::Invite, 5, 6, Port, {}})));
        QTRY_COMPARE(Follower.Role(), TGroupRole::Follower);
        QSignalSpy Errors(&Follower, &TGroup::ErrorOccurred);
        if (Abort)
            Link.abort();
        QTRY_COMPARE_WITH_TIMEOUT(Follower.Role(), TGroupRole::Alone, 10000);
        QCOMPARE(Errors.size(), 1);
        QCOMPARE(Errors[0][0].toByteArray(), QByteArray("The group's leader went away."));
    }

    // A room that went away keeps its place a while, then leaves the group.
    void leaderKeepsAPlaceAWhile() {
        TGroup Leader("Lead", {}, Quick());
        QTcpServer Room;
        QVERIFY(!OtherComputer(1).isEmpty() && Room.listen(QHostAddress::AnyIPv4, 0));
        connect(&Room, &QTcpServer::newConnection, &Room, [&] {
            QTcpSocket *S = Room.nextPendingConnection();
            S->write(Record(HelloRecord({1, "Hall", TGroupIntent::Accept, 0, 0, 0, {}})));
            QTimer::singleShot(100, S, &QTcpSocket::abort);
        });
        Leader.Add(Far(Room.serverPort()));
        QTRY_COMPARE(Leader.Role(), TGroupRole::Leader);
        QTRY_VERIFY(Leader.Members().value(1).endsWith("\tAway"));
        QCOMPARE(Leader.Role(), TGroupRole::Leader);
        QTRY_COMPARE(Leader.Role(), TGroupRole::Alone);
        QCOMPARE(Leader.Members().size(), 1);
    }

    // Rooms that stop taking what is sent: past the budget of all links, the one holding most
    // goes, and a room that reads stays.
    void silentRoomsGoFirst() {
        TGroup::TConfig Config = Quick();
        Config.MaxBacklog = 4 * 1024 * 1024;
        Config.Link.SilenceMs = Config.KeepPlaceMs = 60000; // only the budget ends links here
        TGroup Leader("Lead", {}, Config);
        QTcpServer Rooms;
        QVERIFY(!OtherComputer(1).isEmpty() && Rooms.listen(QHostAddress::AnyIPv4, 0));
        QList<QTcpSocket *> Accepted;
        connect(&Rooms, &QTcpServer::newConnection, &Rooms, [&] {
            QTcpSocket *S = Rooms.nextPendingConnection();
            S->write(Record(HelloRecord({1, "Room", TGroupIntent::Accept, 0, 0, 0, {}})) +
                     Record({TGroupKind::Report, {50, 0, 2}, {"Playing"}, {}}));
            Accepted.append(S);
        });
        for (int N = 1; N <= 3; ++N)
            Leader.Add(OtherComputer(N).toLatin1() + ':' + QByteArray::number(Rooms.serverPort()));
        const auto Count = [&Leader](const QByteArray &Status) {
            const QByteArrayList M = Leader.Members();
            return std::count_if(M.begin(), M.end(),
                                 [&](const auto &L) { return L.endsWith(Status); });
        };
        QTRY_COMPARE(Count("\tPlaying"), 3);
        for (QTcpSocket *S : Accepted.mid(1)) // the first reads on, the others stop
            S->setReadBufferSize(1);
        const QByteArrayList List(64, QByteArray(16384, 'u'));
        for (int I = 0; I < 64; ++I) {
            Leader.PublishList(List);
            QTest::qWait(10); // the reading room reads
        }
        QTRY_COMPARE(Count("\tAway"), 2);
        QCOMPARE(Leader.Members().size(), 4);
        QVERIFY(!Leader.Members().value(1).endsWith("	Away"));
    }

    // A follower invited again by its own group stays; another leader takes it.
    void invites_data() {
        QTest::addColumn<qint64>("Group"); // the second inviter's; the first's is 5
        QTest::addColumn<QByteArray>("Refusal");
        QTest::newRow("its own group") << 5ll << QByteArray("it is already in this group.");
        QTest::newRow("another group") << 7ll << QByteArray();
    }
    void invites() {
        QFETCH(qint64, Group);
        QFETCH(QByteArray, Refusal);
        TGroup Room("Hall", {}, Quick());
        QVERIFY(Room.Listen(0));
        QTcpSocket First, Second;
        for (QTcpSocket *Link : {&First, &Second})
            Link->connectToHost(QHostAddress::LocalHost, Room.Port());
        First.write(Record(HelloRecord({1, "Lead", TGroupIntent::Invite, 5, 6, 9, {}})));
        QTRY_COMPARE(Room.Role(), TGroupRole::Follower);
        Second.write(Record(HelloRecord({1, "Lead", TGroupIntent::Invite, Group, 6, 9, {}})));
        TGroupLinkReader Answer;
        std::optional<TGroupRecord> Hello;
        QVERIFY(QTest::qWaitFor(
            [&] { return Answer.Feed(Second.readAll()), (Hello = Answer.Next()).has_value(); }));
        QCOMPARE(ReadHello(*Hello)->Reason, Refusal);
    }
};

QTEST_GUILESS_MAIN(TstGroup)
#include "tst_group.moc"
