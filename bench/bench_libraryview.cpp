// Times the main window's library page on a 100000-entry library: start-up to the window and
// to a full page (tags and albums from a warm tag cache), a search per keystroke and a sort,
// the resident memory, a 10000-file drop, and select-all with a repaint. Run without arguments
// it runs twice, each in a process of its own, and prints the figures side by side: the rows
// without any tags known, and every row tagged.
#include "BenchLibrary.h"
#include "BenchProcess.h"
#include "LibraryTags.h"
#include "LibraryView.h"
#include "MainWindow.h"
#include "MusicLibrary.h"
#include "Settings.h"
#include "TagCache.h"

#include <QApplication>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

constexpr int Entries = 100000;
constexpr int Dropped = 10000;

void WriteTagCache() {
    TTagCache Cache;
    for (int I = 0; I < Entries; ++I) {
        TFileTags Entry{TrackPath(I), {I, 1000}, TTagStatus::Read, {}};
        TTrackTags &T = Entry.Tags;
        T.Title = "Song " + QString::number(I);
        T.Artists = {"Artist " + QString::number(I / 1000)};
        T.Album = "Album " + QString::number(I / 10);
        T.Track = I % 10 + 1;
        T.Year = 1960 + I % 50;
        T.DurationMs = 1000 * (I % 600);
        Cache.Put(Entry);
    }
    Cache.Save(TTagCache::DefaultFile());
}

double Percentile(QList<double> Times, double Share) {
    std::sort(Times.begin(), Times.end());
    return Times.isEmpty() ? 0 : Times[qsizetype(double(Times.size() - 1) * Share)];
}

// The worst lateness (ms) of a 10 ms timer on this thread while it runs: what a queued call waits.
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

