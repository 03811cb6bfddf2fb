#include "CommandServer.h"
#include "MessageText.h"
#include "Settings.h"
#include "SharingState.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The plain event dispatcher serves a due timer before a readable socket (the default one reads
// first): the order in which a line that arrived in time can be judged late.
const bool PlainDispatcher = qputenv("QT_NO_GLIB", "1");

// A controller seen from outside: everything the speaker wrote to it, as raw bytes.
struct TClient {
    QTcpSocket Socket;
    QByteArray Received;
    qint64 ReceivedCount = 0;
    bool KeepBytes = true;

    explicit TClient(quint16 Port, const QByteArray &Source = {}) {
        QObject::connect(&Socket, &QTcpSocket::readyRead, [this] {
            const QByteArray Bytes = Socket.readAll();
            ReceivedCount += Bytes.size();
            if (KeepBytes)
                Received += Bytes;
        });
        if (!Source.isEmpty())
            Socket.bind(QHostAddress(QString::fromLatin1(Source)), 0);
        Socket.connectToHost(QHostAddress::LocalHost, Port);
    }
    bool IsOpen() const { return Socket.state() == QAbstractSocket::ConnectedState; }
    void Send(const QByteArray &Bytes) {
        if (Socket.state() != QAbstractSocket::ConnectedState) {
            QSignalSpy Up(&Socket, &QTcpSocket::connected);
            QVERIFY(Up.wait(5000));
        }
        Socket.write(Bytes);
        Socket.flush();
    }
};

// What the server handed over, in order, with the connection it came from.
struct TInbox {
    QList<TConnectionId> Ids;
    QByteArrayList Peers;
    QByteArrayList Messages;

    explicit TInbox(TCommandServer &Server) {
        QObject::connect(
            &Server, &TCommandServer::CommandReceived,
            [this](TConnectionId Id, const QByteArray &Peer, const TCommandMessage &M) {
                Ids.append(Id);
                Peers.append(Peer);
                Messages.append(Render(M));
            });
    }
};

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

// The id of every admitted connection, in admission order.
void TrackConnected(TCommandServer &Server, QList<TConnectionId> &Ids) {
    QObject::connect(&Server, &TCommandServer::Connected,
                     [&Ids](TConnectionId Id) { Ids.append(Id); });
}

} // namespace

class TestCommandServer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void listenTakenPort();
    void commandsArrive_data();
    void commandsArrive();
    void greetingThenCommands();
    void lateArgument();
    void lineInTimeWhileBusy_data();
    void lineInTimeWhileBusy();
    void framing_data();
    void framing();
    void broadcastSkipsByAddress();
    void allowSwitch();
    void disconnectAllFromHandler();
    void stalledControllerIsDropped();
    void largeMessagesKeepReaders();
    void totalBacklogIsBounded_data();
    void totalBacklogIsBounded();
    void manyControllers();

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

void TestCommandServer::init() {
    FSharing.SetAllowOthers(true);
    FServer = std::make_unique<TCommandServer>();
    FServer->SetSharing(&FSharing);
    QVERIFY(FServer->Listen(0));
    QVERIFY(FServer->Port() != 0);
}

void TestCommandServer::cleanup() {
    FServer.reset();
}

void TestCommandServer::listenTakenPort() {
    TCommandServer Other;
    QVERIFY(!Other.Listen(FServer->Port()));
    // Close releases the port for a new listener.
    const quint16 Port = FServer->Port();
    FServer->Close();
    QVERIFY(Other.Listen(Port));
}

