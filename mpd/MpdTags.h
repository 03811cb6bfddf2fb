#pragma once

#include "MpdSong.h"
#include "TrackTags.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>

// The library's tracks as MPD clients see their tags.

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
    case TMpdTag::Name: // a stream's name: no library file has one
    case TMpdTag::Count:
        break;
    }
}

// The tag a track stands for in lists and filters when it lacks Tag itself: its artists for
// AlbumArtist (as MPD does); Tag itself otherwise.
TMpdTag MpdFallbackTag(TMpdTag Tag);

// The song a library track is to MPD clients, under Uri.
TMpdSong MpdSongOf(QByteArrayView Uri, const TTrackTags &Tags);

// A time as MPD writes it: ISO 8601 in UTC ("2024-01-31T12:00:00Z").
QByteArray MpdTime(const QDateTime &Time);
