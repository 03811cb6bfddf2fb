#pragma once

#include "SearchIndex.h"
#include "TagCache.h"

#include <QByteArrayList>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QThreadPool>

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
    // Asks about every local file again; only those whose stamp changed are read.
    void Rescan();

    int Count() const { return int(FRows.size()); }
    const TTrackTags &Tags(int Row) const { return FRows.at(Row).Tags; }
    TRowTagState State(int Row) const { return FRows.at(Row).State; }
    // Every row's tags and source, in row order: what a TAlbumIndex is made from.
    QList<TTrackTags> AllTags() const;
    const QByteArrayList &Sources() const { return FSources; }
    // The rows in which every word of Query is found (title, artists, album, album artist,
    // file name), ascending.
    QList<int> Find(QStringView Query) { return FIndex.Find(Query); }
    // Files answered in the current scan, of how many asked.
    int Done() const { return FDone; }
    int Total() const { return FTotal; }

Q_SIGNALS:
    // These rows' tags or states changed.
    void RowsChanged(const QList<int> &Rows);
    void ScanProgress(int Done, int Total);
    // Every file asked about has been answered and the cache saved.
    void ScanFinished();
    void ScanFailed(const QString &Reason);

private:
    struct TRow {
        TTrackTags Tags;
        TRowTagState State = TRowTagState::Unknown;
    };

    void Ask(const QByteArrayList &Paths);
    void Apply(const QList<TFileTags> &Batch);
    void Finish();
    void SaveCache();
    QByteArray RowText(int Row) const;

    TTagScanner *FScanner;
    QString FCacheFile;
    TTagCache FCache;
    bool FCacheLoaded = false;
    QByteArrayList FSources;
    QList<TRow> FRows;
    QHash<QByteArray, QList<int>> FRowsOf;
    // Files asked about since the last rescan (answered or not).
    QSet<QByteArray> FAsked;
    TSearchIndex FIndex;
    int FDone = 0;
    int FTotal = 0;
    int FUnsaved = 0;
    // Writes the cache off the GUI thread, one write at a time, in order.
    QThreadPool FSaver;
};
