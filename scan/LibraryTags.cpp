#include "LibraryTags.h"

#include "MusicLibrary.h"
#include "SearchFold.h"
#include "TagScanner.h"

#include <QPointer>

namespace {

// A long first scan keeps what it read so far this often (answers), should the program end early.
constexpr int SaveEvery = 20000;
// While tags arrive, albums are made anew at most this often (ms): each time is a pass over
// every row.
constexpr int AlbumsEveryMs = 3000;

bool IsLocal(const QByteArray &Source) {
    return Source.startsWith('/');
}

} // namespace

TLibraryTags::TLibraryTags(TTagScanner *Scanner, const QString &CacheFile, QObject *Parent)
    : QObject(Parent), FScanner(Scanner), FCacheFile(CacheFile) {
    connect(FScanner, &TTagScanner::TagsRead, this, &TLibraryTags::Apply);
    connect(FScanner, &TTagScanner::Finished, this, &TLibraryTags::Finish);
    connect(FScanner, &TTagScanner::Failed, this, [this](const QString &Reason) {
        FAsked.clear();
        Q_EMIT ScanFailed(Reason);
    });
    FSaver.setMaxThreadCount(1);
    FBuilder.setMaxThreadCount(1);
    FAlbumsDelay.setSingleShot(true);
    FAlbumsDelay.setInterval(AlbumsEveryMs);
    connect(&FAlbumsDelay, &QTimer::timeout, this, &TLibraryTags::MakeAlbums);
}

TLibraryTags::~TLibraryTags() {
    FBuilder.waitForDone();
    FSaver.waitForDone();
}

std::shared_ptr<TLibraryTags::TBuilt> TLibraryTags::Build(const TTagCache &Cache,
                                                          const QByteArrayList &Sources) {
    auto Built = std::make_shared<TBuilt>();
    Built->Sources = Sources;
    Built->Rows.resize(Sources.size());
    QByteArrayList Texts;
    Texts.reserve(Sources.size());
    for (int Row = 0; Row < int(Sources.size()); ++Row) {
        const QByteArray &Source = Sources[Row];
        TRow &R = Built->Rows[Row];
        if (!IsLocal(Source)) {
            R.State = TRowTagState::Remote;
        } else if (const TFileTags *Entry = Cache.Find(Source)) {
            R.Tags = Entry->Tags;
            R.State =
                Entry->Status == TTagStatus::Read ? TRowTagState::Tagged : TRowTagState::Unreadable;
        } else {
            Built->Unknown.append(Source);
        }
        Built->RowsOf[Source].append(Row);
        Texts.append(SearchRowText(R.Tags, TMusicLibrary::DisplayName(Source)));
    }
    Built->Index.SetRows(Texts);
    return Built;
}

void TLibraryTags::SetSources(const QByteArrayList &Sources) {
    if (!FCacheLoaded) {
        FCache.Load(FCacheFile);
        FCacheLoaded = true;
    }
    FPendingJob = 0; // a job still running is outdone
    FLate.clear();
    Adopt(*Build(FCache, Sources));
}

void TLibraryTags::UpdateSources(const QByteArrayList &Sources) {
    const int Job = FPendingJob = ++FLastJob;
    FLate.clear();
    // The copy shares the entries: the job reads them while scans here change this one.
    FBuilder.start(
        [this, Job, Sources, Cache = FCache, Load = !FCacheLoaded, File = FCacheFile]() mutable {
            if (Load)
                Cache.Load(File);
            auto Built = Build(Cache, Sources);
            QMetaObject::invokeMethod(this, [this, Job, Load, Built, Cache = std::move(Cache)] {
                if (Job != FPendingJob)
                    return;
                FPendingJob = 0;
                if (Load && !FCacheLoaded) {
                    FCache = Cache;
                    FCacheLoaded = true;
                }
                Adopt(*Built);
            });
        });
}

void TLibraryTags::Follow(const TMusicLibrary &Library) {
    const auto Changed = [this, Followed = QPointer<const TMusicLibrary>(&Library)] {
        if (FFollowQueued)
            return;
        FFollowQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this, Followed] {
                FFollowQueued = false;
                if (Followed)
                    UpdateSources(Followed->RowSources());
            },
            Qt::QueuedConnection);
    };
    for (const auto Signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(&Library, Signal, this, Changed);
    connect(&Library, &QAbstractItemModel::layoutChanged, this, Changed);
    connect(&Library, &QAbstractItemModel::modelReset, this, Changed);
    Changed();
}

void TLibraryTags::Adopt(TBuilt &Built) {
    FSources = std::move(Built.Sources);
    FRows = std::move(Built.Rows);
    FRowsOf = std::move(Built.RowsOf);
    FIndex = std::move(Built.Index);
    ++FRowsVersion;
    // What scans answered meanwhile is newer than the cache the rows were made from.
    QList<int> Changed;
    for (const TFileTags &Entry : std::as_const(FLate))
        ApplyEntry(Entry, Changed);
    FLate.clear();
    FAlbums.reset();
    Q_EMIT SourcesSet();
    MakeAlbums();
    Ask(Built.Unknown);
}

