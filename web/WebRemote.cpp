#include "WebRemote.h"
#include "WebRemoteWatch.h"

#include "AsciiText.h"
#include "CommandProtocol.h"
#include "MediaServer.h"
#include "MusicLibrary.h"
#include "Presence.h"
#include "Settings.h"
#include "SharingState.h"
#include "WebGate.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

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
      FPlayTo(new TPlayTo(*this, Sharing, this)) {
    FPlayTo->SetLocalSpeakerPort(CommandServerPort);
    connect(FPlayTo, &TPlayTo::NotAdded, this, [this](const QString &Note) { FNote = Note; });
    const auto Changed = [this] {
        ++FLibraryVersion;
        PublishLibrary();
    };
    connect(&Library, &QAbstractItemModel::modelReset, this, Changed);
    connect(&Library, &QAbstractItemModel::rowsInserted, this, Changed);
    connect(&Library, &QAbstractItemModel::rowsRemoved, this, Changed);
    connect(&Library, &QAbstractItemModel::rowsMoved, this, Changed);
    connect(&Library, &QAbstractItemModel::dataChanged, this, Changed);
    connect(&Library, &QAbstractItemModel::layoutChanged, this, Changed);
}

TWebRemote::~TWebRemote() {
    Stop();
    FWatches.clear();
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
    Handlers.Post = [this](const QByteArray &Path, const QJsonObject &Body) {
        return Post(Path, Body);
    };
    Handlers.Watch = [this](const QString &Host, std::shared_ptr<TEventStream> Stream) {
        Watch(Host, Stream);
    };
    Handlers.Leave = [this](TEventStream *Stream) { Leave(Stream); };
    FGate = std::make_shared<TWebGate>(this, std::move(Handlers), std::move(Files), FKeepAliveMs,
                                       FCallTimeoutMs);
    PublishHosts();
    PublishSpeakers();
    PublishLibrary();
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
    return new TRemoteSession(this);
}

void TWebRemote::ShowRemotePage(TRemotePlayer *Player) {
    auto *Session = qobject_cast<TRemoteSession *>(Player);
    if (!Session || Session->HasEnded())
        return;
    TWatch &W = WatchFor(WatchKey(Session->Host()));
    if (W.Session == Session)
        return;
    W.Session = Session;
    W.Connected = W.Failed = false;
    W.Events[TEventStream::ListKind].clear();
    W.Events[TEventStream::StateKind].clear();
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
        Slot->Idle = std::make_unique<QTimer>();
        Slot->Idle->setSingleShot(true);
        Slot->Idle->setInterval(FSessionIdleMs);
        TWatch *W = Slot.get();
        connect(W->Idle.get(), &QTimer::timeout, this, [W] {
            if (W->Streams.isEmpty() && W->Session)
                W->Session->Close();
        });
    }
    return *Slot;
}

bool TWebRemote::MayWatch(const QString &Key) const {
    return FWatches.contains(Key) || FWatches.size() < MaxSessions;
}

void TWebRemote::Watch(const QString &Host, const std::shared_ptr<TEventStream> &Stream) {
    if (FStopped)
        return;
    const QString Key = WatchKey(Host);
    const bool NoSpeaker = Key == u"127.0.0.1" && FPlayTo->LocalSpeakerPort() == 0;
    if (NoSpeaker || !MayWatch(Key)) {
        // The stream stays open, idle, until the browser leaves.
        Stream->Put(TEventStream::SessionKind,
                    TEventStream::Format(
                        "session", Compact({{QStringLiteral("host"), Host},
                                            {QStringLiteral("status"), QStringLiteral("ended")},
                                            {QStringLiteral("message"),
                                             NoSpeaker ? NoLocalSpeakerText() : TooManyText()}})));
        return;
    }
    TWatch &W = WatchFor(Key);
    W.Streams.append(Stream);
    W.Idle->stop();
    if (!W.Session)
        FPlayTo->PlayListOn(RouterHost(Host), {}); // the new session shows up here, asking "GET"
    for (int Kind = 0; Kind < TEventStream::KindCount; ++Kind)
        if (!W.Events[Kind].isEmpty())
            Stream->Put(TEventStream::TKind(Kind), W.Events[Kind]);
}

