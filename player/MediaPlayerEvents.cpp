// The libmpv adapter's events: mpv's thread wakes the GUI thread, which drains the events and
// turns them into the component's state.
#include "MediaPlayer.h"

#include "AsciiText.h"
#include "MediaPlayerNames.h"

#include <mpv/client.h>

#include <algorithm>

using namespace MpvNames;

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
        for (const auto &[Entry, URL] : std::as_const(FQueued))
            if (Data && Entry == Data->playlist_entry_id && FWantedEntry > 0) {
                PromoteNext(Entry, URL);
                return;
            }
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
            // With a next track queued mpv goes straight on to it: no end to report. Should it
            // go idle instead, the track stopped.
            if (FNextEntry == 0)
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
    } else if (Tag >= TagNextBase && Event.event_id == MPV_EVENT_COMMAND_REPLY) {
        if (Tag - TagNextBase != FNextSeq || FNextEntry != -1)
            return; // replaced, or the loaded track changed
        // Without an id the entry cannot be told apart: the track ends with a stop instead.
        FNextEntry = Event.error < 0 ? 0 : ReplyEntryId(Event);
        if (FNextEntry > 0)
            FQueued.append({FNextEntry, FNextURL});
        // Older ones left mpv's list (playlist-clear) before they could start.
        while (FQueued.size() > 2)
            FQueued.removeFirst();
    } else if (Tag >= TagLoadBase && Event.event_id == MPV_EVENT_COMMAND_REPLY) {
        if (Tag - TagLoadBase != FLoadSeq || FWantedEntry != -1)
            return; // a later SetURL or Stop took over
        if (Event.error < 0) {
            FWantedEntry = 0;
            SetState(TPlayState::Ready);
            return;
        }
        // Without an id in the reply, follow the next file mpv starts.
        FWantedEntry = std::max<qint64>(1, ReplyEntryId(Event));
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

void TMediaPlayer::PromoteNext(qint64 Entry, const QByteArray &URL) {
    FWantedEntry = Entry;
    FURL = URL;
    FActive = true;
    FEnd = TEndReason::None;
    ForgetMedia();
    // Until mpv reports the new track's position. Its duration is kept: mpv says nothing when
    // the new one is the same.
    FTimePos = 0;
    FQueued.removeIf([Entry](const auto &Queued) { return Queued.first <= Entry; });
    if (Entry == FNextEntry) {
        FNextEntry = 0;
        FNextURL.clear(); // taken: whoever queued it says what follows now
    }
    Q_EMIT NextStarted(URL);
}

void TMediaPlayer::ForgetMedia() {
    // The cached properties stay: they mirror mpv, which only reports changes.
    FHasMedia = false;
    FRestarted = false;
}
