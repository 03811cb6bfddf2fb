// vxTagScan: reads the tags of the files the player names on standard input, in a process of
// its own, so that a file that crashes or hangs the tag library costs only this process.
// With --picture it writes the embedded front picture of the file named on standard input.
#include "CoverReader.h"
#include "ScanLoop.h"
#include "TagReader.h"

#include <sys/resource.h>

#include <cstring>

int main(int Argc, char **Argv) {
    // The tag library reads a whole tag into memory, pictures and all: a file whose tag claims
    // gigabytes ends this process (the file is then unreadable), never the machine's memory.
    // (Not under AddressSanitizer: its shadow memory alone maps terabytes.)
#ifndef __SANITIZE_ADDRESS__
    const rlimit Memory{1024ul * 1024 * 1024, 1024ul * 1024 * 1024};
    ::setrlimit(RLIMIT_AS, &Memory);
#endif
    if (Argc == 2 && std::strcmp(Argv[1], "--picture") == 0)
        return WriteFrontPicture();
    return RunTagScan(ReadFileTags);
}
