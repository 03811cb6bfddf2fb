#include "ScanLoop.h"

#include "ScanProtocol.h"

#include <cerrno>
#include <linux/ioprio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <utility>

namespace {

// A file that keeps changing while it is read is given up on after this many reads; its last
// stamp then differs from the file's and the next scan reads it again.
constexpr int MaxReads = 3;

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

// Answers one request into Out. Quick answers wait there to leave in one write with others; Out
// is written out before a file is opened, so the driver knows which file a crash or hang is on.
bool Answer(const QByteArray &Path, const TFileStamp &Known, TTagReadFunction Read,
            QByteArray &Out) {
    TFileStamp Stamp = StampOf(Path);
    if (!Stamp.IsValid() || Stamp == Known || !IsRegularFile(Path)) {
        const TTagStatus Status = !Stamp.IsValid() ? TTagStatus::Missing
                                  : Stamp == Known ? TTagStatus::Unchanged
                                                   : TTagStatus::Unreadable;
        Out += ReplyFrame(TScanFrame::Result, {Path, Stamp, Status, {}});
        return Out.size() < 64 * 1024 || (WriteAll(std::exchange(Out, {})));
    }
    Out += ReplyFrame(TScanFrame::Begin, {Path, Stamp, TTagStatus::Unreadable, {}});
    if (!WriteAll(std::exchange(Out, {})))
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
    Out += ReplyFrame(TScanFrame::Result, Entry);
    return true;
}

} // namespace

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

int RunTagScan(TTagReadFunction Read) {
    LowerPriority();
    if (!WriteAll(HelloFrame()))
        return 1;
    TFrameReader In;
    QByteArray Frame, Path, Out;
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
            if (!ParseRequest(Frame, Path, Known) || !Answer(Path, Known, Read, Out))
                return 1;
        // Everything asked so far is answered: what waits leaves before the next wait for input.
        if (In.Failed() || !WriteAll(std::exchange(Out, {})))
            return 1;
    }
}
