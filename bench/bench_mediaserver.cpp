// Download throughput of the media server on loopback: one client, then 32 at
// once, and the same against nginx serving the same file when it is installed.
// Traffic goes to 127.0.0.1 only; every run is bounded in count and time.
//
// Each answer is checked: status line, then exactly the body asked for. A round
// starts only once the server answers again: libmicrohttpd counts a finished
// connection against its limit per client address (32) until its thread has
// been reaped, a few milliseconds after the client saw the close, so a round
// that follows the 32-client one at once had its connection refused (an empty
// answer, which this benchmark used to print as 0 MB/s).
#include "BenchSockets.h"
#include "MediaServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr qint64 FileSize = qint64(1) << 30;
constexpr int ManyClients = 32;
constexpr qint64 ManySlice = FileSize / 4; // each of the 32 clients fetches 256 MiB

// One request; the body bytes when the status is Expected, else -1 (refused,
// cut short, wrong status).
qint64 Fetch(quint16 Port, const QByteArray &Method, qint64 Length, int Expected) {
    const int Fd = ConnectLoopback(Port, 30);
    if (Fd < 0)
        return -1;
    QByteArray Request = Method + " /big.mp3 HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    if (Length < FileSize)
        Request += "Range: bytes=0-" + QByteArray::number(Length - 1) + "\r\n";
    Request += "\r\n";
    if (send(Fd, Request.constData(), size_t(Request.size()), MSG_NOSIGNAL) != Request.size()) {
        close(Fd);
        return -1;
    }
    std::vector<char> Buffer(1 << 18);
    QByteArray Head;
    qint64 Body = -1;
    for (;;) {
        const ssize_t N = recv(Fd, Buffer.data(), Buffer.size(), 0);
        if (N <= 0)
            break;
        if (Body >= 0) {
            Body += N;
            continue;
        }
        Head.append(Buffer.data(), N);
        const qsizetype End = Head.indexOf("\r\n\r\n");
        if (End >= 0)
            Body = Head.size() - End - 4;
    }
    close(Fd);
    const QByteArrayList Status = Head.left(Head.indexOf("\r\n")).split(' ');
    if (Body < 0 || Status.value(1).toInt() != Expected)
        return -1;
    return Body;
}