// One run; prints "name=value" lines for the parent.
int RunOne(QApplication &App, bool Tagged) {
    LoadSettings();
    if (!WriteLibraryFile(LibraryFileName, Entries))
        return 1;
    if (Tagged)
        WriteTagCache();
    const double StartMB = RssMiB();
    QElapsedTimer Clock;
    Clock.start();
    TMainWindow Form(0);
    QEventLoop Wait;
    bool Full = false;
    QObject::connect(Form.LibraryTags(), &TLibraryTags::AlbumsChanged, &Wait, [&] {
        Full = true;
        Wait.quit();
    });
    // The rescan the rows start (of files that are not there) ends soon after.
    QEventLoop ScanWait;
    bool Scanned = false;
    const auto Ended = [&] {
        Scanned = true;
        ScanWait.quit();
    };
    QObject::connect(Form.LibraryTags(), &TLibraryTags::ScanFinished, &ScanWait, Ended);
    QObject::connect(Form.LibraryTags(), &TLibraryTags::ScanFailed, &ScanWait, Ended);
    Form.show();
    App.processEvents();
    std::printf("window=%.0f\n", double(Clock.nsecsElapsed()) / 1e6);
    auto Probe = std::make_unique<TDelayProbe>();
    QTimer::singleShot(60000, &Wait, &QEventLoop::quit);
    if (!Full)
        Wait.exec();
    if (!Full)
        return 1;
    // The rows were swapped in; the rescan they start is asked for too.
    QTimer::singleShot(1000, &Wait, &QEventLoop::quit);
    Wait.exec();
    std::printf("swapdelay=%lld\n", qlonglong(Probe->Worst()));
    auto *View = Form.findChild<TLibraryView *>("FLibraryView");
    View->viewport()->repaint();
    std::printf("page=%.0f\n", double(Clock.nsecsElapsed()) / 1e6);
    std::printf("rss=%.1f\n", RssMiB() - StartMB);
    QTimer::singleShot(60000, &ScanWait, &QEventLoop::quit);
    if (!Scanned)
        ScanWait.exec();
    QTimer::singleShot(2000, &ScanWait, &QEventLoop::quit);
    ScanWait.exec();
    std::printf("rssidle=%.1f\n", RssMiB() - StartMB);

    auto *Search = Form.findChild<QLineEdit *>("FSearchBox");
    QList<double> Keys;
    for (const QString Query : {"song 12345", "artist 7 song", "album 999", "zzz"}) {
        for (qsizetype Typed = 1; Typed <= Query.size(); ++Typed) {
            Clock.restart();
            Search->setText(Query.left(Typed));
            View->viewport()->repaint();
            Keys.append(double(Clock.nsecsElapsed()) / 1e6);
        }
        Search->clear();
    }
    std::printf("key50=%.2f\nkey99=%.2f\n", Percentile(Keys, 0.5), Percentile(Keys, 0.99));
    QList<double> Sorts;
    for (int Click = 0; Click < 3 * 6; ++Click) {
        Clock.restart();
        Q_EMIT View->header()->sectionClicked(Click / 3);
        View->viewport()->repaint();
        Sorts.append(double(Clock.nsecsElapsed()) / 1e6);
    }
    std::printf("sort50=%.2f\nsortmax=%.2f\n", Percentile(Sorts, 0.5), Percentile(Sorts, 1));

    QMimeData Data;
    QList<QUrl> Urls;
    for (int I = 0; I < Dropped; ++I)
        Urls.append(QUrl::fromLocalFile(QString::fromUtf8(TrackPath(Entries + I))));
    Data.setUrls(Urls);
    QWidget *Target = View->viewport();
    QDragEnterEvent Enter(Target->rect().center(), Qt::CopyAction, &Data, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(Target, &Enter);
    QDropEvent Drop(Target->rect().center(), Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
    Clock.restart();
    QApplication::sendEvent(Target, &Drop);
    App.processEvents();
    std::printf("drop=%.0f\n", double(Clock.nsecsElapsed()) / 1e6);
    // The rows are made anew for the grown library and swapped in place of the old ones.
    Probe = std::make_unique<TDelayProbe>();
    QObject::connect(Form.LibraryTags(), &TLibraryTags::AlbumsChanged, &Wait, &QEventLoop::quit);
    QTimer::singleShot(60000, &Wait, &QEventLoop::quit);
    Wait.exec();
    QTimer::singleShot(1000, &Wait, &QEventLoop::quit);
    Wait.exec();
    std::printf("dropdelay=%lld\n", qlonglong(Probe->Worst()));
    Clock.restart();
    View->selectAll();
    View->scrollToBottom();
    View->viewport()->repaint();
    std::printf("selectall=%.0f\n", double(Clock.nsecsElapsed()) / 1e6);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 2 && QByteArray(argv[1]) == "--one") {
        QTemporaryDir Home;
        for (const char *Name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
            qputenv(Name, Home.filePath(Name).toUtf8());
        QApplication App(argc, argv);
        return RunOne(App, QByteArray(argv[2]) == "tagged");
    }
    QCoreApplication App(argc, argv);
    QHash<QByteArray, QByteArray> Figures[2];
    for (int Run = 0; Run < 2; ++Run) {
        QProcess One;
        One.start(QCoreApplication::applicationFilePath(),
                  {"--one", Run == 0 ? "untagged" : "tagged"});
        One.waitForFinished(600000);
        for (const QByteArray &Line : One.readAllStandardOutput().split('\n'))
            if (const qsizetype Eq = Line.indexOf('='); Eq > 0)
                Figures[Run].insert(Line.left(Eq), Line.mid(Eq + 1));
    }
    const char *Rows[][2] = {{"window", "start to the window shown (ms)"},
                             {"page", "start to a full library page: rows and albums (ms)"},
                             {"rss", "resident memory the window added (MB)"},
                             {"rssidle", "the same once the rescan is over (MB)"},
                             {"swapdelay", "GUI thread's worst delay, rows swapped in (ms)"},
                             {"key50", "search keystroke with repaint, median (ms)"},
                             {"key99", "search keystroke with repaint, 99th percentile (ms)"},
                             {"sort50", "header click (sort) with repaint, median (ms)"},
                             {"sortmax", "header click (sort) with repaint, worst (ms)"},
                             {"drop", "drop of 10000 files: add, save, repaint (ms)"},
                             {"dropdelay", "GUI thread's worst delay, rows made anew (ms)"},
                             {"selectall", "select all, scroll to bottom, repaint (ms)"}};
    std::printf("%d library entries           no tags known   all tagged\n", Entries);
    for (const auto &[Key, Text] : Rows)
        std::printf("%-55s %10s %10s\n", Text, Figures[0].value(Key, "-").constData(),
                    Figures[1].value(Key, "-").constData());
    return 0;
}
