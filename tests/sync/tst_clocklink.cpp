#include "ClockFollower.h"
#include "ClockPacket.h"
#include "ClockService.h"
#include "StartTimer.h"

#include <QNetworkDatagram>
#include <QTest>
#include <QUdpSocket>

namespace {

const QHostAddress Loopback(QHostAddress::LocalHost);

QNetworkDatagram NextDatagram(QUdpSocket &Socket) {
    // The other end lives in this thread: the wait runs its events.
    (void)QTest::qWaitFor([&Socket] { return Socket.hasPendingDatagrams(); }, 5000);
    return Socket.receiveDatagram();
}

} // namespace

// The clock exchange on real sockets over loopback; the datagram's own rules live in
// tst_clockpacket.
class TestClockLink : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void serviceAnswersRequestsOnly_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("answered");
        const TClockPacket Request{TClockPacket::TKind::Request, 5, 1000, 0, 0};
        QTest::newRow("request") << EncodeClockPacket(Request) << true;
        QTest::newRow("reply") << EncodeClockPacket(ClockReply(Request, 2000, 3000)) << false;
        QTest::newRow("longer") << EncodeClockPacket(Request) + '\0' << false;
    }

    // Every datagram is followed by a good request: the first answer shows what was dropped.
    void serviceAnswersRequestsOnly() {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, answered);
        qint64 Tick = 40'000;
        TClockService Service([&Tick] { return Tick += 10; }, nullptr);
        QVERIFY(Service.Listen(Loopback, 0));
        QUdpSocket Client;
        QVERIFY(Client.bind(Loopback, 0));
        Client.writeDatagram(datagram, Loopback, Service.Port());
        Client.writeDatagram(EncodeClockPacket({TClockPacket::TKind::Request, 9, 77, 0, 0}),
                             Loopback, Service.Port());
        const std::optional<TClockPacket> Reply = DecodeClockPacket(NextDatagram(Client).data());
        QVERIFY(Reply);
        QCOMPARE(Reply->Exchange, answered ? 5u : 9u);
        QCOMPARE(Reply->T1, answered ? 1000 : 77);
        QCOMPARE(Reply->T3 - Reply->T2, 10); // stamped on reading, then on sending
    }

    void serviceAnswersWithinABudget_data() {
        QTest::addColumn<int>("sources"); // addresses 127.0.0.2 on
        QTest::addColumn<int>("each");    // requests each sends at once
        QTest::addColumn<int>("answered");
        QTest::newRow("a follower's burst") << 1 << 8 << 8;
        QTest::newRow("one source floods") << 1 << 40 << 16;
        QTest::newRow("many sources flood") << 20 << 16 << 256;
    }

    // The clock stands still while the flood is read; then it moves on, and a request from
    // elsewhere shows that the whole flood was read.
    void serviceAnswersWithinABudget() {
        QFETCH(int, sources);
        QFETCH(int, each);
        QFETCH(int, answered);
        qint64 Tick = 40'000;
        TClockService Service([&Tick] { return Tick += 10; }, nullptr);
        QVERIFY(Service.Listen(Loopback, 0));
        std::vector<std::unique_ptr<QUdpSocket>> Clients;
        for (int N = 0; N < sources; ++N) {
            auto &Client = Clients.emplace_back(std::make_unique<QUdpSocket>());
            QVERIFY(Client->bind(QHostAddress(0x7F000002u + quint32(N)), 0));
            for (int I = 0; I < each; ++I)
                Client->writeDatagram(
                    EncodeClockPacket({TClockPacket::TKind::Request, 1, 77, 0, 0}), Loopback,
                    Service.Port());
        }
        int Got = 0;
        const auto Count = [&] {
            for (const auto &Client : Clients)
                for (; Client->hasPendingDatagrams(); ++Got)
                    Client->receiveDatagram();
            return Got;
        };
        QTRY_COMPARE(Count(), answered);
        Tick += 10'000'000'000;
        QUdpSocket Late;
        QVERIFY(Late.bind(QHostAddress("127.0.1.1"), 0));
        Late.writeDatagram(EncodeClockPacket({TClockPacket::TKind::Request, 2, 77, 0, 0}), Loopback,
                           Service.Port());
        QVERIFY(DecodeClockPacket(NextDatagram(Late).data()));
        QCOMPARE(Count(), answered);
    }

    void followerTakesItsLeadersRepliesOnly_data() {
        QTest::addColumn<QString>("from");
        QTest::addColumn<quint32>("shift"); // added to the exchange number
        QTest::addColumn<int>("taken");
        QTest::newRow("leader") << "leader" << 0u << 1;
        QTest::newRow("another address") << "127.0.0.2" << 0u << 0;
        QTest::newRow("another port") << "127.0.0.1" << 0u << 0;
        QTest::newRow("not asked for") << "leader" << 1000u << 0;
    }

    // The first request is answered as the row says, the second by the leader: the count of
    // exchanges taken shows whether the first answer was.
    void followerTakesItsLeadersRepliesOnly() {
        QFETCH(QString, from);
        QFETCH(quint32, shift);
        QFETCH(int, taken);
        QUdpSocket Leader, Other;
        QVERIFY(Leader.bind(Loopback, 0));
        TClockFollower Follower;
        Follower.Follow(Loopback, Leader.localPort());
        std::optional<TClockPacket> First = DecodeClockPacket(NextDatagram(Leader).data());
        const QNetworkDatagram Second = NextDatagram(Leader);
        QVERIFY(First && DecodeClockPacket(Second.data()));
        First->Exchange += shift;
        const qint64 At = MonotonicNow(); // both times at once: T3 may not precede T2
        const QByteArray Reply = EncodeClockPacket(ClockReply(*First, At, At));
        QUdpSocket &Sender = from == "leader" ? Leader : Other;
        if (&Sender == &Other)
            QVERIFY(Other.bind(QHostAddress(from), 0));
        Sender.writeDatagram(Reply, Second.senderAddress(), quint16(Second.senderPort()));
        Leader.writeDatagram(
            EncodeClockPacket(ClockReply(*DecodeClockPacket(Second.data()), At, At)),
            Second.senderAddress(), quint16(Second.senderPort()));
        QTRY_VERIFY(Follower.Clock().ExchangeCount() >= 1);
        QCOMPARE(Follower.Clock().ExchangeCount(), 1 + taken);
    }
};

QTEST_GUILESS_MAIN(TestClockLink)
#include "tst_clocklink.moc"
