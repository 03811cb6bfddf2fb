#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

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
