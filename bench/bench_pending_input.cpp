// The command server holding unfinished messages: 240 controllers each send 15 MiB of an ADD
// that never ends and stay connected. Prints the peak memory of the process, how many
// controllers are still connected, and the worst delay of a queued call on the server's thread
// while it read. Run with "off" for the server without a total budget for pending input.
// The line time-out is stretched: it stands for controllers that trickle a line in time.
// Traffic goes to 127.0.0.1 only.
#include "BenchProcess.h"
#include "BenchSockets.h"
#include "CommandServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <limits>
#include <thread>
#include <vector>

namespace {

constexpr int Controllers = 240;
constexpr qint64 HeldBytes = 15 * 1024 * 1024;
constexpr int LineLength = 8 * 1024;

} // namespace

int main(int argc, char *argv[]) {
    const bool Unbounded = argc > 1 && QByteArray(argv[1]) == "off";
    QCoreApplication App(argc, argv);
    TCommandServer Server(nullptr, 3600 * 1000);
    if (Unbounded)
        Server.SetTotalLimits(MaxTotalPendingOutput, std::numeric_limits<qint64>::max());
    if (!Server.Listen(0)) {
        std::fprintf(stderr, "cannot listen\n");
        return 1;
    }
    const quint16 Port = Server.Port();
    qint64 PeakKiB = RssKiB();
    qint64 WorstDelayMs = 0;
    QElapsedTimer Since;
    Since.start();
    // A queued call every 10 ms: how late it runs is how long the thread was busy.
    QTimer Probe;
    Probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&Probe, &QTimer::timeout, [&] {
        PeakKiB = std::max(PeakKiB, RssKiB());
        WorstDelayMs = std::max(WorstDelayMs, Since.restart() - 10);
    });
    Probe.start(10);

    std::vector<int> Fds;
    std::atomic<qint64> SendMs{0};
    std::thread Sender([&] {
        QElapsedTimer Clock;
        Clock.start();
        QByteArray Lines;
        const QByteArray Line = QByteArray(LineLength - 2, 'u') + "\r\n";
        while (Lines.size() + Line.size() <= HeldBytes)
            Lines += Line;
        for (int I = 0; I < Controllers; ++I) {
            const int Fd = ConnectLoopback(Port);
            if (Fd < 0)
                continue;
            Fds.push_back(Fd);
            // A connection the server dropped takes nothing more; the next one goes on.
            if (SendAll(Fd, "ADD\r\n100000\r\n"))
                SendAll(Fd, Lines);
        }
        SendMs = Clock.elapsed();
        // What the kernel still holds reaches the server meanwhile.
        std::this_thread::sleep_for(std::chrono::seconds(2));
        QMetaObject::invokeMethod(&App, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    App.exec();
    Sender.join();
    PeakKiB = std::max(PeakKiB, RssKiB());
    std::printf("%s: %d controllers x %lld MiB of an unfinished ADD, sent in %.1f s\n",
                Unbounded ? "no budget for pending input" : "pending-input budget of 512 MiB",
                Controllers, HeldBytes >> 20, double(SendMs) / 1000);
    std::printf("still connected: %d; held at the end: %lld MiB\n", Server.ConnectionCount(),
                Server.PendingInput() >> 20);
    std::printf("peak RSS: %.0f MB; worst queued-call delay: %lld ms\n", double(PeakKiB) / 1024,
                WorstDelayMs);
    for (const int Fd : Fds)
        close(Fd);
    return 0;
}
