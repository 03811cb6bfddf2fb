#include "WebRemote.h"
#include "WebRemoteWatch.h"

#include "AsciiText.h"
#include "CommandProtocol.h"
#include "LibraryAnswer.h"
#include "LibraryTags.h"
#include "ListPages.h"
#include "MediaServer.h"
#include "MusicLibrary.h"
#include "Presence.h"
#include "Settings.h"
#include "SharingState.h"
#include "TrackCaptions.h"
#include "WebGate.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QTimer>

#include <utility>

namespace {

QByteArray PageType(const QString &Name) {
    const QString Extension = QFileInfo(Name).suffix().toLower();
    if (Extension == u"html")
        return "text/html; charset=utf-8";
    if (Extension == u"css")
        return "text/css";
    if (Extension == u"js")
        return "text/javascript";
    if (Extension == u"svg")
        return "image/svg+xml";
    return "application/octet-stream";
}

} // namespace

TWebRemote::TWebRemote(const TMusicLibrary &Library, const TSharingState &Sharing, QObject *Parent)
    : QObject(Parent), FLibrary(Library), FSharing(Sharing),
      FPlayTo(new TPlayTo(*this, Sharing, this)),
      FRun(qint64(QRandomGenerator::global()->generate64() >> 2)) {
    FPlayTo->SetLocalSpeakerPort(CommandServerPort);
    connect(FPlayTo, &TPlayTo::NotAdded, this, [this](const QString &Note) { FNote = Note; });
    // Tags read during a scan come in many small batches: the page sees them together.
    FTagsDelay = new QTimer(this);
    FTagsDelay->setSingleShot(true);
    FTagsDelay->setInterval(2000);
    connect(FTagsDelay, &QTimer::timeout, this, [this] { PublishLibrary(false); });
    // Rows added are published at once, then at most once a hold while more keep coming (a
    // folder's walk adds them slice by slice): each publication is a pass over the library.
    FRowsHold = new QTimer(this);
    FRowsHold->setSingleShot(true);
    FRowsHold->setInterval(500);
    connect(FRowsHold, &QTimer::timeout, this, [this] {
        if (std::exchange(FRowsHeld, false)) {
            PublishLibrary(true);
            FRowsHold->start();
        }
    });
    connect(&Library, &QAbstractItemModel::rowsInserted, this, [this] {
        FRowsHeld = FRowsHold->isActive();
        if (FRowsHeld)
            return;
        PublishLibrary(true);
        FRowsHold->start();
    });
    const auto Changed = [this] {
        FRowsHeld = false;
        PublishLibrary(true);
    };
    connect(&Library, &QAbstractItemModel::modelReset, this, Changed);
    connect(&Library, &QAbstractItemModel::rowsRemoved, this, Changed);
    connect(&Library, &QAbstractItemModel::rowsMoved, this, Changed);
    connect(&Library, &QAbstractItemModel::dataChanged, this, Changed);
    connect(&Library, &QAbstractItemModel::layoutChanged, this, Changed);
}

TWebRemote::~TWebRemote() {
    Stop();
    FWatches.clear();
}

void TWebRemote::SetCovers(std::shared_ptr<TThumbnailSource> Covers) {
    FCovers = std::move(Covers);
    if (FGate)
        FGate->PublishCovers(FCovers);
}

void TWebRemote::SetPresence(const TPresence *Presence) {
    if (FPresence)
        FPresence->disconnect(this);
    FPresence = Presence;
    FPlayTo->SetPresence(Presence);
    if (Presence) {
        connect(Presence, &TPresence::ComputersChanged, this, [this] {
            PublishSpeakers();
            PublishHosts();
        });
        connect(Presence, &TPresence::LocalIPChanged, this, &TWebRemote::PublishHosts);
    }
    PublishSpeakers();
    PublishHosts();
}

void TWebRemote::SetLocalSpeakerPort(quint16 Port) {
    FPlayTo->SetLocalSpeakerPort(Port);
}

