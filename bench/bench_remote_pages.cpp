// The controller with many remote pages open: 20 pages on 20 speakers whose play lists hold
// 1000 rows each and who report a position every second, CPU over 10 s; then the time from
// the arrival of a 10000-row "LIST" to the repainted view of the page on screen.
//
// The speakers run in a child process (this program with --speakers), so that the CPU
// figure is the controller's alone. They speak the protocol as a playing speaker does:
// greeting, "LIST" and "URL" on "GET", "POSITION" every second with a name every fourth time.
//
// --hostile: one page on a speaker that floods it in three phases (STATE and MUTE as fast as
// the page takes them; 32 MB of "LIST" traffic; a new 100000-row list every 500 ms) while a
// 10 ms single-shot measures how late queued calls run; prints the page's peak RSS and the
// worst delay per phase. --compare <other build of this program> runs that one's hostile mode
// too and prints both side by side.
#include "BenchProcess.h"
#include "BenchRemoteSpeakers.h"
#include "CommandClient.h"
#include "CommandProtocol.h"
#include "RemotePlayerPage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSocketNotifier>
#include <QTabWidget>
#include <QTableView>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include <sys/resource.h>
#include <time.h>

namespace {

constexpr int Pages = 20;
constexpr int RowsPerPage = 1000;
constexpr int BigRows = 10000;
constexpr int MeasureMs = 10000;
constexpr int ListRounds = 5;

double CpuSeconds() {
    rusage Usage{};
    getrusage(RUSAGE_SELF, &Usage);
    auto Seconds = [](const timeval &T) { return double(T.tv_sec) + double(T.tv_usec) / 1e6; };
    return Seconds(Usage.ru_utime) + Seconds(Usage.ru_stime);
}

// The child: Pages speakers of RowsPerPage rows and one of BigRows; prints their ports.
int RunSpeakers(int argc, char **argv) {
    QCoreApplication App(argc, argv);
    std::vector<std::unique_ptr<TBenchSpeaker>> Speakers;
    for (int I = 0; I <= Pages; ++I) {
        Speakers.push_back(std::make_unique<TBenchSpeaker>(I < Pages ? RowsPerPage : BigRows));
        std::printf("%u\n", unsigned(Speakers.back()->Port()));
    }
    std::fflush(stdout);
    return App.exec();
}

int RunHostileSpeaker(int argc, char **argv) {
    QCoreApplication App(argc, argv);
    THostileSpeaker Speaker;
    std::printf("%u\n", unsigned(Speaker.Port()));
    std::fflush(stdout);
    return App.exec();
}

// Peak resident memory since the last reset, in MB.
double PeakRssMb() {
    QFile Status(QStringLiteral("/proc/self/status"));
    if (!Status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &Line : Status.readAll().split('\n'))
        if (Line.startsWith("VmHWM:"))
            return Line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

void ResetPeakRss() {
    QFile Refs(QStringLiteral("/proc/self/clear_refs"));
    if (Refs.open(QIODevice::WriteOnly))
        Refs.write("5");
}

// Runs this program's hostile mode: one line per phase, "peak-MB worst-ms".
QList<std::pair<double, double>> RunHostile() {
    QProcess Child;
    Child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hostile-speaker")});
    if (!Child.waitForReadyRead(5000))
        return {};
    const quint16 Port = quint16(Child.readLine().trimmed().toUInt());

    QTabWidget Tabs;
    Tabs.resize(316, 476);
    auto *Page = new TRemotePlayerPage;
    Tabs.addTab(Page, QStringLiteral("Hostile Player"));
    Tabs.show();
    QList<std::pair<double, double>> Figures;
    int Phase = -1;
    double Worst = 0;
    QElapsedTimer Probe;
    Probe.start();
    qint64 Due = 0;
    std::function<void()> Tick = [&] {
        Worst = std::max(Worst, double(Probe.nsecsElapsed() - Due) / 1e6);
        Due = Probe.nsecsElapsed() + 10'000'000;
        QTimer::singleShot(10, Qt::PreciseTimer, Tick);
    };
    QEventLoop Loop;
    QObject::connect(&Child, &QProcess::readyReadStandardOutput, &Loop, [&] {
        while (Child.canReadLine()) {
            const QByteArray Line = Child.readLine().trimmed();
            if (Phase >= 0)
                Figures.append({PeakRssMb(), Worst});
            ResetPeakRss();
            Worst = 0;
            if (Line == "end")
                Loop.quit();
            else
                ++Phase;
        }
    });
    QObject::connect(&Child, &QProcess::finished, &Loop, &QEventLoop::quit);
    Page->ConnectTo(QStringLiteral("127.0.0.1"), Port);
    Due = Probe.nsecsElapsed() + 10'000'000;
    QTimer::singleShot(10, Qt::PreciseTimer, Tick);
    Loop.exec();
    Child.kill();
    Child.waitForFinished(3000);
    return Figures;
}

int Hostile(int argc, char **argv) {
    if (argc > 1 && qstrcmp(argv[1], "--hostile-child") == 0) {
        QApplication App(argc, argv);
        for (const auto &[Rss, Delay] : RunHostile())
            std::printf("%.1f %.1f\n", Rss, Delay);
        return 0;
    }
    QApplication App(argc, argv);
    const auto Ours = RunHostile();
    QList<std::pair<double, double>> Theirs;
    if (argc > 3 && qstrcmp(argv[2], "--compare") == 0) {
        QProcess Other;
        Other.start(QString::fromLocal8Bit(argv[3]), {QStringLiteral("--hostile-child")});
        Other.waitForFinished(300000);
        for (const QByteArray &Line : Other.readAllStandardOutput().split('\n'))
            if (const QList<QByteArray> F = Line.split(' '); F.size() == 2)
                Theirs.append({F[0].toDouble(), F[1].toDouble()});
    }
    std::printf("one page on a hostile speaker: peak RSS (target < 150 MB), worst delay of a "
                "queued call (target < 100 ms)%s\n",
                Theirs.isEmpty() ? "" : "; this build | the compared build");
    for (int I = 0; I < PhaseCount; ++I) {
        const auto Cell = [I](const QList<std::pair<double, double>> &F) {
            return I < F.size() ? QByteArray::number(F[I].first, 'f', 1) + " MB, " +
                                      QByteArray::number(F[I].second, 'f', 1) + " ms"
                                : QByteArray("no figure");
        };
        std::printf("  %-48s %s%s%s\n", PhaseNames[I], Cell(Ours).constData(),
                    Theirs.isEmpty() ? "" : " | ",
                    Theirs.isEmpty() ? "" : Cell(Theirs).constData());
    }
    return 0;
}

// Runs the event loop until Done() holds (looked at every 20 ms) or TimeoutMs passed.
bool WaitUntil(const std::function<bool()> &Done, int TimeoutMs) {
    QEventLoop Loop;
    QTimer Look;
    QObject::connect(&Look, &QTimer::timeout, &Loop, [&] {
        if (Done())
            Loop.quit();
    });
    Look.start(20);
    QTimer::singleShot(TimeoutMs, &Loop, &QEventLoop::quit);
    if (!Done())
        Loop.exec();
    return Done();
}

// Runs the event loop for Ms, with no timer of its own in between.
void Idle(int Ms) {
    QEventLoop Loop;
    QTimer::singleShot(Ms, Qt::PreciseTimer, &Loop, &QEventLoop::quit);
    Loop.exec();
}

double Median(std::vector<double> V) {
    std::sort(V.begin(), V.end());
    return V[V.size() / 2];
}

} // namespace

int main(int argc, char **argv) {
    if (argc > 1 && qstrcmp(argv[1], "--speakers") == 0)
        return RunSpeakers(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--hostile-speaker") == 0)
        return RunHostileSpeaker(argc, argv);
    if (argc > 1 &&
        (qstrcmp(argv[1], "--hostile") == 0 || qstrcmp(argv[1], "--hostile-child") == 0)) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return Hostile(argc, argv);
    }

    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication App(argc, argv);
    QProcess Child;
    Child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--speakers")});
    QList<quint16> Ports;
    while (Ports.size() <= Pages && Child.waitForReadyRead(5000))
        while (Child.canReadLine())
            Ports.append(quint16(Child.readLine().trimmed().toUInt()));
    if (Ports.size() <= Pages) {
        std::fprintf(stderr, "the speakers did not start\n");
        return 1;
    }

    QTabWidget Tabs;
    Tabs.resize(316, 476);
    std::vector<TRemotePlayerPage *> Open;
    for (int I = 0; I < Pages; ++I) {
        auto *Page = new TRemotePlayerPage;
        Tabs.addTab(Page, QStringLiteral("Speaker %1 Player").arg(I));
        Page->ConnectTo(QStringLiteral("127.0.0.1"), Ports[I]);
        Page->PostCommand("GET", {});
        Open.push_back(Page);
    }
    Tabs.show();
    const auto AllShown = [&] {
        return std::all_of(Open.begin(), Open.end(), [](TRemotePlayerPage *Page) {
            return Page->ShownLocations().size() == RowsPerPage;
        });
    };
    if (!WaitUntil(AllShown, 20000)) {
        std::fprintf(stderr, "the pages did not fill\n");
        return 1;
    }
    Idle(1500); // settle

    const double CpuStart = CpuSeconds();
    QElapsedTimer Wall;
    Wall.start();
    Idle(MeasureMs);
    const double Cpu = CpuSeconds() - CpuStart;
    const double Elapsed = double(Wall.elapsed()) / 1000.0;
    std::printf("%d pages, %d rows each, a position report per page per second\n", Pages,
                RowsPerPage);
    std::printf("controller CPU over %.1f s: %.3f s = %.2f %% of one core (target < 1 %%)\n",
                Elapsed, Cpu, 100.0 * Cpu / Elapsed);

    // A fresh page on the big speaker, on screen; every "GET" brings the whole list again.
    auto *Page = new TRemotePlayerPage;
    Tabs.addTab(Page, QStringLiteral("Big Player"));
    Tabs.setCurrentWidget(Page);
    Page->ConnectTo(QStringLiteral("127.0.0.1"), Ports[Pages]);
    auto *Client = Page->findChild<TCommandClient *>();
    auto *Socket = Client->findChild<QTcpSocket *>();
    auto *View = Page->findChild<QTableView *>(QStringLiteral("FPlayListView"));
    QElapsedTimer Clock;
    qint64 FirstByte = -1, Parsed = -1, Rebuilt = -1, Painted = -1;
    double CpuAtFirstByte = 0, CpuAtPainted = 0;
    bool Waiting = false;
    // The first byte: the socket's read notification, before the client reads anything.
    struct TArrivalWatch : QObject {
        std::function<void()> OnArrival;
        bool eventFilter(QObject *, QEvent *Event) override {
            if (Event->type() == QEvent::SockAct)
                OnArrival();
            return false;
        }
    } Arrival;
    Arrival.OnArrival = [&] {
        if (Waiting && FirstByte < 0) {
            FirstByte = Clock.nsecsElapsed();
            CpuAtFirstByte = ThreadCpuMs();
        }
    };
    QObject::connect(Client, &TCommandClient::ListReceived, [&] {
        if (Waiting)
            Parsed = Clock.nsecsElapsed();
    });
    QObject::connect(View->model(), &QAbstractItemModel::modelReset, [&] {
        if (Waiting)
            Rebuilt = Clock.nsecsElapsed();
    });
    struct TPaintWatch : QObject {
        std::function<void()> OnPaint;
        bool eventFilter(QObject *, QEvent *Event) override {
            if (Event->type() == QEvent::Paint)
                OnPaint();
            return false;
        }
    } Watch;
    // Painted: back in the event loop after the first paint that follows the rebuild.
    Watch.OnPaint = [&] {
        if (Waiting && Rebuilt >= 0 && Painted < 0)
            QTimer::singleShot(0, [&] {
                Painted = Clock.nsecsElapsed();
                CpuAtPainted = ThreadCpuMs();
            });
    };
    View->viewport()->installEventFilter(&Watch);
    Page->PostCommand("GET", {});
    WaitUntil([&] { return Page->ShownLocations().size() == BigRows; }, 10000);
    // The socket's notifiers exist once it is connected.
    int Watched = 0;
    for (QSocketNotifier *Notifier : Socket->findChildren<QSocketNotifier *>())
        if (Notifier->type() == QSocketNotifier::Read) {
            Notifier->installEventFilter(&Arrival);
            ++Watched;
        }
    if (Watched == 0) {
        std::fprintf(stderr, "cannot watch the socket\n");
        return 1;
    }

    // The speaker answers odd rounds with new locations, even rounds with the list shown.
    std::vector<double> ToParsed, ToPaintedNew, ToPaintedSame, CpuNew, CpuSame;
    for (int Round = 1; Round <= 2 * ListRounds; ++Round) {
        Idle(700); // past the refresh interval
        FirstByte = Parsed = Rebuilt = Painted = -1;
        Waiting = true;
        Clock.start();
        Page->PostCommand("GET", {});
        if (!WaitUntil([&] { return Painted >= 0 && FirstByte >= 0; }, 5000)) {
            std::fprintf(stderr, "the view was not repainted\n");
            return 1;
        }
        Waiting = false;
        ToParsed.push_back(double(Parsed - FirstByte) / 1e6);
        (Round % 2 ? ToPaintedNew : ToPaintedSame).push_back(double(Painted - FirstByte) / 1e6);
        (Round % 2 ? CpuNew : CpuSame).push_back(CpuAtPainted - CpuAtFirstByte);
    }
    const auto Worst = [](const std::vector<double> &V) {
        return *std::max_element(V.begin(), V.end());
    };
    std::printf("LIST of %d rows (%lld bytes), medians of %d, from its first byte:\n", BigRows,
                qlonglong(BuildMessage("LIST", BenchList(BigRows)).size()), ListRounds);
    std::printf("  whole message read: %.1f ms\n", Median(ToParsed));
    std::printf("  view repainted, every location new: %.1f ms, worst %.1f ms (target < 100 ms); "
                "CPU %.1f ms\n",
                Median(ToPaintedNew), Worst(ToPaintedNew), Median(CpuNew));
    std::printf("  view repainted, the list shown again: %.1f ms, worst %.1f ms; CPU %.1f ms\n",
                Median(ToPaintedSame), Worst(ToPaintedSame), Median(CpuSame));

    Child.kill();
    Child.waitForFinished(3000);
    return 0;
}
