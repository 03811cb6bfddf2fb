#include "HeadlessSpeaker.h"

#include "CommandProtocol.h"
#include "MediaServer.h"
#include "MusicLibrary.h"
#include "Presence.h"
#include "Speaker.h"
#include "AsciiText.h"
#include "Settings.h"

#include <cstdio>

namespace {

void Report(const char *What, quint16 Port, const QString &Error) {
    std::fprintf(stderr, "Vellox Player: %s not started on port %u: %s\n", What, unsigned(Port),
                 qPrintable(Error));
}

} // namespace

THeadlessSpeaker::THeadlessSpeaker(std::unique_ptr<TMediaComponent> Media, QObject *Parent)
    : QObject(Parent), FLibrary(std::make_unique<TMusicLibrary>()) {
    LoadSettings();
    // The media server reads the library from its first request on: load first.
    QString Error;
    if (!FLibrary->LoadFromFile(LibraryFileName, &Error))
        std::fprintf(stderr, "Vellox Player: %s\n", qPrintable(Error));
    FMediaServer =
        std::make_unique<TMediaServer>([Library = FLibrary.get()] { return Library->Snapshot(); });
    if (!FMediaServer->Start(MediaServerPort, &Error))
        Report("media server", MediaServerPort, Error);

    FSpeaker = std::make_unique<TSpeaker>(CommandServerPort, std::move(Media));
    FSpeaker->SetAllowOthers(HeadlessAllow);

    FPresence = std::make_unique<TPresence>();
    if (!FPresence->Start(PresenceServerPort, &Error))
        Report("presence", PresenceServerPort, Error);
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
