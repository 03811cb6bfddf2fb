// "Add Folder" at scale: the main window adds a folder of N tiny tagged files (default 100000,
// made as bench_tags makes them), and the bench prints the time to the first rows and to all of
// them, the GUI thread's worst delay meanwhile (targets: all rows within 10 s, no delay over
// 50 ms), and how long a file created in a library folder takes to show as a row (target: 2 s).
// On a loaded machine the wall-clock delays hold the waits for a core: the GUI thread's own CPU
// time between two ticks, and the longest single event it handled, say what the window did.
// Usage: bench_addfolder [files] [folder]   (a folder that holds the files already is reused)
#include "BenchLibrary.h"
#include "LibraryPage.h"
#include "LibraryTags.h"
#include "MainWindow.h"
#include "MusicLibrary.h"
#include "Settings.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

// This thread's CPU time (ms).
double ThreadCpuMs() {
    timespec T{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &T);
    return double(T.tv_sec) * 1e3 + double(T.tv_nsec) / 1e6;
}

// The worst lateness (ms) of a 10 ms timer on this thread while it runs, and of the CPU time
// this thread spent in that while: on a loaded machine the first holds the waits for a core,
// the second only the window's own work.
class TDelayProbe {
public:
    TDelayProbe() {
        QObject::connect(&FTick, &QTimer::timeout, [this] {
            FWorst = std::max(FWorst, FSince.restart() - 10);
            const double Cpu = ThreadCpuMs();
            FWorstCpu = std::max(FWorstCpu, Cpu - FCpu);
            FCpu = Cpu;
        });
        FTick.start(10);
        FSince.start();
        FCpu = ThreadCpuMs();
    }
    qint64 Worst() const { return FWorst; }
    qint64 WorstCpu() const { return qint64(FWorstCpu); }

private:
    QTimer FTick;
    QElapsedTimer FSince;
    qint64 FWorst = 0;
    double FCpu = 0, FWorstCpu = 0;
};

// Runs the event loop until Done() or Ms have passed; whether Done() came true.
template <typename TDone> bool WaitFor(TDone Done, int Ms) {
    QElapsedTimer T;
    T.start();
    while (!Done() && T.elapsed() < Ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return Done();
}

// Records the event that kept the GUI thread busiest (its CPU time), with what received it.
class TTimedApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject *Receiver, QEvent *Event) override {
        if (FDepth++ > 0) {
            const bool Done = QApplication::notify(Receiver, Event);
            --FDepth;
            return Done;
        }
        const double Start = ThreadCpuMs();
        const QByteArray What = QByteArray(Receiver->metaObject()->className()) + " event " +
                                QByteArray::number(int(Event->type()));
        const bool Done = QApplication::notify(Receiver, Event);
        --FDepth;
        if (const double Took = ThreadCpuMs() - Start; Took > Longest) {
            Longest = Took;
            LongestWhat = What;
        }
        return Done;
    }
    double Longest = 0;
    QByteArray LongestWhat;

private:
    int FDepth = 0;
};

