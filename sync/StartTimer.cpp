#include "StartTimer.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr qint64 NsPerMs = 1'000'000;
// Longer waits are slept in parts.
constexpr qint64 MaxSleepMs = 24 * 3600'000;

} // namespace

qint64 MonotonicNow() {
    // steady_clock is CLOCK_MONOTONIC here.
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

TStartTimer::TStartTimer(TClock Clock, QObject *Parent)
    : QObject(Parent), FClock(std::move(Clock)) {
    FTimer.setSingleShot(true);
    FTimer.setTimerType(Qt::PreciseTimer);
    connect(&FTimer, &QTimer::timeout, this, &TStartTimer::Wake);
}

void TStartTimer::Start(qint64 At, TAction Action) {
    FAt = At;
    FAction = std::move(Action);
    FTimer.start(int(std::clamp<qint64>((FAt - FClock() - SpinTime) / NsPerMs, 0, MaxSleepMs)));
}

void TStartTimer::Cancel() {
    FTimer.stop();
    FAction = nullptr;
}

void TStartTimer::Wake() {
    qint64 Now = FClock();
    // The sleep was rounded down to whole milliseconds: up to one more is spun.
    if (FAt - Now > SpinTime + NsPerMs) {
        // A long wait slept in parts.
        FTimer.start(int(std::min<qint64>((FAt - Now - SpinTime) / NsPerMs, MaxSleepMs)));
        return;
    }
    while (Now < FAt)
        Now = FClock();
    // The action may start the timer again.
    const TAction Action = std::exchange(FAction, nullptr);
    if (Action)
        Action(Now);
}
