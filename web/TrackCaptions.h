#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>

#include <functional>

class TLibraryTags;
class TMusicLibrary;
struct TTrackTags;

// What a view shows for a track URL instead of today's caption; empty: today's caption.
using TCaptionOf = std::function<QString(const QByteArray &URL)>;

// What a player shows of its current track besides the time; empty where the tags give none.
struct TNowPlaying {
    QString Caption; // "Title - Artist"
    QString Album;
    QByteArray CoverHash;
};

// The tags of the tracks this copy serves itself: a URL whose host is this computer and whose
// port is the media server's names the library entry the media server would send for it. A
// track from elsewhere has none, and so keeps its caption.
class TTrackCaptions : public QObject {
    Q_OBJECT
public:
    using TIsThisComputer = std::function<bool(const QString &Host)>;
    using TPort = std::function<quint16()>;
    TTrackCaptions(const TMusicLibrary &Library, const TLibraryTags &Tags,
                   TIsThisComputer IsThisComputer, TPort MediaPort, QObject *Parent = nullptr);

    // The tags of the entry URL names; null when it is not served here or not known.
    const TTrackTags *TagsOf(const QByteArray &URL) const;
    // "Title - Artist" for URL; empty when it is not served here or its tags give no title.
    QString Caption(const QByteArray &URL) const;
    // Caption as a function for the views.
    TCaptionOf CaptionOf() const;
    // The caption, album and cover of the entry URL names; all empty when it is not served
    // here or not known.
    TNowPlaying NowPlaying(const QByteArray &URL) const;

Q_SIGNALS:
    // The library or its tags changed: captions may read otherwise now.
    void Changed();

private:
    QByteArray SourceOf(const QByteArray &URL) const;

    const TMusicLibrary &FLibrary;
    QPointer<const TLibraryTags> FTags;
    TIsThisComputer FIsThisComputer;
    TPort FMediaPort;
    // The library's local entries by file name, made when first needed after a change: its
    // first FIndexed entries.
    mutable QHash<QByteArray, QByteArrayList> FByFileName;
    mutable bool FByFileNameValid = false;
    mutable qsizetype FIndexed = 0;
    // URLs already looked up, and the entries they name (empty: none).
    mutable QHash<QByteArray, QByteArray> FSourceOf;
    bool FChangeQueued = false;
};
