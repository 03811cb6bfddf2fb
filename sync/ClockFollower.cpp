#include "ClockFollower.h"

#include "ClockPacket.h"
#include "ClockSocket.h"
#include "StartTimer.h"

#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QUdpSocket>

namespace {

constexpr qint64 NsPerMs = 1'000'000;

} // namespace

TClockFollower::TClockFollower(QObject *Parent)
    : TClockFollower(MonotonicNow, TClockRequests::TConfig{}, TGroupClock::TConfig{}, Parent) {}

TClockFollower::TClockFollower(TClock Clock, const TClockRequests::TConfig &Requests,
                               const TGroupClock::TConfig &Estimate, QObject *Parent)
    : QObject(Parent), FClock(std::move(Clock)),
      FRequests(QRandomGenerator::global()->generate(), Requests), FEstimate(Estimate) {
    FTimer.setSingleShot(true);
    connect(&FTimer, &QTimer::timeout, this, &TClockFollower::SendRequest);
}

TClockFollower::~TClockFollower() = default;

void TClockFollower::Follow(const QHostAddress &Leader, quint16 Port) {
    Stop();
    FLeader = Leader;
    FPort = Port;
    FEstimate.Reset();
    FRequests.Restart();
    FWasSynced = false;
    const bool V4 = Leader.protocol() == QAbstractSocket::IPv4Protocol;
    FSocket = OpenClockSocket(this, V4 ? QHostAddress::AnyIPv4 : QHostAddress::AnyIPv6, 0,
                              [this] { ReadPending(); });
    if (FSocket)
        SendRequest();
}

void TClockFollower::Stop() {
    FTimer.stop();
    CloseClockSocket(FSocket);
}

bool TClockFollower::IsFollowing() const {
    return FSocket != nullptr;
}

void TClockFollower::SendRequest() {
    if (!FSocket)
        return;
    const QByteArray Request = EncodeClockPacket(FRequests.NewRequest(FClock()));
    FSocket->writeDatagram(Request, FLeader, FPort);
    FTimer.start(int(FRequests.NextDelay() / NsPerMs));
}

void TClockFollower::ReadPending() {
    while (FSocket && FSocket->hasPendingDatagrams()) {
        const QNetworkDatagram Datagram = FSocket->receiveDatagram(ClockPacketSize + 1);
        const qint64 Received = FClock();
        if (Datagram.senderPort() != FPort ||
            !Datagram.senderAddress().isEqual(FLeader, QHostAddress::TolerantConversion))
            continue;
        const std::optional<TClockPacket> Reply = DecodeClockPacket(Datagram.data());
        if (!Reply)
            continue;
        const std::optional<TClockExchange> Exchange = FRequests.TakeReply(*Reply, Received);
        if (!Exchange || !FEstimate.AddExchange(*Exchange))
            continue;
        if (FEstimate.IsSynced() && !FWasSynced) {
            FWasSynced = true;
            Q_EMIT Synced();
        }
    }
}
