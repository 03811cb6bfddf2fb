#include "CoverStore.h"

#include "CoverMaker.h"
#include "LibraryTags.h"
#include "TagScanner.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <numeric>

TCoverStore::TCoverStore(const QString &Folder, const QString &ScanProgram, QObject *Parent)
    : QObject(Parent),
      FMaker(std::make_shared<TCoverMaker>(
          Folder, ScanProgram.isEmpty() ? TTagScanner::DefaultProgram() : ScanProgram)) {
    FMaker->SetDone(
        [this](const QByteArray &Hash, int Size, bool Made) { Tell(Hash, Size, Made); });
}

void TCoverStore::Tell(const QByteArray &Hash, int Size, bool Made) {
    QMetaObject::invokeMethod(
        this,
        [this, Hash, Size, Made] {
            if (Made)
                Q_EMIT Ready(Hash, Size);
            else
                Q_EMIT Failed(Hash, Size);
        },
        Qt::QueuedConnection);
}

TCoverStore::~TCoverStore() {
    FMaker->Close();
}

QString TCoverStore::DefaultFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
           QStringLiteral("/covers");
}

void TCoverStore::Follow(const TLibraryTags *Library) {
    const auto All = [this, Library] {
        QList<int> Rows(Library->Count());
        std::iota(Rows.begin(), Rows.end(), 0);
        LearnRows(Library, Rows);
    };
    All();
    connect(Library, &TLibraryTags::RowsReset, this, All);
    connect(Library, &TLibraryTags::RowsChanged, this,
            [this, Library](const QList<int> &Rows) { LearnRows(Library, Rows); });
}

void TCoverStore::LearnRows(const TLibraryTags *Library, const QList<int> &Rows) {
    for (const int Row : Rows) {
        const TTrackTags &Tags = Library->Tags(Row);
        if (!Tags.CoverHash.isEmpty())
            Learn(Tags.CoverHash, Library->Source(Row),
                  Tags.CoverHash == Tags.EmbeddedCover ? TCoverSource::Embedded
                                                       : TCoverSource::Folder);
    }
}

void TCoverStore::Learn(const QByteArray &Hash, const QByteArray &TrackPath, TCoverSource Where) {
    FMaker->Learn(Hash, TrackPath, Where);
}

bool TCoverStore::IsKnown(const QByteArray &Hash) const {
    return FMaker->IsKnown(Hash);
}

void TCoverStore::Request(const QByteArray &Hash, int Size) {
    const auto State =
        IsThumbnailSize(Size) ? FMaker->Start(Hash, Size) : TThumbnailSource::TResult::Unknown;
    if (State == TThumbnailSource::TResult::Busy)
        return; // the maker says when it is done
    Tell(Hash, Size, State == TThumbnailSource::TResult::Made);
}

QString TCoverStore::ThumbnailFile(const QByteArray &Hash, int Size) const {
    if (!IsThumbnailSize(Size) || !IsCoverHash(Hash))
        return {};
    const QString File = FMaker->FileName(Hash, Size);
    return QFileInfo::exists(File) ? File : QString();
}

std::shared_ptr<TThumbnailSource> TCoverStore::Source() const {
    return FMaker;
}
