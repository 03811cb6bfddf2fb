#include "AlbumIndex.h"

#include "MusicLibrary.h"
#include "SearchFold.h"

#include <QHash>

#include <algorithm>
#include <numeric>

namespace {

// Texts and numbers compare with the missing ones last.
int CompareText(const QByteArray &A, const QByteArray &B) {
    if (A.isEmpty() != B.isEmpty())
        return A.isEmpty() ? 1 : -1;
    return A.compare(B);
}

int CompareNumber(qint64 A, qint64 B) {
    if ((A == 0) != (B == 0))
        return A == 0 ? 1 : -1;
    return A < B ? -1 : (A > B ? 1 : 0);
}

// The artist an album is filed under.
QString AlbumArtistOf(const TTrackTags &Tags) {
    if (!Tags.AlbumArtist.isEmpty())
        return Tags.AlbumArtist;
    if (Tags.Compilation)
        return QStringLiteral("Various Artists");
    return Tags.Artists.value(0);
}

// A track without a disc number is on the first disc.
int DiscOf(const TTrackTags &Tags) {
    return std::max(Tags.Disc, 1);
}

QList<int> AllRows(qsizetype Count) {
    QList<int> Rows(Count);
    std::iota(Rows.begin(), Rows.end(), 0);
    return Rows;
}

} // namespace

QByteArray TAlbumIndex::ArtistKey(QStringView Name) {
    QByteArray Key = SearchFold(Name).trimmed();
    if (Key.startsWith("the ") && Key.size() > 4)
        Key.remove(0, 4);
    return Key;
}

TAlbumIndex::TAlbumIndex(const QList<TTrackTags> &Tags, const QByteArrayList &Sources) {
    const qsizetype Count = std::min(Tags.size(), Sources.size());
    QByteArrayList FileKeys;
    FileKeys.reserve(Count);
    for (qsizetype Row = 0; Row < Count; ++Row)
        FileKeys.append(SearchFold(QString::fromUtf8(TMusicLibrary::DisplayName(Sources[Row]))));
    MakeAlbums(Tags, FileKeys);
    MakeArtists(Tags);
    MakeOrders(Tags, FileKeys);
}

void TAlbumIndex::MakeAlbums(const QList<TTrackTags> &Tags, const QByteArrayList &FileKeys) {
    const qsizetype Count = FileKeys.size();
    QList<TAlbum> Found;
    QHash<QByteArray, int> FoundByKey;
    for (int Row = 0; Row < Count; ++Row) {
        const TTrackTags &T = Tags[Row];
        const QString Artist = AlbumArtistOf(T);
        const QByteArray Key = SearchFold(Artist) + '\n' + SearchFold(T.Album);
        auto It = FoundByKey.constFind(Key);
        if (It == FoundByKey.cend()) {
            It = FoundByKey.insert(Key, int(Found.size()));
            Found.append({Artist, T.Album, 0, 0, {}, 1, {}});
        }
        TAlbum &Album = Found[*It];
        Album.Rows.append(Row);
        Album.Discs = std::max(Album.Discs, DiscOf(T));
        if (T.Year > 0 && (Album.Year == 0 || T.Year < Album.Year))
            Album.Year = T.Year;
    }
    for (TAlbum &Album : Found) {
        std::stable_sort(Album.Rows.begin(), Album.Rows.end(), [&](int A, int B) {
            const TTrackTags &TA = Tags[A], &TB = Tags[B];
            if (DiscOf(TA) != DiscOf(TB))
                return DiscOf(TA) < DiscOf(TB);
            if (const int C = CompareNumber(TA.Track, TB.Track))
                return C < 0;
            return FileKeys[A] < FileKeys[B];
        });
        for (const int Row : std::as_const(Album.Rows)) {
            if (!Tags[Row].CoverHash.isEmpty()) {
                Album.CoverHash = Tags[Row].CoverHash;
                break;
            }
        }
    }
    QByteArrayList ArtistKeys, TitleKeys;
    for (const TAlbum &Album : std::as_const(Found)) {
        ArtistKeys.append(ArtistKey(Album.Artist));
        TitleKeys.append(SearchFold(Album.Title));
    }
    QList<int> Order = AllRows(Found.size());
    std::stable_sort(Order.begin(), Order.end(), [&](int A, int B) {
        if (const int C = CompareText(ArtistKeys[A], ArtistKeys[B]))
            return C < 0;
        if (const int C = CompareNumber(Found[A].Year, Found[B].Year))
            return C < 0;
        return CompareText(TitleKeys[A], TitleKeys[B]) < 0;
    });
    FAlbums.clear();
    FAlbums.reserve(Found.size());
    FAlbumOf.fill(0, Count);
    for (const int Index : std::as_const(Order)) {
        for (const int Row : std::as_const(Found[Index].Rows))
            FAlbumOf[Row] = int(FAlbums.size());
        FAlbums.append(std::move(Found[Index]));
    }
}

