#include "RoomSync.h"

#include "StartTimer.h"

struct TRoomSync::TLoop {};

TRoomSync::TRoomSync(std::unique_ptr<TMediaComponent> Player, QObject *Parent)
    : TRoomSync(std::move(Player), MonotonicNow, TConfig{}, Parent) {}

TRoomSync::TRoomSync(std::unique_ptr<TMediaComponent> Player, TClock Clock, const TConfig &Config,
                     QObject *Parent)
    : TMediaComponent(Parent), FPlayer(std::move(Player)), FClock(std::move(Clock)),
      FConfig(Config) {
    connect(FPlayer.get(), &TMediaComponent::PlayStateChange, this,
            &TMediaComponent::PlayStateChange);
    connect(FPlayer.get(), &TMediaComponent::VolumeChange, this, &TMediaComponent::VolumeChange);
    connect(FPlayer.get(), &TMediaComponent::Seeked, this, &TMediaComponent::Seeked);
}

TRoomSync::~TRoomSync() = default;

void TRoomSync::SetRole(TRoomRole Role) {
    FRole = Role;
}

void TRoomSync::SetClock(const TGroupClock *Clock) {
    Q_UNUSED(Clock);
}

void TRoomSync::SetLatencyMs(int Milliseconds) {
    FLatencyMs = qBound(0, Milliseconds, 2000);
}

void TRoomSync::Follow(const TGroupAnchor &Anchor) {
    FAnchor = Anchor;
}

void TRoomSync::SetURL(const QByteArray &URL) {
    FPlayer->SetURL(URL);
}
QByteArray TRoomSync::URL() const {
    return FPlayer->URL();
}
TPlayState TRoomSync::PlayState() const {
    return FPlayer->PlayState();
}
void TRoomSync::Play() {
    FPlayer->Play();
}
void TRoomSync::Pause() {
    FPlayer->Pause();
}
void TRoomSync::Stop() {
    FPlayer->Stop();
}
double TRoomSync::CurrentPosition() const {
    return FPlayer->CurrentPosition();
}
void TRoomSync::SetCurrentPosition(double Seconds) {
    FPlayer->SetCurrentPosition(Seconds);
}
QString TRoomSync::CurrentPositionString() const {
    return FPlayer->CurrentPositionString();
}
int TRoomSync::Volume() const {
    return FPlayer->Volume();
}
void TRoomSync::SetVolume(int Value) {
    FPlayer->SetVolume(Value);
}
bool TRoomSync::Mute() const {
    return FPlayer->Mute();
}
void TRoomSync::SetMute(bool Value) {
    FPlayer->SetMute(Value);
}
bool TRoomSync::HasMedia() const {
    return FPlayer->HasMedia();
}
double TRoomSync::Duration() const {
    return FPlayer->Duration();
}
QString TRoomSync::MediaName() const {
    return FPlayer->MediaName();
}
QString TRoomSync::MediaAuthor() const {
    return FPlayer->MediaAuthor();
}
