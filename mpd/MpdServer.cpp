#include "MpdServer.h"

#include "LogCategories.h"
#include "MpdSession.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

constexpr qint64 ReadSlice = 64 * 1024;
constexpr QByteArrayView Banner = "OK MPD 0.23.5\n";

QByteArray PeerText(const QHostAddress &Address) {
    bool IsV4 = false;
    const quint32 V4 = Address.toIPv4Address(&IsV4);
    return (IsV4 ? QHostAddress(V4) : Address).toString().toLatin1();
}

} // namespace

struct TMpdServer::TConnection {
    TConnection(const TMpdCommandTable &Table, TMpdClient Client)
        : Session(Table, std::move(Client)) {}

    TMpdSession Session;
    QTcpSocket *Socket = nullptr;
    QTimer *Timeout = nullptr; // child of Socket
    quint64 SeenCommands = 0;
    quint64 LastActive = 0;
    bool Closing = false;
};

TMpdServer::TMpdServer(const TMpdCommandTable &Table, QByteArray Password, qint64 IdleTimeoutMs,
                       QObject *Parent)
    : QObject(Parent), FTable(Table), FPassword(std::move(Password)), FIdleTimeout(IdleTimeoutMs),
      FListener(new QTcpServer(this)) {
    // Phone apps and desktop clients open several connections at once.
    FListener->setListenBacklogSize(1024);
    connect(FListener, &QTcpServer::newConnection, this, &TMpdServer::OnNewConnection);
}

TMpdServer::~TMpdServer() {
    FListener->close();
    DropConnections(false);
}

bool TMpdServer::Listen(const QHostAddress &Address, quint16 Port) {
    FListener->close();
    if (FListener->listen(Address, Port))
        return true;
    qCWarning(LogPlayer, "MPD port %u cannot be opened: no MPD client can reach this player (%s)",
              unsigned(Port), qUtf8Printable(FListener->errorString()));
    return false;
}

quint16 TMpdServer::Port() const {
    return FListener->serverPort();
}

bool TMpdServer::IsListening() const {
    return FListener->isListening();
}

QHostAddress TMpdServer::Address() const {
    return FListener->serverAddress();
}

void TMpdServer::StopListening() {
    FListener->close();
}

void TMpdServer::DropConnections(bool KeepLoopback) {
    const QList<quint64> Ids = FConnections.keys();
    for (const quint64 Id : Ids)
        if (const auto It = FConnections.constFind(Id);
            It != FConnections.cend() &&
            !(KeepLoopback && (*It)->Socket->peerAddress().isLoopback()))
            Drop(Id);
}

qint64 TMpdServer::PendingOutput() const {
    qint64 Total = 0;
    for (const auto &Connection : FConnections)
        Total += Connection->Socket->bytesToWrite();
    return Total;
}

quint64 TMpdServer::Replaceable(const QByteArray &Peer) const {
    quint64 Oldest = 0, OldestActive = 0;
    for (auto It = FConnections.cbegin(); It != FConnections.cend(); ++It) {
        const TConnection &Connection = **It;
        if (Connection.Session.Client().Peer != Peer || Connection.Session.HasWork())
            continue;
        if (!Oldest || Connection.LastActive < OldestActive) {
            Oldest = It.key();
            OldestActive = Connection.LastActive;
        }
    }
    return Oldest;
}

void TMpdServer::OnNewConnection() {
    while (QTcpSocket *Socket = FListener->nextPendingConnection()) {
        const QByteArray Peer = PeerText(Socket->peerAddress());
        if (FConnections.size() >= MaxConnections) {
            if (const quint64 Old = Replaceable(Peer)) {
                Drop(Old);
            } else {
                Socket->abort();
                Socket->deleteLater();
                continue;
            }
        }
        TMpdClient Client;
        Client.Id = FNextId++;
        Client.Peer = Peer;
        Client.Authorized = FPassword.isEmpty();
        const quint64 Id = Client.Id;
        auto Connection = std::make_shared<TConnection>(FTable, std::move(Client));
        Connection->Socket = Socket;
        // Past this Qt stops reading from the kernel: a client that sends faster than its
        // answers go out waits in its own socket buffer.
        Socket->setReadBufferSize(ReadSlice);
        Connection->Timeout = new QTimer(Socket);
        Connection->Timeout->setSingleShot(true);
        Connection->LastActive = ++FActivity;
        connect(Socket, &QTcpSocket::readyRead, this, [this, Id] { Service(Id); });
        connect(Socket, &QTcpSocket::bytesWritten, this, [this, Id] {
            // A client taking a long answer is not silent.
            if (const auto It = FConnections.constFind(Id); It != FConnections.cend())
                ArmTimeout(**It);
            Service(Id);
        });
        connect(Socket, &QTcpSocket::disconnected, this, [this, Id] { Drop(Id); });
        connect(Socket, &QTcpSocket::errorOccurred, this, [this, Id] {
            if (const auto It = FConnections.constFind(Id);
                It != FConnections.cend() &&
                (*It)->Socket->state() != QAbstractSocket::ConnectedState)
                Drop(Id);
        });
        connect(Connection->Timeout, &QTimer::timeout, this, [this, Id] { OnTimeout(Id); });
        FConnections.insert(Id, Connection);
        Socket->write(Banner.data(), Banner.size());
        ArmTimeout(*Connection);
        Service(Id);
    }
}

