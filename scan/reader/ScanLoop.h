#pragma once

#include "FileTags.h"

// Writes Data whole to standard output; false when the output is gone.
bool WriteAll(const QByteArray &Data);

// Reads the tags of one file whose stamp before the read is Stamp.
using TTagReadFunction = TFileTags (*)(const QByteArray &Path, const TFileStamp &Stamp);

// The tag scanner process: lowers its own CPU and I/O priority, answers the requests on standard
// input with frames on standard output (see ScanProtocol.h) until standard input ends. Returns
// the exit code: 0 at the end of the input, 1 when the input is not a request stream or the
// output is gone.
int RunTagScan(TTagReadFunction Read);
