// Idle memory and CPU of a speaker, three ways, one after the other with nothing playing:
// `vxPlayer --headless`, the desktop program (offscreen, its window shown) and bare
// `mpv --idle --no-video --ao=null`. Each runs with a home of its own, settles, and is measured
// over the same 10 s window: CPU from /proc/<pid>/task/*/schedstat, memory (RSS and PSS) from
// /proc/<pid>/smaps_rollup at the end. Run it inside `unshare -n` (the programs greet the
// network and listen on their fixed ports).
#include "BenchProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int SettleMs = 3000;
constexpr int MeasureMs = 10000;

struct TFigures {
    bool Ran = false;
    double CpuPercent = 0; // of one core
    double WakeupsPerSecond = 0;
    double RssMiB = 0;
    double PssMiB = 0;
};

void Wait(int Ms) {
    QEventLoop Loop;
    QTimer::singleShot(Ms, Qt::PreciseTimer, &Loop, &QEventLoop::quit);
    Loop.exec();
}

// Times any thread of Pid went to sleep and was woken, so far: the idle cost that does not
// depend on how busy the machine is.
qint64 Wakeups(qint64 Pid) {
    qint64 Total = 0;
    const QDir Tasks(QStringLiteral("/proc/%1/task").arg(Pid));
    for (const QString &Tid : Tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile F(Tasks.filePath(Tid) + QStringLiteral("/status"));
        if (!F.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &Line : F.readAll().split('\n'))
            if (Line.startsWith("voluntary_ctxt_switches:"))
                Total += Line.mid(24).trimmed().toLongLong();
    }
    return Total;
}

// A "Name:   1234 kB" line of /proc/<pid>/smaps_rollup, in MiB.
double RollupMiB(qint64 Pid, const QByteArray &Name) {
    QFile F(QStringLiteral("/proc/%1/smaps_rollup").arg(Pid));
    if (!F.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &Line : F.readAll().split('\n'))
        if (Line.startsWith(Name + ':'))
            return Line.mid(Name.size() + 1).simplified().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

// Starts Program with a home of its own (and Extra in its environment), lets it settle, then
// measures it and ends it with SIGTERM.
TFigures Measure(const QString &Program, const QStringList &Arguments,
                 const QList<QPair<QString, QString>> &Extra = {}) {
    TFigures Result;
    QTemporaryDir Home;
    QDir(Home.path()).mkpath(QStringLiteral("run"));
    QFile::setPermissions(Home.filePath(QStringLiteral("run")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    for (const char *Name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        Env.remove(QString::fromLatin1(Name));
    Env.insert(QStringLiteral("HOME"), Home.path());
    Env.insert(QStringLiteral("XDG_DATA_HOME"), Home.filePath(QStringLiteral("data")));
    Env.insert(QStringLiteral("XDG_CONFIG_HOME"), Home.filePath(QStringLiteral("config")));
    Env.insert(QStringLiteral("XDG_RUNTIME_DIR"), Home.filePath(QStringLiteral("run")));
    for (const auto &[Name, Value] : Extra)
        Env.insert(Name, Value);
    QProcess Child;
    Child.setProcessEnvironment(Env);
    Child.setStandardOutputFile(QProcess::nullDevice());
    Child.setStandardErrorFile(QProcess::nullDevice());
    Child.start(Program, Arguments);
    if (!Child.waitForStarted(5000))
        return Result;
    Wait(SettleMs);
    if (Child.state() != QProcess::Running)
        return Result;
    const qint64 Pid = Child.processId();
    const double Start = ProcessCpu(Pid);
    const qint64 WakeupsBefore = Wakeups(Pid);
    QElapsedTimer Wall;
    Wall.start();
    Wait(MeasureMs);
    const double Used = ProcessCpu(Pid) - Start;
    const double Seconds = double(Wall.elapsed()) / 1000.0;
    Result.CpuPercent = 100.0 * Used / Seconds;
    Result.WakeupsPerSecond = double(Wakeups(Pid) - WakeupsBefore) / Seconds;
    Result.RssMiB = RollupMiB(Pid, "Rss");
    Result.PssMiB = RollupMiB(Pid, "Pss");
    Result.Ran = Child.state() == QProcess::Running;
    Child.terminate();
    if (!Child.waitForFinished(5000))
        Child.kill();
    return Result;
}

void Print(const char *Name, const TFigures &F) {
    if (!F.Ran) {
        std::printf("%-34s %s\n", Name, "did not run");
        return;
    }
    std::printf("%-34s %8.1f %8.1f %10.4f %10.1f\n", Name, F.RssMiB, F.PssMiB, F.CpuPercent,
                F.WakeupsPerSecond);
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication App(argc, argv);
    std::printf("idle, nothing playing; %d s settle, %d s measured, one after the other\n\n",
                SettleMs / 1000, MeasureMs / 1000);
    const TFigures Headless =
        Measure(QStringLiteral(VX_PLAYER_EXE), {QStringLiteral("--headless")});
    const TFigures Desktop =
        Measure(QStringLiteral(VX_PLAYER_EXE), {},
                {{QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen")}});
    const QString Mpv = QStandardPaths::findExecutable(QStringLiteral("mpv"));
    TFigures Bare;
    if (!Mpv.isEmpty())
        Bare = Measure(Mpv, {QStringLiteral("--idle"), QStringLiteral("--no-video"),
                             QStringLiteral("--ao=null")});

    std::printf("%-34s %8s %8s %10s %10s\n", "program", "RSS MiB", "PSS MiB", "% core",
                "wakeups/s");
    Print("vxPlayer --headless", Headless);
    Print("vxPlayer (desktop, offscreen)", Desktop);
    if (Mpv.isEmpty())
        std::printf("%-34s %s\n", "mpv --idle --no-video --ao=null",
                    "skipped: mpv is not installed (apt-get install mpv)");
    else
        Print("mpv --idle --no-video --ao=null", Bare);
    std::printf("\ntargets: headless RSS no more than bare mpv's; idle CPU under 0.05 %% of a "
                "core\n");
    if (Headless.Ran && Bare.Ran)
        std::printf("headless RSS %s bare mpv's (%+.1f MiB); ",
                    Headless.RssMiB <= Bare.RssMiB ? "within" : "ABOVE",
                    Headless.RssMiB - Bare.RssMiB);
    if (Headless.Ran)
        std::printf("headless CPU %s target\n", Headless.CpuPercent < 0.05 ? "within" : "ABOVE");
    return 0;
}
