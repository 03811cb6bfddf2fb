#pragma once

#include "MpdCommandTable.h"
#include "MpdHooks.h"
#include "MpdIdle.h"
#include "MpdSettings.h"

#include <QElapsedTimer>
#include <QObject>

#include <memory>

class TMpdQueue;
class TMpdServer;
class TSharingState;
class TSpeaker;

// The speaker's second control door, on the MPD port: MPD clients (phone apps, desktop
// clients) drive the speaker and its play list (the queue) as every other controller does,
// and what they change reaches the other controllers. Other parts add their commands to
// Commands() and answer the door's questions through Hooks(). Everything runs on the owner's
// thread; no client can make it wait.
class TMpdDoor : public QObject {
    Q_OBJECT
public:
    // Serves Speaker (both must outlive the door). The allow switch in Sharing governs the
    // door as it governs the command port: while others are kept out it listens on loopback
    // only. Nothing listens until Listen().
    TMpdDoor(TSpeaker &Speaker, const TSharingState &Sharing, const TMpdSettings &Settings,
             QObject *Parent = nullptr);
    ~TMpdDoor() override;

    // Listens on Port (0 = ephemeral); false (and logged) when it cannot be had.
    bool Listen(quint16 Port);
    quint16 Port() const;
    bool IsListening() const;
    // Stops listening and closes every connection.
    void Close();

    TMpdCommandTable &Commands() { return FCommands; }
    TMpdHooks &Hooks() { return FHooks; }
    // Wakes the clients waiting in "idle" on any of Changed, and marks it for the others.
    void Notify(TMpdIdleMask Changed);

    // Appends the URLs to the speaker's play list at once (a URL already there stays where it
    // is) as the local user's tracks; the ids of their rows, in URL order (0 where refused).
    QList<quint64> AppendToQueue(const QByteArrayList &URLs);

    // The song Row of the play list plays, as answers describe it.
    TMpdSong SongOfRow(int Row) const;
    // The row of the current song (playing, paused or last started), or -1.
    int CurrentRow() const;
    // Starts Row (unless it is the current song) and seeks to Seconds once it plays.
    void PlayAt(int Row, double Seconds);
    // Seconds since the door started.
    qint64 Uptime() const;
    // When the queue last changed (seconds since the epoch), or when the door started.
    qint64 QueueChangedAt() const { return FQueueChangedAt; }
    // Seconds the speaker has played since the door started.
    qint64 PlayTime() const;

    TSpeaker &Speaker() const { return FSpeaker; }
    TMpdQueue &Queue() const { return *FQueue; }
    TMpdServer &Server() const { return *FServer; }

Q_SIGNALS:
    // Notify() was called with Changed.
    void Notified(TMpdIdleMask Changed);

private:
    // Follows the speaker's and the play list's signals with idle events.
    void WatchSpeaker();
    // Listens on every IPv4 address or on loopback only, as the allow switch says.
    void Rebind();

    TSpeaker &FSpeaker;
    const TSharingState &FSharing;
    TMpdCommandTable FCommands;
    TMpdHooks FHooks;
    std::unique_ptr<TMpdQueue> FQueue;
    std::unique_ptr<TMpdServer> FServer;
    qint64 FStarted = 0;
    qint64 FQueueChangedAt = 0;
    QElapsedTimer FPlaying; // valid while the speaker plays
    qint64 FPlayedMs = 0;   // before FPlaying
    quint64 FSeekId = 0;    // the row whose start waits for a seek to FSeekTo
    double FSeekTo = 0;
    quint16 FWantedPort = 0;
    bool FListenWanted = false;
};

// The door for Speaker as the settings file at IniFile configures it, listening; null when the
// settings turn it off.
std::unique_ptr<TMpdDoor> StartMpdDoor(TSpeaker &Speaker, const TSharingState &Sharing,
                                       const QString &IniFile);
