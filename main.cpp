#include "AppRunOnce.h"
#include "LocalPlayerWindow.h"
#include "MainWindow.h"
#include "MediaPlayer.h"
#include "MprisService.h"
#include "SignalWatcher.h"

#include <QApplication>
#include <QMessageBox>

#include <clocale>

namespace {

// Whether libmpv can be used; tells the user to install it when not.
bool CheckMediaPlayer() {
    if (MediaLibraryUsable())
        return true;
    QMessageBox::warning(nullptr, QStringLiteral("Error"),
                         QString::fromLatin1(MissingMediaLibraryText));
    return false;
}

int RunDesktop(int argc, char *argv[]) {
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
        MainWindow.CreateLocalPlayer(CommandServerPort); // hidden until a page shows it
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

} // namespace

int main(int argc, char *argv[]) {
    return RunDesktop(argc, argv);
}
