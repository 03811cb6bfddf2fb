#include "LibraryTags.h"

#include "LogCategories.h"
#include "MusicLibrary.h"
#include "SearchFold.h"
#include "TagScanner.h"

#include <QPointer>

#include <algorithm>
#include <numeric>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// A long first scan keeps what it read so far this often (answers), should the program end early.
constexpr int SaveEvery = 20000;
// While tags arrive, albums are made anew at most this often (ms): each time is a pass over
// every row.
constexpr int AlbumsEveryMs = 3000;

bool IsLocal(const QByteArray &Source) {
    return Source.startsWith('/');
}

// Cuts Tags to what a real file needs when they would take the rows' tags (Total) past Budget:
// 3000 files of hostile tags would hold hundreds of megabytes otherwise.
void FitBudget(TTrackTags &Tags, qint64 Total, qint64 Budget) {
    if (Total + TagTextBytes(Tags) > Budget)
        BoundTagText(Tags, TLibraryTags::OverBudgetTagBytes);
}

} // namespace

TLibraryTags::TLibraryTags(TTagScanner *Scanner, const QString &CacheFile, QObject *Parent)
    : QObject(Parent), FScanner(Scanner), FCacheFile(CacheFile) {
    connect(FScanner, &TTagScanner::TagsRead, this, &TLibraryTags::Apply);
    connect(FScanner, &TTagScanner::Finished, this, &TLibraryTags::Finish);
    connect(FScanner, &TTagScanner::Failed, this, [this](const QString &Reason) {
        FBuilder.start([this] { FAsked.clear(); });
        Q_EMIT ScanFailed(Reason);
    });
    FSaver.setMaxThreadCount(1);
    FBuilder.setMaxThreadCount(1);
#ifdef __GLIBC__
    // Lists of 100000 rows come and go (copies of the rows, requests, search texts): mapped on
    // their own, they are given back whole when freed. Left to glibc, the bound rises to the
    // largest block freed, and after a scan the heap is strewn with holes that small blocks
    // pin: 30 MB more after a first scan of 100000 files.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
    FAlbumsDelay.setSingleShot(true);
    FAlbumsDelay.setInterval(AlbumsEveryMs);
    connect(&FAlbumsDelay, &QTimer::timeout, this, &TLibraryTags::MakeAlbums);
}

TLibraryTags::~TLibraryTags() {
    FBuilder.waitForDone();
    FSaver.waitForDone();
}

std::shared_ptr<TLibraryTags::TBuilt> TLibraryTags::Build(const TTagCache &Cache,
                                                          const QByteArrayList &Sources,
                                                          TCoverSource CoverSource,
                                                          qint64 TagBudget) {
    auto Built = std::make_shared<TBuilt>();
    Built->Sources = Sources;
    // Reserved first: growing by resize would round the size up to a power of two.
    Built->Tags.reserve(Sources.size());
    Built->Tags.resize(Sources.size());
    Built->States.resize(Sources.size(), TRowTagState::Unknown);
    QByteArrayList Texts;
    Texts.reserve(Sources.size());
    for (int Row = 0; Row < int(Sources.size()); ++Row) {
        const QByteArray &Source = Sources[Row];
        TTrackTags &Tags = Built->Tags[Row];
        TRowTagState &State = Built->States[Row];
        if (!IsLocal(Source)) {
            State = TRowTagState::Remote;
        } else if (std::optional<TFileTags> Entry = Cache.Find(Source)) {
            Tags = std::move(Entry->Tags);
            FitBudget(Tags, Built->TagBytes, TagBudget);
            Built->TagBytes += TagTextBytes(Tags);
            Built->Pool.Share(Tags);
            State =
                Entry->Status == TTagStatus::Read ? TRowTagState::Tagged : TRowTagState::Unreadable;
        } else {
            Built->Unknown.append(Source);
        }
        if (IsLocal(Source))
            Built->FolderRows[FolderOf(Source)].append(Row);
        Texts.append(SearchRowText(Tags, TMusicLibrary::DisplayName(Source)));
    }
    Built->Index.SetRows(Texts);
    Built->BySource.resize(Sources.size());
    std::iota(Built->BySource.begin(), Built->BySource.end(), 0);
    std::sort(Built->BySource.begin(), Built->BySource.end(), [&](int A, int B) {
        return Sources[A] < Sources[B] || (Sources[A] == Sources[B] && A < B);
    });
    // A pass over every row: here, off the GUI thread, rather than when the rows are taken up.
    QList<int> Unused;
    for (const QList<int> &Rows : std::as_const(Built->FolderRows)) {
        ChooseFolderCover(Built->Tags, Rows, CoverSource, Unused);
        Unused.clear();
    }
    return Built;
}

