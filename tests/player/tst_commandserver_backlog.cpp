// The command server writing: stalled readers dropped, bounded backlogs, many controllers.
#include "CommandServerRig.h"

#include "Settings.h"
#include "SharingState.h"

#include <memory>
#include <vector>

#include <QTcpServer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A controller that connects and never reads, with the smallest receive buffer the kernel
// allows; -1 when it cannot connect.
int ConnectStalled(quint16 Port) {
    const int Fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (Fd < 0)
        return -1;
    const int Small = 4096;
    ::setsockopt(Fd, SOL_SOCKET, SO_RCVBUF, &Small, sizeof Small);
    sockaddr_in To{};
    To.sin_family = AF_INET;
    To.sin_port = htons(Port);
    To.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(Fd, reinterpret_cast<sockaddr *>(&To), sizeof To) != 0) {
        ::close(Fd);
        return -1;
    }
    return Fd;
}

} // namespace

class TestCommandServerBacklog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void stalledControllerIsDropped();
    void largeMessagesKeepReaders();
    void totalBacklogIsBounded_data();
    void totalBacklogIsBounded();
    void manyControllers();
    void totalsDropLargestUntilUnder_data();
    void totalsDropLargestUntilUnder();
    void acceptsAgainAfterRunningOut();

private:
    // Replaces the server by one on a clock the test moves.
    void UseFakeClock() {
        FServer = std::make_unique<TCommandServer>(nullptr, CommandLineTimeoutMs,
                                                   [this] { return FNow; });
        FServer->SetSharing(&FSharing);
        QVERIFY(FServer->Listen(0));
    }

    TSharingState FSharing;
    std::unique_ptr<TCommandServer> FServer;
    qint64 FNow = 0;
};

void TestCommandServerBacklog::init() {
    FSharing.SetAllowOthers(true);
    FServer = std::make_unique<TCommandServer>();
    FServer->SetSharing(&FSharing);
    QVERIFY(FServer->Listen(0));
    QVERIFY(FServer->Port() != 0);
}

void TestCommandServerBacklog::cleanup() {
    FServer.reset();
}

