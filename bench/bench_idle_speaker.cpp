// CPU cost of an idle speaker holding idle controller connections, in two cases: the command
// server alone, and the whole "My Player" window on screen (media component, engine, timers,
// control strip). The controllers live in this process too, so each figure is an upper bound.
#include "CommandServer.h"
#include "LocalPlayerWindow.h"
#include "MediaComponent.h"
#include "Settings.h"
#include "SharingState.h"
#include "Speaker.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include <sys/resource.h>

namespace {

constexpr int Controllers = 50;
constexpr int IdleMs = 10000;

double CpuSeconds() {
    rusage Usage{};
    getrusage(RUSAGE_SELF, &Usage);
    auto Seconds = [](const timeval &T) { return double(T.tv_sec) + double(T.tv_usec) / 1e6; };
    return Seconds(Usage.ru_utime) + Seconds(Usage.ru_stime);
}

// Connects the controllers to Port, waits until Count() says all are in, then measures the
// process's CPU over IdleMs. Returns the share of one core in percent.
double MeasureIdle(QApplication &App, quint16 Port, const std::function<int()> &Count) {
    std::vector<std::unique_ptr<QTcpSocket>> Clients;
    for (int I = 0; I < Controllers; ++I) {
        auto Client = std::make_unique<QTcpSocket>();
        QTcpSocket *Raw = Client.get();
        QObject::connect(Raw, &QTcpSocket::readyRead, [Raw] { Raw->readAll(); });
        // One half leaves a command unfinished, so its argument deadline is pending too.
        QObject::connect(Raw, &QTcpSocket::connected,
                         [Raw, I] { Raw->write(I % 2 ? "GET\r\n\r\n" : "URL\r\n"); });
        Client->connectToHost(QHostAddress::LocalHost, Port);
        Clients.push_back(std::move(Client));
    }

    QElapsedTimer Wall;
    double CpuStart = 0;
    QTimer Check;
    QObject::connect(&Check, &QTimer::timeout, [&] {
        if (Count() < Controllers)
            return;
        Check.stop();
        // Let the greetings and the first replies settle before measuring.
        QTimer::singleShot(1000, [&] {
            Wall.start();
            CpuStart = CpuSeconds();
            QTimer::singleShot(IdleMs, Qt::PreciseTimer, &App, &QCoreApplication::quit);
        });
    });
    Check.start(50);
    App.exec();
    const double Cpu = CpuSeconds() - CpuStart;
    const double Elapsed = double(Wall.elapsed()) / 1000.0;
    std::printf("  controllers: %d, idle wall time: %.2f s, CPU time: %.4f s\n", Count(), Elapsed,
                Cpu);
    return 100.0 * Cpu / Elapsed;
}

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication App(argc, argv);

    double ServerOnly = 0;
    {
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
        std::printf("command server alone:\n");
        ServerOnly =
            MeasureIdle(App, Server.Port(), [&Server] { return Server.ConnectionCount(); });
    }

    double Window = 0;
    {
        TSharingState Sharing;
        TSpeaker Speaker(0, Sharing);
        TLocalPlayerWindow Player(Speaker);
        Player.resize(480, 360);
        Player.show();
        TCommandServer *Server = Speaker.CommandServer();
        std::printf("\"My Player\" on screen, nothing playing:\n");
        Window = MeasureIdle(App, Server->Port(), [Server] { return Server->ConnectionCount(); });
    }

    std::printf("\n%-40s %8s\n", "case (idle, 50 controllers)", "% core");
    std::printf("%-40s %8.3f\n", "command server alone", ServerOnly);
    std::printf("%-40s %8.3f   (target < 0.1)\n", "\"My Player\" shown, media idle", Window);
    return 0;
}
