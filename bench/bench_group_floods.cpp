// A group's leader, the program as a speaker without a screen, against rooms that misbehave;
// each program given is measured in turn and the figures printed side by side:
//   backlog  31 rooms join and never read while a controller edits an 8 MB play list three
//            times a second for 20 s: the leader's peak memory;
//   reports  one room sends reports as fast as it can for 10 s: the leader's CPU, the GROUP
//            messages a watching controller got, how late GET was answered on the command port;
//   clocks   8 sources send clock requests as fast as they can for 10 s: the same, and the
//            answers they got.
// Rooms and sources are other computers' addresses (10.254.0.0/24, a local route); run it as
// root inside a private network namespace:
//   unshare -n bench_group_floods BEFORE/vxPlayer AFTER/vxPlayer
#include "BenchProcess.h"
#include "BenchSockets.h"
#include "ClockPacket.h"
#include "CommandProtocol.h"
#include "GroupWire.h"
#include "TwoHosts.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <memory>
#include <poll.h>
#include <thread>
#include <vector>

namespace {

using TFigures = std::map<QString, QString>;
constexpr int Rooms = 31;

quint32 Far(int N) {
    return 0x0AFE0000u + quint32(N);
}

// The peak and current resident memory of Pid, MiB.
std::pair<double, double> Memory(qint64 Pid) {
    QFile Status(QStringLiteral("/proc/%1/status").arg(Pid));
    double Peak = 0, Now = 0;
    if (Status.open(QIODevice::ReadOnly))
        for (const QByteArray &Line : Status.readAll().split('\n')) {
            const double MiB = Line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
            Peak = Line.startsWith("VmHWM:") ? MiB : Peak;
            Now = Line.startsWith("VmRSS:") ? MiB : Now;
        }
    return {Peak, Now};
}

// Reads and drops everything a connection sends, counting the messages that begin with Word.
struct TDrain {
    int Fd;
    QByteArray Word;
    std::atomic<int> Count{0};
    std::atomic<bool> Stop{false};
    std::thread Thread{[this] {
        char Buffer[65536];
        QByteArray Tail;
        while (!Stop) {
            pollfd P{Fd, POLLIN, 0};
            if (poll(&P, 1, 100) <= 0)
                continue;
            const ssize_t N = recv(Fd, Buffer, sizeof Buffer, 0);
            if (N <= 0)
                break;
            Tail = Tail.right(Word.size()) + QByteArray(Buffer, N);
            Count += int(Tail.count("\r\n" + Word + "\r\n"));
        }
    }};
    ~TDrain() {
        Stop = true;
        Thread.join();
        close(Fd);
    }
};

// A room on another computer: takes the invitation, then never reads (Flood: false) or sends
// reports as fast as it can while Flood holds, and pings.
struct TRoom {
    int Listener = -1;
    std::atomic<bool> Stop{false}, Flood{false}, Joined{false};
    std::atomic<qint64> Sent{0};
    std::thread Thread;