int TLibraryTags::RowOf(const QByteArray &Source) const {
    const auto It = FRowsOf.constFind(Source);
    return It == FRowsOf.cend() || It->isEmpty() ? -1 : It->front();
}

void TLibraryTags::MakeAlbums() {
    FAlbumsDelay.stop();
    if (FAlbumsRunning) {
        FAlbumsWanted = true;
        return;
    }
    FAlbumsRunning = true;
    FAlbumsWanted = false;
    // The rows are shared, not copied: a scan's next batch copies them once, if one comes.
    FBuilder.start([this, Rows = FRows, Sources = FSources, Version = FRowsVersion] {
        auto Made = std::make_shared<const TAlbumIndex>(TagsOf(Rows), Sources);
        QMetaObject::invokeMethod(this, [this, Made, Version] {
            FAlbumsRunning = false;
            // Made from rows that are no longer the current ones: the next is on its way.
            if (Version == FRowsVersion) {
                FAlbums = Made;
                Q_EMIT AlbumsChanged();
            }
            if (FAlbumsWanted)
                MakeAlbums();
        });
    });
}

void TLibraryTags::Rescan() {
    FScanner->Stop();
    FAsked.clear();
    FDone = FTotal = 0;
    QByteArrayList Local;
    for (const QByteArray &Source : std::as_const(FSources))
        if (IsLocal(Source))
            Local.append(Source);
    Ask(Local);
}

void TLibraryTags::Ask(const QByteArrayList &Paths) {
    QList<TTagRequest> Requests;
    for (const QByteArray &Path : Paths) {
        if (FAsked.contains(Path))
            continue;
        FAsked.insert(Path);
        const TFileTags *Entry = FCache.Find(Path);
        Requests.append({Path, Entry ? Entry->Stamp : TFileStamp()});
    }
    if (Requests.isEmpty())
        return;
    if (FScanner->Pending() == 0)
        FDone = FTotal = 0;
    FTotal += int(Requests.size());
    FScanner->Scan(Requests);
    Q_EMIT ScanProgress(FDone, FTotal);
}

void TLibraryTags::ApplyEntry(const TFileTags &Entry, QList<int> &Changed) {
    for (const int Row : FRowsOf.value(Entry.Path)) {
        TRow &R = FRows[Row];
        switch (Entry.Status) {
        case TTagStatus::Read:
            R.Tags = Entry.Tags;
            R.State = TRowTagState::Tagged;
            break;
        case TTagStatus::Unreadable:
            R.Tags = {};
            R.State = TRowTagState::Unreadable;
            break;
        case TTagStatus::Missing:
            R.State = TRowTagState::Missing;
            break;
        case TTagStatus::Unchanged:
            continue;
        }
        FIndex.SetRow(Row, RowText(Row));
        Changed.append(Row);
    }
}

void TLibraryTags::Apply(const QList<TFileTags> &Batch) {
    QList<int> Changed;
    for (const TFileTags &Entry : Batch) {
        ++FDone;
        ++FUnsaved;
        FCache.Put(Entry);
        if (FPendingJob != 0)
            FLate.append(Entry);
        ApplyEntry(Entry, Changed);
    }
    if (FUnsaved >= SaveEvery)
        SaveCache();
    if (!Changed.isEmpty()) {
        Q_EMIT RowsChanged(Changed);
        if (!FAlbumsDelay.isActive())
            FAlbumsDelay.start();
    }
    Q_EMIT ScanProgress(FDone, FTotal);
}

void TLibraryTags::Finish() {
    // Entries of files no longer in the library go; a missing file's stay for its return.
    FCache.KeepOnly(QSet<QByteArray>(FSources.cbegin(), FSources.cend()));
    SaveCache();
    if (FAlbumsDelay.isActive())
        MakeAlbums();
    Q_EMIT ScanFinished();
}

void TLibraryTags::SaveCache() {
    FUnsaved = 0;
    if (!FCache.IsModified())
        return;
    // The copy shares the entries until the next change here: writing 100000 entries takes
    // longer than the window may wait.
    FSaver.start([Cache = FCache, File = FCacheFile] { Cache.Save(File); });
    FCache.MarkSaved();
}

QList<TTrackTags> TLibraryTags::TagsOf(const QList<TRow> &Rows) {
    QList<TTrackTags> Tags;
    Tags.reserve(Rows.size());
    for (const TRow &R : Rows)
        Tags.append(R.Tags);
    return Tags;
}

QByteArray TLibraryTags::RowText(int Row) const {
    return SearchRowText(FRows[Row].Tags, TMusicLibrary::DisplayName(FSources[Row]));
}
