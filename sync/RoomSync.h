#pragma once

#include "GroupAnchor.h"
#include "GroupClock.h"
#include "MediaComponent.h"
#include "SyncCorrector.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class TGroupClock;

// How this room plays: on its own, leading a group or following one.
enum class TRoomRole : quint8 { Alone, Leader, Follower };

// This room's player in a group: the media component the playback engine drives, over the
// room's real player. Alone, every call passes straight through. Leading, the engine's
// play, pause, seek and track changes become anchors, published to the followers and played
// here by the same loop the followers run. Following, the engine's transport calls change
// nothing (the leader decides) and the room plays the anchors it is given: it loads paused,
// starts at the anchor's time and keeps in step by trimming the speed.
class TRoomSync : public TMediaComponent {
    Q_OBJECT
public:
    using TClock = std::function<qint64()>; // nanoseconds, monotonic

    struct TConfig {
        // How far ahead a leader's new track starts, so that the followers can load it.
        qint64 LeadTime = 400'000'000;
        // The same for a resume or a seek (the track is loaded everywhere already).
        qint64 ResumeLeadTime = 250'000'000;
        // Between two readings of the room's position while playing in a group.
        int ReadIntervalMs = 200;
        // Speed trims on; off only to measure what they do (re-anchors still happen).
        bool Correct = true;
        // A file that gets one line "groupTimeNs audioPts" per reading of the position.
        QString TracePath;
        // Makes the first start this late: a fault for the end-to-end test to mend.
        qint64 StartFault = 0;
    };
    // The defaults, with what the environment changes: VX_SYNC_TRACE=<file> (TracePath),
    // VX_SYNC_CORRECTION=off (Correct), VX_SYNC_START_FAULT_MS=<ms> (StartFault).
    static TConfig ConfigFromEnvironment();
    // How the room's loop trims its speed on libmpv.
    static TSyncCorrector::TConfig CorrectorConfig();

    // Player: the room's real player, owned from now on. Configured by the environment
    // (ConfigFromEnvironment), with the settings' latency ([Speaker] LatencyMs).
    explicit TRoomSync(std::unique_ptr<TMediaComponent> Player, QObject *Parent = nullptr);
    // Clock: this computer's monotonic clock (tests inject one).
    TRoomSync(std::unique_ptr<TMediaComponent> Player, TClock Clock, const TConfig &Config,
              QObject *Parent);
    ~TRoomSync() override;

    void SetRole(TRoomRole Role);
    TRoomRole Role() const { return FRole; }
    // A follower's estimate of the group clock, which must outlive its use here; nullptr:
    // this computer's clock is the group's (alone, leading).
    void SetClock(const TGroupClock *Clock);
    // The room's output latency (amplifier, wireless speaker), 0..2000 ms: it starts early
    // by this much.
    void SetLatencyMs(int Milliseconds);
    int LatencyMs() const { return FLatencyMs; }

    // Following: plays as Anchor says; an anchor older than the one playing is ignored.
    void Follow(const TGroupAnchor &Anchor);
    // The anchor playing now (a leader's latest, a follower's last followed).
    const TGroupAnchor &Anchor() const { return FAnchor; }
    // Plain text for the pages: what the room is doing in the group.
    QString Status() const { return FStatus; }

    TMediaComponent *Player() const { return FPlayer.get(); }

    void SetURL(const QByteArray &URL) override;
    QByteArray URL() const override;
    void SetNextURL(const QByteArray &URL) override;
    TPlayState PlayState() const override;
    void Play() override;
    void Pause() override;
    void Stop() override;
    double CurrentPosition() const override;
    void SetCurrentPosition(double Seconds) override;
    QString CurrentPositionString() const override;
    int Volume() const override;
    void SetVolume(int Value) override;
    bool Mute() const override;
    void SetMute(bool Value) override;
    bool HasMedia() const override;
    double Duration() const override;
    QString MediaName() const override;
    QString MediaAuthor() const override;

Q_SIGNALS:
    // Leading: publish Anchor to the followers.
    void AnchorChanged(const TGroupAnchor &Anchor);
    void StatusChanged(const QString &Text);
    // Following: the track came to its end here.
    void TrackEnded();
    // Following: an anchor made the room load URL.
    void TrackFollowed(const QByteArray &URL);

private:
    struct TLoop;
    enum class TPhase : quint8 { Idle, Loading, Waiting, Playing };

    qint64 Now() const { return FClock(); }
    // Leading: a new anchor, played here and published.
    void Publish(TGroupAnchor Anchor);
    // Plays Anchor here.
    void Apply(const TGroupAnchor &Anchor);
    // Loads the anchor's track paused where it will be some time from now.
    void Prepare();
    // The player can play from where it was loaded: start it at its time.
    void StartWhenDue();
    void OnPlayerState(TPlayState State);
    // The player joined its queued track without a stop: the line goes on into it.
    void OnNextStarted(const QByteArray &URL);
    // The playing line continued into URL from the end of the track playing, if known.
    std::optional<TGroupAnchor> JoinAnchor(const QByteArray &URL) const;
    // Following: Anchor is the line this room plays already (the leader crossed into the next
    // track, before or after this room did): taken without reloading.
    bool FollowWithoutReload(const TGroupAnchor &Anchor);
    void ReadPosition();
    void Halt();
    void Report(TPlayState State);
    void SetStatus(const QString &Text);
    // The anchor line's position at group time GroupTime (no latency).
    double LinePosition(qint64 GroupTime) const;

    std::unique_ptr<TMediaComponent> FPlayer;
    TClock FClock;
    TConfig FConfig;
    TRoomRole FRole = TRoomRole::Alone;
    int FLatencyMs = 0;
    TGroupAnchor FAnchor;
    QString FStatus;
    std::unique_ptr<TLoop> FLoop;
    TPhase FPhase = TPhase::Idle;
    TPlayState FReported = TPlayState::Undefined;
    double FLoadedAt = -1;                    // where the player waits, paused, for its start
    qint64 FMargin = 0;                       // how far ahead the next load aims
    bool FFaultDone = false;                  // StartFault applied
    QByteArray FNextURL;                      // queued in the player after the track playing
    double FTrackDuration = 0;                // of the track playing, as the player last said
    std::optional<TGroupAnchor> FPendingJoin; // the leader's anchor for this room's next join
};
