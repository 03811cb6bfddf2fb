#include "Headless.h"

#include "CommandServer.h"
#include "CoverStore.h"
#include "HeadlessSpeaker.h"
#include "InstanceSlot.h"
#include "LibraryFolders.h"
#include "LibraryTags.h"
#include "MediaPlayer.h"
#include "MediaServer.h"
#include "MpdDoor.h"
#include "MpdLibraryDoor.h"
#include "MusicLibrary.h"
#include "ServiceAnnouncer.h"
#include "Settings.h"
#include "SignalWatcher.h"
#include "Speaker.h"
#include "TagScanner.h"
#include "WebRemote.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QNetworkProxyFactory>

#include <clocale>
#include <cstdio>

QCommandLineOption AddProgramOptions(QCommandLineParser &Parser) {
    Parser.setApplicationDescription(
        QStringLiteral("Vellox Player: plays music on the computers of a local network."));
    // Qt's own options ("-style", "-session") are single-dash words, never letter groups.
    Parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    Parser.addHelpOption();
    Parser.addVersionOption();
    const QCommandLineOption Headless(
        QStringLiteral("headless"),
        QStringLiteral("Run as a speaker without a screen: no window, no display needed."));
    Parser.addOption(Headless);
    return Headless;
}

void PrepareApplication(QCoreApplication &App) {
    // libmpv refuses to start under a numeric locale other than "C".
    std::setlocale(LC_NUMERIC, "C");
    App.setApplicationName(QStringLiteral("vxPlayer"));
    App.setApplicationVersion(QStringLiteral(VX_APP_VERSION));
}

int RunHeadless(QCoreApplication &App) {
    // Only servers here, and mpv fetches tracks itself: asking the system for proxies would
    // only load the proxy library and its thread.
    QNetworkProxyFactory::setUseSystemConfiguration(false);
    OpenInstanceSlot();
    // The mpv handle takes its options and sound output from the settings when it is made.
    LoadSettings();
    // The speaker's own mpv handle is the media check, so an idle speaker holds one only.
    auto Media = std::make_unique<TMediaPlayer>();
    if (!Media->IsReady()) {
        std::fprintf(stderr, "%s\n", MissingMediaLibraryText);
        return 1;
    }
    // A request to restore a window finds none.
    if (ActivatePreviousInstance())
        return 0;
    int Result = 0;
    {
        THeadlessSpeaker Speaker(std::move(Media));
        // MPD clients' door to the same speaker; its library half needs the tags the phone
        // page shows.
        const std::unique_ptr<TMpdDoor> Mpd =
            StartMpdDoor(Speaker.Speaker(), Speaker.Sharing(), IniFileName);
        // The phone remote on the speaker's media server (the settings are read by now),
        // showing the library by its tags.
        std::unique_ptr<TTagScanner> Scanner;
        std::unique_ptr<TLibraryTags> Tags;
        std::unique_ptr<TCoverStore> Covers;
        std::unique_ptr<TWebRemote> Web;
        if (WebRemoteEnabled || Mpd) {
            Scanner = std::make_unique<TTagScanner>();
            Tags = std::make_unique<TLibraryTags>(Scanner.get(), TTagCache::DefaultFile());
            // Files changed since the last run are read again once the rows stand.
            QObject::connect(Tags.get(), &TLibraryTags::RowsReset, Tags.get(),
                             &TLibraryTags::Rescan, Qt::SingleShotConnection);
            Tags->Follow(Speaker.Library());
            Covers = std::make_unique<TCoverStore>();
            Covers->Follow(Tags.get());
        }
        const std::unique_ptr<TMpdLibraryDoor> MpdLibrary =
            StartMpdLibrary(Mpd.get(), Tags.get(), Speaker.Sharing(), Speaker.MediaServer().Port());
        const std::unique_ptr<TServiceAnnouncer> Announcer =
            AnnounceDoors(QString(), Speaker.Sharing(), Speaker.Speaker().CommandServer()->Port(),
                          Speaker.MediaServer().Port(), Mpd ? Mpd->Port() : 0);
        if (WebRemoteEnabled) {
            Web = std::make_unique<TWebRemote>(Speaker.Library(), Speaker.Sharing());
            Web->SetCovers(Covers->Source());
            Web->SetLibraryTags(Tags.get());
            // "My Computer" is the port the speaker got; 0 when it got none.
            Web->SetLocalSpeakerPort(Speaker.Speaker().CommandServer()->Port());
            Web->SetPresence(&Speaker.Presence());
            Web->Start(Speaker.MediaServer());
        }
        // The library folders kept in step; what they add is saved where the desktop keeps it.
        std::unique_ptr<TLibraryFolders> Folders;
        if (const QByteArrayList List = TLibraryFolders::ParseFolders(LibraryFoldersText);
            !List.isEmpty()) {
            Folders = std::make_unique<TLibraryFolders>(Speaker.Library());
            Folders->SetTags(Tags.get());
            QObject::connect(Folders.get(), &TLibraryFolders::Added, &Speaker, [&Speaker] {
                if (QString Error; !Speaker.Library().SaveToFile(LibraryFileName, &Error))
                    std::fprintf(stderr, "%s\n", qPrintable(Error));
            });
            QObject::connect(Folders.get(), &TLibraryFolders::WatchLimitHit, &Speaker, [] {
                std::fprintf(stderr, "The limit of watched folders is reached: files added to "
                                     "some library folders appear at the next start.\n");
            });
            Folders->SetFolders(List);
        }
        TSignalWatcher Signals;
        QObject::connect(&Signals, &TSignalWatcher::CloseRequested, &Speaker, [&Speaker, &Web] {
            if (Web)
                Web->Stop();
            Speaker.Close();
        });
        QObject::connect(&Speaker, &THeadlessSpeaker::Closed, &App, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        Result = App.exec();
    }
    CloseInstanceSlot();
    return Result;
}
