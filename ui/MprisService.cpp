#include "MprisService.h"

#include "AsciiText.h"
#include "CoverStore.h"
#include "LocalPlayerWindow.h"
#include "MainWindow.h"
#include "MediaComponent.h"
#include "MprisPlayerAdaptor.h"
#include "MprisRootAdaptor.h"
#include "PlaybackEngine.h"
#include "Speaker.h"
#include "TrackCaptions.h"
#include "TrackTags.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace {

constexpr char NoTrackPath[] = "/org/mpris/MediaPlayer2/TrackList/NoTrack";
constexpr char TrackPathPrefix[] = "/org/vellox/vxPlayer/Track/";

qint64 Microseconds(double Seconds) {
    return std::isfinite(Seconds) ? qint64(std::llround(Seconds * 1e6)) : 0;
}

} // namespace

TMprisService::TMprisService(TPlaybackEngine *Engine, QObject *Parent)
    : QObject(Parent), FEngine(Engine) {
    new TMprisRootAdaptor(this);
    new TMprisPlayerAdaptor(this);
    if (!FEngine)
        return;
    TMediaComponent *M = FEngine->Media();
    connect(M, &TMediaComponent::PlayStateChange, this, &TMprisService::ScheduleUpdate);
    connect(M, &TMediaComponent::VolumeChange, this, &TMprisService::ScheduleUpdate);
    // A track that followed without a stop: new metadata, its position from 0.
    connect(M, &TMediaComponent::NextStarted, this, [this] {
        ScheduleUpdate();
        Q_EMIT Seeked(0);
    });
    // Seeks made here, by a controller or on the player's own strip alike.
    connect(M, &TMediaComponent::Seeked, this,
            [this](double Seconds) { Q_EMIT Seeked(Microseconds(Seconds)); });
    // The marked row moves with the track, and rows come and go: metadata and the
    // Can* properties follow.
    QAbstractItemModel *Rows = FEngine->Model();
    connect(Rows, &QAbstractItemModel::dataChanged, this, &TMprisService::ScheduleUpdate);
    connect(Rows, &QAbstractItemModel::rowsInserted, this, &TMprisService::ScheduleUpdate);
    connect(Rows, &QAbstractItemModel::rowsRemoved, this, &TMprisService::ScheduleUpdate);
    connect(Rows, &QAbstractItemModel::rowsMoved, this, &TMprisService::ScheduleUpdate);
    connect(Rows, &QAbstractItemModel::modelReset, this, &TMprisService::ScheduleUpdate);
    connect(Rows, &QAbstractItemModel::layoutChanged, this, &TMprisService::ScheduleUpdate);
}

TMprisService::~TMprisService() {
    if (FServiceName.isEmpty())
        return;
    FBus.unregisterService(FServiceName);
    FBus.unregisterObject(QString::fromLatin1(MprisObjectPath));
}

bool TMprisService::Register(const QDBusConnection &Bus) {
    if (!Bus.isConnected() || !FServiceName.isEmpty())
        return false;
    QDBusConnection Connection(Bus);
    const QString Path = QString::fromLatin1(MprisObjectPath);
    if (!Connection.registerObject(Path, this))
        return false;
    QString Name = QString::fromLatin1(MprisServiceName);
    if (!Connection.registerService(Name)) {
        // Another copy holds the name on this bus: desktops list instance names too.
        Name += QStringLiteral(".instance") + QString::number(QCoreApplication::applicationPid());
        if (!Connection.registerService(Name)) {
            Connection.unregisterObject(Path);
            return false;
        }
    }
    FBus = Connection;
    FServiceName = Name;
    FSent = WatchedProperties();
    return true;
}

TMediaComponent *TMprisService::Media() const {
    return FEngine ? FEngine->Media() : nullptr;
}

int TMprisService::RowCount() const {
    return FEngine ? FEngine->Model()->RowCount() : 0;
}

