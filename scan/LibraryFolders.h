#pragma once

#include <QByteArrayList>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>

class QSocketNotifier;
class TFolderScan;
class TLibraryTags;
class TMusicLibrary;

// Keeps the library in step with the user's library folders: their audio files are walked
// into the library at start, and the kernel's file notifications (inotify) bring files added
// later; files changed or removed there are asked about again, so the tags follow and a gone
// file's row is greyed. Nothing is ever removed from the library here. When the system's
// watch limit is reached, the folders past it are kept in step only by the walk at start.
class TLibraryFolders : public QObject {
    Q_OBJECT
public:
    // Library: where found files go (it outlives this object).
    explicit TLibraryFolders(TMusicLibrary &Library, QObject *Parent = nullptr);
    ~TLibraryFolders() override;

    // Where changed files are read again (not owned; none: they are only added).
    void SetTags(TLibraryTags *Tags);
    // The folders to follow; each is walked (again) and watched.
    void SetFolders(const QByteArrayList &Folders);
    const QByteArrayList &Folders() const { return FFolders; }
    // Whether the watch limit stopped some folder from being watched.
    bool WatchLimitReached() const { return FLimitReached; }
    // Folders watched now.
    int Watched() const { return int(FWatches.size()); }
    // How long (ms) changes are gathered before they are applied.
    void SetSettleDelay(int Ms) { FSettle.setInterval(Ms); }

    // [Library] Folders: folders separated by ";".
    static QByteArrayList ParseFolders(const QByteArray &Value);
    static QByteArray FoldersValue(const QByteArrayList &Folders);

Q_SIGNALS:
    // Files went into the library (it is to be saved).
    void Added(int Count);
    // The watch limit was reached: files added later to some folders show at the next start.
    void WatchLimitHit();
    // A walk of the folders ended.
    void WalkFinished();

private:
    void Watch(const QByteArrayList &Folders);
    // Stops watching Folder and the folders under it.
    void Unwatch(const QByteArray &Folder);
    void ReadEvents();
    // Adds the new files gathered and has the changed ones read again.
    void Apply();
    bool InFolders(const QByteArray &Path) const;

    TMusicLibrary &FLibrary;
    QPointer<TLibraryTags> FTags;
    TFolderScan *FScan = nullptr;
    QByteArrayList FFolders;
    int FFd = -1;
    QSocketNotifier *FNotifier = nullptr;
    QHash<int, QByteArray> FWatches; // watch descriptor -> folder
    QSet<QByteArray> FWatchedFolders;
    bool FLimitReached = false;
    QSet<QByteArray> FChanged; // files created, written, moved or removed
    QByteArrayList FNewFolders;
    QTimer FSettle;
};
