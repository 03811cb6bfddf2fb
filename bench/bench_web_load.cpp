// The web remote against a hostile speaker, greedy library readers and a play flood, in one
// process as the program runs it (the media server and the web remote on this thread's event
// loop, every client and speaker on threads of its own with blocking sockets). One load per
// run of this program, since peak RSS is per process:
//   speakers  64 speakers of other computers, watched as the page watches (POST, then the
//             event stream) from 8 addresses, 32 with a browser reading, 32 left alone; each
//             sends a 16 MB list of control characters every 2 s;
//   library   a 100000-track library, 224 readers from 7 addresses each reading 1 KiB of the
//             library answer every 100 ms, asking again when it has all;
//   plays     a 100000-track library, two clients each sending plays of the whole library to
//             this computer from 4 connections at once.
// Printed per load: peak RSS, how late a call queued to the GUI thread every 5 ms ran (median,
// 99th percentile, worst), and what the load got done. Without arguments it runs each load in
// a child; "--old <binary>" runs another build of this program too, side by side. A load is cut
// off when RSS passes --cap MiB (default 4096), so an old build cannot take the machine.
// "--search" instead times the phone page's search answer over 100000 tagged rows, per
// keystroke, as a request's thread builds it.
// Runs in a private network namespace only (see Usage): nothing leaves loopback.
#include "BenchLibrary.h"
#include "BenchSockets.h"
#include "LibraryAnswer.h"
#include "ListPages.h"
#include "MediaServer.h"
#include "MusicLibrary.h"
#include "Settings.h"
#include "SharingState.h"
#include "TwoHosts.h"
#include "WebRemote.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr int LoadMs = 15000;
constexpr int Tracks = 100000;

QByteArray StatusField(const char *Name) {
    QFile Status(QStringLiteral("/proc/self/status"));
    if (Status.open(QIODevice::ReadOnly))
        for (const QByteArray &Line : Status.readAll().split('\n'))
            if (Line.startsWith(Name))
                return Line.mid(qsizetype(std::strlen(Name))).trimmed().split(' ').value(0);
    return {};
}

double MiB(const char *Field) {
    return StatusField(Field).toDouble() / 1024;
}

double ThreadCpuMs() {
    timespec Now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &Now);
    return double(Now.tv_sec) * 1e3 + double(Now.tv_nsec) / 1e6;
}

// A listening socket on Address:Port (0: any port); its port in *Bound.
int Listen(quint32 Address, quint16 Port, quint16 *Bound) {
    const int Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int One = 1;
    setsockopt(Fd, SOL_SOCKET, SO_REUSEADDR, &One, sizeof One);
    sockaddr_in At{};
    At.sin_family = AF_INET;
    At.sin_port = htons(Port);
    At.sin_addr.s_addr = htonl(Address);
    socklen_t Size = sizeof At;
    if (bind(Fd, reinterpret_cast<sockaddr *>(&At), sizeof At) != 0 || listen(Fd, 256) != 0 ||
        getsockname(Fd, reinterpret_cast<sockaddr *>(&At), &Size) != 0) {
        std::fprintf(stderr, "cannot listen on port %u\n", unsigned(Port));
        std::exit(1);
    }
    *Bound = ntohs(At.sin_port);
    return Fd;
}

int StatusOf(const QByteArray &Head) {
    return Head.startsWith("HTTP/1.") && Head.size() > 12 ? Head.mid(9, 3).toInt() : 0;
}

// The status of one request from 127.0.0.FromLast, 0 when none came.
int Ask(quint16 Port, int FromLast, const QByteArray &Request, QByteArray *Answer = nullptr) {
    const int Fd = ConnectFrom(Port, FromLast, 30000);
    if (Fd < 0)
        return 0;
    QByteArray Got;
    if (SendAll(Fd, Request)) {
        char Buffer[65536];
        for (ssize_t N; (N = recv(Fd, Buffer, sizeof Buffer, 0)) > 0;)
            Got.append(Buffer, N);
    }
    close(Fd);
    if (Answer)
        *Answer = Got;
    return StatusOf(Got);
}

