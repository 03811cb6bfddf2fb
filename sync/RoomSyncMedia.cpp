// TRoomSync as the engine's media component: alone, every call reaches the player; leading,
// transport calls become anchors; following, they change nothing.
#include "RoomSync.h"

#include <algorithm>
#include <cmath>

void TRoomSync::SetURL(const QByteArray &URL) {
    if (FRole == TRoomRole::Alone)
        FPlayer->SetURL(URL);
    else if (FRole == TRoomRole::Leader)
        Publish({0, URL, TGroupPlay::Playing, 0, Now() + FConfig.LeadTime});
}

void TRoomSync::SetNextURL(const QByteArray &URL) {
    // Every room queues its own next track; a follower's comes from the leader's list.
    FNextURL = URL;
    FPlayer->SetNextURL(URL);
}

QByteArray TRoomSync::URL() const {
    // A follower's track is the group's from the moment the anchor names it, loaded or not.
    return FRole == TRoomRole::Follower && !FAnchor.Url.isEmpty() ? FAnchor.Url : FPlayer->URL();
}

TPlayState TRoomSync::PlayState() const {
    return FRole == TRoomRole::Alone ? FPlayer->PlayState() : FReported;
}

void TRoomSync::Play() {
    if (FRole == TRoomRole::Alone) {
        FPlayer->Play();
    } else if (FRole == TRoomRole::Leader) {
        if (FAnchor.Play == TGroupPlay::Paused)
            Publish({0, FAnchor.Url, TGroupPlay::Playing, FAnchor.Position,
                     Now() + FConfig.ResumeLeadTime});
        else if (FAnchor.Play == TGroupPlay::Stopped && !FAnchor.Url.isEmpty())
            Publish({0, FAnchor.Url, TGroupPlay::Playing, 0, Now() + FConfig.LeadTime});
    }
}

void TRoomSync::Pause() {
    if (FRole == TRoomRole::Alone) {
        FPlayer->Pause();
    } else if (FRole == TRoomRole::Leader && FAnchor.Play == TGroupPlay::Playing) {
        const qint64 At = Now();
        Publish({0, FAnchor.Url, TGroupPlay::Paused, LinePosition(At), At});
    }
}

void TRoomSync::Stop() {
    if (FRole == TRoomRole::Alone)
        FPlayer->Stop();
    else if (FRole == TRoomRole::Leader)
        Publish({0, FAnchor.Url, TGroupPlay::Stopped, 0, Now()});
}

double TRoomSync::CurrentPosition() const {
    return FPlayer->CurrentPosition();
}

void TRoomSync::SetCurrentPosition(double Seconds) {
    if (FRole == TRoomRole::Alone) {
        FPlayer->SetCurrentPosition(Seconds);
        return;
    }
    if (FRole != TRoomRole::Leader || FAnchor.Play == TGroupPlay::Stopped ||
        !std::isfinite(Seconds))
        return;
    const qint64 At = Now();
    Seconds = std::max(0.0, Seconds);
    if (FAnchor.Play == TGroupPlay::Playing)
        Publish({0, FAnchor.Url, TGroupPlay::Playing, Seconds, At + FConfig.ResumeLeadTime});
    else
        Publish({0, FAnchor.Url, TGroupPlay::Paused, Seconds, At});
    Q_EMIT Seeked(Seconds);
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
