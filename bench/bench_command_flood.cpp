// The command server under a flood: 4 controllers each send an ADD of 100000 lines of
// 16 KB (1.6 GB each) while a fifth asks GET every 100 ms. Prints how long GET waited for
// its answer during the flood and after its last byte, and the peak memory of the process.
// The reader and the server only: what becomes of a job is the engine's part.
// Traffic goes to 127.0.0.1 only.
#include "BenchProcess.h"
#include "BenchSockets.h"
#include "CommandServer.h"
#include "MediaPlayer.h"
#include "SharingState.h"
#include "Speaker.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <clocale>
#include <cstdio>
#include <memory>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Flooders = 4;
constexpr int FloodLines = 100000;
constexpr int FloodLineLength = 16 * 1024;

// One flooding controller: the whole ADD, then it closes.
void Flood(quint16 Port) {
    const int Fd = ConnectLoopback(Port);
    if (Fd < 0)
        return;
    QByteArray Batch;
    const QByteArray Line = QByteArray(FloodLineLength - 2, 'u') + "\r\n";
    SendAll(Fd, "ADD\r\n" + QByteArray::number(FloodLines) + "\r\n");
    for (int I = 0; I < FloodLines; I += 64) {
        Batch.clear();
        for (int K = 0; K < 64 && I + K < FloodLines; ++K)
            Batch += Line;
        if (!SendAll(Fd, Batch))
            break;
    }
    close(Fd);
}

// The whole speaker: its list stays empty, so "GET" comes back as an empty "LIST".
bool WholeSpeaker = false;

// Milliseconds from sending "GET" until "LIST" came back, or -1.
qint64 AskList(int Fd) {
    QElapsedTimer Clock;
    Clock.start();
    if (!SendAll(Fd, "GET\r\n\r\n"))
        return -1;
    QByteArray Got;
    char Buffer[4096];
    const QByteArray Reply =
        WholeSpeaker ? QByteArray("LIST\r\n0\r\n") : QByteArray("LIST\r\n1\r\nhttp://a/1.mp3\r\n");
    while (!Got.contains(Reply)) {
        const ssize_t N = recv(Fd, Buffer, sizeof Buffer, 0);
        if (N <= 0)
            return -1;
        Got.append(Buffer, N);
    }
    return Clock.elapsed();
}

} // namespace

int main(int argc, char *argv[]) {
    // --speaker: the whole speaker (window, engine, libmpv without sound) takes the flood.
    WholeSpeaker = argc > 1 && QByteArray(argv[1]) == "--speaker";
    QApplication App(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    TSharingState Sharing;
    std::unique_ptr<TSpeaker> Speaker;
    TCommandServer OwnServer;
    TCommandServer *Server = &OwnServer;
    if (WholeSpeaker) {
        Speaker = std::make_unique<TSpeaker>(
            0, Sharing, std::make_unique<TMediaPlayer>(TMpvOptions{{"ao", "null"}}));
        Server = Speaker->CommandServer();
    } else if (!OwnServer.Listen(0)) {
        std::fprintf(stderr, "cannot listen\n");
        return 1;
    }
    const quint16 Port = Server->Port();
    std::atomic<qint64> Adds{0};
    QObject::connect(Server, &TCommandServer::CommandReceived,
                     [&](TConnectionId Id, const QByteArray &, const TCommandMessage &M) {
                         if (M.Word == "GET" && !WholeSpeaker)
                             Server->SendToConnection(Id, "LIST", "http://a/1.mp3");
                         else if (M.Word == "ADD")
                             ++Adds;
                     });
    qint64 PeakKiB = RssKiB();
    QTimer Sampler;
    QObject::connect(&Sampler, &QTimer::timeout, [&] { PeakKiB = std::max(PeakKiB, RssKiB()); });
    Sampler.start(20);

    std::atomic<bool> FloodDone{false};
    std::atomic<qint64> WorstDuring{0}, AfterLast{-1}, FloodMs{0};
    std::thread Prober([&] {
        const int Fd = ConnectLoopback(Port);
        if (Fd < 0)
            return;
        while (!FloodDone) {
            const qint64 Wait = AskList(Fd);
            WorstDuring = std::max<qint64>(WorstDuring, Wait);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        AfterLast = AskList(Fd);
        close(Fd);
    });
    std::thread Flooding([&] {
        QElapsedTimer Clock;
        Clock.start();
        std::vector<std::thread> Threads;
        for (int I = 0; I < Flooders; ++I)
            Threads.emplace_back(Flood, Port);
        for (std::thread &T : Threads)
            T.join();
        FloodMs = Clock.elapsed();
        FloodDone = true;
        Prober.join();
        QMetaObject::invokeMethod(&App, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    App.exec();
    Flooding.join();
    PeakKiB = std::max(PeakKiB, RssKiB());

    const double Gb = double(Flooders) * FloodLines * FloodLineLength / 1e9;
    std::printf("%s flood:", WholeSpeaker ? "whole speaker" : "command server alone");
    std::printf(" %d x ADD of %d lines of %d KB (%.1f GB) in %.1f s\n", Flooders, FloodLines,
                FloodLineLength / 1024, Gb, double(FloodMs) / 1000);
    std::printf("ADD messages delivered (each past 16 MiB): %lld\n", qint64(Adds));
    std::printf("GET answered: worst %lld ms during the flood, %lld ms after its last byte\n",
                qint64(WorstDuring), qint64(AfterLast));
    std::printf("peak RSS: %.0f MB\n", double(PeakKiB) / 1024);
    return 0;
}
