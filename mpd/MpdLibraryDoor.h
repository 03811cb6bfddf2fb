#pragma once

#include "MpdHooks.h"
#include "MpdPlaylists.h"
#include "MpdQueries.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QCache>
#include <QHash>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <functional>
#include <optional>

class TLibraryTags;
class TMpdDoor;
class TSharingState;

// The library's half of the MPD door: browsing and searching this copy's library (its rows
// and their tags as the library page has them), stored play lists, covers, rescans, and the
// door's questions about library files (a queue row's song, "add" of a URI, "stats"). A file
// goes to a speaker as the URL this copy's media server serves it at. Lives on the GUI thread;
// pictures are taken out of files on a thread of its own.
class TMpdLibraryDoor : public QObject {
    Q_OBJECT
public:
    struct TSetup {
        // This copy's address in track URLs (read when a URL is made) and its media port.
        std::function<QByteArray()> Address;
        quint16 MediaPort = 0;
        QString PlaylistFolder = TMpdPlaylists::DefaultFolder();
        // The tag scanner program that takes pictures out of files (empty: beside this one).
        QString ScanProgram;
    };

    // Adds its commands and hooks to Door; Door and Tags must outlive it.
    TMpdLibraryDoor(TMpdDoor &Door, TLibraryTags &Tags, TSetup Setup, QObject *Parent = nullptr);
    // Waits for the picture being taken out of a file.
    ~TMpdLibraryDoor() override;

    // The library as it stands (a version made anew after a change, shared by what reads it).
    TMpdLibraryPtr Library();
    TMpdPlaylists &Playlists() { return FPlaylists; }

    // The URL a speaker plays Row of Library at.
    QByteArray PlayUrl(const TMpdLibrary &Library, int Row) const;
    // The URLs for stored entries (sources): http(s) ones as they are, library files as
    // served; others (no longer in the library, other schemes) are left out.
    QByteArrayList UrlsOf(const QByteArrayList &Sources);
    // The sources of the file or folder Uri names ("" the whole library), in URI order;
    // none when it names nothing here (an http URL names itself).
    std::optional<QByteArrayList> SourcesOf(const QByteArray &Uri);
    // The library row of a URL this copy's media server serves; -1 for any other URL.
    int RowOfUrl(const TMpdLibrary &Library, const QByteArray &Url) const;

private:
    // Commands, by subject (one file each).
    void AddQueryCommands();
    void AddPlaylistCommands();
    void AddCoverCommands();
    void SetHooks();
    TMpdLibraryStats Stats();
    // Starts a rescan; its job number.
    int StartUpdate();

    // The picture Hash (of Path, embedded in it or its folder's image), once read; none while
    // it is being read (Client is woken then). An empty picture: it cannot be read.
    std::optional<QByteArray> Picture(const QByteArray &Hash, const QByteArray &Path, bool Embedded,
                                      quint64 Client);

    TMpdDoor &FDoor;
    TLibraryTags &FTags;
    TSetup FSetup;
    TMpdPlaylists FPlaylists;
    TMpdLibraryPtr FLibrary;
    bool FStale = true;
    // Counts per library version, made when "stats" first asks.
    std::optional<TMpdLibraryStats> FStats;
    qint64 FUpdatedAt = 0;
    int FUpdateJob = 0;
    int FUpdating = 0; // the job of the rescan under way, 0 when none
    // Recent pictures by hash, charged by size in KiB; the clients waiting for each one read.
    QCache<QByteArray, QByteArray> FPictures;
    QHash<QByteArray, QList<quint64>> FReading;
    QThreadPool FReader;
};

// The library's half of Door when both Door and Tags are there; null otherwise. Track URLs
// carry Sharing's address (it must outlive the result) and MediaPort.
std::unique_ptr<TMpdLibraryDoor> StartMpdLibrary(TMpdDoor *Door, TLibraryTags *Tags,
                                                 const TSharingState &Sharing, quint16 MediaPort);
