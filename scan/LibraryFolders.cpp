#include "LibraryFolders.h"

#include "AudioTypes.h"
#include "FileTags.h"
#include "FolderScan.h"
#include "LibraryTags.h"
#include "MusicLibrary.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>

#include <sys/inotify.h>
#include <unistd.h>

namespace {

constexpr uint32_t FolderEvents =
    IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ATTRIB | IN_ONLYDIR;
// Changes are applied this long (ms) after the first of them: a copy of many files is one
// batch.
constexpr int SettleMs = 250;

} // namespace

TLibraryFolders::TLibraryFolders(TMusicLibrary &Library, QObject *Parent)
    : QObject(Parent), FLibrary(Library), FScan(new TFolderScan(this)) {
    FSettle.setSingleShot(true);
    FSettle.setInterval(SettleMs);
    connect(&FSettle, &QTimer::timeout, this, &TLibraryFolders::Apply);
    connect(FScan, &TFolderScan::Found, this, [this](const QByteArrayList &Paths) {
        if (const int Count = FLibrary.AddBatch(Paths))
            Q_EMIT Added(Count);
    });
    connect(FScan, &TFolderScan::Finished, this,
            [this](bool Cancelled, const QByteArrayList &Folders) {
                Watch(Folders);
                if (!Cancelled && !FScan->Running())
                    Q_EMIT WalkFinished();
            });
    FFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (FFd >= 0) {
        FNotifier = new QSocketNotifier(FFd, QSocketNotifier::Read, this);
        connect(FNotifier, &QSocketNotifier::activated, this, &TLibraryFolders::ReadEvents);
    }
}

TLibraryFolders::~TLibraryFolders() {
    delete FScan; // its thread ends before the library it fills goes
    FScan = nullptr;
    if (FFd >= 0)
        close(FFd);
}

void TLibraryFolders::SetTags(TLibraryTags *Tags) {
    FTags = Tags;
}

QByteArrayList TLibraryFolders::ParseFolders(const QByteArray &Value) {
    QByteArrayList Folders;
    for (const QByteArray &Part : Value.split(';'))
        if (const QByteArray Folder = Part.trimmed(); Folder.startsWith('/'))
            if (!Folders.contains(Folder))
                Folders.append(Folder);
    return Folders;
}

QByteArray TLibraryFolders::FoldersValue(const QByteArrayList &Folders) {
    return Folders.join(';');
}

void TLibraryFolders::SetFolders(const QByteArrayList &Folders) {
    // Folders no longer followed are no longer watched.
    for (auto It = FWatches.begin(); It != FWatches.end();) {
        const bool Kept = std::any_of(Folders.cbegin(), Folders.cend(), [&](const QByteArray &F) {
            return It.value() == F || It.value().startsWith(F + '/');
        });
        if (Kept) {
            ++It;
        } else {
            inotify_rm_watch(FFd, It.key());
            FWatchedFolders.remove(It.value());
            It = FWatches.erase(It);
        }
    }
    FFolders = Folders;
    FScan->Cancel();
    if (!Folders.isEmpty())
        FScan->Start(Folders);
}

void TLibraryFolders::Unwatch(const QByteArray &Folder) {
    for (auto It = FWatches.begin(); It != FWatches.end();) {
        if (It.value() == Folder || It.value().startsWith(Folder + '/')) {
            inotify_rm_watch(FFd, It.key());
            FWatchedFolders.remove(It.value());
            It = FWatches.erase(It);
        } else {
            ++It;
        }
    }
}

void TLibraryFolders::Watch(const QByteArrayList &Folders) {
    if (FFd < 0)
        return;
    for (const QByteArray &Folder : Folders) {
        if (FWatchedFolders.contains(Folder) || !InFolders(Folder))
            continue;
        const int Wd = inotify_add_watch(FFd, Folder.constData(), FolderEvents);
        if (Wd < 0) {
            if (errno == ENOSPC && !FLimitReached) {
                FLimitReached = true;
                Q_EMIT WatchLimitHit();
            }
            continue;
        }
        FWatches.insert(Wd, Folder);
        FWatchedFolders.insert(Folder);
    }
}

bool TLibraryFolders::InFolders(const QByteArray &Path) const {
    return std::any_of(FFolders.cbegin(), FFolders.cend(), [&](const QByteArray &F) {
        return Path == F || Path.startsWith(F.endsWith('/') ? F : F + '/');
    });
}

void TLibraryFolders::ReadEvents() {
    alignas(inotify_event) char Buffer[16384];
    for (;;) {
        const ssize_t Got = read(FFd, Buffer, sizeof Buffer);
        if (Got <= 0)
            break;
        for (ssize_t At = 0; At + ssize_t(sizeof(inotify_event)) <= Got;) {
            const auto *Event = reinterpret_cast<const inotify_event *>(Buffer + At);
            At += ssize_t(sizeof(inotify_event)) + Event->len;
            const auto Folder = FWatches.constFind(Event->wd);
            if (Event->mask & IN_IGNORED) {
                if (Folder != FWatches.cend()) {
                    FWatchedFolders.remove(*Folder);
                    FWatches.erase(Folder);
                }
                continue;
            }
            if (Folder == FWatches.cend() || Event->len == 0 || Event->name[0] == '.')
                continue;
            const QByteArray Path = *Folder + '/' + QByteArray(Event->name);
            if (Event->mask & IN_ISDIR) {
                if (Event->mask & (IN_CREATE | IN_MOVED_TO))
                    FNewFolders.append(Path);
                else if (Event->mask & IN_MOVED_FROM)
                    Unwatch(Path); // its watches would go on under the old name
            } else if (IsAcceptedAudioName(Path)) {
                FChanged.insert(Path);
            }
        }
    }
    if ((!FChanged.isEmpty() || !FNewFolders.isEmpty()) && !FSettle.isActive())
        FSettle.start();
}

void TLibraryFolders::Apply() {
    QByteArrayList Paths(FChanged.cbegin(), FChanged.cend());
    FChanged.clear();
    std::sort(Paths.begin(), Paths.end());
    QByteArrayList Known;
    if (FTags)
        for (const QByteArray &Path : std::as_const(Paths))
            if (FTags->RowOf(Path) >= 0)
                Known.append(Path);
    // New files are read once the tags follow the library; known ones are read again now.
    Paths.removeIf([](const QByteArray &Path) { return !StampOf(Path).IsValid(); });
    if (const int Count = FLibrary.AddBatch(Paths))
        Q_EMIT Added(Count);
    if (FTags && !Known.isEmpty())
        FTags->Recheck(Known);
    if (!FNewFolders.isEmpty())
        FScan->Start(std::exchange(FNewFolders, {}));
}
