#pragma once

#include "AlbumIndex.h"

#include <QList>

#include <optional>

// What the library page is asked to show: a column's order or the library's own, and the
// artist and album browsed to.
struct TListingChoice {
    // A TLibraryColumn; -1 for the library's own order.
    int SortColumn = -1;
    Qt::SortOrder Order = Qt::AscendingOrder;
    // Into TAlbumIndex::Artists() and Albums(); -1 for all.
    int Artist = -1;
    int Album = -1;

    // Whether the rows can be listed only with an album index.
    bool NeedsAlbums() const { return SortColumn >= 0 || Artist >= 0 || Album >= 0; }
};

// Columns hidden until the user shows them.
inline constexpr qint32 OptionalColumns =
    (1 << int(TLibraryColumn::Year)) | (1 << int(TLibraryColumn::Genre));
// The settings keep one bit per column that is not as by default (shown, or hidden).
inline bool LibraryColumnHidden(qint32 Bits, int Column) {
    return (((Bits ^ OptionalColumns) >> Column) & 1) != 0;
}
inline qint32 LibraryColumnBit(bool Hidden, int Column) {
    return ((Hidden ? 1 : 0) << Column) ^ (OptionalColumns & (1 << Column));
}

// The search's hits (ascending library rows), or none for a blank search: every row.
using TSearchHits = std::optional<QList<int>>;

// The library rows to show, in the order to show them: the hits (all Count rows without a
// search) of the browsed album, else of the browsed artist's albums, in the chosen column's
// order, else in album order when browsing, else in library order. Index may be null only
// when Choice does not need it.
QList<int> ListedRows(const TAlbumIndex *Index, int Count, const TSearchHits &Hits,
                      const TListingChoice &Choice);
// The status line of a listing: "12 of 316 tracks, 42:13" ("316 tracks, ..." when all show).
QString ListingSummary(int Shown, int Total, qint64 DurationMs);

// The artists with a hit, by name.
QList<int> ListedArtists(const TAlbumIndex &Index, const TSearchHits &Hits);
// The albums (of Artist unless it is -1) with a hit, in album order.
QList<int> ListedAlbums(const TAlbumIndex &Index, const TSearchHits &Hits, int Artist);
