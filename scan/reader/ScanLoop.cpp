#include "ScanLoop.h"

#include "ScanProtocol.h"

#include <cerrno>
#include <linux/ioprio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// A file that keeps changing while it is read is given up on after this many reads; its last
// stamp then differs from the file's and the next scan reads it again.
constexpr int MaxReads = 3;

bool WriteAll(const QByteArray &Data) {
    qsizetype Done = 0;
    while (Done < Data.size()) {
        const ssize_t N =
            ::write(STDOUT_FILENO, Data.constData() + Done, size_t(Data.size() - Done));
        if (N < 0 && errno == EINTR)
            continue;
        if (N <= 0)
            return false;
        Done += N;
    }
    return true;
}

// Scanning must never take the user's CPU or disk: the lowest CPU share and the idle I/O class.
void LowerPriority() {
    ::setpriority(PRIO_PROCESS, 0, 19);
    ::syscall(SYS_ioprio_set, IOPRIO_WHO_PROCESS, 0, IOPRIO_PRIO_VALUE(IOPRIO_CLASS_IDLE, 0));
}

// A pipe or a device would have the tag library wait or read for ever.
bool IsRegularFile(const QByteArray &Path) {
    struct stat Info {};
    return ::stat(Path.constData(), &Info) == 0 && S_ISREG(Info.st_mode);
}

bool Answer(const QByteArray &Path, const TFileStamp &Known, TTagReadFunction Read) {
    TFileStamp Stamp = StampOf(Path);
    if (!Stamp.IsValid())
        return WriteAll(ReplyFrame(TScanFrame::Result, {Path, Stamp, TTagStatus::Missing, {}}));
    if (Stamp == Known)
        return WriteAll(ReplyFrame(TScanFrame::Result, {Path, Stamp, TTagStatus::Unchanged, {}}));
    if (!IsRegularFile(Path))
        return WriteAll(ReplyFrame(TScanFrame::Result, {Path, Stamp, TTagStatus::Unreadable, {}}));
    if (!WriteAll(ReplyFrame(TScanFrame::Begin, {Path, Stamp, TTagStatus::Unreadable, {}})))
        return false;
    TFileTags Entry;
    for (int Reads = 1;; ++Reads) {
        Entry = Read(Path, Stamp);
        // A file replaced or written to during the read: what was read may be half of each.
        const TFileStamp After = StampOf(Path);
        if (After == Stamp)
            break;
        if (!After.IsValid()) {
            Entry = {Path, After, TTagStatus::Missing, {}};
            break;
        }
        if (Reads == MaxReads) {
            Entry.Stamp = TFileStamp{}; // never current: the next scan reads it again
            break;
        }
        Stamp = After;
    }
    return WriteAll(ReplyFrame(TScanFrame::Result, Entry));
}

} // namespace

int RunTagScan(TTagReadFunction Read) {
    LowerPriority();
    if (!WriteAll(HelloFrame()))
        return 1;
    TFrameReader In;
    QByteArray Frame, Path;
    TFileStamp Known;
    char Buffer[64 * 1024];
    for (;;) {
        const ssize_t N = ::read(STDIN_FILENO, Buffer, sizeof Buffer);
        if (N < 0 && errno == EINTR)
            continue;
        if (N <= 0)
            return N == 0 ? 0 : 1;
        In.Append(Buffer, N);
        while (In.Next(Frame))
            if (!ParseRequest(Frame, Path, Known) || !Answer(Path, Known, Read))
                return 1;
        if (In.Failed())
            return 1;
    }
}
