#include "AsciiText.h"
#include "ClientShares.h"
#include "CommandProtocol.h"
#include "CoverPicture.h"
#include "EventStream.h"
#include "ListPages.h"
#include "MediaServer.h"
#include "MusicLibrary.h"
#include "RemoteSession.h"
#include "ScriptedSpeaker.h"
#include "SharingState.h"
#include "WebRemote.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
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

QJsonObject Body(const QByteArray &Answer) {
    return QJsonDocument::fromJson(Answer.mid(Answer.indexOf("\r\n\r\n") + 4)).object();
}

// Covers as the store gives them: one known, made.
const QByteArray KnownCover(CoverHashChars, 'a');
struct TFakeCovers : TThumbnailSource {
    bool IsKnown(const QByteArray &Hash) const override { return Hash == KnownCover; }
    TResult Thumbnail(const QByteArray &Hash, int, int, QByteArray &Jpeg) override {
        Jpeg = "jpeg";
        return IsKnown(Hash) ? TResult::Made : TResult::Unknown;
    }
};

const QByteArrayList Tracks = {"http://h/a.mp3", "http://h/b.mp3", "http://h/c.mp3"};

// The web remote on a media server, this computer's speaker a scripted one.
struct TRig {
    TMusicLibrary Library;
    TSharingState Sharing;
    TScriptedSpeaker Speaker;
    TMediaServer Server{[this] { return Library.Snapshot(); }};
    TWebRemote Web{Library, Sharing};
    explicit TRig(int IdleMs = TWebRemote::SessionIdleMs, int KeepAliveMs = TWebRemote::KeepAliveMs,
                  int CallMs = TWebRemote::CallTimeoutMs,
                  int LifetimeMs = TWebRemote::StreamLifetimeMs) {
        Speaker.Listen();
        Web.SetLocalSpeakerPort(Speaker.Port());
        Web.SetSessionIdleMs(IdleMs);
        Web.SetKeepAliveMs(KeepAliveMs);
        Web.SetCallTimeoutMs(CallMs);
        Web.SetStreamLifetimeMs(LifetimeMs);
        Web.Start(Server);
        Server.Start(0);
    }
    // Opens the watch of this computer's speaker as the page does; its stream token.
    QByteArray Open() {
        const QByteArray Answer =
            Fetch(Server.Port(), Post("/vx-remote/api/watch", R"({"host":"My Computer"})"));
        return Answer.mid(Answer.lastIndexOf(':') + 2).chopped(2); // {"stream":"<token>"}
    }
    std::unique_ptr<TReader> Events(const QByteArray &Token, const QHostAddress &From = {}) {
        return std::make_unique<TReader>(
            Server.Port(), Request("GET", "/vx-remote/api/events?stream=" + Token), From);
    }
    // A stream on this computer's speaker, which holds Tracks; the list version it saw.
    int Watch(std::unique_ptr<TReader> &Reader) {
        Reader = Events(Open());
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
    // The speaker's next list, as the first list event after version After shows it.
    QJsonObject SayList(TReader &Reader, int After, const QByteArrayList &List) {
        Speaker.Say(BuildMessage("LIST", JoinLines(List)));
        QJsonObject Event;
        (void)QTest::qWaitFor([&] {
            // The stream comes in chunks: their sizes go.
            QByteArray Text;
            for (qsizetype At = Reader.Text.indexOf("\r\n\r\n") + 4, Line;
                 (Line = Reader.Text.indexOf("\r\n", At)) > 0; At = Line + 2) {
                const qsizetype Size = Reader.Text.mid(At, Line - At).toLongLong(nullptr, 16);
                Text += Reader.Text.mid(Line + 2, Size);
                Line += Size + 2;
            }
            const qsizetype At = Text.lastIndexOf("event: list\ndata: ");
            const qsizetype End = Text.indexOf("\n\n", At);
            if (At >= 0 && End > At)
                Event = QJsonDocument::fromJson(Text.sliced(At + 18, End - At - 18)).object();
            return Event.value("version").toInt() > After;
        });
        return Event;
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
        QTest::newRow("events without a token") << Request("GET", "/vx-remote/api/events") << 404;
        QTest::newRow("unknown library view")
            << Request("GET", "/vx-remote/api/library?view=x") << 400;
    }
    void requestChecks() {
        QFETCH(QByteArray, Bytes);
        QFETCH(int, Status);
        TRig Rig;
        const QByteArray Answer = Fetch(Rig.Server.Port(), Bytes);
        QCOMPARE(Answer.mid(9, 3).toInt(), Status);
    }

    void coverRoute_data() {
        // "LIB": the path of a library file named like the route
        QTest::addColumn<QByteArray>("Path");
        QTest::addColumn<QByteArray>("Extra");
        QTest::addColumn<int>("Status");
        const QByteArray Known = "/vx-remote/cover/" + KnownCover;
        const QByteArray Tag = "If-None-Match: \"" + KnownCover + "-96\"\r\n";
        QTest::newRow("made") << Known + "-96.jpg" << QByteArray() << 200;
        QTest::newRow("large, HEAD") << Known + "-300.jpg" << QByteArray() << 200;
        QTest::newRow("same tag") << Known + "-96.jpg" << Tag << 304;
        QTest::newRow("other size's tag") << Known + "-300.jpg" << Tag << 200;
        QTest::newRow("unknown") << "/vx-remote/cover/" + QByteArray(40, 'b') + "-96.jpg"
                                 << QByteArray() << 404;
        for (const char *Name :
             {"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA-96.jpg", "aaaa-96.jpg",
              "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa-97.jpg",
              "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa-96.jpgx", "", "..%2F..%2Fetc%2Fpasswd"})
            QTest::newRow(Name) << "/vx-remote/cover/" + QByteArray(Name) << QByteArray() << 404;
        QTest::newRow("another site")
            << Known + "-96.jpg" << QByteArray("Sec-Fetch-Site: cross-site\r\n") << 403;
        QTest::newRow("library file by its path") << QByteArray("LIB") << QByteArray() << 200;
        QTest::newRow("library file by its end")
            << "/vx-remote/cover/" + KnownCover + "-96.mp3" << QByteArray() << 200;
    }
    void coverRoute() {
        QFETCH(QByteArray, Path);
        QFETCH(QByteArray, Extra);
        QFETCH(int, Status);
        TRig Rig;
        Rig.Web.SetCovers(std::make_shared<TFakeCovers>());
        QTemporaryDir Dir;
        const QByteArray File =
            QFile::encodeName(Dir.filePath("vx-remote/cover/" + KnownCover + "-96.mp3"));
        QVERIFY(QDir().mkpath(Dir.filePath("vx-remote/cover")));
        QFile Out(QFile::decodeName(File));
        QVERIFY(Out.open(QIODevice::WriteOnly) && Out.write("library") == 7);
        Out.close();
        Rig.Library.AddBatch({File});
        const bool Head = QByteArray(QTest::currentDataTag()).endsWith("HEAD");
        const QByteArray Answer = Fetch(
            Rig.Server.Port(), Request(Head ? "HEAD" : "GET", Path == "LIB" ? File : Path, Extra));
        QCOMPARE(Answer.mid(9, 3).toInt(), Status);
        const QByteArray Body = Answer.mid(Answer.indexOf("\r\n\r\n") + 4);
        if (Path == "LIB" || Path.endsWith(".mp3"))
            QCOMPARE(Body, "library");
        else if (Status == 200 || Status == 304)
            QVERIFY(Answer.contains("\r\nETag: \"" + Path.sliced(17).chopped(4) + '"') &&
                    Answer.contains("\r\nCache-Control: public, max-age=31536000, immutable") &&
                    Body == (Status == 200 && !Head ? "jpeg" : ""));
    }

    // Tracks for this computer go to its speaker by "ADD", as any controller's do; what a page
    // names is checked against the version it was shown.
    void playOnThisComputer_data() {
        QTest::addColumn<QByteArray>("Fields");
        QTest::addColumn<int>("VersionStep"); // from the version the page was shown
        QTest::addColumn<int>("Status");
        QTest::addColumn<QByteArrayList>("Played");
        const QByteArrayList Both{"a.mp3", "b.mp3"};
        QTest::newRow("a row") << QByteArray(R"("ids":[1])") << 0 << 200 << QByteArrayList{"b.mp3"};
        QTest::newRow("what the search shows")
            << QByteArray(R"("ids":[],"filter":"B.MP")") << 0 << 200 << QByteArrayList{"b.mp3"};
        QTest::newRow("all") << QByteArray() << 0 << 200 << Both;
        QTest::newRow("an album") << QByteArray(R"("album":0)") << 0 << 200 << Both;
        QTest::newRow("id out of range") << QByteArray(R"("ids":[2])") << 0 << 400 << Both;
        QTest::newRow("negative id") << QByteArray(R"("ids":[-1])") << 0 << 400 << Both;
        QTest::newRow("id not whole") << QByteArray(R"("ids":[0.5])") << 0 << 400 << Both;
        QTest::newRow("more ids than rows") << QByteArray(R"("ids":[0,1,0])") << 0 << 400 << Both;
        QTest::newRow("a later version") << QByteArray(R"("ids":[0])") << 1 << 409 << Both;
        QTest::newRow("album out of range") << QByteArray(R"("album":9)") << 0 << 400 << Both;
        QTest::newRow("album not whole") << QByteArray(R"("album":0.5)") << 0 << 400 << Both;
        QTest::newRow("search without a hit")
            << QByteArray(R"("filter":"zzz")") << 0 << 400 << Both;
        QTest::newRow("search of an older version")
            << QByteArray(R"("filter":"a")") << -1 << 409 << Both;
    }
    void playOnThisComputer() {
        QFETCH(QByteArray, Fields);
        QFETCH(int, VersionStep);
        QFETCH(int, Status);
        QFETCH(QByteArrayList, Played);
        TRig Rig;
        Rig.Library.AddBatch({"/m/a.mp3", "/m/b.mp3"});
        const int Version = Body(Fetch(Rig.Server.Port(), Request("GET", "/vx-remote/api/library")))
                                .value("version")
                                .toInt();
        const QByteArray Play = R"({"host":"My Computer","version":)" +
                                QByteArray::number(Version + VersionStep) +
                                (Fields.isEmpty() ? "" : ",") + Fields + '}';
        QCOMPARE(Fetch(Rig.Server.Port(), Post("/vx-remote/api/play", Play)).mid(9, 3).toInt(),
                 Status);
        if (Status != 200)
            return;
        QVERIFY(Rig.Speaker.WaitForPeer());
        QByteArrayList URLs;
        for (const QByteArray &Name : Played)
            URLs << TrackURL("127.0.0.1", Rig.Server.Port(), Name);
        QTRY_COMPARE(Rig.Speaker.Received, BuildControllerMessage("ADD", JoinLines(URLs)));
    }

    // No answer shows a local path (a home folder's name); library views: tst_libraryanswer.
    void noLocalPath_data() {
        QTest::addColumn<QByteArray>("Bytes");
        QTest::addColumn<int>("Status");
        QTest::newRow("library") << Request("GET", "/vx-remote/api/library") << 200;
        QTest::newRow("play") << Post("/vx-remote/api/play",
                                      R"({"host":"My Computer","version":2,"ids":[0]})")
                              << 200;
        QTest::newRow("speakers") << Request("GET", "/vx-remote/api/speakers") << 200;
    }
    void noLocalPath() {
        QFETCH(QByteArray, Bytes);
        QFETCH(int, Status);
        TRig Rig;
        Rig.Library.AddBatch({"/home/alice/Music/a.mp3"});
        const QByteArray Answer = Fetch(Rig.Server.Port(), Bytes);
        QCOMPARE(Answer.mid(9, 3).toInt(), Status);
        QVERIFY2(!Answer.contains("/home/alice"), Answer.constData());
    }

    // A play waits for the GUI thread; a second from the same client meanwhile is turned away.
    void onePlayInFlightPerClient() {
        TRig Rig;
        Rig.Library.AddBatch({"/m/a.mp3"});
        const QByteArray Play = Post("/vx-remote/api/play", R"({"host":"My Computer","version":)" +
                                                                QByteArray::number(2) + '}');
        QByteArray First; // the GUI thread, this one, stays busy until an answer has come
        std::thread([&] {
            QTcpSocket A, B;
            for (QTcpSocket *Socket : {&A, &B}) {
                Socket->connectToHost(QHostAddress::LocalHost, Rig.Server.Port());
                Socket->write(Play);
                Socket->waitForBytesWritten(5000);
            }
            for (int Wait = 0; Wait < 100 && First.isEmpty(); ++Wait)
                for (QTcpSocket *Socket : {&A, &B})
                    if (Socket->waitForReadyRead(50))
                        First = Socket->readAll();
        }).join();
        QCOMPARE(First.mid(9, 3), "429");
        QVERIFY(Rig.Speaker.WaitForPeer());
        QTRY_VERIFY(Rig.Speaker.Received.startsWith("ADD"));
    }

    // The library by range and filter from one answer per version, asked again with its ETag.
    void libraryPages_data() {
        QTest::addColumn<QByteArray>("Query");
        QTest::addColumn<bool>("WithTag");
        QTest::addColumn<int>("Status");
        QTest::addColumn<int>("Matched");
        QTest::addColumn<QByteArray>("Last"); // the page's last name
        QTest::newRow("first page")
            << QByteArray() << false << 200 << 1200 << QByteArray("t499.mp3");
        QTest::newRow("last rows") << QByteArray("?from=1150&count=100") << false << 200 << 1200
                                   << QByteArray("t1199.mp3");
        QTest::newRow("filter, A-Z case ignored")
            << QByteArray("?filter=T119") << false << 200 << 11 << QByteArray("t1199.mp3");
        QTest::newRow("past the end")
            << QByteArray("?from=5000") << false << 200 << 1200 << QByteArray();
        QTest::newRow("stale version")
            << QByteArray("?version=1") << false << 409 << 0 << QByteArray();
        QTest::newRow("unchanged") << QByteArray() << true << 304 << 0 << QByteArray();
    }
    void libraryPages() {
        QFETCH(QByteArray, Query);
        QFETCH(bool, WithTag);
        QFETCH(int, Status);
        QFETCH(int, Matched);
        QFETCH(QByteArray, Last);
        TRig Rig;
        QByteArrayList Files;
        for (int I = 0; I < 1200; ++I)
            Files << "/m/t" + QByteArray::number(I) + ".mp3";
        Rig.Library.AddBatch(Files);
        const QByteArray First = Fetch(Rig.Server.Port(), Request("GET", "/vx-remote/api/library"));
        static const QRegularExpression Tag("ETag: (\"[^\"]+\")");
        const QByteArray Extra =
            WithTag ? "If-None-Match: " + Tag.match(First).captured(1).toUtf8() + "\r\n" : "";
        const QByteArray Answer =
            Fetch(Rig.Server.Port(), Request("GET", "/vx-remote/api/library" + Query, Extra));
        QCOMPARE(Answer.mid(9, 3).toInt(), Status);
        if (Status != 200)
            return;
        const QJsonObject Page = Body(Answer);
        QCOMPARE(Page.value("count").toInt(), Matched);
        const QJsonArray Rows = Page.value("tracks").toArray();
        QCOMPARE(Rows.isEmpty() ? QByteArray() : Rows.last()[1].toString().toUtf8(), Last);
    }

    // A long play list: the event brings its first page, the page asks for the rest by range.
    void listPages_data() {
        QTest::addColumn<QByteArray>("Range");
        QTest::addColumn<bool>("Stale");
        QTest::addColumn<int>("Status");
        QTest::addColumn<int>("Size"); // rows from row 990 on
        QTest::newRow("in range") << QByteArray(R"("from":990,"count":100)") << false << 200 << 10;
        QTest::newRow("past the end")
            << QByteArray(R"("from":1000,"count":100)") << false << 200 << 0;
        QTest::newRow("more than a page")
            << QByteArray(R"("from":0,"count":501)") << false << 400 << 0;
        QTest::newRow("stale version") << QByteArray(R"("from":0,"count":10)") << true << 409 << 0;
    }
    void listPages() {
        QFETCH(QByteArray, Range);
        QFETCH(bool, Stale);
        QFETCH(int, Status);
        QFETCH(int, Size);
        TRig Rig;
        std::unique_ptr<TReader> Reader;
        const int Old = Rig.Watch(Reader);
        QByteArrayList Long;
        for (int I = 0; I < 1000; ++I)
            Long << "http://h/" + QByteArray::number(I);
        const QJsonObject Event = Rig.SayList(*Reader, Old, Long);
        QCOMPARE(Event.value("count").toInt(), 1000);
        QCOMPARE(Event.value("items").toArray().size(), PageRows);
        const int Version = Stale ? Old : Event.value("version").toInt();
        const QByteArray Answer =
            Fetch(Rig.Server.Port(),
                  Post("/vx-remote/api/list", R"({"host":"My Computer","version":)" +
                                                  QByteArray::number(Version) + ',' + Range + '}'));
        QCOMPARE(Answer.mid(9, 3).toInt(), Status);
        const QJsonArray Items = Body(Answer).value("items").toArray();
        QCOMPARE(Items.size(), Size);
        QVERIFY(Items.isEmpty() || Items.first().toString().toUtf8() == Long[990]);
    }

    // What a speaker sends costs a bounded amount: one page of its list in an event while a
    // browser watches, no event at all while none does.
    void hostileListBounded_data() {
        QTest::addColumn<bool>("Watching");
        QTest::newRow("watched") << true;
        QTest::newRow("unwatched") << false;
    }
    void hostileListBounded() {
        QFETCH(bool, Watching);
        TRig Rig;
        std::unique_ptr<TReader> Reader;
        const int Old = Rig.Watch(Reader);
        auto *Session = qobject_cast<TRemoteSession *>(RemotePlayers().Pages().value(0));
        if (!Watching) {
            Reader.reset();
            QTRY_COMPARE(Rig.Web.StreamCount(), 0);
        }
        // 2 MB of control characters: six bytes each in JSON.
        const QByteArrayList Junk(200, QByteArray(10000, '\x01'));
        QSignalSpy Repainted(Session, &TRemoteSession::Repaint);
        if (Watching)
            QCOMPARE(Rig.SayList(*Reader, Old, Junk).value("count").toInt(), 200);
        else
            Rig.Speaker.Say(BuildMessage("LIST", JoinLines(Junk)));
        QTRY_VERIFY(!Repainted.isEmpty());
        QVERIFY(Rig.Web.QueuedBytes() < (Watching ? 2 * PageBytes : 1024));
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

    // The group commands and what goes to the speaker; bad input sends nothing.
    void groupCommands_data() {
        QTest::addColumn<QByteArray>("Fields");
        QTest::addColumn<QByteArray>("Wire"); // empty: refused with 400
        QTest::newRow("volume") << QByteArray(R"("do":"volume","room":"hall","value":40)")
                                << QByteArray("GROUPVOLUME\r\nhall\r\n40\r\n");
        QTest::newRow("mute") << QByteArray(R"("do":"mute","room":"hall","value":true)")
                              << QByteArray("GROUPMUTE\r\nhall\r\n1\r\n");
        QTest::newRow("leave") << QByteArray(R"("do":"leave","room":"hall")")
                               << QByteArray("GROUPLEAVE\r\nhall\r\n");
        QTest::newRow("add") << QByteArray(R"("do":"add","room":" Kitchen ")")
                             << QByteArray("GROUPADD\r\nKitchen\r\n");
        QTest::newRow("add this computer to itself")
            << QByteArray(R"("do":"add","room":"My Computer")") << QByteArray();
        QTest::newRow("volume not whole")
            << QByteArray(R"("do":"volume","room":"hall","value":4.5)") << QByteArray();
        QTest::newRow("volume as text")
            << QByteArray(R"("do":"volume","room":"hall","value":"40")") << QByteArray();
        QTest::newRow("room not text") << QByteArray(R"("do":"leave","room":7)") << QByteArray();
        QTest::newRow("unknown command")
            << QByteArray(R"("do":"join","room":"hall")") << QByteArray();
    }
    void groupCommands() {
        QFETCH(QByteArray, Fields);
        QFETCH(QByteArray, Wire);
        TRig Rig;
        std::unique_ptr<TReader> Reader;
        QVERIFY(Rig.Watch(Reader) > 0);
        Rig.Speaker.Say(BuildMessage("GROUP", "127.0.0.1\tHere\t50\t0\t\nhall\tHall\t9\t0\t"));
        QTRY_VERIFY(Reader->Text.contains("event: group"));
        const QByteArray Answer =
            Fetch(Rig.Server.Port(),
                  Post("/vx-remote/api/group", R"({"host":"My Computer",)" + Fields + '}'));
        QCOMPARE(Answer.mid(9, 3), Wire.isEmpty() ? "400" : "200");
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
        const auto Second = Rig.Events(Rig.Open());
        Rig.Speaker.Say(BuildMessage("STATE", "3"));
        for (TReader *R : {Reader.get(), Second.get()})
            QTRY_VERIFY(R->Text.contains("event: state\ndata: {\"album\":\"\",\"cover\":\"\","
                                         "\"information\":\"   \",\"muted\":false,"
                                         "\"position\":0,\"state\":3,"));
    }

    // One address holds 8 streams, all together 32; stopping with streams open ends them at
    // once.
    void streamBound() {
        TRig Rig;
        const QByteArray Token = Rig.Open();
        std::vector<std::unique_ptr<TReader>> Readers;
        for (int I = 0; I < 32; ++I)
            Readers.push_back(Rig.Events(Token, QHostAddress(0x7F000001 + quint32(I % 4))));
        QTRY_COMPARE(Rig.Web.StreamCount(), 32);
        const auto Extra = Rig.Events(Token, QHostAddress("127.0.0.5"));
        QTRY_COMPARE(Extra->Status(), 503);
        Readers.pop_back(); // a browser that leaves frees its place at once, not at a ping
        QTRY_COMPARE(Rig.Web.StreamCount(), 31);
        const auto Ninth = Rig.Events(Token, QHostAddress("127.0.0.1"));
        QTRY_COMPARE(Ninth->Status(), 503);
        const auto Back = Rig.Events(Token, QHostAddress("127.0.0.4"));
        QTRY_COMPARE(Rig.Web.StreamCount(), 32);
        QElapsedTimer Stopping;
        Stopping.start();
        Rig.Server.Stop();
        QVERIFY(Stopping.elapsed() < TWebRemote::KeepAliveMs / 2);
    }

    // A stream past its lifetime ends; the watch and its session stay for the next one.
    void streamLifetime() {
        TRig Rig(60000, 60000, 5000, 200);
        std::unique_ptr<TReader> Reader;
        QVERIFY(Rig.Watch(Reader) > 0);
        QTRY_COMPARE(Reader->Socket.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(Rig.Web.SessionCount(), 1);
    }

    // What a page of another site can make a browser send opens no session; the page's own
    // POST does.
    void foreignRequests_data() {
        QTest::addColumn<QByteArray>("Bytes");
        QTest::addColumn<int>("Status");
        const QByteArray Events = "/vx-remote/api/events?host=My%20Computer",
                         Watch = "/vx-remote/api/watch";
        const QByteArray Cross = "Sec-Fetch-Site: cross-site\r\n",
                         Body = R"({"host":"My Computer"})";
        QTest::newRow("img") << Request("GET", Events, Cross) << 403;
        QTest::newRow("img, same-site")
            << Request("GET", Events, "Sec-Fetch-Site: same-site\r\n") << 403;
        QTest::newRow("img, no fetch metadata") << Request("GET", Events) << 404;
        QTest::newRow("no-cors fetch")
            << Request("POST", Watch, Cross + "Content-Type: text/plain\r\n", Body) << 403;
        QTest::newRow("link") << Request("GET", "/", Cross) << 200;
        QTest::newRow("the page's own watch") << Post(Watch, Body) << 200;
    }
    void foreignRequests() {
        QFETCH(QByteArray, Bytes);
        QFETCH(int, Status);
        TRig Rig;
        QCOMPARE(Fetch(Rig.Server.Port(), Bytes).mid(9, 3).toInt(), Status);
        // Through the GUI thread once more: a session the request started exists by now.
        Fetch(Rig.Server.Port(), Post("/vx-remote/api/command", R"({"host":"k","do":"stop"})"));
        QCOMPARE(Rig.Web.SessionCount(),
                 QTest::currentDataTag() == QLatin1String("the page's own watch") ? 1 : 0);
    }

    // Places shared by client addresses: which request gets one, and which idle one goes.
    void clientShares_data() {
        QTest::addColumn<int>("Limit");
        QTest::addColumn<int>("Own");      // held by the newcomer's address
        QTest::addColumn<int>("Others");   // held by other addresses, for longer
        QTest::addColumn<bool>("Idle");    // whether places may give way
        QTest::addColumn<int>("Expected"); // 0: refused, 1: granted, 2: own goes, 3: other goes
        QTest::newRow("64th session") << 64 << 0 << 63 << false << 1;
        QTest::newRow("65th, every one watched") << 64 << 0 << 64 << false << 0;
        QTest::newRow("65th, an unwatched one goes") << 64 << 0 << 64 << true << 3;
        QTest::newRow("16th of one address") << 64 << 15 << 0 << false << 1;
        QTest::newRow("17th of one address") << 64 << 16 << 0 << false << 0;
        QTest::newRow("17th, its own goes, not older others'") << 64 << 16 << 10 << true << 2;
        QTest::newRow("65th within the share") << 64 << 15 << 49 << true << 3;
        QTest::newRow("8th stream of an address") << 32 << 7 << 24 << false << 1;
        QTest::newRow("9th stream of an address") << 32 << 8 << 0 << false << 0;
    }
    void clientShares() {
        QFETCH(int, Limit);
        QFETCH(int, Own);
        QFETCH(int, Others);
        QFETCH(bool, Idle);
        QFETCH(int, Expected);
        // The newest places first, so that order alone misleads.
        std::vector<TPlace> Places;
        for (int I = 0; I < Others + Own; ++I)
            Places.insert(Places.begin(),
                          {I < Others ? 20u + quint32(I % 5) : 10u, Idle, quint64(I)});
        const TRoom Room = FindRoom(Places, 10, Limit);
        QCOMPARE(Room.Granted, Expected != 0);
        QCOMPARE(Room.GiveWay, Expected == 2 ? Own - 1 : Expected == 3 ? Own + Others - 1 : -1);
    }

    // Sessions holding more than the budget together: the largest end first, until within it.
    void sessionBudget_data() {
        QTest::addColumn<qint64>("Budget");
        QTest::addColumn<QList<int>>("Gone");
        QTest::newRow("at the budget") << qint64(60) << QList<int>{};
        QTest::newRow("one byte over") << qint64(59) << QList<int>{1};
        QTest::newRow("two must go") << qint64(10) << QList<int>{1, 2};
    }
    void sessionBudget() {
        QFETCH(qint64, Budget);
        QFETCH(QList<int>, Gone);
        const std::vector<int> Ended = OverBudget({10, 30, 20}, Budget);
        QCOMPARE(QList<int>(Ended.begin(), Ended.end()), Gone);
    }

    // A speaker whose list passes the budget has its session ended, and the page says why.
    void sessionOverBudgetEnds() {
        TRig Rig;
        std::unique_ptr<TReader> Reader;
        QVERIFY(Rig.Watch(Reader) > 0);
        Rig.Web.SetSessionBudget(Rig.Web.SessionBytes() + 1000);
        Rig.Speaker.Say(BuildMessage("LIST", JoinLines({QByteArray(2000, 'x')})));
        QTRY_VERIFY(
            Reader->Text.contains("This speaker sent more than this computer keeps for it."));
        QTRY_VERIFY(Rig.Speaker.Peer->state() == QAbstractSocket::UnconnectedState);
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
