#include "Presence.h"

#include "AddressChanges.h"
#include "Utils.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>

#include <arpa/inet.h>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>

const QByteArray TPresence::Hello = "VELOXHELLO";
const QByteArray TPresence::Alive = "VELOXALIVE";
const QByteArray TPresence::Goodbye = "VELOXCLOSE";
const QByteArray TPresence::ThisComputer = "My Computer";

namespace {

const QByteArray Loopback = "127.0.0.1";

QByteArray AddressText(const QHostAddress &Address) {
    return Address.toString().toLatin1();
}

// Sends Data to To:Port from the local address From. Qt's own way
// (QNetworkDatagram::setSender) fills ipi_addr, which Linux ignores when
// sending; the source goes in ipi_spec_dst. With the source fixed, a broadcast
// leaves through that address's interface even where no default route exists.
bool SendFrom(qintptr Socket, const QByteArray &Data, const QHostAddress &To, quint16 Port,
              const QHostAddress &From) {
    if (Socket < 0 || To.protocol() != QAbstractSocket::IPv4Protocol ||
        From.protocol() != QAbstractSocket::IPv4Protocol)
        return false;
    sockaddr_in Target{};
    Target.sin_family = AF_INET;
    Target.sin_port = htons(Port);
    Target.sin_addr.s_addr = htonl(To.toIPv4Address());
    iovec Buffer{const_cast<char *>(Data.constData()), size_t(Data.size())};
    alignas(cmsghdr) char Control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr Message{};
    Message.msg_name = &Target;
    Message.msg_namelen = sizeof Target;
    Message.msg_iov = &Buffer;
    Message.msg_iovlen = 1;
    Message.msg_control = Control;
    Message.msg_controllen = sizeof Control;
    cmsghdr *Header = CMSG_FIRSTHDR(&Message);
    Header->cmsg_level = IPPROTO_IP;
    Header->cmsg_type = IP_PKTINFO;
    Header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo Info{};
    Info.ipi_spec_dst.s_addr = htonl(From.toIPv4Address());
    std::memcpy(CMSG_DATA(Header), &Info, sizeof Info);
    return ::sendmsg(int(Socket), &Message, MSG_NOSIGNAL) == Data.size();
}

// Whether a datagram from Sender may be answered and listed: a forged source of
// 0.x.x.x, a broadcast or a multicast address would turn the answer into a
// broadcast or a datagram to ourselves.
bool IsUsablePeer(const QHostAddress &Sender) {
    if (Sender.protocol() != QAbstractSocket::IPv4Protocol)
        return false;
    const quint32 A = Sender.toIPv4Address();
    return (A >> 24) != 0 && A != 0xFFFFFFFFu && !Sender.isMulticast();
}

} // namespace

TPresence::TPresence(QObject *Parent) : QObject(Parent) {
    FUptime.start();
    FClock = [this] { return FUptime.elapsed(); };
    // The full scan only after the kernel reported a change: an idle speaker looks every
    // second, and the scan is most of what it does.
    FAddressSource = [Changes = std::make_shared<TAddressChanges>(),
                      Last = std::make_shared<QList<QHostAddress>>()] {
        if (Changes->Take())
            *Last = InterfaceAddresses();
        return *Last;
    };
    FComputers = {ThisComputer};
    FOwnAddresses = {Loopback};
    FWatchTimer.setInterval(WatchIntervalMs);
    connect(&FWatchTimer, &QTimer::timeout, this, &TPresence::Watch);
    FNotifyTimer.setSingleShot(true);
    FNotifyTimer.setInterval(ChangeNotifyDelayMs);
    connect(&FNotifyTimer, &QTimer::timeout, this, &TPresence::ComputersChanged);
    connect(&FSocket, &QUdpSocket::readyRead, this, &TPresence::ReadDatagrams);
}

TPresence::~TPresence() = default;

void TPresence::SetClock(TClock Clock) {
    FClock = std::move(Clock);
}

void TPresence::SetAddressSource(TAddressSource Source) {
    FAddressSource = std::move(Source);
}

