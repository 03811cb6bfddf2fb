#pragma once

#include "CommandReader.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>

#include <memory>

class QTcpServer;
class QTcpSocket;
class QTimer;

using TConnectionId = quint64; // never reused within a run

// Unsent output past which a controller counts as stalled and is dropped.
constexpr qint64 MaxPendingOutput = 16 * 1024 * 1024;

// The speaker's command server: accepts controllers on TCP, reads their commands with one
// TCommandReader per connection and writes whole messages to one or all of them. Everything
// runs on the owner's thread, driven by socket and timer events.
class TCommandServer : public QObject {
    Q_OBJECT
public:
    explicit TCommandServer(QObject *Parent = nullptr);
    ~TCommandServer() override; // closes everything

    // All IPv4 addresses; 0 = ephemeral; false when the port is taken.
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

Q_SIGNALS:
    // A controller was admitted; the owner sends it the greeting.
    void Connected(TConnectionId Id);
    // One whole command read from a connection.
    void CommandReceived(TConnectionId Id, const QByteArray &PeerAddress,
                         const TCommandMessage &Message);
    // A registered connection is gone: closed by the peer or by us (emitted at once), or
    // dropped for stalled output (emitted from the event loop, never inside a send).
    void Disconnected(TConnectionId Id);

private:
    struct TConnection;

    void OnNewConnection();
    void OnReadyRead(TConnectionId Id);
    void OnDeadline(TConnectionId Id);
    void OnSocketGone(TConnectionId Id);
    // Hands over every whole message the reader holds, then re-arms the deadline timer.
    // Stops as soon as the connection goes away inside a handler.
    void DeliverMessages(TConnectionId Id);
    void ArmDeadline(TConnection &Connection);
    void WriteTo(TConnection &Connection, const QByteArray &Bytes);
    // Unregisters and closes one connection; its socket and timer are deleted later.
    void Drop(TConnectionId Id, bool Abort);
    TConnection *Find(TConnectionId Id) const;
    qint64 NowMs() const { return FClock.elapsed(); }

    QTcpServer *FServer = nullptr;
    QElapsedTimer FClock;
    TConnectionId FNextId = 1;
    QList<TConnectionId> FOrder; // registration order
    QHash<TConnectionId, std::shared_ptr<TConnection>> FConnections;
};

Q_DECLARE_METATYPE(TCommandMessage)
