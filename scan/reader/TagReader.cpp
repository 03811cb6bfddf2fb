#include "TagReader.h"

#include "CoverPicture.h"
#include "CoverReader.h"

#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/infotag.h>
#include <taglib/mp4file.h>
#include <taglib/tpropertymap.h>

#include <QByteArrayView>

#include <cmath>

namespace {

// Longer values are cut: a title is never this long, a hostile file's may be.
constexpr qsizetype MaxValueChars = 1024;
constexpr qsizetype MaxListed = 32;
constexpr const char *ListSeparator = "; ";

QString ToText(const TagLib::String &Value) {
    QString Text = QString::fromStdWString(Value.toWString());
    if (Text.size() > MaxValueChars) {
        Text.truncate(MaxValueChars);
        // Never keep half of a surrogate pair.
        if (Text.back().isHighSurrogate())
            Text.chop(1);
    }
    return Text;
}

QStringList Values(const TagLib::PropertyMap &Map, const char *Key) {
    QStringList List;
    const auto It = Map.find(Key);
    if (It == Map.end())
        return List;
    for (const TagLib::String &Value : It->second) {
        if (List.size() == MaxListed)
            break;
        if (const QString Text = ToText(Value); !Text.isEmpty())
            List.append(Text);
    }
    return List;
}

QString First(const TagLib::PropertyMap &Map, const char *Key) {
    const QStringList List = Values(Map, Key);
    return List.isEmpty() ? QString() : List.front();
}

// The number a value starts with ("3/12" is 3, "2004-05-01" is 2004); 0 when none.
int LeadingNumber(const QString &Text) {
    int N = 0;
    for (const QChar C : Text.trimmed()) {
        if (C < u'0' || C > u'9' || N > 99999)
            break;
        N = N * 10 + (C.unicode() - u'0');
    }
    return N;
}

// RIFF INFO text has no declared encoding: many writers use the system code page, which the
// tag library's UTF-8 decoding turns into an empty value. Valid UTF-8 stays UTF-8; any other
// bytes are taken as Latin-1, which decodes every byte.
class TInfoText : public TagLib::RIFF::Info::StringHandler {
public:
    TagLib::String parse(const TagLib::ByteVector &Data) const override {
        const bool Utf8 = QByteArrayView(Data.data(), Data.size()).isValidUtf8();
        return TagLib::String(Data, Utf8 ? TagLib::String::UTF8 : TagLib::String::Latin1);
    }
};

// A ReplayGain value ("-6.20 dB", "0.988"), Scale per unit, within Limit; NoGain otherwise.
qint32 GainValue(const QString &Text, double Scale, double Limit) {
    QString Number = Text.trimmed();
    if (Number.endsWith(QStringLiteral("dB"), Qt::CaseInsensitive))
        Number.chop(2);
    bool Ok = false;
    const double Value = Number.trimmed().toDouble(&Ok);
    if (!Ok || !std::isfinite(Value) || std::abs(Value) > Limit)
        return TTrackTags::NoGain;
    return qint32(std::lround(Value * Scale));
}

// MP4 keeps ReplayGain in iTunes freeform items, which the property map leaves out.
void AddMp4ReplayGain(TagLib::File &File, TagLib::PropertyMap &Map) {
    const auto *Mp4 = dynamic_cast<TagLib::MP4::File *>(&File);
    if (!Mp4 || !Mp4->tag())
        return;
    for (const char *Key : {"REPLAYGAIN_TRACK_GAIN", "REPLAYGAIN_ALBUM_GAIN",
                            "REPLAYGAIN_TRACK_PEAK", "REPLAYGAIN_ALBUM_PEAK"}) {
        const TagLib::String Item =
            "----:com.apple.iTunes:" + QByteArray(Key).toLower().toStdString();
        if (Mp4->tag()->contains(Item) && !Map.contains(Key))
            Map.insert(Key, Mp4->tag()->item(Item).toStringList());
    }
}

void ReadReplayGain(const TagLib::PropertyMap &Map, TTrackTags &T) {
    constexpr double MaxDb = 100, MaxPeak = 100;
    T.TrackGain = GainValue(First(Map, "REPLAYGAIN_TRACK_GAIN"), 100, MaxDb);
    T.AlbumGain = GainValue(First(Map, "REPLAYGAIN_ALBUM_GAIN"), 100, MaxDb);
    T.TrackPeak = GainValue(First(Map, "REPLAYGAIN_TRACK_PEAK"), 1e6, MaxPeak);
    T.AlbumPeak = GainValue(First(Map, "REPLAYGAIN_ALBUM_PEAK"), 1e6, MaxPeak);
    // Opus: 1/256 dB steps towards -23 LUFS, 5 dB below ReplayGain's -18 LUFS.
    const auto R128 = [&Map](const char *Key, qint32 &Gain) {
        const qint32 Steps = GainValue(First(Map, Key), 1, 32768);
        if (Gain == TTrackTags::NoGain && Steps != TTrackTags::NoGain)
            Gain = qint32(std::lround(Steps * 100.0 / 256)) + 500;
    };
    R128("R128_TRACK_GAIN", T.TrackGain);
    R128("R128_ALBUM_GAIN", T.AlbumGain);
}

} // namespace

TFileTags ReadFileTags(const QByteArray &Path, const TFileStamp &Stamp) {
    // Set once, before the first file is opened; the tag library keeps the pointer.
    static const TInfoText InfoText;
    static const bool InfoTextSet = (TagLib::RIFF::Info::Tag::setStringHandler(&InfoText), true);
    Q_UNUSED(InfoTextSet);
    TFileTags Entry{Path, Stamp, TTagStatus::Unreadable, {}};
    const TagLib::FileRef Ref(Path.constData(), true, TagLib::AudioProperties::Average);
    if (Ref.isNull())
        return Entry;
    Entry.Status = TTagStatus::Read;
    TTrackTags &T = Entry.Tags;
    // The property map holds every tag of the file, WAV's RIFF INFO included, with a value per
    // artist where the file keeps them apart.
    TagLib::PropertyMap Map = Ref.file()->properties();
    AddMp4ReplayGain(*Ref.file(), Map);
    T.Title = First(Map, "TITLE");
    T.Album = First(Map, "ALBUM");
    T.AlbumArtist = First(Map, "ALBUMARTIST");
    T.Genre = Values(Map, "GENRE").join(ListSeparator);
    T.Composer = Values(Map, "COMPOSER").join(ListSeparator);
    T.Artists = Values(Map, "ARTISTS");
    if (T.Artists.isEmpty())
        T.Artists = Values(Map, "ARTIST");
    T.Track = LeadingNumber(First(Map, "TRACKNUMBER"));
    T.Disc = LeadingNumber(First(Map, "DISCNUMBER"));
    T.Year = LeadingNumber(First(Map, "DATE"));
    T.Compilation = LeadingNumber(First(Map, "COMPILATION")) == 1;
    ReadReplayGain(Map, T);
    if (const TagLib::AudioProperties *Audio = Ref.audioProperties())
        T.DurationMs = qMax(0, Audio->lengthInMilliseconds());
    // Only the hash leaves this process: a picture of megabytes never rides in a frame.
    if (const QByteArray Picture = FrontPicture(*Ref.file()); !Picture.isEmpty())
        T.EmbeddedCover = CoverHashOf(Picture);
    T.FolderCover = FolderCoverHash(Path);
    BoundTagText(T, MaxFileTagBytes);
    return Entry;
}
