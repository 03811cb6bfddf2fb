#include "LibraryTags.h"

#include "MusicLibrary.h"
#include "SearchFold.h"
#include "TagScanner.h"

namespace {

// A long first scan keeps what it read so far this often (answers), should the program end early.
constexpr int SaveEvery = 20000;

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
}

TLibraryTags::~TLibraryTags() {
    FSaver.waitForDone();
}

void TLibraryTags::SetSources(const QByteArrayList &Sources) {
    if (!FCacheLoaded) {
        FCache.Load(FCacheFile);
        FCacheLoaded = true;
    }
    FSources = Sources;
    FRows.clear();
    FRows.resize(Sources.size());
    FRowsOf.clear();
    QByteArrayList Texts, Unknown;
    Texts.reserve(Sources.size());
    for (int Row = 0; Row < int(Sources.size()); ++Row) {
        const QByteArray &Source = Sources[Row];
        TRow &R = FRows[Row];
        if (!IsLocal(Source)) {
            R.State = TRowTagState::Remote;
        } else if (const TFileTags *Entry = FCache.Find(Source)) {
            R.Tags = Entry->Tags;
            R.State =
                Entry->Status == TTagStatus::Read ? TRowTagState::Tagged : TRowTagState::Unreadable;
        } else if (!FAsked.contains(Source)) {
            Unknown.append(Source);
        }
        FRowsOf[Source].append(Row);
        Texts.append(RowText(Row));
    }
    FIndex.SetRows(Texts);
    Ask(Unknown);
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

void TLibraryTags::Apply(const QList<TFileTags> &Batch) {
    QList<int> Changed;
    for (const TFileTags &Entry : Batch) {
        ++FDone;
        ++FUnsaved;
        FCache.Put(Entry);
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
    if (FUnsaved >= SaveEvery)
        SaveCache();
    if (!Changed.isEmpty())
        Q_EMIT RowsChanged(Changed);
    Q_EMIT ScanProgress(FDone, FTotal);
}

void TLibraryTags::Finish() {
    // Entries of files no longer in the library go; a missing file's stay for its return.
    FCache.KeepOnly(QSet<QByteArray>(FSources.cbegin(), FSources.cend()));
    SaveCache();
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

QList<TTrackTags> TLibraryTags::AllTags() const {
    QList<TTrackTags> Tags;
    Tags.reserve(FRows.size());
    for (const TRow &R : FRows)
        Tags.append(R.Tags);
    return Tags;
}

QByteArray TLibraryTags::RowText(int Row) const {
    return SearchRowText(FRows[Row].Tags, TMusicLibrary::DisplayName(FSources[Row]));
}
