#include "LibraryListing.h"

#include "TrackTime.h"

#include <algorithm>
#include <numeric>

namespace {

// An artist's own albums and those holding tracks of theirs, in album order.
QList<int> ArtistAlbums(const TAlbumArtist &Artist) {
    QList<int> Albums = Artist.Albums + Artist.Guest;
    std::sort(Albums.begin(), Albums.end());
    return Albums;
}

// Whether any of Rows is a hit.
bool AnyHit(const QList<int> &Rows, const QList<bool> &RowHit) {
    return std::any_of(Rows.cbegin(), Rows.cend(),
                       [&](int Row) { return Row >= 0 && Row < RowHit.size() && RowHit[Row]; });
}

QList<bool> RowsHit(const TAlbumIndex &Index, const TSearchHits &Hits) {
    QList<bool> Hit(Hits ? Index.RowCount() : 0, false);
    if (Hits)
        for (const int Row : *Hits)
            if (Row >= 0 && Row < Index.RowCount())
                Hit[Row] = true;
    return Hit;
}

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
    const TAlbumArtist *Artist = Choice.Artist >= 0 && Choice.Artist < Index->Artists().size()
                                     ? &Index->Artists()[Choice.Artist]
                                     : nullptr;
    // The artist's rows of an album: all of an own album's, their own of another's.
    const auto RowsOf = [&](int Album) {
        const qsizetype Guest = Artist ? Artist->Guest.indexOf(Album) : -1;
        return Guest >= 0 ? Artist->GuestRows[Guest] : Index->Albums()[Album].Rows;
    };
    if (Choice.Album >= 0 && Choice.Album < Index->Albums().size()) {
        Rows = RowsOf(Choice.Album);
    } else if (Artist) {
        for (const int Album : ArtistAlbums(*Artist))
            Rows += RowsOf(Album);
    } else {
        Rows = Hits ? *Hits : Index->AlbumOrder(); // sorted below
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
    const QList<bool> RowHit = RowsHit(Index, Hits);
    QList<int> Artists;
    for (int Artist = 0; Artist < int(Index.Artists().size()); ++Artist) {
        const TAlbumArtist &A = Index.Artists()[Artist];
        bool Listed =
            std::any_of(A.Albums.cbegin(), A.Albums.cend(), [&](int Al) { return Hit[Al]; });
        for (const QList<int> &Rows : A.GuestRows)
            Listed = Listed || !Hits || AnyHit(Rows, RowHit);
        if (Listed)
            Artists.append(Artist);
    }
    return Artists;
}

QList<int> ListedAlbums(const TAlbumIndex &Index, const TSearchHits &Hits, int Artist) {
    const QList<bool> Hit = AlbumsHit(Index, Hits);
    QList<int> Albums;
    if (Artist >= 0 && Artist < Index.Artists().size()) {
        const TAlbumArtist &A = Index.Artists()[Artist];
        const QList<bool> RowHit = RowsHit(Index, Hits);
        for (const int Album : ArtistAlbums(A)) {
            const qsizetype Guest = A.Guest.indexOf(Album);
            if (Guest >= 0 ? !Hits || AnyHit(A.GuestRows[Guest], RowHit) : Hit[Album])
                Albums.append(Album);
        }
        return Albums;
    }
    for (int Album = 0; Album < int(Hit.size()); ++Album)
        if (Hit[Album])
            Albums.append(Album);
    return Albums;
}

QString ListingSummary(int Shown, int Total, qint64 DurationMs) {
    const QString Length = FormatTrackTime(double(DurationMs) / 1000);
    const QString Tracks =
        Total == 1 ? QStringLiteral("1 track") : QStringLiteral("%1 tracks").arg(Total);
    return (Shown == Total ? Tracks : QStringLiteral("%1 of %2").arg(Shown).arg(Tracks)) +
           QStringLiteral(", ") + Length;
}
