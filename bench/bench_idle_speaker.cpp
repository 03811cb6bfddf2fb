// CPU cost of a speaker that only holds idle controller connections. The controllers live in
// this process too, so the figure is an upper bound for the server alone.
#include "CommandServer.h"
#include "Utils.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <vector>

#include <sys/resource.h>

namespace {

double CpuSeconds() {
    rusage Usage{};
    getrusage(RUSAGE_SELF, &Usage);
    auto Seconds = [](const timeval &T) { return double(T.tv_sec) + double(T.tv_usec) / 1e6; };
    return Seconds(Usage.ru_utime) + Seconds(Usage.ru_stime);
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication App(argc, argv);
    constexpr int Controllers = 50;
    constexpr int IdleMs = 10000;

    AllowOthers = true;
    TCommandServer Server;
    if (!Server.Listen(0)) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
        return 1;
    }
    // A greeting per controller, as a real speaker sends.
    QObject::connect(&Server, &TCommandServer::Connected, [&Server](TConnectionId Id) {
        Server.SendToConnection(Id, "MUTE", "0");
        Server.SendToConnection(Id, "VOLUMN", "40");
        Server.SendToConnection(Id, "STATE", "10");
    });

    std::vector<std::unique_ptr<QTcpSocket>> Clients;
    for (int I = 0; I < Controllers; ++I) {
        auto Client = std::make_unique<QTcpSocket>();
        QTcpSocket *Raw = Client.get();
        QObject::connect(Raw, &QTcpSocket::readyRead, [Raw] { Raw->readAll(); });
        // One half leaves a command unfinished, so its argument deadline is pending too.
        QObject::connect(Raw, &QTcpSocket::connected,
                         [Raw, I] { Raw->write(I % 2 ? "GET\r\n\r\n" : "URL\r\n"); });
        Client->connectToHost(QHostAddress::LocalHost, Server.Port());
        Clients.push_back(std::move(Client));
    }

    QElapsedTimer Wall;
    double CpuStart = 0;
    QTimer Check;
    QObject::connect(&Check, &QTimer::timeout, [&] {
        if (Server.ConnectionCount() < Controllers)
            return;
        Check.stop();
        Wall.start();
        CpuStart = CpuSeconds();
        QTimer::singleShot(IdleMs, Qt::PreciseTimer, &App, &QCoreApplication::quit);
    });
    Check.start(50);
    App.exec();

    const double Cpu = CpuSeconds() - CpuStart;
    const double Elapsed = double(Wall.elapsed()) / 1000.0;
    std::printf("controllers: %d\nidle wall time: %.2f s\nCPU time: %.4f s\nCPU: %.3f %% of one "
                "core\n",
                Server.ConnectionCount(), Elapsed, Cpu, 100.0 * Cpu / Elapsed);
    return 0;
}
