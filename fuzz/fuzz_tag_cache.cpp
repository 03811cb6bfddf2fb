// The tag cache reader. Whatever the file holds, it is either refused with no entry kept, or
// read whole, and then what is written back reads again to the same entries. The input is also
// read with a valid digest appended, so that the records behind the digest check are reached,
// and from a file, as the program reads it. Its text, repeated past the bound of one file's
// tags, is cut to that bound and then read back whole, and refused in a record uncut.
#include "ByteRecord.h"
#include "TagCache.h"

#include <QCryptographicHash>
#include <QTemporaryDir>

#include <cstdlib>

namespace {

void Check(bool Ok) {
    if (!Ok)
        std::abort();
}

void CheckRead(const QByteArray &Bytes) {
    TTagCache Cache;
    if (!Cache.FromBytes(Bytes)) {
        Check(Cache.Count() == 0);
        return;
    }
    const QByteArray Again = Cache.ToBytes();
    TTagCache Reread;
    Check(Reread.FromBytes(Again));
    Check(Reread.Count() == Cache.Count());
    Check(Reread.ToBytes().size() == Again.size());
}

void CheckFile(const QByteArray &Bytes) {
    static QTemporaryDir Dir;
    const QString File = Dir.filePath(QStringLiteral("cache/tags.bin"));
    TTagCache Cache;
    Cache.FromBytes(Bytes);
    Check(Cache.Save(File));
    TTagCache Loaded;
    QString Problem;
    Check(Loaded.Load(File, &Problem) && Problem.isEmpty() && Loaded.Count() == Cache.Count());
}

void CheckBound(const QByteArray &Bytes) {
    if (Bytes.isEmpty())
        return;
    // The first byte says how many times the rest is repeated in each text.
    const QString Text = QString::fromUtf8(Bytes.mid(1).repeated(1 + uchar(Bytes[0]) % 64));
    TFileTags Entry{"/a.mp3", {1, 2}, TTagStatus::Read, {}};
    TTrackTags &T = Entry.Tags;
    T.Title = T.Album = T.Genre = Text;
    T.Artists = QStringList(1 + uchar(Bytes[0]) % 8, Text);
    const bool Over = TagTextBytes(T) > MaxFileTagBytes;
    QByteArray Record;
    PutFileTags(Record, Entry);
    TByteReader Uncut(Record);
    TFileTags Back;
    Check(TakeFileTags(Uncut, Back) != Over);
    BoundTagText(T, MaxFileTagBytes);
    Check(TagTextBytes(T) <= MaxFileTagBytes);
    Record.clear();
    PutFileTags(Record, Entry);
    TByteReader Cut(Record);
    Check(TakeFileTags(Cut, Back) && TagTextBytes(Back.Tags) == TagTextBytes(T));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    const QByteArray Bytes(reinterpret_cast<const char *>(Data), qsizetype(Size));
    const QByteArray Signed = Bytes + QCryptographicHash::hash(Bytes, QCryptographicHash::Md5);
    CheckRead(Bytes);
    CheckRead(Signed);
    CheckFile(Signed);
    CheckBound(Bytes);
    return 0;
}
