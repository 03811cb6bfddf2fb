#include "ClockPacket.h"
#include "GroupWire.h"
#include "TestController.h"
#include "TestFiles.h"
#include "TwoHosts.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

// A third computer on host A's side of the link: a stranger, neither copy.
constexpr char Stranger[] = "10.250.0.3";

QByteArray Address(char Host) {
    return Host == 'A' ? TTwoHosts::AddressA : TTwoHosts::AddressB;
}

// The rooms of the latest GROUP message, leader first.
QByteArrayList Rooms(const TTestController &C) {
    const qsizetype At = [&] {
        for (qsizetype I = C.Got.size() - 1; I >= 0; --I)
            if (C.Got[I].startsWith("GROUP / "))
                return I;
        return qsizetype(-1);
    }();
    QByteArrayList Hosts;
    for (const QByteArray &Line : At < 0 ? QByteArrayList{} : C.Got[At].split('/').mid(1))
        Hosts.append(Line.trimmed().split('\t').constFirst());
    return Hosts;
}

} // namespace

// Two copies as speakers without a screen, one per host on a veth pair, and a stranger beside
// host A: a room's owner always gets it back, two rooms that invite each other form one group,
// and greetings that trickle keep no room from joining.
class TestRoomsOwnerE2E : public QObject {
    Q_OBJECT

    QTemporaryDir FHomeA, FHomeB;
    TTwoHosts FHosts;
    QProcess FA, FB;
    std::unique_ptr<TTestController> FOnA, FOnB; // watching each copy's group

    void Start(char Host, QProcess &Process) {
        const QString Home = (Host == 'A' ? FHomeA : FHomeB).path();
        QVERIFY(MakeOwnHome(Home));
        QProcessEnvironment Env = OwnHomeEnvironment(Home);
        Env.insert("VX_MPV_OPTIONS", "ao=null");
        Process.setProcessEnvironment(Env);
        Process.setStandardOutputFile(QProcess::nullDevice());
        Process.setStandardErrorFile(Home + "/stderr");
        if (Host == 'A')
            Process.start(VX_PLAYER_EXE, {"--headless"});
        else
            FHosts.StartInB(Process, {VX_PLAYER_EXE, "--headless"});
        QVERIFY2(Process.waitForStarted(5000), qPrintable(Process.errorString()));
    }
    std::unique_ptr<TTestController> Watch(char Host) {
        std::unique_ptr<TTestController> C;
        const bool Up = QTest::qWaitFor(
            [&] {
                C = std::make_unique<TTestController>(37400, TTwoHosts::AddressA, Address(Host));
                return C->Connected() && C->WaitFor("STATE", 0, 2000) >= 0;
            },
            20000);
        if (Up)
            C->Send("GROUPWATCH", {});
        return Up ? std::move(C) : nullptr;
    }
    // Both copies alone again: the leader lets the other room go (a room that left by itself
    // would refuse that leader a while).
    bool Apart() {
        const QByteArrayList Group = Rooms(*FOnA);
        if (Group.size() == 2)
            (Group[0] == TTwoHosts::AddressA ? FOnA : FOnB)->Send("GROUPLEAVE", {Group[1]});
        return QTest::qWaitFor([&] { return Rooms(*FOnA).size() == 1 && Rooms(*FOnB).size() == 1; },
                               10000);
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(FHomeA.isValid() && FHomeB.isValid());
        QVERIFY2(FHosts.SetUp(), qPrintable(FHosts.Error()));
        QVERIFY(TTwoHosts::Run(
            {"ip", "addr", "add", QString(Stranger) + "/24", "dev", TTwoHosts::InterfaceA}));
        Start('A', FA);
        Start('B', FB);
        FOnA = Watch('A');
        FOnB = Watch('B');
        QVERIFY(FOnA && FOnB);
    }
    void cleanupTestCase() {
        FOnA.reset();
        FOnB.reset();
        for (QProcess *P : {&FA, &FB}) {
            P->kill();
            P->waitForFinished(5000);
        }
        FHosts.TearDown();
    }

