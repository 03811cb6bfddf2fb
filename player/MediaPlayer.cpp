#include "MediaPlayer.h"

#include "AsciiText.h"
#include "MediaPlayerNames.h"
#include "ReplayGainOptions.h"
#include "SpeakerSettings.h"
#include "TrackTime.h"

#include <mpv/client.h>

#include <algorithm>
#include <cmath>

using namespace MpvNames;

TMediaPlayer::TMediaPlayer(const TMpvOptions &ExtraOptions, QObject *Parent)
    : TMediaComponent(Parent) {
    // mpv_create() needs LC_NUMERIC "C", which main sets before any thread exists.
    FMpv = mpv_create();
    if (!FMpv)
        return;
    for (const auto &[Key, Value] : BaseMpvOptions())
        mpv_set_option_string(FMpv, Key.constData(), Value.constData());
    mpv_set_option_string(FMpv, "volume", QByteArray::number(DefaultVolume).constData());
    // Tracks join without a gap: the next one is opened ahead and decoded into the same
    // output ("weak" reopens the output only when the sample format changes).
    mpv_set_option_string(FMpv, "gapless-audio", "weak");
    mpv_set_option_string(FMpv, "prefetch-playlist", "yes");
    // Set here, not through the user's options; the user's still come after them.
    for (const auto &[Key, Value] : ReplayGainOptions(SpeakerSettings().ReplayGain()))
        mpv_set_option_string(FMpv, Key.constData(), Value.constData());
    // The user's chosen output; an option given for tests or by an expert still wins.
    if (const QByteArray &Device = SpeakerSettings().AudioDevice(); !Device.isEmpty())
        mpv_set_option_string(FMpv, "audio-device", Device.constData());
    for (const auto &[Key, Value] : ExtraOptions + UserMpvOptions())
        if (mpv_set_option_string(FMpv, Key.constData(), Value.constData()) < 0)
            qWarning("mpv refused the option %s=%s", Key.constData(), Value.constData());
    if (mpv_initialize(FMpv) < 0) {
        mpv_terminate_destroy(FMpv);
        FMpv = nullptr;
        return;
    }
    connect(&SpeakerSettings(), &TSpeakerSettings::AudioDeviceChanged, this,
            &TMediaPlayer::SetAudioDevice);
    connect(&SpeakerSettings(), &TSpeakerSettings::ReplayGainChanged, this,
            &TMediaPlayer::SetReplayGain);
    mpv_observe_property(FMpv, 0, Prop::Pause, MPV_FORMAT_FLAG);
    mpv_observe_property(FMpv, 0, Prop::PausedForCache, MPV_FORMAT_FLAG);
    mpv_observe_property(FMpv, 0, Prop::IdleActive, MPV_FORMAT_FLAG);
    mpv_observe_property(FMpv, 0, Prop::Volume, MPV_FORMAT_DOUBLE);
    mpv_observe_property(FMpv, 0, Prop::Mute, MPV_FORMAT_FLAG);
    mpv_observe_property(FMpv, 0, Prop::Duration, MPV_FORMAT_DOUBLE);
    mpv_observe_property(FMpv, 0, Prop::TimePos, MPV_FORMAT_DOUBLE);
    mpv_observe_property(FMpv, 0, Prop::MediaTitle, MPV_FORMAT_STRING);
    mpv_observe_property(FMpv, 0, Prop::Metadata, MPV_FORMAT_NODE);
    mpv_set_wakeup_callback(FMpv, &TMediaPlayer::WakeupCallback, this);
    // Events queued before the callback was set would otherwise wait for the next one.
    WakeupCallback(this);
}

TMediaPlayer::~TMediaPlayer() {
    if (!FMpv)
        return;
    // After this returns mpv no longer calls us; a drain already queued dies with us.
    mpv_set_wakeup_callback(FMpv, nullptr, nullptr);
    mpv_terminate_destroy(FMpv);
}

bool TMediaPlayer::IsPlayableURL(const QByteArray &URL) {
    return StartsWithAscii(URL, "http://") || StartsWithAscii(URL, "https://");
}

void TMediaPlayer::SetURL(const QByteArray &URL) {
    FNextURL.clear();
    Load(URL, false, 0);
}

void TMediaPlayer::SetNextURL(const QByteArray &URL) {
    const QByteArray Wanted = IsPlayableURL(URL) ? URL : QByteArray();
    if (Wanted == FNextURL && (FNextEntry != 0 || Wanted.isEmpty()))
        return;
    FNextURL = Wanted;
    AppendNext(true);
}

