#include "CommandClient.h"
#include "ScriptedSpeaker.h"
#include "Settled.h"
#include "TestPorts.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Every reply the client handed over, as "WORD / line / line".
struct TReplies {
    QByteArrayList Got;

    explicit TReplies(TCommandClient &Client) {
        const auto Lines = [this](const char *Word) {
            return [this, Word](const QByteArrayList &L) {
                Got.append(QByteArray(Word) + (L.isEmpty() ? "" : " / " + L.join(" / ")));
            };
        };
        const auto Number = [this](const char *Word) {
            return [this, Word](qint32 V) { Got.append(Word + (" / " + QByteArray::number(V))); };
        };
        QObject::connect(&Client, &TCommandClient::ListReceived, Lines("LIST"));
        QObject::connect(&Client, &TCommandClient::PositionReceived, Lines("POSITION"));
        QObject::connect(&Client, &TCommandClient::StateReceived, Number("STATE"));
        QObject::connect(&Client, &TCommandClient::MuteReceived, Number("MUTE"));
        QObject::connect(&Client, &TCommandClient::VolumeReceived, Number("VOLUMN"));
        QObject::connect(&Client, &TCommandClient::URLReceived,
                         [this](const QByteArray &U) { Got.append("URL / " + U); });
    }
};

// Waits until the client has read what the speaker wrote so far.
bool ReadByClient(TCommandClient &Client) {
    QSignalSpy Read(Client.findChild<QTcpSocket *>(), &QTcpSocket::readyRead);
    return Read.wait(5000);
}

} // namespace

class TestCommandClient : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void writesInPostingOrderOnceConnected_data() {
        QTest::addColumn<QByteArrayList>("posted"); // command, body, command, body, ...
        QTest::addColumn<QByteArray>("wire");

