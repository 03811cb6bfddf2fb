#include "ClockService.h"

#include "ClockPacket.h"
#include "ClockSocket.h"
#include "StartTimer.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

#include <algorithm>

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

namespace {
constexpr TClockService::TBudget SourceBudget{16, 8, 16};
constexpr qsizetype MaxSources = 1024;
} // namespace

bool TClockService::TBudget::Take(qint64 Now) {
    if (Now > At)
        Left = std::min(Burst, Left + Rate * double(Now - At) / 1e9);
    At = std::max(At, Now);
    if (Left < 1)
        return false;
    Left -= 1;
    return true;
}

void TClockService::ReadPending() {
    while (FSocket && FSocket->hasPendingDatagrams()) {
        // One byte more than a packet, so that a longer datagram is seen to be one.
        const QNetworkDatagram Datagram = FSocket->receiveDatagram(ClockPacketSize + 1);
        const qint64 Received = FClock();
        const std::optional<TClockPacket> Request = DecodeClockPacket(Datagram.data());
        if (!Request || Request->Kind != TClockPacket::TKind::Request || Datagram.senderPort() <= 0)
            continue;
        if (FPerSource.size() >= MaxSources && !FPerSource.contains(Datagram.senderAddress()))
            FPerSource.clear();
        auto Source = FPerSource.find(Datagram.senderAddress());
        if (Source == FPerSource.end())
            Source =
                FPerSource.insert(Datagram.senderAddress(), {SourceBudget.Burst, SourceBudget.Rate,
                                                             SourceBudget.Left, Received});
        if (!Source->Take(Received) || !FAll.Take(Received))
            continue;
        const QByteArray Reply = EncodeClockPacket(ClockReply(*Request, Received, FClock()));
        FSocket->writeDatagram(Reply, Datagram.senderAddress(), quint16(Datagram.senderPort()));
    }
}
