#include "TrackCaptions.h"

#include "AsciiText.h"
#include "LibraryTags.h"
#include "MediaServer.h"
#include "MusicLibrary.h"

#include <QUrl>

namespace {
// URLs remembered at most; a longer list starts the memory afresh.
constexpr qsizetype MaxRemembered = 20000;
} // namespace

TTrackCaptions::TTrackCaptions(const TMusicLibrary &Library, const TLibraryTags &Tags,
                               TIsThisComputer IsThisComputer, TPort MediaPort, QObject *Parent)
    : QObject(Parent), FLibrary(Library), FTags(&Tags), FIsThisComputer(std::move(IsThisComputer)),
      FMediaPort(std::move(MediaPort)) {
    // Views ask again once per burst of changes.
    const auto Change = [this](bool LibraryChanged) {
        if (LibraryChanged) {
            FByFileNameValid = false;
            FSourceOf.clear();
        }
        if (FChangeQueued)
            return;
        FChangeQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                FChangeQueued = false;
                Q_EMIT Changed();
            },
            Qt::QueuedConnection);
    };
    // Rows added (a folder's walk: a slice a turn) join the index; only misses are looked up
    // again, not 100000 entries indexed anew per slice.
    connect(&Library, &QAbstractItemModel::rowsInserted, this, [this, Change] {
        FSourceOf.removeIf([](const auto &It) { return It.value().isEmpty(); });
        Change(false);
    });
    connect(&Library, &QAbstractItemModel::rowsRemoved, this, [Change] { Change(true); });
    connect(&Library, &QAbstractItemModel::modelReset, this, [Change] { Change(true); });
    connect(&Tags, &TLibraryTags::RowsChanged, this, [Change] { Change(false); });
    connect(&Tags, &TLibraryTags::RowsReset, this, [Change] { Change(false); });
}

QByteArray TTrackCaptions::SourceOf(const QByteArray &URL) const {
    if (const auto It = FSourceOf.constFind(URL); It != FSourceOf.cend())
        return *It;
    QByteArray Source;
    const qsizetype PathAt = URL.indexOf('/', 7);
    if (StartsWithAscii(URL, "http://") && PathAt > 7) {
        const QUrl Server(QString::fromLatin1(URL.left(PathAt)));
        // The path as the media server receives it: a "?" would start a query there.
        QByteArray Path = URL.mid(PathAt);
        Path.truncate(Path.indexOf('?') < 0 ? Path.size() : Path.indexOf('?'));
        const quint16 Port = FMediaPort ? FMediaPort() : 0;
        if (Server.isValid() && Port != 0 && Server.port(80) == Port &&
            FIsThisComputer(Server.host())) {
            if (!FByFileNameValid) {
                FByFileName.clear();
                FIndexed = 0;
                FByFileNameValid = true;
            }
            // Entries only join the library's end until the next change.
            for (const QByteArrayList &All = FLibrary.Library(); FIndexed < All.size(); ++FIndexed)
                if (!StartsWithAscii(All[FIndexed], "http://"))
                    FByFileName[FileNamePart(All[FIndexed])].append(All[FIndexed]);
            // Only entries of the same file name can end with the path the server looks up.
            const QByteArray Name = FileNamePart(TMediaServer::DecodeRequestPath(Path));
            Source = TMediaServer::LookupRequest(Path, TMediaServer::RawPathHoldsNul(Path),
                                                 FByFileName.value(Name));
        }
    }
    if (FSourceOf.size() >= MaxRemembered)
        FSourceOf.clear();
    FSourceOf.insert(URL, Source);
    return Source;
}

const TTrackTags *TTrackCaptions::TagsOf(const QByteArray &URL) const {
    if (!FTags)
        return nullptr;
    const QByteArray Source = SourceOf(URL);
    const int Row = Source.isEmpty() ? -1 : FTags->RowOf(Source);
    return Row < 0 ? nullptr : &FTags->Tags(Row);
}

QString TTrackCaptions::Caption(const QByteArray &URL) const {
    const TTrackTags *Tags = TagsOf(URL);
    return Tags ? Tags->Caption() : QString();
}

TCaptionOf TTrackCaptions::CaptionOf() const {
    return [Captions = QPointer<const TTrackCaptions>(this)](const QByteArray &URL) {
        return Captions ? Captions->Caption(URL) : QString();
    };
}

TNowPlaying TTrackCaptions::NowPlaying(const QByteArray &URL) const {
    const TTrackTags *Tags = TagsOf(URL);
    return Tags ? TNowPlaying{Tags->Caption(), Tags->Album, Tags->CoverHash} : TNowPlaying{};
}
