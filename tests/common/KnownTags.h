#pragma once

#include "TagCache.h"

// A tag cache file that knows Tags for each path, so that rows show them without a read.
inline bool WriteKnownTags(const QString &File, const QList<QPair<QByteArray, TTrackTags>> &Tags) {
    TTagCache Cache;
    for (const auto &[Path, Track] : Tags)
        Cache.Put({Path, {1, 1}, TTagStatus::Read, Track});
    return Cache.Save(File);
}