void TMediaPlayer::AppendNext(bool Clear) {
    FNextEntry = 0;
    // Nothing loaded: the next load appends it.
    if (!FMpv || FWantedEntry == 0)
        return;
    if (Clear)
        Command({"playlist-clear"}, TagNone);
    if (FNextURL.isEmpty())
        return;
    FNextEntry = -1;
    Command({"loadfile", FNextURL, "append"}, TagNextBase + ++FNextSeq);
}

void TMediaPlayer::Load(const QByteArray &URL, bool Paused, double Position) {
    FURL = URL;
    ++FLoadSeq;
    ForgetMedia();
    FActive = false;
    FEnd = TEndReason::None;
    FNextEntry = 0;
    FQueued.clear();
    SetState(TPlayState::Transitioning);
    if (!FMpv || !IsPlayableURL(URL)) {
        // Local paths and other schemes never reach mpv; stop whatever played before.
        if (FMpv && FWantedEntry != 0)
            Command({"stop"}, TagNone);
        FWantedEntry = 0;
        SetState(TPlayState::Ready);
        return;
    }
    // "pause" survives a reload, so every load sets it.
    FPause = Paused;
    SetFlagAsync(Prop::Pause, Paused, TagNone);
    FWantedEntry = -1;
    QList<QByteArray> Args = {"loadfile", URL, "replace"};
    if (std::isfinite(Position) && Position > 0)
        Args.append("start=" + QByteArray::number(Position, 'f', 6));
    Command(Args, TagLoadBase + FLoadSeq);
    // "replace" emptied mpv's list: the next track goes in again behind this one.
    AppendNext(false);
}

void TMediaPlayer::Play() {
    if (FActive || FWantedEntry != 0)
        SetFlagAsync(Prop::Pause, false, TagNone);
    else if (!FURL.isEmpty())
        Load(FURL, false, 0);
}

void TMediaPlayer::Pause() {
    if (FActive || FWantedEntry != 0)
        SetFlagAsync(Prop::Pause, true, TagNone);
}

void TMediaPlayer::Stop() {
    if (FMpv && (FActive || FWantedEntry != 0))
        Command({"stop"}, TagNone);
    // Events of whatever mpv still plays are ignored from here on, so the state
    // can settle now; mpv says nothing at all when it is already idle.
    FWantedEntry = 0;
    FActive = false;
    FEnd = TEndReason::None;
    FNextEntry = 0; // "stop" empties mpv's list; the next track stays wanted
    FQueued.clear();
    ForgetMedia();
    SetState(TPlayState::Stopped);
}

double TMediaPlayer::CurrentPosition() const {
    return FActive ? std::max(0.0, FTimePos) : 0.0;
}

void TMediaPlayer::SetCurrentPosition(double Seconds) {
    if (!FMpv || !FHasMedia || !std::isfinite(Seconds))
        return;
    FTimePos = std::max(0.0, Seconds);
    ++FSeekWrites;
    Command({"seek", QByteArray::number(FTimePos, 'f', 3), "absolute"}, TagSeek);
    Q_EMIT Seeked(FTimePos);
}

QString TMediaPlayer::CurrentPositionString() const {
    return FormatTrackTime(CurrentPosition());
}

void TMediaPlayer::SetVolume(int Value) {
    const int Old = FVolume;
    FVolume = ClampVolume(Value);
    if (FMpv) {
        double V = FVolume;
        ++FVolumeWrites;
        mpv_set_property_async(FMpv, TagVolume, Prop::Volume, MPV_FORMAT_DOUBLE, &V);
    }
    if (FVolume != Old)
        Q_EMIT VolumeChange(FVolume);
}

void TMediaPlayer::SetMute(bool Value) {
    FMute = Value;
    if (!FMpv)
        return;
    ++FMuteWrites;
    SetFlagAsync(Prop::Mute, Value, TagMute);
}

double TMediaPlayer::Duration() const {
    return FHasMedia && std::isfinite(FDuration) ? std::max(0.0, FDuration) : 0.0;
}

QString TMediaPlayer::MediaName() const {
    return FActive ? FTitle : QString();
}

QString TMediaPlayer::MediaAuthor() const {
    return FActive ? FArtist : QString();
}

void TMediaPlayer::Command(const QList<QByteArray> &Args, quint64 Tag) {
    if (!FMpv)
        return;
    QList<const char *> Argv;
    for (const QByteArray &A : Args)
        Argv.append(A.constData());
    Argv.append(nullptr);
    mpv_command_async(FMpv, Tag, Argv.data());
}

void TMediaPlayer::SetFlagAsync(const char *Name, bool Value, quint64 Tag) {
    if (!FMpv)
        return;
    int Flag = Value ? 1 : 0;
    mpv_set_property_async(FMpv, Tag, Name, MPV_FORMAT_FLAG, &Flag);
}