void TWebRemote::Leave(TEventStream *Stream) {
    for (auto It = FWatches.begin(); It != FWatches.end(); ++It) {
        TWatch &W = **It;
        if (W.Streams.removeIf([Stream](const auto &S) { return S.get() == Stream; }) == 0)
            continue;
        if (W.Streams.isEmpty()) {
            if (W.Session)
                W.Idle->start();
            else
                FWatches.erase(It);
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
        else if (W.Failed)
            SetStatus(W, "ended", QStringLiteral("Connect to ") + Host + QStringLiteral(" fail."));
        else
            SetStatus(W, "ended",
                      QStringLiteral("The connection to ") + Host + QStringLiteral(" has ended."));
        if (W.Streams.isEmpty())
            FWatches.erase(It);
        return;
    }
}

// Events: each payload is built once and shared by every stream of the watch.

void TWebRemote::Send(TWatch &W, int Kind, const QByteArray &Event) {
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
    if (Changes & (TRemoteSession::ListChanged | TRemoteSession::MarkChanged))
        SendList(W);
    if (Changes & (TRemoteSession::StateChanged | TRemoteSession::MuteChanged |
                   TRemoteSession::VolumeChanged | TRemoteSession::PositionChanged))
        SendState(W);
}

void TWebRemote::SendList(TWatch &W) {
    if (!W.Session)
        return;
    QJsonArray Items;
    for (const QByteArray &Item : W.Session->List())
        Items.append(QString::fromUtf8(Item));
    Send(W, TEventStream::ListKind,
         TEventStream::Format(
             "list", Compact({{QStringLiteral("version"), W.ListVersion},
                              {QStringLiteral("items"), Items},
                              {QStringLiteral("mark"), QString::fromUtf8(W.Session->Mark())}})));
}

void TWebRemote::SendState(TWatch &W) {
    if (!W.Session)
        return;
    const TRemoteSession &S = *W.Session;
    Send(W, TEventStream::StateKind,
         TEventStream::Format(
             "state", Compact({{QStringLiteral("state"), int(S.State())},
                               {QStringLiteral("muted"), S.Muted()},
                               {QStringLiteral("volume"), S.BarValue(TTrackBar::Volume)},
                               {QStringLiteral("position"), S.BarValue(TTrackBar::Position)},
                               {QStringLiteral("time"), S.TimeText()},
                               {QStringLiteral("information"), S.Information()}})));
}

// What the gate answers from without asking.

void TWebRemote::PublishHosts() {
    if (!FGate)
        return;
    QByteArrayList Names = {"localhost"};
    if (!LocalHostName.isEmpty())
        Names << LocalHostName << LocalHostName + ".local";
    FGate->PublishHosts(Names, FPresence ? FPresence->OwnAddresses() : QByteArrayList{"127.0.0.1"});
}

void TWebRemote::PublishSpeakers() {
    if (!FGate)
        return;
    QJsonArray Speakers;
    for (const QByteArray &Computer :
         FPresence ? FPresence->Computers() : QByteArrayList{TPresence::ThisComputer})
        Speakers.append(QString::fromUtf8(Computer));
    FGate->PublishSpeakers(Compact({{QStringLiteral("speakers"), Speakers}}));
}

void TWebRemote::PublishLibrary() {
    if (!FGate)
        return;
    QJsonArray Tracks;
    for (const TLibraryEntry &Row : FLibrary.Rows())
        Tracks.append(QJsonArray{QString::fromUtf8(Row.Name), QString::fromUtf8(Row.Source)});
    FGate->PublishLibrary(Compact(
        {{QStringLiteral("version"), FLibraryVersion}, {QStringLiteral("tracks"), Tracks}}));
}
