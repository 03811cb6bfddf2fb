#pragma once

#include "CommandReader.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>

#include <functional>
#include <memory>

class QTcpServer;
class QTcpSocket;
class QTimer;
class TSharingState;

using TConnectionId = quint64; // never reused within a run

// A controller whose messages waiting behind the one it is taking pass this many bytes when
// a new one is due, and that has taken nothing for StalledAfterMs, has stopped reading and is
// dropped. A single message, however large, is never by itself a reason, nor is a backlog
// that a reading controller is working through.
constexpr qint64 MaxPendingOutput = 16 * 1024 * 1024;
constexpr qint64 StalledAfterMs = 1000;
// The unsent output of all connections together (a broadcast message counts once); past it
// the connection with the largest backlog is dropped.
constexpr qint64 MaxTotalPendingOutput = 512 * 1024 * 1024;
// The unfinished messages of all connections together; past it the connection holding the
// most is dropped.
constexpr qint64 MaxTotalPendingInput = 512 * 1024 * 1024;
// Controllers connected at once; further ones are closed at once.
constexpr int MaxControllers = 256;

// The speaker's command server: accepts controllers on TCP, reads their commands with one
// TCommandReader per connection and writes whole messages to one or all of them. Everything
// runs on the owner's thread, driven by socket and timer events. Each connection keeps its
// own queue of whole messages and writes them to the kernel itself, so that the queue tells
// how far behind a controller is. A controller that ends its input (a half-close) still gets
// the answers to every command it sent, then the connection closes.
class TCommandServer : public QObject {
    Q_OBJECT
public:
    // LineTimeoutMs: how long each argument line may take (tests shorten it). Clock: a
    // monotonic time in milliseconds for the stall rule and the deadlines (tests drive it);
    // empty for the real one.
    explicit TCommandServer(QObject *Parent = nullptr, qint64 LineTimeoutMs = CommandLineTimeoutMs,
                            std::function<qint64()> Clock = {});
    ~TCommandServer() override; // closes everything

    // New controllers are refused while Sharing does not allow others; without one every
    // controller is admitted up to MaxControllers.
    void SetSharing(const TSharingState *Sharing) { FSharing = Sharing; }
    // The totals past which connections are dropped (tests lower them); applied at once.
    void SetTotalLimits(qint64 MaxOutput, qint64 MaxInput);

    // All IPv4 addresses; 0 = ephemeral; false (and logged) when the port is taken.
    bool Listen(quint16 Port);
    quint16 Port() const;
    bool IsListening() const;
    // Stops listening and closes every connection (shutdown).
    void Close();

    // One whole message to one connection; never interleaves with another.
    void SendToConnection(TConnectionId Id, const QByteArray &Word, const QByteArray &Payload);
    // To every connection except those whose peer address equals SkipAddress (exact text)
    // when one is given.
    void Broadcast(const QByteArray &Word, const QByteArray &Payload,
                   const QByteArray &SkipAddress = {});
    // Closes every connection, last registered first.
    void DisconnectAll();
    int ConnectionCount() const;
    // Dotted IPv4 text ("127.0.0.1"); empty for an unknown connection.
    QByteArray PeerAddress(TConnectionId Id) const;
    // Bytes written to connections that they have not taken yet, each message counted once.
    qint64 PendingOutput() const { return FPendingOutput; }
    // Bytes of unfinished messages held for all connections.
    qint64 PendingInput() const { return FPendingInput; }

Q_SIGNALS:
    // A controller was admitted; the owner sends it the greeting.
    void Connected(TConnectionId Id);
    // One whole command read from a connection.
    void CommandReceived(TConnectionId Id, const QByteArray &PeerAddress,
                         const TCommandMessage &Message);
    // A registered connection is gone: closed by the peer or by us (emitted at once), or
    // dropped for its backlog (emitted from the event loop, never inside a send).
    void Disconnected(TConnectionId Id);

private:
    struct TConnection;

    // How many connections share one message's bytes.
    struct TShare {
        qint64 Size = 0;
        int Holders = 0;
    };

    void OnNewConnection();
    void OnReadyRead(TConnectionId Id);
    void OnDeadline(TConnectionId Id);
    void OnSocketGone(TConnectionId Id);
    // Reads what waits in the socket and in the kernel, so that nothing that arrived in time
    // is judged late because the deadline was served first.
    void ReadWaiting(TConnectionId Id);
    // When the bytes just read arrived: the kernel's time of the newest segment.
    qint64 ArrivalMs(TConnection &Connection);
    // Hands over every whole message the reader holds, then re-arms the deadline timer.
    // Stops as soon as the connection goes away inside a handler.
    void DeliverMessages(TConnectionId Id);
    void ArmDeadline(TConnection &Connection);
    // Queues one message, or drops the connection when its backlog is already too large.
    void WriteTo(TConnection &Connection, const QByteArray &Bytes);
    // Writes queued output while the kernel takes it; false when the socket failed.
    bool Pump(TConnection &Connection);
    void OnWritable(TConnectionId Id);
    // The peer's input ended: answers still queued go out before the connection closes.
    void EndInput(TConnection &Connection);
    // Drops the connections that hold the most while Total is past Limit.
    void DropLargestWhileOver(const qint64 &Total, qint64 Limit,
                              qint64 (*Held)(const TConnection &));
    void LimitPendingOutput();
    void LimitPendingInput();
    void CountInput(TConnection &Connection);
    void Hold(const QByteArray &Message);
    void Release(const QByteArray &Message);
    // Unregisters and closes one connection; its socket and timer are deleted later.
    void Drop(TConnectionId Id, bool Abort);
    // Drop() for a backlog; Disconnected goes out from the event loop.
    void DropLater(TConnectionId Id);
    TConnection *Find(TConnectionId Id) const;
    qint64 NowMs() const { return FNow ? FNow() : FClock.elapsed(); }

    QTcpServer *FServer = nullptr;
    qint64 FLineTimeout;
    const TSharingState *FSharing = nullptr;
    QElapsedTimer FClock;
    std::function<qint64()> FNow;
    TConnectionId FNextId = 1;
    QList<TConnectionId> FOrder; // registration order
    QHash<TConnectionId, std::shared_ptr<TConnection>> FConnections;
    QHash<const char *, TShare> FShares; // by the message's data
    qint64 FPendingOutput = 0;
    qint64 FPendingInput = 0;
    qint64 FMaxOutput = MaxTotalPendingOutput;
    qint64 FMaxInput = MaxTotalPendingInput;
    QByteArray FReadBuffer;
};

Q_DECLARE_METATYPE(TCommandMessage)
