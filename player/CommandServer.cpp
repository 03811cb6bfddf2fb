#include "CommandServer.h"

#include "Utils.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace {

// Many controllers may connect at the same moment (a whole office opening their pages).
constexpr int ListenBacklog = 1024;

QByteArray DottedAddress(const QHostAddress &Address) {
    bool IsV4 = false;
    const quint32 V4 = Address.toIPv4Address(&IsV4);
    if (IsV4)
        return QHostAddress(V4).toString().toLatin1();
    return Address.toString().toLatin1();
}

} // namespace

struct TCommandServer::TConnection {
    TConnectionId Id = 0;
    QTcpSocket *Socket = nullptr;
    QTimer *Deadline = nullptr; // child of Socket
    QByteArray Peer;
    TCommandReader Reader{SpeakerCommands()};
};

TCommandServer::TCommandServer(QObject *Parent) : QObject(Parent), FServer(new QTcpServer(this)) {
    FClock.start();
    FServer->setListenBacklogSize(ListenBacklog);
    connect(FServer, &QTcpServer::newConnection, this, &TCommandServer::OnNewConnection);
}

TCommandServer::~TCommandServer() {
    // No signals from here: the receivers may already be half destroyed.
    FServer->close();
    blockSignals(true);
    DisconnectAll();
}

bool TCommandServer::Listen(quint16 Port) {
    if (FServer->isListening())
        FServer->close();
    return FServer->listen(QHostAddress::AnyIPv4, Port);
}

quint16 TCommandServer::Port() const {
    return FServer->serverPort();
}

bool TCommandServer::IsListening() const {
    return FServer->isListening();
}

void TCommandServer::Close() {
    FServer->close();
    DisconnectAll();
}

TCommandServer::TConnection *TCommandServer::Find(TConnectionId Id) const {
    const auto It = FConnections.constFind(Id);
    return It == FConnections.cend() ? nullptr : It->get();
}

void TCommandServer::OnNewConnection() {
    while (QTcpSocket *Socket = FServer->nextPendingConnection()) {
        if (!AllowOthers) {
            // Refused: closed at once, nothing written.
            Socket->close();
            Socket->deleteLater();
            continue;
        }
        auto Connection = std::make_shared<TConnection>();
        Connection->Id = FNextId++;
        Connection->Socket = Socket;
        Connection->Peer = DottedAddress(Socket->peerAddress());
        Connection->Deadline = new QTimer(Socket);
        Connection->Deadline->setSingleShot(true);
        Connection->Deadline->setTimerType(Qt::CoarseTimer);

        const TConnectionId Id = Connection->Id;
        connect(Socket, &QTcpSocket::readyRead, this, [this, Id] { OnReadyRead(Id); });
        connect(Socket, &QTcpSocket::disconnected, this, [this, Id] { OnSocketGone(Id); });
        connect(Socket, &QTcpSocket::errorOccurred, this, [this, Id] {
            if (TConnection *C = Find(Id);
                C && C->Socket->state() != QAbstractSocket::ConnectedState)
                OnSocketGone(Id);
        });
        connect(Connection->Deadline, &QTimer::timeout, this, [this, Id] { OnDeadline(Id); });

        FConnections.insert(Id, std::move(Connection));
        FOrder.append(Id);
        Q_EMIT Connected(Id);
        // Bytes that arrived before we connected readyRead are still waiting.
        if (TConnection *C = Find(Id); C && C->Socket->bytesAvailable() > 0)
            OnReadyRead(Id);
    }
}

void TCommandServer::OnReadyRead(TConnectionId Id) {
    TConnection *Connection = Find(Id);
    if (!Connection)
        return;
    const QByteArray Bytes = Connection->Socket->readAll();
    if (Bytes.isEmpty())
        return;
    Connection->Reader.Feed(Bytes, NowMs());
    DeliverMessages(Id);
}

void TCommandServer::OnDeadline(TConnectionId Id) {
    TConnection *Connection = Find(Id);
    if (!Connection)
        return;
    Connection->Reader.Expire(NowMs());
    DeliverMessages(Id);
}

void TCommandServer::DeliverMessages(TConnectionId Id) {
    // A handler may close this connection, or all of them: look it up again every time.
    while (TConnection *Connection = Find(Id)) {
        std::optional<TCommandMessage> Message = Connection->Reader.Next();
        if (!Message) {
            ArmDeadline(*Connection);
            return;
        }
        const QByteArray Peer = Connection->Peer;
        Q_EMIT CommandReceived(Id, Peer, *Message);
    }
}

void TCommandServer::ArmDeadline(TConnection &Connection) {
    const std::optional<qint64> Next = Connection.Reader.NextDeadline();
    if (!Next) {
        Connection.Deadline->stop();
        return;
    }
    const qint64 Wait = std::max<qint64>(0, *Next - NowMs());
    Connection.Deadline->start(int(std::min<qint64>(Wait, CommandLineTimeoutMs)));
}

void TCommandServer::OnSocketGone(TConnectionId Id) {
    TConnection *Connection = Find(Id);
    if (!Connection)
        return;
    // Commands the peer sent right before closing still count.
    if (Connection->Socket->bytesAvailable() > 0) {
        OnReadyRead(Id);
        if (!Find(Id))
            return;
    }
    Drop(Id, true);
    Q_EMIT Disconnected(Id);
}

void TCommandServer::Drop(TConnectionId Id, bool Abort) {
    const std::shared_ptr<TConnection> Connection = FConnections.take(Id);
    if (!Connection)
        return;
    FOrder.removeOne(Id);
    QTcpSocket *Socket = Connection->Socket;
    Socket->disconnect(this);
    Connection->Deadline->disconnect(this);
    Connection->Deadline->stop();
    if (Abort) {
        Socket->abort();
    } else {
        // Hand the kernel what it takes now; the rest goes with the socket.
        Socket->flush();
        Socket->close();
    }
    // Deleted later: we may be inside one of this socket's or timer's signals.
    Socket->deleteLater();
}

void TCommandServer::WriteTo(TConnection &Connection, const QByteArray &Bytes) {
    QTcpSocket *Socket = Connection.Socket;
    if (Socket->state() != QAbstractSocket::ConnectedState)
        return;
    Socket->write(Bytes);
    if (Socket->bytesToWrite() <= MaxPendingOutput)
        return;
    // A controller that stopped reading: drop it rather than grow without bound. The signal
    // goes out later so that a handler cannot re-enter a broadcast half way through.
    const TConnectionId Id = Connection.Id;
    Drop(Id, true);
    QMetaObject::invokeMethod(
        this, [this, Id] { Q_EMIT Disconnected(Id); }, Qt::QueuedConnection);
}

void TCommandServer::SendToConnection(TConnectionId Id, const QByteArray &Word,
                                      const QByteArray &Payload) {
    if (TConnection *Connection = Find(Id))
        WriteTo(*Connection, BuildMessage(Word, Payload));
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
}

void TCommandServer::DisconnectAll() {
    while (!FOrder.isEmpty()) {
        const TConnectionId Id = FOrder.constLast();
        Drop(Id, false);
        Q_EMIT Disconnected(Id);
    }
}

int TCommandServer::ConnectionCount() const {
    return int(FOrder.size());
}

QByteArray TCommandServer::PeerAddress(TConnectionId Id) const {
    const TConnection *Connection = Find(Id);
    return Connection ? Connection->Peer : QByteArray();
}