quint64 TMprisService::CurrentTrack() const {
    if (!FEngine || FEngine->Media()->URL().isEmpty())
        return 0;
    const TPlayListModel *Rows = FEngine->Model();
    return Rows->RowSerial(Rows->MarkedRow());
}

QDBusObjectPath TMprisService::TrackId(quint64 Serial) {
    return QDBusObjectPath(Serial == 0
                               ? QString::fromLatin1(NoTrackPath)
                               : QString::fromLatin1(TrackPathPrefix) + QString::number(Serial));
}

QString TMprisService::PlaybackStatus() const {
    switch (Media() ? Media()->PlayState() : TPlayState::Undefined) {
    case TPlayState::Playing:
    case TPlayState::Buffering:
    case TPlayState::Transitioning:
        return QStringLiteral("Playing");
    case TPlayState::Paused:
        return QStringLiteral("Paused");
    default:
        return QStringLiteral("Stopped");
    }
}

QVariantMap TMprisService::Metadata() const {
    QVariantMap Map;
    TMediaComponent *M = Media();
    const QByteArray URL = M ? M->URL() : QByteArray();
    Map.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(TrackId(CurrentTrack())));
    if (URL.isEmpty())
        return Map;
    Map.insert(QStringLiteral("xesam:url"), QString::fromUtf8(URL));
    if (const double Length = M->Duration(); Length > 0)
        Map.insert(QStringLiteral("mpris:length"), Microseconds(Length));
    // A track of this computer's library shows its tags, whatever the stream says.
    if (const TTrackTags *Tags = FTagsOf ? FTagsOf(URL) : nullptr; Tags && !Tags->Title.isEmpty()) {
        Map.insert(QStringLiteral("xesam:title"), Tags->Title);
        if (!Tags->Artists.isEmpty())
            Map.insert(QStringLiteral("xesam:artist"), Tags->Artists);
        if (!Tags->Album.isEmpty())
            Map.insert(QStringLiteral("xesam:album"), Tags->Album);
        const QString Cover =
            FCoverFile && !Tags->CoverHash.isEmpty() ? FCoverFile(Tags->CoverHash) : QString();
        if (!Cover.isEmpty())
            Map.insert(QStringLiteral("mpris:artUrl"), QUrl::fromLocalFile(Cover).toString());
        return Map;
    }
    QString Title = M->MediaName();
    if (Title.isEmpty())
        Title = QString::fromUtf8(DocumentName(PercentDecode(URL)));
    Map.insert(QStringLiteral("xesam:title"), Title);
    if (const QString Artist = M->MediaAuthor(); !Artist.isEmpty())
        Map.insert(QStringLiteral("xesam:artist"), QStringList{Artist});
    return Map;
}

double TMprisService::Volume() const {
    return Media() ? Media()->Volume() / 100.0 : 0.0;
}

void TMprisService::SetVolume(double Value) {
    if (!Media() || std::isnan(Value))
        return;
    Media()->SetVolume(int(std::lround(std::clamp(Value, 0.0, 1.0) * 100)));
}

qint64 TMprisService::Position() const {
    return Media() ? Microseconds(Media()->CurrentPosition()) : 0;
}

bool TMprisService::CanPlay() const {
    return RowCount() > 0 || (Media() && !Media()->URL().isEmpty());
}

bool TMprisService::CanSeek() const {
    return Media() && Media()->HasMedia() && Media()->Duration() > 0;
}

void TMprisService::Play() {
    if (Media())
        Media()->Play();
}

void TMprisService::Pause() {
    if (Media())
        Media()->Pause();
}

void TMprisService::PlayPause() {
    if (!Media())
        return;
    if (Media()->PlayState() == TPlayState::Playing)
        Media()->Pause();
    else
        Media()->Play();
}

void TMprisService::Stop() {
    if (Media())
        Media()->Stop();
}