void TWebRemote::Start(TMediaServer &Server) {
    if (FGate)
        return;
    QHash<QByteArray, TWebGate::TFile> Files;
    for (QDirIterator It(QStringLiteral(":/web/page"), QDir::Files); It.hasNext();) {
        QFile File(It.next());
        if (File.open(QIODevice::ReadOnly))
            Files.insert(File.fileName().section(u'/', -1).toUtf8(),
                         {PageType(File.fileName()), File.readAll()});
    }
    TWebGate::THandlers Handlers;
    Handlers.Post = [this](const QByteArray &Path, const QJsonObject &Body, quint32 Client) {
        return Post(Path, Body, Client);
    };
    Handlers.Watch = [this](const QString &Key, std::shared_ptr<TEventStream> Stream) {
        Watch(Key, Stream);
    };
    Handlers.Leave = [this](TEventStream *Stream) { Leave(Stream); };
    FGate = std::make_shared<TWebGate>(this, std::move(Handlers), std::move(Files), FKeepAliveMs,
                                       FCallTimeoutMs, FStreamLifetimeMs);
    PublishHosts();
    PublishSpeakers();
    FGate->PublishCovers(FCovers);
    PublishLibrary(false);
    FServer = &Server;
    Server.SetRoutes(FGate);
}

void TWebRemote::Stop() {
    FStopped = true;
    if (FGate)
        FGate->Close();
    FServer = nullptr;
    for (const auto &Watch : std::as_const(FWatches)) {
        Watch->Idle->stop();
        if (Watch->Session)
            Watch->Session->Close();
    }
}

int TWebRemote::StreamCount() const {
    return FGate ? FGate->StreamCount() : 0;
}

qint64 TWebRemote::QueuedBytes() const {
    qint64 Bytes = 0;
    for (const auto &Watch : FWatches)
        for (const QByteArray &Event : Watch->Events)
            Bytes += Event.size();
    for (const auto &Watch : FWatches)
        for (const auto &Stream : Watch->Streams)
            Bytes += Stream->QueuedBytes();
    return Bytes;
}

int TWebRemote::SessionCount() const {
    int Count = 0;
    for (const auto &Watch : FWatches)
        Count += Watch->Session ? 1 : 0;
    return Count;
}

// Sessions: the router opens them through this factory, so each has its watch.

TRemoteSession *TWebRemote::OpenRemotePage(const QString &) {
    auto *Session = new TRemoteSession(this);
    connect(Session, &TRemoteSession::Grown, this, &TWebRemote::KeepSessionBudget);
    return Session;
}

void TWebRemote::ShowRemotePage(TRemotePlayer *Player) {
    auto *Session = qobject_cast<TRemoteSession *>(Player);
    if (!Session || Session->HasEnded())
        return;
    TWatch &W = WatchFor(WatchKey(Session->Host()));
    if (W.Session == Session)
        return;
    W.Session = Session;
    W.Connected = W.Failed = W.TooMuch = false;
    W.Events[TEventStream::ListKind].clear();
    W.Events[TEventStream::StateKind].clear();
    W.Events[TEventStream::GroupKind].clear();
    const std::weak_ptr<TWatch> Weak = FWatches.value(W.Key);
    connect(Session, &TRemoteSession::Repaint, this, [this, Weak](unsigned Changes) {
        if (const auto Watch = Weak.lock())
            SessionRepainted(*Watch, Changes);
    });
    connect(Session, &TRemoteSession::ConnectFailed, this, [Weak] {
        if (const auto Watch = Weak.lock())
            Watch->Failed = true;
    });
    connect(Session, &TRemoteSession::Ended, this, [this, Session] { SessionEnded(Session); });
    SetStatus(W, "connecting", QStringLiteral("Connecting to ") + Session->Host() + "...");
    if (W.Streams.isEmpty())
        W.Idle->start();
}