QByteArray Get(const QByteArray &Path) {
    return "GET " + Path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
}

QByteArray Post(const QByteArray &Path, const QByteArray &Body) {
    return "POST " + Path +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: " +
           QByteArray::number(Body.size()) + "\r\nConnection: close\r\n\r\n" + Body;
}

double Percentile(std::vector<double> Values, double P) {
    if (Values.empty())
        return 0;
    std::sort(Values.begin(), Values.end());
    return Values[std::min(Values.size() - 1, size_t(P * double(Values.size())))];
}

constexpr char Usage[] =
    "Run it alone in a private network namespace, whose only interface is lo:\n"
    "  unshare -n bash -c \"ip link set lo up && echo 37400-37402 > "
    "/proc/sys/net/ipv4/ip_local_reserved_ports && build/bench/bench_web_load [--old <build>]\"\n";

struct TRun {
    std::atomic<bool> Stop{false};
    std::vector<std::thread> Threads;
    std::mutex Lock;
    std::map<QByteArray, qint64> Counts; // what the load got done, by kind
    void Count(const QByteArray &Kind, qint64 N = 1) {
        std::lock_guard Hold(Lock);
        Counts[Kind] += N;
    }
};

// The query of the event stream of a watch on Host, opened from 127.0.0.FromLast as the page
// opens it. A build from before watches were opened by POST answers no token: "host=" then.
QByteArray OpenWatch(TRun &Run, quint16 WebPort, int FromLast, const QByteArray &Host) {
    QByteArray Answer;
    const int Status = Ask(WebPort, FromLast,
                           Post("/vx-remote/api/watch", "{\"host\":\"" + Host + "\"}"), &Answer);
    Run.Count("watches answered " + QByteArray::number(Status));
    const QByteArray Token = QJsonDocument::fromJson(Answer.mid(Answer.indexOf("\r\n\r\n") + 4))
                                 .object()
                                 .value(u"stream")
                                 .toString()
                                 .toLatin1();
    return Token.isEmpty() ? "host=" + Host : "stream=" + Token;
}

// An event stream of the watch on Host, from 127.0.0.FromLast.
int OpenEvents(TRun &Run, quint16 WebPort, int FromLast, const QByteArray &Host) {
    const QByteArray Watch = OpenWatch(Run, WebPort, FromLast, Host);
    const int Fd = ConnectFrom(WebPort, FromLast, 1000);
    if (Fd >= 0)
        SendAll(Fd, Get("/vx-remote/api/events?" + Watch));
    return Fd;
}

