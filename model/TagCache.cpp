#include "TagCache.h"

#include "AsciiText.h"
#include "ByteRecord.h"
#include "ReadUpTo.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray Magic = "VXTAGS\r\n";
constexpr auto Digest = QCryptographicHash::Md5;
constexpr qsizetype DigestBytes = 16;
// The smallest record PutFileTags writes: bounds a count before anything is allocated for it.
constexpr qsizetype MinRecordBytes = 4 + 8 + 8 + 1 + 5 * 4 + 4 + 3 * 4 + 8 + 1 + 2 * 4 + 4 * 4;

} // namespace

QString TTagCache::DefaultFile() {
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
           QStringLiteral("/TagCache.bin");
}

bool TTagCache::Load(const QString &File, QString *Problem) {
    FEntries.clear();
    FModified = false;
    const auto Refuse = [&](const QString &Why) {
        if (Problem)
            *Problem = FileError("Cannot read file", File, Why);
        return false;
    };
    // Not blocking: a pipe in the file's place would wait for a writer for ever.
    struct TOpened {
        int Fd;
        ~TOpened() {
            if (Fd >= 0)
                ::close(Fd);
        }
    } const In{::open(QFile::encodeName(File).constData(),
                      O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
    const int Fd = In.Fd;
    if (Fd < 0)
        return errno == ENOENT ? false
                               : Refuse(errno == ELOOP ? QStringLiteral("it is a link")
                                                       : QString::fromLocal8Bit(strerror(errno)));
    struct stat Info {};
    if (::fstat(Fd, &Info) != 0 || !S_ISREG(Info.st_mode))
        return Refuse(QStringLiteral("it is not a file"));
    if (Info.st_uid != ::geteuid())
        return Refuse(QStringLiteral("it belongs to another user"));
    if (Info.st_size > MaxFileBytes)
        return Refuse(QStringLiteral("it is larger than a tag cache can be"));
    return FromBytes(ReadUpTo(Fd, qsizetype(Info.st_size)));
}

bool TTagCache::Save(const QString &File, QString *Error) const {
    const QString Folder = QFileInfo(File).absolutePath();
    const QByteArray Path = QFile::encodeName(File);
    // Only this user may write in the folder: nobody else can put a link in the file's place.
    QDir().mkpath(Folder);
    struct stat Info {};
    const QByteArray FolderPath = QFile::encodeName(Folder);
    if (::stat(FolderPath.constData(), &Info) != 0 || !S_ISDIR(Info.st_mode) ||
        Info.st_uid != ::geteuid() ||
        ((Info.st_mode & 022) != 0 && ::chmod(FolderPath.constData(), Info.st_mode & 0755) != 0)) {
        if (Error)
            *Error = FileError("Cannot create file", File,
                               QStringLiteral("its folder is not this user's alone"));
        return false;
    }
    // What is in the file's place and not this user's own file goes: the new file would be
    // written through a link, and one this user may not write cannot be replaced.
    if (::lstat(Path.constData(), &Info) == 0 &&
        (!S_ISREG(Info.st_mode) || Info.st_uid != ::geteuid() || (Info.st_mode & 0200) == 0))
        ::unlink(Path.constData());
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
    for (auto It = FEntries.cbegin(); It != FEntries.cend(); ++It) {
        W.PutBytes(It.key());
        Data += It.value();
    }
    Data += QCryptographicHash::hash(Data, Digest);
    return Data;
}

bool TTagCache::FromBytes(const QByteArray &Data) {
    FEntries.clear();
    FModified = false;
    const qsizetype Body = Data.size() - DigestBytes;
    if (Body < Magic.size() || !Data.startsWith(Magic) ||
        QCryptographicHash::hash(QByteArrayView(Data).first(Body), Digest) != Data.mid(Body))
        return false;
    const char *Records = Data.constData() + Magic.size();
    const qsizetype Size = Body - Magic.size();
    TByteReader In(Records, Size);
    const quint32 FileVersion = In.U32();
    const quint32 Count = In.U32();
    if (FileVersion != Version || Count > In.Remaining() / MinRecordBytes)
        return false;
    FEntries.reserve(Count);
    TFileTags Entry;
    for (quint32 I = 0; I < Count; ++I) {
        // Each record is read whole to be checked, then kept as the bytes it was read from.
        const QByteArray Path = In.Bytes(MaxPathBytes);
        const qsizetype From = Size - In.Remaining();
        if (Path.isEmpty() || !TakeFileTagsBody(In, Entry) || Entry.Status == TTagStatus::Missing ||
            Entry.Status == TTagStatus::Unchanged) {
            FEntries.clear();
            return false;
        }
        FEntries.insert(Path, QByteArray(Records + From, Size - In.Remaining() - From));
    }
    if (In.Remaining() != 0) {
        FEntries.clear();
        return false;
    }
    return true;
}

std::optional<TFileTags> TTagCache::Find(const QByteArray &Path) const {
    const auto It = FEntries.constFind(Path);
    if (It == FEntries.cend())
        return std::nullopt;
    TFileTags Entry;
    Entry.Path = It.key();
    TByteReader In(*It);
    TakeFileTagsBody(In, Entry); // checked when it was kept
    return Entry;
}

std::optional<TFileTags> TTagCache::FindCurrent(const QByteArray &Path,
                                                const TFileStamp &Stamp) const {
    if (!Stamp.IsValid() || KnownStamp(Path) != Stamp)
        return std::nullopt;
    return Find(Path);
}

TFileStamp TTagCache::KnownStamp(const QByteArray &Path) const {
    const auto It = FEntries.constFind(Path);
    if (It == FEntries.cend())
        return {};
    TByteReader In(*It);
    TFileStamp Stamp;
    Stamp.MTimeNs = In.I64();
    Stamp.Size = In.I64();
    return Stamp;
}

void TTagCache::Put(const TFileTags &Entry) {
    if (Entry.Status != TTagStatus::Read && Entry.Status != TTagStatus::Unreadable)
        return;
    QByteArray Record;
    PutFileTagsBody(Record, Entry);
    Record.squeeze();
    FEntries.insert(Entry.Path, Record);
    FModified = true;
}

void TTagCache::KeepOnly(const QSet<QByteArray> &Paths) {
    Remove(PathsNotIn(Paths));
}

QByteArrayList TTagCache::PathsNotIn(const QSet<QByteArray> &Paths) const {
    QByteArrayList Out;
    for (auto It = FEntries.cbegin(); It != FEntries.cend(); ++It)
        if (!Paths.contains(It.key()))
            Out.append(It.key());
    return Out;
}

void TTagCache::Remove(const QByteArrayList &Paths) {
    for (const QByteArray &Path : Paths)
        FModified = FEntries.remove(Path) || FModified;
}