QString TWebRemote::RouterHost(const QString &Host) {
    return CheckTarget(Host) == TTargetCheck::ThisComputer ? QStringLiteral("localhost") : Host;
}

QString TWebRemote::WatchKey(const QString &Host) const {
    const QString Target = RouterHost(Host.trimmed());
    if (FPlayTo->IsThisComputer(Target))
        return QStringLiteral("127.0.0.1");
    if (const quint32 Address = IPv4Value(Target); Address != 0xFFFFFFFFu)
        return QString::number(Address);
    return QString::fromUtf8(AsciiLower(Target.toUtf8()));
}

TWebRemote::TWatch &TWebRemote::WatchFor(const QString &Key) {
    std::shared_ptr<TWatch> &Slot = FWatches[Key];
    if (!Slot) {
        Slot = std::make_shared<TWatch>();
        Slot->Key = Key;
        Slot->Token = QByteArray::number(QRandomGenerator::system()->generate64(), 36) +
                      QByteArray::number(QRandomGenerator::system()->generate64(), 36);
        Slot->Client = FClient;
        Slot->WatchedAt = ++FWatchClock;
        if (FGate)
            FGate->PublishWatch(Slot->Token, Key);
        Slot->Idle = std::make_unique<QTimer>();
        Slot->Idle->setSingleShot(true);
        Slot->Idle->setInterval(FSessionIdleMs);
        TWatch *W = Slot.get();
        connect(W->Idle.get(), &QTimer::timeout, this, [this, W] {
            if (!W->Streams.isEmpty())
                return;
            if (W->Session) {
                W->Session->Close();
                return;
            }
            // Not from inside its own timer's signal.
            QMetaObject::invokeMethod(
                this,
                [this, Key = W->Key, Token = W->Token] {
                    const auto It = FWatches.find(Key);
                    if (It != FWatches.end() && (*It)->Token == Token && (*It)->Streams.isEmpty() &&
                        !(*It)->Session)
                        EraseWatch(It);
                },
                Qt::QueuedConnection);
        });
    }
    return *Slot;
}

void TWebRemote::Watch(const QString &Key, const std::shared_ptr<TEventStream> &Stream) {
    if (FStopped)
        return;
    const auto Found = FWatches.constFind(Key);
    if (Found == FWatches.cend()) {
        // Gone since the stream was asked for: the page opens the watch anew.
        Stream->End();
        return;
    }
    TWatch &W = **Found;
    W.Streams.append(Stream);
    W.WatchedAt = ++FWatchClock;
    W.Idle->stop();
    // Nothing of the list or state is kept while no browser watches: made anew for this one.
    if (W.Connected && W.Events[TEventStream::ListKind].isEmpty()) {
        SendList(W);
        SendState(W);
        SendGroup(W);
    }
    for (int Kind = 0; Kind < TEventStream::KindCount; ++Kind)
        if (!W.Events[Kind].isEmpty())
            Stream->Put(TEventStream::TKind(Kind), W.Events[Kind]);
}

void TWebRemote::Leave(TEventStream *Stream) {
    for (auto It = FWatches.begin(); It != FWatches.end(); ++It) {
        TWatch &W = **It;
        if (W.Streams.removeIf([Stream](const auto &S) { return S.get() == Stream; }) == 0)
            continue;
        W.WatchedAt = ++FWatchClock;
        if (W.Streams.isEmpty()) {
            W.Events[TEventStream::ListKind].clear();
            W.Events[TEventStream::StateKind].clear();
            W.Events[TEventStream::GroupKind].clear();
            if (W.Session)
                W.Idle->start();
            else
                EraseWatch(It);
        }
        return;
    }
}

