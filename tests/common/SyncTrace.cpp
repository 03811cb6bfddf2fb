#include "SyncTrace.h"

#include <QFile>
#include <QMap>

#include <algorithm>
#include <cmath>

namespace {

QMap<qint64, double> ReadTrace(const QString &FileName) {
    QMap<qint64, double> Lines;
    QFile In(FileName);
    if (In.open(QIODevice::ReadOnly))
        for (const QByteArray &Line : In.readAll().split('\n'))
            if (const QList<QByteArray> F = Line.split(' '); F.size() == 2)
                Lines.insert(F[0].toLongLong(), F[1].toDouble());
    return Lines;
}

} // namespace

QList<double> SyncOffsets(const QString &Leader, const QString &Follower, qint64 From,
                          qint64 *Last) {
    const QMap<qint64, double> L = ReadTrace(Leader), F = ReadTrace(Follower);
    if (Last)
        *Last = L.isEmpty() || F.isEmpty() ? 0 : std::min(L.lastKey(), F.lastKey());
    QList<double> Offsets;
    for (auto It = F.lowerBound(From); It != F.end(); ++It) {
        const auto B = L.lowerBound(It.key());
        if (B == L.begin() || B == L.end() || B.key() - std::prev(B).key() > 1'000'000'000)
            continue;
        const auto A = std::prev(B);
        const double Share = double(It.key() - A.key()) / double(B.key() - A.key());
        Offsets.append(It.value() - (A.value() + (B.value() - A.value()) * Share));
    }
    return Offsets;
}

double AbsQuantile(QList<double> Values, double P) {
    for (double &V : Values)
        V = std::abs(V);
    std::sort(Values.begin(), Values.end());
    return Values.isEmpty() ? NAN
                            : Values[std::min(Values.size() - 1, qsizetype(P * Values.size()))];
}
