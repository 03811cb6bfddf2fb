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

} // namespace

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
