#include "LibraryListing.h"

#include <numeric>

namespace {

// Per album, whether it holds a hit.
QList<bool> AlbumsHit(const TAlbumIndex &Index, const TSearchHits &Hits) {
    QList<bool> Hit(Index.Albums().size(), !Hits);
    if (Hits)
        for (const int Row : *Hits)
            if (Row >= 0 && Row < Index.RowCount())
                Hit[Index.AlbumOf(Row)] = true;
    return Hit;
}

} // namespace

QList<int> ListedRows(const TAlbumIndex *Index, int Count, const TSearchHits &Hits,
                      const TListingChoice &Choice) {
    if (!Index || !Choice.NeedsAlbums()) {
        if (Hits)
            return *Hits;
        QList<int> All(Count);
        std::iota(All.begin(), All.end(), 0);
        return All;
    }
    QList<int> Rows;
    if (Choice.Album >= 0 && Choice.Album < Index->Albums().size()) {
        Rows = Index->Albums()[Choice.Album].Rows;
    } else if (Choice.Artist >= 0 && Choice.Artist < Index->Artists().size()) {
        for (const int Album : Index->Artists()[Choice.Artist].Albums)
            Rows += Index->Albums()[Album].Rows;
    } else {
        Rows = Hits ? *Hits : Index->Order(TLibraryColumn::Album); // sorted below
    }
    if (Hits && (Choice.Album >= 0 || Choice.Artist >= 0)) {
        QList<bool> Hit(Index->RowCount(), false);
        for (const int Row : *Hits)
            if (Row >= 0 && Row < Index->RowCount())
                Hit[Row] = true;
        Rows.removeIf([&](int Row) { return !Hit[Row]; });
    }
    // A browsed artist's or album's rows come in album order already.
    if (Choice.SortColumn >= 0 && Choice.SortColumn < LibraryColumnCount)
        return Index->Sorted(Rows, TLibraryColumn(Choice.SortColumn), Choice.Order);
    return Rows;
}

QList<int> ListedArtists(const TAlbumIndex &Index, const TSearchHits &Hits) {
    const QList<bool> Hit = AlbumsHit(Index, Hits);
    QList<int> Artists;
    for (int Artist = 0; Artist < int(Index.Artists().size()); ++Artist)
        for (const int Album : Index.Artists()[Artist].Albums)
            if (Hit[Album]) {
                Artists.append(Artist);
                break;
            }
    return Artists;
}

QList<int> ListedAlbums(const TAlbumIndex &Index, const TSearchHits &Hits, int Artist) {
    const QList<bool> Hit = AlbumsHit(Index, Hits);
    QList<int> Albums;
    if (Artist >= 0 && Artist < Index.Artists().size()) {
        for (const int Album : Index.Artists()[Artist].Albums)
            if (Hit[Album])
                Albums.append(Album);
        return Albums;
    }
    for (int Album = 0; Album < int(Hit.size()); ++Album)
        if (Hit[Album])
            Albums.append(Album);
    return Albums;
}
