#pragma once

#include "PlayPlan.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

class TMusicLibrary;
class TPresence;
class TRemotePlayer;
class TRemoteSession;
class TSharingState;

// Playing library rows on a computer: turning them into URLs for the target, and handing them
// to this computer's player or to the speaker's session.

// Whether Host names this computer: "localhost", the host name or "<host name>.local" (A-Z
// case ignored, a final dot too), an address in 127/8, 0.0.0.0, or one of OwnAddresses (dotted
// text), each in any dotted form.
bool IsThisComputer(const QString &Host, const QByteArray &HostName,
                    const QByteArrayList &OwnAddresses);

// "http://" + Address + ":" + Port + "/" + Name, the name unescaped but for "%" and "?"
// ("%25", "%3F").
QByteArray TrackURL(const QByteArray &Address, quint16 Port, const QByteArray &Name);

// The names by which the media server finds the local files of Library that share their file
// name with another one: the file name with as many of its folders as no other file's path
// ends with, or the whole path (without its first "/") when another path ends with it. Files
// missing here are found by their file name alone.
QHash<QByteArray, QByteArray> ServedNames(const QByteArrayList &Library);

// The URLs for Sources (entries of Library) played from a computer reached at Address:
// "http://" entries unchanged (A-Z case ignored), every other entry as the TrackURL of the
// name the media server finds it by.
QByteArrayList PlayURLs(const QByteArrayList &Sources, const QByteArrayList &Library,
                        const QByteArray &Address, quint16 Port);

// The part of a list of URLs that one "ADD" carries, and how many URLs were left out.
struct TAddPlan {
    QByteArrayList URLs;
    qsizetype Left = 0;
};

// The URLs, in order, that a speaker's empty play list takes: a URL too long for one line is
// left out; the list ends where the next URL would pass its row or byte bound.
TAddPlan PlanAdd(const QByteArrayList &URLs);

// The outcome of checking the "Play on" text.
enum class TTargetCheck { Empty, Invalid, ThisComputer, Host };

// Checks the "Play on" text: empty, neither "My Computer" (spaces and A-Z case ignored) nor a
// valid host text (control characters and bidirectional marks make it invalid), "My
// Computer", or a host.
TTargetCheck CheckTarget(const QString &Text);

// Shows the sessions TPlayTo opens: the main window puts a page for each on a tab of its own.
class TRemotePageFactory {
public:
    virtual ~TRemotePageFactory() = default;
    // A new session, not started, shown under Caption; it lives as long as what shows it.
    virtual TRemoteSession *OpenRemotePage(const QString &Caption) = 0;
    // Brings forward what shows Player.
    virtual void ShowRemotePage(TRemotePlayer *Player) = 0;
};

// The play-to router: where a host's tracks go, and the session that takes them.
class TPlayTo : public QObject {
    Q_OBJECT
public:
    // Sharing: where this computer's address for track URLs comes from.
    TPlayTo(TRemotePageFactory &Pages, const TSharingState &Sharing, QObject *Parent = nullptr);

    // Where this computer's own addresses come from (none: only its names and 127.0.0.1).
    void SetPresence(const TPresence *Presence);
    // Whether Host names this computer, by ::IsThisComputer.
    bool IsThisComputer(const QString &Host) const;
    // Port nonzero: this computer's tracks go to its speaker at 127.0.0.1 on Port by "ADD", as
    // any controller's do, so its allow switch governs them. 0 (the default): LocalTracks.
    void SetLocalSpeakerPort(quint16 Port) { FLocalSpeakerPort = Port; }
    quint16 LocalSpeakerPort() const { return FLocalSpeakerPort; }
    // The host a session with Host opens to: 127.0.0.1 for this computer while a local
    // speaker port is set, else Host.
    QString SessionHost(const QString &Host) const;
    // Among the players this router opened whose connection stands, the player of Host: by
    // address value for a dotted address, else by name (A-Z case ignored); null when none.
    TRemotePlayer *FindRemotePlayer(const QString &Host) const;
    // Rows of Library (all rows when none is given), in order, played on Host; MediaPort: the
    // port the media server serves them on.
    void PlayLibraryOn(const QString &Host, const TMusicLibrary &Library, QList<int> Rows,
                       quint16 MediaPort, TPlayMode Mode = TPlayMode::Add);
    // URLs to Host: this computer's player (LocalTracks), or the host's session (opened when
    // needed) by "ADD", or "GET" when URLs is empty. Only what a play list takes goes; NotAdded
    // says how many were left out.
    void PlayListOn(const QString &Host, const QByteArrayList &URLs,
                    TPlayMode Mode = TPlayMode::Add);
    // As PlayListOn, for URLs planned already; Lines: Plan.URLs joined (JoinLines), so a
    // caller that plays the same list again builds it once. Mode: other than Add, the
    // session plans the commands on the speaker's list (TPlayPlan).
    void PlayPlannedOn(const QString &Host, const TAddPlan &Plan, const QByteArray &Lines,
                       TPlayMode Mode = TPlayMode::Add);
    // The address Host fetches this computer's tracks from: 127.0.0.1 for this computer,
    // else the shared address.
    QByteArray TrackAddress(const QString &Host) const;

Q_SIGNALS:
    // Tracks for this computer's player, which comes forward.
    void LocalTracks(const QByteArrayList &URLs, TPlayMode Mode);
    // Some tracks did not go: the note says how many and why.
    void NotAdded(const QString &Note);
    // A session this router opened could not reach Host.
    void ConnectFailed(const QString &Host);

private:
    TRemotePageFactory &FPages;
    const TSharingState &FSharing;
    QPointer<const TPresence> FPresence;
    quint16 FLocalSpeakerPort = 0;
    QList<QPointer<TRemotePlayer>> FOpened;
};
