#include "CommandServer.h"

#include "CommandServerConnection.h"
#include "LogCategories.h"

#include <algorithm>
#include <cerrno>

#include <sys/socket.h>
#include <unistd.h>

// What goes out: each connection's queue written as the kernel takes it, and the bounds on
// what all connections may hold.

void TCommandServer::WriteTo(TConnection &Connection, const QByteArray &Bytes) {
    if (Connection.InputEnded)
        return;
    if (Connection.Queued > MaxPendingOutput &&
        NowMs() - Connection.LastProgress >= StalledAfterMs) {
        // A controller that stopped reading: drop it rather than grow without bound.
        DropLater(Connection.Id);
        return;
    }
    Hold(Bytes);
    Connection.Queue.push_back(Bytes);
    Connection.Queued += Bytes.size();
    if (!Connection.Writable->isEnabled() && !Pump(Connection))
        DropLater(Connection.Id);
}

bool TCommandServer::Pump(TConnection &Connection) {
    for (;;) {
        if (Connection.Sending.isEmpty()) {
            if (Connection.Queue.empty())
                break;
            Connection.Sending = std::move(Connection.Queue.front());
            Connection.Queue.pop_front();
            Connection.Queued -= Connection.Sending.size();
            Connection.Sent = 0;
        }
        const ssize_t Taken = ::send(
            Connection.Fd, Connection.Sending.constData() + Connection.Sent,
            size_t(Connection.Sending.size() - Connection.Sent), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (Taken < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return false;
            Connection.Writable->setEnabled(true);
            return true;
        }
        Connection.LastProgress = NowMs();
        Connection.Sent += Taken;
        if (Connection.Sent == Connection.Sending.size()) {
            Release(Connection.Sending);
            Connection.Sending = QByteArray();
        }
    }
    Connection.Writable->setEnabled(false);
    return true;
}

void TCommandServer::Hold(const QByteArray &Message) {
    TShare &Share = FShares[Message.constData()];
    if (Share.Holders++ == 0) {
        Share.Size = Message.size();
        FPendingOutput += Share.Size;
    }
}

void TCommandServer::Release(const QByteArray &Message) {
    const auto It = FShares.find(Message.constData());
    if (It == FShares.end() || --It->Holders > 0)
        return;
    FPendingOutput -= It->Size;
    FShares.erase(It);
}

void TCommandServer::DropLargestWhileOver(const qint64 &Total, qint64 Limit,
                                          qint64 (*Held)(const TConnection &)) {
    // Drop() lowers Total.
    while (Total > Limit) {
        const TConnection *Largest = nullptr;
        for (const TConnectionId Id : std::as_const(FOrder))
            if (const TConnection *Connection = Find(Id);
                !Largest || Held(*Connection) > Held(*Largest))
                Largest = Connection;
        if (!Largest)
            return;
        DropLater(Largest->Id);
    }
}

void TCommandServer::LimitPendingOutput() {
    DropLargestWhileOver(FPendingOutput, FMaxOutput,
                         [](const TConnection &Connection) { return Connection.Backlog(); });
}

void TCommandServer::LimitPendingInput() {
    DropLargestWhileOver(FPendingInput, FMaxInput,
                         [](const TConnection &Connection) { return Connection.PendingInput; });
}

void TCommandServer::SendToConnection(TConnectionId Id, const QByteArray &Word,
                                      const QByteArray &Payload) {
    if (TConnection *Connection = Find(Id)) {
        WriteTo(*Connection, BuildMessage(Word, Payload));
        LimitPendingOutput();
    }
}

void TCommandServer::Broadcast(const QByteArray &Word, const QByteArray &Payload,
                               const QByteArray &SkipAddress) {
    const QByteArray Bytes = BuildMessage(Word, Payload);
    const QList<TConnectionId> Ids = FOrder; // a write may drop a connection
    for (const TConnectionId Id : Ids) {
        TConnection *Connection = Find(Id);
        if (!Connection)
            continue;
        if (!SkipAddress.isEmpty() && Connection->Peer == SkipAddress)
            continue;
        WriteTo(*Connection, Bytes);
    }
    LimitPendingOutput();
}
