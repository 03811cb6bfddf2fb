#include "RoomSync.h"

#include "SpeakerSettings.h"
#include "StartTimer.h"
#include "SyncCorrector.h"

#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

constexpr double NsPerSecond = 1e9;
// A load that came too late aims this much further ahead each time, up to the last.
constexpr qint64 MaxMargin = 6'400'000'000;
// The player waits this long for the group clock before it tries again.
constexpr int ClockWaitMs = 100;

} // namespace

TSyncCorrector::TConfig TRoomSync::CorrectorConfig() {
    // On libmpv the position answers a speed change late (its output buffer): the corrector's
    // own gains made the room swing by several milliseconds; these settle within 0.1 ms.
    TSyncCorrector::TConfig Config;
    Config.Gain = 0.3;
    Config.IntegralGain = 0.03;
    return Config;
}

struct TRoomSync::TLoop {
    explicit TLoop(const TClock &Now) : Start(Now, nullptr) {}

    TGroupClock LocalClock; // no exchanges: the local clock itself
    const TGroupClock *Clock = &LocalClock;
    std::unique_ptr<TSyncCorrector> Corrector;
    TStartTimer Start;
    QTimer Reader;
    QTimer ClockWait;
    QTimer PendingJoin; // plays the pending join's anchor if the join does not come
    std::unique_ptr<QFile> Trace;
    double Speed = 1;
};

