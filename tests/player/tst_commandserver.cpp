// The command server reading: admission, framing, time-outs, the allow switch.
#include "CommandServerRig.h"

#include "SharingState.h"

#include <QThread>

#include <memory>

#include <sys/socket.h>

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
    void answersBeforeClose_data();
    void answersBeforeClose();

private:
    TSharingState FSharing;
    std::unique_ptr<TCommandServer> FServer;
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
    const QByteArrayList Expected{"VOLUMN / 40", "ADD / http://a/1.mp3 / .x", "GET",
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
        << QByteArrayList{"MUTE / 1"};
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

void TestCommandServer::answersBeforeClose_data() {
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<int>("size"); // of each answer, in KiB
    QTest::addColumn<int>("answers");
    QTest::newRow("GET") << QByteArray("GET\r\n\r\n") << 1 << 1;
    QTest::newRow("three") << QByteArray("GET\r\n\r\nSTATE\r\n1\r\nGET\r\n\r\n") << 1 << 3;
    QTest::newRow("more than the socket takes at once")
        << QByteArray("GET\r\n\r\nGET\r\n\r\n") << 8192 << 2;
    QTest::newRow("none for an unfinished one")
        << QByteArray("GET\r\n\r\nADD\r\n2\r\nhttp://a/1.mp3\r\n") << 1 << 1;
}

void TestCommandServer::answersBeforeClose() {
    // Every command sent before the end of input is answered, then the connection closes.
    QFETCH(QByteArray, sent);
    QFETCH(int, size);
    QFETCH(int, answers);
    const QByteArray Payload = QByteArrayList(size, QByteArray(1023, 'a')).join('\n');
    connect(FServer.get(), &TCommandServer::CommandReceived, this,
            [&](TConnectionId Id) { FServer->SendToConnection(Id, "LIST", Payload); });
    TClient Client(FServer->Port());
    Client.KeepBytes = false;
    Client.Send(sent);
    QCOMPARE(::shutdown(int(Client.Socket.socketDescriptor()), SHUT_WR), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!Client.IsOpen(), 20000);
    QCOMPARE(Client.ReceivedCount, answers * BuildMessage("LIST", Payload).size());
    QTRY_COMPARE_WITH_TIMEOUT(FServer->ConnectionCount(), 0, 5000);
}

QTEST_GUILESS_MAIN(TestCommandServer)
#include "tst_commandserver.moc"
