// 200 copies greet at once, each with one datagram from an address of its own
// (10.251.1.1 ...), sent from another thread: how long until all are listed, how
// often the list-changed signal (the "Play on" box refresh) fires, and whether
// every greeting was answered. Once as fast as the sender can, once spread over
// 20 ms as a real network delivers them; then once after 4096 forged greeters
// have filled the list. Loopback sources are never peers, so the addresses are a
// network the bench puts on lo: run it in a private namespace (unshare -n).
#include "BenchSockets.h"
#include "Presence.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QNetworkInterface>
#include <QProcess>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int Peers = 200;
constexpr int Rounds = 5;
constexpr quint32 OurAddress = 0x0AFB0001u;  // 10.251.0.1, on lo with 10.251.0.0/16
constexpr quint32 FirstPeer = 0x0AFB0101u;   // 10.251.1.1
constexpr quint32 FirstForged = 0x0AFB1001u; // 10.251.16.1

// A socket on Address and Port (0: any); -1 when it cannot be bound.
int BoundSocket(quint32 Address, quint16 Port) {
    const int S = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int On = 1;
    ::setsockopt(S, SOL_SOCKET, SO_REUSEADDR, &On, sizeof On);
    const sockaddr_in Local = Endpoint(Address, Port);
    if (::bind(S, reinterpret_cast<const sockaddr *>(&Local), sizeof Local) != 0) {
        ::close(S);
        return -1;
    }
    return S;
}

// Puts 10.251.0.0/16 on lo, only where lo is the sole interface.
bool MakePeerNetwork() {
    const QList<QNetworkInterface> Interfaces = QNetworkInterface::allInterfaces();
    if (Interfaces.size() != 1 || !Interfaces[0].flags().testFlag(QNetworkInterface::IsLoopBack)) {
        std::fprintf(stderr, "run in a private network namespace: unshare -n bash -c "
                             "'ip link set lo up; bench_presence'\n");
        return false;
    }
    return QProcess::execute("ip", {"addr", "replace", "10.251.0.1/16", "dev", "lo"}) == 0;
}

// Waits up to 5 s in all for the peers' answers; how many came, and when the last one did. A
// copy answers a greeting as it lists the sender, so the last answer marks all listed.
int WaitForAnswers(const std::vector<int> &Sockets, const QElapsedTimer &Clock, double &LastMs) {
    int Answers = 0;
    char Buffer[64];
    const QDeadlineTimer Deadline(5000);
    for (int S : Sockets) {
        pollfd Wait{S, POLLIN, 0};
        if (::poll(&Wait, 1, int(Deadline.remainingTime())) != 1)
            continue;
        while (::recv(S, Buffer, sizeof Buffer, 0) == 10 &&
               std::equal(Buffer, Buffer + 10, "VELOXALIVE")) {
            ++Answers;
            LastMs = double(Clock.nsecsElapsed()) / 1e6;
        }
    }
    return Answers;
}

struct TRound {
    double ListedMs = -1;
    double SignalMs = -1;
    int Signals = 0;
    int Answers = 0;
    int ForgedListed = 0; // before the real peers greeted
    int RealListed = 0;
};