void TMprisService::Next() {
    if (FEngine)
        FEngine->PlayNext();
}

void TMprisService::Previous() {
    if (FEngine)
        FEngine->PlayPrevious();
}

void TMprisService::Seek(qint64 Offset) {
    if (!CanSeek())
        return;
    const double Target = std::max(0.0, Media()->CurrentPosition() + Offset / 1e6);
    if (Target > Media()->Duration()) {
        Next();
        return;
    }
    Media()->SetCurrentPosition(Target);
}

void TMprisService::SetPosition(const QDBusObjectPath &Track, qint64 Position) {
    // A stale track id (the track changed meanwhile) is ignored.
    if (!CanSeek() || Track != TrackId(CurrentTrack()) || Position < 0 ||
        Position > Microseconds(Media()->Duration()))
        return;
    Media()->SetCurrentPosition(Position / 1e6);
}

void TMprisService::OpenUri(const QString &) {
    if (calledFromDBus())
        sendErrorReply(QDBusError::NotSupported,
                       QStringLiteral("Tracks come from the library or from a controller"));
}

void TMprisService::SetTrackTags(TTagsOf TagsOf, TCoverFile CoverFile) {
    FTagsOf = std::move(TagsOf);
    FCoverFile = std::move(CoverFile);
    ScheduleUpdate();
}

void TMprisService::ScheduleUpdate() {
    if (FUpdateQueued || FServiceName.isEmpty())
        return;
    FUpdateQueued = true;
    QMetaObject::invokeMethod(this, &TMprisService::SendChanges, Qt::QueuedConnection);
}

QVariantMap TMprisService::WatchedProperties() const {
    return {{QStringLiteral("PlaybackStatus"), PlaybackStatus()},
            {QStringLiteral("Metadata"), Metadata()},
            {QStringLiteral("Volume"), Volume()},
            {QStringLiteral("CanGoNext"), CanGoNext()},
            {QStringLiteral("CanGoPrevious"), CanGoPrevious()},
            {QStringLiteral("CanPlay"), CanPlay()},
            {QStringLiteral("CanPause"), CanPause()},
            {QStringLiteral("CanSeek"), CanSeek()}};
}

void TMprisService::SendChanges() {
    FUpdateQueued = false;
    const QVariantMap Now = WatchedProperties();
    QVariantMap Changed;
    for (auto It = Now.cbegin(); It != Now.cend(); ++It)
        if (FSent.value(It.key()) != It.value())
            Changed.insert(It.key(), It.value());
    FSent = Now;
    if (Changed.isEmpty())
        return;
    QDBusMessage Signal = QDBusMessage::createSignal(
        QString::fromLatin1(MprisObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    Signal << QString::fromLatin1(MprisPlayerInterface) << Changed << QStringList();
    FBus.send(Signal);
}

std::unique_ptr<TMprisService> StartMprisService(TMainWindow &Window, const QDBusConnection &Bus) {
    TSpeaker *Speaker = Window.Speaker();
    auto Service = std::make_unique<TMprisService>(Speaker ? Speaker->Engine() : nullptr);
    QObject::connect(Service.get(), &TMprisService::RaiseRequested, &Window,
                     &TMainWindow::RestoreWindow);
    // After the reply has gone out.
    QObject::connect(Service.get(), &TMprisService::QuitRequested, &Window, &TMainWindow::Exit,
                     Qt::QueuedConnection);
    if (TTrackCaptions *Captions = Window.TrackCaptions()) {
        Service->SetTrackTags([Captions](const QByteArray &URL) { return Captions->TagsOf(URL); },
                              [&Window](const QByteArray &Hash) {
                                  return Window.CoverFile(Hash, TCoverStore::LargeSize);
                              });
        QObject::connect(Captions, &TTrackCaptions::Changed, Service.get(),
                         &TMprisService::TagsChanged);
    }
    Service->Register(Bus);
    return Service;
}
