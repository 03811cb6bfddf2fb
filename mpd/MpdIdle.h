#pragma once

#include <QByteArray>
#include <QByteArrayList>

#include <optional>

// The subsystems "idle" waits on, one bit each.
using TMpdIdleMask = quint32;
namespace MpdIdle {
inline constexpr TMpdIdleMask Database = 1u << 0;       // the library changed
inline constexpr TMpdIdleMask StoredPlaylist = 1u << 1; // a stored play list changed
inline constexpr TMpdIdleMask Playlist = 1u << 2;       // the queue changed
inline constexpr TMpdIdleMask Player = 1u << 3;         // play, pause, stop, seek, new song
inline constexpr TMpdIdleMask Mixer = 1u << 4;          // the volume changed
inline constexpr TMpdIdleMask Output = 1u << 5;         // an output was switched
inline constexpr TMpdIdleMask Options = 1u << 6;        // repeat, random, replay gain...
inline constexpr TMpdIdleMask Update = 1u << 7;         // a library update began or ended
inline constexpr TMpdIdleMask All = (1u << 8) - 1;
} // namespace MpdIdle

// The subsystems' names in the protocol, in bit order.
const QByteArrayList &MpdIdleNames();
// The bit of a name (case ignored), or nullopt for a name that is none.
std::optional<TMpdIdleMask> MpdIdleBit(const QByteArray &Name);
