#include "MpdDoor.h"

#include "AsciiText.h"
#include "MediaComponent.h"
#include "MpdCommands.h"
#include "MpdQueue.h"
#include "MpdServer.h"
#include "MusicList.h"
#include "PlaybackEngine.h"
#include "SharingState.h"
#include "Speaker.h"

#include <QDateTime>

TMpdDoor::TMpdDoor(TSpeaker &Speaker, const TSharingState &Sharing, const TMpdSettings &Settings,
                   QObject *Parent)
    : QObject(Parent), FSpeaker(Speaker), FSharing(Sharing),
      FQueue(std::make_unique<TMpdQueue>(*Speaker.Engine()->Model())),
      FServer(std::make_unique<TMpdServer>(FCommands, Settings.Password, Settings.IdleTimeoutMs)),
      FStarted(QDateTime::currentSecsSinceEpoch()), FQueueChangedAt(FStarted) {
    AddConnectionCommands(FCommands, Settings.Password);
    AddPlayerCommands(*this);
    AddQueueCommands(*this);
    WatchSpeaker();
    connect(&FSharing, &TSharingState::Changed, this, [this] {
        if (FListenWanted)
            Rebind();
    });
}

TMpdDoor::~TMpdDoor() {
    Close();
}

bool TMpdDoor::Listen(quint16 Port) {
    FListenWanted = true;
    FWantedPort = Port;
    Rebind();
    return FServer->IsListening();
}

void TMpdDoor::Rebind() {
    const QHostAddress Address =
        FSharing.AllowOthers() ? QHostAddress(QHostAddress::AnyIPv4) : QHostAddress::LocalHost;
    if (!FSharing.AllowOthers())
        FServer->DropConnections(true);
    if (FServer->IsListening() && FServer->Address() == Address)
        return;
    // An ephemeral port stays the same port across a rebind.
    const quint16 Port = FServer->IsListening() ? FServer->Port() : FWantedPort;
    FServer->Listen(Address, Port);
}

quint16 TMpdDoor::Port() const {
    return FServer->Port();
}

bool TMpdDoor::IsListening() const {
    return FServer->IsListening();
}

void TMpdDoor::Close() {
    FListenWanted = false;
    FServer->StopListening();
    FServer->DropConnections(false);
}

void TMpdDoor::Notify(TMpdIdleMask Changed) {
    FServer->Notify(Changed);
    Q_EMIT Notified(Changed);
}

void TMpdDoor::WatchSpeaker() {
    TPlaybackEngine *Engine = FSpeaker.Engine();
    TMediaComponent *Media = FSpeaker.Media();
    connect(FQueue.get(), &TMpdQueue::Changed, this, [this] {
        FQueueChangedAt = QDateTime::currentSecsSinceEpoch();
        Notify(MpdIdle::Playlist);
    });
    connect(Engine, &TPlaybackEngine::VolumeOrMuteChanged, this, [this] {
        // Mute is the output's switch here.
        Notify(MpdIdle::Mixer | MpdIdle::Output);
    });
    connect(Media, &TMediaComponent::Seeked, this, [this] { Notify(MpdIdle::Player); });
    connect(Media, &TMediaComponent::PlayStateChange, this, [this, Media](TPlayState State) {
        if (State == TPlayState::Playing && FSeekId && FQueue->SongIdAt(CurrentRow()) == FSeekId) {
            FSeekId = 0;
            Media->SetCurrentPosition(FSeekTo);
        }
        if (State == TPlayState::Playing && !FPlaying.isValid())
            FPlaying.start();
        else if (State != TPlayState::Playing && FPlaying.isValid())
            FPlayedMs += std::exchange(FPlaying, QElapsedTimer()).elapsed();
        Notify(MpdIdle::Player);
    });
}

QList<quint64> TMpdDoor::AppendToQueue(const QByteArrayList &URLs) {
    TPlaybackEngine *Engine = FSpeaker.Engine();
    Engine->AddTracksNow(URLs);
    QList<quint64> Ids;
    Ids.reserve(URLs.size());
    for (const QByteArray &URL : URLs)
        Ids.append(FQueue->SongIdAt(Engine->Model()->RowOf(Engine->FindItem(URL))));
    return Ids;
}

TMpdSong TMpdDoor::SongOfRow(int Row) const {
    const TPlaybackEngine *Engine = FSpeaker.Engine();
    const TMusicItem *Item = Engine->Model()->ItemAt(Row);
    if (!Item)
        return {};
    TMpdSong Song;
    if (FHooks.SongForURL)
        if (std::optional<TMpdSong> Known = FHooks.SongForURL(Item->Location))
            Song = std::move(*Known);
    const TMediaComponent *Media = FSpeaker.Media();
    const bool Loaded = Row == CurrentRow() && Media->HasMedia();
    if (Song.File.isEmpty()) {
        // A URL from elsewhere: what the track itself says once it is loaded, else its name.
        Song.File = Item->Location;
        const QString Title = Loaded ? Media->MediaName() : QString();
        const QString Artist = Loaded ? Media->MediaAuthor() : QString();
        if (!Artist.isEmpty())
            Song.Tags.append({TMpdTag::Artist, Artist.toUtf8()});
        if (!Title.isEmpty())
            Song.Tags.append({TMpdTag::Title, Title.toUtf8()});
        else if (!Item->Name.isEmpty())
            Song.Tags.append({TMpdTag::Title, Item->Name});
    }
    if (Loaded && Media->Duration() > 0)
        Song.Duration = Media->Duration();
    return Song;
}

int TMpdDoor::CurrentRow() const {
    const TPlaybackEngine *Engine = FSpeaker.Engine();
    if (const int Marked = Engine->Model()->MarkedRow(); Marked >= 0)
        return Marked;
    const int Current = Engine->GetCurrentIndex();
    return Current < Engine->Model()->RowCount() ? Current : -1;
}

void TMpdDoor::PlayAt(int Row, double Seconds) {
    TMediaComponent *Media = FSpeaker.Media();
    if (Row == CurrentRow() && Media->HasMedia()) {
        if (Media->PlayState() != TPlayState::Playing)
            FSpeaker.Engine()->ResumePlay();
        Media->SetCurrentPosition(Seconds);
        return;
    }
    FSeekId = Seconds > 0 ? FQueue->SongIdAt(Row) : 0;
    FSeekTo = Seconds;
    FSpeaker.Engine()->PlayRow(Row);
}

qint64 TMpdDoor::Uptime() const {
    return QDateTime::currentSecsSinceEpoch() - FStarted;
}

qint64 TMpdDoor::PlayTime() const {
    return (FPlayedMs + (FPlaying.isValid() ? FPlaying.elapsed() : 0)) / 1000;
}

std::unique_ptr<TMpdDoor> StartMpdDoor(TSpeaker &Speaker, const TSharingState &Sharing,
                                       const QString &IniFile) {
    const TMpdSettings Settings = LoadMpdSettings(IniFile);
    if (!Settings.Enabled)
        return nullptr;
    auto Door = std::make_unique<TMpdDoor>(Speaker, Sharing, Settings);
    Door->Listen(Settings.Port);
    return Door;
}
