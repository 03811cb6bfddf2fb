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

inline int ClampVolume(double Value) {
    if (!std::isfinite(Value))
        return 0;
    return int(std::lround(std::clamp(Value, 0.0, 100.0)));
}

inline QString NodeString(const mpv_node &Node) {
    return Node.format == MPV_FORMAT_STRING ? QString::fromUtf8(Node.u.string) : QString();
}

} // namespace MpvNames