void TestCommandServerBacklog::stalledControllerIsDropped() {
    UseFakeClock();
    QList<TConnectionId> Ids;
    TrackConnected(*FServer, Ids);
    QSignalSpy Disconnected(FServer.get(), &TCommandServer::Disconnected);

    TClient Reader(FServer->Port());
    Reader.KeepBytes = false;
    QTRY_COMPARE_WITH_TIMEOUT(Ids.size(), 1, 5000);
    TClient Silent(FServer->Port()); // connects, never says a word, reads what comes
    Silent.KeepBytes = false;
    QTRY_COMPARE_WITH_TIMEOUT(Ids.size(), 2, 5000);

    const int Fd = ConnectStalled(FServer->Port());
    QVERIFY(Fd >= 0);
    QTRY_COMPARE_WITH_TIMEOUT(Ids.size(), 3, 5000);
    const TConnectionId StalledId = Ids.at(2);

    const QByteArray Chunk(256 * 1024, 'u');
    const qint64 MessageSize = BuildMessage("URL", Chunk).size();
    const int Rounds = 97; // 24 MiB in all
    for (int I = 1; I <= Rounds; ++I) {
        if (I == Rounds) { // it has taken nothing for a while when the last one is due
            QCOMPARE(FServer->ConnectionCount(), 3); // its backlog alone was no reason
            FNow += StalledAfterMs;
        }
        FServer->Broadcast("URL", Chunk);
        QTRY_COMPARE_WITH_TIMEOUT(Reader.ReceivedCount, I * MessageSize, 5000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(Disconnected.size(), 1, 5000);
    QCOMPARE(Disconnected.at(0).at(0).value<TConnectionId>(), StalledId);
    QCOMPARE(FServer->ConnectionCount(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(Silent.ReceivedCount, Rounds * MessageSize, 5000);
    QVERIFY(Reader.IsOpen() && Silent.IsOpen());
    ::close(Fd);
}

void TestCommandServerBacklog::largeMessagesKeepReaders() {
    // Five controllers that read get three play lists of 70000, 140000 and 210000 distinct
    // 80-byte URLs, one per tick, each followed by "URL"; the last list alone passes 16 MiB.
    UseFakeClock();
    std::vector<std::unique_ptr<TClient>> Clients;
    for (int I = 0; I < 5; ++I) {
        Clients.push_back(std::make_unique<TClient>(FServer->Port()));
        Clients.back()->KeepBytes = false;
    }
    QTRY_COMPARE_WITH_TIMEOUT(FServer->ConnectionCount(), 5, 5000);
    QSignalSpy Disconnected(FServer.get(), &TCommandServer::Disconnected);

    const QByteArray Current = "http://192.168.1.20:37401/a.mp3";
    QByteArray List;
    qint64 Expected = 0;
    for (int Round = 1; Round <= 3; ++Round) {
        for (int I = 0; I < 70000; ++I) {
            QByteArray URL = "http://192.168.1.20:37401/" + QByteArray::number(Round * 100000 + I);
            List += URL + QByteArray(76 - URL.size(), 'x') + ".mp3\r\n";
        }
        FServer->Broadcast("LIST", List);
        FServer->Broadcast("URL", Current);
        FNow += 200; // the speaker's tick: one list job each
        Expected += BuildMessage("LIST", List).size() + BuildMessage("URL", Current).size();
    }
    QVERIFY(BuildMessage("LIST", List).size() > MaxPendingOutput);
    for (const auto &Client : Clients)
        QTRY_COMPARE_WITH_TIMEOUT(Client->ReceivedCount, Expected, 30000);
    QCOMPARE(Disconnected.size(), 0);
    QCOMPARE(FServer->ConnectionCount(), 5);
}

void TestCommandServerBacklog::totalBacklogIsBounded_data() {
    QTest::addColumn<bool>("broadcast");
    QTest::newRow("a message of its own to each") << false;
    QTest::newRow("one message shared by all") << true;
}

void TestCommandServerBacklog::totalBacklogIsBounded() {
    // Stalled controllers, each under its own limit, would together hold more than the total
    // allows: the one with the largest backlog goes, and none goes before the total (a shared
    // message counted once) passes the limit; the one that reads stays.
    QFETCH(bool, broadcast);
    UseFakeClock(); // never stalled long enough for a controller's own limit
    QList<TConnectionId> Ids;
    TrackConnected(*FServer, Ids);
    QSignalSpy Disconnected(FServer.get(), &TCommandServer::Disconnected);
    TClient Reader(FServer->Port());
    Reader.KeepBytes = false;
    QTRY_COMPARE_WITH_TIMEOUT(Ids.size(), 1, 5000);
    std::vector<int> Stalled;
    for (int I = 0; I < 8; ++I) {
        Stalled.push_back(ConnectStalled(FServer->Port()));
        QVERIFY(Stalled.back() >= 0);
    }
    QTRY_COMPARE_WITH_TIMEOUT(Ids.size(), 9, 5000);

    const QByteArray Payload(8 * 1024 * 1024, 'u');
    const qint64 Size = BuildMessage("URL", Payload).size();
    const TConnectionId Largest = Ids.at(4);
    QList<TConnectionId> Sends{Largest, Largest}; // two ahead of the others
    for (int Round = 0; Round < 80; ++Round)
        Sends += broadcast ? QList<TConnectionId>{0} : Ids;
    for (const TConnectionId To : std::as_const(Sends)) {
        const qint64 Before = FServer->PendingOutput();
        if (To == 0)
            FServer->Broadcast("URL", Payload);
        else
            FServer->SendToConnection(To, "URL", Payload);
        QVERIFY(FServer->PendingOutput() <= MaxTotalPendingOutput);
        if (FServer->ConnectionCount() < 9) {
            QVERIFY2(Before + Size > MaxTotalPendingOutput, "dropped under the limit");
            break;
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(Disconnected.size(), 1, 5000);
    QCOMPARE(Disconnected.at(0).at(0).value<TConnectionId>(), Largest);
    QCOMPARE(FServer->ConnectionCount(), 8);
    QVERIFY(Reader.IsOpen());
    for (const int Fd : Stalled)
        ::close(Fd);
}

void TestCommandServerBacklog::manyControllers() {
    const int Count = MaxControllers;
    std::vector<std::unique_ptr<TClient>> Clients;
    for (int I = 0; I < Count; ++I)
        Clients.push_back(std::make_unique<TClient>(FServer->Port()));
    QTRY_COMPARE_WITH_TIMEOUT(FServer->ConnectionCount(), Count, 20000);

    // One more is closed at once, without a word.
    QSignalSpy Connected(FServer.get(), &TCommandServer::Connected);
    TClient Extra(FServer->Port());
    QSignalSpy Closed(&Extra.Socket, &QTcpSocket::disconnected);
    QVERIFY(Closed.wait(5000));
    QVERIFY(Extra.Received.isEmpty());
    QCOMPARE(Connected.size(), 0);
    QCOMPARE(FServer->ConnectionCount(), Count);

    FServer->Broadcast("LIST", "http://a/1\nhttp://a/2");
    const QByteArray Wire = "LIST\r\n2\r\nhttp://a/1\r\nhttp://a/2\r\n";
    for (const auto &Client : Clients)
        QTRY_COMPARE_WITH_TIMEOUT(Client->Received, Wire, 5000);

    QSignalSpy Disconnected(FServer.get(), &TCommandServer::Disconnected);
    Clients.clear();
    QTRY_COMPARE_WITH_TIMEOUT(Disconnected.size(), Count, 10000);
    QCOMPARE(FServer->ConnectionCount(), 0);
}

void TestCommandServerBacklog::totalsDropLargestUntilUnder_data() {
    // Three controllers that never read hold 3, 2 and 2 units of output (messages) or of input
    // (lines of an unfinished ADD); the limit, set before or after, is units*unit + bytes.
    QTest::addColumn<bool>("input");
    QTest::addColumn<bool>("before");
    QTest::addColumn<int>("units");
    QTest::addColumn<int>("bytes");
    QTest::addColumn<int>("left"); // units held by those that stay
    for (const bool In : {false, true}) {
        QTest::addRow("input %d, at the limit: none goes", In) << In << false << 7 << 0 << 7;
        QTest::addRow("input %d, a byte over: the largest goes", In) << In << false << 7 << -1 << 4;
        QTest::addRow("input %d, far over: until under", In) << In << false << 3 << -1 << 2;
        QTest::addRow("input %d, passed while held", In) << In << true << 6 << 0 << 4;
    }
}

void TestCommandServerBacklog::totalsDropLargestUntilUnder() {
    QFETCH(bool, input);
    QFETCH(bool, before);
    QFETCH(int, units);
    QFETCH(int, bytes);
    QFETCH(int, left);
    UseFakeClock(); // nobody stalls, no line is late
    const QByteArray Payload(8 << 20, 'u'), Line = QByteArray(998, 'u') + "\r\n";
    const qint64 Unit =
        input ? 998 + TCommandReader::PendingLineCost : BuildMessage("U", Payload).size();
    const auto Pending = [&] { return input ? FServer->PendingInput() : FServer->PendingOutput(); };
    const qint64 Limit = units * Unit + bytes;
    const auto SetLimit = [&] {
        FServer->SetTotalLimits(input ? MaxTotalPendingOutput : Limit,
                                input ? Limit : MaxTotalPendingInput);
    };
    if (before)
        SetLimit();
    QList<TConnectionId> Ids;
    TrackConnected(*FServer, Ids);
    std::vector<int> Fds;
    for (const int Held : {3, 2, 2}) {
        Fds.push_back(ConnectStalled(FServer->Port()));
        QTRY_COMPARE_WITH_TIMEOUT(Ids.size(), qsizetype(Fds.size()), 5000);
        const QByteArray Add = "ADD\r\n100000\r\n" + Line.repeated(Held);
        for (int K = 0; K < Held && !input; ++K)
            FServer->SendToConnection(Ids.last(), "U", Payload);
        QVERIFY(!input || ::send(Fds.back(), Add.constData(), size_t(Add.size()), 0) == Add.size());
    }
    if (!before) {
        QTRY_COMPARE_WITH_TIMEOUT(Pending(), 7 * Unit, 5000);
        SetLimit();
        QVERIFY(Pending() <= Limit);
    }
    QTRY_COMPARE_WITH_TIMEOUT(Pending(), left * Unit, 5000);
    for (const int Fd : Fds)
        ::close(Fd);
}

void TestCommandServerBacklog::acceptsAgainAfterRunningOut() {
    // A controller waits in the kernel while no descriptor is left for it.
    QSignalSpy Failed(FServer->findChild<QTcpServer *>(), &QTcpServer::acceptError);
    const int Fd = ConnectStalled(FServer->Port());
    const int Free = ::dup(0);
    ::close(Free);
    rlimit Old{};
    QVERIFY(::getrlimit(RLIMIT_NOFILE, &Old) == 0 && Fd >= 0);
    rlimit Low = Old;
    Low.rlim_cur = rlim_t(Free);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &Low), 0);
    const bool Refused = Failed.wait(5000);
    ::setrlimit(RLIMIT_NOFILE, &Old);
    QVERIFY(Refused);
    QTRY_COMPARE_WITH_TIMEOUT(FServer->ConnectionCount(), 1, 5000);
    ::close(Fd);
}

QTEST_GUILESS_MAIN(TestCommandServerBacklog)
#include "tst_commandserver_backlog.moc"
