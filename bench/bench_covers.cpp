// Covers' thumbnails: prints the time to make one (96 and 300 px) from a folder's 1500 px JPEG,
// a 3000 px PNG and a 1500 px JPEG embedded in an MP3 (taken out by the scanner process), and
// the thumbnail files' sizes. Usage: bench_covers [covers per kind] (default 20)
#include "CoverStore.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// A picture that compresses like a photo (gradients, with noise when Noisy; a noisy 3000 px PNG
// is past the size cap), different for each Seed.
QImage Photo(int Side, int Seed, bool Noisy) {
    QImage Image(Side, Side, QImage::Format_RGB32);
    quint32 R = quint32(Seed) * 2654435761u + 1;
    for (int Y = 0; Y < Side; ++Y) {
        auto *Line = reinterpret_cast<QRgb *>(Image.scanLine(Y));
        for (int X = 0; X < Side; ++X) {
            R = R * 1664525u + 1013904223u;
            const int Noise = Noisy ? int(R >> 28) : 0;
            Line[X] = qRgb((X * 255 / Side + Noise + Seed * 7) & 255,
                           (Y * 255 / Side + Noise) & 255, ((X + Y) * 127 / Side + Noise) & 255);
        }
    }
    return Image;
}

} // namespace

int main(int Argc, char **Argv) {
    QCoreApplication App(Argc, Argv);
    const int Count = Argc > 1 ? atoi(Argv[1]) : 20;
    QTemporaryDir Dir;
    const QString Scanner = VX_TAGSCAN_EXE;
    TCoverStore Store(Dir.filePath("thumbs"), Scanner);
    QSignalSpy Ready(&Store, &TCoverStore::Ready), Failed(&Store, &TCoverStore::Failed);
    struct TKind {
        const char *Name;
        bool Png, Embedded;
    };
    for (const TKind &K :
         {TKind{"folder 1500 px JPEG", false, false}, TKind{"folder 3000 px PNG", true, false},
          TKind{"embedded 1500 px JPEG", false, true}}) {
        const char *Kind = K.Name;
        const bool Png = K.Png, Embedded = K.Embedded;
        QList<QByteArray> Hashes;
        for (int I = 0; I < Count; ++I) {
            const QString Folder = Dir.filePath(QString("%1-%2").arg(Kind).arg(I));
            QDir().mkpath(Folder);
            QByteArray Picture;
            QBuffer Out(&Picture);
            Out.open(QIODevice::WriteOnly);
            Photo(Png ? 3000 : 1500,
                  I + (Png        ? 1000
                       : Embedded ? 2000
                                  : 0),
                  !Png)
                .save(&Out, Png ? "PNG" : "JPEG", Png ? -1 : 90);
            QByteArray Track = QFile::encodeName(Folder + "/t.mp3");
            if (Embedded) {
                QFile P(Folder + "/p.jpg");
                P.open(QIODevice::WriteOnly);
                P.write(Picture);
                P.close();
                QProcess::execute("ffmpeg", {"-v",
                                             "error",
                                             "-y",
                                             "-f",
                                             "lavfi",
                                             "-i",
                                             "sine=duration=0.2",
                                             "-i",
                                             Folder + "/p.jpg",
                                             "-map",
                                             "0",
                                             "-map",
                                             "1",
                                             "-c:v",
                                             "copy",
                                             "-id3v2_version",
                                             "3",
                                             "-disposition:v",
                                             "attached_pic",
                                             QFile::decodeName(Track)});
                QFile::remove(Folder + "/p.jpg");
            } else {
                QFile P(Folder + (Png ? "/cover.png" : "/cover.jpg"));
                P.open(QIODevice::WriteOnly);
                P.write(Picture);
            }
            const QByteArray Hash = CoverHashOf(Picture);
            Store.Learn(Hash, Track, Embedded ? TCoverSource::Embedded : TCoverSource::Folder);
            Hashes.append(Hash);
        }
        for (const int Size : {TCoverStore::SmallSize, TCoverStore::LargeSize}) {
            int Failures = 0;
            QElapsedTimer Clock;
            Clock.start();
            // One at a time: the time of one thumbnail, not of the pool's two threads.
            qint64 Bytes = 0;
            for (const QByteArray &Hash : Hashes) {
                QEventLoop Wait;
                QObject::connect(&Store, &TCoverStore::Ready, &Wait, &QEventLoop::quit);
                QObject::connect(&Store, &TCoverStore::Failed, &Wait, &QEventLoop::quit);
                Store.Request(Hash, Size);
                Wait.exec();
                Failures += int(Failed.size());
                Ready.clear();
                Failed.clear();
                Bytes += QFileInfo(Store.ThumbnailFile(Hash, Size)).size();
            }
            const double Ms = double(Clock.nsecsElapsed()) / 1e6 / double(Count);
            std::printf("%-24s %3d px: %7.1f ms per cover, %6.1f KB per thumbnail, %d failed\n",
                        Kind, Size, Ms, double(Bytes) / 1024.0 / double(Count), Failures);
        }
    }
    return 0;
}