void TLibraryTags::SetSources(const QByteArrayList &Sources) {
    EnsureCache();
    FPendingJob = 0; // a job still running is outdone
    FLate.clear();
    Adopt(Build(FCache, Sources, FCoverSource, FTagBudget));
}

void TLibraryTags::UpdateSources(const QByteArrayList &Sources) {
    const int Job = FPendingJob = ++FLastJob;
    FLate.clear();
    // The copy shares the entries: the job reads them while scans here change this one.
    FBuilder.start([this, Job, Sources, Cache = FCache, Load = !FCacheLoaded, File = FCacheFile,
                    Covers = FCoverSource, Budget = FTagBudget]() mutable {
        QString Problem;
        if (Load)
            Cache.Load(File, &Problem);
        auto Built = Build(Cache, Sources, Covers, Budget);
        QMetaObject::invokeMethod(
            this, [this, Job, Load, Built, Problem, Cache = std::move(Cache)]() mutable {
                ReportCache(Problem);
                const bool Current = Job == FPendingJob;
                if (Current && Load && !FCacheLoaded) {
                    FCache = std::move(Cache);
                    FCacheLoaded = true;
                }
                // The job's copy goes off this thread: it may be all that is left of a cache read
                // in vain, or of one let go once the rows are taken up.
                FSaver.start(
                    [Old = std::exchange(Cache, TTagCache())]() mutable { Old = TTagCache(); });
                if (Current) {
                    FPendingJob = 0;
                    Adopt(std::move(Built));
                } else {
                    Dispose(std::move(Built));
                }
                if (FPendingJob == 0 && std::exchange(FFollowLate, false))
                    FollowNow();
            });
    });
}

void TLibraryTags::FollowNow() {
    if (!FFollowed)
        return;
    // One job at a time: rows that keep coming (a folder's walk) are made once it is done,
    // not once per turn, each job a pass over the whole library.
    if (FPendingJob != 0)
        FFollowLate = true;
    else
        UpdateSources(FFollowed->RowSources());
}

void TLibraryTags::Follow(const TMusicLibrary &Library) {
    FFollowed = &Library;
    const auto Changed = [this] {
        if (FFollowQueued)
            return;
        FFollowQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                FFollowQueued = false;
                FollowNow();
            },
            Qt::QueuedConnection);
    };
    for (const auto Signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(&Library, Signal, this, Changed);
    connect(&Library, &QAbstractItemModel::layoutChanged, this, Changed);
    connect(&Library, &QAbstractItemModel::modelReset, this, Changed);
    Changed();
}

void TLibraryTags::Dispose(std::shared_ptr<TBuilt> Rows) {
    // Freeing 100000 rows' texts takes longer than the window may wait.
    FBuilder.start([Rows = std::move(Rows)]() mutable {
        Rows.reset();
        ReturnFreedMemory();
    });
}

