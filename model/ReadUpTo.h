#pragma once

#include <QByteArray>

#include <cerrno>
#include <unistd.h>

// Up to Size bytes of the open file Fd, as many as it gives before its end or an error.
inline QByteArray ReadUpTo(int Fd, qsizetype Size) {
    QByteArray Data(Size, Qt::Uninitialized);
    qsizetype Done = 0;
    while (Done < Size) {
        const ssize_t N = ::read(Fd, Data.data() + Done, size_t(Size - Done));
        if (N < 0 && errno == EINTR)
            continue;
        if (N <= 0)
            break;
        Done += N;
    }
    Data.truncate(Done);
    return Data;
}
