#include "AsciiText.h"
#include "CommandProtocol.h"
#include "EventStream.h"
#include "MediaServer.h"
#include "MusicLibrary.h"
#include "ScriptedSpeaker.h"
#include "SharingState.h"
#include "WebRemote.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>
#include <thread>

namespace {

// A browser's connection: what the server sent so far.
struct TReader {
    QTcpSocket Socket;
    QByteArray Text;
    TReader(quint16 Port, const QByteArray &Request, const QHostAddress &From = {}) {
        if (!From.isNull())
            Socket.bind(From);
        QObject::connect(&Socket, &QTcpSocket::readyRead, &Socket,
                         [this] { Text += Socket.readAll(); });
        Socket.connectToHost(QHostAddress::LocalHost, Port);
        Socket.write(Request);
    }
    int Status() const { return Text.mid(9, 3).toInt(); }
};

QByteArray Request(const QByteArray &Method, const QByteArray &Path, const QByteArray &Extra = {},
                   const QByteArray &Body = {}) {
    return Method + ' ' + Path + " HTTP/1.1\r\nHost: 127.0.0.1:37401\r\n" + Extra +
           "Content-Length: " + QByteArray::number(Body.size()) + "\r\n\r\n" + Body;
}

QByteArray Post(const QByteArray &Path, const QByteArray &Body) {
    return Request("POST", Path, "Content-Type: application/json\r\n", Body);
}

// The whole answer to one request (the server closes every connection).
QByteArray Fetch(quint16 Port, const QByteArray &Bytes) {
    TReader Reader(Port, Bytes);
    (void)QTest::qWaitFor(
        [&] { return Reader.Socket.state() == QAbstractSocket::UnconnectedState; }, 5000);
    return Reader.Text + Reader.Socket.readAll();
}

const QByteArrayList Tracks = {"http://h/a.mp3", "http://h/b.mp3", "http://h/c.mp3"};

// The web remote on a media server, this computer's speaker a scripted one.
struct TRig {
    TMusicLibrary Library;
    TSharingState Sharing;
    TScriptedSpeaker Speaker;
    TMediaServer Server{[this] { return Library.Snapshot(); }};
    TWebRemote Web{Library, Sharing};
    explicit TRig(int IdleMs = TWebRemote::SessionIdleMs, int KeepAliveMs = TWebRemote::KeepAliveMs,
                  int CallMs = TWebRemote::CallTimeoutMs) {
        Speaker.Listen();
        Web.SetLocalSpeakerPort(Speaker.Port());
        Web.SetSessionIdleMs(IdleMs);
        Web.SetKeepAliveMs(KeepAliveMs);
        Web.SetCallTimeoutMs(CallMs);
        Web.Start(Server);
        Server.Start(0);
    }
    std::unique_ptr<TReader> Events(const QHostAddress &From = {}) {
        return std::make_unique<TReader>(
            Server.Port(), Request("GET", "/vx-remote/api/events?host=My%20Computer"), From);
    }
    // A stream on this computer's speaker, which holds Tracks; the list version it saw.
    int Watch(std::unique_ptr<TReader> &Reader) {
        Reader = Events();
        if (!Speaker.WaitForPeer() ||
            !QTest::qWaitFor([&] { return Speaker.Received == BuildControllerMessage("GET", {}); }))
            return -1;
        Speaker.Say(BuildMessage("LIST", JoinLines(Tracks)));
        static const QRegularExpression Version("\"version\":(\\d+)");
        QRegularExpressionMatch Match;
        if (!QTest::qWaitFor([&] { return (Match = Version.match(Reader->Text)).hasMatch(); }))
            return -1;
        Speaker.Received.clear();
        return Match.captured(1).toInt();
    }
};

} // namespace