void TLibraryTags::Adopt(std::shared_ptr<TBuilt> Built) {
    const QByteArrayList Unknown = std::move(Built->Unknown);
    // The old rows go where Built was, and are freed off this thread.
    std::swap(FSources, Built->Sources);
    std::swap(FTags, Built->Tags);
    std::swap(FStates, Built->States);
    std::swap(FBySource, Built->BySource);
    std::swap(FIndex, Built->Index);
    std::swap(FFolderRows, Built->FolderRows);
    std::swap(FPool, Built->Pool);
    std::swap(FTagBytes, Built->TagBytes);
    Dispose(std::move(Built));
    ++FRowsVersion;
    // What scans answered meanwhile is newer than the cache the rows were made from.
    // The covers were chosen with the rows; only the folders of those answers need it again.
    QList<int> Changed;
    QSet<QByteArray> Folders;
    for (const TFileTags &Entry : std::as_const(FLate)) {
        ApplyEntry(Entry, Changed);
        Folders.insert(FolderOf(Entry.Path));
    }
    FLate.clear();
    ChooseCovers(Folders, Changed);
    FAlbums.reset();
    FReadSinceRows = 0;
    Q_EMIT RowsReset();
    MakeAlbums();
    Ask(Unknown);
    ReleaseCache();
}

QList<int>::const_iterator TLibraryTags::FirstOf(const QByteArray &Source) const {
    return std::lower_bound(FBySource.cbegin(), FBySource.cend(), Source,
                            [this](int Row, const QByteArray &S) { return FSources[Row] < S; });
}