TRoomSync::TConfig TRoomSync::ConfigFromEnvironment() {
    TConfig Config;
    Config.TracePath = qEnvironmentVariable("VX_SYNC_TRACE");
    Config.Correct = qgetenv("VX_SYNC_CORRECTION") != "off";
    Config.StartFault =
        qBound(0, qEnvironmentVariableIntValue("VX_SYNC_START_FAULT_MS"), 10'000) * 1'000'000LL;
    return Config;
}

TRoomSync::TRoomSync(std::unique_ptr<TMediaComponent> Player, QObject *Parent)
    : TRoomSync(std::move(Player), MonotonicNow, ConfigFromEnvironment(), Parent) {
    SetLatencyMs(SpeakerSettings().LatencyMs());
    connect(&SpeakerSettings(), &TSpeakerSettings::LatencyChanged, this, &TRoomSync::SetLatencyMs);
}

TRoomSync::TRoomSync(std::unique_ptr<TMediaComponent> Player, TClock Clock, const TConfig &Config,
                     QObject *Parent)
    : TMediaComponent(Parent), FPlayer(std::move(Player)), FClock(std::move(Clock)),
      FConfig(Config), FLoop(std::make_unique<TLoop>(FClock)) {
    FLoop->Corrector = std::make_unique<TSyncCorrector>(*FLoop->Clock, CorrectorConfig());
    FLoop->Reader.setInterval(std::max(FConfig.ReadIntervalMs, 10));
    connect(&FLoop->Reader, &QTimer::timeout, this, &TRoomSync::ReadPosition);
    FLoop->ClockWait.setSingleShot(true);
    FLoop->ClockWait.setInterval(ClockWaitMs);
    connect(&FLoop->ClockWait, &QTimer::timeout, this, &TRoomSync::Prepare);
    FLoop->PendingJoin.setSingleShot(true);
    connect(&FLoop->PendingJoin, &QTimer::timeout, this, [this] {
        if (const std::optional<TGroupAnchor> Anchor = std::exchange(FPendingJoin, std::nullopt))
            Apply(*Anchor);
    });
    if (!FConfig.TracePath.isEmpty()) {
        FLoop->Trace = std::make_unique<QFile>(FConfig.TracePath);
        if (!FLoop->Trace->open(QIODevice::Append | QIODevice::Text)) {
            qWarning("Sync trace: cannot write %s", qPrintable(FConfig.TracePath));
            FLoop->Trace.reset();
        }
    }
    connect(FPlayer.get(), &TMediaComponent::PlayStateChange, this, &TRoomSync::OnPlayerState);
    connect(FPlayer.get(), &TMediaComponent::NextStarted, this, &TRoomSync::OnNextStarted);
    connect(FPlayer.get(), &TMediaComponent::VolumeChange, this, &TMediaComponent::VolumeChange);
    connect(FPlayer.get(), &TMediaComponent::Seeked, this, [this](double Seconds) {
        if (FRole == TRoomRole::Alone)
            Q_EMIT Seeked(Seconds);
    });
}

TRoomSync::~TRoomSync() = default;

void TRoomSync::SetRole(TRoomRole Role) {
    if (Role == FRole)
        return;
    const TRoomRole Old = FRole;
    FRole = Role;
    Halt();
    if (Role == TRoomRole::Alone) {
        FReported = FPlayer->PlayState();
        SetStatus({});
        return;
    }
    if (Role == TRoomRole::Follower) {
        // The new leader numbers its anchors afresh.
        FAnchor = {};
        FReported = FPlayer->PlayState();
        SetStatus(tr("Waiting for the group"));
        return;
    }
    SetClock(nullptr);
    // Leading from where the room is: what plays goes on, on a line the followers can join.
    TGroupAnchor Anchor;
    Anchor.Url = FPlayer->URL();
    const TPlayState State = FPlayer->PlayState();
    const qint64 At = Now();
    Anchor.GroupTime = At;
    if (Old == TRoomRole::Follower)
        Anchor.Play = TGroupPlay::Stopped;
    else if (State == TPlayState::Playing || State == TPlayState::Buffering)
        Anchor.Play = TGroupPlay::Playing;
    else if (State == TPlayState::Paused)
        Anchor.Play = TGroupPlay::Paused;
    Anchor.Position = FPlayer->AudioPts().value_or(FPlayer->CurrentPosition());
    if (Anchor.Play == TGroupPlay::Playing) {
        // The room plays its latency ahead of the line.
        Anchor.Position = std::max(0.0, Anchor.Position - FLatencyMs / 1000.0);
        // No reload: the room is on this line already.
        FAnchor = Anchor;
        FAnchor.Serial = 1;
        FLoop->Corrector->SetAnchor({Anchor.GroupTime, Anchor.Position});
        FLoop->Corrector->Started(At);
        FPhase = TPhase::Playing;
        FLoop->Reader.start();
        Q_EMIT AnchorChanged(FAnchor);
        return;
    }
    FAnchor = {};
    Publish(Anchor);
}

void TRoomSync::SetClock(const TGroupClock *Clock) {
    const TGroupClock *Wanted = Clock ? Clock : &FLoop->LocalClock;
    if (Wanted == FLoop->Clock)
        return;
    FLoop->Clock = Wanted;
    FLoop->Corrector = std::make_unique<TSyncCorrector>(*Wanted, CorrectorConfig());
    FLoop->Corrector->SetLatency(qint64(FLatencyMs) * 1'000'000);
    if (FRole != TRoomRole::Alone && FAnchor.Play == TGroupPlay::Playing)
        Apply(FAnchor);
}

void TRoomSync::SetLatencyMs(int Milliseconds) {
    FLatencyMs = qBound(0, Milliseconds, TSpeakerSettings::MaxLatencyMs);
    // A change while playing shows as an error: trimmed away, or past the threshold, re-anchored.
    FLoop->Corrector->SetLatency(qint64(FLatencyMs) * 1'000'000);
}

void TRoomSync::Follow(const TGroupAnchor &Anchor) {
    // The same anchor again (a repeat after the track ended) would play the end once more.
    if (FRole != TRoomRole::Follower || Anchor.Serial < FAnchor.Serial || Anchor == FAnchor)
        return;
    if (!FollowWithoutReload(Anchor))
        Apply(Anchor);
}

std::optional<TGroupAnchor> TRoomSync::JoinAnchor(const QByteArray &URL) const {
    if (FAnchor.Play != TGroupPlay::Playing || !(FTrackDuration > 0))
        return std::nullopt;
    TGroupAnchor Joined = FAnchor;
    Joined.Url = URL;
    Joined.Position = 0;
    Joined.GroupTime =
        FAnchor.GroupTime + std::llround((FTrackDuration - FAnchor.Position) * NsPerSecond);
    return Joined;
}

bool TRoomSync::FollowWithoutReload(const TGroupAnchor &Anchor) {
    if (Anchor.Play != TGroupPlay::Playing || FAnchor.Play != TGroupPlay::Playing ||
        FPhase != TPhase::Playing)
        return false;
    // Group time of the track's start on a line; the loop makes up this much by itself.
    const auto Start = [](const TGroupAnchor &A) {
        return A.GroupTime - std::llround(A.Position * NsPerSecond);
    };
    constexpr qint64 SameLine = 20'000'000;
    if (Anchor.Url == FAnchor.Url && Anchor.Url == FPlayer->URL()) {
        if (std::abs(Start(Anchor) - Start(FAnchor)) > SameLine)
            return false;
        FAnchor = Anchor;
        FLoop->Corrector->Rebase({Anchor.GroupTime, Anchor.Position});
        return true;
    }
    const std::optional<TGroupAnchor> Joined = JoinAnchor(Anchor.Url);
    if (Anchor.Url != FNextURL || !Joined || std::abs(Start(Anchor) - Start(*Joined)) > SameLine)
        return false;
    FPendingJoin = Anchor;
    const qint64 Due = FLoop->Clock->ToLocal(Start(Anchor)) - Now();
    FLoop->PendingJoin.start(int(std::clamp<qint64>(Due / 1'000'000, 0, 60'000)) + 2000);
    return true;
}

double TRoomSync::LinePosition(qint64 GroupTime) const {
    return FAnchor.Position +
           std::max<double>(0, double(GroupTime - FAnchor.GroupTime)) / NsPerSecond;
}

void TRoomSync::Publish(TGroupAnchor Anchor) {
    Anchor.Serial = FAnchor.Serial + 1;
    Apply(Anchor);
    Q_EMIT AnchorChanged(FAnchor);
}

void TRoomSync::Apply(const TGroupAnchor &Anchor) {
    Halt();
    const bool NewTrack = Anchor.Url != FAnchor.Url;
    FAnchor = Anchor;
    FTrackDuration = 0;
    if (FRole == TRoomRole::Follower && NewTrack && !Anchor.Url.isEmpty())
        Q_EMIT TrackFollowed(Anchor.Url);
    switch (Anchor.Play) {
    case TGroupPlay::Stopped:
        FLoadedAt = -1;
        FPlayer->Stop();
        Report(TPlayState::Stopped);
        SetStatus(FRole == TRoomRole::Follower ? tr("Stopped by the group") : QString());
        return;
    case TGroupPlay::Paused:
        if (FPlayer->URL() != Anchor.Url || !FPlayer->HasMedia()) {
            FPhase = TPhase::Loading;
            FLoadedAt = -1;
            FPlayer->LoadPaused(Anchor.Url, Anchor.Position);
        } else {
            FPlayer->Pause();
            if (std::abs(FPlayer->CurrentPosition() - Anchor.Position) > 0.001)
                FPlayer->SetCurrentPosition(Anchor.Position);
            FLoadedAt = Anchor.Position;
        }
        Report(TPlayState::Paused);
        return;
    case TGroupPlay::Playing:
        FLoop->Corrector->SetAnchor({Anchor.GroupTime, Anchor.Position});
        FMargin = FConfig.LeadTime;
        Prepare();
        return;
    }
}

void TRoomSync::Prepare() {
    if (FRole == TRoomRole::Alone || FAnchor.Play != TGroupPlay::Playing)
        return;
    if (!FLoop->Clock->IsSynced() && FLoop->Clock != &FLoop->LocalClock) {
        SetStatus(tr("Waiting for the group's clock"));
        FLoop->ClockWait.start();
        return;
    }
    const qint64 At = Now();
    // Paused where the anchor starts, with time to spare: only the start is left.
    if (FLoadedAt == FAnchor.Position && FPlayer->URL() == FAnchor.Url &&
        FPlayer->PlayState() == TPlayState::Paused &&
        FLoop->Corrector->LocalTimeOf(FAnchor.Position) > At + TStartTimer::SpinTime) {
        StartWhenDue();
        return;
    }
    // From the anchor's own position while it is still ahead (a track starts at its start),
    // else from where the line will be once loaded.
    double Position = FAnchor.Position;
    if (FLoop->Corrector->LocalTimeOf(Position) < At)
        Position = FLoop->Corrector->PositionAt(At + FMargin);
    Report(TPlayState::Transitioning);
    SetStatus(tr("Starting in step with the group"));
    FPhase = TPhase::Loading;
    FLoadedAt = Position;
    FPlayer->LoadPaused(FAnchor.Url, Position);
}

void TRoomSync::StartWhenDue() {
    qint64 StartAt = FLoop->Corrector->LocalTimeOf(FLoadedAt);
    if (StartAt < Now()) {
        // Loading took longer than the margin: aim further ahead.
        if (FMargin < MaxMargin) {
            FMargin *= 2;
            Prepare();
            return;
        }
        StartAt = Now();
    }
    if (!FFaultDone && FConfig.StartFault > 0) {
        FFaultDone = true;
        StartAt += FConfig.StartFault;
    }
    FPhase = TPhase::Waiting;
    FLoop->Start.Start(StartAt, [this](qint64 RanAt) {
        FPhase = TPhase::Playing;
        FPlayer->Play();
        FLoop->Corrector->Started(RanAt);
        FLoop->Reader.start();
        SetStatus(tr("Playing in step with the group"));
    });
}

void TRoomSync::OnPlayerState(TPlayState State) {
    if (FRole == TRoomRole::Alone) {
        FReported = State;
        Q_EMIT PlayStateChange(State);
        return;
    }
    switch (FPhase) {
    case TPhase::Loading:
        if (State == TPlayState::Paused) {
            if (FAnchor.Play == TGroupPlay::Playing) {
                StartWhenDue();
            } else {
                FPhase = TPhase::Idle;
                FLoadedAt = FAnchor.Position;
            }
        } else if (State != TPlayState::Transitioning) {
            // It cannot be played here.
            FPhase = TPhase::Idle;
            Report(State);
        }
        return;
    case TPhase::Waiting:
        return;
    case TPhase::Playing:
        if (State == TPlayState::MediaEnded || State == TPlayState::Stopped ||
            State == TPlayState::Ready) {
            Halt();
            if (State == TPlayState::MediaEnded && FRole == TRoomRole::Follower)
                Q_EMIT TrackEnded();
        }
        if (State != TPlayState::Paused) // the pause of a re-anchor
            Report(State);
        return;
    case TPhase::Idle:
        if (State != TPlayState::Paused && State != TPlayState::Transitioning)
            Report(State);
        return;
    }
}

void TRoomSync::OnNextStarted(const QByteArray &URL) {
    if (FRole != TRoomRole::Alone && FPhase == TPhase::Playing) {
        std::optional<TGroupAnchor> Joined = std::exchange(FPendingJoin, std::nullopt);
        FLoop->PendingJoin.stop();
        if (!Joined || Joined->Url != URL)
            Joined = JoinAnchor(URL);
        FTrackDuration = 0;
        if (Joined) {
            if (FRole == TRoomRole::Leader)
                Joined->Serial = FAnchor.Serial + 1;
            FAnchor = *Joined;
            FLoop->Corrector->Rebase({FAnchor.GroupTime, FAnchor.Position});
            if (FRole == TRoomRole::Leader)
                Q_EMIT AnchorChanged(FAnchor);
        } else if (FRole == TRoomRole::Leader) {
            // No line to continue (the track's length was never known): start it afresh.
            Publish({0, URL, TGroupPlay::Playing, 0, Now() + FConfig.LeadTime});
        } else {
            Halt(); // plays on uncorrected until the leader's anchor comes
        }
    }
    Q_EMIT NextStarted(URL);
}

void TRoomSync::ReadPosition() {
    const qint64 Before = Now();
    const std::optional<double> Pts = FPlayer->AudioPts();
    const qint64 At = Before + (Now() - Before) / 2;
    if (!Pts)
        return;
    if (const double Duration = FPlayer->Duration(); Duration > 0)
        FTrackDuration = Duration;
    if (FLoop->Trace) {
        FLoop->Trace->write(QByteArray::number(FLoop->Clock->ToGroup(At)) + ' ' +
                            QByteArray::number(*Pts, 'f', 6) + '\n');
        FLoop->Trace->flush();
    }
    const TSyncCorrector::TAction Action = FLoop->Corrector->AddReading({At, *Pts});
    if (FConfig.Correct && Action.Speed != FLoop->Speed) {
        FLoop->Speed = Action.Speed;
        FPlayer->SetSpeed(Action.Speed);
    }
    if (Action.ReAnchor) {
        FLoop->Reader.stop();
        FPlayer->Pause();
        SetStatus(tr("Catching up with the group"));
        FMargin = FConfig.LeadTime;
        Prepare();
    }
}

void TRoomSync::Halt() {
    FLoop->Start.Cancel();
    FLoop->Reader.stop();
    FLoop->ClockWait.stop();
    FLoop->PendingJoin.stop();
    FPendingJoin.reset();
    FPhase = TPhase::Idle;
    if (FRole == TRoomRole::Alone && FLoop->Speed != 1) {
        FLoop->Speed = 1;
        FPlayer->SetSpeed(1);
    }
}

void TRoomSync::Report(TPlayState State) {
    if (State == FReported)
        return;
    FReported = State;
    Q_EMIT PlayStateChange(State);
}

void TRoomSync::SetStatus(const QString &Text) {
    if (Text == FStatus)
        return;
    FStatus = Text;
    Q_EMIT StatusChanged(Text);
}
