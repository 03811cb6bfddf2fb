#include "ClockService.h"

#include "ClockPacket.h"
#include "StartTimer.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

TClockService::TClockService(QObject *Parent) : TClockService(MonotonicNow, Parent) {}

TClockService::TClockService(TClock Clock, QObject *Parent)
    : QObject(Parent), FClock(std::move(Clock)) {}

TClockService::~TClockService() = default;

bool TClockService::Listen(const QHostAddress &Address, quint16 Port) {
    Close();
    FSocket = new QUdpSocket(this);
    if (!FSocket->bind(Address, Port)) {
        qWarning("Clock service: cannot have UDP port %u: %s", unsigned(Port),
                 qPrintable(FSocket->errorString()));
        Close();
        return false;
    }
    connect(FSocket, &QUdpSocket::readyRead, this, &TClockService::ReadPending);
    return true;
}

void TClockService::Close() {
    if (!FSocket)
        return;
    FSocket->disconnect(this);
    FSocket->close();
    FSocket->deleteLater();
    FSocket = nullptr;
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
