#include "Presence.h"

#include "AddressChanges.h"
#include "AsciiText.h"
#include "LogCategories.h"
#include "Settings.h"
#include "SpeakerName.h"

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
const QByteArray TPresence::NameField = "\nNAME=";

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

} // namespace

TPresence::TPresence(QObject *Parent) : QObject(Parent) {
    FUptime.start();
    FClock = [this] { return FUptime.elapsed(); };
    // The full scan only after the kernel reported a change: an idle speaker looks every
    // second, and the scan is most of what it does.
    FAddressSource = [Changes = std::make_shared<TAddressChanges>(),
                      Last = std::make_shared<QList<QNetworkAddressEntry>>()] {
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

QList<QNetworkAddressEntry> TPresence::InterfaceAddresses() {
    QList<QNetworkAddressEntry> Network, Local;
    for (const QNetworkInterface &Interface : QNetworkInterface::allInterfaces()) {
        const QNetworkInterface::InterfaceFlags Flags = Interface.flags();
        if (!Flags.testFlag(QNetworkInterface::IsUp) ||
            !Flags.testFlag(QNetworkInterface::IsRunning))
            continue;
        for (const QNetworkAddressEntry &Entry : Interface.addressEntries())
            if (Entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                (Flags.testFlag(QNetworkInterface::IsLoopBack) ? Local : Network).append(Entry);
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
        qCWarning(LogNet, "Presence not started on UDP port %u: %s", unsigned(Port),
                  qUtf8Printable(FSocket.errorString()));
        if (Error)
            *Error = FSocket.errorString();
    }
    FPort = FSocket.localPort();
    // LocalIP goes into the track URLs handed to other computers: follow it even
    // when no peer can be heard.
    Watch();
    FWatchTimer.start();
    return IsRunning();
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
    const QList<QNetworkAddressEntry> Entries =
        FAddressSource ? FAddressSource() : QList<QNetworkAddressEntry>();
    FEntries.clear();
    FBroadcasts.clear();
    QByteArrayList Own = {Loopback};
    QByteArray Primary;
    for (const QNetworkAddressEntry &Entry : Entries) {
        if (Entry.ip().protocol() != QAbstractSocket::IPv4Protocol)
            continue;
        FEntries.append(Entry);
        if (Entry.broadcast().protocol() == QAbstractSocket::IPv4Protocol)
            FBroadcasts.append(Entry.broadcast().toIPv4Address());
        if (Primary.isEmpty())
            Primary = AddressText(Entry.ip());
        AddUniqueString(AddressText(Entry.ip()), Own);
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
    while (!FRecency.empty() && Now - FPeers.value(FRecency.front()).LastHeard >= PeerTimeoutMs)
        Forget(FRecency.front());
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
    // The greeting itself must stay the bare word; the peers learn the name from this.
    if (!FName.isEmpty())
        Broadcast(AliveWord());
}

void TPresence::SetName(const QString &Name) {
    const QString Clean = CleanSpeakerName(Name);
    if (Clean == FName)
        return;
    FName = Clean;
    if (IsOnline() && !FName.isEmpty())
        Broadcast(AliveWord());
    NoteChange(); // the lists that name this computer too
}

QString TPresence::Label(const QByteArray &Computer) const {
    const QString Name = NameOf(Computer);
    const QString Listed = QString::fromUtf8(Computer);
    return Name.isEmpty() || Name == Listed ? Listed : Name + QStringLiteral(" (") + Listed + u')';
}

QByteArray TPresence::AliveWord() const {
    return FName.isEmpty() ? Alive : Alive + NameField + FName.toUtf8();
}

void TPresence::Broadcast(const QByteArray &Word) {
    const QHostAddress All(QHostAddress::Broadcast);
    bool Sent = false;
    if (IsOnline()) {
        // From LocalIP first, so that peers list the address our track URLs carry;
        // then from one address of every other network we can broadcast on, so
        // that peers there hear us too and need not greet to stay listed.
        QList<QHostAddress> Reached;
        for (const QNetworkAddressEntry &Entry : std::as_const(FEntries)) {
            const bool Primary = AddressText(Entry.ip()) == FLocalIP;
            if (!Primary && (Entry.broadcast().isNull() || Reached.contains(Entry.broadcast())))
                continue;
            if (!Entry.broadcast().isNull())
                Reached.append(Entry.broadcast());
            Sent = Send(Word, All, Entry.ip()) || Sent;
        }
    }
    if (!Sent)
        Send(Word, All, QHostAddress());
}

bool TPresence::Send(const QByteArray &Word, const QHostAddress &To, const QHostAddress &From) {
    if (!IsRunning())
        return false;
    if (!From.isNull())
        return SendFrom(FSocket.socketDescriptor(), Word, To, FPort, From);
    return FSocket.writeDatagram(Word, To, FPort) == Word.size();
}

void TPresence::ReadDatagrams() {
    // Bounded, so that a flood cannot hold the GUI thread; what is left raises
    // readyRead again on the next turn of the event loop.
    for (int I = 0; I < MaxDatagramsPerRead && FSocket.hasPendingDatagrams(); ++I) {
        const QNetworkDatagram Datagram = FSocket.receiveDatagram();
        if (!Datagram.isValid())
            break;
        Receive(Datagram.data(), Datagram.senderAddress());
    }
}

bool TPresence::IsPeerSource(const QHostAddress &Sender) const {
    if (Sender.protocol() != QAbstractSocket::IPv4Protocol)
        return false;
    // A forged source would make the answer a broadcast, a multicast or a
    // datagram to ourselves, and fill the list with computers that are not there.
    const quint32 A = Sender.toIPv4Address();
    return (A >> 24) != 0 && !Sender.isLoopback() && !Sender.isMulticast() && A != 0xFFFFFFFFu &&
           !FBroadcasts.contains(A);
}

void TPresence::Receive(const QByteArray &Data, const QHostAddress &Sender) {
    if (!IsPeerSource(Sender))
        return;
    const QByteArray Address = AddressText(Sender);
    // Our own broadcasts come back to us.
    if (IsOwnAddress(Address))
        return;
    if (Data == Hello) {
        Send(AliveWord(), Sender, QHostAddress());
        Heard(Address);
    } else if (Data.startsWith(Alive)) {
        Heard(Address);
        // Other fields may follow in later versions: only the name's is read.
        const qsizetype At = Data.indexOf(NameField, Alive.size());
        if (At >= 0 && Data.size() <= MaxNamedDatagram) {
            const qsizetype From = At + NameField.size();
            const qsizetype End = Data.indexOf('\n', From);
            const QString Name = CleanSpeakerName(Data.mid(From, End < 0 ? -1 : End - From));
            if (FNames.value(Address) != Name) {
                FNames.insert(Address, Name);
                NoteChange();
            }
        }
    } else if (Data == Goodbye) {
        Forget(Address);
    }
}

void TPresence::Heard(const QByteArray &Address) {
    const auto It = FPeers.find(Address);
    if (It != FPeers.end()) {
        It->LastHeard = FClock();
        FRecency.splice(FRecency.end(), FRecency, It->Recency);
        return;
    }
    // Forged senders can fill the list, but never keep a real peer out of it.
    if (FPeers.size() >= MaxPeers)
        Forget(FRecency.front());
    FRecency.push_back(Address);
    FPeers.insert(Address, {FClock(), std::prev(FRecency.end())});
    FComputers.append(Address); // dotted text: no two peers differ by case alone
    NoteChange();
}

void TPresence::Forget(QByteArray Address) {
    const auto It = FPeers.find(Address);
    if (It == FPeers.end())
        return;
    FRecency.erase(It->Recency);
    FPeers.erase(It);
    FNames.remove(Address);
    FComputers.removeOne(Address); // listed in the same dotted form it is keyed by
    NoteChange();
}

void TPresence::NoteChange() {
    if (!FNotifyTimer.isActive())
        FNotifyTimer.start();
}
