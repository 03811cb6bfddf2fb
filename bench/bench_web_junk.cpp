// The phone remote under hostile load, in one process as the program runs it: the media
// server and the web remote on this thread's event loop, a speaker that floods reports, and
// clients on other threads. Three phases of equal length, side by side:
//   quiet    one client downloads a library file over and over;
//   junk     the same, while others send 1000 junk API requests a second from 127.0.0.2;
//   stalled  the same, while 32 event streams from 127.0.0.3-6 never read and the speaker
//            sends 1000 state reports and 20 lists of 5000 long URLs a second.
// Printed per phase: download rate, how late a 5 ms timer on the GUI thread ran (median, 99th
// percentile, worst), the junk answered by status, memory. Loopback only, bounded in time.
#include "BenchProcess.h"
#include "BenchSockets.h"
#include "MediaServer.h"
#include "MusicLibrary.h"
#include "SharingState.h"
#include "WebRemote.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr qint64 FileSize = qint64(256) << 20;
constexpr int PhaseMs = 5000;
constexpr int JunkThreads = 16;
constexpr int JunkPerSecond = 1000;

QByteArray Post(const QByteArray &Path, const QByteArray &Host, const QByteArray &Type,
                const QByteArray &Body) {
    return "POST " + Path + " HTTP/1.1\r\nHost: " + Host + "\r\nContent-Type: " + Type +
           "\r\nContent-Length: " + QByteArray::number(Body.size()) +
           "\r\nConnection: close\r\n\r\n" + Body;
}

// The kinds of junk, sent in turn.
QList<QByteArray> JunkRequests() {
    const QByteArray Command = "/vx-remote/api/command";
    const QByteArray Json = "application/json";
    return {
        Post(Command, "127.0.0.1", Json, "{\"host\":"),
        Post(Command, "127.0.0.1", "text/plain", "{\"host\":\"x\",\"do\":\"stop\"}"),
        Post(Command, "127.0.0.1", Json, QByteArray(70000, 'x')),
        Post(Command, "evil.example", Json, "{\"host\":\"My Computer\",\"do\":\"stop\"}"),
        Post(Command, "127.0.0.1", Json, "{\"host\":\"nowhere\",\"do\":\"stop\"}"),
        Post(Command, "127.0.0.1", Json, "[1,2,3]"),
        Post("/vx-remote/api/play", "127.0.0.1", Json,
             "{\"host\":\"My Computer\",\"version\":-5,\"rows\":[1]}"),
        "GET /vx-remote/api/events?host=%00%FF HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: "
        "http://evil.example\r\nConnection: close\r\n\r\n",
        "\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03 junk\r\n\r\n",
    };
}

// The status of one answer, 0 when none came within 100 ms: a hostile client does not wait.
int SendOne(quint16 Port, const QByteArray &Request) {
    const int Fd = ConnectFrom(Port, 2, 100);
    if (Fd < 0)
        return 0;
    int Status = 0;
    if (SendAll(Fd, Request)) {
        char Head[64];
        const ssize_t N = recv(Fd, Head, sizeof Head - 1, 0);
        if (N > 12 && std::memcmp(Head, "HTTP/1.", 7) == 0)
            Status = std::atoi(Head + 9);
    }
    close(Fd);
    return Status;
}

// Bytes of one whole download of /big.mp3, -1 when it failed.
qint64 Download(quint16 Port) {
    const int Fd = ConnectFrom(Port, 1, 10000);
    if (Fd < 0)
        return -1;
    qint64 Bytes = 0;
    if (SendAll(Fd, "GET /big.mp3 HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n")) {
        std::vector<char> Buffer(1 << 18);
        for (;;) {
            const ssize_t N = recv(Fd, Buffer.data(), Buffer.size(), 0);
            if (N <= 0)
                break;
            Bytes += N;
        }
    }
    close(Fd);
    return Bytes >= FileSize ? Bytes : -1;
}

