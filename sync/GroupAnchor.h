#pragma once

#include <QByteArray>
#include <QtGlobal>

// What every room of a group plays, as the leader publishes it at each start, seek, pause
// and track change.
enum class TGroupPlay : quint8 { Stopped, Paused, Playing };

struct TGroupAnchor {
    // Grows with each anchor the leader publishes, so that a late one is recognised.
    quint32 Serial = 0;
    // The track; empty: stopped.
    QByteArray Url;
    TGroupPlay Play = TGroupPlay::Stopped;
    // Seconds into Url.
    double Position = 0;
    // Group clock (ns) at which Position plays; for Paused and Stopped, when it was published.
    qint64 GroupTime = 0;

    bool operator==(const TGroupAnchor &) const = default;
};
