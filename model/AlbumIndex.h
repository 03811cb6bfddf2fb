#pragma once

#include "TrackTags.h"

#include <QByteArrayList>
#include <QList>
#include <QString>

// The library page's columns (the settings keep them by these numbers: new ones go last).
enum class TLibraryColumn : quint8 {
    Title,
    Artist,
    Album,
    Number,
    Length,
    File,
    Disc,
    Year,
    Genre
};
inline constexpr int LibraryColumnCount = 9;

// The tracks that share an album title and an album artist: the album artist tag, else the
// compilation flag, else the track's first artist. So a compilation stays one album whoever
// plays on each track.
struct TAlbum {
    // As the album's first row spells it; empty when no track names one.
    QString Artist;
    QString Title;
    // The earliest year a track gives; 0 when none does.
    int Year = 0;
    // Into TAlbumIndex::Artists().
    int ArtistIndex = 0;
    // The picture of the first track (in Rows' order) that has one; empty when none has.
    QByteArray CoverHash;
    // The highest disc number (a track without one is on disc 1).
    int Discs = 1;
    // Library rows in disc, track, then file name order.
    QList<int> Rows;
};

struct TAlbumArtist {
    QString Name;
    // Into TAlbumIndex::Albums(), in album order.
    QList<int> Albums;
    // Albums filed under another artist (compilations) holding tracks of this one, in album
    // order, and those tracks' rows (in the album's order), one list per album.
    QList<int> Guest;
    QList<QList<int>> GuestRows;
};

// Artists, albums and the columns' orders of the library's rows, made once from a copy of the
// rows' tags (a plain value: it can be made on a worker thread and handed over). Names compare
// as the search folds them (case and accents ignored); an artist's leading "The " is ignored;
// missing texts and numbers come last.
class TAlbumIndex {
public:
    TAlbumIndex() = default;
    // Tags[i] and Sources[i] (path or URL) are library row i.
    TAlbumIndex(const QList<TTrackTags> &Tags, const QByteArrayList &Sources);

    int RowCount() const { return int(FAlbumOf.size()); }
    // By name.
    const QList<TAlbumArtist> &Artists() const { return FArtists; }
    // In album order: album artist, year, album title.
    const QList<TAlbum> &Albums() const { return FAlbums; }
    int AlbumOf(int Row) const { return FAlbumOf.at(Row); }

    // Every row in Column's ascending order (the Album column by the album's name); ties in
    // album order.
    const QList<int> &Order(TLibraryColumn Column) const { return FOrders[int(Column)]; }
    // Every row in album order: album artist, year, album, disc, track.
    const QList<int> &AlbumOrder() const { return FAlbumOrder; }
    // Rows (library rows, no repeats, any order) in Column's order; descending reverses it.
    QList<int> Sorted(const QList<int> &Rows, TLibraryColumn Column, Qt::SortOrder Order) const;

    // How an artist's name compares: folded, a leading "The " dropped.
    static QByteArray ArtistKey(QStringView Name);

private:
    void MakeAlbums(const QList<TTrackTags> &Tags, const QByteArrayList &FileKeys);
    void MakeArtists(const QList<TTrackTags> &Tags);
    void MakeOrders(const QList<TTrackTags> &Tags, const QByteArrayList &FileKeys);

    QList<TAlbumArtist> FArtists;
    QList<TAlbum> FAlbums;
    QList<int> FAlbumOf;
    QList<int> FOrders[LibraryColumnCount];
    QList<int> FAlbumOrder;
};
