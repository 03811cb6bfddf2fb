#pragma once

#include <QList>
#include <QString>

// The lines a room writes under VX_SYNC_TRACE: group time (ns) and audio position (s).
struct TTraceLine {
    qint64 GroupTime = 0;
    double Pts = 0;
};

QList<TTraceLine> ReadSyncTrace(const QString &FileName);
// Follower minus leader, in seconds, at each of the follower's readings from group time From
// on; the leader's position is interpolated between two of its readings under 1 s apart.
QList<double> SyncOffsets(const QList<TTraceLine> &Leader, const QList<TTraceLine> &Follower,
                          qint64 From);
// The P-th quantile (0..1) of the absolute values.
double AbsQuantile(QList<double> Values, double P);