// 64 speakers of other computers on port 37400, each connection getting the list every 2 s;
// Hosts: their addresses, local to the private network namespace the bench runs in, so nothing
// leaves this computer. The browsers come from 8 addresses, so that none holds its whole share
// of sessions or streams.
void Speakers(TRun &Run, quint16 WebPort, const QByteArrayList &Hosts) {
    quint16 Bound = 0;
    const int Server = Listen(INADDR_ANY, 37400, &Bound);
    QByteArray List = "LIST\r\n1024\r\n";
    for (int I = 0; I < 1024; ++I)
        List += QByteArray(16000, '\x01') + "\r\n";
    Run.Threads.emplace_back([&Run, Server, List] {
        while (!Run.Stop) {
            const int Fd = accept(Server, nullptr, nullptr);
            if (Fd < 0)
                break;
            Run.Count("speaker connections");
            std::thread([&Run, Fd, List] {
                while (!Run.Stop && SendAll(Fd, List)) {
                    Run.Count("lists sent");
                    for (int Ms = 0; Ms < 2000 && !Run.Stop; Ms += 100)
                        std::this_thread::sleep_for(std::chrono::milliseconds(100));
                }
                close(Fd);
            }).detach();
        }
    });
    // The first 32 browsers leave once their speaker is watched; the other 32 stay and read.
    const auto Open = [&Run, WebPort, Hosts](int Host) {
        return OpenEvents(Run, WebPort, 2 + Host % 8, Hosts.at(Host));
    };
    Run.Threads.emplace_back([&Run, Open, Server] {
        std::vector<int> Left;
        for (int Host = 0; Host < 32; ++Host)
            Left.push_back(Open(Host));
        std::this_thread::sleep_for(std::chrono::seconds(2));
        for (const int Fd : Left)
            close(Fd);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        std::vector<std::thread> Readers;
        for (int Host = 32; Host < 64; ++Host)
            Readers.emplace_back([&Run, Fd = Open(Host)] {
                std::vector<char> Buffer(1 << 16);
                bool First = true;
                while (!Run.Stop) {
                    const ssize_t N = recv(Fd, Buffer.data(), Buffer.size(), 0);
                    if (N == 0 || (N < 0 && errno != EAGAIN))
                        break;
                    if (N > 0 && std::exchange(First, false))
                        Run.Count("streams answered " +
                                  QByteArray::number(StatusOf(QByteArray(Buffer.data(), N))));
                    if (N > 0)
                        Run.Count("event bytes read", N);
                }
                close(Fd);
            });
        for (std::thread &Reader : Readers)
            Reader.join();
        shutdown(Server, SHUT_RDWR);
    });
}

// 224 slow readers from 127.0.0.2 to 127.0.0.8.
void LibraryReaders(TRun &Run, quint16 WebPort) {
    for (int Reader = 0; Reader < 224; ++Reader)
        Run.Threads.emplace_back([&Run, WebPort, From = 2 + Reader / 32] {
            while (!Run.Stop) {
                const int Fd = ConnectFrom(WebPort, From, 1000, 4096);
                if (Fd < 0 || !SendAll(Fd, Get("/vx-remote/api/library"))) {
                    if (Fd >= 0)
                        close(Fd);
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    continue;
                }
                char Buffer[1024];
                ssize_t N = 0;
                while (!Run.Stop && (N = recv(Fd, Buffer, sizeof Buffer, 0)) != 0) {
                    if (N > 0)
                        Run.Count("library bytes read", N);
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                }
                if (N == 0)
                    Run.Count("library answers read whole");
                close(Fd);
            }
        });
}

// Two clients, 127.0.0.2 and 127.0.0.3, four connections each; this computer's speaker is a
// sink that reads everything.
void Plays(TRun &Run, TWebRemote &Web, quint16 WebPort) {
    quint16 SinkPort = 0;
    const int Sink = Listen(INADDR_LOOPBACK, 0, &SinkPort);
    Web.SetLocalSpeakerPort(SinkPort);
    Run.Threads.emplace_back([&Run, Sink] {
        while (!Run.Stop) {
            const int Fd = accept(Sink, nullptr, nullptr);
            if (Fd < 0)
                break;
            std::thread([&Run, Fd] {
                std::vector<char> Buffer(1 << 20);
                ssize_t N;
                while ((N = recv(Fd, Buffer.data(), Buffer.size(), 0)) > 0)
                    Run.Count("bytes to the speaker", N);
                close(Fd);
            }).detach();
        }
    });
    for (int Client = 0; Client < 8; ++Client)
        Run.Threads.emplace_back([&Run, WebPort, Sink, From = 2 + Client / 4] {
            QByteArray Library;
            Ask(WebPort, From, Get("/vx-remote/api/library"), &Library);
            const qsizetype At = Library.indexOf("\"version\":");
            const QByteArray Version = Library.mid(At + 10, 12).split(',').value(0).split('}')[0];
            const QByteArray Play = Post("/vx-remote/api/play",
                                         "{\"host\":\"My Computer\",\"version\":" + Version + '}');
            while (!Run.Stop)
                Run.Count("plays answered " + QByteArray::number(Ask(WebPort, From, Play)));
            shutdown(Sink, SHUT_RDWR);
        });
}

