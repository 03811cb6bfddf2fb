#include "MpdLibraryDoor.h"

#include "AsciiText.h"
#include "CoverPicture.h"
#include "LibraryTags.h"
#include "MpdDoor.h"
#include "MpdServer.h"
#include "MpdTags.h"
#include "SharingState.h"
#include "TagScanner.h"
#include "Thumbnail.h"

#include <QDateTime>
#include <QSet>

#include <algorithm>

namespace {

// Whether a speaker may be handed Url as it is.
bool IsWebUrl(const QByteArray &Url) {
    return StartsWithAscii(Url, "http://") || StartsWithAscii(Url, "https://");
}

// How long the scanner may take to hand over a file's picture.
constexpr int PictureTimeoutMs = 15000;
// Recent pictures kept for a client's next chunks, in KiB: room for a few of the largest.
constexpr int PictureCacheKiB = 64 * 1024;

} // namespace

TMpdLibraryDoor::TMpdLibraryDoor(TMpdDoor &Door, TLibraryTags &Tags, TSetup Setup, QObject *Parent)
    : QObject(Parent), FDoor(Door), FTags(Tags), FSetup(std::move(Setup)),
      FPlaylists(FSetup.PlaylistFolder), FUpdatedAt(QDateTime::currentSecsSinceEpoch()) {
    if (FSetup.ScanProgram.isEmpty())
        FSetup.ScanProgram = TTagScanner::DefaultProgram();
    FPictures.setMaxCost(PictureCacheKiB);
    FReader.setMaxThreadCount(1);
    connect(&FTags, &TLibraryTags::RowsReset, this, [this] {
        FStale = true;
        FDoor.Notify(MpdIdle::Database);
    });
    connect(&FTags, &TLibraryTags::RowsChanged, this, [this] { FStale = true; });
    connect(&FTags, &TLibraryTags::ScanFinished, this, [this] {
        FStale = true;
        FUpdating = 0;
        FUpdatedAt = QDateTime::currentSecsSinceEpoch();
        FDoor.Notify(MpdIdle::Database | MpdIdle::Update);
    });
    connect(&FPlaylists, &TMpdPlaylists::Changed, this,
            [this] { FDoor.Notify(MpdIdle::StoredPlaylist); });
    AddQueryCommands();
    AddPlaylistCommands();
    AddCoverCommands();
    SetHooks();
}

TMpdLibraryDoor::~TMpdLibraryDoor() {
    FDoor.Hooks().SongForURL = nullptr;
    FDoor.Hooks().ResolveURI = nullptr;
    FDoor.Hooks().LibraryStats = nullptr;
    FDoor.Hooks().UpdatingJob = nullptr;
    FReader.waitForDone();
}

TMpdLibraryPtr TMpdLibraryDoor::Library() {
    if (FStale || !FLibrary) {
        FLibrary =
            std::make_shared<const TMpdLibrary>(FTags.Sources(), FTags.AllTags(), FLibrary.get());
        FStale = false;
        FStats.reset();
    }
    return FLibrary;
}

QByteArray TMpdLibraryDoor::PlayUrl(const TMpdLibrary &Library, int Row) const {
    return Library.PlayUrl(Row, FSetup.Address ? FSetup.Address() : QByteArray("127.0.0.1"),
                           FSetup.MediaPort);
}

QByteArrayList TMpdLibraryDoor::UrlsOf(const QByteArrayList &Sources) {
    const TMpdLibraryPtr Now = Library();
    QByteArrayList URLs;
    for (const QByteArray &Source : Sources) {
        if (IsRemoteSource(Source)) {
            if (IsWebUrl(Source))
                URLs.append(Source);
        } else if (const int Row = Now->RowOf(Now->UriOf(Source)); Row >= 0) {
            URLs.append(PlayUrl(*Now, Row));
        }
    }
    return URLs;
}

std::optional<QByteArrayList> TMpdLibraryDoor::SourcesOf(const QByteArray &Uri) {
    const TMpdLibraryPtr Now = Library();
    QByteArray Path = Uri;
    while (Path.startsWith('/'))
        Path.remove(0, 1);
    while (Path.endsWith('/'))
        Path.chop(1);
    if (Now->IsFolder(Path)) {
        const auto [Start, End] = Now->Below(Path);
        QList<int> Rows = Now->ByUri().mid(Start, End - Start);
        if (Path.isEmpty())
            Rows += Now->RemoteRows();
        QByteArrayList Sources;
        Sources.reserve(Rows.size());
        for (const int Row : Rows)
            Sources.append(Now->Source(Row));
        return Sources;
    }
    if (const int Row = Now->RowOf(Path); Row >= 0)
        return QByteArrayList{Now->Source(Row)};
    if (IsWebUrl(Uri))
        return QByteArrayList{Uri};
    return std::nullopt;
}