int TLibraryTags::RowOf(const QByteArray &Source) const {
    const auto It = FirstOf(Source);
    return It != FBySource.cend() && FSources[*It] == Source ? *It : -1;
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
    FBuilder.start([this, Tags = FTags, Sources = FSources, Version = FRowsVersion] {
        auto Made = std::make_shared<const TAlbumIndex>(Tags, Sources);
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
    QByteArrayList Local;
    for (const QByteArray &Source : std::as_const(FSources))
        if (IsLocal(Source))
            Local.append(Source);
    Ask(Local, true);
}

void TLibraryTags::Recheck(const QByteArrayList &Paths) {
    // In order with the asks, where FAsked lives.
    FBuilder.start([this, Paths] {
        for (const QByteArray &Path : Paths)
            FAsked.remove(Path);
    });
    Ask(Paths);
}

void TLibraryTags::Ask(const QByteArrayList &Paths, bool Again) {
    if (Paths.isEmpty() && !Again)
        return;
    ++FAsking;
    // Made off this thread (100000 requests take longer than the window may wait), in order
    // with the other asks: FAsked is only touched there. The stamps come from the cache, read
    // there first when it was let go.
    FBuilder.start([this, Paths, Again, Cache = FCache, Load = !FCacheLoaded,
                    File = FCacheFile]() mutable {
        if (Again)
            FAsked.clear();
        QString Problem;
        if (Load)
            Cache.Load(File, &Problem);
        QList<TTagRequest> Requests;
        for (const QByteArray &Path : Paths) {
            const qsizetype Before = FAsked.size();
            FAsked.insert(Path);
            if (FAsked.size() > Before)
                Requests.append({Path, Cache.KnownStamp(Path)});
        }
        QMetaObject::invokeMethod(this, [this, Again, Load, Problem, Requests = std::move(Requests),
                                         Cache = std::move(Cache)]() mutable {
            --FAsking;
            ReportCache(Problem);
            if (Load && !FCacheLoaded) {
                FCache = std::move(Cache);
                FCacheLoaded = true;
            }
            FSaver.start(
                [Old = std::exchange(Cache, TTagCache())]() mutable { Old = TTagCache(); });
            if (Again) {
                FScanner->Stop();
                FDone = FTotal = 0;
            }
            if (Requests.isEmpty())
                return;
            if (FScanner->Pending() == 0)
                FDone = FTotal = 0;
            FTotal += int(Requests.size());
            FScanner->Scan(Requests);
            Q_EMIT ScanProgress(FDone, FTotal);
        });
    });
}

void TLibraryTags::ApplyEntry(const TFileTags &Entry, QList<int> &Changed) {
    auto It = FirstOf(Entry.Path);
    const auto Ours = [&] { return It != FBySource.cend() && FSources[*It] == Entry.Path; };
    TTrackTags Shared;
    if (Ours() && Entry.Status == TTagStatus::Read) {
        Shared = Entry.Tags;
        FPool.Share(Shared);
    }
    for (; Ours(); ++It) {
        const int Row = *It;
        FTagBytes -= TagTextBytes(FTags[Row]);
        switch (Entry.Status) {
        case TTagStatus::Read:
            FTags[Row] = Shared;
            FStates[Row] = TRowTagState::Tagged;
            break;
        case TTagStatus::Unreadable:
            FTags[Row] = {};
            FStates[Row] = TRowTagState::Unreadable;
            break;
        case TTagStatus::Missing:
            FStates[Row] = TRowTagState::Missing;
            break;
        case TTagStatus::Unchanged:
            break;
        }
        FTagBytes += TagTextBytes(FTags[Row]);
        if (Entry.Status == TTagStatus::Unchanged)
            continue;
        FIndex.SetRow(Row, RowText(Row));
        Changed.append(Row);
    }
}

void TLibraryTags::Apply(const QList<TFileTags> &Batch) {
    EnsureCache();
    QList<int> Changed;
    QSet<QByteArray> Folders;
    for (TFileTags Entry : Batch) {
        ++FDone;
        ++FUnsaved;
        // Cut before the cache keeps it: the cache is the rows' tags of the next run.
        if (Entry.Status == TTagStatus::Read) {
            // A file read again does not count against itself.
            const int Row = RowOf(Entry.Path);
            const qint64 Others = FTagBytes - (Row < 0 ? 0 : TagTextBytes(FTags[Row]));
            FitBudget(Entry.Tags, Others, FTagBudget);
        }
        FCache.Put(Entry);
        if (Entry.Status == TTagStatus::Read || Entry.Status == TTagStatus::Unreadable)
            ++FReadSinceRows;
        if (FPendingJob != 0)
            FLate.append(Entry);
        const qsizetype Before = Changed.size();
        ApplyEntry(Entry, Changed);
        if (Changed.size() > Before)
            Folders.insert(FolderOf(Entry.Path));
    }
    ChooseCovers(Folders, Changed);
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
    // Entries of files no longer in the library go (a missing file's stay for its return), and
    // of the files asked about only the missing ones would be asked about again (what was read
    // is in the cache now): found off this thread, 100000 paths take longer than the window
    // may wait.
    ++FFinishing;
    FBuilder.start([this, Cache = FCache, Sources = FSources, States = FStates,
                    Asked = FAsking == 0]() mutable {
        const QByteArrayList Gone =
            Cache.PathsNotIn(QSet<QByteArray>(Sources.cbegin(), Sources.cend()));
        Cache = TTagCache();
        if (Asked) {
            FAsked.clear();
            for (qsizetype Row = 0; Row < Sources.size() && Row < States.size(); ++Row)
                if (States[Row] == TRowTagState::Missing)
                    FAsked.insert(Sources[Row]);
        }
        QMetaObject::invokeMethod(this, [this, Gone] {
            --FFinishing;
            FCache.Remove(Gone);
            Finished();
        });
    });
}

void TLibraryTags::Finished() {
    SaveCache();
    if (FReadSinceRows > FTags.size() / 10 && FPendingJob == 0) {
        // Rows filled by a long scan lie scattered among the pages its answers passed through:
        // made anew from the cache, they take a fraction of them.
        UpdateSources(FSources);
    } else {
        if (FAlbumsDelay.isActive())
            MakeAlbums();
        ReleaseCache();
    }
    Q_EMIT ScanFinished();
}

QByteArray TLibraryTags::RowText(int Row) const {
    return SearchRowText(FTags[Row], TMusicLibrary::DisplayName(FSources[Row]));
}
