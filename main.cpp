#include "InstanceSlot.h"
#include "LocalPlayerWindow.h"
#include "MainWindow.h"
#include "MediaPlayer.h"
#include "MprisService.h"
#include "SignalWatcher.h"

#include <QApplication>

#include <clocale>

int main(int argc, char *argv[]) {
    QApplication App(argc, argv);
    // libmpv refuses to start under a numeric locale other than "C".
    std::setlocale(LC_NUMERIC, "C");
    App.setApplicationName(QStringLiteral("vxPlayer"));
    App.setQuitOnLastWindowClosed(false);

    OpenInstanceSlot();
    // The media check comes first: without it a second start shows the error too.
    if (!CheckMediaPlayer())
        return 0;
    if (ActivatePreviousInstance())
        return 0;

    App.setApplicationDisplayName(QStringLiteral("Vellox Player"));
    int Result = 0;
    {
        TMainWindow MainWindow(MediaServerPort, PresenceServerPort);
        MainWindow.CreateLocalPlayer(37400); // hidden until a page shows it
        QObject::connect(InstanceSlot(), &TInstanceSlot::RestoreRequested, &MainWindow,
                         &TMainWindow::RestoreWindow);
        TSignalWatcher Signals;
        QObject::connect(&Signals, &TSignalWatcher::CloseRequested, &MainWindow,
                         &TMainWindow::close);
        // Media keys and the desktop's media widget; without a session bus, nothing changes.
        const std::unique_ptr<TMprisService> Mpris = StartMprisService(MainWindow);
        MainWindow.show();
        Result = App.exec();
    }
    CloseInstanceSlot();
    return Result;
}
