// vxTagScan: reads the tags of the files the player names on standard input, in a process of
// its own, so that a file that crashes or hangs the tag library costs only this process.
#include "ScanLoop.h"
#include "TagReader.h"

int main() {
    return RunTagScan(ReadFileTags);
}
