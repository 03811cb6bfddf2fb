#pragma once

// One controller's connection as the command server keeps it; shared by the server's files only.

#include "CommandServer.h"

#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>

#include <deque>

struct TCommandServer::TConnection {
    explicit TConnection(qint64 LineTimeoutMs) : Reader(SpeakerCommands(), LineTimeoutMs) {}

    TConnectionId Id = 0;
    QTcpSocket *Socket = nullptr; // reads; closes its descriptor when the input ends
    // Our own descriptor of the same socket, for writing: it stays open after a half-close.
    int Fd = -1;
    QSocketNotifier *Writable = nullptr; // child of Socket
    QTimer *Deadline = nullptr;          // child of Socket
    QByteArray Peer;
    TCommandReader Reader;
    qint64 PendingInput = 0; // what Reader held when last counted
    qint64 LastArrival = 0;
    qint64 LastProgress = 0;      // when the kernel last took output
    std::deque<QByteArray> Queue; // whole messages not started yet
    qint64 Queued = 0;            // their bytes
    QByteArray Sending;           // the message being written
    qsizetype Sent = 0;           // its bytes the kernel has taken
    bool InputEnded = false;

    bool HasOutput() const { return !Sending.isEmpty() || !Queue.empty(); }
    qint64 Backlog() const { return Queued + Sending.size() - Sent; }
};