    // A stranger holds every greeting place it may, one byte at a time: a real leader still
    // gets its room, and the stranger's connections end as a whole.
    void greetingsThatTrickle() {
        std::vector<std::unique_ptr<QTcpSocket>> Held;
        for (int I = 0; I < 16; ++I) {
            auto &S = Held.emplace_back(std::make_unique<QTcpSocket>());
            S->bind(QHostAddress(Stranger), 0);
            S->connectToHost(QString(TTwoHosts::AddressB), GroupPort);
            QVERIFY(S->waitForConnected(5000));
        }
        // The start of a record that would be well-formed, a byte at a time.
        const QByteArray Slow = QByteArray::fromHex("000003e801") + QByteArray(995, 'a');
        int Sent = 0;
        QTimer Trickle;
        connect(&Trickle, &QTimer::timeout, this, [&] {
            for (const auto &S : Held)
                S->write(Slow.mid(Sent % Slow.size(), 1));
            ++Sent;
        });
        Trickle.start(300);
        FOnA->Send("GROUPADD", {TTwoHosts::AddressB});
        QTRY_COMPARE_WITH_TIMEOUT(
            Rooms(*FOnA), QByteArrayList({TTwoHosts::AddressA, TTwoHosts::AddressB}), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(Held.begin(), Held.end(),
                                             [](const auto &S) {
                                                 return S->state() ==
                                                        QAbstractSocket::UnconnectedState;
                                             }),
                                 10000);
        QVERIFY(Apart());
    }

    // Two owners add each other's room at the same moment: one group, one leader, each time.
    void roomsThatInviteEachOther() {
        for (int Try = 0; Try < 5; ++Try) {
            FOnA->Send("GROUPADD", {TTwoHosts::AddressB});
            FOnB->Send("GROUPADD", {TTwoHosts::AddressA});
            QTRY_VERIFY_WITH_TIMEOUT(Rooms(*FOnA).size() == 2 && Rooms(*FOnA) == Rooms(*FOnB),
                                     10000);
            QVERIFY(Apart());
        }
    }

    // A stranger's copy takes room B; B's owner leaves at once from B's own controller, and
    // the stranger cannot take it straight back. A leader that takes the owner's commands and
    // never shows it heard them loses the room.
    void ownerTakesTheRoomBack() {
        FOnA->Send("GROUPADD", {TTwoHosts::AddressB});
        QTRY_COMPARE_WITH_TIMEOUT(Rooms(*FOnB).size(), 2, 10000);
        FOnB->Send("GROUPLEAVE", {TTwoHosts::AddressB});
        QTRY_COMPARE_WITH_TIMEOUT(Rooms(*FOnB).size(), 1, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(Rooms(*FOnA).size(), 1, 5000);
        const qsizetype From = FOnA->Got.size();
        FOnA->Send("GROUPADD", {TTwoHosts::AddressB});
        const qsizetype Error = FOnA->WaitFor("GROUPERROR / ", From, 10000);
        QVERIFY(Error >= 0);
        QVERIFY(
            FOnA->Got[Error].endsWith(" cannot play in sync: it left that group a moment ago."));

        QTcpSocket Deaf; // invites, pings, and takes nothing
        Deaf.bind(QHostAddress(Stranger), 0);
        Deaf.connectToHost(QString(TTwoHosts::AddressB), GroupPort);
        QVERIFY(Deaf.waitForConnected(5000));
        Deaf.write(EncodeGroupRecord(HelloRecord(
            {GroupLinkVersion, "Stranger", TGroupIntent::Invite, 77, 5, GroupPort, "b"})));
        Deaf.write(EncodeGroupRecord(
            {TGroupKind::Members,
             {},
             {},
             {QByteArray(Stranger) + "\tStranger\t50\t0\tPlaying", "b\tB\t50\t0\tJoining"}}));
        QTimer Pings;
        connect(&Pings, &QTimer::timeout, &Deaf, [&] {
            Deaf.write(EncodeGroupRecord({TGroupKind::Ping, {}, {}, {}}));
        });
        Pings.start(500);
        QTRY_COMPARE_WITH_TIMEOUT(Rooms(*FOnB).value(0), QByteArray(Stranger), 10000);
        FOnB->Send("STATE", {"1"});
        QVERIFY(FOnB->WaitFor("GROUPERROR / The group's leader does not answer.", 0, 15000) >= 0);
        QTRY_COMPARE(Rooms(*FOnB).size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestRoomsOwnerE2E)
#include "tst_rooms_owner_e2e.moc"
