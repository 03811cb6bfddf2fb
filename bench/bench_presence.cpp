// 200 copies greet at once, each with one datagram from its own loopback address
// (127.0.1.1 ...), sent from another thread: how long until all are listed, how
// often the list-changed signal (the "Play on" box refresh) fires, and whether
// every greeting was answered. Once as fast as the sender can, once spread over
// 20 ms as a real network delivers them. Everything stays on loopback.
#include "Presence.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int Peers = 200;
constexpr int Rounds = 5;

sockaddr_in Endpoint(quint32 Address, quint16 Port) {
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_port = htons(Port);
    A.sin_addr.s_addr = htonl(Address);
    return A;
}

// One peer socket on 127.0.1.(I+1) and the presence port, where our answer lands.
int PeerSocket(int I, quint16 Port) {
    const int S = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int On = 1;
    ::setsockopt(S, SOL_SOCKET, SO_REUSEADDR, &On, sizeof On);
    const sockaddr_in Local = Endpoint(0x7F000101u + quint32(I), Port);
    if (::bind(S, reinterpret_cast<const sockaddr *>(&Local), sizeof Local) != 0) {
        ::close(S);
        return -1;
    }
    return S;
}

// Waits up to 5 s for each peer's answer; how many came, and when the last one did. A
// copy answers a greeting as it lists the sender, so the last answer marks all listed.
int WaitForAnswers(const std::vector<int> &Sockets, const QElapsedTimer &Clock, double &LastMs) {
    int Answers = 0;
    char Buffer[64];
    for (int S : Sockets) {
        pollfd Wait{S, POLLIN, 0};
        if (::poll(&Wait, 1, 5000) != 1)
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
};

TRound RunRound(int GapUs) {
    TRound Result;
    TPresence Presence;
    Presence.SetAddressSource([] { return QList<QHostAddress>{QHostAddress("127.0.0.5")}; });
    if (!Presence.Start(0)) {
        std::fprintf(stderr, "cannot bind the presence socket\n");
        return Result;
    }
    const quint16 Port = Presence.Port();
    std::vector<int> Sockets;
    for (int I = 0; I < Peers; ++I) {
        const int S = PeerSocket(I, Port);
        if (S < 0) {
            std::fprintf(stderr, "cannot bind 127.0.1.%d (is lo up?)\n", I + 1);
            return Result;
        }
        Sockets.push_back(S);
    }

    QElapsedTimer Clock;
    const auto Listed = [&] { return Presence.Computers().size() == Peers + 1; };
    QObject::connect(&Presence, &TPresence::ComputersChanged, [&] {
        ++Result.Signals;
        if (Listed() && Result.SignalMs < 0) {
            Result.SignalMs = double(Clock.nsecsElapsed()) / 1e6;
            // The round ends a while after the refresh that shows them all.
            QTimer::singleShot(500, &QCoreApplication::quit);
        }
    });
    QTimer::singleShot(10000, &QCoreApplication::quit);

    Clock.start();
    std::thread Sender([&Sockets, &Clock, &Result, Port, GapUs] {
        const sockaddr_in To = Endpoint(0x7F000001u, Port);
        for (int S : Sockets) {
            ::sendto(S, "VELOXHELLO", 10, 0, reinterpret_cast<const sockaddr *>(&To), sizeof To);
            if (GapUs > 0)
                std::this_thread::sleep_for(std::chrono::microseconds(GapUs));
        }
        Result.Answers = WaitForAnswers(Sockets, Clock, Result.ListedMs);
    });
    QCoreApplication::exec();
    Sender.join();
    for (int S : Sockets)
        ::close(S);
    return Result;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication App(argc, argv);
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
    return 0;
}
