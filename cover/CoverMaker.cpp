#include "CoverMaker.h"

#include "Thumbnail.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <chrono>

namespace {

// A scanner that takes longer on one picture is stuck in the tag library.
constexpr int ScanTimeoutMs = 15000;
// A thumbnail file larger than this is not one of ours.
constexpr qint64 MaxThumbnailBytes = 4 * 1024 * 1024;

QByteArray KeyOf(const QByteArray &Hash, int Size) {
    return Hash + '-' + QByteArray::number(Size);
}

} // namespace

TCoverMaker::TCoverMaker(const QString &Folder, const QString &ScanProgram)
    : FFolder(Folder), FScanProgram(ScanProgram) {
    // Decoding is quick; a picture in a track needs a scanner process, which mostly waits.
    FPool.setMaxThreadCount(2);
}

TCoverMaker::~TCoverMaker() {
    Close();
}

void TCoverMaker::SetDone(TDone Done) {
    std::lock_guard Lock(FLock);
    FDone = std::move(Done);
}

void TCoverMaker::Learn(const QByteArray &Hash, const QByteArray &TrackPath, TCoverSource Where) {
    std::lock_guard Lock(FLock);
    if (FClosed)
        return;
    FSources.insert(Hash, {TrackPath, Where});
    // The track may be readable now where another was not.
    for (const QByteArray &Key : {KeyOf(Hash, 96), KeyOf(Hash, 300)})
        if (FStates.value(Key, TResult::Unknown) == TResult::Failed)
            FStates.remove(Key);
}

bool TCoverMaker::IsKnown(const QByteArray &Hash) const {
    std::lock_guard Lock(FLock);
    return FSources.contains(Hash);
}

QString TCoverMaker::FileName(const QByteArray &Hash, int Size) const {
    return FFolder + u'/' + QString::fromLatin1(KeyOf(Hash, Size)) + QStringLiteral(".jpg");
}

TThumbnailSource::TResult TCoverMaker::StateOf(const QByteArray &Key, const QByteArray &Hash,
                                               int Size) const {
    if (FClosed || !FSources.contains(Hash))
        return TResult::Unknown;
    if (const auto It = FStates.constFind(Key); It != FStates.cend())
        return *It;
    // Made by an earlier run.
    return QFileInfo::exists(FileName(Hash, Size)) ? TResult::Made : TResult::Unknown;
}

TThumbnailSource::TResult TCoverMaker::Start(const QByteArray &Hash, int Size) {
    const QByteArray Key = KeyOf(Hash, Size);
    std::lock_guard Lock(FLock);
    const TResult State = StateOf(Key, Hash, Size);
    if (State != TResult::Unknown || FClosed || !FSources.contains(Hash)) {
        if (State == TResult::Made)
            FStates.insert(Key, State);
        return State;
    }
    FStates.insert(Key, TResult::Busy);
    FPool.start([this, Hash, Size] { Make(Hash, Size); });
    return TResult::Busy;
}

QByteArray TCoverMaker::Picture(const TSource &Source) const {
    if (Source.Where == TCoverSource::Embedded)
        return EmbeddedPicture(FScanProgram, Source.Path, ScanTimeoutMs);
    const QByteArray File = FolderCoverFile(FolderOf(Source.Path));
    return File.isEmpty() ? QByteArray() : ReadPictureFile(File);
}

void TCoverMaker::Make(const QByteArray &Hash, int Size) {
    TSource Source;
    {
        std::lock_guard Lock(FLock);
        Source = FSources.value(Hash);
    }
    // The file may have changed since it was read: its picture now is another cover.
    const QByteArray Bytes = Picture(Source);
    const QByteArray Jpeg = CoverHashOf(Bytes) == Hash ? ThumbnailJpeg(Bytes, Size) : QByteArray();
    bool Made = false;
    if (!Jpeg.isEmpty()) {
        QDir().mkpath(FFolder);
        QSaveFile Out(FileName(Hash, Size));
        Made = Out.open(QIODevice::WriteOnly) && Out.write(Jpeg) == Jpeg.size() && Out.commit();
    }
    {
        std::lock_guard Lock(FLock);
        FStates.insert(KeyOf(Hash, Size), Made ? TResult::Made : TResult::Failed);
        if (FDone)
            FDone(Hash, Size, Made);
    }
    FChanged.notify_all();
}

void TCoverMaker::Close() {
    {
        std::lock_guard Lock(FLock);
        FClosed = true;
        FDone = nullptr;
        FSources.clear();
    }
    FChanged.notify_all();
    FPool.waitForDone();
}

TThumbnailSource::TResult TCoverMaker::Thumbnail(const QByteArray &Hash, int Size, int WaitMs,
                                                 QByteArray &Jpeg) {
    TResult State = Start(Hash, Size);
    if (State == TResult::Busy) {
        const QByteArray Key = KeyOf(Hash, Size);
        std::unique_lock Lock(FLock);
        FChanged.wait_for(Lock, std::chrono::milliseconds(WaitMs),
                          [&] { return FClosed || FStates.value(Key) != TResult::Busy; });
        State = FClosed ? TResult::Unknown : FStates.value(Key);
    }
    if (State != TResult::Made)
        return State;
    QFile In(FileName(Hash, Size));
    if (In.open(QIODevice::ReadOnly) && In.size() <= MaxThumbnailBytes)
        Jpeg = In.readAll();
    if (!Jpeg.isEmpty())
        return TResult::Made;
    // Removed behind our back: made again when next asked for.
    std::lock_guard Lock(FLock);
    FStates.remove(KeyOf(Hash, Size));
    return TResult::Busy;
}
