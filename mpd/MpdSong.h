#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QList>

#include <optional>
#include <utility>

class TMpdResponse;

// The tags this door can tell about a song ("tagtypes"). New ones go at the end.
enum class TMpdTag : int {
    Artist,
    Album,
    AlbumArtist,
    Title,
    Track,
    Name,
    Genre,
    Date,
    Composer,
    Disc,
    Count
};
using TMpdTagMask = quint32;
inline constexpr TMpdTagMask MpdAllTags = (1u << int(TMpdTag::Count)) - 1;
inline constexpr TMpdTagMask MpdTagBit(TMpdTag Tag) {
    return 1u << int(Tag);
}

// The tag's name as the protocol spells it ("AlbumArtist").
QByteArray MpdTagName(TMpdTag Tag);
// The tag of a name, case ignored; nullopt for one this door does not know.
std::optional<TMpdTag> MpdTagOf(QByteArrayView Name);

// Whether Name is a tag other servers know that this door has no values for.
bool IsOtherMpdTag(QByteArrayView Name);
// The protocol's spelling of the tag Name names, this door's or another; empty for none.
QByteArray MpdTagSpelling(QByteArrayView Name);

// One song as an answer describes it: a queue row or a library file.
struct TMpdSong {
    // The URI: a library file's path below its root, or the URL of a row that is none.
    QByteArray File;
    // Tags in the order they are written; a tag may come more than once (several artists).
    QList<std::pair<TMpdTag, QByteArray>> Tags;
    double Duration = -1;     // seconds; < 0 when unknown
    qint64 LastModified = -1; // seconds since the epoch; < 0 when unknown
    QByteArray Format;        // "44100:16:2"; empty when unknown
};

// "file:", "Last-Modified:", "Format:", the tags the client asked for (Mask), "Time:" and
// "duration:", as the protocol lists a song.
void WriteSong(TMpdResponse &Out, TMpdTagMask Mask, const TMpdSong &Song);
