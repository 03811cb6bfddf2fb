#pragma once

#include "AlbumIndex.h"
#include "CoverPicture.h"
#include "SearchIndex.h"
#include "TagCache.h"
#include "TextPool.h"

#include <QByteArrayList>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <memory>

class TMusicLibrary;
class TTagScanner;

// Where a row's tags come from.
enum class TRowTagState : quint8 {
    Unknown,    // a file not read yet
    Tagged,     // read (the tags may be empty: the row shows its file name)
    Unreadable, // the reader failed on it
    Missing,    // no file at the last scan; the row keeps the tags last known
    Remote,     // an http row: never read, shown as today
};

// The tags of the library's rows for the pages: what the cache knows at once, then what the
// scanner reads, and the search over rows. The library's file stays the list of rows; nothing
// here adds or removes one.
class TLibraryTags : public QObject {
    Q_OBJECT
public:
    // Scanner reads the files (not owned); CacheFile keeps the tags between runs.
    TLibraryTags(TTagScanner *Scanner, const QString &CacheFile, QObject *Parent = nullptr);
    // Waits for the cache's last write.
    ~TLibraryTags() override;

    // The library's sources in row order. Rows get what the cache knows at once; files the
    // cache does not know are read.
    void SetSources(const QByteArrayList &Sources);
    // SetSources made off the GUI thread (the first one loads the cache there too): the rows
    // stay as they are until RowsReset. A later call replaces one still being made.
    void UpdateSources(const QByteArrayList &Sources);
    // Follows Library's rows from now on (UpdateSources after its changes, once per event
    // loop turn, or once the job being made is done).
    void Follow(const TMusicLibrary &Library);
    // Whether the rows are those last asked for (no UpdateSources is being made).
    bool InStep() const { return FPendingJob == 0; }
    // Counts the times the rows were replaced.
    int RowsVersion() const { return FRowsVersion; }
    // Asks about every local file again; only those whose stamp changed are read.
    void Rescan();
    // Asks about these files again, even those asked about in this scan.
    void Recheck(const QByteArrayList &Paths);

    // Which cover a track shows when it has both; takes effect with the next SetSources.
    void SetCoverSource(TCoverSource Source) { FCoverSource = Source; }
    // The rows' tags together are kept within Bytes (of text, as TagTextBytes counts): past
    // that, each further file keeps at most OverBudgetTagBytes, what a real file needs. Takes
    // effect with the next rows and answers.
    void SetTagBudget(qint64 Bytes) { FTagBudget = Bytes; }
    static constexpr qint64 DefaultTagBudget = 64 * 1024 * 1024;
    static constexpr qsizetype OverBudgetTagBytes = 512;

