#pragma once

#include <QByteArray>
#include <QString>

// Picture (JPEG, PNG, ... bytes) as a JPEG at most Size pixels wide and high, never enlarged,
// decoded scaled and within Qt's image allocation limit; empty when it cannot be decoded or has
// more than MaxCoverPixels (told by its header, before decoding).
QByteArray ThumbnailJpeg(const QByteArray &Picture, int Size);
// A PNG is decoded whole whatever size it is shown at: 30000 x 30000 from 2.6 MB took 8.5 s.
constexpr qint64 MaxCoverPixels = 6000 * 6000;
// The embedded front picture of the track at Path, taken out by the tag scanner Program;
// empty when it has none or the program fails or takes longer than TimeoutMs.
QByteArray EmbeddedPicture(const QString &Program, const QByteArray &Path, int TimeoutMs);
