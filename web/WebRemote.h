#pragma once

#include "PlayTo.h"
#include "PlayUrls.h"
#include "TrackTags.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QTimer;
class TEventStream;
class TLibraryAnswer;
class TLibraryTags;
class TMediaServer;
class TMusicLibrary;
class TPresence;
class TRemoteSession;
class TSharingState;
class TThumbnailSource;
class TTrackCaptions;
class TWebGate;
struct TWebAnswer;

// The phone remote: the page and its API on the media server. Lives on the GUI thread and
// drives the same objects the windows use: a TPlayTo of its own for "play these tracks
// there", and one TRemoteSession per speaker that browsers watch (shared by them, ended a
// while after the last one left). This computer's speaker is reached through its command
// server like any controller's, so its allow switch governs the page too.
class TWebRemote : public QObject, private TRemotePageFactory {
    Q_OBJECT
public:
    static constexpr int SessionIdleMs = 60 * 1000;
    static constexpr int KeepAliveMs = 15 * 1000;
    static constexpr int CallTimeoutMs = 5000;
    // An event stream ends after this long; the page opens a new one at once.
    static constexpr int StreamLifetimeMs = 5 * 60 * 1000;
    // Speakers held at once (each a connection), a quarter of them by one client address; an
    // unwatched one gives way before a newcomer is turned away.
    static constexpr int MaxSessions = 64;
    // Bytes the sessions may hold together for their speakers (lists and replies being read);
    // past it the one holding most ends, so what speakers send cannot grow this program.
    static constexpr qint64 MaxSessionBytes = 256 * 1024 * 1024;

    // Library: the rows the page lists and plays; Sharing: the allow switch and the address
    // track URLs carry.
    TWebRemote(const TMusicLibrary &Library, const TSharingState &Sharing,
               QObject *Parent = nullptr);
    ~TWebRemote() override; // stops

    // Where the speakers, this computer's addresses come from (none: "My Computer" only).
    void SetPresence(const TPresence *Presence);
    // Where the covers' route finds thumbnails (TCoverStore::Source()); none: no cover is known.
    void SetCovers(std::shared_ptr<TThumbnailSource> Covers);
    // The tags the page shows and searches the library's rows by (none: file names only); its
    // rows are the library's rows in order. Tags outlives this or is unset first.
    void SetLibraryTags(const TLibraryTags *Tags);
    // The port this computer's speaker takes commands on (default: the fixed one).
    void SetLocalSpeakerPort(quint16 Port);
    // Tests shorten these; set before Start.
    void SetSessionIdleMs(int Ms) { FSessionIdleMs = Ms; }
    void SetKeepAliveMs(int Ms) { FKeepAliveMs = Ms; }
    void SetCallTimeoutMs(int Ms) { FCallTimeoutMs = Ms; }
    void SetStreamLifetimeMs(int Ms) { FStreamLifetimeMs = Ms; }
    // How long tags read during a scan wait before the page's library shows them.
    void SetTagsDelayMs(int Ms);
    // Applies at once.
    void SetSessionBudget(qint64 Bytes);

    // A group this copy knows of changed: the "Play on" list marks its rooms anew.
    void GroupsChanged() { PublishSpeakers(); }
    // Adds the routes to Server (running or not); Server outlives this or Stop comes first.
    void Start(TMediaServer &Server);
    // Ends every event stream and wakes every waiting request, then the sessions' connections.
    // For good; the close sequence calls it before the media server stops.
    void Stop();

    // Event streams open now; the bytes held for browsers (each watch's newest events, the
    // streams' unsent ones); sessions held.
    int StreamCount() const;
    qint64 QueuedBytes() const;
    int SessionCount() const;
    // Bytes the sessions hold for their speakers.
    qint64 SessionBytes() const;

private:
    struct TWatch;

    TRemoteSession *OpenRemotePage(const QString &Caption) override;
    void ShowRemotePage(TRemotePlayer *Player) override;

