#pragma once

#include "MediaServer.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <array>
#include <functional>
#include <mutex>

// One browser's Server-Sent Events: the GUI thread puts events in, the connection's thread
// sends them. At most one unsent event of each kind waits (the newest wins), so a browser
// that stops reading costs a bounded amount of memory however much happens meanwhile.
class TEventStream final : public TWebStream {
public:
    enum TKind { SessionKind, ListKind, StateKind, GroupKind, KindCount };

    // KeepAliveMs: an idle stream gets a comment line this often. OnFinished: called once,
    // on the connection's thread, when the connection is over. LifetimeMs (0: none): the
    // stream ends after that long, between two events; the browser opens a new one.
    TEventStream(int KeepAliveMs, std::function<void(TEventStream *)> OnFinished,
                 int LifetimeMs = 0);
    ~TEventStream() override;
    TEventStream(const TEventStream &) = delete;
    TEventStream &operator=(const TEventStream &) = delete;

    // Any thread. Event replaces an unsent older one of its kind.
    void Put(TKind Kind, const QByteArray &Event);
    // The stream ends once the event being sent has gone.
    void End();
    // Bytes waiting to be sent, the event under way included.
    qint64 QueuedBytes() const;
    bool IsFinished() const;

    // Ends the stream when PeerFd hangs up while it waits for an event.
    qint64 Read(char *Buffer, qint64 Max, int PeerFd) override;
    void Finished() override;

    // "event: Kind", the data line, the blank line.
    static QByteArray Format(const char *Kind, const QByteArray &Json);

private:
    bool HasQueued() const;
    void Wake();

    mutable std::mutex FLock;
    int FWakeFd; // an eventfd: a wait watches it and the client's socket at once
    std::array<QByteArray, KindCount> FQueue;
    std::array<quint64, KindCount> FOrder{}; // when each was put: the oldest goes first
    quint64 FNextOrder = 1;
    QByteArray FSending;
    qint64 FSent = 0;
    bool FEnded = false;
    bool FFinished = false;
    const int FKeepAliveMs;
    const int FLifetimeMs;
    QElapsedTimer FAge;
    std::function<void(TEventStream *)> FOnFinished;
};
