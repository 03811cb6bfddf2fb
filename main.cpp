#include "CommandServer.h"
#include "Headless.h"
#include "InstanceSlot.h"
#include "LocalPlayerWindow.h"
#include "MainWindow.h"
#include "MediaPlayer.h"
#include "MpdDoor.h"
#include "MpdLibraryDoor.h"
#include "MprisService.h"
#include "ServiceAnnouncer.h"
#include "Settings.h"
#include "SignalWatcher.h"
#include "Speaker.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QMessageBox>

#include <algorithm>
#include <clocale>

#include <unistd.h>

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
        // MPD clients' door to the same speaker.
        const std::unique_ptr<TMpdDoor> Mpd =
            StartMpdDoor(*MainWindow.Speaker(), MainWindow.Sharing(), IniFileName);
        const std::unique_ptr<TMpdLibraryDoor> MpdLibrary = StartMpdLibrary(
            Mpd.get(), MainWindow.LibraryTags(), MainWindow.Sharing(), MainWindow.MediaPort());
        const TCommandServer *Commands = MainWindow.Speaker()->CommandServer();
        const std::unique_ptr<TServiceAnnouncer> Announcer =
            AnnounceDoors(QString(), MainWindow.Sharing(), Commands ? Commands->Port() : 0,
                          MainWindow.MediaPort(), Mpd ? Mpd->Port() : 0);
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

// The speaker without a screen is a program of its own that loads none of the window toolkit's
// libraries: beside this one in a build folder, under lib/vellox-player/ once installed. This
// process becomes it; the call returns only when there is none.
void ExecHeadlessProgram(const QString &ExeDir, char *argv[]) {
    for (const QString &Candidate : {ExeDir + QStringLiteral("/headless/vxPlayer"),
                                     ExeDir + QStringLiteral("/../lib/vellox-player/vxPlayer")}) {
        const QByteArray Path = QFile::encodeName(Candidate);
        if (::access(Path.constData(), X_OK) == 0)
            ::execv(Path.constData(), argv);
    }
}

} // namespace

int main(int argc, char *argv[]) {
    QCommandLineParser Parser;
    const QCommandLineOption Headless = AddProgramOptions(Parser);
    // The desktop takes any arguments, as it always has: the window toolkit reads its own.
    QStringList Arguments;
    for (int I = 0; I < argc; ++I)
        Arguments.append(QString::fromLocal8Bit(argv[I]));
    Parser.parse(Arguments);
    const QStringList Own = {QStringLiteral("headless"), QStringLiteral("help"),
                             QStringLiteral("help-all"), QStringLiteral("version")};
    if (std::none_of(Own.cbegin(), Own.cend(),
                     [&Parser](const QString &Name) { return Parser.isSet(Name); }))
        return RunDesktop(argc, argv);

    QCoreApplication App(argc, argv);
    PrepareApplication(App);
    Parser.process(App); // help, version and unknown options end here
    ExecHeadlessProgram(App.applicationDirPath(), argv);
    return RunHeadless(App);
}