// Waits, at most 5 s, until the server answers a HEAD request again.
bool WaitUntilAnswering(quint16 Port) {
    for (int I = 0; I < 500; ++I) {
        if (Fetch(Port, "HEAD", FileSize, 200) == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

struct TRound {
    double MBps = 0;
    int Failed = 0; // downloads refused, cut short or answered wrongly
};

// Clients parallel downloads of Length bytes each.
TRound Measure(quint16 Port, int Clients, qint64 Length) {
    TRound Round;
    if (!WaitUntilAnswering(Port)) {
        Round.Failed = Clients;
        return Round;
    }
    std::atomic<int> Failed{0};
    std::vector<std::thread> Threads;
    QElapsedTimer Clock;
    Clock.start();
    for (int I = 0; I < Clients; ++I)
        Threads.emplace_back([&] {
            const int Status = Length < FileSize ? 206 : 200;
            if (Fetch(Port, "GET", Length, Status) != Length)
                ++Failed;
        });
    for (std::thread &Thread : Threads)
        Thread.join();
    const double Seconds = double(Clock.nsecsElapsed()) / 1e9;
    Round.Failed = Failed;
    Round.MBps = double(Clients - Round.Failed) * double(Length) / 1e6 / Seconds;
    return Round;
}

quint16 FreePort() {
    const int Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in Addr{};
    Addr.sin_family = AF_INET;
    Addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t Size = sizeof Addr;
    bind(Fd, reinterpret_cast<sockaddr *>(&Addr), sizeof Addr);
    getsockname(Fd, reinterpret_cast<sockaddr *>(&Addr), &Size);
    close(Fd);
    return ntohs(Addr.sin_port);
}

pid_t StartNginx(const QString &Dir, const QString &Root, quint16 Port) {
    const QString Conf = Dir + "/nginx.conf";
    QFile File(Conf);
    if (!File.open(QIODevice::WriteOnly))
        return -1;
    File.write(
        QStringLiteral("user root;\nworker_processes auto;\npid %1/nginx.pid;\n"
                       "error_log %1/error.log;\nevents { worker_connections 256; }\n"
                       "http { access_log off; sendfile on; tcp_nopush on;\n"
                       "  client_body_temp_path %1; proxy_temp_path %1; fastcgi_temp_path %1;\n"
                       "  uwsgi_temp_path %1; scgi_temp_path %1;\n"
                       "  server { listen 127.0.0.1:%2; root %3; } }\n")
            .arg(Dir)
            .arg(Port)
            .arg(Root)
            .toUtf8());
    File.close();
    const pid_t Pid = fork();
    if (Pid == 0) {
        const QByteArray C = Conf.toUtf8(), P = Dir.toUtf8();
        execl("/usr/sbin/nginx", "nginx", "-p", P.constData(), "-c", C.constData(), "-g",
              "daemon off;", static_cast<char *>(nullptr));
        _exit(127);
    }
    // Wait until it accepts, at most 5 s.
    for (int I = 0; I < 100; ++I) {
        const int Fd = ConnectLoopback(Port, 30);
        if (Fd >= 0) {
            close(Fd);
            return Pid;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(Pid, SIGTERM);
    waitpid(Pid, nullptr, 0);
    return -1;
}

} // namespace

int main() {
    signal(SIGPIPE, SIG_IGN);
    QTemporaryDir Dir(QDir::tempPath() + "/vx-bench-XXXXXX");
    if (!Dir.isValid())
        return 1;
    const QString Path = Dir.filePath("big.mp3");
    {
        // Sparse: created at once, read from the page cache like a hot file.
        const int Fd =
            open(QFile::encodeName(Path).constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (Fd < 0 || ftruncate(Fd, FileSize) != 0) {
            std::fprintf(stderr, "cannot create %s\n", qPrintable(Path));
            return 1;
        }
        close(Fd);
    }
    {
        // Read it once, so that neither server pays for filling the page cache.
        QFile File(Path);
        if (!File.open(QIODevice::ReadOnly))
            return 1;
        while (!File.read(1 << 20).isEmpty()) {
        }
    }

    const auto Library = std::make_shared<const QByteArrayList>(QByteArrayList{Path.toUtf8()});
    TMediaServer Server([Library] { return Library; });
    QString Error;
    if (!Server.Start(0, &Error)) {
        std::fprintf(stderr, "%s\n", qPrintable(Error));
        return 1;
    }
    pid_t NginxPid = -1;
    quint16 NginxPort = 0;
    if (QFile::exists("/usr/sbin/nginx")) {
        NginxPort = FreePort();
        NginxPid = StartNginx(Dir.path(), Dir.path(), NginxPort);
        if (NginxPid <= 0)
            std::fprintf(stderr, "nginx did not start\n");
    }
    const bool HaveNginx = NginxPid > 0;

    // Rounds alternate between the two servers, so that neither gains from running
    // first or from a quiet moment of the machine; the medians are compared.
    constexpr int Rounds = 5;
    std::vector<TRound> OwnOnes, OwnManys, NginxOnes, NginxManys;
    for (int R = 0; R < Rounds; ++R) {
        OwnOnes.push_back(Measure(Server.Port(), 1, FileSize));
        if (HaveNginx)
            NginxOnes.push_back(Measure(NginxPort, 1, FileSize));
        OwnManys.push_back(Measure(Server.Port(), ManyClients, ManySlice));
        if (HaveNginx)
            NginxManys.push_back(Measure(NginxPort, ManyClients, ManySlice));
    }
    Server.Stop();
    if (HaveNginx) {
        kill(NginxPid, SIGTERM);
        waitpid(NginxPid, nullptr, 0);
    }
    const auto Median = [](const std::vector<TRound> &Runs) {
        std::vector<double> V;
        for (const TRound &Run : Runs)
            V.push_back(Run.MBps);
        if (V.empty())
            return 0.0;
        std::sort(V.begin(), V.end());
        return V[V.size() / 2];
    };
    const auto Failures = [](const std::vector<TRound> &Runs) {
        int Sum = 0;
        for (const TRound &Run : Runs)
            Sum += Run.Failed;
        return Sum;
    };

    std::printf("loopback download, MB/s, median of %d alternating rounds "
                "(1 client: 1 GiB; %d clients: 256 MiB each)\n",
                Rounds, ManyClients);
    std::printf("%-12s %12s %12s %8s %10s\n", "clients", "vxPlayer", "nginx", "ratio", "failed");
    const auto Row = [&](const char *Name, const std::vector<TRound> &Own,
                         const std::vector<TRound> &Other) {
        const double O = Median(Own), N = Median(Other);
        char Failed[32];
        std::snprintf(Failed, sizeof Failed, "%d/%d", Failures(Own), Failures(Other));
        if (HaveNginx && N > 0)
            std::printf("%-12s %12.0f %12.0f %8.2f %10s\n", Name, O, N, O / N, Failed);
        else
            std::printf("%-12s %12.0f %12s %8s %10s\n", Name, O, "-", "-", Failed);
    };
    Row("1", OwnOnes, NginxOnes);
    Row("32", OwnManys, NginxManys);
    if (!HaveNginx)
        std::printf("nginx not found: install it (apt-get install nginx) for the comparison\n");
    return 0;
}
