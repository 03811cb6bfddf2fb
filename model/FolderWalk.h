#pragma once

#include <QByteArrayList>
#include <QList>
#include <QSet>

#include <utility>

// The audio files under folders, in path order, a piece at a time (so a caller on another
// thread can hand them on in batches and stop at any point). Links are followed after
// everything else, in path order; a folder or file reached twice (links, loops) counts once,
// by its path without a link where it has one; names starting with "." are skipped.
// Paths are bytes as the file system has them.
class TFolderWalk {
public:
    explicit TFolderWalk(const QByteArrayList &Roots);

    // Up to Max more audio paths; empty once the walk is over.
    QByteArrayList Next(int Max);
    bool Done() const { return FPending.isEmpty() && FLinked.isEmpty(); }
    // Folders read so far.
    int Folders() const { return FFolders; }
    // Every folder the walk went into, as it was reached (a watcher watches these).
    const QByteArrayList &FoldersSeen() const { return FFoldersSeen; }

    // Everything at once.
    static QByteArrayList AudioFilesUnder(const QByteArrayList &Roots);

private:
    // A file system object: device and inode.
    using TNode = std::pair<quint64, quint64>;

    // Puts Folder's entries on FPending, in path order.
    void Open(const QByteArray &Folder);

    // Paths still to visit, the next last; a folder's path ends in "/".
    QByteArrayList FPending;
    // Links met so far, visited once FPending is empty.
    QByteArrayList FLinked;
    QSet<TNode> FSeen;
    QByteArrayList FFoldersSeen;
    int FFolders = 0;
};
