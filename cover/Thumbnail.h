#pragma once

#include <QByteArray>
#include <QString>

// Picture (JPEG, PNG, ... bytes) as a JPEG at most Size pixels wide and high, never enlarged,
// decoded scaled and within Qt's image allocation limit; empty when it cannot be decoded.
QByteArray ThumbnailJpeg(const QByteArray &Picture, int Size);
// The embedded front picture of the track at Path, taken out by the tag scanner Program;
// empty when it has none or the program fails or takes longer than TimeoutMs.
QByteArray EmbeddedPicture(const QString &Program, const QByteArray &Path, int TimeoutMs);
