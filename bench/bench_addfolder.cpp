// "Add Folder" at scale: the main window adds a folder of N tiny tagged files (default 100000,
// made as bench_tags makes them), and the bench prints the time to the first rows and to all of
// them, the GUI thread's worst delay meanwhile (targets: all rows within 10 s, no delay over
// 50 ms), and how long a file created in a library folder takes to show as a row (target: 2 s).
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

namespace {

// The worst lateness (ms) of a 10 ms timer on this thread while it runs.
class TDelayProbe {
public:
    TDelayProbe() {
        QObject::connect(&FTick, &QTimer::timeout,
                         [this] { FWorst = std::max(FWorst, FSince.restart() - 10); });
        FTick.start(10);
        FSince.start();
    }
    qint64 Worst() const { return FWorst; }

private:
    QTimer FTick;
    QElapsedTimer FSince;
    qint64 FWorst = 0;
};

// Runs the event loop until Done() or Ms have passed; whether Done() came true.
template <typename TDone> bool WaitFor(TDone Done, int Ms) {
    QElapsedTimer T;
    T.start();
    while (!Done() && T.elapsed() < Ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return Done();
}

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir Home;
    for (const char *Name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        qputenv(Name, Home.filePath(Name).toUtf8());
    QApplication App(argc, argv);
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
    // What the rows start off the GUI thread (rows made anew, tags read) goes on a while.
    WaitFor([] { return false; }, 5000);
    const qint64 AfterDelay = Probe->Worst();

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
    std::printf("%-45s %8lld\n", "the same, 5 s more (rows made, tags read) (ms)",
                qlonglong(AfterDelay));
    std::printf("%-45s %8s     2000\n", "file created in a library folder shown (ms)",
                Appeared ? QByteArray::number(AppearMs).constData() : "never");
    std::printf("%-45s %8lld\n", "GUI thread's worst delay meanwhile (ms)",
                qlonglong(Probe->Worst()));
    return All && Appeared ? 0 : 1;
}
