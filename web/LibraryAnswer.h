#pragma once

#include "AlbumIndex.h"
#include "LibraryListing.h"
#include "MusicLibrary.h"
#include "SearchIndex.h"
#include "TrackTags.h"

#include <QByteArray>
#include <QList>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

// One library version as the web remote answers it: made on the GUI thread when the library
// or its tags change (copies that share the library's data), read by every request on the
// server's threads and never changed. Its search texts are made once, by the first request
// that needs them, so a library that changes often costs the GUI thread nothing here; a row's
// JSON is made for the page that shows it (kept for every row, a text of control characters
// would cost six times its size). A row is named by its index (its id) and the version: no
// answer holds a local path.
class TLibraryAnswer {
public:
    // Run: what tells this run's versions from another run's (the ETag outlives the program
    // in a browser's cache). Tags: per row, or empty when none are known. Albums: made from
    // these tags already (else made here when first asked for).
    // RowsSince: the first version whose ids name these rows (later ones changed tags only).
    TLibraryAnswer(qint64 Version, qint64 Run, QList<TLibraryEntry> Rows,
                   QList<TTrackTags> Tags = {}, std::shared_ptr<const TAlbumIndex> Albums = {},
                   qint64 RowsSince = -1);

    qint64 Version() const { return FVersion; }
    // Whether ids of Version name this version's rows.
    bool SameRows(qint64 Version) const { return Version >= FRowsSince && Version <= FVersion; }
    // The ETag every answer of this version carries, quotes included.
    const QByteArray &Tag() const { return FTag; }
    int Count() const { return int(FRows.size()); }
    const TTrackTags &Tags(int Row) const;

    // The rows in which every word of Query is found as the desktop's search finds it (case
    // and accents ignored; empty: every row), in order.
    QList<int> Matching(const QByteArray &Query) const;
    // {"version","total","count","from","tracks":[track...]}: of the rows matching Query
    // ("count" of them), a page from the From-th on, at most Count rows.
    QByteArray Page(const QByteArray &Query, qsizetype From, qsizetype Count) const;

    // Artists and albums as the desktop groups them; an index names one in this version.
    // {"version","total","count","from","artists":[[index, name, albums]...]}: the artists
    // with a row matching Query.
    QByteArray ArtistsPage(const QByteArray &Query, qsizetype From, qsizetype Count) const;
    // {..."albums":[[index, title, artist, cover hash, tracks, year]...]}: the albums (of
    // Artist; -1: of every artist) with a row matching Query.
    QByteArray AlbumsPage(int Artist, const QByteArray &Query, qsizetype From,
                          qsizetype Count) const;
    // Album's rows in disc and track order (none for an index out of range), and as a page of
    // "tracks".
    QList<int> AlbumRows(int Album) const;
    QByteArray AlbumPage(int Album, qsizetype From, qsizetype Count) const;

private:
    void Prepare() const;
    // [id, title (the file name when untagged), artist, album, seconds] and, for an http row,
    // its URL.
    QByteArray RowJson(int Row) const;
    const TAlbumIndex &Grouped() const;
    // The rows matching Query; none for a blank one (every row).
    TSearchHits Hits(const QByteArray &Query) const;
    // {"count","from","total",Key:[...],"version"}: Item(i) of the Matched from From on.
    QByteArray Envelope(const char *Key, qsizetype Matched, qsizetype From, qsizetype Count,
                        const std::function<QByteArray(qsizetype)> &Item) const;

    const qint64 FVersion;
    const qint64 FRowsSince;
    const QByteArray FTag;
    const QList<TLibraryEntry> FRows;
    const QList<TTrackTags> FTags;
    mutable std::once_flag FPrepared;
    mutable TSearchIndex FIndex;
    // The last search, for the next keystroke; searches run outside the lock.
    mutable std::mutex FSearching;
    mutable std::optional<TSearchMemo> FLastSearch;
    mutable std::once_flag FGrouped;
    mutable TAlbumIndex FAlbums;
};
