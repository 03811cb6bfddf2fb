// A group's faults against scripted peers on loopback, with short time-outs.
#include "Group.h"

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
        QVERIFY(Room.listen(QHostAddress::LocalHost, 0));
        connect(&Room, &QTcpServer::newConnection, &Room, [&] {
            QTcpSocket *S = Room.nextPendingConnection();
            S->write(Record(HelloRecord({1, "Hall", TGroupIntent::Accept, 0, 0, 0, {}})));
            QTimer::singleShot(100, S, &QTcpSocket::abort);
        });
        Leader.Add("127.0.0.1:" + QByteArray::number(Room.serverPort()));
        QTRY_COMPARE(Leader.Role(), TGroupRole::Leader);
        QTRY_VERIFY(Leader.Members().value(1).endsWith("\tAway"));
        QCOMPARE(Leader.Role(), TGroupRole::Leader);
        QTRY_COMPARE(Leader.Role(), TGroupRole::Alone);
        QCOMPARE(Leader.Members().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TstGroup)
#include "tst_group.moc"
