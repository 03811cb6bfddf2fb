// vxTagScan: reads the tags of the files the player names on standard input, in a process of
// its own, so that a file that crashes or hangs the tag library costs only this process.
// With --picture it writes the embedded front picture of the file named on standard input.
#include "CoverReader.h"
#include "ScanLoop.h"
#include "TagReader.h"

#include <cstring>

int main(int Argc, char **Argv) {
    if (Argc == 2 && std::strcmp(Argv[1], "--picture") == 0)
        return WriteFrontPicture();
    return RunTagScan(ReadFileTags);
}
