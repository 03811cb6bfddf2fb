#include "HeadlessSpeaker.h"

#include "AsciiText.h"
#include "ClockPacket.h"
#include "CommandProtocol.h"
#include "LogCategories.h"
#include "MediaServer.h"
#include "MusicLibrary.h"
#include "Presence.h"
#include "Settings.h"
#include "Speaker.h"

THeadlessSpeaker::THeadlessSpeaker(std::unique_ptr<TMediaComponent> Media, QObject *Parent)
    : QObject(Parent), FLibrary(std::make_unique<TMusicLibrary>()) {
    LoadSettings();
    // The media server reads the library from its first request on: load first.
    QString Error;
    if (!FLibrary->LoadFromFile(LibraryFileName, &Error))
        qCWarning(LogPlayer, "%s", qPrintable(Error));
    FMediaServer =
        std::make_unique<TMediaServer>([Library = FLibrary.get()] { return Library->Snapshot(); });
    // A taken port is logged where the bind fails.
    FMediaServer->Start(MediaServerPort);

    FSharing.SetAllowOthers(HeadlessAllow);
    FSpeaker = std::make_unique<TSpeaker>(CommandServerPort, FSharing, std::move(Media));
    FSpeaker->ListenGroup(GroupPort);

    FPresence = std::make_unique<TPresence>();
    // Track URLs played from here on other computers carry this computer's address.
    connect(FPresence.get(), &TPresence::LocalIPChanged, &FSharing, &TSharingState::SetLocalIP);
    FPresence->SetName(FSpeaker->Name());
    FPresence->Start(PresenceServerPort);
    FSharing.SetLocalIP(FPresence->LocalIP());
}

THeadlessSpeaker::~THeadlessSpeaker() {
    Close();
    // The media server's threads read the library: they end before it goes.
    FMediaServer.reset();
}

void THeadlessSpeaker::Close() {
    if (FClosed)
        return;
    FClosed = true;
    FPresence->SayGoodbye();
    FPresence->Stop();
    FSpeaker->StopServices(); // both timers, then the command server
    FMediaServer->Stop();
    WriteIniValues(IniFileName, {{SettingsKey::PopHitCount, PopHitCount}});
    Q_EMIT Closed();
}
