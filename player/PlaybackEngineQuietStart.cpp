// The quiet start: a track played after a long silence starts at volume 1 and fades in to the
// user's volume; and the play-state event that times it.
#include "PlaybackEngine.h"

#include "MediaComponent.h"

void TPlaybackEngine::PrepareQuietStart() {
    if (FQuietPending)
        return; // already lowered: the target is the volume from before
    const int Target = FMedia->Volume();
    if (Target <= 0)
        return;
    FQuietPending = true;
    FFadeTarget = Target;
    // Reported with the start of play, as VOLUMN "1" right before STATE "3"; until then
    // controllers keep hearing the volume the user set.
    FMedia->SetVolume(1);
}

void TPlaybackEngine::CancelQuietStart() {
    if (!FQuietPending)
        return;
    FQuietPending = false;
    FMedia->SetVolume(FFadeTarget);
    Q_EMIT VolumeOrMuteChanged();
}

int TPlaybackEngine::UserVolume() const {
    const int Volume = FMedia->Volume();
    return FQuietPending && Volume == 1 ? FFadeTarget : Volume;
}

void TPlaybackEngine::OnPlayStateChanged(TPlayState NewState) {
    if (NewState == TPlayState::Playing) {
        const qint64 At = Now();
        if (FQuietPending && FMedia->Volume() == 1) {
            FQuietPending = false;
            FFading = true;
            FFadeVolume = 1;
            FLastVolume = 1;
            Broadcast(CommandWord::Volume, "1");
        } else if (At - LastPlayStart > QuietGap) {
            // Playing started without passing through the engine: quiet from here on.
            FFadeTarget = FMedia->Volume();
            if (FFadeTarget > 0) {
                FFading = true;
                FFadeVolume = 1;
                FMedia->SetVolume(1);
                FLastVolume = 1;
                Broadcast(CommandWord::Volume, "1");
            }
        }
        FQuietPending = false;
        LastPlayStart = At;
    }
    switch (NewState) {
    case TPlayState::Undefined:
    case TPlayState::Stopped:
    case TPlayState::Paused:
    case TPlayState::MediaEnded:
    case TPlayState::Ready:
        // The track failed, was stopped or skipped before it played: nothing to fade in.
        CancelQuietStart();
        break;
    default:
        break;
    }
    if (NewState != TPlayState::Transitioning) {
        // Ready without having played: the load failed. Only a row still in the list counts.
        if (NewState == TPlayState::Ready && !FLoading.isEmpty())
            if (const TMusicItem *Item = PlayItems.Find(FLoading);
                Item && Item->Location == FLoading)
                FFailed.insert(FLoading);
        FLoading.clear();
    }
    Broadcast(CommandWord::State, StateArgument(NewState));
}

void TPlaybackEngine::ResumePlay() {
    FHeld = false;
    const TPlayState State = FMedia->PlayState();
    // Nothing loaded: Play() does nothing, and nothing would end a lowered volume.
    if (State != TPlayState::Playing && State != TPlayState::Buffering && QuietGapPassed() &&
        !FMedia->URL().isEmpty())
        PrepareQuietStart();
    FMedia->Play();
}