void TestCommandServer::commandsArrive_data() {
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QByteArrayList>("expected");

    const QByteArray Mixed = "VOLUMN\r\n40\r\nADD\r\n2\r\nhttp://a/1.mp3\r\n..x\r\nGET\r\n\r\n"
                             "URL\nhttp://a/1.mp3\nMUTE\r\n-1\r\n";
    const QByteArrayList Expected{"VOLUMN / 40", "ADD / http://a/1.mp3 / ..x", "GET",
                                  "URL / http://a/1.mp3", "MUTE / -1"};
    QTest::newRow("single") << QByteArrayList{"STATE\r\n3\r\n"} << QByteArrayList{"STATE / 3"};
    QTest::newRow("counted") << QByteArrayList{"UPDATELIST\r\n3\r\na\r\n\r\nc\r\n"}
                             << QByteArrayList{"UPDATELIST / a /  / c"};
    QTest::newRow("many in one write") << QByteArrayList{Mixed} << Expected;
    QByteArrayList Bytes;
    for (const char C : Mixed)
        Bytes.append(QByteArray(1, C));
    QTest::newRow("one byte per write") << Bytes << Expected;
    // Hostile input: each is dropped and the connection reads on.
    QTest::newRow("overlong line")
        << QByteArrayList{"URL\r\n" + QByteArray(40000, 'x') + "\r\nVOLUMN\r\n5\r\n"}
        << QByteArrayList{"VOLUMN / 5"};
    QTest::newRow("overlong line in pieces")
        << QByteArrayList{"ADD\r\n1\r\n", QByteArray(10000, 'y'), QByteArray(10000, 'y'),
                          "\r\nMUTE\r\n0\r\n"}
        << QByteArrayList{"MUTE / 0"};
    QTest::newRow("count of 10^9")
        << QByteArrayList{"ADD\r\n1000000000\r\nSTATE\r\n3\r\n"} << QByteArrayList{"STATE / 3"};
    QTest::newRow("count not a number")
        << QByteArrayList{"ADD\r\nlots\r\nUPDATELIST\r\n1e3\r\nMUTE\r\n1\r\n"}
        << QByteArrayList{"UPDATELIST", "MUTE / 1"};
}

void TestCommandServer::commandsArrive() {
    QFETCH(QByteArrayList, chunks);
    QFETCH(QByteArrayList, expected);

    TInbox Inbox(*FServer);
    QSignalSpy Connected(FServer.get(), &TCommandServer::Connected);
    TClient Client(FServer->Port());
    QVERIFY(Connected.wait(5000));
    const TConnectionId Id = Connected.at(0).at(0).value<TConnectionId>();
    QCOMPARE(FServer->PeerAddress(Id), QByteArray("127.0.0.1"));

    for (const QByteArray &Chunk : chunks) {
        Client.Send(Chunk);
        // Give the server a chance to read each piece on its own.
        QCoreApplication::processEvents();
    }
    QTRY_COMPARE_WITH_TIMEOUT(Inbox.Messages, expected, 5000);
    QVERIFY(Client.IsOpen());
    for (int I = 0; I < Inbox.Ids.size(); ++I) {
        QCOMPARE(Inbox.Ids.at(I), Id);
        QCOMPARE(Inbox.Peers.at(I), QByteArray("127.0.0.1"));
    }
}