    int Count() const { return int(FTags.size()); }
    const QByteArray &Source(int Row) const { return FSources.at(Row); }
    const TTrackTags &Tags(int Row) const { return FTags.at(Row); }
    TRowTagState State(int Row) const { return FStates.at(Row); }
    // Every row's tags in row order, shared: a copy costs nothing until the rows change.
    const QList<TTrackTags> &AllTags() const { return FTags; }
    const QByteArrayList &Sources() const { return FSources; }
    // The first row whose source is Source, -1 when none is.
    int RowOf(const QByteArray &Source) const;
    // Artists, albums and column orders of the current rows; null until made for them (they
    // are made off the GUI thread after the rows change, AlbumsChanged tells).
    std::shared_ptr<const TAlbumIndex> Albums() const { return FAlbums; }
    // The rows in which every word of Query is found (title, artists, album, album artist,
    // file name), ascending.
    QList<int> Find(QStringView Query) { return FIndex.Find(Query); }
    // Whether the cache's entries are in memory (between scans they are let go).
    bool HoldsCache() const { return FCacheLoaded; }
    // Files answered in the current scan, of how many asked.
    int Done() const { return FDone; }
    int Total() const { return FTotal; }

Q_SIGNALS:
    // Albums() was made anew for the current rows.
    void AlbumsChanged();
    // These rows' tags or states changed.
    void RowsChanged(const QList<int> &Rows);
    // Every row was replaced (SetSources, UpdateSources).
    void RowsReset();
    void ScanProgress(int Done, int Total);
    // Every file asked about has been answered and the cache saved.
    void ScanFinished();
    void ScanFailed(const QString &Reason);
    // The cache file could not be read or written (said once a run); a bad one is replaced.
    void CacheFailed(const QString &Reason);

private:
    // Gives the heap's free pages back to the system (glibc keeps them otherwise).
    static void ReturnFreedMemory();
    // What SetSources puts in place, made from a cache on any thread.
    struct TBuilt {
        QByteArrayList Sources;
        QList<TTrackTags> Tags;
        QList<TRowTagState> States;
        QList<int> BySource;
        QHash<QByteArray, QList<int>> FolderRows;
        TSearchIndex Index;
        TTextPool Pool;
        QByteArrayList Unknown;
        qint64 TagBytes = 0;
    };
    static std::shared_ptr<TBuilt> Build(const TTagCache &Cache, const QByteArrayList &Sources,
                                         TCoverSource CoverSource, qint64 TagBudget);
    void Adopt(std::shared_ptr<TBuilt> Built);
    // Where Source's rows start in FBySource (the end, or another source's, when it has none).
    QList<int>::const_iterator FirstOf(const QByteArray &Source) const;
    // Frees Rows off the GUI thread.
    void Dispose(std::shared_ptr<TBuilt> Rows);
    // UpdateSources with the followed rows, or after the job being made.
    void FollowNow();
    // Puts Entry's result into its rows; the rows that changed are appended to Changed.
    void ApplyEntry(const TFileTags &Entry, QList<int> &Changed);
    // Makes Albums() anew off the GUI thread, one at a time.
    void MakeAlbums();
    // Has the files of Paths not asked about yet read (all of them again: Again).
    void Ask(const QByteArrayList &Paths, bool Again = false);
    void Apply(const QList<TFileTags> &Batch);
    void Finish();
    // The rest of Finish, once the cache's stale entries are known.
    void Finished();
    void SaveCache();
    void ReportCache(const QString &Problem);
    // Loads the cache now if it was let go.
    void EnsureCache();
    // Lets the cache go when the file holds all of it; gives freed memory back either way.
    void ReleaseCache();
    QByteArray RowText(int Row) const;
    // Sets the cover of the rows in Folders; adds the rows whose cover changed to Changed.
    void ChooseCovers(const QSet<QByteArray> &Folders, QList<int> &Changed);
    // Sets the cover of Rows, one folder's; appends the rows whose cover changed to Changed.
    static void ChooseFolderCover(QList<TTrackTags> &Tags, const QList<int> &Rows,
                                  TCoverSource Source, QList<int> &Changed);

    TTagScanner *FScanner;
    QString FCacheFile;
    TTagCache FCache;
    bool FCacheLoaded = false;
    // Whether the last write of the cache failed (set on the writer's thread).
    std::atomic<bool> FSaveFailed = false;
    bool FCacheReported = false;
    QByteArrayList FSources;
    // Apart from the states so that AllTags() hands out the rows' tags as they are.
    QList<TTrackTags> FTags;
    QList<TRowTagState> FStates;
    // The rows in the order of their sources (then rows): a row's source is found by halving,
    // where a table by source would cost more than the rows' tags.
    QList<int> FBySource;
    // Shares the rows' repeated texts, those scans bring too.
    TTextPool FPool;
    // The rows' tags' text (TagTextBytes), and how much of it they may hold.
    qint64 FTagBytes = 0;
    qint64 FTagBudget = DefaultTagBudget;
    // The local rows by folder: a folder's image is the cover of one album only.
    QHash<QByteArray, QList<int>> FFolderRows;
    TCoverSource FCoverSource = TCoverSource::Embedded;
    // Files asked about since the last rescan (answered or not); only the builder's jobs touch
    // it.
    QSet<QByteArray> FAsked;
    TSearchIndex FIndex;
    // Asks being made off the GUI thread, and cache writes not done yet.
    int FAsking = 0;
    int FSaving = 0;
    // Scan ends whose stale cache entries are being looked for.
    int FFinishing = 0;
    // Files read since the rows were made.
    int FReadSinceRows = 0;
    int FDone = 0;
    int FTotal = 0;
    int FUnsaved = 0;
    // Writes the cache off the GUI thread, one write at a time, in order.
    QThreadPool FSaver;
    // Makes rows and albums off the GUI thread, one job at a time.
    QThreadPool FBuilder;
    // The UpdateSources job whose result is awaited (0: none), and the last one started.
    int FPendingJob = 0;
    int FLastJob = 0;
    int FRowsVersion = 0;
    // What scans answered while a job was making rows from an older cache.
    QList<TFileTags> FLate;
    std::shared_ptr<const TAlbumIndex> FAlbums;
    bool FAlbumsRunning = false;
    bool FAlbumsWanted = false;
    // During a scan albums are made anew at most this often.
    QTimer FAlbumsDelay;
    bool FFollowQueued = false;
    QPointer<const TMusicLibrary> FFollowed;
    // The followed rows changed while a job was being made: another follows it.
    bool FFollowLate = false;
};
