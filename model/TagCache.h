#pragma once

#include "FileTags.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QHash>
#include <QSet>
#include <QString>

#include <optional>

// The tags of library files between runs: one versioned file in the user's cache folder. An
// entry counts only while its file keeps the stamp it was read with; a file that cannot be
// parsed whole (damaged, cut short, another version) is ignored and the cache starts empty.
class TTagCache {
public:
    // The version of the file's layout; a file of another version is not read.
    // 3: ReplayGain values; a file of 2 is not read, so every track is read again for them.
    static constexpr quint32 Version = 3;

    // The cache file under the user's cache folder.
    static QString DefaultFile();

    // A cache file past this size is not read: a real one of 100000 files is some 11 MB.
    static constexpr qint64 MaxFileBytes = 512 * 1024 * 1024;

    // Replaces the entries with those of File; false (and empty) when there is no usable one.
    // File is read only when it is this user's own regular file (not through a link, never a
    // pipe or device) of at most MaxFileBytes; else *Problem says why (the next Save replaces
    // it). A missing or damaged file is no problem: it is simply no cache.
    bool Load(const QString &File, QString *Problem = nullptr);
    // Writes every entry to File at once (a crash leaves the old file), never through a link or
    // into a folder others may write; false and *Error when that fails.
    bool Save(const QString &File, QString *Error = nullptr) const;
    // The file's bytes, and the entries from them (false and empty when they are not a cache).
    QByteArray ToBytes() const;
    bool FromBytes(const QByteArray &Data);

    // The entry for Path whatever the file's stamp now (a missing file keeps showing its
    // tags); none when there is none.
    std::optional<TFileTags> Find(const QByteArray &Path) const;
    // The entry for Path when it was read from the file as Stamp finds it now; none otherwise.
    std::optional<TFileTags> FindCurrent(const QByteArray &Path, const TFileStamp &Stamp) const;
    // The stamp of Path's entry (invalid when there is none), its tags left unread.
    TFileStamp KnownStamp(const QByteArray &Path) const;
    // Keeps what a read found: Read and Unreadable replace the entry for the path, Missing and
    // Unchanged keep the one there is.
    void Put(const TFileTags &Entry);
    // Drops the entries of paths not in Paths (files no longer in the library).
    void KeepOnly(const QSet<QByteArray> &Paths);
    // The same in two steps: which paths would go (on any thread, from a copy), then their going.
    QByteArrayList PathsNotIn(const QSet<QByteArray> &Paths) const;
    void Remove(const QByteArrayList &Paths);

    int Count() const { return int(FEntries.size()); }
    // Whether the entries differ from what was last loaded or saved.
    bool IsModified() const { return FModified; }
    // Takes the entries as saved (a copy of this cache is being written).
    void MarkSaved() { FModified = false; }

private:
    // Per path, its record after the path as the file holds it (PutFileTagsBody): a fraction of
    // the entry's decoded size, and read only when the library's rows are made.
    QHash<QByteArray, QByteArray> FEntries;
    mutable bool FModified = false;
};
