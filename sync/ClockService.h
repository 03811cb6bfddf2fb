#pragma once

#include <QHash>
#include <QHostAddress>
#include <QObject>

#include <functional>

class QUdpSocket;

// The leader's side of the clock exchange: answers each well-formed request with its
// receive and send times on the group clock (docs/group-protocol.md) and drops everything
// else. Answers come within a budget per source address and in all, so that the service is
// no amplifier of a flood: a follower asks a burst of 8, then one a second.
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

    // A budget of answers: at most Burst at once, Rate a second on average.
    struct TBudget {
        double Burst = 0, Rate = 0;
        double Left = 0;
        qint64 At = 0; // when Left was counted
        bool Take(qint64 Now);
    };

private:
    void ReadPending();

    TClock FClock;
    QUdpSocket *FSocket = nullptr;
    TBudget FAll{256, 128, 256};
    QHash<QHostAddress, TBudget> FPerSource; // bounded: forgotten whole when full
};