void TestCommandServer::greetingThenCommands() {
    // The owner answers Connected with the greeting; it reaches the controller first.
    connect(FServer.get(), &TCommandServer::Connected, this, [this](TConnectionId Id) {
        FServer->SendToConnection(Id, "MUTE", "0");
        FServer->SendToConnection(Id, "VOLUMN", "40");
        FServer->SendToConnection(Id, "STATE", "0");
    });
    TInbox Inbox(*FServer);
    TClient Client(FServer->Port());
    QTRY_COMPARE_WITH_TIMEOUT(Client.Received,
                              QByteArray("MUTE\r\n0\r\nVOLUMN\r\n40\r\nSTATE\r\n0\r\n"), 5000);
    Client.Send("GET\r\n\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(Inbox.Messages, QByteArrayList{"GET"}, 5000);
}

void TestCommandServer::lateArgument() {
    // The argument deadline runs off the connection's own timer: nothing more arrives, yet the
    // text command is completed with an empty line and the numeric one is dropped.
    TCommandServer Server(nullptr, 100);
    QVERIFY(Server.Listen(0));
    TInbox Inbox(Server);
    TClient Client(Server.Port());
    TClient Other(Server.Port());
    Other.Send("VOLUMN\r\n"); // first: its deadline has passed when the other's has
    Client.Send("URL\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(Inbox.Messages, QByteArrayList{"URL / "}, 5000);
    // After the deadline a late argument is read as a word line.
    Other.Send("7\r\nMUTE\r\n1\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(Inbox.Messages, (QByteArrayList{"URL / ", "MUTE / 1"}), 5000);
}

void TestCommandServer::lineInTimeWhileBusy_data() {
    QTest::addColumn<bool>("sentInTime");
    QTest::addColumn<QByteArrayList>("expected");
    QTest::newRow("sent in time, read after the deadline")
        << true << QByteArrayList{"MUTE / 0", "VOLUMN / 30"};
    QTest::newRow("sent after the deadline") << false << QByteArrayList{"MUTE / 0", "MUTE / 1"};
}

void TestCommandServer::lineInTimeWhileBusy() {
    // A handler keeps the thread busy past an argument's deadline: when it comes back, the
    // timer and the bytes are both waiting. A line is judged by when it arrived.
    QFETCH(bool, sentInTime);
    QFETCH(QByteArrayList, expected);
    constexpr int TimeoutMs = 100;
    TCommandServer Server(nullptr, TimeoutMs);
    QVERIFY(Server.Listen(0));
    TInbox Inbox(Server);
    TClient Client(Server.Port());
    // "MUTE" and "VOLUMN" come in one segment: the handler runs once both are read.
    connect(&Server, &TCommandServer::CommandReceived, this,
            [&](TConnectionId, const QByteArray &, const TCommandMessage &M) {
                if (M.Word != "MUTE" || M.Value != 0)
                    return;
                if (sentInTime)
                    Client.Send("30\r\n");
                QThread::msleep(TimeoutMs + 50);
                if (!sentInTime)
                    Client.Send("30\r\nMUTE\r\n1\r\n");
            });
    Client.Send("MUTE\r\n0\r\nVOLUMN\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(Inbox.Messages, expected, 5000);
}

void TestCommandServer::framing_data() {
    QTest::addColumn<QByteArray>("word");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("single") << QByteArray("STATE") << QByteArray("3")
                            << QByteArray("STATE\r\n3\r\n");
    QTest::newRow("empty single omits its line")
        << QByteArray("URL") << QByteArray() << QByteArray("URL\r\n");
    QTest::newRow("dot rule") << QByteArray("URL") << QByteArray(".hidden/a.mp3")
                              << QByteArray("URL\r\n..hidden/a.mp3\r\n");
    QTest::newRow("counted with line breaks")
        << QByteArray("LIST") << QByteArray("http://a/1\r\n.b\nc\rd\r\n")
        << QByteArray("LIST\r\n4\r\nhttp://a/1\r\n..b\r\nc\r\nd\r\n");
    QTest::newRow("empty counted")
        << QByteArray("LIST") << QByteArray() << QByteArray("LIST\r\n0\r\n");
}

void TestCommandServer::framing() {
    QFETCH(QByteArray, word);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, wire);

    QList<TConnectionId> Ids;
    TrackConnected(*FServer, Ids);
    TClient A(FServer->Port());
    TClient B(FServer->Port());
    QTRY_COMPARE_WITH_TIMEOUT(Ids.size(), 2, 5000);

    FServer->SendToConnection(Ids.at(0), word, payload);
    FServer->Broadcast(word, payload);
    QTRY_COMPARE_WITH_TIMEOUT(A.Received, wire + wire, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(B.Received, wire, 5000);
}

void TestCommandServer::broadcastSkipsByAddress() {
    QList<TConnectionId> Ids;
    TrackConnected(*FServer, Ids);
    TClient A(FServer->Port());
    QTRY_COMPARE_WITH_TIMEOUT(Ids.size(), 1, 5000);
    TClient B(FServer->Port());
    QTRY_COMPARE_WITH_TIMEOUT(Ids.size(), 2, 5000);
    TClient C(FServer->Port(), "127.0.0.2");
    QTRY_COMPARE_WITH_TIMEOUT(Ids.size(), 3, 5000);
    QCOMPARE(FServer->PeerAddress(Ids.at(0)), QByteArray("127.0.0.1"));
    QCOMPARE(FServer->PeerAddress(Ids.at(1)), QByteArray("127.0.0.1"));
    QCOMPARE(FServer->PeerAddress(Ids.at(2)), QByteArray("127.0.0.2"));

    FServer->Broadcast("LIST", "u", "127.0.0.1");
    FServer->Broadcast("URL", "u");
    // Only exact text skips: a prefix of an address is another address.
    FServer->Broadcast("STATE", "3", "127.0.0.");
    const QByteArray ToAll = "URL\r\nu\r\nSTATE\r\n3\r\n";
    QTRY_COMPARE_WITH_TIMEOUT(C.Received, "LIST\r\n1\r\nu\r\n" + ToAll, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(A.Received, ToAll, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(B.Received, ToAll, 5000);
}

void TestCommandServer::allowSwitch() {
    QSignalSpy Connected(FServer.get(), &TCommandServer::Connected);
    QSignalSpy Disconnected(FServer.get(), &TCommandServer::Disconnected);
    connect(FServer.get(), &TCommandServer::Connected, this,
            [this](TConnectionId Id) { FServer->SendToConnection(Id, "MUTE", "0"); });

    TClient First(FServer->Port());
    TClient Second(FServer->Port());
    QTRY_COMPARE_WITH_TIMEOUT(Connected.size(), 2, 5000);
    const TConnectionId FirstId = Connected.at(0).at(0).value<TConnectionId>();
    const TConnectionId SecondId = Connected.at(1).at(0).value<TConnectionId>();

    // Switching off drops both, last registered first.
    FSharing.SetAllowOthers(false);
    FServer->DisconnectAll();
    QCOMPARE(FServer->ConnectionCount(), 0);
    QCOMPARE(Disconnected.size(), 2);
    QCOMPARE(Disconnected.at(0).at(0).value<TConnectionId>(), SecondId);
    QCOMPARE(Disconnected.at(1).at(0).value<TConnectionId>(), FirstId);
    QTRY_VERIFY_WITH_TIMEOUT(!First.IsOpen() && !Second.IsOpen(), 5000);

    // While off, a newcomer sees the close and nothing else.
    TClient Refused(FServer->Port());
    QSignalSpy Closed(&Refused.Socket, &QTcpSocket::disconnected);
    QVERIFY(Closed.wait(5000));
    QVERIFY(Refused.Received.isEmpty());
    QCOMPARE(Connected.size(), 2);
    QCOMPARE(FServer->ConnectionCount(), 0);

    // Back on, newcomers are admitted with fresh ids.
    FSharing.SetAllowOthers(true);
    TClient Welcome(FServer->Port());
    QTRY_COMPARE_WITH_TIMEOUT(Welcome.Received, QByteArray("MUTE\r\n0\r\n"), 5000);
    QCOMPARE(Connected.size(), 3);
    const TConnectionId NewId = Connected.at(2).at(0).value<TConnectionId>();
    QVERIFY(NewId != FirstId && NewId != SecondId);
    // Stale ids are harmless.
    FServer->SendToConnection(FirstId, "STATE", "3");
    QVERIFY(FServer->PeerAddress(FirstId).isEmpty());

    // A controller that closes on its own is reported once.
    Welcome.Socket.disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(Disconnected.size(), 3, 5000);
    QCOMPARE(Disconnected.at(2).at(0).value<TConnectionId>(), NewId);
    QCOMPARE(FServer->ConnectionCount(), 0);
}

void TestCommandServer::disconnectAllFromHandler() {
    // The owner may close everything from inside a command handler, and broadcast from a
    // Disconnected handler; the messages still buffered for that connection are dropped.
    TInbox Inbox(*FServer);
    QSignalSpy Disconnected(FServer.get(), &TCommandServer::Disconnected);
    connect(FServer.get(), &TCommandServer::CommandReceived, this,
            [this](TConnectionId, const QByteArray &, const TCommandMessage &M) {
                if (M.Word == "STATE")
                    FServer->DisconnectAll();
            });
    connect(FServer.get(), &TCommandServer::Disconnected, this,
            [this] { FServer->Broadcast("STATE", "1"); });

    TClient A(FServer->Port());
    TClient B(FServer->Port());
    QTRY_COMPARE_WITH_TIMEOUT(FServer->ConnectionCount(), 2, 5000);
    A.Send("VOLUMN\r\n1\r\nSTATE\r\n1\r\nVOLUMN\r\n2\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(Disconnected.size(), 2, 5000);
    QCOMPARE(Inbox.Messages, (QByteArrayList{"VOLUMN / 1", "STATE / 1"}));
    QTRY_VERIFY_WITH_TIMEOUT(!A.IsOpen() && !B.IsOpen(), 5000);

    // The server keeps serving newcomers afterwards.
    TClient C(FServer->Port());
    C.Send("MUTE\r\n1\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(Inbox.Messages.size(), 3, 5000);
    QCOMPARE(Inbox.Messages.last(), QByteArray("MUTE / 1"));
}

void TestCommandServer::stalledControllerIsDropped() {
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

void TestCommandServer::largeMessagesKeepReaders() {
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

void TestCommandServer::totalBacklogIsBounded_data() {
    QTest::addColumn<bool>("broadcast");
    QTest::newRow("a message of its own to each") << false;
    QTest::newRow("one message shared by all") << true;
}

void TestCommandServer::totalBacklogIsBounded() {
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

void TestCommandServer::manyControllers() {
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

QTEST_GUILESS_MAIN(TestCommandServer)
#include "tst_commandserver.moc"
