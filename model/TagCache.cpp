#include "TagCache.h"

#include "AsciiText.h"
#include "ByteRecord.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

const QByteArray Magic = "VXTAGS\r\n";
constexpr auto Digest = QCryptographicHash::Md5;
constexpr qsizetype DigestBytes = 16;
// The smallest record PutFileTags writes: bounds a count before anything is allocated for it.
constexpr qsizetype MinRecordBytes = 4 + 8 + 8 + 1 + 5 * 4 + 4 + 3 * 4 + 8 + 1 + 2 * 4;

} // namespace

QString TTagCache::DefaultFile() {
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
           QStringLiteral("/TagCache.bin");
}

bool TTagCache::Load(const QString &File) {
    QFile In(File);
    if (!In.open(QIODevice::ReadOnly)) {
        FEntries.clear();
        FModified = false;
        return false;
    }
    return FromBytes(In.readAll());
}

bool TTagCache::Save(const QString &File, QString *Error) const {
    QDir().mkpath(QFileInfo(File).absolutePath());
    const QByteArray Data = ToBytes();
    QSaveFile Out(File);
    if (Out.open(QIODevice::WriteOnly) && Out.write(Data) == Data.size() && Out.commit()) {
        FModified = false;
        return true;
    }
    if (Error)
        *Error = FileError("Cannot create file", File, Out.errorString());
    Out.cancelWriting();
    return false;
}

QByteArray TTagCache::ToBytes() const {
    QByteArray Data = Magic;
    TByteWriter W(Data);
    W.PutU32(Version);
    W.PutU32(quint32(FEntries.size()));
    for (const TFileTags &Entry : FEntries)
        PutFileTags(Data, Entry);
    Data += QCryptographicHash::hash(Data, Digest);
    return Data;
}

bool TTagCache::FromBytes(const QByteArray &Data) {
    FEntries.clear();
    FCoverNames.clear();
    FModified = false;
    const qsizetype Body = Data.size() - DigestBytes;
    if (Body < Magic.size() || !Data.startsWith(Magic) ||
        QCryptographicHash::hash(QByteArrayView(Data).first(Body), Digest) != Data.mid(Body))
        return false;
    TByteReader In(Data.constData() + Magic.size(), Body - Magic.size());
    const quint32 FileVersion = In.U32();
    const quint32 Count = In.U32();
    if (FileVersion != Version || Count > In.Remaining() / MinRecordBytes)
        return false;
    FEntries.reserve(Count);
    TFileTags Entry;
    for (quint32 I = 0; I < Count; ++I) {
        if (!TakeFileTags(In, Entry) || Entry.Status == TTagStatus::Missing ||
            Entry.Status == TTagStatus::Unchanged) {
            FEntries.clear();
            return false;
        }
        ShareCovers(Entry.Tags);
        FEntries.insert(Entry.Path, Entry);
    }
    if (In.Remaining() != 0) {
        FEntries.clear();
        return false;
    }
    return true;
}

const TFileTags *TTagCache::Find(const QByteArray &Path) const {
    const auto It = FEntries.constFind(Path);
    return It == FEntries.cend() ? nullptr : &*It;
}

const TFileTags *TTagCache::FindCurrent(const QByteArray &Path, const TFileStamp &Stamp) const {
    const TFileTags *Entry = Find(Path);
    return Entry && Stamp.IsValid() && Entry->Stamp == Stamp ? Entry : nullptr;
}

void TTagCache::Put(const TFileTags &Entry) {
    if (Entry.Status != TTagStatus::Read && Entry.Status != TTagStatus::Unreadable)
        return;
    ShareCovers(FEntries.insert(Entry.Path, Entry)->Tags);
    FModified = true;
}

void TTagCache::KeepOnly(const QSet<QByteArray> &Paths) {
    const qsizetype Before = FEntries.size();
    FEntries.removeIf([&](const auto &It) { return !Paths.contains(It.key()); });
    FModified = FModified || FEntries.size() != Before;
}

void TTagCache::ShareCovers(TTrackTags &T) {
    for (QByteArray *Hash : {&T.EmbeddedCover, &T.FolderCover, &T.CoverHash})
        if (!Hash->isEmpty())
            *Hash = *FCoverNames.insert(*Hash);
}
