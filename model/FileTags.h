#pragma once

#include "TrackTags.h"

#include <QByteArray>

class TByteReader;

// A file as stat saw it; the tag cache trusts tags only for the same stamp (equality, never
// "newer": a file copied back from a backup is older and still different).
struct TFileStamp {
    qint64 MTimeNs = -1;
    qint64 Size = -1;

    bool IsValid() const { return Size >= 0; }
    friend bool operator==(const TFileStamp &, const TFileStamp &) = default;
};

// The stamp of the file at Path (links followed); invalid when there is none.
TFileStamp StampOf(const QByteArray &Path);

// How the tags of a file were come by.
enum class TTagStatus : quint8 {
    Read,       // the reader read the file (its tags may still be empty)
    Unreadable, // the reader could not read it, crashed or hung on it
    Missing,    // no file at that path
    Unchanged,  // the file still has the stamp it was asked about; no tags sent
};

// The tags of one file and the stamp of the file they were read from.
struct TFileTags {
    QByteArray Path;
    TFileStamp Stamp;
    TTagStatus Status = TTagStatus::Read;
    TTrackTags Tags;

    friend bool operator==(const TFileTags &, const TFileTags &) = default;
};

// Bounds a reader of file tags holds a record to, whatever it claims.
constexpr qsizetype MaxPathBytes = 64 * 1024;
constexpr quint32 MaxArtists = 256;
// The text (UTF-8) of one file's tags together: a real file's are a few hundred bytes, a
// hostile one's (compressed frames) hundreds of kilobytes from a file of two.
constexpr qsizetype MaxFileTagBytes = 16 * 1024;

// The bytes of Tags' texts in UTF-8.
qsizetype TagTextBytes(const TTrackTags &Tags);
// Cuts Tags' texts to at most Max bytes together, never inside a character: the title first,
// then the artists, album, album artist, genre and composer get what is left.
void BoundTagText(TTrackTags &Tags, qsizetype Max);

// Appends Entry's binary form to Out.
void PutFileTags(QByteArray &Out, const TFileTags &Entry);
// Reads one record that PutFileTags wrote; false (and In failed) when it is not one.
bool TakeFileTags(TByteReader &In, TFileTags &Entry);
// The same record after its path: the stamp, the status and the tags.
void PutFileTagsBody(QByteArray &Out, const TFileTags &Entry);
bool TakeFileTagsBody(TByteReader &In, TFileTags &Entry);
