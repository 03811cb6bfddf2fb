#include "SyncTrace.h"

#include <QFile>

#include <algorithm>
#include <cmath>

QList<TTraceLine> ReadSyncTrace(const QString &FileName) {
    QList<TTraceLine> Lines;
    QFile In(FileName);
    if (!In.open(QIODevice::ReadOnly))
        return Lines;
    for (const QByteArray &Line : In.readAll().split('\n')) {
        const QList<QByteArray> Fields = Line.split(' ');
        if (Fields.size() == 2)
            Lines.append({Fields[0].toLongLong(), Fields[1].toDouble()});
    }
    std::sort(Lines.begin(), Lines.end(),
              [](const TTraceLine &A, const TTraceLine &B) { return A.GroupTime < B.GroupTime; });
    return Lines;
}

QList<double> SyncOffsets(const QList<TTraceLine> &Leader, const QList<TTraceLine> &Follower,
                          qint64 From) {
    QList<double> Offsets;
    for (const TTraceLine &F : Follower) {
        if (F.GroupTime < From)
            continue;
        const auto After =
            std::lower_bound(Leader.begin(), Leader.end(), F.GroupTime,
                             [](const TTraceLine &L, qint64 T) { return L.GroupTime < T; });
        if (After == Leader.begin() || After == Leader.end())
            continue;
        const TTraceLine &A = *(After - 1), &B = *After;
        if (B.GroupTime - A.GroupTime > 1'000'000'000)
            continue;
        const double Share = double(F.GroupTime - A.GroupTime) / double(B.GroupTime - A.GroupTime);
        Offsets.append(F.Pts - (A.Pts + (B.Pts - A.Pts) * Share));
    }
    return Offsets;
}

double AbsQuantile(QList<double> Values, double P) {
    if (Values.isEmpty())
        return NAN;
    for (double &V : Values)
        V = std::abs(V);
    std::sort(Values.begin(), Values.end());
    return Values[std::min<qsizetype>(Values.size() - 1, qsizetype(P * double(Values.size())))];
}
