#include "TrackTime.h"

#include <algorithm>
#include <cmath>

QString FormatTrackTime(double Seconds) {
    const qint64 Total =
        std::isfinite(Seconds) && Seconds > 0 ? qint64(std::min(Seconds, MaxTrackTimeSeconds)) : 0;
    const qint64 H = Total / 3600, M = Total / 60 % 60, S = Total % 60;
    if (H > 0)
        return QStringLiteral("%1:%2:%3")
            .arg(H)
            .arg(M, 2, 10, QLatin1Char('0'))
            .arg(S, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(M, 2, 10, QLatin1Char('0')).arg(S, 2, 10, QLatin1Char('0'));
}
