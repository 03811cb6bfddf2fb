// Times the main window's library page on a 100000-entry library: start-up with
// the library loaded and shown, a 10000-file drop, and select-all with a repaint.
#include "BenchLibrary.h"
#include "LibraryView.h"
#include "MainWindow.h"
#include "MusicLibrary.h"
#include "Settings.h"

#include <QApplication>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>

#include <cstdio>

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir Home;
    qputenv("XDG_DATA_HOME", Home.filePath("data").toUtf8());
    qputenv("XDG_CONFIG_HOME", Home.filePath("config").toUtf8());
    QApplication App(argc, argv);
    constexpr int Entries = 100000;
    constexpr int Dropped = 10000;
    LoadSettings();
    if (!WriteLibraryFile(LibraryFileName, Entries))
        return 1;

    QElapsedTimer Clock;
    Clock.start();
    TMainWindow Form(0);
    Form.show();
    App.processEvents();
    std::printf("start-up with %d entries, shown: %lld ms\n", Form.Library()->Count(),
                Clock.elapsed());

    QMimeData Data;
    QList<QUrl> Urls;
    for (int I = 0; I < Dropped; ++I)
        Urls.append(QUrl::fromLocalFile(QString::fromUtf8(TrackPath(Entries + I))));
    Data.setUrls(Urls);
    auto *View = Form.findChild<TLibraryView *>("FLibraryView");
    QWidget *Target = View->viewport();
    QDragEnterEvent Enter(Target->rect().center(), Qt::CopyAction, &Data, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(Target, &Enter);
    QDropEvent Drop(Target->rect().center(), Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
    Clock.restart();
    QApplication::sendEvent(Target, &Drop);
    App.processEvents();
    std::printf("drop of %d files (add + save + repaint): %lld ms, now %d rows\n", Dropped,
                Clock.elapsed(), Form.Library()->Count());

    Clock.restart();
    View->selectAll();
    View->scrollToBottom();
    View->viewport()->repaint();
    std::printf("select all + scroll to bottom + repaint: %lld ms\n", Clock.elapsed());
    return 0;
}
