#pragma once

#include <QList>
#include <QString>

// Reads the VX_SYNC_TRACE files of a leader and a follower ("groupTimeNs audioPts" lines):
// follower minus leader, in seconds, at each of the follower's readings from group time From
// on, the leader's position interpolated between two of its readings under 1 s apart. *Last:
// the latest group time in both files (0 when one is empty).
QList<double> SyncOffsets(const QString &Leader, const QString &Follower, qint64 From,
                          qint64 *Last = nullptr);
// The P-th quantile (0..1) of the absolute values.
double AbsQuantile(QList<double> Values, double P);
