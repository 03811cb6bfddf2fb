#pragma once

#include "ClockRequests.h"
#include "GroupClock.h"

#include <QHostAddress>
#include <QObject>
#include <QTimer>

#include <functional>

class QUdpSocket;

// A follower's side of the clock exchange on a UDP socket: a burst of requests when it
// starts following, then about one a second, by timer; replies feed the estimate of the
// group clock. Datagrams from anyone but the leader, and replies it did not ask for, are
// dropped.
class TClockFollower : public QObject {
    Q_OBJECT
public:
    using TClock = std::function<qint64()>; // nanoseconds, monotonic

    explicit TClockFollower(QObject *Parent = nullptr);
    // Clock: this computer's monotonic clock (tests inject one).
    TClockFollower(TClock Clock, const TClockRequests::TConfig &Requests,
                   const TGroupClock::TConfig &Estimate, QObject *Parent);
    ~TClockFollower() override;

    // Starts (or restarts, forgetting the old estimate) asking the leader at Leader:Port.
    void Follow(const QHostAddress &Leader, quint16 Port);
    // Stops asking and closes the socket; the estimate is kept until the next Follow.
    void Stop();
    bool IsFollowing() const;

    // The group clock as estimated so far.
    const TGroupClock &Clock() const { return FEstimate; }
    bool IsSynced() const { return FEstimate.IsSynced(); }

Q_SIGNALS:
    // The estimate has just begun to count (once per Follow).
    void Synced();

private:
    void SendRequest();
    void ReadPending();

    TClock FClock;
    TClockRequests FRequests;
    TGroupClock FEstimate;
    QUdpSocket *FSocket = nullptr;
    QTimer FTimer;
    QHostAddress FLeader;
    quint16 FPort = 0;
    bool FWasSynced = false;
};
