#include "WebGate.h"

#include "AsciiText.h"
#include "ClientShares.h"
#include "CoverRoute.h"
#include "EventStream.h"
#include "LibraryAnswer.h"
#include "ListPages.h"
#include "PlayTo.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMetaObject>
#include <QObject>

#include <algorithm>
#include <chrono>
#include <climits>

namespace {

const QByteArray ContentType = "Content-Type";

// The part of a Host header before ":port".
QByteArray HostWithoutPort(const QByteArray &Host) {
    const qsizetype Colon = Host.lastIndexOf(':');
    if (Colon < 0)
        return Host;
    const QByteArray Port = Host.mid(Colon + 1);
    const bool Digits =
        !Port.isEmpty() && Port.size() <= 5 &&
        std::all_of(Port.begin(), Port.end(), [](char C) { return C >= '0' && C <= '9'; });
    return Digits ? Host.left(Colon) : Host;
}

// Letters, digits, dots and hyphens only: the address parser takes "127.0.0.1 x.example" too.
bool IsHostName(const QByteArray &Name) {
    return !Name.isEmpty() && std::all_of(Name.begin(), Name.end(), [](char C) {
        return (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '.' || C == '-';
    });
}

TWebAnswer NotAllowed(const char *Allow) {
    TWebAnswer Answer = TWebGate::Error(405, QStringLiteral("Method not allowed."));
    Answer.Headers.emplace_back("Allow", Allow);
    return Answer;
}

} // namespace

TWebGate::TWebGate(QObject *Context, THandlers Handlers, QHash<QByteArray, TFile> Files,
                   int KeepAliveMs, int CallTimeoutMs, int StreamLifetimeMs)
    : FContext(Context), FHandlers(std::move(Handlers)), FFiles(std::move(Files)),
      FKeepAliveMs(KeepAliveMs), FCallTimeoutMs(CallTimeoutMs),
      FStreamLifetimeMs(StreamLifetimeMs) {}

void TWebGate::PublishHosts(const QByteArray &HostName, const QByteArrayList &Addresses) {
    std::lock_guard Lock(FLock);
    FHostName = HostName;
    FAddresses = Addresses;
}

void TWebGate::PublishWatch(const QByteArray &Token, const QString &Key) {
    std::lock_guard Lock(FLock);
    FWatches.insert(Token, Key);
}

void TWebGate::DropWatch(const QByteArray &Token) {
    std::lock_guard Lock(FLock);
    FWatches.remove(Token);
}

void TWebGate::PublishSpeakers(const QByteArray &Json) {
    std::lock_guard Lock(FLock);
    FSpeakers = Json;
}

void TWebGate::PublishLibrary(std::shared_ptr<const TLibraryAnswer> Library) {
    std::lock_guard Lock(FLock);
    FLibrary = std::move(Library);
}

void TWebGate::PublishCovers(std::shared_ptr<TThumbnailSource> Covers) {
    std::lock_guard Lock(FLock);
    FCovers = std::move(Covers);
}

int TWebGate::StreamCount() const {
    std::lock_guard Lock(FLock);
    return int(FStreams.size());
}

bool TWebGate::Claims(const QByteArray &Path) const {
    if (Path == "/")
        return true;
    if (!Path.startsWith(Prefix))
        return false;
    // Another name there may be a library file's end, looked up as before (404 when not).
    QByteArray Hash;
    int Size = 0;
    if (TCoverRoute::ParseName(Path, Hash, Size))
        return true;
    for (const char *Api :
         {ApiSpeakers, ApiLibrary, ApiPlay, ApiEvents, ApiCommand, ApiWatch, ApiList, ApiGroup})
        if (Path == Api)
            return true;
    return FFiles.contains(Path.mid(qsizetype(sizeof Prefix) - 1));
}

TWebAnswer TWebGate::Json(unsigned Status, const QByteArray &Body) {
    TWebAnswer Answer;
    Answer.Status = Status;
    Answer.Body = Body;
    Answer.Headers = {{ContentType, "application/json"}, {"Cache-Control", "no-store"}};
    return Answer;
}

TWebAnswer TWebGate::Error(unsigned Status, const QString &Text) {
    return Json(
        Status,
        QJsonDocument(QJsonObject{{QStringLiteral("error"), Text}}).toJson(QJsonDocument::Compact));
}

TWebAnswer TWebGate::Answer(const TWebRequest &Request) {
    TWebAnswer Answer = Route(Request);
    Answer.Headers.emplace_back("Content-Security-Policy",
                                "default-src 'none'; script-src 'self'; style-src 'self'; "
                                "img-src 'self' data:; connect-src 'self'; base-uri 'none'; "
                                "form-action 'none'; frame-ancestors 'none'");
    Answer.Headers.emplace_back("X-Content-Type-Options", "nosniff");
    Answer.Headers.emplace_back("Referrer-Policy", "no-referrer");
    return Answer;
}

bool TWebGate::IsOwnHost(const QByteArray &Host) const {
    const QByteArray Name = AsciiLower(HostWithoutPort(Host));
    if (!IsHostName(Name))
        return false;
    std::lock_guard Lock(FLock);
    return IsThisComputer(QString::fromLatin1(Name), FHostName, FAddresses);
}

TWebAnswer TWebGate::Route(const TWebRequest &Request) {
    {
        std::lock_guard Lock(FLock);
        if (FClosed)
            return Error(503, QStringLiteral("The web remote has stopped."));
    }
    // DNS rebinding and other sites' pages: only requests addressed to this computer, and
    // from its own page when a browser says where from.
    const QByteArray Host = Request.Header("Host").trimmed();
    if (Request.HeaderCount("Host") != 1 || !IsOwnHost(Host))
        return Error(403, QStringLiteral("Unknown host."));
    const int Origins = Request.HeaderCount("Origin");
    if (Origins > 1 || (Origins == 1 && Request.Header("Origin") != "http://" + Host))
        return Error(403, QStringLiteral("Foreign origin."));
    // Another site's page: an <img>, a link or a form sends no Origin, but a browser says this.
    // The page itself may be linked to: it does nothing until the user taps.
    if (Request.Path != "/" && FromAnotherSite(Request.Header("Sec-Fetch-Site")))
        return Error(403, QStringLiteral("Foreign site."));

    const QByteArray &Path = Request.Path;
    const QByteArray &Method = Request.Method;
    if (Path.startsWith(TCoverRoute::Prefix)) {
        std::shared_ptr<TThumbnailSource> Covers;
        {
            std::lock_guard Lock(FLock);
            Covers = FCovers;
        }
        return TCoverRoute::Answer(Request, Covers.get());
    }
    const auto File = FFiles.constFind(Path == "/" ? QByteArray("index.html")
                                                   : Path.mid(qsizetype(sizeof Prefix) - 1));
    if (!Path.startsWith(ApiPrefix) && File != FFiles.cend()) {
        if (Method != "GET" && Method != "HEAD")
            return NotAllowed("GET, HEAD");
        TWebAnswer Answer;
        Answer.Body = File->Data;
        Answer.Headers = {{ContentType, File->Type}};
        return Answer;
    }
    if (Path == ApiSpeakers || Path == ApiLibrary || Path == ApiEvents) {
        if (Method != "GET")
            return NotAllowed("GET");
        if (Path == ApiEvents)
            return OpenStream(Request.Argument("stream"), Request.Client);
        if (Path == ApiLibrary)
            return LibraryPage(Request);
        std::lock_guard Lock(FLock);
        return Json(200, FSpeakers);
    }
    if (Method != "POST")
        return NotAllowed("POST");
    const QByteArray Type = Request.Header(ContentType);
    const qsizetype Parameters = Type.indexOf(';');
    if (AsciiLower((Parameters < 0 ? Type : Type.left(Parameters)).trimmed()) != "application/json")
        return Error(415, QStringLiteral("The body must be application/json."));
    if (Request.BodyTooLarge)
        return Error(413, QStringLiteral("The body is too large."));
    const QJsonDocument Body = QJsonDocument::fromJson(Request.Body);
    if (!Body.isObject())
        return Error(400, QStringLiteral("The body must be a JSON object."));
    if (Path == ApiPlay)
        return Play(Request.Client, Body.object());
    return CallGui(Path, Body.object(), Request.Client);
}

TWebAnswer TWebGate::LibraryPage(const TWebRequest &Request) {
    std::shared_ptr<const TLibraryAnswer> Library;
    {
        std::lock_guard Lock(FLock);
        Library = FLibrary;
    }
    if (!Library)
        return Error(503, QStringLiteral("The web remote has stopped."));
    const auto Number = [&](const char *Name, qsizetype Default) {
        bool Ok = false;
        const QByteArray Text = Request.Argument(Name);
        const qint64 Value = Text.toLongLong(&Ok);
        return Text.isEmpty() ? Default : Ok && Value >= 0 ? qsizetype(Value) : -1;
    };
    const qsizetype Version = Number("version", Library->Version());
    const qsizetype From = Number("from", 0);
    const qsizetype Count = Number("count", PageRows);
    if (From < 0 || Count < 0)
        return Error(400, QStringLiteral("Invalid range."));
    if (Version != Library->Version())
        return Error(409, QStringLiteral("The library has changed."));
    const QByteArray View = Request.Argument("view");
    const QByteArray Filter = Request.Argument("filter");
    // The artist or album asked for; -1: none (every artist's albums).
    const int Group =
        int(std::min<qsizetype>(Number(View == "album" ? "album" : "artist", -1), INT_MAX));
    TWebAnswer Answer;
    if (Request.Header("If-None-Match") == Library->Tag())
        Answer.Status = 304;
    else if (View.isEmpty() || View == "tracks")
        Answer = Json(200, Library->Page(Filter, From, Count));
    else if (View == "artists")
        Answer = Json(200, Library->ArtistsPage(Filter, From, Count));
    else if (View == "albums")
        Answer = Json(200, Library->AlbumsPage(Group, Filter, From, Count));
    else if (View == "album")
        Answer = Json(200, Library->AlbumPage(Group, From, Count));
    else
        return Error(400, QStringLiteral("Unknown view."));
    // Asked again each time, answered 304 while the library stays as it was.
    Answer.Headers = {
        {ContentType, "application/json"}, {"Cache-Control", "no-cache"}, {"ETag", Library->Tag()}};
    return Answer;
}

TWebAnswer TWebGate::Play(quint32 Client, QJsonObject Body) {
    {
        std::lock_guard Lock(FLock);
        if (FPlaying.contains(Client))
            return Error(429, QStringLiteral("A play from here is still under way."));
        FPlaying.append(Client);
    }
    TWebAnswer Answer = ChooseRows(Body) ? CallGui(ApiPlay, Body, Client)
                                         : Error(400, QStringLiteral("No track to play."));
    std::lock_guard Lock(FLock);
    FPlaying.removeOne(Client);
    return Answer;
}

// What a search or an album holds is found here, off the GUI thread, in the version the page
// was shown; a version that does not name the newest rows finds nothing, which the GUI thread
// answers 409.
bool TWebGate::ChooseRows(QJsonObject &Body) const {
    const bool Album = Body.contains(u"album");
    const QByteArray Filter = Body.value(u"filter").toString().toUtf8();
    // Chosen tracks win; none chosen and nothing typed: the whole library.
    if (!Body.value(u"ids").toArray().isEmpty() || (!Album && Filter.trimmed().isEmpty()))
        return true;
    std::shared_ptr<const TLibraryAnswer> Library;
    {
        std::lock_guard Lock(FLock);
        Library = FLibrary;
    }
    // An album's index names an album of that version only; a search finds the same rows in
    // any version with the same rows.
    const double Version = Body.value(u"version").toDouble(-1);
    if (!Library || (Album ? Version != double(Library->Version())
                           : !Library->SameRows(qint64(std::clamp(Version, -1.0, 1e15))))) {
        Body.insert(QStringLiteral("version"), -1);
        return true;
    }
    const double Index = Body.value(u"album").toDouble(-1);
    const QList<int> Rows = !Album ? Library->Matching(Filter)
                            : Index >= 0 && Index < Library->Count() && Index == double(int(Index))
                                ? Library->AlbumRows(int(Index))
                                : QList<int>();
    QJsonArray Ids;
    for (const int Row : Rows)
        Ids.append(Row);
    Body.insert(QStringLiteral("ids"), Ids);
    return !Rows.isEmpty();
}

TWebAnswer TWebGate::OpenStream(const QByteArray &Token, quint32 Client) {
    std::lock_guard Lock(FLock);
    if (FClosed)
        return Error(503, QStringLiteral("The web remote has stopped."));
    // Only a watch the page opened by POST has a token; a GET never opens one.
    const auto Found = Token.isEmpty() ? FWatches.cend() : FWatches.constFind(Token);
    if (Found == FWatches.cend())
        return Error(404, QStringLiteral("No such watch."));
    // Streams are kept in the order they were opened.
    std::vector<TPlace> Places;
    for (const TStreamPlace &Place : FStreams)
        Places.push_back({Place.Client, true, quint64(Places.size())});
    const TRoom Room = FindRoomFromLargest(Places, Client, MaxStreams);
    if (!Room.Granted)
        return Error(503, QStringLiteral("Too many event streams."));
    if (Room.GiveWay >= 0) {
        // Its page opens a new one when it ends; the place is free from now on.
        FStreams[size_t(Room.GiveWay)].Stream->End();
        FStreams.erase(FStreams.begin() + Room.GiveWay);
    }
    auto Stream = std::make_shared<TEventStream>(
        FKeepAliveMs,
        [Gate = weak_from_this()](TEventStream *Gone) {
            if (const auto Self = Gate.lock())
                Self->StreamGone(Gone);
        },
        FStreamLifetimeMs);
    FStreams.push_back({Stream.get(), Client});
    QMetaObject::invokeMethod(
        FContext, [Watch = FHandlers.Watch, Key = *Found, Stream] { Watch(Key, Stream); },
        Qt::QueuedConnection);
    TWebAnswer Answer;
    Answer.Headers = {{ContentType, "text/event-stream"}, {"Cache-Control", "no-store"}};
    Answer.Stream = Stream;
    return Answer;
}

void TWebGate::StreamGone(TEventStream *Stream) {
    std::lock_guard Lock(FLock);
    std::erase_if(FStreams, [Stream](const TStreamPlace &Place) { return Place.Stream == Stream; });
    if (!FClosed)
        QMetaObject::invokeMethod(
            FContext, [Leave = FHandlers.Leave, Stream] { Leave(Stream); }, Qt::QueuedConnection);
}

TWebAnswer TWebGate::CallGui(const QByteArray &Path, const QJsonObject &Body, quint32 Client) {
    struct TResult {
        bool Ready = false;
        bool GaveUp = false; // the browser was told it failed: it must not happen later
        TWebAnswer Answer;
    };
    const auto Result = std::make_shared<TResult>();
    std::unique_lock Lock(FLock);
    if (FClosed)
        return Error(503, QStringLiteral("The web remote has stopped."));
    QMetaObject::invokeMethod(
        FContext,
        [Self = shared_from_this(), Post = FHandlers.Post, Path, Body, Client, Result] {
            {
                std::lock_guard Check(Self->FLock);
                if (Result->GaveUp)
                    return;
            }
            TWebAnswer Answer = Post(Path, Body, Client);
            {
                std::lock_guard Done(Self->FLock);
                Result->Answer = std::move(Answer);
                Result->Ready = true;
            }
            Self->FCallDone.notify_all();
        },
        Qt::QueuedConnection);
    FCallDone.wait_for(Lock, std::chrono::milliseconds(FCallTimeoutMs),
                       [&] { return Result->Ready || FClosed; });
    if (!Result->Ready) {
        Result->GaveUp = true;
        return Error(503, QStringLiteral("The player is busy."));
    }
    return Result->Answer;
}

void TWebGate::Close() {
    {
        std::lock_guard Lock(FLock);
        FClosed = true;
        FContext = nullptr;
        for (const TStreamPlace &Place : FStreams)
            Place.Stream->End();
    }
    FCallDone.notify_all();
}
