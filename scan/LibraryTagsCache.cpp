#include "LibraryTags.h"

#include "LogCategories.h"
#include "TagScanner.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

// The tag cache's life: read when rows are made or files asked about, written off the GUI
// thread, and let go once the file holds all it knows.

void TLibraryTags::EnsureCache() {
    if (!FCacheLoaded) {
        QString Problem;
        FCache.Load(FCacheFile, &Problem);
        FCacheLoaded = true;
        ReportCache(Problem);
    }
}

void TLibraryTags::SaveCache() {
    FUnsaved = 0;
    if (!FCache.IsModified())
        return;
    // The copy shares the entries until the next change here: writing 100000 entries takes
    // longer than the window may wait.
    ++FSaving;
    FSaver.start([this, Cache = FCache, File = FCacheFile] {
        QString Error;
        FSaveFailed = !Cache.Save(File, &Error);
        QMetaObject::invokeMethod(this, [this, Error] {
            --FSaving;
            ReportCache(Error);
            ReleaseCache();
        });
    });
    FCache.MarkSaved();
}

void TLibraryTags::ReleaseCache() {
    // Once the file holds all the cache knows, it is read again only when rows are made or files
    // asked about: kept, its entries would be a third of the library's memory.
    if (!FCacheLoaded || FCache.IsModified() || FSaving != 0 || FSaveFailed || FPendingJob != 0 ||
        FAsking != 0 || FFinishing != 0 || FScanner->Pending() != 0)
        return;
    FCacheLoaded = false;
    FSaver.start([Old = std::exchange(FCache, TTagCache())]() mutable {
        Old = TTagCache();
        ReturnFreedMemory();
    });
}

void TLibraryTags::ReportCache(const QString &Problem) {
    if (Problem.isEmpty() || FCacheReported)
        return;
    FCacheReported = true;
    qCWarning(LogModel, "%s", qPrintable(Problem));
    Q_EMIT CacheFailed(Problem);
}

// Gives the heap's free pages back to the system: after a swap of 100000 rows or a scan, glibc
// keeps tens of megabytes freed among live blocks otherwise.
void TLibraryTags::ReturnFreedMemory() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}
