#pragma once

#include "MediaComponent.h"
#include "PlayPlan.h"

#include <QByteArrayList>
#include <QElapsedTimer>
#include <QObject>

#include <memory>

class QTimer;
class TCommandServer;
class TPlaybackEngine;
class TRoomSync;
class TSharingState;
class TSpeakerGroup;

// This computer's speaker, with or without a window: the media component, the playback engine,
// the command server on the command port, the two timers that drive the engine and the switch
// that lets other people play here. Every front end (the "My Player" window, the desktop's
// media keys, a speaker without a screen) drives this one object.
class TSpeaker : public QObject {
    Q_OBJECT
public:
    // Port: the command port (0 = ephemeral). Sharing: the allow switch, which must outlive
    // the speaker. Media: the component to play through; a libmpv player when none is given.
    TSpeaker(quint16 Port, TSharingState &Sharing, std::unique_ptr<TMediaComponent> Media = {},
             QObject *Parent = nullptr);
    ~TSpeaker() override;

    TPlaybackEngine *Engine() const { return FEngine.get(); }
    TCommandServer *CommandServer() const { return FServer.get(); }
    // What the engine drives: the room's player in a group, over the real one (Player()).
    TMediaComponent *Media() const;
    TMediaComponent *Player() const;
    TSpeakerGroup *Group() const { return FGroup.get(); }
    // Opens the group port (TCP and UDP; 0 = ephemeral), governed by the allow switch.
    bool ListenGroup(quint16 Port);

    // Whether the command server got its port.
    bool IsListening() const;
    // Reads and clears the request to show the speaker.
    bool TakeShowRequest();
    // Plays the local user's tracks: queues them as an "ADD" job.
    void AddLocalTracks(const QByteArrayList &URLs) { PlayLocalTracks(URLs, TPlayMode::Add); }
    // The local user's tracks as Mode says, on this room's group when it follows one.
    void PlayLocalTracks(const QByteArrayList &URLs, TPlayMode Mode);
    // The name other computers know this speaker by (Speaker Settings, else the computer's).
    QString Name() const;

    // Whether other people may play here.
    bool AllowsOthers() const;
    // Sets the allow switch; turning it off drops every controller at once, whoever turns it.
    void SetAllowOthers(bool Allowed);
    void ToggleAllowOthers() { SetAllowOthers(!AllowsOthers()); }
    // Closes every controller connection.
    void DisconnectAll();

    // Shutdown: both timers off, the command server closed with all its connections.
    void StopServices();
    // Something changed that the next play tick must report (the owner moved a control).
    void WakePlayTimer();
    // Whether the 200 ms play tick and the 1 s position tick are running now.
    bool IsPlayTickRunning() const;
    bool IsPositionTickRunning() const;

Q_SIGNALS:
    // A controller connected or the local user played something: show the speaker.
    void ShowRequested();
    // The allow switch changed.
    void AllowOthersChanged(bool Allowed);

private:
    void PlayTick();
    // The timers run only while they have work, so an idle speaker never wakes up.
    void UpdatePositionTimer();

    std::unique_ptr<TRoomSync> FMedia;
    std::unique_ptr<TPlaybackEngine> FEngine;
    std::unique_ptr<TCommandServer> FServer;
    std::unique_ptr<TSpeakerGroup> FGroup;
    QTimer *FPlayTimer = nullptr;
    QTimer *FPositionTimer = nullptr;
    QElapsedTimer FPositionIdle; // since the position timer stopped
    bool FServicesStopped = false;
    TSharingState &FSharing;
    bool FAllowed; // the switch as last seen, so that an address change is not reported
};
