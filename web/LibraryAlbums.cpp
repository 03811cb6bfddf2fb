// The library by artist and album for the phone page, grouped as the desktop's page groups it.
#include "LibraryAnswer.h"

#include "LibraryListing.h"
#include "ListPages.h"
#include "SearchFold.h"

const TAlbumIndex &TLibraryAnswer::Grouped() const {
    std::call_once(FGrouped, [this] {
        if (FAlbums.RowCount() == FRows.size())
            return; // as the desktop made it for these rows
        QList<TTrackTags> Tags = FTags;
        Tags.resize(FRows.size());
        QByteArrayList Sources;
        Sources.reserve(FRows.size());
        for (const TLibraryEntry &Entry : FRows)
            Sources.append(Entry.Source);
        FAlbums = TAlbumIndex(Tags, Sources);
    });
    return FAlbums;
}

TSearchHits TLibraryAnswer::Hits(const QByteArray &Query) const {
    if (SearchWords(QString::fromUtf8(Query)).isEmpty())
        return std::nullopt;
    return Matching(Query);
}

QByteArray TLibraryAnswer::ArtistsPage(const QByteArray &Query, qsizetype From,
                                       qsizetype Count) const {
    const TAlbumIndex &Index = Grouped();
    const QList<int> Shown = ListedArtists(Index, Hits(Query));
    return Envelope("artists", Shown.size(), From, Count, [&](qsizetype I) {
        const TAlbumArtist &A = Index.Artists()[Shown[I]];
        return '[' + QByteArray::number(Shown[I]) + ',' + JsonText(A.Name.toUtf8()) + ',' +
               QByteArray::number(A.Albums.size()) + ']';
    });
}

QByteArray TLibraryAnswer::AlbumsPage(int Artist, const QByteArray &Query, qsizetype From,
                                      qsizetype Count) const {
    const TAlbumIndex &Index = Grouped();
    const QList<int> Shown = ListedAlbums(Index, Hits(Query), Artist);
    return Envelope("albums", Shown.size(), From, Count, [&](qsizetype I) {
        const TAlbum &A = Index.Albums()[Shown[I]];
        return '[' + QByteArray::number(Shown[I]) + ',' + JsonText(A.Title.toUtf8()) + ',' +
               JsonText(A.Artist.toUtf8()) + ',' + JsonText(A.CoverHash) + ',' +
               QByteArray::number(A.Rows.size()) + ',' + QByteArray::number(A.Year) + ']';
    });
}

QList<int> TLibraryAnswer::AlbumRows(int Album) const {
    const TAlbumIndex &Index = Grouped();
    return Album >= 0 && Album < int(Index.Albums().size()) ? Index.Albums()[Album].Rows
                                                            : QList<int>();
}

QByteArray TLibraryAnswer::AlbumPage(int Album, qsizetype From, qsizetype Count) const {
    const QList<int> Rows = AlbumRows(Album);
    return Envelope("tracks", Rows.size(), From, Count,
                    [&](qsizetype I) { return RowJson(Rows[I]); });
}