    // The key a host's watch goes by: 127.0.0.1 for this computer, an address's value, else
    // the name in lower case.
    QString WatchKey(const QString &Host) const;
    // The host as TPlayTo takes it: "localhost" for "My Computer".
    static QString RouterHost(const QString &Host);
    TWatch &WatchFor(const QString &Key);
    // Whether a watch for Key exists or one more may be made for the client whose request
    // runs, after the least recently watched unwatched session has given way if need be.
    bool MakeRoom(const QString &Key);
    void EraseWatch(QHash<QString, std::shared_ptr<TWatch>>::iterator It);
    // The watches whose sessions still stand, and what each holds.
    std::vector<std::pair<TWatch *, qint64>> Holders() const;
    // Ends the sessions holding most while the sessions hold more than the budget.
    void KeepSessionBudget();
    void Watch(const QString &Key, const std::shared_ptr<TEventStream> &Stream);
    void Leave(TEventStream *Stream);
    void SessionRepainted(TWatch &Watch, unsigned Changes);
    void SessionEnded(TRemoteSession *Session);
    void SetStatus(TWatch &Watch, const char *Status, const QString &Message);
    void SendList(TWatch &Watch);
    void SendState(TWatch &Watch);
    void SendGroup(TWatch &Watch);
    void Send(TWatch &Watch, int Kind, const QByteArray &Event);
    void LeftAlone(TWatch &Watch);

    TWebAnswer Post(const QByteArray &Path, const QJsonObject &Body, quint32 Client);
    TWebAnswer OpenWatch(const QJsonObject &Body);
    TWebAnswer Play(const QJsonObject &Body);
    TWebAnswer Command(const QJsonObject &Body);
    TWebAnswer ListPage(const QJsonObject &Body);
    TWebAnswer GroupCommand(const QJsonObject &Body);
    // The watch of the body's "host" whose session still stands, or null.
    TWatch *LiveWatch(const QJsonObject &Body);
    void PublishHosts();
    void PublishSpeakers();
    // RowsMoved: the rows changed, so the ids of older versions name other tracks now.
    void PublishLibrary(bool RowsMoved);
    QList<TTrackTags> RowTags();
    // "Title - Artist" for a URL of this computer's library (TTrackCaptions); none without tags.
    std::function<QString(const QByteArray &)> CaptionOf() const;

    const TMusicLibrary &FLibrary;
    const TSharingState &FSharing;
    QPointer<const TPresence> FPresence;
    TPlayTo *FPlayTo;
    std::shared_ptr<TWebGate> FGate;
    std::shared_ptr<TThumbnailSource> FCovers;
    TMediaServer *FServer = nullptr;
    bool FStopped = false; // requests queued before Stop are turned away
    QHash<QString, std::shared_ptr<TWatch>> FWatches;
    quint64 FWatchClock = 0; // counts watch uses: the least recent has the smallest
    quint32 FClient = 0;     // the address whose request runs now
    qint64 FLibraryVersion = 1;
    // The first version whose ids name the rows as they are; later ones only changed tags.
    qint64 FRowsVersion = 1;
    QPointer<const TLibraryTags> FTags;
    TTrackCaptions *FCaptions = nullptr;
    std::pair<qint64, int> FTagRowsChecked{-1, -1}; // the rows of both when last compared
    bool FTagRowsMatch = false;
    QTimer *FTagsDelay;
    QTimer *FRowsHold;
    bool FRowsHeld = false; // rows came during the hold: published when it ends
    const qint64 FRun;      // tells this run's library versions from another's
    std::shared_ptr<const TLibraryAnswer> FLibraryAnswer;
    TPlayUrls FPlayUrls;
    qint64 FListVersion = 0;
    QString FNote; // the router's last note during a play
    int FSessionIdleMs = SessionIdleMs;
    int FKeepAliveMs = KeepAliveMs;
    int FCallTimeoutMs = CallTimeoutMs;
    int FStreamLifetimeMs = StreamLifetimeMs;
    qint64 FSessionBudget = MaxSessionBytes;
};
