#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdlib>
#include <limits>
#include <utility>

// What a file's tags say about its track; empty texts and zero numbers where they say nothing.
struct TTrackTags {
    QString Title;
    // One entry per artist the file names; never split from one text by guess.
    QStringList Artists;
    QString Album;
    QString AlbumArtist;
    QString Genre;
    QString Composer;
    int Track = 0;
    int Disc = 0;
    int Year = 0;
    qint64 DurationMs = 0;
    // The file marks itself as part of a compilation.
    bool Compilation = false;
    // The pictures the reader found (CoverHashOf their bytes; empty: none): the file's embedded
    // front picture, and the cover image in its folder.
    QByteArray EmbeddedCover;
    QByteArray FolderCover;
    // The cover the track shows, chosen from those two: the hash of its picture's bytes (see
    // CoverHashOf), empty when none. The folder's counts only where the folder holds one album;
    // [Library] CoverSource says which wins when both are there (the embedded one by default).
    QByteArray CoverHash;
    // ReplayGain as the tags give it: gains in hundredths of a dB (Opus R128 gains moved onto
    // ReplayGain's reference level), peaks in millionths of full scale; NoGain where none.
    static constexpr qint32 NoGain = std::numeric_limits<qint32>::min();
    qint32 TrackGain = NoGain;
    qint32 AlbumGain = NoGain;
    qint32 TrackPeak = NoGain;
    qint32 AlbumPeak = NoGain;

    // "ReplayGain: track -6.20 dB, album +1.50 dB", with the gains the tags give; empty
    // without any.
    QString GainText() const {
        QStringList Parts;
        for (const auto &[Name, Gain] : {std::pair{"track", TrackGain}, {"album", AlbumGain}})
            if (Gain != NoGain)
                Parts.append(QStringLiteral("%1 %2%3 dB")
                                 .arg(QLatin1String(Name), Gain < 0 ? "-" : "+")
                                 .arg(std::abs(Gain) / 100.0, 0, 'f', 2));
        return Parts.isEmpty() ? QString() : QStringLiteral("ReplayGain: ") + Parts.join(", ");
    }
    // The artists as one line.
    QString Artist() const { return Artists.join(QStringLiteral("; ")); }
    // What a row or a player shows for the track: "Title - Artist"; empty without a title (the
    // file name is shown then).
    QString Caption() const {
        if (Title.isEmpty() || Artists.isEmpty())
            return Title;
        return Title + QStringLiteral(" - ") + Artist();
    }

    friend bool operator==(const TTrackTags &, const TTrackTags &) = default;
};
