#include "EventStream.h"

#include <algorithm>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

TEventStream::TEventStream(int KeepAliveMs, std::function<void(TEventStream *)> OnFinished,
                           int LifetimeMs)
    : FWakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), FKeepAliveMs(KeepAliveMs),
      FLifetimeMs(LifetimeMs), FOnFinished(std::move(OnFinished)) {
    FAge.start();
}

TEventStream::~TEventStream() {
    if (FWakeFd >= 0)
        close(FWakeFd);
}

void TEventStream::Wake() {
    const eventfd_t One = 1;
    if (FWakeFd >= 0) {
        [[maybe_unused]] const ssize_t N = write(FWakeFd, &One, sizeof One);
    }
}

QByteArray TEventStream::Format(const char *Kind, const QByteArray &Json) {
    return "event: " + QByteArray(Kind) + "\ndata: " + Json + "\n\n";
}

void TEventStream::Put(TKind Kind, const QByteArray &Event) {
    {
        std::lock_guard Lock(FLock);
        if (FEnded || FFinished)
            return;
        FQueue[Kind] = Event;
        FOrder[Kind] = FNextOrder++;
    }
    Wake();
}

void TEventStream::End() {
    {
        std::lock_guard Lock(FLock);
        FEnded = true;
    }
    Wake();
}

bool TEventStream::HasQueued() const {
    for (const QByteArray &Event : FQueue)
        if (!Event.isEmpty())
            return true;
    return false;
}

qint64 TEventStream::QueuedBytes() const {
    std::lock_guard Lock(FLock);
    qint64 Bytes = FSending.size() - FSent;
    for (const QByteArray &Event : FQueue)
        Bytes += Event.size();
    return Bytes;
}

bool TEventStream::IsFinished() const {
    std::lock_guard Lock(FLock);
    return FFinished;
}

qint64 TEventStream::Read(char *Buffer, qint64 Max, int PeerFd) {
    std::unique_lock Lock(FLock);
    if (FSent >= FSending.size()) {
        FSending.clear();
        FSent = 0;
        if (!FEnded && !HasQueued()) {
            // A Put meanwhile leaves the eventfd set, so the poll returns at once.
            Lock.unlock();
            const qint64 Left = FLifetimeMs > 0 ? FLifetimeMs - FAge.elapsed() : FKeepAliveMs;
            pollfd Watched[2] = {{FWakeFd, POLLIN, 0}, {PeerFd, POLLRDHUP, 0}};
            const bool Woken = poll(Watched, 2, int(std::clamp<qint64>(Left, 0, FKeepAliveMs))) > 0;
            eventfd_t Count;
            [[maybe_unused]] const int N = eventfd_read(FWakeFd, &Count);
            Lock.lock();
            if (Woken && Watched[1].revents != 0)
                FEnded = true; // the browser left: its place is free now, not at the next ping
        }
        if (FEnded || (FLifetimeMs > 0 && FAge.hasExpired(FLifetimeMs)))
            return -1;
        int Next = -1;
        for (int Kind = 0; Kind < KindCount; ++Kind)
            if (!FQueue[Kind].isEmpty() && (Next < 0 || FOrder[Kind] < FOrder[Next]))
                Next = Kind;
        if (Next >= 0)
            std::swap(FSending, FQueue[Next]);
        else
            FSending = QByteArrayLiteral(":\n\n");
    }
    const qint64 Count = std::min(Max, qint64(FSending.size() - FSent));
    std::memcpy(Buffer, FSending.constData() + FSent, size_t(Count));
    FSent += Count;
    return Count;
}

void TEventStream::Finished() {
    {
        std::lock_guard Lock(FLock);
        if (FFinished)
            return;
        FFinished = true;
        FQueue = {};
        FSending.clear();
    }
    if (FOnFinished)
        FOnFinished(this);
}
