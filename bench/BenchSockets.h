#pragma once

// Plain blocking sockets for benchmark clients, so that the client side costs the
// program under test nothing.
#include <QByteArray>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// An IPv4 address and port for the socket calls; Address in host order.
inline sockaddr_in Endpoint(quint32 Address, quint16 Port) {
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_port = htons(Port);
    A.sin_addr.s_addr = htonl(Address);
    return A;
}

// A connection to 127.0.0.1:Port, -1 on failure; reads give up after TimeoutSeconds
// (0: never).
inline int ConnectLoopback(quint16 Port, int TimeoutSeconds = 0) {
    const int Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (Fd < 0)
        return -1;
    if (TimeoutSeconds > 0) {
        timeval Timeout{TimeoutSeconds, 0};
        setsockopt(Fd, SOL_SOCKET, SO_RCVTIMEO, &Timeout, sizeof Timeout);
    }
    sockaddr_in Addr{};
    Addr.sin_family = AF_INET;
    Addr.sin_port = htons(Port);
    Addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(Fd, reinterpret_cast<sockaddr *>(&Addr), sizeof Addr) != 0) {
        close(Fd);
        return -1;
    }
    return Fd;
}

// Writes all of Bytes; false when the connection failed first.
inline bool SendAll(int Fd, const QByteArray &Bytes) {
    qsizetype Done = 0;
    while (Done < Bytes.size()) {
        const ssize_t N =
            send(Fd, Bytes.constData() + Done, size_t(Bytes.size() - Done), MSG_NOSIGNAL);
        if (N <= 0)
            return false;
        Done += N;
    }
    return true;
}

// A connection to 127.0.0.1:Port made from 127.0.0.FromLast, so a server's per-client limits
// count each kind of client apart; reads give up after TimeoutMs; ReceiveBuffer: the socket's
// receive buffer in bytes (0: the system's).
inline int ConnectFrom(quint16 Port, int FromLast, int TimeoutMs, int ReceiveBuffer = 0) {
    const int Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (Fd < 0)
        return -1;
    timeval Timeout{TimeoutMs / 1000, TimeoutMs % 1000 * 1000};
    setsockopt(Fd, SOL_SOCKET, SO_RCVTIMEO, &Timeout, sizeof Timeout);
    if (ReceiveBuffer > 0)
        setsockopt(Fd, SOL_SOCKET, SO_RCVBUF, &ReceiveBuffer, sizeof ReceiveBuffer);
    sockaddr_in From{};
    From.sin_family = AF_INET;
    From.sin_addr.s_addr = htonl(0x7F000000u | quint32(FromLast));
    sockaddr_in To{};
    To.sin_family = AF_INET;
    To.sin_port = htons(Port);
    To.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(Fd, reinterpret_cast<sockaddr *>(&From), sizeof From) != 0 ||
        connect(Fd, reinterpret_cast<sockaddr *>(&To), sizeof To) != 0) {
        close(Fd);
        return -1;
    }
    return Fd;
}