        QTest::newRow("GET has its empty line")
            << QByteArrayList{"GET", ""} << QByteArray("GET\r\n\r\n");
        QTest::newRow("ADD with nothing is a count of 0")
            << QByteArrayList{"ADD", ""} << QByteArray("ADD\r\n0\r\n");
        QTest::newRow("in posting order")
            << QByteArrayList{"ADD",        "http://h/a\r\nhttp://h/b\r\n",
                              "STATE",      "3",
                              "UPDATELIST", ".hidden\r\n",
                              "VOLUMN",     "60"}
            << QByteArray("ADD\r\n2\r\nhttp://h/a\r\nhttp://h/b\r\nSTATE\r\n3\r\n"
                          "UPDATELIST\r\n1\r\n..hidden\r\nVOLUMN\r\n60\r\n");
    }

    void writesInPostingOrderOnceConnected() {
        QFETCH(QByteArrayList, posted);
        QFETCH(QByteArray, wire);
        TScriptedSpeaker Speaker;
        QVERIFY(Speaker.Listen());
        TCommandClient Client;
        Client.Start(QStringLiteral("127.0.0.1"), Speaker.Port());
        QVERIFY(!Client.IsConnected());
        for (qsizetype I = 0; I + 1 < posted.size(); I += 2)
            Client.PostCommand(posted[I], posted[I + 1]);
        QTRY_COMPARE(Speaker.Received, wire);

        // Once connected, a command goes straight out.
        Client.PostCommand("MUTE", "-1");
        QTRY_COMPARE(Speaker.Received, wire + "MUTE\r\n-1\r\n");
    }

    void failedConnect_data() {
        QTest::addColumn<bool>("silent"); // true: no answer at all; false: refused

        QTest::newRow("refused") << false;
        QTest::newRow("no answer in time") << true;
    }

    void failedConnect() {
        QFETCH(bool, silent);
        quint16 Port = 0;
        std::vector<int> Fds;
        if (silent) {
            // A listener that never accepts, its queue full: the kernel drops our SYN.
            const int Listener = ::socket(AF_INET, SOCK_STREAM, 0);
            Fds.push_back(Listener);
            sockaddr_in At{};
            At.sin_family = AF_INET;
            At.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            QCOMPARE(::bind(Listener, reinterpret_cast<sockaddr *>(&At), sizeof At), 0);
            QCOMPARE(::listen(Listener, 0), 0);
            socklen_t Size = sizeof At;
            ::getsockname(Listener, reinterpret_cast<sockaddr *>(&At), &Size);
            Port = ntohs(At.sin_port);
            for (int I = 0; I < 2; ++I) {
                const int Filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
                Fds.push_back(Filler);
                ::connect(Filler, reinterpret_cast<sockaddr *>(&At), sizeof At);
            }
        } else {
            Port = RefusingPort();
        }

        constexpr int ConnectWithinMs = 300;
        TCommandClient Client(nullptr, CommandLineTimeoutMs, ConnectWithinMs);
        QSignalSpy Failed(&Client, &TCommandClient::ConnectFailed);
        QSignalSpy Ended(&Client, &TCommandClient::Ended);
        QList<int> Order;
        connect(&Client, &TCommandClient::ConnectFailed, this, [&] { Order.append(1); });
        connect(&Client, &TCommandClient::Ended, this, [&] { Order.append(2); });
        Client.Start(QStringLiteral("127.0.0.1"), Port);
        Client.PostCommand("GET", "");
        QVERIFY(Ended.wait(ConnectWithinMs + 3000));
        QVERIFY(Settled());
        QCOMPARE(Order, QList<int>({1, 2}));
        QVERIFY(Client.HasEnded());
        Client.PostCommand("STATE", "3"); // dropped
        for (const int Fd : Fds)
            ::close(Fd);
    }

    void replies_data() {
        QTest::addColumn<QByteArray>("said");
        QTest::addColumn<QByteArrayList>("got");

        QTest::newRow("every reply word")
            << QByteArray(
                   "MUTE\r\n-1\r\nVOLUMN\r\n40\r\nSTATE\r\n3\r\nLIST\r\n2\r\nhttp://h/a\r\n"
                   "..b\r\nURL\r\nhttp://h/a%20b\r\nPOSITION\r\n3\r\n200.00\r\n50.00\r\n00:50\r\n")
            << QByteArrayList{"MUTE / -1",
                              "VOLUMN / 40",
                              "STATE / 3",
                              "LIST / http://h/a / .b",
                              "URL / http://h/a%20b",
                              "POSITION / 200.00 / 50.00 / 00:50"};
        QTest::newRow("LIST of 0 is an empty list")
            << QByteArray("LIST\r\n0\r\n") << QByteArrayList{"LIST"};
        QTest::newRow("count that is not a number gives nothing")
            << QByteArray("LIST\r\nthree\r\nSTATE\r\n1\r\n") << QByteArrayList{"STATE / 1"};
        QTest::newRow("number that is not a number gives nothing")
            << QByteArray("VOLUMN\r\n4x\r\nMUTE\r\n\r\nSTATE\r\n2\r\n")
            << QByteArrayList{"STATE / 2"};
        QTest::newRow("word in lower case is dropped alone")
            << QByteArray("list\r\nSTATE\r\n3\r\n") << QByteArrayList{"STATE / 3"};
        QTest::newRow("empty URL") << QByteArray("URL\r\n\r\n") << QByteArrayList{"URL / "};
        QTest::newRow("count above 100000 is dropped")
            << QByteArray("LIST\r\n100001\r\nMUTE\r\n0\r\n") << QByteArrayList{"MUTE / 0"};
    }

    void replies() {
        QFETCH(QByteArray, said);
        QFETCH(QByteArrayList, got);
        TScriptedSpeaker Speaker;
        QVERIFY(Speaker.Listen());
        TCommandClient Client;
        TReplies Replies(Client);
        Client.Start(QStringLiteral("127.0.0.1"), Speaker.Port());
        QVERIFY(Speaker.WaitForPeer());
        // One byte at a time, each line read before the next comes: a reply is handed over
        // whole however it arrives.
        for (const char C : said) {
            Speaker.Say(QByteArray(1, C));
            if (C == '\n')
                QVERIFY(ReadByClient(Client));
        }
        Speaker.Say("MUTE\r\n7\r\n"); // marks the end of the script
        QTRY_VERIFY(!Replies.Got.isEmpty() && Replies.Got.constLast() == "MUTE / 7");
        Replies.Got.removeLast();
        QCOMPARE(Replies.Got, got);
    }

    void endsOnce_data() {
        QTest::addColumn<bool>("fromOurSide");

        QTest::newRow("we close") << true;
        QTest::newRow("the speaker closes") << false;
    }

    void endsOnce() {
        QFETCH(bool, fromOurSide);
        TScriptedSpeaker Speaker;
        QVERIFY(Speaker.Listen());
        TCommandClient Client;
        TReplies Replies(Client);
        QSignalSpy Ended(&Client, &TCommandClient::Ended);
        QSignalSpy Failed(&Client, &TCommandClient::ConnectFailed);
        Client.Start(QStringLiteral("127.0.0.1"), Speaker.Port());
        Client.PostCommand("GET", "");
        QTRY_COMPARE(Speaker.Received, QByteArray("GET\r\n\r\n"));
        QTRY_VERIFY(Client.IsConnected());

        if (fromOurSide) {
            Client.PostCommand("STATE", "1");
            Client.Close();
            QCOMPARE(Ended.count(), 0); // from the event loop, never inside Close()
            Client.Close();
        } else {
            Speaker.Say("STATE\r\n3\r\n");
            Speaker.Peer->disconnectFromHost();
        }
        QVERIFY(Ended.wait(3000));
        Client.PostCommand("VOLUMN", "10");
        Client.Close();
        // The speaker's end of the connection closing is the sentinel: nothing comes after.
        QTRY_COMPARE(Speaker.Peer->state(), QAbstractSocket::UnconnectedState);
        QVERIFY(Settled());
        QCOMPARE(Ended.count(), 1);
        QCOMPARE(Failed.count(), 0);
        // What went out before our close arrives; nothing after it.
        QCOMPARE(Speaker.Received,
                 QByteArray(fromOurSide ? "GET\r\n\r\nSTATE\r\n1\r\n" : "GET\r\n\r\n"));
        // A reply written right before the speaker closed still counts.
        QCOMPARE(Replies.Got, fromOurSide ? QByteArrayList() : QByteArrayList{"STATE / 3"});
    }

    void lineInTimeWhileBusy_data() {
        QTest::addColumn<bool>("sentInTime");
        QTest::addColumn<QByteArrayList>("expected");
        QTest::newRow("sent in time, read after the deadline")
            << true << QByteArrayList{"VOLUMN / 30"};
        QTest::newRow("sent after the deadline") << false << QByteArrayList{"MUTE / 1"};
    }
    void lineInTimeWhileBusy() {
        // Busy past a line's deadline: the line is judged by when it arrived.
        QFETCH(bool, sentInTime);
        QFETCH(QByteArrayList, expected);
        constexpr int TimeoutMs = 300;
        TScriptedSpeaker Speaker;
        QVERIFY(Speaker.Listen());
        TCommandClient Client(nullptr, TimeoutMs);
        TReplies Replies(Client);
        Client.Start(QStringLiteral("127.0.0.1"), Speaker.Port());
        QVERIFY(Speaker.WaitForPeer());
        Speaker.Say("VOLUMN\r\n");
        QVERIFY(ReadByClient(Client));
        // The thread stays busy until the line's deadline is well past: it runs from the read
        // at the latest, and the kernel dates arrivals only to its tick (up to 10 ms).
        const QDeadlineTimer Busy(2 * TimeoutMs);
        if (sentInTime)
            Speaker.Say("30\r\n");
        while (!Busy.hasExpired())
            QThread::yieldCurrentThread();
        if (!sentInTime)
            Speaker.Say("30\r\nMUTE\r\n1\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(Replies.Got, expected, 5000);
    }

    void stalledReplyKeepsTheLoopRunning() {
        constexpr int LineTimeoutMs = 500;
        constexpr int BeatMs = 20;
        TScriptedSpeaker Speaker;
        QVERIFY(Speaker.Listen());
        TCommandClient Client(nullptr, LineTimeoutMs);
        TReplies Replies(Client);
        Client.Start(QStringLiteral("127.0.0.1"), Speaker.Port());
        QVERIFY(Speaker.WaitForPeer());
        int Ticks = 0, TicksAtReply = -1;
        qint64 ReplyAfterMs = -1;
        QElapsedTimer Since;
        QTimer Beat;
        connect(&Beat, &QTimer::timeout, this, [&] { ++Ticks; });
        connect(&Client, &TCommandClient::ListReceived, this, [&] {
            TicksAtReply = Ticks;
            ReplyAfterMs = Since.elapsed();
        });
        Beat.start(BeatMs);

        Since.start();
        Speaker.Say("LIST\r\n3\r\nhttp://h/a\r\n");
        // The missing lines end the reply a line time-out after the last line that came;
        // nothing half read is handed over before, and the loop ran meanwhile.
        QTRY_COMPARE(Replies.Got, QByteArrayList{"LIST / http://h/a /  / "});
        QVERIFY2(ReplyAfterMs >= LineTimeoutMs - 50, QByteArray::number(ReplyAfterMs));
        QVERIFY2(TicksAtReply >= LineTimeoutMs / BeatMs / 2, QByteArray::number(TicksAtReply));
        // Lines arriving afterwards are read as words again.
        Speaker.Say("http://h/b\r\nSTATE\r\n2\r\n");
        QTRY_COMPARE(Replies.Got.size(), 2);
        QCOMPARE(Replies.Got.constLast(), QByteArray("STATE / 2"));
        QVERIFY(Client.IsConnected());
    }
};

QTEST_GUILESS_MAIN(TestCommandClient)
#include "tst_commandclient.moc"
