#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

// The local monotonic clock in nanoseconds.
qint64 MonotonicNow();

// Runs an action at a moment of the local monotonic clock, never before it and normally
// well under a millisecond after: a precise timer wakes it a few milliseconds early and it
// waits the rest out on the clock. That final wait is the only one the program spins, once
// per start.
class TStartTimer : public QObject {
    Q_OBJECT
public:
    // Action gets the clock's reading when it ran.
    using TAction = std::function<void(qint64 RanAt)>;
    using TClock = std::function<qint64()>;

    explicit TStartTimer(QObject *Parent = nullptr) : TStartTimer(MonotonicNow, Parent) {}
    TStartTimer(TClock Clock, QObject *Parent);

    // Replaces whatever was pending; a moment already past runs on the next turn of the
    // event loop.
    void Start(qint64 At, TAction Action);
    void Cancel();
    bool IsPending() const { return bool(FAction); }

    // How early the timer wakes: more than a timer's own lateness and error.
    static constexpr qint64 SpinTime = 3'000'000;

private:
    void Wake();

    TClock FClock;
    QTimer FTimer;
    qint64 FAt = 0;
    TAction FAction;
};
