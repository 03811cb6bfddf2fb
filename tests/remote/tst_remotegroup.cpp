#include "RemoteGroup.h"

#include <QTest>

namespace {
const QByteArray Leader = "10.0.0.1\tKitchen\t40\t0\tplaying";
const QByteArray Hall = "hall\t\t100\t1\t";
} // namespace

class TestRemoteGroup : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void TakeGroup_data() {
        QTest::addColumn<QByteArrayList>("Lines");
        QTest::addColumn<int>("Count");
        QTest::addColumn<QString>("Rooms"); // "name volume mute|..."; empty: dropped
        const QByteArray Long(255, 'x');
        QTest::newRow("leader and a room, no name")
            << QByteArrayList{Leader, Hall} << 2 << "Kitchen 40 0|hall 100 1";
        QTest::newRow("fields of 255 bytes")
            << QByteArrayList{Long + "\t" + Long + "\t0\t0\t" + Long} << 1
            << QString(63, u'x') + " 0 0";
        QTest::newRow("name with hidden marks, host with a line break")
            << QByteArrayList{"h\tA\u202e<b>\x01  B\t0\t0\t", "h\u2028x\t\t1\t0\t"} << 2
            << "A<b> B 0 0|h x 1 0";
        QTest::newRow("field of 256 bytes")
            << QByteArrayList{"h\t" + Long + "y\t0\t0\t"} << 1 << "";
        QTest::newRow("count 0") << QByteArrayList{} << 0 << "";
        QTest::newRow("count past 32") << QByteArrayList(33, Hall) << 33 << "";
        QTest::newRow("fewer lines than counted") << QByteArrayList{Leader} << 2 << "";
        QTest::newRow("four fields") << QByteArrayList{"h\tn\t1\t0"} << 1 << "";
        QTest::newRow("volume 101") << QByteArrayList{"h\tn\t101\t0\t"} << 1 << "";
        QTest::newRow("mute 2") << QByteArrayList{"h\tn\t1\t2\t"} << 1 << "";
        QTest::newRow("empty host") << QByteArrayList{"\tn\t1\t0\t"} << 1 << "";
        QTest::newRow("host twice") << QByteArrayList{Hall, Hall} << 2 << "";
    }
    void TakeGroup() {
        QFETCH(QByteArrayList, Lines);
        QFETCH(int, Count);
        QFETCH(QString, Rooms);
        TRemoteGroup Group;
        QVERIFY(Group.TakeGroup({"before\tBefore\t1\t0\t"}, 1));
        QCOMPARE(Group.TakeGroup(Lines, Count), !Rooms.isEmpty());
        QStringList Shown;
        for (const TGroupRoom &Room : Group.Rooms())
            Shown.append(
                QStringLiteral("%1 %2 %3").arg(Room.Name).arg(Room.Volume).arg(Room.Muted));
        // A dropped message leaves the group as it was.
        QCOMPARE(Shown.join(u'|'), Rooms.isEmpty() ? QStringLiteral("Before 1 0") : Rooms);
    }

    // What "Add Room..." offers on the page of the speaker reached at 10.0.0.1:37400.
    void Offers_data() {
        QTest::addColumn<QByteArray>("Computer");
        QTest::addColumn<bool>("Offered");
        QTest::newRow("another speaker") << QByteArray("10.0.0.7") << true;
        QTest::newRow("the room itself") << QByteArray("10.0.0.1") << false;
        QTest::newRow("a room of the group, by name") << QByteArray("HALL") << false;
        QTest::newRow("a room with its group port") << QByteArray("10.0.0.9:37402") << false;
        QTest::newRow("another name") << QByteArray("cellar") << true;
        QTest::newRow("empty") << QByteArray(" ") << false;
    }
    void Offers() {
        QFETCH(QByteArray, Computer);
        TRemoteGroup Group;
        QVERIFY(Group.TakeGroup({Leader, Hall, "10.0.0.9\tAttic\t1\t0\t"}, 3));
        QFETCH(bool, Offered);
        QCOMPARE(Group.Offers(Computer, "10.0.0.1:37400"), Offered);
        QCOMPARE(Group.NameOf("10.0.0.9"), u"Attic"_qs);
        // A speaker on this computer is every loopback address.
        QCOMPARE(TRemoteGroup().Offers("127.0.0.1", "127.0.1.1"), false);
    }

    void Commands_data() {
        QTest::addColumn<QByteArray>("Command");
        QTest::addColumn<QString>("Host");
        QTest::addColumn<int>("Value");
        QTest::addColumn<QByteArray>("Sent"); // empty: refused
        QTest::newRow("add typed")
            << QByteArray("add") << " Hall " << 0 << QByteArray("GROUPADD\r\nHall\r\n");
        QTest::newRow("add this computer")
            << QByteArray("add") << "My Computer" << 0 << QByteArray();
        QTest::newRow("add with a line break")
            << QByteArray("add") << "a\r\nSTATE" << 0 << QByteArray();
        QTest::newRow("leave a room")
            << QByteArray("leave") << "hall" << 0 << QByteArray("GROUPLEAVE\r\nhall\r\n");
        QTest::newRow("leave no room") << QByteArray("leave") << "attic" << 0 << QByteArray();
        QTest::newRow("volume") << QByteArray("volume") << "10.0.0.1" << 100
                                << QByteArray("GROUPVOLUME\r\n10.0.0.1\r\n100\r\n");
        QTest::newRow("volume past 100") << QByteArray("volume") << "hall" << 101 << QByteArray();
        QTest::newRow("volume of no room") << QByteArray("volume") << "Hall" << 5 << QByteArray();
        QTest::newRow("mute") << QByteArray("mute") << "hall" << 1
                              << QByteArray("GROUPMUTE\r\nhall\r\n1\r\n");
    }
    void Commands() {
        QFETCH(QByteArray, Command);
        QFETCH(QString, Host);
        QFETCH(int, Value);
        QFETCH(QByteArray, Sent);
        TRemoteGroup Group;
        QVERIFY(Group.TakeGroup({Leader, Hall}, 2));
        QCOMPARE(Group.StatusLine(), "Kitchen: playing");
        Group.TakeError("Hall cannot play in sync: no");
        QCOMPARE(Group.StatusLine(), "Hall cannot play in sync: no; Kitchen: playing");
        const QByteArray Room = Host.toUtf8();
        const std::optional<QByteArray> Message = Command == "add" ? TRemoteGroup::AddMessage(Host)
                                                  : Command == "leave" ? Group.LeaveMessage(Room)
                                                  : Command == "mute"
                                                      ? Group.MuteMessage(Room, Value != 0)
                                                      : Group.VolumeMessage(Room, Value);
        QCOMPARE(Message.value_or(QByteArray()), Sent);
    }
};

QTEST_GUILESS_MAIN(TestRemoteGroup)
#include "tst_remotegroup.moc"