QByteArray LoadAverage() {
    QFile File("/proc/loadavg");
    return File.open(QIODevice::ReadOnly) ? File.readAll().split(' ').mid(0, 3).join(' ') : "?";
}

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir Home;
    for (const char *Name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        qputenv(Name, Home.filePath(Name).toUtf8());
    TTimedApplication App(argc, argv);
    const int Files = argc > 1 ? std::max(1, atoi(argv[1])) : 100000;
    const QString Folder = argc > 2 ? QString::fromLocal8Bit(argv[2]) : Home.filePath("music");

    QElapsedTimer Clock;
    Clock.start();
    if (!QFile::exists(Folder + "/d" + QString::number((Files - 1) / 1000))) {
        QDir().mkpath(Folder);
        MakeTaggedFiles(Folder, Files);
        std::printf("made %d files in %.1f s\n", Files, double(Clock.elapsed()) / 1000);
    }
    // A library folder of its own, watched while the big one is added.
    const QString Watched = Home.filePath("watched");
    QDir().mkpath(Watched);
    LoadSettings();
    QDir().mkpath(QFileInfo(IniFileName).path());
    WriteIniText(IniFileName, SettingsKey::LibraryFolders, QFile::encodeName(Watched));
    LoadSettings();

    TMainWindow Form(0);
    Form.show();
    TMusicLibrary &Library = *Form.Library();
    // The window settles: the empty library's rows, the library folder walked.
    WaitFor([] { return false; }, 2000);

    auto Probe = std::make_unique<TDelayProbe>();
    Clock.restart();
    qint64 First = -1;
    QObject::connect(&Library, &QAbstractItemModel::rowsInserted, [&] {
        if (First < 0)
            First = Clock.elapsed();
    });
    Form.findChild<TLibraryPage *>()->AddFolders({QFile::encodeName(Folder)});
    const bool All = WaitFor([&] { return Library.Count() >= Files; }, 120000);
    const qint64 AllMs = Clock.elapsed();
    const qint64 AddDelay = Probe->Worst();
    const qint64 AddCpu = Probe->WorstCpu();
    const double AddLongest = App.Longest;
    const QByteArray AddLongestWhat = App.LongestWhat;
    App.Longest = 0;
    // What the rows start off the GUI thread (rows made anew, tags read) goes on a while.
    WaitFor([] { return false; }, 5000);
    const qint64 AfterDelay = Probe->Worst();
    const qint64 AfterCpu = Probe->WorstCpu();
    const double AfterLongest = App.Longest;
    const QByteArray AfterLongestWhat = App.LongestWhat;
    App.Longest = 0;

    Probe = std::make_unique<TDelayProbe>();
    const int Before = Library.Count();
    Clock.restart();
    QFile New(Watched + "/new song.flac");
    New.open(QIODevice::WriteOnly);
    New.write(TaggedTemplate(Home.path(), "flac"));
    New.close();
    const bool Appeared = WaitFor([&] { return Library.Count() > Before; }, 10000);
    const qint64 AppearMs = Clock.elapsed();

    std::printf("Add Folder of %d files                          figure    target\n", Files);
    std::printf("%-45s %8lld\n", "first rows shown (ms)", qlonglong(First));
    std::printf("%-45s %8s    10000\n", "all rows shown (ms)",
                All ? QByteArray::number(AllMs).constData() : "never");
    std::printf("%-45s %8lld       50\n", "GUI thread's worst delay until then (ms)",
                qlonglong(AddDelay));
    std::printf("%-45s %8lld       50\n", "  of it the GUI thread's own CPU time (ms)",
                qlonglong(AddCpu));
    std::printf("%-45s %8.0f       50   (%s)\n", "  the longest single event's CPU time (ms)",
                AddLongest, AddLongestWhat.constData());
    std::printf("%-45s %8lld\n", "the same, 5 s more (rows made, tags read) (ms)",
                qlonglong(AfterDelay));
    std::printf("%-45s %8lld\n", "  of it the GUI thread's own CPU time (ms)", qlonglong(AfterCpu));
    std::printf("%-45s %8.0f            (%s)\n", "  the longest single event's CPU time (ms)",
                AfterLongest, AfterLongestWhat.constData());
    std::printf("%-45s %8s     2000\n", "file created in a library folder shown (ms)",
                Appeared ? QByteArray::number(AppearMs).constData() : "never");
    std::printf("%-45s %8lld\n", "GUI thread's worst delay meanwhile (ms)",
                qlonglong(Probe->Worst()));
    std::printf("%-45s %8lld\n", "  of it the GUI thread's own CPU time (ms)",
                qlonglong(Probe->WorstCpu()));
    std::printf("%-45s %8.0f            (%s)\n", "  the longest single event's CPU time (ms)",
                App.Longest, App.LongestWhat.constData());
    std::printf("(load average now: %s)\n", LoadAverage().constData());
    return All && Appeared ? 0 : 1;
}
