#pragma once

#include "TrackTags.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// The tags an MPD client can ask about, as the library's tracks have them.
enum class TMpdTag : quint8 {
    Artist,
    Album,
    AlbumArtist,
    Title,
    Track,
    Genre,
    Date,
    Composer,
    Disc
};
inline constexpr int MpdTagCount = 9;

// A set of tags, one bit per TMpdTag (a connection's "tagtypes").
using TMpdTagMask = quint32;
inline constexpr TMpdTagMask AllMpdTags = (1u << MpdTagCount) - 1;
inline constexpr TMpdTagMask MpdTagBit(TMpdTag Tag) {
    return 1u << int(Tag);
}

// MPD's name of Tag ("AlbumArtist").
QByteArray MpdTagName(TMpdTag Tag);
// The tag Name names (ASCII case ignored); none when it names none of ours.
std::optional<TMpdTag> MpdTagByName(QByteArrayView Name);
// Whether Name is a tag MPD knows that the tracks here never have (Performer, Comment...): a
// filter or list on it sees every track without it.
bool IsOtherMpdTag(QByteArrayView Name);
// MPD's spelling of the tag Name names, ours or another; empty when MPD knows no such tag.
QByteArray MpdTagSpelling(QByteArrayView Name);

// Calls Do(QStringView) for each value Tags has of Tag (none, one, or one per artist).
template <typename TDo> void ForEachTagValue(const TTrackTags &Tags, TMpdTag Tag, TDo &&Do) {
    const auto Text = [&](const QString &Value) {
        if (!Value.isEmpty())
            Do(QStringView(Value));
    };
    const auto Number = [&](int Value) {
        if (Value > 0)
            Do(QStringView(QString::number(Value)));
    };
    switch (Tag) {
    case TMpdTag::Artist:
        for (const QString &Artist : Tags.Artists)
            Text(Artist);
        break;
    case TMpdTag::Album:
        Text(Tags.Album);
        break;
    case TMpdTag::AlbumArtist:
        Text(Tags.AlbumArtist);
        break;
    case TMpdTag::Title:
        Text(Tags.Title);
        break;
    case TMpdTag::Track:
        Number(Tags.Track);
        break;
    case TMpdTag::Genre:
        Text(Tags.Genre);
        break;
    case TMpdTag::Date:
        Number(Tags.Year);
        break;
    case TMpdTag::Composer:
        Text(Tags.Composer);
        break;
    case TMpdTag::Disc:
        Number(Tags.Disc);
        break;
    }
}

// The tag a track stands for in lists and filters when it lacks Tag itself: its artists for
// AlbumArtist (as MPD does); Tag itself otherwise.
TMpdTag MpdFallbackTag(TMpdTag Tag);

// Text as one value of a response line: line breaks become spaces (a tag is never a new line).
QByteArray MpdLineValue(QStringView Text);
QByteArray MpdLineValue(QByteArrayView Text);

// The lines MPD sends for a track: "file: " Uri, each tag of Mask it has, "Time:" and
// "duration:" when its length is known.
void AppendSongLines(QByteArray &Out, QByteArrayView Uri, const TTrackTags &Tags,
                     TMpdTagMask Mask = AllMpdTags);