// Forged greetings from Count addresses, a batch at a time so that the socket
// buffer does not drop them; waits until Listed shows them (at most 5 s).
void Forge(int Count, quint16 Port, const std::atomic<int> &Listed) {
    const sockaddr_in To = Endpoint(0x7F000001u, Port);
    for (int I = 0; I < Count; ++I) {
        const int S = BoundSocket(FirstForged + quint32(I), 0);
        ::sendto(S, "VELOXHELLO", 10, 0, reinterpret_cast<const sockaddr *>(&To), sizeof To);
        ::close(S);
        if (I % 64 == 63)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (Listed < Count && std::chrono::steady_clock::now() < Deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TRound RunRound(int GapUs, int Forged = 0) {
    TRound Result;
    TPresence Presence;
    Presence.SetAddressSource([] {
        QNetworkAddressEntry Entry;
        Entry.setIp(QHostAddress(OurAddress));
        return QList<QNetworkAddressEntry>{Entry};
    });
    if (!Presence.Start(0)) {
        std::fprintf(stderr, "cannot bind the presence socket\n");
        return Result;
    }
    const quint16 Port = Presence.Port();
    std::vector<int> Sockets;
    for (int I = 0; I < Peers; ++I) {
        const int S = BoundSocket(FirstPeer + quint32(I), Port);
        if (S < 0) {
            std::fprintf(stderr, "cannot bind 10.251.1.%d (is lo up?)\n", I + 1);
            return Result;
        }
        Sockets.push_back(S);
    }

    QElapsedTimer Clock;
    std::atomic<int> Size = 0;
    const auto RealListed = [&] {
        int N = 0;
        for (int I = 0; I < Peers; ++I)
            N += Presence.Computers().contains(
                QHostAddress(FirstPeer + quint32(I)).toString().toLatin1());
        return N;
    };
    const auto Listed = [&] {
        return Forged > 0 ? RealListed() == Peers : Presence.Computers().size() == Peers + 1;
    };
    QObject::connect(&Presence, &TPresence::ComputersChanged, [&] {
        Size = int(Presence.Computers().size() - 1);
        ++Result.Signals;
        if (Listed() && Result.SignalMs < 0) {
            Result.SignalMs = double(Clock.nsecsElapsed()) / 1e6;
            // The round ends a while after the refresh that shows them all.
            QTimer::singleShot(500, &Presence, &QCoreApplication::quit);
        }
    });
    // Bound to the round, so that it cannot end a later one.
    QTimer::singleShot(10000, &Presence, &QCoreApplication::quit);

    Clock.start();
    std::thread Sender([&Sockets, &Clock, &Result, &Size, Port, GapUs, Forged] {
        QElapsedTimer AfterFlood; // the main thread reads Clock
        if (Forged > 0) {
            Forge(Forged, Port, Size);
            Result.ForgedListed = Size;
            AfterFlood.start();
        }
        const sockaddr_in To = Endpoint(0x7F000001u, Port);
        for (int S : Sockets) {
            ::sendto(S, "VELOXHELLO", 10, 0, reinterpret_cast<const sockaddr *>(&To), sizeof To);
            if (GapUs > 0)
                std::this_thread::sleep_for(std::chrono::microseconds(GapUs));
        }
        Result.Answers = WaitForAnswers(Sockets, Forged > 0 ? AfterFlood : Clock, Result.ListedMs);
    });
    QCoreApplication::exec();
    Sender.join();
    Result.RealListed = RealListed();
    for (int S : Sockets)
        ::close(S);
    return Result;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication App(argc, argv);
    if (!MakePeerNetwork())
        return 1;
    for (const int GapUs : {0, 100}) {
        std::printf("\n%d peers greeting %s, %d rounds\n", Peers,
                    GapUs ? "100 us apart" : "as fast as one thread sends", Rounds);
        std::printf("round  all listed (ms)  refresh showing all (ms)  refreshes  answers\n");
        std::vector<double> Listed;
        for (int R = 1; R <= Rounds; ++R) {
            const TRound Result = RunRound(GapUs);
            Listed.push_back(Result.ListedMs);
            std::printf("%5d  %15.2f  %24.2f  %9d  %7d\n", R, Result.ListedMs, Result.SignalMs,
                        Result.Signals, Result.Answers);
        }
        std::sort(Listed.begin(), Listed.end());
        std::printf("median time until all are listed: %.2f ms (the refresh comes at most %d ms "
                    "after the first change)\n",
                    Listed[Listed.size() / 2], TPresence::ChangeNotifyDelayMs);
    }
    std::printf("\n%d forged greeters fill the list (at most %d), then %d real peers greet\n",
                TPresence::MaxPeers, TPresence::MaxPeers, Peers);
    std::printf("round  forged listed  real listed  all real listed (ms)  answers\n");
    for (int R = 1; R <= Rounds; ++R) {
        const TRound Result = RunRound(0, TPresence::MaxPeers);
        std::printf("%5d  %13d  %11d  %20.2f  %7d\n", R, Result.ForgedListed, Result.RealListed,
                    Result.ListedMs, Result.Answers);
    }
    return 0;
}
