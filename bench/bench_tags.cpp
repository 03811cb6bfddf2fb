// The library's tags at scale: generates N tiny tagged files of mixed formats (default 100000)
// and prints the first scan's files per second, the unchanged rescan's time, the tag cache's size
// and load time, the GUI thread's worst delay during the first scan, and the time of a search
// per keystroke over N rows (median, 99th percentile).
// Usage: bench_tags [files] [folder]   (the folder is made and filled; default: a temporary one)
#include "AlbumIndex.h"
#include "BenchLibrary.h"
#include "BenchProcess.h"
#include "LibraryTags.h"
#include "SearchFold.h"
#include "SearchIndex.h"
#include "TagCache.h"
#include "TagScanner.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>

namespace {

// CPU time of the ended child processes (the scanners), user and system.
double ChildrenCpuSeconds() {
    rusage Usage{};
    getrusage(RUSAGE_CHILDREN, &Usage);
    const auto Seconds = [](const timeval &T) {
        return double(T.tv_sec) + double(T.tv_usec) / 1e6;
    };
    return Seconds(Usage.ru_utime) + Seconds(Usage.ru_stime);
}

QList<TTagRequest> MakeLibrary(const QString &Dir, int Files) {
    QList<TTagRequest> Requests;
    for (const QByteArray &Path : MakeTaggedFiles(Dir, Files))
        Requests.append({Path, {}});
    return Requests;
}

// Runs one scan to its end; the seconds it took and the worst delay (ms) of a 10 ms timer
// on this thread meanwhile.
std::pair<double, qint64> RunScan(const QList<TTagRequest> &Requests, TTagCache &Cache) {
    TTagScanner Scanner(VX_TAGSCAN_EXE);
    QEventLoop Loop;
    QObject::connect(&Scanner, &TTagScanner::TagsRead, [&](const QList<TFileTags> &Batch) {
        for (const TFileTags &Entry : Batch)
            Cache.Put(Entry);
    });
    QObject::connect(&Scanner, &TTagScanner::Finished, &Loop, &QEventLoop::quit);
    QObject::connect(&Scanner, &TTagScanner::Failed, [&](const QString &Reason) {
        std::fprintf(stderr, "%s\n", qPrintable(Reason));
        Loop.quit();
    });
    QTimer Tick;
    QElapsedTimer Since;
    qint64 Worst = 0;
    QObject::connect(&Tick, &QTimer::timeout,
                     [&] { Worst = std::max(Worst, Since.restart() - 10); });
    Tick.start(10);
    Since.start();
    QElapsedTimer T;
    T.start();
    Scanner.Scan(Requests);
    Loop.exec();
    return {double(T.nsecsElapsed()) / 1e9, Worst};
}

void Search(int Rows) {
    const QStringList Artists{"Annbjørg Lien", "Paweł Mykietyn", "Beyoncé",         "Sigur Rós",
                              "John Coltrane", "Mötley Crüe",    "Đorđe Balašević", "Björk"};
    const QStringList Words{"Blue", "Train", "Straße", "Noël", "Café", "Night", "Æther", "Ode"};
    QElapsedTimer T;
    T.start();
    QByteArrayList Texts;
    Texts.reserve(Rows);
    for (int I = 0; I < Rows; ++I) {
        TTrackTags Tags;
        Tags.Title = Words[I % 8] + ' ' + Words[(I / 8) % 8] + ' ' + QString::number(I);
        Tags.Artists = {Artists[(I / 64) % 8]};
        Tags.Album = Words[(I / 512) % 8] + " Album " + QString::number(I / 12);
        Texts.append(SearchRowText(Tags, "Track " + QByteArray::number(I) + ".flac"));
    }
    std::printf("folding %d rows: %.0f ms\n", Rows, double(T.nsecsElapsed()) / 1e6);
    // Typing each query letter by letter: a plain test of every row, and the index.
    const QStringList Queries{"annbjorg lien",       "pawel blue", "beyonce night 12", "zzz", "a",
                              "cafe straße album 7", "björk ode"};
    TSearchIndex Index;
    Index.SetRows(Texts);
    for (const bool UseIndex : {false, true}) {
        QList<double> Times, Cpu;
        qint64 Hits = 0;
        for (const QString &Query : Queries) {
            for (qsizetype Typed = 1; Typed <= Query.size(); ++Typed) {
                const QStringView Prefix = QStringView(Query).first(Typed);
                T.restart();
                const double Cpu0 = ThreadCpuMs();
                if (UseIndex) {
                    Hits += Index.Find(Prefix).size();
                } else {
                    const QByteArrayList Wanted = SearchWords(Prefix);
                    for (const QByteArray &Text : std::as_const(Texts))
                        Hits += SearchMatches(Text, Wanted) ? 1 : 0;
                }
                Times.append(double(T.nsecsElapsed()) / 1e6);
                Cpu.append(ThreadCpuMs() - Cpu0);
            }
        }
        std::sort(Times.begin(), Times.end());
        std::sort(Cpu.begin(), Cpu.end());
        const auto P99 = [](const QList<double> &L) {
            return L[qsizetype(double(L.size() - 1) * 0.99)];
        };
        std::printf("search per keystroke over %d rows, %s (%lld keystrokes, %lld hits): median "
                    "%.2f ms, p99 %.2f ms, worst %.2f ms; CPU time median %.2f ms, p99 %.2f ms\n",
                    Rows, UseIndex ? "search index" : "row by row", qlonglong(Times.size()),
                    qlonglong(Hits), Times[Times.size() / 2], P99(Times), Times.back(),
                    Cpu[Cpu.size() / 2], P99(Cpu));
    }
}

// A library of Rows rows whose tags the cache knows (no files needed): what the window does with
// it at start, step by step.
void LibraryRows(int Rows, const QString &Dir) {
    const QStringList Artists{"The Annbjørg Lien", "Paweł Mykietyn", "Beyoncé", "Björk"};
    TTagCache Cache;
    QByteArrayList Sources;
    for (int I = 0; I < Rows; ++I) {
        TFileTags Entry;
        Entry.Path = TrackPath(I);
        Entry.Stamp = {I, 1000};
        Entry.Tags.Title = "Song " + QString::number(I);
        Entry.Tags.Artists = {Artists[(I / 1000) % 4] + ' ' + QString::number(I / 1000)};
        Entry.Tags.Album = "Album " + QString::number(I / 10);
        Entry.Tags.Track = I % 10 + 1;
        Entry.Tags.Year = 1960 + I % 50;
        Entry.Tags.DurationMs = 1000 * (I % 600);
        Cache.Put(Entry);
        Sources.append(Entry.Path);
    }
    const QString CacheFile = Dir + "/RowsCache.bin";
    Cache.Save(CacheFile);
    QElapsedTimer T;
    T.start();
    TTagScanner Scanner(VX_TAGSCAN_EXE);
    TLibraryTags Tags(&Scanner, CacheFile);
    Tags.SetSources(Sources);
    const double First = double(T.nsecsElapsed()) / 1e6;
    T.restart();
    Tags.SetSources(Sources);
    const double Again = double(T.nsecsElapsed()) / 1e6;
    // The GUI thread's own CPU time while rows are made off it and swapped in.
    const auto ThreadMs = [] {
        timespec Now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &Now);
        return double(Now.tv_sec) * 1e3 + double(Now.tv_nsec) / 1e6;
    };
    QEventLoop Wait;
    QObject::connect(&Tags, &TLibraryTags::RowsReset, &Wait, &QEventLoop::quit);
    const double Before = ThreadMs();
    Tags.UpdateSources(Sources);
    Wait.exec();
    const double Swap = ThreadMs() - Before;
    T.restart();
    const QList<TTrackTags> All = Tags.AllTags();
    const double Copy = double(T.nsecsElapsed()) / 1e6;
    T.restart();
    const TAlbumIndex Index(All, Sources);
    const double Made = double(T.nsecsElapsed()) / 1e6;
    T.restart();
    QList<double> Sorts;
    for (int Column = 0; Column < LibraryColumnCount; ++Column) {
        T.restart();
        const QList<int> Hits = Tags.Find(u"song 1");
        Index.Sorted(Hits, TLibraryColumn(Column), Qt::AscendingOrder);
        Sorts.append(double(T.nsecsElapsed()) / 1e6);
    }
    std::sort(Sorts.begin(), Sorts.end());
    std::printf("%d rows known to the cache: SetSources with the cache's load %.0f ms, again "
                "%.0f ms; UpdateSources' GUI thread time %.1f ms; tags published (GUI thread) %.3f "
                "ms; album index (%lld albums, %lld artists) made in "
                "%.0f ms; a search and a sort of its hits: median %.2f ms, worst %.2f ms\n",
                Rows, First, Again, Swap, Copy, qlonglong(Index.Albums().size()),
                qlonglong(Index.Artists().size()), Made, Sorts[Sorts.size() / 2], Sorts.back());
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication App(argc, argv);
    const int Files = argc > 1 ? std::max(1, atoi(argv[1])) : 100000;
    QTemporaryDir Temp;
    const QString Dir = argc > 2 ? QString::fromLocal8Bit(argv[2]) : Temp.path();
    QDir().mkpath(Dir);
    LibraryRows(std::max(Files, 100000), Dir);
    if (qEnvironmentVariableIsSet("VX_BENCH_ROWS_ONLY"))
        return 0;

