#pragma once

#include <QDir>
#include <QFile>
#include <QString>

// CPU time of every live thread of Pid, in seconds (nanosecond counts from schedstat, so an
// idle process's few milliseconds still show).
inline double ProcessCpu(qint64 Pid) {
    double Total = 0;
    const QDir Tasks(QStringLiteral("/proc/%1/task").arg(Pid));
    for (const QString &Tid : Tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile F(Tasks.filePath(Tid) + "/schedstat");
        if (F.open(QIODevice::ReadOnly))
            Total += F.readAll().split(' ').value(0).toDouble() / 1e9;
    }
    return Total;
}