void TWebRemote::SessionEnded(TRemoteSession *Session) {
    Session->deleteLater();
    for (auto It = FWatches.begin(); It != FWatches.end(); ++It) {
        TWatch &W = **It;
        if (W.Session != Session)
            continue;
        W.Session = nullptr;
        W.Idle->stop();
        const QString Host = Session->Host();
        if (FPlayTo->IsThisComputer(Host) && !FSharing.AllowOthers())
            SetStatus(W, "refused", RefusedText());
        else if (W.TooMuch)
            SetStatus(W, "ended", TooMuchText());
        else if (W.Failed)
            SetStatus(W, "ended", QStringLiteral("Connect to ") + Host + QStringLiteral(" fail."));
        else
            SetStatus(W, "ended",
                      QStringLiteral("The connection to ") + Host + QStringLiteral(" has ended."));
        // The status waits a while for the browser that opened the watch and has yet to come.
        if (W.Streams.isEmpty())
            W.Idle->start();
        return;
    }
}

// Events: each payload is built once and shared by every stream of the watch.

void TWebRemote::Send(TWatch &W, int Kind, const QByteArray &Event) {
    if (Kind == TEventStream::SessionKind || !W.Streams.isEmpty())
        W.Events[Kind] = Event;
    for (const auto &Stream : std::as_const(W.Streams))
        Stream->Put(TEventStream::TKind(Kind), Event);
}

void TWebRemote::SetStatus(TWatch &W, const char *Status, const QString &Message) {
    const QString Host = W.Key == u"127.0.0.1" ? QStringLiteral("My Computer")
                         : W.Session           ? W.Session->Host()
                                               : W.Key;
    Send(W, TEventStream::SessionKind,
         TEventStream::Format("session", Compact({{QStringLiteral("host"), Host},
                                                  {QStringLiteral("status"), Status},
                                                  {QStringLiteral("message"), Message}})));
}

void TWebRemote::SessionRepainted(TWatch &W, unsigned Changes) {
    if (!W.Connected && W.Session) {
        W.Connected = true;
        SetStatus(W, "connected", QString());
    }
    if (Changes & TRemoteSession::ListChanged)
        W.ListVersion = ++FListVersion;
    if (W.Streams.isEmpty())
        return; // made when a browser comes
    if (Changes & (TRemoteSession::ListChanged | TRemoteSession::MarkChanged))
        SendList(W);
    // The current track's tags go with the state.
    if (Changes &
        (TRemoteSession::MarkChanged | TRemoteSession::StateChanged | TRemoteSession::MuteChanged |
         TRemoteSession::VolumeChanged | TRemoteSession::PositionChanged))
        SendState(W);
    if (Changes & TRemoteSession::GroupChanged)
        SendGroup(W);
}

void TWebRemote::SendList(TWatch &W) {
    if (!W.Session)
        return;
    // The first page; the page asks for the rest as the user scrolls.
    Send(W, TEventStream::ListKind,
         TEventStream::Format("list", ListPageJson(W.Session->List(), W.ListVersion, 0, PageRows,
                                                   &W.Session->Mark(), CaptionOf())));
}

void TWebRemote::SendState(TWatch &W) {
    if (!W.Session)
        return;
    const TRemoteSession &S = *W.Session;
    // A track of this computer's library is named by its tags, as the desktop's pages do.
    const TNowPlaying Now = FCaptions ? FCaptions->NowPlaying(S.Mark()) : TNowPlaying{};
    Send(W, TEventStream::StateKind,
         TEventStream::Format(
             "state", Compact({{QStringLiteral("state"), int(S.State())},
                               {QStringLiteral("muted"), S.Muted()},
                               {QStringLiteral("volume"), S.BarValue(TTrackBar::Volume)},
                               {QStringLiteral("position"), S.BarValue(TTrackBar::Position)},
                               {QStringLiteral("time"), S.TimeText()},
                               {QStringLiteral("information"),
                                Now.Caption.isEmpty() ? S.Information() : Now.Caption},
                               {QStringLiteral("album"), Now.Album},
                               {QStringLiteral("cover"), QString::fromLatin1(Now.CoverHash)}})));
}
