// The tag scanner with faults on cue by file name: "crash", "hang", "garbage" (an overlong frame),
// "changing" (grows at every read), "changedonce", "priority" (its nice value and I/O class),
// "slow" (takes 750 ms).
#include "ScanLoop.h"
#include "TagReader.h"

#include <csignal>
#include <fcntl.h>
#include <linux/ioprio.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

TFileTags FaultyRead(const QByteArray &Path, const TFileStamp &Stamp) {
    const QByteArray Name = Path.mid(Path.lastIndexOf('/') + 1);
    if (Name.startsWith("crash"))
        ::raise(SIGSEGV);
    if (Name.startsWith("hang"))
        for (;;)
            ::pause();
    if (Name.startsWith("slow"))
        ::usleep(750000);
    if (Name.startsWith("garbage"))
        (void)::write(STDOUT_FILENO, "\xff\xff\xff\xff", 4);
    static int Reads = 0; // one file a process: "changedonce" is its first
    if (Name.startsWith("changing") || (Name.startsWith("changedonce") && Reads++ == 0)) {
        const int Fd = ::open(Path.constData(), O_WRONLY | O_APPEND);
        (void)::write(Fd, "x", 1);
        ::close(Fd);
    }
    if (Name.startsWith("priority")) {
        TFileTags Entry{Path, Stamp, TTagStatus::Read, {}};
        const long IoClass = IOPRIO_PRIO_CLASS(::syscall(SYS_ioprio_get, IOPRIO_WHO_PROCESS, 0));
        Entry.Tags.Title = QString("%1 %2").arg(::getpriority(PRIO_PROCESS, 0)).arg(IoClass);
        return Entry;
    }
    return ReadFileTags(Path, Stamp);
}

} // namespace

int main() {
    const rlimit NoCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &NoCore);
    return RunTagScan(FaultyRead);
}
