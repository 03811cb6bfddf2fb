#include "CommandServer.h"

#include "CommandServerConnection.h"
#include "LogCategories.h"
#include "SharingState.h"

#include <QHostAddress>
#include <QPointer>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <deque>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Many controllers may connect at the same moment (a whole office opening their pages).
constexpr int ListenBacklog = 1024;
// Bytes read from a socket per step.
constexpr qsizetype ReadSlice = 64 * 1024;
// After accept failed (out of descriptors) the listener pauses; it tries again after this.
constexpr int AcceptRetryMs = 1000;

QByteArray DottedAddress(const QHostAddress &Address) {
    bool IsV4 = false;
    const quint32 V4 = Address.toIPv4Address(&IsV4);
    if (IsV4)
        return QHostAddress(V4).toString().toLatin1();
    return Address.toString().toLatin1();
}

} // namespace

TCommandServer::TCommandServer(QObject *Parent, qint64 LineTimeoutMs, std::function<qint64()> Clock)
    : QObject(Parent), FServer(new QTcpServer(this)), FLineTimeout(LineTimeoutMs),
      FNow(std::move(Clock)), FReadBuffer(ReadSlice, Qt::Uninitialized) {
    FClock.start();
    FServer->setListenBacklogSize(ListenBacklog);
    connect(FServer, &QTcpServer::newConnection, this, &TCommandServer::OnNewConnection);
    connect(FServer, &QTcpServer::acceptError, this, [this] {
        qCWarning(LogPlayer, "Command port: cannot accept a controller (%s); trying again soon",
                  qUtf8Printable(FServer->errorString()));
        QTimer::singleShot(AcceptRetryMs, FServer, &QTcpServer::resumeAccepting);
    });
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
    if (FServer->listen(QHostAddress::AnyIPv4, Port))
        return true;
    qCWarning(LogPlayer, "Command port %u is taken: no controller can reach this player (%s)",
              unsigned(Port), qUtf8Printable(FServer->errorString()));
    return false;
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

void TCommandServer::SetTotalLimits(qint64 MaxOutput, qint64 MaxInput) {
    FMaxOutput = MaxOutput;
    FMaxInput = MaxInput;
    LimitPendingOutput();
    LimitPendingInput();
}

void TCommandServer::OnNewConnection() {
    while (QTcpSocket *Socket = FServer->nextPendingConnection()) {
        const int Fd =
            (FSharing && !FSharing->AllowOthers()) || FConnections.size() >= MaxControllers
                ? -1
                : ::fcntl(int(Socket->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
        if (Fd < 0) {
            // Refused: closed at once, nothing written.
            Socket->close();
            Socket->deleteLater();
            continue;
        }
        auto Connection = std::make_shared<TConnection>(FLineTimeout);
        Connection->Id = FNextId++;
        Connection->Socket = Socket;
        Connection->Fd = Fd;
        Connection->Writable = new QSocketNotifier(Fd, QSocketNotifier::Write, Socket);
        Connection->Writable->setEnabled(false);
        Connection->Peer = DottedAddress(Socket->peerAddress());
        Connection->Deadline = new QTimer(Socket);
        Connection->Deadline->setSingleShot(true);
        Connection->Deadline->setTimerType(Qt::CoarseTimer);
        Connection->LastProgress = NowMs();

        const TConnectionId Id = Connection->Id;
        connect(Socket, &QTcpSocket::readyRead, this, [this, Id] { OnReadyRead(Id); });
        connect(Connection->Writable, &QSocketNotifier::activated, this,
                [this, Id] { OnWritable(Id); });
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
    const qint64 Arrived = ArrivalMs(*Connection);
    // In slices, each handed over before the next is read: a handler may drop the connection.
    while ((Connection = Find(Id))) {
        const qint64 Size = Connection->Socket->read(FReadBuffer.data(), FReadBuffer.size());
        if (Size <= 0)
            return;
        Connection->Reader.Feed(QByteArrayView(FReadBuffer.constData(), Size), Arrived);
        CountInput(*Connection);
        LimitPendingInput();
        DeliverMessages(Id);
    }
}

void TCommandServer::CountInput(TConnection &Connection) {
    const qint64 Held = Connection.Reader.PendingBytes();
    FPendingInput += Held - Connection.PendingInput;
    Connection.PendingInput = Held;
}

qint64 TCommandServer::ArrivalMs(TConnection &Connection) {
    const qint64 Now = NowMs();
    const qint64 Arrived = Now - SinceLastDataMs(Connection.Socket->socketDescriptor());
    // Never before bytes that were read earlier.
    Connection.LastArrival = std::clamp(Arrived, Connection.LastArrival, Now);
    return Connection.LastArrival;
}

void TCommandServer::ReadWaiting(TConnectionId Id) {
    TConnection *Connection = Find(Id);
    if (!Connection)
        return;
    if (KernelBytesWaiting(Connection->Socket->socketDescriptor()) > 0)
        Connection->Socket->waitForReadyRead(0); // moves them into the socket, never waits
    if ((Connection = Find(Id)) && Connection->Socket->bytesAvailable() > 0)
        OnReadyRead(Id);
}

void TCommandServer::OnDeadline(TConnectionId Id) {
    if (TConnection *Connection = Find(Id); Connection && Connection->InputEnded) {
        // A peer that ended its input must still take its answers.
        const qint64 Idle = NowMs() - Connection->LastProgress;
        if (Idle < FLineTimeout) {
            Connection->Deadline->start(int(FLineTimeout - Idle));
        } else {
            Drop(Id, true);
            Q_EMIT Disconnected(Id);
        }
        return;
    }
    ReadWaiting(Id); // may find the end of input
    TConnection *Connection = Find(Id);
    if (!Connection || Connection->InputEnded)
        return;
    Connection->Reader.Expire(NowMs());
    CountInput(*Connection);
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
    Connection.Deadline->start(int(std::min<qint64>(Wait, FLineTimeout)));
}

void TCommandServer::OnSocketGone(TConnectionId Id) {
    TConnection *Connection = Find(Id);
    if (!Connection || Connection->InputEnded)
        return;
    // Commands the peer sent right before closing still count.
    if (Connection->Socket->bytesAvailable() > 0) {
        OnReadyRead(Id);
        if (!(Connection = Find(Id)))
            return;
    }
    if (Connection->Socket->error() == QAbstractSocket::RemoteHostClosedError &&
        Connection->HasOutput()) {
        EndInput(*Connection);
        return;
    }
    Drop(Id, true);
    Q_EMIT Disconnected(Id);
}

void TCommandServer::EndInput(TConnection &Connection) {
    // No more messages go to it; what is queued goes, then it closes (OnWritable), unless it
    // stops taking output (OnDeadline). A message left unfinished is forgotten.
    Connection.InputEnded = true;
    Connection.Reader = TCommandReader(SpeakerCommands(), FLineTimeout);
    CountInput(Connection);
    Connection.LastProgress = NowMs();
    Connection.Deadline->start(int(FLineTimeout));
}

void TCommandServer::OnWritable(TConnectionId Id) {
    TConnection *Connection = Find(Id);
    if (!Connection)
        return;
    if (!Pump(*Connection)) {
        Drop(Id, true);
        Q_EMIT Disconnected(Id);
    } else if (Connection->InputEnded && !Connection->HasOutput()) {
        Drop(Id, false);
        Q_EMIT Disconnected(Id);
    }
}

void TCommandServer::Drop(TConnectionId Id, bool Abort) {
    const std::shared_ptr<TConnection> Connection = FConnections.take(Id);
    if (!Connection)
        return;
    FOrder.removeOne(Id);
    FPendingInput -= Connection->PendingInput;
    // Hand the kernel what it takes now; the rest goes with the socket.
    if (!Abort)
        Pump(*Connection);
    for (const QByteArray &Message : Connection->Queue)
        Release(Message);
    if (!Connection->Sending.isEmpty())
        Release(Connection->Sending);
    QTcpSocket *Socket = Connection->Socket;
    Socket->disconnect(this);
    Connection->Deadline->disconnect(this);
    Connection->Deadline->stop();
    Connection->Writable->setEnabled(false);
    Connection->Writable->disconnect(this);
    ::close(Connection->Fd);
    if (Abort)
        Socket->abort();
    else
        Socket->close();
    // Deleted later: we may be inside one of this socket's, timer's or notifier's signals.
    Socket->deleteLater();
}

void TCommandServer::DropLater(TConnectionId Id) {
    // The signal goes out later so that a handler cannot re-enter a broadcast half way through.
    Drop(Id, true);
    QMetaObject::invokeMethod(
        this, [this, Id] { Q_EMIT Disconnected(Id); }, Qt::QueuedConnection);
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