void TAlbumIndex::MakeArtists(const QList<TTrackTags> &Tags) {
    // Albums come in artist order already; names that fold alike are one artist.
    QHash<QByteArray, int> ByKey;
    FArtists.clear();
    for (int Index = 0; Index < int(FAlbums.size()); ++Index) {
        TAlbum &Album = FAlbums[Index];
        const QByteArray Key = SearchFold(Album.Artist);
        auto It = ByKey.constFind(Key);
        if (It == ByKey.cend()) {
            It = ByKey.insert(Key, int(FArtists.size()));
            FArtists.append({Album.Artist, {}, {}, {}});
        }
        Album.ArtistIndex = *It;
        FArtists[*It].Albums.append(Index);
    }
    // A track's own artists list it too where the album is filed under another.
    const qsizetype Own = FArtists.size();
    for (int Index = 0; Index < int(FAlbums.size()); ++Index) {
        const TAlbum &Album = FAlbums[Index];
        for (const int Row : Album.Rows) {
            for (const QString &Name : Tags[Row].Artists) {
                const QByteArray Key = SearchFold(Name);
                auto It = ByKey.constFind(Key);
                if (Key.isEmpty() || (It != ByKey.cend() && *It == Album.ArtistIndex))
                    continue;
                if (It == ByKey.cend()) {
                    It = ByKey.insert(Key, int(FArtists.size()));
                    FArtists.append({Name, {}, {}, {}});
                }
                TAlbumArtist &Artist = FArtists[*It];
                if (Artist.Guest.isEmpty() || Artist.Guest.last() != Index) {
                    Artist.Guest.append(Index);
                    Artist.GuestRows.append(QList<int>());
                }
                if (Artist.GuestRows.last().isEmpty() || Artist.GuestRows.last().last() != Row)
                    Artist.GuestRows.last().append(Row);
            }
        }
    }
    if (FArtists.size() == Own)
        return;
    // Those found only on others' albums take their places by name.
    QByteArrayList Keys;
    for (const TAlbumArtist &Artist : std::as_const(FArtists))
        Keys.append(ArtistKey(Artist.Name));
    QList<int> Order = AllRows(FArtists.size());
    std::stable_sort(Order.begin(), Order.end(),
                     [&](int A, int B) { return CompareText(Keys[A], Keys[B]) < 0; });
    QList<int> NewIndex(Order.size());
    QList<TAlbumArtist> Sorted;
    Sorted.reserve(Order.size());
    for (const int Old : std::as_const(Order)) {
        NewIndex[Old] = int(Sorted.size());
        Sorted.append(std::move(FArtists[Old]));
    }
    FArtists = std::move(Sorted);
    for (TAlbum &Album : FAlbums)
        Album.ArtistIndex = NewIndex[Album.ArtistIndex];
}

void TAlbumIndex::MakeOrders(const QList<TTrackTags> &Tags, const QByteArrayList &FileKeys) {
    const qsizetype Count = FileKeys.size();
    FAlbumOrder.clear();
    FAlbumOrder.reserve(Count);
    for (const TAlbum &Album : std::as_const(FAlbums))
        FAlbumOrder += Album.Rows;
    QList<int> AlbumRank(Count);
    for (int At = 0; At < int(Count); ++At)
        AlbumRank[FAlbumOrder[At]] = At;

    const auto SortBy = [&](TLibraryColumn Column, auto Compare) {
        QList<int> &Order = FOrders[int(Column)];
        Order = AllRows(Count);
        std::stable_sort(Order.begin(), Order.end(), [&](int A, int B) {
            if (const int C = Compare(A, B))
                return C < 0;
            return AlbumRank[A] < AlbumRank[B];
        });
    };
    QByteArrayList Keys(Count);
    for (qsizetype Row = 0; Row < Count; ++Row)
        Keys[Row] = Tags[Row].Title.isEmpty() ? FileKeys[Row] : SearchFold(Tags[Row].Title);
    SortBy(TLibraryColumn::Title, [&](int A, int B) { return CompareText(Keys[A], Keys[B]); });
    for (qsizetype Row = 0; Row < Count; ++Row)
        Keys[Row] = ArtistKey(Tags[Row].Artist());
    SortBy(TLibraryColumn::Artist, [&](int A, int B) { return CompareText(Keys[A], Keys[B]); });
    SortBy(TLibraryColumn::Number, [&](int A, int B) {
        if (const int C = CompareNumber(Tags[A].Track, Tags[B].Track))
            return C;
        return CompareNumber(DiscOf(Tags[A]), DiscOf(Tags[B]));
    });
    SortBy(TLibraryColumn::Length,
           [&](int A, int B) { return CompareNumber(Tags[A].DurationMs, Tags[B].DurationMs); });
    SortBy(TLibraryColumn::File,
           [&](int A, int B) { return CompareText(FileKeys[A], FileKeys[B]); });
    SortBy(TLibraryColumn::Disc,
           [&](int A, int B) { return CompareNumber(DiscOf(Tags[A]), DiscOf(Tags[B])); });
    SortBy(TLibraryColumn::Year,
           [&](int A, int B) { return CompareNumber(Tags[A].Year, Tags[B].Year); });
    for (qsizetype Row = 0; Row < Count; ++Row)
        Keys[Row] = SearchFold(Tags[Row].Album);
    SortBy(TLibraryColumn::Album, [&](int A, int B) { return CompareText(Keys[A], Keys[B]); });
    for (qsizetype Row = 0; Row < Count; ++Row)
        Keys[Row] = SearchFold(Tags[Row].Genre);
    SortBy(TLibraryColumn::Genre, [&](int A, int B) { return CompareText(Keys[A], Keys[B]); });
}

QList<int> TAlbumIndex::Sorted(const QList<int> &Rows, TLibraryColumn Column,
                               Qt::SortOrder Direction) const {
    // Walking the whole order once beats sorting even a tenth of the library by rank.
    QList<bool> Wanted(RowCount(), false);
    for (const int Row : Rows)
        if (Row >= 0 && Row < RowCount())
            Wanted[Row] = true;
    QList<int> Out;
    Out.reserve(Rows.size());
    for (const int Row : Order(Column))
        if (Wanted[Row])
            Out.append(Row);
    if (Direction == Qt::DescendingOrder)
        std::reverse(Out.begin(), Out.end());
    return Out;
}