int TMpdLibraryDoor::RowOfUrl(const TMpdLibrary &Library, const QByteArray &Url) const {
    const QByteArray Port = ':' + QByteArray::number(FSetup.MediaPort) + '/';
    for (const QByteArray &Host :
         {FSetup.Address ? FSetup.Address() : QByteArray(), QByteArray("127.0.0.1")}) {
        const QByteArray Prefix = "http://" + Host + Port;
        if (!Host.isEmpty() && Url.startsWith(Prefix))
            return Library.RowOfServedName(
                QByteArray::fromPercentEncoding(Url.sliced(Prefix.size())));
    }
    return -1;
}

void TMpdLibraryDoor::SetHooks() {
    TMpdHooks &Hooks = FDoor.Hooks();
    Hooks.SongForURL = [this](const QByteArray &Url) -> std::optional<TMpdSong> {
        const TMpdLibraryPtr Now = Library();
        const int Row = RowOfUrl(*Now, Url);
        if (Row < 0)
            return std::nullopt;
        return MpdSongOf(Now->Uri(Row), Now->Tags(Row));
    };
    Hooks.ResolveURI = [this](const QByteArray &Uri) -> std::optional<QByteArrayList> {
        const auto Sources = SourcesOf(Uri);
        if (!Sources)
            return std::nullopt;
        return UrlsOf(*Sources);
    };
    Hooks.LibraryStats = [this] { return Stats(); };
    Hooks.UpdatingJob = [this] { return FUpdating; };
}

TMpdLibraryStats TMpdLibraryDoor::Stats() {
    const TMpdLibraryPtr Now = Library();
    if (!FStats) {
        TMpdLibraryStats Stats;
        QSet<QString> Artists, Albums;
        qint64 Ms = 0;
        for (int Row = 0; Row < Now->Count(); ++Row) {
            const TTrackTags &Tags = Now->Tags(Row);
            for (const QString &Artist : Tags.Artists)
                Artists.insert(Artist);
            if (!Tags.Album.isEmpty())
                Albums.insert(Tags.Album);
            Ms += Tags.DurationMs;
        }
        Stats.Artists = Artists.size();
        Stats.Albums = Albums.size();
        Stats.Songs = Now->Count();
        Stats.PlaytimeSeconds = (Ms + 500) / 1000;
        FStats = Stats;
    }
    FStats->UpdatedAt = FUpdatedAt;
    return *FStats;
}

int TMpdLibraryDoor::StartUpdate() {
    ++FUpdateJob;
    FDoor.Notify(MpdIdle::Update);
    if (FTags.Count() == 0) {
        // Nothing to read: the rescan is over at once.
        FUpdatedAt = QDateTime::currentSecsSinceEpoch();
        FDoor.Notify(MpdIdle::Database | MpdIdle::Update);
    } else {
        FUpdating = FUpdateJob;
        FTags.Rescan();
    }
    return FUpdateJob;
}

std::optional<QByteArray> TMpdLibraryDoor::Picture(const QByteArray &Hash, const QByteArray &Path,
                                                   bool Embedded, quint64 Client) {
    if (const QByteArray *Known = FPictures.object(Hash))
        return *Known;
    QList<quint64> &Waiting = FReading[Hash];
    if (!Waiting.contains(Client))
        Waiting.append(Client);
    if (Waiting.size() > 1)
        return std::nullopt; // being read already
    FReader.start([this, Hash, Path, Embedded, Program = FSetup.ScanProgram] {
        QByteArray Bytes = Embedded ? EmbeddedPicture(Program, Path, PictureTimeoutMs)
                                    : ReadPictureFile(FolderCoverFile(FolderOf(Path)));
        // The file may have changed since its tags were read: that picture is another cover.
        if (CoverHashOf(Bytes) != Hash)
            Bytes.clear();
        QMetaObject::invokeMethod(
            this,
            [this, Hash, Bytes] {
                FPictures.insert(Hash, new QByteArray(Bytes), int(Bytes.size() / 1024) + 1);
                for (const quint64 Id : FReading.take(Hash))
                    FDoor.Server().Wake(Id);
            },
            Qt::QueuedConnection);
    });
    return std::nullopt;
}

std::unique_ptr<TMpdLibraryDoor> StartMpdLibrary(TMpdDoor *Door, TLibraryTags *Tags,
                                                 const TSharingState &Sharing, quint16 MediaPort) {
    if (!Door || !Tags)
        return nullptr;
    TMpdLibraryDoor::TSetup Setup;
    Setup.Address = [&Sharing] { return Sharing.LocalIP(); };
    Setup.MediaPort = MediaPort;
    return std::make_unique<TMpdLibraryDoor>(*Door, *Tags, std::move(Setup));
}
