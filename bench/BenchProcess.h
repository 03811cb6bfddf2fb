#pragma once

#include <QDir>
#include <QFile>
#include <QString>

#include <cstdio>
#include <ctime>
#include <unistd.h>

// CPU time of the calling thread: what the work itself cost, whatever else the machine runs.
inline double ThreadCpuMs() {
    timespec T{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &T);
    return double(T.tv_sec) * 1e3 + double(T.tv_nsec) / 1e6;
}

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

// This process's resident memory.
inline qint64 RssKiB() {
    FILE *File = std::fopen("/proc/self/statm", "r");
    long Pages = 0, Resident = 0;
    if (File) {
        if (std::fscanf(File, "%ld %ld", &Pages, &Resident) != 2)
            Resident = 0;
        std::fclose(File);
    }
    return qint64(Resident) * (sysconf(_SC_PAGESIZE) / 1024);
}

// The resident memory of this process, MiB.
inline double RssMiB() {
    QFile Status(QStringLiteral("/proc/self/status"));
    if (!Status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &Line : Status.readAll().split('\n'))
        if (Line.startsWith("VmRSS:"))
            return Line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    return 0;
}
