#pragma once

#include "MediaServer.h"
#include "PlayTo.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QHash>
#include <QJsonObject>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QObject;
class TEventStream;
class TLibraryAnswer;
class TThumbnailSource;

// The web remote's routes on the media server's threads. It never touches a Qt object there:
// it answers from what the GUI thread published (the page's files, this computer's names,
// the speakers, the library) or hands the request to the GUI thread by a queued call and
// waits, bounded, for the answer. Checks every request's Host and Origin, method, type and
// size before anything else.
class TWebGate final : public TWebRoutes, public std::enable_shared_from_this<TWebGate> {
public:
    // What the GUI thread does, each run there only.
    struct THandlers {
        // A POST that passed the checks: Path, the body as a JSON object, the client's address.
        std::function<TWebAnswer(const QByteArray &Path, const QJsonObject &Body, quint32 Client)>
            Post;
        // A new event stream for the watch that went by Key when the stream was asked for.
        std::function<void(const QString &Key, std::shared_ptr<TEventStream> Stream)> Watch;
        // An event stream's connection is over.
        std::function<void(TEventStream *Stream)> Leave;
    };
    struct TFile {
        QByteArray Type;
        QByteArray Data;
    };

    static constexpr char Prefix[] = "/vx-remote/";
    static constexpr char ApiPrefix[] = "/vx-remote/api/";
    static constexpr char ApiSpeakers[] = "/vx-remote/api/speakers";
    static constexpr char ApiLibrary[] = "/vx-remote/api/library";
    static constexpr char ApiPlay[] = "/vx-remote/api/play";
    static constexpr char ApiEvents[] = "/vx-remote/api/events";
    static constexpr char ApiWatch[] = "/vx-remote/api/watch";
    static constexpr char ApiCommand[] = "/vx-remote/api/command";
    static constexpr char ApiList[] = "/vx-remote/api/list";
    static constexpr char ApiGroup[] = "/vx-remote/api/group";
    static constexpr int MaxStreams = 32;

    // Context: the GUI-thread object the handlers run on; Files: the page's files by name;
    // StreamLifetimeMs: how long an event stream lasts before the browser opens a new one.
    TWebGate(QObject *Context, THandlers Handlers, QHash<QByteArray, TFile> Files, int KeepAliveMs,
             int CallTimeoutMs, int StreamLifetimeMs);

    // GUI thread: what the routes answer from. HostName and Addresses: what IsThisComputer
    // takes, for the Host header.
    void PublishHosts(const QByteArray &HostName, const QByteArrayList &Addresses);
    // An event stream asked for with Token joins the watch Key (an event GET opens nothing).
    void PublishWatch(const QByteArray &Token, const QString &Key);
    void DropWatch(const QByteArray &Token);
    void PublishSpeakers(const QByteArray &Json);
    void PublishLibrary(std::shared_ptr<const TLibraryAnswer> Library);
    // Where the covers' route finds thumbnails (null: no cover is known).
    void PublishCovers(std::shared_ptr<TThumbnailSource> Covers);
    int StreamCount() const;

    bool Claims(const QByteArray &Path) const override;
    TWebAnswer Answer(const TWebRequest &Request) override;
    void Close() override;

    // A JSON answer with the headers every API answer carries.
    static TWebAnswer Json(unsigned Status, const QByteArray &Body);
    static TWebAnswer Error(unsigned Status, const QString &Text);

private:
    bool IsOwnHost(const QByteArray &Host) const;
    TWebAnswer Route(const TWebRequest &Request);
    TWebAnswer OpenStream(const QByteArray &Token, quint32 Client);
    TWebAnswer CallGui(const QByteArray &Path, const QJsonObject &Body, quint32 Client);
    TWebAnswer LibraryPage(const TWebRequest &Request);
    // A play, one at a time per client address: a play of the whole library is the dearest
    // thing a request can ask of the GUI thread.
    TWebAnswer Play(quint32 Client, QJsonObject Body);
    bool ChooseRows(QJsonObject &Body) const;
    void StreamGone(TEventStream *Stream);

    QObject *FContext; // null once closed
    const THandlers FHandlers;
    const QHash<QByteArray, TFile> FFiles;
    const int FKeepAliveMs;
    const int FCallTimeoutMs;
    const int FStreamLifetimeMs;

    mutable std::mutex FLock; // guards everything below
    std::condition_variable FCallDone;
    bool FClosed = false;
    QByteArray FHostName;
    QByteArrayList FAddresses;
    QHash<QByteArray, QString> FWatches; // by token
    QByteArray FSpeakers;
    std::shared_ptr<const TLibraryAnswer> FLibrary;
    std::shared_ptr<TThumbnailSource> FCovers;
    struct TStreamPlace {
        TEventStream *Stream;
        quint32 Client;
    };
    std::vector<TStreamPlace> FStreams;
    QList<quint32> FPlaying; // client addresses with a play in flight
};
