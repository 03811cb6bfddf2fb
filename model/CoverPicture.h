#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Pictures larger than this are no cover: never hashed, sent or decoded.
constexpr qsizetype MaxCoverBytes = 16 * 1024 * 1024;
// A cover is named by its picture: the lowercase hex of the first 20 bytes of the SHA-256 of the
// picture's bytes, so a picture in twelve tracks is one cover.
constexpr qsizetype CoverHashChars = 40;

QByteArray CoverHashOf(QByteArrayView Picture);
// Whether Text has the form of a cover's hash.
bool IsCoverHash(QByteArrayView Text);

// Which cover a track shows when it has both ([Library] CoverSource).
enum class TCoverSource : quint8 { Embedded, Folder };

// The cover image of the folder Folder: cover, folder or front with .jpg, .jpeg or .png (ASCII
// case ignored), first found in that order; empty when there is none.
QByteArray FolderCoverFile(const QByteArray &Folder);
// The folder part of a file's path (without the last "/").
QByteArray FolderOf(const QByteArray &Path);
// The bytes of the picture file at Path; empty when it cannot be read or is over MaxCoverBytes.
QByteArray ReadPictureFile(const QByteArray &Path);

// Thumbnails by picture hash, for callers on any thread (the web remote's).
class TThumbnailSource {
public:
    enum class TResult { Made, Unknown, Failed, Busy };

    virtual ~TThumbnailSource() = default;
    // Whether some track has the cover Hash.
    virtual bool IsKnown(const QByteArray &Hash) const = 0;
    // The JPEG thumbnail of the picture Hash at Size into Jpeg, made now when needed and waiting
    // at most WaitMs for it: Made; Unknown for a hash no track has; Failed when the picture
    // cannot be read or decoded; Busy when the wait ended first.
    virtual TResult Thumbnail(const QByteArray &Hash, int Size, int WaitMs, QByteArray &Jpeg) = 0;
};
