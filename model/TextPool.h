#pragma once

#include "TrackTags.h"

#include <QSet>

// Makes equal texts of many tracks share one copy: an album's tracks name the same album,
// artists, genre and cover, and 100000 rows of copies are tens of megabytes. Titles, mostly
// unique, are left alone.
class TTextPool {
public:
    void Share(TTrackTags &Tags);

private:
    QSet<QString> FTexts;
    QSet<QStringList> FLists;
    QSet<QByteArray> FHashes;
};
