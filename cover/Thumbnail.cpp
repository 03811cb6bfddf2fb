#include "Thumbnail.h"

#include "CoverPicture.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QProcess>

QByteArray ThumbnailJpeg(const QByteArray &Picture, int Size) {
    QBuffer In;
    In.setData(Picture);
    In.open(QIODevice::ReadOnly);
    QImageReader Reader(&In);
    Reader.setAutoTransform(true);
    const QSize Full = Reader.size();
    if (!Full.isValid() || Full.isEmpty() || qint64(Full.width()) * Full.height() > MaxCoverPixels)
        return {};
    if (Full.width() > Size || Full.height() > Size)
        Reader.setScaledSize(Full.scaled(Size, Size, Qt::KeepAspectRatio).expandedTo({1, 1}));
    QImage Image = Reader.read();
    if (Image.isNull())
        return {};
    // JPEG has no transparency: a transparent cover shows on white, as pages show it.
    if (Image.hasAlphaChannel()) {
        QImage Flat(Image.size(), QImage::Format_RGB32);
        Flat.fill(Qt::white);
        QPainter(&Flat).drawImage(0, 0, Image);
        Image = Flat;
    }
    QByteArray Jpeg;
    QBuffer Out(&Jpeg);
    Out.open(QIODevice::WriteOnly);
    return Image.save(&Out, "JPEG", 85) ? Jpeg : QByteArray();
}

QByteArray EmbeddedPicture(const QString &Program, const QByteArray &Path, int TimeoutMs) {
    QProcess Scanner;
    Scanner.start(Program, {QStringLiteral("--picture")});
    if (!Scanner.waitForStarted(TimeoutMs))
        return {};
    // The path's bytes on standard input: an argument would have to be text.
    Scanner.write(Path);
    Scanner.closeWriteChannel();
    if (!Scanner.waitForFinished(TimeoutMs)) {
        Scanner.kill();
        Scanner.waitForFinished(-1);
        return {};
    }
    if (Scanner.exitStatus() != QProcess::NormalExit || Scanner.exitCode() != 0)
        return {};
    const QByteArray Picture = Scanner.readAllStandardOutput();
    return Picture.size() <= MaxCoverBytes ? Picture : QByteArray();
}
