#include "MpdSong.h"

#include "AsciiText.h"
#include "MpdResponse.h"

#include <QDateTime>
#include <QTimeZone>

#include <cmath>

namespace {

constexpr const char *TagNames[] = {"Artist", "Album", "AlbumArtist", "Title",    "Track",
                                    "Name",   "Genre", "Date",        "Composer", "Disc"};
static_assert(std::size(TagNames) == size_t(TMpdTag::Count));

// Tags other servers know and this door has none of: clients may name them in "tagtypes".
constexpr const char *OtherTagNames[] = {"ArtistSort",
                                         "AlbumSort",
                                         "AlbumArtistSort",
                                         "TitleSort",
                                         "Mood",
                                         "OriginalDate",
                                         "ComposerSort",
                                         "Performer",
                                         "Conductor",
                                         "Work",
                                         "Ensemble",
                                         "Movement",
                                         "MovementNumber",
                                         "Location",
                                         "Grouping",
                                         "Comment",
                                         "Label",
                                         "MUSICBRAINZ_ARTISTID",
                                         "MUSICBRAINZ_ALBUMID",
                                         "MUSICBRAINZ_ALBUMARTISTID",
                                         "MUSICBRAINZ_TRACKID",
                                         "MUSICBRAINZ_RELEASETRACKID",
                                         "MUSICBRAINZ_WORKID"};

} // namespace

bool IsOtherMpdTag(QByteArrayView Name) {
    for (const char *Other : OtherTagNames)
        if (SameTextAscii(QByteArray(Other), Name.toByteArray()))
            return true;
    return false;
}

QByteArray MpdTagSpelling(QByteArrayView Name) {
    if (const auto Tag = MpdTagOf(Name))
        return MpdTagName(*Tag);
    for (const char *Other : OtherTagNames)
        if (SameTextAscii(QByteArray(Other), Name.toByteArray()))
            return QByteArray(Other);
    return {};
}

QByteArray MpdTagName(TMpdTag Tag) {
    return Tag >= TMpdTag::Artist && Tag < TMpdTag::Count ? QByteArray(TagNames[int(Tag)])
                                                          : QByteArray();
}

std::optional<TMpdTag> MpdTagOf(QByteArrayView Name) {
    for (int I = 0; I < int(TMpdTag::Count); ++I)
        if (SameTextAscii(QByteArray(TagNames[I]), Name.toByteArray()))
            return TMpdTag(I);
    return std::nullopt;
}

void WriteSong(TMpdResponse &Out, TMpdTagMask Mask, const TMpdSong &Song) {
    Out.Add("file", Song.File);
    if (Song.LastModified >= 0)
        Out.Add("Last-Modified", QDateTime::fromSecsSinceEpoch(Song.LastModified, QTimeZone::utc())
                                     .toString(Qt::ISODate)
                                     .toLatin1());
    if (!Song.Format.isEmpty())
        Out.Add("Format", Song.Format);
    for (const auto &[Tag, Value] : Song.Tags)
        if (Mask & MpdTagBit(Tag))
            Out.Add(MpdTagName(Tag), Value);
    if (Song.Duration >= 0) {
        Out.Add("Time", qint64(std::lround(Song.Duration)));
        Out.AddSeconds("duration", Song.Duration);
    }
}
