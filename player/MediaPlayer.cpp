#include "MediaPlayer.h"

#include "AsciiText.h"
#include "SpeakerSettings.h"

#include <mpv/client.h>

#include <algorithm>
#include <cmath>

namespace {

// mpv property names.
namespace Prop {
constexpr char Pause[] = "pause";
constexpr char PausedForCache[] = "paused-for-cache";
constexpr char IdleActive[] = "idle-active";
constexpr char Volume[] = "volume";
constexpr char Mute[] = "mute";
constexpr char Duration[] = "duration";
constexpr char TimePos[] = "time-pos";
constexpr char MediaTitle[] = "media-title";
constexpr char Metadata[] = "metadata";
} // namespace Prop

// Key of the artist tag inside "metadata" (tags are matched ignoring ASCII case).
constexpr char ArtistTag[] = "artist";
// Field of loadfile's reply naming the playlist entry it created.
constexpr char EntryIdField[] = "playlist_entry_id";

// reply_userdata of asynchronous requests. Loads carry their sequence number
// above TagLoadBase.
constexpr quint64 TagNone = 0;
constexpr quint64 TagVolume = 1;
constexpr quint64 TagMute = 2;
constexpr quint64 TagSeek = 3;
constexpr quint64 TagLoadBase = quint64(1) << 40;

int ClampVolume(double Value) {
    if (!std::isfinite(Value))
        return 0;
    return int(std::lround(std::clamp(Value, 0.0, 100.0)));
}

QString NodeString(const mpv_node &Node) {
    return Node.format == MPV_FORMAT_STRING ? QString::fromUtf8(Node.u.string) : QString();
}

} // namespace

TMediaPlayer::TMediaPlayer(const TMpvOptions &ExtraOptions, QObject *Parent)
    : TMediaComponent(Parent) {
    // mpv_create() needs LC_NUMERIC "C", which main sets before any thread exists.
    FMpv = mpv_create();
    if (!FMpv)
        return;
    for (const auto &[Key, Value] : BaseMpvOptions())
        mpv_set_option_string(FMpv, Key.constData(), Value.constData());
    mpv_set_option_string(FMpv, "volume", QByteArray::number(DefaultVolume).constData());
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
    Load(URL, false, 0);
}

void TMediaPlayer::Load(const QByteArray &URL, bool Paused, double Position) {
    FURL = URL;
    ++FLoadSeq;
    ForgetMedia();
    FActive = false;
    FEnd = TEndReason::None;
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
}

void TMediaPlayer::Play() {
    if (FActive || FWantedEntry != 0)
        SetFlagAsync(Prop::Pause, false, TagNone);
    else if (!FURL.isEmpty())
        SetURL(FURL);
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
    return FormatPosition(CurrentPosition());
}

