#include "MpdTags.h"

#include "AsciiText.h"

TMpdTag MpdFallbackTag(TMpdTag Tag) {
    return Tag == TMpdTag::AlbumArtist ? TMpdTag::Artist : Tag;
}

TMpdSong MpdSongOf(QByteArrayView Uri, const TTrackTags &Tags) {
    TMpdSong Song;
    Song.File = Uri.toByteArray();
    for (int Tag = 0; Tag < int(TMpdTag::Count); ++Tag)
        ForEachTagValue(Tags, TMpdTag(Tag), [&](QStringView Value) {
            Song.Tags.append({TMpdTag(Tag), Value.toUtf8()});
        });
    if (Tags.DurationMs > 0)
        Song.Duration = double(Tags.DurationMs) / 1000.0;
    return Song;
}

QByteArray MpdTime(const QDateTime &Time) {
    return Time.toUTC().toString(Qt::ISODate).toLatin1();
}