void TMpdServer::ArmTimeout(TConnection &Connection) {
    Connection.Timeout->start(int(std::min<qint64>(FIdleTimeout, 0x7FFFFFFF)));
}

void TMpdServer::OnTimeout(quint64 Id) {
    const auto It = FConnections.constFind(Id);
    if (It == FConnections.cend())
        return;
    TConnection &Connection = **It;
    // Waiting in idle is not silence; a client that stopped reading its answer is.
    if (Connection.Session.IsIdle())
        ArmTimeout(Connection);
    else
        Drop(Id);
}

void TMpdServer::Wake(quint64 ClientId) {
    if (const auto It = FConnections.constFind(ClientId); It != FConnections.cend()) {
        (*It)->Session.Wake();
        Service(ClientId);
    }
}

void TMpdServer::Service(quint64 Id) {
    // A step may drop this connection (or, through a handler, others): look it up each time.
    for (;;) {
        const auto It = FConnections.constFind(Id);
        if (It == FConnections.cend())
            return;
        const std::shared_ptr<TConnection> Connection = *It;
        TMpdSession &Session = Connection->Session;
        QTcpSocket *Socket = Connection->Socket;
        if (Connection->Closing)
            return;
        if (Socket->bytesToWrite() > LowWater)
            return; // bytesWritten brings us back
        if (!Session.HasWork() && !Session.WantsClose()) {
            if (Socket->bytesAvailable() <= 0)
                return;
            Session.Feed(Socket->read(ReadSlice));
        }
        Session.Run(LowWater);
        if (Session.CommandCount() != Connection->SeenCommands) {
            Connection->SeenCommands = Session.CommandCount();
            Connection->LastActive = ++FActivity;
            ArmTimeout(*Connection);
        }
        const QByteArray Out = Session.TakeOutput();
        if (!Out.isEmpty()) {
            Socket->write(Out);
            LimitTotalOutput();
        }
        if (Session.WantsClose()) {
            // What was answered goes out first.
            Connection->Closing = true;
            Socket->disconnectFromHost();
            return;
        }
    }
}

void TMpdServer::Notify(TMpdIdleMask Changed) {
    const QList<quint64> Ids = FConnections.keys();
    for (const quint64 Id : Ids) {
        const auto It = FConnections.constFind(Id);
        if (It == FConnections.cend())
            continue;
        TMpdSession &Session = (*It)->Session;
        Session.Notify(Changed);
        if (const QByteArray Out = Session.TakeOutput(); !Out.isEmpty())
            (*It)->Socket->write(Out);
    }
    LimitTotalOutput();
}

void TMpdServer::LimitTotalOutput() {
    while (PendingOutput() > MaxTotalOutput) {
        quint64 Largest = 0;
        qint64 Most = -1;
        for (auto It = FConnections.cbegin(); It != FConnections.cend(); ++It)
            if (const qint64 Held = (*It)->Socket->bytesToWrite(); Held > Most) {
                Most = Held;
                Largest = It.key();
            }
        Drop(Largest);
    }
}

void TMpdServer::Drop(quint64 Id) {
    const std::shared_ptr<TConnection> Connection = FConnections.take(Id);
    if (!Connection)
        return;
    QTcpSocket *Socket = Connection->Socket;
    Socket->disconnect(this);
    Connection->Timeout->disconnect(this);
    Connection->Timeout->stop();
    Socket->abort();
    // Deleted later: we may be inside one of its signals.
    Socket->deleteLater();
}
