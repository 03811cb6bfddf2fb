#include "GroupLink.h"

#include <QTcpSocket>

namespace {
// The socket holds at most this much unread input; the rest waits in the kernel.
constexpr qint64 ReadBufferSize = 1024 * 1024;
constexpr qint64 ReadSlice = 64 * 1024;
} // namespace

TGroupLink::TGroupLink(QTcpSocket *Socket, const TTimes &Times, QObject *Parent)
    : QObject(Parent), FSocket(Socket ? Socket : new QTcpSocket(this)), FTimes(Times) {
    FSocket->setParent(this);
    FSocket->setReadBufferSize(ReadBufferSize);
    FSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(FSocket, &QTcpSocket::connected, this, [this] {
        FSilentMs = 0;
        Q_EMIT Connected();
    });
    connect(FSocket, &QTcpSocket::readyRead, this, [this] { OnReadyRead(false); });
    connect(FSocket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError Error) {
        if (Error == QAbstractSocket::ConnectionRefusedError) {
            End(TLinkEnd::Refused);
        } else if (Error == QAbstractSocket::RemoteHostClosedError) {
            OnReadyRead(true); // its last records (a goodbye) still count
            End(TLinkEnd::Closed);
        } else if (FSocket->state() != QAbstractSocket::ConnectedState)
            End(TLinkEnd::NoAnswer);
    });
    connect(FSocket, &QTcpSocket::disconnected, this, [this] {
        OnReadyRead(true);
        End(TLinkEnd::Closed);
    });
    connect(&FTick, &QTimer::timeout, this, &TGroupLink::OnTick);
    FTick.start(FTimes.PingMs);
}

TGroupLink::~TGroupLink() {
    FSocket->disconnect(this);
}

void TGroupLink::ConnectTo(const QString &Host, quint16 Port) {
    FSocket->connectToHost(Host, Port);
}

QHostAddress TGroupLink::PeerAddress() const {
    return FSocket->peerAddress();
}

void TGroupLink::Send(const TGroupRecord &Record) {
    SendEncoded(EncodeGroupRecord(Record));
}

void TGroupLink::SendEncoded(const QByteArray &Bytes) {
    if (!FOpen || FSocket->state() != QAbstractSocket::ConnectedState)
        return;
    if (FSocket->bytesToWrite() > MaxBacklog) {
        End(TLinkEnd::Backlog);
        return;
    }
    FSocket->write(Bytes);
}

qint64 TGroupLink::Backlog() const {
    return FOpen ? FSocket->bytesToWrite() : 0;
}

void TGroupLink::Close() {
    if (!FOpen)
        return;
    FOpen = false;
    FTick.stop();
    FSocket->disconnect(this);
    // The last records (a goodbye) go to the kernel now: the link may be deleted next.
    FSocket->flush();
    FSocket->disconnectFromHost();
}

void TGroupLink::OnReadyRead(bool All) {
    FReadPosted = false;
    QByteArray Slice;
    for (bool First = true; FOpen && FSocket->bytesAvailable() > 0; First = false) {
        // A slice a turn: a peer that floods leaves the other peers and the GUI their turn.
        if (!First && !All) {
            if (!std::exchange(FReadPosted, true))
                QMetaObject::invokeMethod(
                    this, [this] { OnReadyRead(false); }, Qt::QueuedConnection);
            return;
        }
        Slice = FSocket->read(ReadSlice);
        FSilentMs = 0;
        FReader.Feed(Slice);
        while (FOpen) {
            std::optional<TGroupRecord> Record = FReader.Next();
            if (!Record)
                break;
            if (Record->Kind != TGroupKind::Ping)
                Q_EMIT Received(*Record); // may close the link
        }
        if (FReader.Failed()) {
            End(TLinkEnd::Garbage);
            return;
        }
    }
}

void TGroupLink::OnTick() {
    const bool Up = FSocket->state() == QAbstractSocket::ConnectedState;
    FSilentMs += FTimes.PingMs;
    if (FSilentMs >= (Up ? FTimes.SilenceMs : FTimes.ConnectMs)) {
        End(TLinkEnd::NoAnswer);
        return;
    }
    if (Up)
        Send({TGroupKind::Ping, {}, {}, {}});
}

void TGroupLink::End(TLinkEnd Why) {
    if (!FOpen)
        return;
    FOpen = false;
    FTick.stop();
    FSocket->disconnect(this);
    FSocket->abort();
    // From the event loop: the owner may delete the link in its handler.
    QMetaObject::invokeMethod(
        this, [this, Why] { Q_EMIT Ended(Why); }, Qt::QueuedConnection);
}
