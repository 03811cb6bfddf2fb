#pragma once

// Names and helpers shared by the libmpv adapter's files (MediaPlayer*.cpp); nothing else
// includes this.

#include <mpv/client.h>

#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <cmath>

namespace MpvNames {

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
// Appends of the next track carry their sequence number above this.
constexpr quint64 TagNextBase = quint64(1) << 41;

// The playlist entry a loadfile reply names; 0 when it names none.
inline qint64 ReplyEntryId(const mpv_event &Event) {
    const auto *Cmd = static_cast<const mpv_event_command *>(Event.data);
    if (!Cmd || Cmd->result.format != MPV_FORMAT_NODE_MAP || !Cmd->result.u.list)
        return 0;
    const mpv_node_list *Map = Cmd->result.u.list;
    for (int I = 0; I < Map->num; ++I)
        if (Map->keys[I] && qstrcmp(Map->keys[I], EntryIdField) == 0 &&
            Map->values[I].format == MPV_FORMAT_INT64)
            return Map->values[I].u.int64;
    return 0;
}

inline int ClampVolume(double Value) {
    if (!std::isfinite(Value))
        return 0;
    return int(std::lround(std::clamp(Value, 0.0, 100.0)));
}

inline QString NodeString(const mpv_node &Node) {
    return Node.format == MPV_FORMAT_STRING ? QString::fromUtf8(Node.u.string) : QString();
}

} // namespace MpvNames