int RunLoad(const QByteArray &Load, double CapMiB) {
    int argc = 1;
    char Name[] = "bench_web_load";
    char *argv[] = {Name, nullptr};
    QCoreApplication App(argc, argv);
    QTemporaryDir Dir;
    CommandPort = 37400; // where other computers' speakers listen, as the settings say
    QByteArrayList Hosts;
    for (int N = 2; Load == "speakers" && N < 66; ++N)
        Hosts.append(OtherComputer(N).toLatin1());
    if (Hosts.contains(QByteArray())) {
        std::fputs(Usage, stderr);
        return 1;
    }
    TMusicLibrary Library;
    if (Load != "speakers") {
        const QString File = Dir.filePath(QStringLiteral("library.txt"));
        if (!WriteLibraryFile(File, Tracks) || !Library.LoadFromFile(File))
            return 1;
    }
    TSharingState Sharing;
    TMediaServer Server([&Library] { return Library.Snapshot(); });
    TWebRemote Web(Library, Sharing);
    Web.Start(Server);
    if (!Server.Start(0))
        return 1;
    TRun Run;
    // The cap: checked on a thread of its own, since the GUI thread may be what is stuck.
    std::thread Guard([&] {
        while (!Run.Stop) {
            if (MiB("VmRSS:") > CapMiB) {
                std::printf("%-8s cut off: RSS passed %.0f MiB\n", Load.constData(), CapMiB);
                std::fflush(stdout);
                std::_Exit(0);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    std::vector<double> Late;
    std::thread Probe([&] {
        while (!Run.Stop) {
            QElapsedTimer Posted;
            Posted.start();
            QMetaObject::invokeMethod(
                &App, [&Late, Posted] { Late.push_back(double(Posted.nsecsElapsed()) / 1e6); },
                Qt::QueuedConnection);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const double CpuBefore = ThreadCpuMs();
    if (Load == "speakers")
        Speakers(Run, Server.Port(), Hosts);
    else if (Load == "library")
        LibraryReaders(Run, Server.Port());
    else
        Plays(Run, Web, Server.Port());
    QTimer::singleShot(LoadMs, &App, &QCoreApplication::quit);
    App.exec();
    const double GuiCpu = ThreadCpuMs() - CpuBefore;
    Run.Stop = true;
    const double Peak = MiB("VmHWM:");
    QByteArray Done;
    {
        std::lock_guard Hold(Run.Lock);
        for (const auto &[Kind, N] : Run.Counts)
            Done += Kind + ": " + QByteArray::number(N) + "; ";
        const qint64 Plays = Run.Counts["plays answered 200"];
        if (Plays > 0)
            Done += "GUI ms per play: " + QByteArray::number(GuiCpu / double(Plays), 'f', 1);
    }
    std::printf("%-8s peak RSS %7.0f MiB  queued call late ms: median %7.2f  99th %8.2f  worst "
                "%8.2f  | %s\n",
                Load.constData(), Peak, Percentile(Late, 0.5), Percentile(Late, 0.99),
                Percentile(Late, 1.0), Done.constData());
    std::fflush(stdout);
    // The clients' threads block in the server's answers: leave without waiting for them.
    std::_Exit(0);
}

// The phone page's search answer (its first page of tracks, and of albums) per keystroke.
int SearchAnswers() {
    const QStringList Artists{"Annbjørg Lien", "Paweł Mykietyn", "Beyoncé",         "Sigur Rós",
                              "John Coltrane", "Mötley Crüe",    "Đorđe Balašević", "Björk"};
    const QStringList Words{"Blue", "Train", "Straße", "Noël", "Café", "Night", "Æther", "Ode"};
    QList<TLibraryEntry> Rows;
    QList<TTrackTags> Tags;
    for (int I = 0; I < Tracks; ++I) {
        Rows.append({"Track " + QByteArray::number(I) + ".mp3", TrackPath(I)});
        TTrackTags &T = Tags.emplace_back();
        T.Title = Words[I % 8] + ' ' + Words[(I / 8) % 8] + ' ' + QString::number(I);
        T.Artists = {Artists[(I / 64) % 8]};
        T.Album = Words[(I / 512) % 8] + " Album " + QString::number(I / 12);
        T.Track = I % 12 + 1;
    }
    // What the GUI thread does per publish: the rows' tags handed over shared, as AllTags does.
    QElapsedTimer T;
    T.start();
    const TLibraryAnswer Answer(1, 1, Rows, Tags);
    std::printf("phone search: tags published (GUI thread) in %.1f ms\n",
                double(T.nsecsElapsed()) / 1e6);
    T.restart();
    Answer.Page("", 0, PageRows);
    std::printf("phone search: first answer (rows' JSON and search texts made) %.0f ms; ",
                double(T.nsecsElapsed()) / 1e6);
    T.restart();
    Answer.AlbumsPage(-1, "", 0, PageRows);
    std::printf("albums grouped %.0f ms\n", double(T.nsecsElapsed()) / 1e6);
    const QStringList Queries{"annbjorg lien",       "pawel blue", "beyonce night 12", "zzz", "a",
                              "cafe straße album 7", "björk ode"};
    for (const bool Albums : {false, true}) {
        std::vector<double> Times;
        for (const QString &Query : Queries)
            for (qsizetype Typed = 1; Typed <= Query.size(); ++Typed) {
                const QByteArray Typed8 = Query.first(Typed).toUtf8();
                T.restart();
                if (Albums)
                    Answer.AlbumsPage(-1, Typed8, 0, PageRows);
                else
                    Answer.Page(Typed8, 0, PageRows);
                Times.push_back(double(T.nsecsElapsed()) / 1e6);
            }
        std::printf("phone search answer, %s, %d rows, %zu keystrokes: median %.2f ms, 99th "
                    "%.2f ms, worst %.2f ms\n",
                    Albums ? "albums" : "tracks", Tracks, Times.size(), Percentile(Times, 0.5),
                    Percentile(Times, 0.99), Percentile(Times, 1.0));
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    QByteArrayList Arguments;
    for (int I = 1; I < argc; ++I)
        Arguments << argv[I];
    double CapMiB = 4096;
    if (const qsizetype At = Arguments.indexOf("--cap"); At >= 0)
        CapMiB = Arguments.value(At + 1).toDouble();
    if (Arguments.contains("--search"))
        return SearchAnswers();
    if (const qsizetype At = Arguments.indexOf("--load"); At >= 0)
        return RunLoad(Arguments.value(At + 1), CapMiB);
    QCoreApplication App(argc, argv);
    if (OtherComputer(2).isEmpty()) {
        std::fputs(Usage, stderr);
        return 1;
    }
    const qsizetype OldAt = Arguments.indexOf("--old");
    QList<std::pair<QString, QString>> Builds = {
        {QStringLiteral("this"), QString::fromLocal8Bit(argv[0])}};
    if (OldAt >= 0)
        Builds.append({QStringLiteral("old"), QString::fromLocal8Bit(Arguments.value(OldAt + 1))});
    for (const char *Load : {"speakers", "library", "plays"})
        for (const auto &[Build, Program] : Builds) {
            QProcess Child;
            Child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            Child.start(Program, {QStringLiteral("--load"), QString::fromLatin1(Load),
                                  QStringLiteral("--cap"), QString::number(CapMiB)});
            Child.waitForFinished(-1);
            std::printf("%-5s %s", qPrintable(Build), Child.readAllStandardOutput().constData());
            std::fflush(stdout);
        }
    return 0;
}
