#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdio>

// A realistic library path for entry I.
inline QByteArray TrackPath(int I) {
    return "/home/user/Music/Artist " + QByteArray::number(I / 1000) + "/Album " +
           QByteArray::number(I / 10) + "/Track " + QByteArray::number(I) + ".mp3";
}

// Writes a library file of Entries paths; false (and a message) when it cannot.
inline bool WriteLibraryFile(const QString &Path, int Entries) {
    QByteArray Text;
    for (int I = 0; I < Entries; ++I)
        Text += TrackPath(I) + "\r\n";
    QFile File(Path);
    if (File.open(QIODevice::WriteOnly) && File.write(Text) == Text.size())
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(Path));
    return false;
}

// The formats of the generated tagged files.
inline const QStringList TaggedFormats{"mp3", "flac", "ogg", "opus", "m4a",
                                       "wav", "aiff", "wv",  "wma"};

// One short tone in Format, tagged by the encoder (ffmpeg); empty when it cannot be made.
inline QByteArray TaggedTemplate(const QString &Dir, const QString &Format) {
    const QString Path = Dir + "/template." + Format;
    QProcess Encoder;
    Encoder.start("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                             "sine=frequency=440:duration=0.05:sample_rate=8000", "-ac", "1",
                             "-metadata", "title=Fjellsang", "-metadata", "artist=Annbjørg Lien",
                             "-metadata", "album=Prisme", "-metadata", "track=3/12", Path});
    Encoder.waitForFinished(60000);
    QFile File(Path);
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}

// Fills Dir with Files tiny tagged files of mixed formats, 1000 to a folder ("d0/f0.mp3", ...);
// their paths, in the order made.
inline QByteArrayList MakeTaggedFiles(const QString &Dir, int Files) {
    QList<QByteArray> Templates;
    for (const QString &Format : TaggedFormats)
        Templates.append(TaggedTemplate(Dir, Format));
    QByteArrayList Paths;
    for (int I = 0; I < Files; ++I) {
        const QString Folder = Dir + "/d" + QString::number(I / 1000);
        if (I % 1000 == 0)
            QDir().mkpath(Folder);
        const int F = I % int(TaggedFormats.size());
        const QString Path = Folder + "/f" + QString::number(I) + "." + TaggedFormats[F];
        QFile File(Path);
        if (!File.open(QIODevice::WriteOnly) || File.write(Templates[F]) != Templates[F].size())
            std::fprintf(stderr, "cannot write %s\n", qPrintable(Path));
        Paths.append(QFile::encodeName(Path));
    }
    return Paths;
}
