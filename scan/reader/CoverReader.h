#pragma once

#include <QByteArray>

namespace TagLib {
class File;
}

// The bytes of File's embedded front picture (a front cover, else the first picture; pictures
// over MaxCoverBytes are passed over): ID3v2 APIC, FLAC and Xiph pictures, MP4 covr, ASF
// WM/Picture, APE cover art. Empty when there is none.
QByteArray FrontPicture(TagLib::File &File);
// The hash of the cover image in the folder of the file at Path (empty: none), remembered per
// folder for the life of this process.
QByteArray FolderCoverHash(const QByteArray &Path);
// The scanner's picture mode: reads a file's path on standard input (to its end) and writes
// that file's front picture to standard output. Returns the exit code: 0 when written, 2 when
// the file has none or cannot be read, 1 when the output is gone.
int WriteFrontPicture();
