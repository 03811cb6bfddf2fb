#include "AppRunOnce.h"
#include "HeadlessSpeaker.h"
#include "LocalPlayerWindow.h"
#include "MainWindow.h"
#include "MediaPlayer.h"
#include "MprisService.h"
#include "SignalWatcher.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QNetworkProxyFactory>

#include <clocale>
#include <cstdio>

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

// The same start as the desktop's, with no display: errors go to stderr, and a request to
// restore a window finds none. The speaker's own mpv handle is the media check, so an idle
// speaker holds one handle only.
int RunHeadless(QCoreApplication &App) {
    // Only servers here, and mpv fetches tracks itself: asking the system for proxies would
    // only load the proxy library and its thread.
    QNetworkProxyFactory::setUseSystemConfiguration(false);
    OpenInstanceSlot();
    auto Media = std::make_unique<TMediaPlayer>();
    if (!Media->IsReady()) {
        std::fprintf(stderr, "%s\n", MissingMediaLibraryText);
        return 1;
    }
    if (ActivatePreviousInstance())
        return 0;
    int Result = 0;
    {
        THeadlessSpeaker Speaker(std::move(Media));
        TSignalWatcher Signals;
        QObject::connect(&Signals, &TSignalWatcher::CloseRequested, &Speaker,
                         &THeadlessSpeaker::Close);
        QObject::connect(&Speaker, &THeadlessSpeaker::Closed, &App, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        Result = App.exec();
    }
    CloseInstanceSlot();
    return Result;
}

} // namespace

int main(int argc, char *argv[]) {
    QCommandLineParser Parser;
    Parser.setApplicationDescription(
        QStringLiteral("Vellox Player: plays music on the computers of a local network."));
    // Qt's own options ("-style", "-session") are single-dash words, never letter groups.
    Parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption Help = Parser.addHelpOption();
    const QCommandLineOption Version = Parser.addVersionOption();
    const QCommandLineOption Headless(
        QStringLiteral("headless"),
        QStringLiteral("Run as a speaker without a screen: no window, no display needed."));
    Parser.addOption(Headless);

    // The desktop takes any arguments, as it always has: the window toolkit reads its own.
    QStringList Arguments;
    for (int I = 0; I < argc; ++I)
        Arguments.append(QString::fromLocal8Bit(argv[I]));
    Parser.parse(Arguments);
    if (!Parser.isSet(Headless) && !Parser.isSet(Help) && !Parser.isSet(Version) &&
        !Parser.isSet(QStringLiteral("help-all")))
        return RunDesktop(argc, argv);

    QCoreApplication App(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    App.setApplicationName(QStringLiteral("vxPlayer"));
    App.setApplicationVersion(QStringLiteral(VX_APP_VERSION));
    Parser.process(App); // help, version and unknown options end here
    return RunHeadless(App);
}