    QElapsedTimer T;
    T.start();
    const QList<TTagRequest> Requests = MakeLibrary(Dir, Files);
    std::printf("made %d files of %lld formats in %.1f s\n", Files, qlonglong(TaggedFormats.size()),
                double(T.nsecsElapsed()) / 1e9);

    TTagCache Cache;
    const double ChildCpu0 = ChildrenCpuSeconds();
    const auto [First, FirstWorst] = RunScan(Requests, Cache);
    const double ChildCpu = ChildrenCpuSeconds() - ChildCpu0;
    std::printf("first scan: %.2f s, %.0f files/s, GUI thread's worst delay %lld ms; the "
                "scanners' CPU time %.2f s (%.0f files per CPU second)\n",
                First, Files / First, qlonglong(FirstWorst), ChildCpu, Files / ChildCpu);

    QList<TTagRequest> Known = Requests;
    for (TTagRequest &Request : Known)
        if (const std::optional<TFileTags> Entry = Cache.Find(Request.Path))
            Request.Known = Entry->Stamp;
    TTagCache Again = Cache;
    const auto [Rescan, RescanWorst] = RunScan(Known, Again);
    std::printf("unchanged rescan: %.2f s, GUI thread's worst delay %lld ms\n", Rescan,
                qlonglong(RescanWorst));

    const QString CacheFile = Dir + "/TagCache.bin";
    T.restart();
    Cache.Save(CacheFile);
    const double Save = double(T.nsecsElapsed()) / 1e6;
    T.restart();
    TTagCache Loaded;
    Loaded.Load(CacheFile);
    std::printf("tag cache: %d entries, %.1f MB, saved in %.0f ms, loaded in %.0f ms\n",
                Loaded.Count(), double(QFileInfo(CacheFile).size()) / 1e6, Save,
                double(T.nsecsElapsed()) / 1e6);

    Search(std::max(Files, 100000));
    return 0;
}
