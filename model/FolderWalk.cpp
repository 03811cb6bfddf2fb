#include "FolderWalk.h"

#include "AudioTypes.h"

#include <algorithm>

#include <dirent.h>
#include <sys/stat.h>

namespace {

bool StatOf(const QByteArray &Path, struct stat &Info) {
    return stat(Path.constData(), &Info) == 0;
}

} // namespace

TFolderWalk::TFolderWalk(const QByteArrayList &Roots) {
    QByteArrayList Sorted;
    for (QByteArray Root : Roots) {
        while (Root.size() > 1 && Root.endsWith('/'))
            Root.chop(1);
        if (!Root.isEmpty())
            Sorted.append(Root == "/" ? Root : Root + '/');
    }
    std::sort(Sorted.begin(), Sorted.end());
    // Visited from the back.
    std::reverse(Sorted.begin(), Sorted.end());
    FPending = Sorted;
}

void TFolderWalk::Open(const QByteArray &Folder) {
    DIR *Dir = opendir(Folder.constData());
    if (!Dir)
        return;
    ++FFolders;
    FFoldersSeen.append(Folder.size() > 1 ? Folder.chopped(1) : Folder);
    QByteArrayList Entries;
    while (const dirent *Entry = readdir(Dir)) {
        if (Entry->d_name[0] == '.')
            continue; // ".", "..", and what the user keeps hidden
        const QByteArray Path = Folder + Entry->d_name;
        bool IsFolder = Entry->d_type == DT_DIR;
        bool IsLink = Entry->d_type == DT_LNK;
        if (Entry->d_type == DT_UNKNOWN) {
            struct stat Info {};
            IsLink = lstat(Path.constData(), &Info) == 0 && S_ISLNK(Info.st_mode);
        }
        if (IsLink || Entry->d_type == DT_UNKNOWN) {
            struct stat Info {};
            if (!StatOf(Path, Info))
                continue; // a broken link
            IsFolder = S_ISDIR(Info.st_mode);
        }
        if (!IsFolder && !IsAcceptedAudioName(Path))
            continue;
        (IsLink ? FLinked : Entries).append(IsFolder ? Path + '/' : Path);
    }
    closedir(Dir);
    // A folder sorts with its "/": in the order its files' paths sort.
    std::sort(Entries.begin(), Entries.end());
    for (auto It = Entries.crbegin(); It != Entries.crend(); ++It)
        FPending.append(*It);
}

QByteArrayList TFolderWalk::Next(int Max) {
    QByteArrayList Found;
    while (!Done() && Found.size() < Max) {
        if (FPending.isEmpty()) {
            // What links lead to comes last, so that a file reached both ways keeps its own
            // path, not one that goes away with the link.
            std::sort(FLinked.begin(), FLinked.end(), std::greater<>());
            FPending.swap(FLinked);
        }
        const QByteArray Path = FPending.takeLast();
        struct stat Info {};
        if (!StatOf(Path.endsWith('/') && Path.size() > 1 ? Path.chopped(1) : Path, Info))
            continue;
        const qsizetype Before = FSeen.size();
        FSeen.insert({quint64(Info.st_dev), quint64(Info.st_ino)});
        if (FSeen.size() == Before)
            continue; // reached before, through a link
        if (Path.endsWith('/')) {
            if (S_ISDIR(Info.st_mode))
                Open(Path);
        } else if (S_ISREG(Info.st_mode)) {
            Found.append(Path);
        }
    }
    return Found;
}

QByteArrayList TFolderWalk::AudioFilesUnder(const QByteArrayList &Roots) {
    TFolderWalk Walk(Roots);
    QByteArrayList All;
    while (!Walk.Done())
        All += Walk.Next(4096);
    return All;
}