QList<QHostAddress> TPresence::InterfaceAddresses() {
    QList<QHostAddress> Network, Local;
    for (const QNetworkInterface &Interface : QNetworkInterface::allInterfaces()) {
        const QNetworkInterface::InterfaceFlags Flags = Interface.flags();
        if (!Flags.testFlag(QNetworkInterface::IsUp) ||
            !Flags.testFlag(QNetworkInterface::IsRunning))
            continue;
        for (const QNetworkAddressEntry &Entry : Interface.addressEntries())
            if (Entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                (Flags.testFlag(QNetworkInterface::IsLoopBack) ? Local : Network)
                    .append(Entry.ip());
    }
    return Network + Local;
}

bool TPresence::Start(quint16 Port, QString *Error) {
    Stop();
    // Shared, so that other listeners on this port (another user's copy, a
    // test's peer on an address of its own) can bind beside it; broadcasts
    // reach every one of them.
    if (!FSocket.bind(QHostAddress::AnyIPv4, Port,
                      QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        if (Error)
            *Error = FSocket.errorString();
        return false;
    }
    FPort = FSocket.localPort();
    Watch();
    FWatchTimer.start();
    return true;
}

void TPresence::SayGoodbye() {
    Broadcast(Goodbye);
}

void TPresence::Stop() {
    FWatchTimer.stop();
    FSocket.close();
    FPort = 0;
}

bool TPresence::IsRunning() const {
    return FSocket.state() == QAbstractSocket::BoundState;
}

quint16 TPresence::Port() const {
    return IsRunning() ? FPort : 0;
}

QByteArrayList TPresence::OwnAddresses() const {
    return FOwnAddresses;
}

bool TPresence::IsOwnAddress(const QByteArray &Address) const {
    return FOwnAddresses.contains(Address);
}

void TPresence::Watch() {
    const QList<QHostAddress> Addresses = FAddressSource ? FAddressSource() : QList<QHostAddress>();
    QByteArrayList Own = {Loopback};
    QByteArray Primary;
    for (const QHostAddress &Address : Addresses) {
        if (Address.protocol() != QAbstractSocket::IPv4Protocol)
            continue;
        if (Primary.isEmpty())
            Primary = AddressText(Address);
        AddUniqueString(AddressText(Address), Own);
    }
    FOwnAddresses = Own;
    if (Primary.isEmpty())
        Primary = Loopback;

    const bool Online = Primary != Loopback;
    // Coming online, going offline, or a new address without an offline look
    // between (a DHCP renewal, a switch of network).
    if (Online != IsOnline() || (Online && Primary != FLocalIP))
        OnlineStateChanged(Primary);
    else if (IsOnline() && FClock() - FLastGreeting >= GreetIntervalMs)
        Greet();

    const qint64 Now = FClock();
    QByteArrayList Silent;
    for (auto It = FLastHeard.cbegin(); It != FLastHeard.cend(); ++It)
        if (Now - It.value() >= PeerTimeoutMs)
            Silent.append(It.key());
    for (const QByteArray &Address : std::as_const(Silent))
        Forget(Address);
}

void TPresence::OnlineStateChanged(const QByteArray &Address) {
    if (FLocalIP != Address) {
        FLocalIP = Address;
        Q_EMIT LocalIPChanged(FLocalIP);
    }
    Greet();
}

void TPresence::Greet() {
    FLastGreeting = FClock();
    Broadcast(Hello);
}

void TPresence::Broadcast(const QByteArray &Word) {
    if (!IsRunning())
        return;
    // From LocalIP, so that peers list the address our track URLs carry.
    if (IsOnline() &&
        SendFrom(FSocket.socketDescriptor(), Word, QHostAddress(QHostAddress::Broadcast), FPort,
                 QHostAddress(QString::fromLatin1(FLocalIP))))
        return;
    FSocket.writeDatagram(Word, QHostAddress(QHostAddress::Broadcast), FPort);
}

void TPresence::ReadDatagrams() {
    // Bounded, so that a flood cannot hold the GUI thread; what is left raises
    // readyRead again on the next turn of the event loop.
    for (int I = 0; I < MaxDatagramsPerRead && FSocket.hasPendingDatagrams(); ++I) {
        const QNetworkDatagram Datagram = FSocket.receiveDatagram();
        if (!Datagram.isValid())
            break;
        OnDatagram(Datagram.data(), Datagram.senderAddress());
    }
}

void TPresence::OnDatagram(const QByteArray &Data, const QHostAddress &Sender) {
    if (!IsUsablePeer(Sender))
        return;
    const QByteArray Address = AddressText(Sender);
    // Our own broadcasts come back to us.
    if (IsOwnAddress(Address))
        return;
    if (Data == Hello) {
        FSocket.writeDatagram(Alive, Sender, FPort);
        Heard(Address);
    } else if (Data.startsWith(Alive)) {
        Heard(Address);
    } else if (Data == Goodbye) {
        Forget(Address);
    }
}

void TPresence::Heard(const QByteArray &Address) {
    const auto It = FLastHeard.find(Address);
    if (It != FLastHeard.end()) {
        *It = FClock();
        return;
    }
    if (FLastHeard.size() >= MaxPeers || AddUniqueString(Address, FComputers) < 0)
        return;
    FLastHeard.insert(Address, FClock());
    NoteChange();
}

void TPresence::Forget(const QByteArray &Address) {
    if (!FLastHeard.remove(Address))
        return;
    FComputers.removeOne(Address); // listed in the same dotted form it is keyed by
    NoteChange();
}

void TPresence::NoteChange() {
    if (!FNotifyTimer.isActive())
        FNotifyTimer.start();
}
