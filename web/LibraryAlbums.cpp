// The library by artist and album for the phone page, grouped as the desktop's page groups it.
#include "LibraryAnswer.h"

#include "ListPages.h"
#include "SearchFold.h"

const TAlbumIndex &TLibraryAnswer::Grouped() const {
    std::call_once(FGrouped, [this] {
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

QList<bool> TLibraryAnswer::AlbumsMatching(const QByteArray &Query) const {
    const TAlbumIndex &Index = Grouped();
    const bool All = SearchWords(QString::fromUtf8(Query)).isEmpty();
    QList<bool> Matched(Index.Albums().size(), All);
    if (!All)
        for (const int Row : Matching(Query))
            Matched[Index.AlbumOf(Row)] = true;
    return Matched;
}

QByteArray TLibraryAnswer::ArtistsPage(const QByteArray &Query, qsizetype From,
                                       qsizetype Count) const {
    const TAlbumIndex &Index = Grouped();
    const QList<bool> Albums = AlbumsMatching(Query);
    QList<int> Shown;
    for (int Artist = 0; Artist < int(Index.Artists().size()); ++Artist)
        for (const int Album : Index.Artists()[Artist].Albums)
            if (Albums[Album]) {
                Shown.append(Artist);
                break;
            }
    return Envelope("artists", Shown.size(), From, Count, [&](qsizetype I) {
        const TAlbumArtist &A = Index.Artists()[Shown[I]];
        return '[' + QByteArray::number(Shown[I]) + ',' + JsonText(A.Name.toUtf8()) + ',' +
               QByteArray::number(A.Albums.size()) + ']';
    });
}

QByteArray TLibraryAnswer::AlbumsPage(int Artist, const QByteArray &Query, qsizetype From,
                                      qsizetype Count) const {
    const TAlbumIndex &Index = Grouped();
    const QList<bool> Matched = AlbumsMatching(Query);
    QList<int> Shown;
    if (Artist < 0) {
        for (int Album = 0; Album < int(Matched.size()); ++Album)
            if (Matched[Album])
                Shown.append(Album);
    } else if (Artist < int(Index.Artists().size())) {
        for (const int Album : Index.Artists()[Artist].Albums)
            if (Matched[Album])
                Shown.append(Album);
    }
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
    Prepare();
    const QList<int> Rows = AlbumRows(Album);
    return Envelope("tracks", Rows.size(), From, Count,
                    [&](qsizetype I) { return FJson[Rows[I]]; });
}
