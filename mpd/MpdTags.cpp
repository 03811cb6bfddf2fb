#include "MpdTags.h"

#include "AsciiText.h"

namespace {

// The rest of MPD's tags; clients send them in filters and lists.
constexpr const char *OtherNames[] = {"ArtistSort",
                                      "AlbumSort",
                                      "AlbumArtistSort",
                                      "TitleSort",
                                      "ComposerSort",
                                      "OriginalDate",
                                      "Performer",
                                      "Conductor",
                                      "Work",
                                      "Movement",
                                      "MovementNumber",
                                      "Ensemble",
                                      "Location",
                                      "Grouping",
                                      "Comment",
                                      "Label",
                                      "Mood",
                                      "MUSICBRAINZ_ARTISTID",
                                      "MUSICBRAINZ_ALBUMID",
                                      "MUSICBRAINZ_ALBUMARTISTID",
                                      "MUSICBRAINZ_TRACKID",
                                      "MUSICBRAINZ_RELEASETRACKID",
                                      "MUSICBRAINZ_WORKID"};

} // namespace

TMpdTag MpdFallbackTag(TMpdTag Tag) {
    return Tag == TMpdTag::AlbumArtist ? TMpdTag::Artist : Tag;
}

bool IsOtherMpdTag(QByteArrayView Name) {
    return !MpdTagOf(Name) && !MpdTagSpelling(Name).isEmpty();
}

QByteArray MpdTagSpelling(QByteArrayView Name) {
    if (const auto Tag = MpdTagOf(Name))
        return MpdTagName(*Tag);
    for (const char *Other : OtherNames)
        if (SameTextAscii(Name.toByteArray(), QByteArray(Other)))
            return QByteArray(Other);
    return {};
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
