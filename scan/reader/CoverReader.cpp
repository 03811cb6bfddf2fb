#include "CoverReader.h"

#include "CoverPicture.h"
#include "ScanLoop.h"

#include <taglib/aifffile.h>
#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/asftag.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4tag.h>
#include <taglib/mpcfile.h>
#include <taglib/mpegfile.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>
#include <taglib/xiphcomment.h>

#include <QHash>

#include <cerrno>
#include <unistd.h>

namespace {

// Keeps the first picture offered, or the first front cover after it.
struct TPick {
    QByteArray Data;
    bool Front = false;

    void Offer(const TagLib::ByteVector &Bytes, bool IsFront) {
        if (Bytes.isEmpty() || Bytes.size() > MaxCoverBytes || Front ||
            (!Data.isEmpty() && !IsFront))
            return;
        Data = QByteArray(Bytes.data(), qsizetype(Bytes.size()));
        Front = IsFront;
    }
};

void FromId3(TPick &Pick, TagLib::ID3v2::Tag *Tag) {
    if (!Tag)
        return;
    for (TagLib::ID3v2::Frame *Frame : Tag->frameList("APIC"))
        if (const auto *P = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame *>(Frame))
            Pick.Offer(P->picture(), P->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover);
}

void FromFlac(TPick &Pick, const TagLib::List<TagLib::FLAC::Picture *> &Pictures) {
    for (const TagLib::FLAC::Picture *P : Pictures)
        Pick.Offer(P->data(), P->type() == TagLib::FLAC::Picture::FrontCover);
}

void FromApe(TPick &Pick, TagLib::APE::Tag *Tag) {
    if (!Tag)
        return;
    const auto &Items = Tag->itemListMap();
    for (const char *Key : {"COVER ART (FRONT)", "COVER ART (OTHER)"}) {
        const auto It = Items.find(Key);
        if (It == Items.end() || It->second.type() != TagLib::APE::Item::Binary)
            continue;
        // A file name, a NUL, then the picture.
        const TagLib::ByteVector Value = It->second.binaryData();
        const int Nul = Value.find('\0');
        if (Nul >= 0)
            Pick.Offer(Value.mid(uint(Nul) + 1), Key[11] == 'F');
    }
}

} // namespace

QByteArray FrontPicture(TagLib::File &File) {
    using namespace TagLib;
    TPick Pick;
    if (auto *F = dynamic_cast<MPEG::File *>(&File)) {
        FromId3(Pick, F->ID3v2Tag());
        FromApe(Pick, F->APETag());
    } else if (auto *Flac = dynamic_cast<FLAC::File *>(&File)) {
        FromFlac(Pick, Flac->pictureList());
        if (!Pick.Front && Flac->hasXiphComment())
            FromFlac(Pick, Flac->xiphComment()->pictureList());
        if (!Pick.Front)
            FromId3(Pick, Flac->ID3v2Tag());
    } else if (auto *Wav = dynamic_cast<RIFF::WAV::File *>(&File)) {
        FromId3(Pick, Wav->ID3v2Tag());
    } else if (auto *Aiff = dynamic_cast<RIFF::AIFF::File *>(&File)) {
        FromId3(Pick, Aiff->tag());
    } else if (auto *Ape = dynamic_cast<APE::File *>(&File)) {
        FromApe(Pick, Ape->APETag());
    } else if (auto *WavPack = dynamic_cast<WavPack::File *>(&File)) {
        FromApe(Pick, WavPack->APETag());
    } else if (auto *Mpc = dynamic_cast<MPC::File *>(&File)) {
        FromApe(Pick, Mpc->APETag());
    } else if (auto *Xiph = dynamic_cast<Ogg::XiphComment *>(File.tag())) {
        FromFlac(Pick, Xiph->pictureList());
    } else if (auto *Mp4 = dynamic_cast<MP4::Tag *>(File.tag())) {
        if (Mp4->contains("covr"))
            for (const MP4::CoverArt &Art : Mp4->item("covr").toCoverArtList())
                Pick.Offer(Art.data(), false);
    } else if (auto *Asf = dynamic_cast<ASF::Tag *>(File.tag())) {
        for (const ASF::Attribute &A : Asf->attribute("WM/Picture")) {
            const ASF::Picture P = A.toPicture();
            if (P.isValid())
                Pick.Offer(P.picture(), P.type() == ASF::Picture::FrontCover);
        }
    }
    return Pick.Data;
}

QByteArray FolderCoverHash(const QByteArray &Path) {
    // Requests come in library order: a folder's tracks mostly follow one another.
    static QHash<QByteArray, QByteArray> Known;
    const QByteArray Folder = FolderOf(Path);
    if (const auto It = Known.constFind(Folder); It != Known.cend())
        return *It;
    if (Known.size() >= 4096)
        Known.clear();
    const QByteArray File = FolderCoverFile(Folder);
    const QByteArray Picture = File.isEmpty() ? QByteArray() : ReadPictureFile(File);
    return Known[Folder] = Picture.isEmpty() ? QByteArray() : CoverHashOf(Picture);
}

int WriteFrontPicture() {
    QByteArray Path;
    char Buffer[4096];
    for (;;) {
        const ssize_t N = ::read(STDIN_FILENO, Buffer, sizeof Buffer);
        if (N < 0 && errno == EINTR)
            continue;
        if (N < 0 || Path.size() > 64 * 1024)
            return 2;
        if (N == 0)
            break;
        Path.append(Buffer, N);
    }
    if (Path.isEmpty() || Path.contains('\0'))
        return 2;
    TagLib::FileRef Ref(Path.constData(), false);
    const QByteArray Picture = Ref.isNull() ? QByteArray() : FrontPicture(*Ref.file());
    if (Picture.isEmpty())
        return 2;
    return WriteAll(Picture) ? 0 : 1;
}