QString TMediaPlayer::FormatPosition(double Seconds) {
    const qint64 Total = std::isfinite(Seconds) && Seconds > 0 ? qint64(Seconds) : 0;
    const qint64 H = Total / 3600, M = Total / 60 % 60, S = Total % 60;
    if (H > 0)
        return QStringLiteral("%1:%2:%3")
            .arg(H)
            .arg(M, 2, 10, QLatin1Char('0'))
            .arg(S, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(M, 2, 10, QLatin1Char('0')).arg(S, 2, 10, QLatin1Char('0'));
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

void TMediaPlayer::WakeupCallback(void *Context) {
    // mpv's thread: only schedule a drain, and only one at a time.
    auto *Self = static_cast<TMediaPlayer *>(Context);
    if (!Self->FWakeupPosted.exchange(true))
        QMetaObject::invokeMethod(
            Self, [Self] { Self->DrainEvents(); }, Qt::QueuedConnection);
}

void TMediaPlayer::DrainEvents() {
    FWakeupPosted = false;
    // A slot that runs a nested event loop must not drain here: mpv's event of the
    // outer loop would become invalid. The outer loop goes on draining anyway.
    if (FDraining)
        return;
    FDraining = true;
    while (FMpv) {
        mpv_event *Event = mpv_wait_event(FMpv, 0);
        if (!Event || Event->event_id == MPV_EVENT_NONE)
            break;
        HandleEvent(*Event);
    }
    FDraining = false;
}

void TMediaPlayer::HandleEvent(const mpv_event &Event) {
    switch (Event.event_id) {
    case MPV_EVENT_START_FILE: {
        const auto *Data = static_cast<const mpv_event_start_file *>(Event.data);
        // Older entries were replaced or stopped; their events mean nothing now.
        if (FWantedEntry <= 0 || !Data || Data->playlist_entry_id < FWantedEntry)
            return;
        FWantedEntry = Data->playlist_entry_id;
        FActive = true;
        FRestarted = false;
        FEnd = TEndReason::None;
        SetState(TPlayState::Transitioning);
        return;
    }
    case MPV_EVENT_FILE_LOADED:
        if (FActive)
            FHasMedia = true;
        return;
    case MPV_EVENT_PLAYBACK_RESTART:
        if (FActive) {
            FRestarted = true;
            UpdateRunningState();
        }
        return;
    case MPV_EVENT_END_FILE: {
        const auto *Data = static_cast<const mpv_event_end_file *>(Event.data);
        if (!FActive || !Data || Data->playlist_entry_id != FWantedEntry)
            return;
        FActive = false;
        ForgetMedia();
        switch (Data->reason) {
        case MPV_END_FILE_REASON_EOF:
            FEnd = TEndReason::Eof;
            SetState(TPlayState::MediaEnded);
            break;
        case MPV_END_FILE_REASON_STOP:
        case MPV_END_FILE_REASON_QUIT:
            FEnd = TEndReason::Stop;
            break;
        default:
            // An error, or a playlist whose entries follow (then START_FILE comes
            // first); if mpv goes idle instead, nothing could be played.
            FEnd = TEndReason::Error;
            break;
        }
        return;
    }
    // idle-active may turn no and yes again between two notifications (a fast
    // failure), so mpv's own idle event counts too.
    case MPV_EVENT_IDLE:
        FIdle = true;
        break;
    case MPV_EVENT_PROPERTY_CHANGE:
        HandlePropertyChange(Event);
        break;
    case MPV_EVENT_COMMAND_REPLY:
    case MPV_EVENT_SET_PROPERTY_REPLY:
        HandleReply(Event);
        return;
    default:
        return;
    }
    // A load waiting for its reply or still running is not over.
    if (FIdle && FWantedEntry >= 0 && !FActive && FEnd != TEndReason::None) {
        const TEndReason End = FEnd;
        FEnd = TEndReason::None;
        SetState(End == TEndReason::Error ? TPlayState::Ready : TPlayState::Stopped);
    }
}

void TMediaPlayer::HandlePropertyChange(const mpv_event &Event) {
    const auto *P = static_cast<const mpv_event_property *>(Event.data);
    if (!P || !P->name)
        return;
    const QByteArray Name(P->name);
    const bool HasFlag = P->format == MPV_FORMAT_FLAG && P->data;
    const bool Flag = HasFlag && *static_cast<const int *>(P->data) != 0;
    const bool HasDouble = P->format == MPV_FORMAT_DOUBLE && P->data;
    const double Number = HasDouble ? *static_cast<const double *>(P->data) : 0.0;

    if (Name == Prop::Pause) {
        FPause = Flag;
        UpdateRunningState();
    } else if (Name == Prop::PausedForCache) {
        FPausedForCache = Flag;
        UpdateRunningState();
    } else if (Name == Prop::IdleActive) {
        FIdle = Flag;
    } else if (Name == Prop::Volume) {
        if (FVolumeWrites == 0 && HasDouble && ClampVolume(Number) != FVolume) {
            FVolume = ClampVolume(Number);
            Q_EMIT VolumeChange(FVolume);
        }
    } else if (Name == Prop::Mute) {
        if (FMuteWrites == 0 && HasFlag)
            FMute = Flag;
    } else if (Name == Prop::Duration) {
        FDuration = Number;
    } else if (Name == Prop::TimePos) {
        if (FSeekWrites == 0)
            FTimePos = Number;
    } else if (Name == Prop::MediaTitle) {
        FTitle = P->format == MPV_FORMAT_STRING && P->data
                     ? QString::fromUtf8(*static_cast<char *const *>(P->data))
                     : QString();
    } else if (Name == Prop::Metadata) {
        FArtist.clear();
        if (P->format != MPV_FORMAT_NODE || !P->data)
            return;
        const auto *Node = static_cast<const mpv_node *>(P->data);
        if (Node->format != MPV_FORMAT_NODE_MAP || !Node->u.list)
            return;
        const mpv_node_list *Map = Node->u.list;
        for (int I = 0; I < Map->num; ++I) {
            if (Map->keys[I] && SameTextAscii(Map->keys[I], ArtistTag)) {
                FArtist = NodeString(Map->values[I]);
                break;
            }
        }
    }
}

void TMediaPlayer::HandleReply(const mpv_event &Event) {
    const quint64 Tag = Event.reply_userdata;
    if (Tag == TagVolume) {
        FVolumeWrites = std::max(0, FVolumeWrites - 1);
    } else if (Tag == TagMute) {
        FMuteWrites = std::max(0, FMuteWrites - 1);
    } else if (Tag == TagSeek) {
        FSeekWrites = std::max(0, FSeekWrites - 1);
    } else if (Tag >= TagLoadBase && Event.event_id == MPV_EVENT_COMMAND_REPLY) {
        if (Tag - TagLoadBase != FLoadSeq || FWantedEntry != -1)
            return; // a later SetURL or Stop took over
        if (Event.error < 0) {
            FWantedEntry = 0;
            SetState(TPlayState::Ready);
            return;
        }
        FWantedEntry = 1; // without an id in the reply, follow the next file mpv starts
        const auto *Cmd = static_cast<const mpv_event_command *>(Event.data);
        if (Cmd && Cmd->result.format == MPV_FORMAT_NODE_MAP && Cmd->result.u.list) {
            const mpv_node_list *Map = Cmd->result.u.list;
            for (int I = 0; I < Map->num; ++I)
                if (Map->keys[I] && qstrcmp(Map->keys[I], EntryIdField) == 0 &&
                    Map->values[I].format == MPV_FORMAT_INT64)
                    FWantedEntry = Map->values[I].u.int64;
        }
    }
}

void TMediaPlayer::SetState(TPlayState NewState) {
    if (NewState == FState)
        return;
    FState = NewState;
    Q_EMIT PlayStateChange(NewState);
}

void TMediaPlayer::UpdateRunningState() {
    if (!FActive || !FRestarted)
        return;
    SetState(FPause            ? TPlayState::Paused
             : FPausedForCache ? TPlayState::Buffering
                               : TPlayState::Playing);
}

void TMediaPlayer::ForgetMedia() {
    // The cached properties stay: they mirror mpv, which only reports changes.
    FHasMedia = false;
    FRestarted = false;
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

bool MediaLibraryUsable() {
    bool Ok = false;
    if (mpv_handle *H = mpv_create()) {
        mpv_set_option_string(H, "config", "no");
        mpv_set_option_string(H, "terminal", "no");
        mpv_set_option_string(H, "idle", "yes");
        mpv_set_option_string(H, "vid", "no");
        Ok = mpv_initialize(H) >= 0;
        mpv_terminate_destroy(H);
    }
    return Ok;
}

QList<std::pair<QByteArray, QString>> TMediaPlayer::AudioDevices() const {
    QList<std::pair<QByteArray, QString>> Devices;
    mpv_node List{};
    if (!FMpv || mpv_get_property(FMpv, "audio-device-list", MPV_FORMAT_NODE, &List) < 0)
        return Devices;
    if (List.format == MPV_FORMAT_NODE_ARRAY)
        for (int I = 0; I < List.u.list->num; ++I) {
            const mpv_node &Entry = List.u.list->values[I];
            if (Entry.format != MPV_FORMAT_NODE_MAP)
                continue;
            QByteArray Name;
            QString Description;
            for (int K = 0; K < Entry.u.list->num; ++K) {
                const QByteArray Key = Entry.u.list->keys[K];
                if (Key == "name")
                    Name = NodeString(Entry.u.list->values[K]).toUtf8();
                else if (Key == "description")
                    Description = NodeString(Entry.u.list->values[K]);
            }
            if (!Name.isEmpty())
                Devices.append({Name, Description});
        }
    mpv_free_node_contents(&List);
    return Devices;
}

void TMediaPlayer::SetAudioDevice(const QByteArray &Device) {
    if (!FMpv)
        return;
    const QByteArray Name = Device.isEmpty() ? QByteArray("auto") : Device;
    const char *Value = Name.constData();
    mpv_set_property_async(FMpv, 0, "audio-device", MPV_FORMAT_STRING, &Value);
}