    TRoom(int N, quint16 Port) {
        Listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int Small = 4096; // what the kernel holds for it stays small
        setsockopt(Listener, SOL_SOCKET, SO_RCVBUF, &Small, sizeof Small);
        const sockaddr_in A = Endpoint(Far(N), Port);
        if (bind(Listener, reinterpret_cast<const sockaddr *>(&A), sizeof A) != 0 ||
            listen(Listener, 4) != 0)
            std::fprintf(stderr, "room %d: cannot listen\n", N);
        Thread = std::thread([this] { Run(); });
    }
    ~TRoom() {
        Stop = true;
        shutdown(Listener, SHUT_RDWR);
        Thread.join();
        close(Listener);
    }
    void Run() {
        const int Fd = accept(Listener, nullptr, nullptr);
        if (Fd < 0)
            return;
        char Hello[512];
        if (recv(Fd, Hello, sizeof Hello, 0) > 0)
            SendAll(Fd, EncodeGroupRecord(HelloRecord(
                            {GroupLinkVersion, "Room", TGroupIntent::Accept, 1, 0, 0, {}})));
        Joined = true;
        QByteArray Reports;
        for (int I = 0; I < 256; ++I)
            Reports += EncodeGroupRecord({TGroupKind::Report, {I % 100, 0, 2}, {"Playing"}, {}});
        const QByteArray Ping = EncodeGroupRecord({});
        QElapsedTimer Since;
        Since.start();
        while (!Stop) {
            if (Flood) {
                if (!SendAll(Fd, Reports))
                    break;
                Sent += 256;
                continue;
            }
            if (Since.elapsed() >= 500) {
                (void)send(Fd, Ping.constData(), size_t(Ping.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
                Since.restart();
            }
            QThread::msleep(20);
        }
        close(Fd);
    }
};

// The program as a speaker without a screen, on the fixed ports, its home its own.
struct TLeader {
    QTemporaryDir Home;
    QProcess Process;
    int Control = -1;

    bool Start(const QString &Exe) {
        QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
        for (const char *Name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
            Env.insert(Name, Home.path());
        Env.insert("XDG_RUNTIME_DIR", Home.path());
        Env.insert("VX_MPV_OPTIONS", "ao=null");
        Env.insert("QT_QPA_PLATFORM", "offscreen");
        Process.setProcessEnvironment(Env);
        Process.setStandardOutputFile(QProcess::nullDevice());
        Process.setStandardErrorFile(QProcess::nullDevice());
        Process.start(Exe, {"--headless"});
        for (int I = 0; I < 100 && Control < 0; ++I) {
            QThread::msleep(100);
            Control = ConnectLoopback(37400, 5);
        }
        return Control >= 0;
    }
    ~TLeader() {
        if (Control >= 0)
            close(Control);
        Process.kill();
        Process.waitForFinished(5000);
    }
    void Send(const QByteArray &Word, const QByteArrayList &Lines) {
        QByteArray Body;
        for (const QByteArray &L : Lines)
            Body += L + "\r\n";
        SendAll(Control, BuildControllerMessage(Word, Body));
    }
};

// How late GET comes back, every 100 ms while Run runs: median and worst, ms.
QString Probe(int Fd, const std::function<bool()> &Running) {
    std::vector<qint64> Ms;
    char Buffer[4096];
    while (Running()) {
        QElapsedTimer Clock;
        Clock.start();
        SendAll(Fd, "GET\r\n\r\n");
        QByteArray Got;
        while (!Got.contains("LIST\r\n")) {
            const ssize_t N = recv(Fd, Buffer, sizeof Buffer, 0);
            if (N <= 0)
                return "lost";
            Got.append(Buffer, N);
        }
        Ms.push_back(Clock.elapsed());
        QThread::msleep(100);
    }
    std::sort(Ms.begin(), Ms.end());
    return Ms.empty() ? "-" : QStringLiteral("%1 / %2").arg(Ms[Ms.size() / 2]).arg(Ms.back());
}

void Backlog(const QString &Exe, TFigures &Out) {
    TLeader Leader;
    if (!Leader.Start(Exe))
        return;
    TDrain Lists{dup(Leader.Control), "LIST"};
    std::vector<std::unique_ptr<TRoom>> Silent;
    for (int N = 1; N <= Rooms; ++N) {
        Silent.push_back(std::make_unique<TRoom>(N, quint16(41000 + N)));
        Leader.Send("GROUPADD", {QHostAddress(Far(N)).toString().toLatin1() + ":" +
                                 QByteArray::number(41000 + N)});
    }
    QThread::msleep(2000);
    int Joined = 0;
    for (const auto &Room : Silent)
        Joined += Room->Joined;
    double Peak = 0;
    QElapsedTimer Clock;
    Clock.start();
    for (int Edit = 0; Clock.elapsed() < 20000; ++Edit) {
        QByteArrayList Rows;
        for (int I = 0; I < 8000; ++I)
            Rows.append("http://10.254.0.200/" + QByteArray::number(Edit) + "/" +
                        QByteArray(960, 'a' + char(I % 26)) + QByteArray::number(I) + ".mp3");
        Leader.Send("UPDATELIST", Rows);
        Peak = std::max(Peak, Memory(Leader.Process.processId()).first);
        QThread::msleep(300);
    }
    Out["backlog: rooms joined"] = QString::number(Joined);
    Out["backlog: leader peak MiB"] = QString::number(Peak, 'f', 0);
    Out["backlog: leader MiB at the end"] =
        QString::number(Memory(Leader.Process.processId()).second, 'f', 0);
}

void Floods(const QString &Exe, TFigures &Out) {
    TLeader Leader;
    if (!Leader.Start(Exe))
        return;
    const qint64 Pid = Leader.Process.processId();
    TRoom Room(1, 42001);
    TDrain Watch{ConnectLoopback(37400), "GROUP"};
    SendAll(Watch.Fd, BuildControllerMessage("GROUPWATCH", {}));
    TDrain Lists{dup(Leader.Control), "LIST"};
    Leader.Send("GROUPADD", {QHostAddress(Far(1)).toString().toLatin1() + ":42001"});
    for (int I = 0; I < 50 && !Room.Joined; ++I)
        QThread::msleep(100);
    QThread::msleep(500);
    const int ProbeFd = ConnectLoopback(37400, 10);

    // Reports.
    double Cpu = ProcessCpu(Pid);
    const int Groups = Watch.Count;
    QElapsedTimer Clock;
    Clock.start();
    Room.Flood = true;
    Out["reports: GET late, median / worst ms"] =
        Probe(ProbeFd, [&] { return Clock.elapsed() < 10000; });
    Room.Flood = false;
    Out["reports: sent"] = QString::number(Room.Sent);
    Out["reports: leader CPU s"] = QString::number(ProcessCpu(Pid) - Cpu, 'f', 2);
    Out["reports: GROUP to the watcher"] = QString::number(Watch.Count - Groups);
    QThread::msleep(1000);

    // Clock requests from 8 sources.
    std::atomic<bool> Stop{false};
    std::atomic<qint64> Asked{0}, Answered{0};
    std::vector<std::thread> Sources;
    for (int S = 0; S < 8; ++S)
        Sources.emplace_back([&, S] {
            const int Fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            const sockaddr_in From = Endpoint(Far(100 + S), 0),
                              To = Endpoint(0x7F000001u, GroupPort);
            bind(Fd, reinterpret_cast<const sockaddr *>(&From), sizeof From);
            fcntl(Fd, F_SETFL, O_NONBLOCK);
            const QByteArray Request =
                EncodeClockPacket({TClockPacket::TKind::Request, 1, 1000, 0, 0});
            char Reply[64];
            while (!Stop) {
                for (int I = 0; I < 64; ++I)
                    Asked += sendto(Fd, Request.constData(), size_t(Request.size()), 0,
                                    reinterpret_cast<const sockaddr *>(&To), sizeof To) > 0;
                while (recv(Fd, Reply, sizeof Reply, 0) > 0)
                    ++Answered;
                QThread::usleep(200);
            }
            close(Fd);
        });
    Cpu = ProcessCpu(Pid);
    Clock.restart();
    Out["clocks: GET late, median / worst ms"] =
        Probe(ProbeFd, [&] { return Clock.elapsed() < 10000; });
    Stop = true;
    for (std::thread &T : Sources)
        T.join();
    Out["clocks: leader CPU s"] = QString::number(ProcessCpu(Pid) - Cpu, 'f', 2);
    Out["clocks: asked / answered"] = QStringLiteral("%1 / %2").arg(Asked).arg(Answered);
    close(ProbeFd);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication App(argc, argv);
    TTwoHosts::Run({"ip", "link", "set", "lo", "up"});
    if (argc < 3 || OtherComputer(1).isEmpty()) {
        std::fprintf(stderr, "usage (as root): unshare -n %s BEFORE/vxPlayer AFTER/vxPlayer\n",
                     argv[0]);
        return 2;
    }
    std::vector<TFigures> Runs(2);
    for (int I = 0; I < 2; ++I) {
        std::fprintf(stderr, "%s ...\n", argv[1 + I]);
        Backlog(QString::fromLocal8Bit(argv[1 + I]), Runs[I]);
        Floods(QString::fromLocal8Bit(argv[1 + I]), Runs[I]);
    }
    std::printf("%-40s %22s %22s\n", "", "before", "after");
    for (const auto &[Name, Value] : Runs[0])
        std::printf("%-40s %22s %22s\n", qPrintable(Name), qPrintable(Value),
                    qPrintable(Runs[1][Name]));
    return 0;
}
