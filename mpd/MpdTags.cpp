#include "MpdTags.h"

#include "AsciiText.h"

namespace {

constexpr const char *Names[MpdTagCount] = {"Artist", "Album", "AlbumArtist", "Title", "Track",
                                            "Genre",  "Date",  "Composer",    "Disc"};

// The rest of MPD's tags; clients send them in filters and lists.
constexpr const char *OtherNames[] = {"ArtistSort",
                                      "AlbumSort",
                                      "AlbumArtistSort",
                                      "TitleSort",
                                      "ComposerSort",
                                      "Name",
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

bool SameName(QByteArrayView Name, const char *Known) {
    return SameTextAscii(Name.toByteArray(), QByteArray(Known));
}

void AppendLine(QByteArray &Out, const char *Name, const QByteArray &Value) {
    Out += Name;
    Out += ": ";
    Out += Value;
    Out += '\n';
}

} // namespace

QByteArray MpdTagName(TMpdTag Tag) {
    return QByteArray(Names[int(Tag)]);
}

std::optional<TMpdTag> MpdTagByName(QByteArrayView Name) {
    for (int I = 0; I < MpdTagCount; ++I)
        if (SameName(Name, Names[I]))
            return TMpdTag(I);
    return std::nullopt;
}

bool IsOtherMpdTag(QByteArrayView Name) {
    return !MpdTagSpelling(Name).isEmpty() && !MpdTagByName(Name);
}

QByteArray MpdTagSpelling(QByteArrayView Name) {
    if (const auto Tag = MpdTagByName(Name))
        return MpdTagName(*Tag);
    for (const char *Other : OtherNames)
        if (SameName(Name, Other))
            return QByteArray(Other);
    return {};
}

TMpdTag MpdFallbackTag(TMpdTag Tag) {
    return Tag == TMpdTag::AlbumArtist ? TMpdTag::Artist : Tag;
}

QByteArray MpdLineValue(QByteArrayView Text) {
    QByteArray Value = Text.toByteArray();
    for (char &C : Value)
        if (C == '\n' || C == '\r')
            C = ' ';
    return Value;
}

QByteArray MpdLineValue(QStringView Text) {
    return MpdLineValue(QByteArrayView(Text.toUtf8()));
}

void AppendSongLines(QByteArray &Out, QByteArrayView Uri, const TTrackTags &Tags,
                     TMpdTagMask Mask) {
    AppendLine(Out, "file", MpdLineValue(Uri));
    for (int I = 0; I < MpdTagCount; ++I) {
        if (!(Mask & MpdTagBit(TMpdTag(I))))
            continue;
        ForEachTagValue(Tags, TMpdTag(I),
                        [&](QStringView Value) { AppendLine(Out, Names[I], MpdLineValue(Value)); });
    }
    if (Tags.DurationMs > 0) {
        AppendLine(Out, "Time", QByteArray::number((Tags.DurationMs + 500) / 1000));
        AppendLine(Out, "duration", QByteArray::number(double(Tags.DurationMs) / 1000.0, 'f', 3));
    }
}
