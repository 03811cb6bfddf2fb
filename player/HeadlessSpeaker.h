#pragma once

#include "SharingState.h"

#include <QObject>

#include <memory>

class TMediaComponent;
class TMediaServer;
class TMusicLibrary;
class TPresence;
class TSpeaker;

// This computer as a speaker without a screen: the speaker on the command port, presence (it
// answers greetings and greets, so other copies list it) and the media server with the user's
// library. The settings and the library are the desktop's files; the allow switch comes from
// the settings.
class THeadlessSpeaker : public QObject {
    Q_OBJECT
public:
    // Reads the settings and the library, then starts everything on the fixed ports, playing
    // through Media; a port that cannot be had is reported on stderr and the rest runs on.
    explicit THeadlessSpeaker(std::unique_ptr<TMediaComponent> Media, QObject *Parent = nullptr);
    ~THeadlessSpeaker() override;

    TSpeaker &Speaker() const { return *FSpeaker; }
    // What a front end on top (the phone remote) serves and drives.
    TMediaServer &MediaServer() const { return *FMediaServer; }
    const TMusicLibrary &Library() const { return *FLibrary; }
    TMusicLibrary &Library() { return *FLibrary; }
    const TPresence &Presence() const { return *FPresence; }
    const TSharingState &Sharing() const { return FSharing; }

    // The close sequence: goodbye to the other copies, services stopped, settings written, then
    // Closed. Later calls do nothing.
    void Close();

Q_SIGNALS:
    void Closed();

private:
    std::unique_ptr<TMusicLibrary> FLibrary;
    std::unique_ptr<TMediaServer> FMediaServer;
    std::unique_ptr<TPresence> FPresence;
    TSharingState FSharing; // outlives the speaker
    std::unique_ptr<TSpeaker> FSpeaker;
    bool FClosed = false;
};
