#pragma once

#include "MpdSong.h"

#include <QByteArrayList>

#include <functional>
#include <optional>

// What "stats" says about the library.
struct TMpdLibraryStats {
    qint64 Artists = 0;
    qint64 Albums = 0;
    qint64 Songs = 0;
    qint64 PlaytimeSeconds = 0; // of every song together
    qint64 UpdatedAt = 0;       // seconds since the epoch of the last scan; 0: unknown
};

// What the door asks of parts that live elsewhere (the library, the ReplayGain setting). The
// wiring sets them; each one left empty has the stated default.
struct TMpdHooks {
    // The song a queue row plays, when its URL is one of this copy's library files as its
    // media server serves it; nullopt otherwise (the row is then described by its URL).
    std::function<std::optional<TMpdSong>(const QByteArray &URL)> SongForURL;
    // The track URLs that "add" queues for a library URI (a file, or a folder with all below
    // it, in library order); nullopt when the URI names nothing in the library. Default:
    // nothing is a library URI.
    std::function<std::optional<QByteArrayList>(const QByteArray &URI)> ResolveURI;
    // The library's counts; default: counted from the queue.
    std::function<TMpdLibraryStats()> LibraryStats;
    // The number of the library rescan under way ("updating_db" in "status"); 0 when none.
    std::function<int()> UpdatingJob;
    // "off", "track", "album" or "auto"; default "off".
    std::function<QByteArray()> ReplayGainMode;
    // Sets the mode; false when refused. Default: only "off" is taken.
    std::function<bool(const QByteArray &Mode)> SetReplayGainMode;
};
