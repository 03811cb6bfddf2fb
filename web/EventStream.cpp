#include "EventStream.h"

#include <chrono>
#include <cstring>

TEventStream::TEventStream(int KeepAliveMs, std::function<void(TEventStream *)> OnFinished)
    : FKeepAliveMs(KeepAliveMs), FOnFinished(std::move(OnFinished)) {}

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
    FWake.notify_one();
}

void TEventStream::End() {
    {
        std::lock_guard Lock(FLock);
        FEnded = true;
    }
    FWake.notify_one();
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

qint64 TEventStream::Read(char *Buffer, qint64 Max) {
    std::unique_lock Lock(FLock);
    if (FSent >= FSending.size()) {
        FSending.clear();
        FSent = 0;
        if (!FEnded && !HasQueued())
            FWake.wait_for(Lock, std::chrono::milliseconds(FKeepAliveMs),
                           [this] { return FEnded || HasQueued(); });
        if (FEnded)
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
