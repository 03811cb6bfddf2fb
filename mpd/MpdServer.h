#pragma once

#include "MpdCommandTable.h"
#include "MpdIdle.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>

#include <memory>

class QTcpServer;

// The door's connections: accepts MPD clients on TCP, runs one TMpdSession per connection and
// writes its answers as the client takes them. Bounded whatever clients do: at most
// MaxConnections (a newcomer when full closes the least recently active connection from its
// own address, else it is refused), answers produced only while the client's unsent output
// stays under LowWater, all connections' unsent output under MaxTotalOutput (past it the one
// holding the most goes), and a connection that sends no command for the time-out closes,
// unless it waits in "idle".
class TMpdServer : public QObject {
    Q_OBJECT
public:
    static constexpr int MaxConnections = 256;
    static constexpr qint64 LowWater = 256 * 1024;
    static constexpr qint64 MaxTotalOutput = 256 * 1024 * 1024;

    // Table outlives the server. Password: empty for none. IdleTimeoutMs: how long a
    // connection may stay silent outside "idle".
    TMpdServer(const TMpdCommandTable &Table, QByteArray Password, qint64 IdleTimeoutMs,
               QObject *Parent = nullptr);
    ~TMpdServer() override;

    // Listens on Address:Port (0 = ephemeral); false (and logged) when it cannot.
    bool Listen(const QHostAddress &Address, quint16 Port);
    quint16 Port() const;
    bool IsListening() const;
    QHostAddress Address() const;
    // Stops listening; connections stay.
    void StopListening();
    // Closes every connection whose peer is not this computer's loopback, or all of them.
    void DropConnections(bool KeepLoopback);
    int ConnectionCount() const { return int(FConnections.size()); }
    // Unsent output of all connections.
    qint64 PendingOutput() const;
    // The per-connection time-out (tests shorten it); applies to the next timer start.
    void SetIdleTimeout(qint64 Ms) { FIdleTimeout = Ms; }

    // Tells every session about a change (wakes those waiting in "idle").
    void Notify(TMpdIdleMask Changed);
    // The streamed answer of client ClientId that waited has more to write now.
    void Wake(quint64 ClientId);

private:
    struct TConnection;

    void OnNewConnection();
    // Reads, runs and writes for one connection as far as it can go now.
    void Service(quint64 Id);
    void Drop(quint64 Id);
    void ArmTimeout(TConnection &Connection);
    void OnTimeout(quint64 Id);
    // The connection a newcomer from Peer may replace when the server is full, or 0.
    quint64 Replaceable(const QByteArray &Peer) const;
    void LimitTotalOutput();

    const TMpdCommandTable &FTable;
    QByteArray FPassword;
    qint64 FIdleTimeout;
    QTcpServer *FListener;
    QHash<quint64, std::shared_ptr<TConnection>> FConnections;
    quint64 FNextId = 1;
    quint64 FActivity = 0; // grows with each command, for "least recently active"
};