class TestWebRemote : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void requestChecks_data() {
        QTest::addColumn<QByteArray>("Bytes");
        QTest::addColumn<int>("Status");
        const QByteArray Json = "Content-Type: application/json\r\n";
        const auto Host = [](const QByteArray &Name) {
            return "GET /vx-remote/api/speakers HTTP/1.1\r\nHost: " + Name + "\r\n\r\n";
        };
        QTest::newRow("page") << Request("GET", "/") << 200;
        QTest::newRow("page file, HEAD") << Request("HEAD", "/vx-remote/app.js") << 200;
        QTest::newRow("under the prefix, not a route") << Request("GET", "/vx-remote/x.js") << 404;
        QTest::newRow("localhost") << Host("LocalHost") << 200;
        QTest::newRow("own address, no port") << Host("127.0.0.1") << 200;
        QTest::newRow("foreign name") << Host("music.example:37401") << 403;
        QTest::newRow("address not ours") << Host("10.9.9.9") << 403;
        QTest::newRow("name with the root's dot") << Host("localhost.:37401") << 200;
        QTest::newRow("loopback address") << Host("127.0.0.2") << 200;
        QTest::newRow("address, then a name") << Host("127.0.0.1 x.example") << 403;
        QTest::newRow("same origin")
            << Request("GET", "/vx-remote/api/library", "Origin: http://127.0.0.1:37401\r\n")
            << 200;
        QTest::newRow("foreign origin") << Request("POST", "/vx-remote/api/command",
                                                   Json + "Origin: http://x.example\r\n", "{}")
                                        << 403;
        QTest::newRow("opaque origin") << Request("GET", "/", "Origin: null\r\n") << 403;
        QTest::newRow("POST on a GET route") << Post("/vx-remote/api/library", "{}") << 405;
        QTest::newRow("GET on a POST route") << Request("GET", "/vx-remote/api/command") << 405;
        QTest::newRow("PUT on the page") << Request("PUT", "/") << 405;
        QTest::newRow("form post")
            << Request("POST", "/vx-remote/api/command", "Content-Type: text/plain\r\n", "{}")
            << 415;
        QTest::newRow("JSON with charset")
            << Request("POST", "/vx-remote/api/command",
                       "Content-Type: application/json; charset=utf-8\r\n", "{}")
            << 404;
        QTest::newRow("body past 64 KiB")
            << Post("/vx-remote/api/command", QByteArray(65537, ' ')) << 413;
        QTest::newRow("not an object") << Post("/vx-remote/api/command", "[1]") << 400;
        QTest::newRow("no session")
            << Post("/vx-remote/api/command", R"({"host":"k","do":"stop"})") << 404;
        QTest::newRow("invalid host")
            << Post("/vx-remote/api/play", R"({"host":"a;b","version":1})") << 400;
        QTest::newRow("control character in host")
            << Post("/vx-remote/api/play", R"({"host":"a\nb","version":1})") << 400;
        QTest::newRow("stale library")
            << Post("/vx-remote/api/play", R"({"host":"localhost","version":0})") << 409;
        QTest::newRow("events without host") << Request("GET", "/vx-remote/api/events") << 400;
    }
    void requestChecks() {
        QFETCH(QByteArray, Bytes);
        QFETCH(int, Status);
        TRig Rig;
        const QByteArray Answer = Fetch(Rig.Server.Port(), Bytes);
        QCOMPARE(Answer.mid(9, 3).toInt(), Status);
    }

    // Tracks for this computer go to its speaker by "ADD", as any controller's do.
    void playOnThisComputer() {
        TRig Rig;
        Rig.Library.AddBatch({"/m/a.mp3", "/m/b.mp3"});
        const QByteArray Library =
            Fetch(Rig.Server.Port(), Request("GET", "/vx-remote/api/library"));
        const int Version = QJsonDocument::fromJson(Library.mid(Library.indexOf("\r\n\r\n") + 4))
                                .object()
                                .value("version")
                                .toInt();
        const QByteArray Body =
            R"({"host":"My Computer","rows":[1],"version":)" + QByteArray::number(Version) + '}';
        QCOMPARE(Fetch(Rig.Server.Port(), Post("/vx-remote/api/play", Body)).mid(9, 3), "200");
        QVERIFY(Rig.Speaker.WaitForPeer());
        const QByteArray URL = TrackURL("127.0.0.1", Rig.Server.Port(), "b.mp3");
        QTRY_COMPARE(Rig.Speaker.Received, BuildControllerMessage("ADD", URL));
    }

    // Without a speaker of its own listening, this computer says so instead of taking tracks.
    void noSpeakerOnThisComputer() {
        TRig Rig;
        Rig.Web.SetLocalSpeakerPort(0);
        const QByteArray Answer =
            Fetch(Rig.Server.Port(),
                  Post("/vx-remote/api/play", R"({"host":"My Computer","version":0})"));
        QCOMPARE(Answer.mid(9, 3), "503");
        QVERIFY(Answer.contains("command port is taken"));
    }

    void commands_data() {
        QTest::addColumn<QByteArray>("Fields");
        QTest::addColumn<QByteArray>("Wire");
        const auto Update = [](const QByteArrayList &List) {
            return BuildControllerMessage("UPDATELIST", JoinLines(List));
        };
        QTest::newRow("playpause")
            << QByteArray(R"("do":"playpause")") << BuildControllerMessage("STATE", "3");
        QTest::newRow("stop") << QByteArray(R"("do":"stop")")
                              << BuildControllerMessage("STATE", "1");
        QTest::newRow("mute") << QByteArray(R"("do":"mute")")
                              << BuildControllerMessage("MUTE", "-1");
        QTest::newRow("volume") << QByteArray(R"("do":"volume","value":40)")
                                << BuildControllerMessage("VOLUMN", "40");
        QTest::newRow("seek") << QByteArray(R"("do":"seek","value":25)")
                              << BuildControllerMessage("UPDATEPOSITION", "25");
        QTest::newRow("play a row")
            << QByteArray(R"("do":"play","row":1)") << BuildControllerMessage("URL", Tracks[1]);
        QTest::newRow("remove") << QByteArray(R"("do":"remove","rows":[0])")
                                << Update({Tracks[1], Tracks[2]});
        QTest::newRow("up") << QByteArray(R"("do":"up","rows":[2])")
                            << Update({Tracks[0], Tracks[2], Tracks[1]});
        QTest::newRow("down") << QByteArray(R"("do":"down","rows":[0])")
                              << Update({Tracks[1], Tracks[0], Tracks[2]});
        QTest::newRow("drop") << QByteArray(R"("do":"drop","rows":[2],"target":0)")
                              << Update({Tracks[2], Tracks[0], Tracks[1]});
        QTest::newRow("stale list: nothing goes")
            << QByteArray(R"("do":"remove","rows":[0],"version":0)") << QByteArray();
        QTest::newRow("row past the list: nothing goes")
            << QByteArray(R"("do":"play","row":3)") << QByteArray();
    }
    void commands() {
        QFETCH(QByteArray, Fields);
        QFETCH(QByteArray, Wire);
        TRig Rig;
        std::unique_ptr<TReader> Reader;
        const int Version = Rig.Watch(Reader);
        QVERIFY(Version > 0);
        const QByteArray Body = R"({"host":"My Computer","version":)" +
                                QByteArray::number(Version) + ',' + Fields + '}';
        const QByteArray Answer = Fetch(Rig.Server.Port(), Post("/vx-remote/api/command", Body));
        QCOMPARE(Answer.startsWith("HTTP/1.1 200"), !Wire.isEmpty());
        // A sentinel behind the command: once it arrives, so has everything before it.
        Fetch(Rig.Server.Port(),
              Post("/vx-remote/api/command", R"({"host":"localhost","do":"stop"})"));
        const QByteArray Sentinel = BuildControllerMessage("STATE", "1");
        QTRY_VERIFY(Rig.Speaker.Received.endsWith(Sentinel));
        QCOMPARE(Rig.Speaker.Received.chopped(Sentinel.size()), Wire);
    }

    // A command the browser was told failed, the player being busy, never happens later.
    void busyPlayerDropsLateCommand() {
        TRig Rig(TWebRemote::SessionIdleMs, TWebRemote::KeepAliveMs, 50);
        std::unique_ptr<TReader> Reader;
        QVERIFY(Rig.Watch(Reader) > 0);
        QByteArray Answer; // the GUI thread, this one, stays busy until it has come
        std::thread([&] {
            QTcpSocket Socket;
            Socket.connectToHost(QHostAddress::LocalHost, Rig.Server.Port());
            Socket.write(Post("/vx-remote/api/command", R"({"host":"localhost","do":"mute"})"));
            while (Socket.waitForReadyRead(5000))
                Answer += Socket.readAll();
        }).join();
        QCOMPARE(Answer.mid(9, 3), "503");
        Fetch(Rig.Server.Port(),
              Post("/vx-remote/api/command", R"({"host":"localhost","do":"stop"})"));
        QTRY_COMPARE(Rig.Speaker.Received, BuildControllerMessage("STATE", "1"));
    }

    // A change on the speaker reaches every browser watching it.
    void stateReachesTheStream() {
        TRig Rig;
        std::unique_ptr<TReader> Reader;
        QVERIFY(Rig.Watch(Reader) > 0);
        const auto Second = Rig.Events();
        Rig.Speaker.Say(BuildMessage("STATE", "3"));
        for (TReader *R : {Reader.get(), Second.get()})
            QTRY_VERIFY(
                R->Text.contains("event: state\ndata: {\"information\":\"   \",\"muted\":false,"
                                 "\"position\":0,\"state\":3,"));
    }

    // The 33rd stream is refused; stopping with streams open ends them at once.
    void streamBound() {
        TRig Rig;
        std::vector<std::unique_ptr<TReader>> Readers;
        for (int I = 0; I < 32; ++I)
            Readers.push_back(Rig.Events());
        QTRY_COMPARE(Rig.Web.StreamCount(), 32);
        // Another address: the server takes at most 32 connections from one.
        const auto Extra = Rig.Events(QHostAddress("127.0.0.2"));
        QTRY_COMPARE(Extra->Status(), 503);
        Readers.pop_back(); // a browser that leaves frees its place at once, not at a ping
        QTRY_COMPARE(Rig.Web.StreamCount(), 31);
        QElapsedTimer Stopping;
        Stopping.start();
        Rig.Server.Stop();
        QVERIFY(Stopping.elapsed() < TWebRemote::KeepAliveMs / 2);
    }

    // A browser that does not read holds one event of each kind, the newest.
    void newestEventWins() {
        TEventStream Stream(TWebRemote::KeepAliveMs, {});
        const QByteArray List = TEventStream::Format("list", "{}");
        Stream.Put(TEventStream::ListKind, List);
        QByteArray State;
        for (int I = 0; I < 1000; ++I)
            Stream.Put(TEventStream::StateKind,
                       State = TEventStream::Format("state", QByteArray(I, 'x')));
        QCOMPARE(Stream.QueuedBytes(), List.size() + State.size());
        QByteArray Sent(List.size() + State.size(), Qt::Uninitialized);
        for (qint64 At = 0; At < Sent.size();)
            At += Stream.Read(Sent.data() + At, Sent.size() - At, -1);
        QCOMPARE(Sent, List + State);
    }

    // The session ends once no browser has watched it for the idle time.
    void sessionEndsWhenUnwatched() {
        TRig Rig(100, 100);
        std::unique_ptr<TReader> Reader;
        QVERIFY(Rig.Watch(Reader) > 0);
        QCOMPARE(Rig.Web.SessionCount(), 1);
        Reader.reset();
        QTRY_VERIFY(Rig.Speaker.Peer->state() == QAbstractSocket::UnconnectedState);
        QCOMPARE(Rig.Web.SessionCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestWebRemote)
#include "tst_webremote.moc"
