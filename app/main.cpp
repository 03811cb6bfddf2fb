#include "Main.h"
#include "AppRunOnce.h"
#include "LocalPlayerForm.h"
#include "MediaPlayer.h"
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
        TFormMain FormMain;
        // Created hidden after the main window; destroyed before it, also when docked.
        TFormLocalPlayer LocalPlayer(37400);
        FormMain.SetLocalPlayer(&LocalPlayer);
        QObject::connect(InstanceSlot(), &TInstanceSlot::RestoreRequested, &FormMain,
                         &TFormMain::ActRestoreExecute);
        TSignalWatcher Signals;
        QObject::connect(&Signals, &TSignalWatcher::CloseRequested, &FormMain, &TFormMain::close);
        FormMain.show();
        Result = App.exec();
    }
    CloseInstanceSlot();
    return Result;
}
