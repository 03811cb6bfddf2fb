#include "ClockService.h"

#include "ClockPacket.h"
#include "ClockSocket.h"
#include "StartTimer.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

TClockService::TClockService(QObject *Parent) : TClockService(MonotonicNow, Parent) {}

TClockService::TClockService(TClock Clock, QObject *Parent)
    : QObject(Parent), FClock(std::move(Clock)) {}

TClockService::~TClockService() = default;

QUdpSocket *OpenClockSocket(QObject *Owner, const QHostAddress &Address, quint16 Port,
                            const std::function<void()> &Read) {
    auto *Socket = new QUdpSocket(Owner);
    if (!Socket->bind(Address, Port)) {
        qWarning("Clock: cannot have UDP port %u: %s", unsigned(Port),
                 qPrintable(Socket->errorString()));
        delete Socket;
        return nullptr;
    }
    QObject::connect(Socket, &QUdpSocket::readyRead, Owner, Read);
    return Socket;
}

void CloseClockSocket(QUdpSocket *&Socket) {
    if (!Socket)
        return;
    Socket->disconnect();
    Socket->close();
    Socket->deleteLater();
    Socket = nullptr;
}

bool TClockService::Listen(const QHostAddress &Address, quint16 Port) {
    Close();
    FSocket = OpenClockSocket(this, Address, Port, [this] { ReadPending(); });
    return FSocket != nullptr;
}

void TClockService::Close() {
    CloseClockSocket(FSocket);
}

bool TClockService::IsListening() const {
    return FSocket != nullptr;
}

quint16 TClockService::Port() const {
    return FSocket ? FSocket->localPort() : 0;
}

void TClockService::ReadPending() {
    while (FSocket && FSocket->hasPendingDatagrams()) {
        // One byte more than a packet, so that a longer datagram is seen to be one.
        const QNetworkDatagram Datagram = FSocket->receiveDatagram(ClockPacketSize + 1);
        const qint64 Received = FClock();
        const std::optional<TClockPacket> Request = DecodeClockPacket(Datagram.data());
        if (!Request || Request->Kind != TClockPacket::TKind::Request || Datagram.senderPort() <= 0)
            continue;
        const QByteArray Reply = EncodeClockPacket(ClockReply(*Request, Received, FClock()));
        FSocket->writeDatagram(Reply, Datagram.senderAddress(), quint16(Datagram.senderPort()));
    }
}
