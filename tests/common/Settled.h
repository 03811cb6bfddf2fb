#pragma once

#include <QObject>
#include <QTest>

// Sentinel: runs what the event loop already holds, so whatever it would signal has been.
inline bool Settled() {
    QObject Context;
    bool Done = false;
    QMetaObject::invokeMethod(
        &Context, [&Done] { Done = true; }, Qt::QueuedConnection);
    return QTest::qWaitFor([&Done] { return Done; });
}
