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

// The web remote's routes on the media server's threads. It never touches a Qt object there:
// it answers from what the GUI thread published (the page's files, this computer's names,
// the speakers, the library) or hands the request to the GUI thread by a queued call and
// waits, bounded, for the answer. Checks every request's Host and Origin, method, type and
// size before anything else.
class TWebGate final : public TWebRoutes, public std::enable_shared_from_this<TWebGate> {
public:
    // What the GUI thread does, each run there only.
    struct THandlers {
        // A POST that passed the checks: Path, and the body as a JSON object.
        std::function<TWebAnswer(const QByteArray &Path, const QJsonObject &Body)> Post;
        // A new event stream for Host.
        std::function<void(const QString &Host, std::shared_ptr<TEventStream> Stream)> Watch;
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
    static constexpr char ApiCommand[] = "/vx-remote/api/command";
    static constexpr char ApiList[] = "/vx-remote/api/list";
    static constexpr int MaxStreams = 32;

    // Context: the GUI-thread object the handlers run on; Files: the page's files by name.
    TWebGate(QObject *Context, THandlers Handlers, QHash<QByteArray, TFile> Files, int KeepAliveMs,
             int CallTimeoutMs);

    // GUI thread: what the routes answer from.
    void PublishHosts(const QByteArrayList &Names, const QByteArrayList &Addresses);
    void PublishSpeakers(const QByteArray &Json);
    void PublishLibrary(std::shared_ptr<const TLibraryAnswer> Library);
    int StreamCount() const;

    bool Claims(const QByteArray &Path) const override;
    TWebAnswer Answer(const TWebRequest &Request) override;
    void Close() override;

    // CheckTarget of a host a browser sent; a control character makes it Invalid.
    static TTargetCheck CheckHost(const QString &Host);
    // A JSON answer with the headers every API answer carries.
    static TWebAnswer Json(unsigned Status, const QByteArray &Body);
    static TWebAnswer Error(unsigned Status, const QString &Text);

private:
    bool IsOwnHost(const QByteArray &Host) const;
    TWebAnswer Route(const TWebRequest &Request);
    TWebAnswer OpenStream(const QByteArray &Host);
    TWebAnswer CallGui(const QByteArray &Path, const QJsonObject &Body);
    TWebAnswer LibraryPage(const TWebRequest &Request);
    // A play, one at a time per client address: a play of the whole library is the dearest
    // thing a request can ask of the GUI thread.
    TWebAnswer Play(quint32 Client, const QJsonObject &Body);
    void StreamGone(TEventStream *Stream);

    QObject *FContext; // null once closed
    const THandlers FHandlers;
    const QHash<QByteArray, TFile> FFiles;
    const int FKeepAliveMs;
    const int FCallTimeoutMs;

    mutable std::mutex FLock; // guards everything below
    std::condition_variable FCallDone;
    bool FClosed = false;
    QByteArrayList FNames; // lower case
    QList<quint32> FAddresses;
    QByteArray FSpeakers;
    std::shared_ptr<const TLibraryAnswer> FLibrary;
    std::vector<TEventStream *> FStreams;
    QList<quint32> FPlaying; // client addresses with a play in flight
};
