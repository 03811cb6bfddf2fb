#pragma once

#include "FileTags.h"

// The tags of the file at Path read with TagLib, Stamp being the file's stamp before the read:
// Read (the tags may be empty), or Unreadable when TagLib cannot make sense of it. Values are
// cut to a bounded length and number, so a reply always fits a scanner frame.
TFileTags ReadFileTags(const QByteArray &Path, const TFileStamp &Stamp);
