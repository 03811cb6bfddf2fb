#pragma once

#include "CoverPicture.h"

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>

#include <memory>

class TCoverMaker;
class TLibraryTags;

// The covers' thumbnails (JPEG, about 96 and 300 px) in the user's cache folder, one file per
// picture and size named by the picture's hash, made when first asked for on threads of their
// own: the picture embedded in a track is taken out by the tag scanner program (the tag library
// never runs in this one), a folder's image is read, both are decoded within Qt's image
// allocation limit. A picture that cannot be read or decoded costs its cover only. Lives on the
// GUI thread; the web remote's route reads through Source() from its own threads.
class TCoverStore : public QObject {
    Q_OBJECT
public:
    static constexpr int SmallSize = 96;
    static constexpr int LargeSize = 300;

    // Folder: where thumbnails are kept; ScanProgram: the tag scanner (empty: the one beside
    // this program).
    explicit TCoverStore(const QString &Folder = DefaultFolder(),
                         const QString &ScanProgram = QString(), QObject *Parent = nullptr);
    // Waits for the thumbnails being made.
    ~TCoverStore() override;

    // QStandardPaths::CacheLocation + "/covers".
    static QString DefaultFolder();
    // Whether Size is one the store makes (SmallSize or LargeSize).
    static bool IsThumbnailSize(int Size) { return Size == SmallSize || Size == LargeSize; }

    // Learns the cover of each of Library's rows, now and whenever its rows change.
    void Follow(const TLibraryTags *Library);
    // The picture Hash names is that of the track at TrackPath: embedded in it, or its folder's
    // image.
    void Learn(const QByteArray &Hash, const QByteArray &TrackPath, TCoverSource Where);
    // Whether some track has the cover Hash.
    bool IsKnown(const QByteArray &Hash) const;

    // Makes the thumbnail of Hash at Size when it is not made yet; Ready or Failed follows
    // (queued, also when it was made already).
    void Request(const QByteArray &Hash, int Size);
    // The thumbnail's JPEG file when it is made; empty otherwise.
    QString ThumbnailFile(const QByteArray &Hash, int Size) const;

    // The thumbnails for other threads; stays valid after the store is gone (knows nothing then).
    std::shared_ptr<TThumbnailSource> Source() const;

Q_SIGNALS:
    void Ready(const QByteArray &Hash, int Size);
    // The picture cannot be read or decoded, or no track has it.
    void Failed(const QByteArray &Hash, int Size);

private:
    // Ready or Failed, queued: on the GUI thread whoever calls.
    void Tell(const QByteArray &Hash, int Size, bool Made);
    void LearnRows(const TLibraryTags *Library, const QList<int> &Rows);

    std::shared_ptr<TCoverMaker> FMaker;
};
