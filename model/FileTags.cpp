#include "FileTags.h"

#include "ByteRecord.h"
#include "CoverPicture.h"

#include <sys/stat.h>

namespace {

qsizetype Utf8Bytes(QStringView Text) {
    qsizetype Bytes = 0;
    for (qsizetype I = 0; I < Text.size(); ++I) {
        const char16_t C = Text[I].unicode();
        if (QChar::isHighSurrogate(C) && I + 1 < Text.size() && Text[I + 1].isLowSurrogate()) {
            Bytes += 4;
            ++I;
        } else {
            Bytes += C < 0x80 ? 1 : C < 0x800 ? 2 : 3; // a lone surrogate becomes U+FFFD
        }
    }
    return Bytes;
}

// Text cut to the Left bytes that are left, which it takes from Left.
void CutText(QString &Text, qsizetype &Left) {
    const qsizetype Bytes = Utf8Bytes(Text);
    if (Bytes <= Left) {
        Left -= Bytes;
        return;
    }
    const QByteArray Utf8 = Text.toUtf8();
    qsizetype End = Left;
    while (End > 0 && (uchar(Utf8[End]) & 0xC0) == 0x80)
        --End;
    Text = QString::fromUtf8(Utf8.first(End));
    Left = 0;
}

} // namespace

qsizetype TagTextBytes(const TTrackTags &T) {
    qsizetype Bytes = 0;
    for (const QString *Text : {&T.Title, &T.Album, &T.AlbumArtist, &T.Genre, &T.Composer})
        Bytes += Utf8Bytes(*Text);
    for (const QString &Artist : T.Artists)
        Bytes += Utf8Bytes(Artist);
    return Bytes;
}

void BoundTagText(TTrackTags &T, qsizetype Max) {
    if (TagTextBytes(T) <= Max)
        return;
    qsizetype Left = Max;
    CutText(T.Title, Left);
    for (QString &Artist : T.Artists)
        CutText(Artist, Left);
    T.Artists.removeAll(QString());
    for (QString *Text : {&T.Album, &T.AlbumArtist, &T.Genre, &T.Composer})
        CutText(*Text, Left);
}

TFileStamp StampOf(const QByteArray &Path) {
    struct stat Info {};
    if (Path.contains('\0') || ::stat(Path.constData(), &Info) != 0)
        return {};
    return {qint64(Info.st_mtim.tv_sec) * 1000000000 + Info.st_mtim.tv_nsec, qint64(Info.st_size)};
}

void PutFileTags(QByteArray &Out, const TFileTags &Entry) {
    TByteWriter(Out).PutBytes(Entry.Path);
    PutFileTagsBody(Out, Entry);
}

bool TakeFileTags(TByteReader &In, TFileTags &Entry) {
    Entry.Path = In.Bytes(MaxPathBytes);
    if (Entry.Path.isEmpty())
        In.Fail();
    return TakeFileTagsBody(In, Entry);
}

void PutFileTagsBody(QByteArray &Out, const TFileTags &Entry) {
    TByteWriter W(Out);
    const TTrackTags &T = Entry.Tags;
    W.PutI64(Entry.Stamp.MTimeNs);
    W.PutI64(Entry.Stamp.Size);
    W.PutU8(quint8(Entry.Status));
    for (const QString *Text : {&T.Title, &T.Album, &T.AlbumArtist, &T.Genre, &T.Composer})
        W.PutText(*Text);
    W.PutU32(quint32(T.Artists.size()));
    for (const QString &Artist : T.Artists)
        W.PutText(Artist);
    for (const int N : {T.Track, T.Disc, T.Year})
        W.PutU32(quint32(N));
    W.PutI64(T.DurationMs);
    W.PutU8(T.Compilation ? 1 : 0);
    // CoverHash is chosen from these by the library, which knows the folder's other tracks.
    W.PutBytes(T.EmbeddedCover);
    W.PutBytes(T.FolderCover);
    for (const qint32 N : {T.TrackGain, T.AlbumGain, T.TrackPeak, T.AlbumPeak})
        W.PutU32(quint32(N));
}

bool TakeFileTagsBody(TByteReader &In, TFileTags &Entry) {
    TTrackTags &T = Entry.Tags;
    Entry.Stamp.MTimeNs = In.I64();
    Entry.Stamp.Size = In.I64();
    const quint8 Status = In.U8();
    if (Status > quint8(TTagStatus::Unchanged))
        In.Fail();
    Entry.Status = TTagStatus(Status);
    for (QString *Text : {&T.Title, &T.Album, &T.AlbumArtist, &T.Genre, &T.Composer})
        *Text = In.Text(MaxFileTagBytes);
    const quint32 Artists = In.U32();
    if (Artists > MaxArtists)
        In.Fail();
    T.Artists.clear();
    for (quint32 I = 0; I < Artists && In.Ok(); ++I)
        T.Artists.append(In.Text(MaxFileTagBytes));
    for (int *N : {&T.Track, &T.Disc, &T.Year})
        *N = int(In.U32());
    T.DurationMs = In.I64();
    const quint8 Compilation = In.U8();
    if (Compilation > 1)
        In.Fail();
    T.Compilation = Compilation == 1;
    for (QByteArray *Hash : {&T.EmbeddedCover, &T.FolderCover}) {
        *Hash = In.Bytes(CoverHashChars);
        if (!Hash->isEmpty() && !IsCoverHash(*Hash))
            In.Fail();
    }
    for (qint32 *N : {&T.TrackGain, &T.AlbumGain, &T.TrackPeak, &T.AlbumPeak})
        *N = qint32(In.U32());
    T.CoverHash.clear();
    if (TagTextBytes(T) > MaxFileTagBytes)
        In.Fail();
    return In.Ok();
}