double Percentile(std::vector<double> Values, double P) {
    if (Values.empty())
        return 0;
    std::sort(Values.begin(), Values.end());
    return Values[std::min(Values.size() - 1, size_t(P * double(Values.size())))];
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication App(argc, argv);
    QTemporaryDir Dir;
    const QString Big = Dir.filePath(QStringLiteral("big.mp3"));
    {
        QFile File(Big);
        if (!File.open(QIODevice::WriteOnly) || !File.resize(FileSize)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(Big));
            return 1;
        }
    }
    TMusicLibrary Library;
    Library.AddToLibrary(QFile::encodeName(Big));

    // A speaker that answers with a flood of reports once told to.
    QTcpServer Speaker;
    Speaker.listen(QHostAddress::LocalHost);
    std::vector<QTcpSocket *> Controllers;
    QObject::connect(&Speaker, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *Socket = Speaker.nextPendingConnection())
            Controllers.push_back(Socket);
    });
    QByteArray List = "LIST\r\n5000\r\n";
    for (int I = 0; I < 5000; ++I)
        List += "http://10.0.0.1:37401/" + QByteArray(80, 'a' + I % 26) + QByteArray::number(I) +
                ".mp3\r\n";
    // Every 10 ms: ten state reports, and every fifth time a list.
    QTimer Flood;
    int Tick = 0;
    QObject::connect(&Flood, &QTimer::timeout, [&] {
        QByteArray Reports;
        for (int I = 0; I < 10; ++I)
            Reports += "STATE\r\n" + QByteArray(I % 2 ? "3" : "2") + "\r\n";
        const bool WithList = ++Tick % 5 == 0;
        for (QTcpSocket *Socket : Controllers) {
            Socket->write(Reports);
            if (WithList && Socket->bytesToWrite() < (4 << 20))
                Socket->write(List);
        }
    });

    TSharingState Sharing;
    TMediaServer Server([&Library] { return Library.Snapshot(); });
    TWebRemote Web(Library, Sharing);
    Web.SetLocalSpeakerPort(Speaker.serverPort());
    Web.Start(Server);
    QString Error;
    if (!Server.Start(0, &Error)) {
        std::fprintf(stderr, "%s\n", qPrintable(Error));
        return 1;
    }
    const quint16 Port = Server.Port();

    std::atomic<bool> Stop{false};
    std::atomic<qint64> Downloaded{0};
    std::thread Downloader([&] {
        while (!Stop)
            if (const qint64 Bytes = Download(Port); Bytes > 0)
                Downloaded += Bytes;
    });

    std::atomic<bool> Junk{false};
    std::mutex StatusLock;
    std::map<int, int> Statuses;
    std::vector<std::thread> JunkSenders;
    const QList<QByteArray> Requests = JunkRequests();
    for (int T = 0; T < JunkThreads; ++T)
        JunkSenders.emplace_back([&, T] {
            QElapsedTimer Clock;
            Clock.start();
            qint64 Sent = 0;
            while (!Stop) {
                if (!Junk) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    Clock.restart();
                    Sent = 0;
                    continue;
                }
                // Paced: this thread's share of the rate, never ahead of it.
                const qint64 Due = Sent * 1000 * JunkThreads / JunkPerSecond;
                if (Clock.elapsed() < Due) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(Due - Clock.elapsed()));
                    continue;
                }
                const int Status =
                    SendOne(Port, Requests[(Sent * JunkThreads + T) % Requests.size()]);
                ++Sent;
                std::lock_guard Lock(StatusLock);
                ++Statuses[Status];
            }
        });

    std::vector<int> Stalled;
    std::thread Opener; // the GUI thread answers the watch's POST meanwhile
    std::vector<double> Late;
    QElapsedTimer Probe;
    QTimer ProbeTimer;
    ProbeTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ProbeTimer, &QTimer::timeout, [&] {
        Late.push_back(std::max<double>(0, double(Probe.nsecsElapsed()) / 1e6 - 5));
        Probe.restart();
    });

    std::printf("%-8s %12s %24s %10s %12s  %s\n", "phase", "download", "GUI timer late ms",
                "RSS MiB", "queued KiB", "junk answers (status: count)");
    const char *Phases[] = {"quiet", "junk", "stalled"};
    for (int Phase = 0; Phase < 3; ++Phase) {
        if (Phase == 1)
            Junk = true;
        if (Phase == 2) {
            Junk = false;
            // A watch opened as the page does, its 32 streams from four addresses (each holds a
            // quarter), none of them read.
            Opener = std::thread([&] {
                const int Fd = ConnectFrom(Port, 3, 5000);
                QByteArray Answer;
                if (Fd >= 0 &&
                    SendAll(Fd, Post("/vx-remote/api/watch", "127.0.0.1", "application/json",
                                     "{\"host\":\"My Computer\"}"))) {
                    char Buffer[4096];
                    for (ssize_t N; (N = recv(Fd, Buffer, sizeof Buffer, 0)) > 0;)
                        Answer.append(Buffer, N);
                }
                if (Fd >= 0)
                    close(Fd);
                const QByteArray Token =
                    QJsonDocument::fromJson(Answer.mid(Answer.indexOf("\r\n\r\n") + 4))
                        .object()
                        .value("stream")
                        .toString()
                        .toLatin1();
                const QByteArray Open = "GET /vx-remote/api/events?stream=" + Token +
                                        " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
                for (int I = 0; I < 32; ++I) {
                    const int Stream = ConnectFrom(Port, 3 + I % 4, 1000);
                    if (Stream >= 0 && SendAll(Stream, Open))
                        Stalled.push_back(Stream);
                }
            });
            Flood.start(10);
        }
        {
            std::lock_guard Lock(StatusLock);
            Statuses.clear();
        }
        Late.clear();
        const qint64 BytesBefore = Downloaded;
        Probe.start();
        ProbeTimer.start(5);
        QTimer::singleShot(PhaseMs, &App, &QCoreApplication::quit);
        App.exec();
        ProbeTimer.stop();
        const double Rate = double(Downloaded - BytesBefore) / (PhaseMs / 1000.0) / 1e6;
        QByteArray Answers;
        {
            std::lock_guard Lock(StatusLock);
            for (const auto &[Status, Count] : Statuses)
                Answers += QByteArray::number(Status) + ":" + QByteArray::number(Count) + " ";
        }
        std::printf("%-8s %8.0f MB/s %8.2f %6.2f %7.2f %10.1f %12.1f  %s\n", Phases[Phase], Rate,
                    Percentile(Late, 0.5), Percentile(Late, 0.99), Percentile(Late, 1.0), RssMiB(),
                    double(Web.QueuedBytes()) / 1024, Answers.constData());
    }
    Opener.join();
    std::printf("streams open at the end: %d (32 stalled ones asked for)\n", Web.StreamCount());
    // The stalled streams stay until the server's time-out for a connection that takes nothing.
    QElapsedTimer Dropping;
    Dropping.start();
    double PeakRss = RssMiB();
    QTimer Watch;
    QObject::connect(&Watch, &QTimer::timeout, [&] {
        PeakRss = std::max(PeakRss, RssMiB());
        if (Web.StreamCount() == 0 || Dropping.elapsed() > 60000)
            App.quit();
    });
    Watch.start(100);
    App.exec();
    std::printf(
        "stalled streams dropped after %.1f s more (%d left); peak RSS meanwhile %.1f MiB\n",
        double(Dropping.elapsed()) / 1000, Web.StreamCount(), PeakRss);
    Stop = true;
    Flood.stop();
    for (const int Fd : Stalled)
        close(Fd);
    Web.Stop();
    Server.Stop();
    Downloader.join();
    for (std::thread &Sender : JunkSenders)
        Sender.join();
    return 0;
}
