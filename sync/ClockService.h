#pragma once

#include <QHostAddress>
#include <QObject>

#include <functional>

class QUdpSocket;

// The leader's side of the clock exchange: answers each well-formed request with its
// receive and send times on the group clock (docs/group-protocol.md) and drops everything
// else. It keeps no state per follower, so any number of them cost nothing but datagrams.
class TClockService : public QObject {
    Q_OBJECT
public:
    using TClock = std::function<qint64()>; // nanoseconds, monotonic

    explicit TClockService(QObject *Parent = nullptr);
    // Clock: the group clock (tests inject one); the local monotonic clock by default.
    TClockService(TClock Clock, QObject *Parent);
    ~TClockService() override;

    // Binds the UDP port (0: an ephemeral one); false when it cannot be had.
    bool Listen(const QHostAddress &Address, quint16 Port);
    void Close();
    bool IsListening() const;
    // The port bound, 0 when closed.
    quint16 Port() const;

private:
    void ReadPending();

    TClock FClock;
    QUdpSocket *FSocket = nullptr;
};
