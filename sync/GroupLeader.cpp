// The leader's side of TGroup: inviting rooms, keeping their places, handing them the list,
// the anchors and the members, and carrying out what their controllers ask.
#include "Group.h"

#include "ClockPacket.h"
#include "CommandProtocol.h"

#include <QHostInfo>
#include <QNetworkInterface>
#include <QRandomGenerator>

namespace {

// "host" or "host:port"; the port defaults to the usual group port.
std::pair<QString, quint16> SplitHostPort(const QByteArray &Text, quint16 DefaultPort) {
    const qsizetype Colon = Text.lastIndexOf(':');
    if (Colon > 0 && Text.indexOf(':') == Colon) {
        bool Ok = false;
        const uint Port = Text.mid(Colon + 1).toUInt(&Ok);
        if (Ok && Port > 0 && Port < 65536)
            return {QString::fromUtf8(Text.left(Colon)), quint16(Port)};
    }
    return {QString::fromUtf8(Text), DefaultPort};
}

// Whatever else a host or port does, a controller learns no more than this: the group port
// is no way to scan the network.
constexpr char NotASpeaker[] = "not a Vellox speaker.";

// This computer: a room here would be this speaker itself, or another program's port.
bool IsThisComputer(const QHostAddress &Address) {
    if (Address.isLoopback() || Address.isNull() || Address == QHostAddress::AnyIPv4 ||
        Address.isMulticast() || Address.isBroadcast())
        return true;
    return QNetworkInterface::allAddresses().contains(Address);
}

// The host as the room's GROUP line shows it.
QByteArray LineHost(const QByteArray &Host) {
    return FormatRoomLine({Host, {}, 0, false, {}}).split('\t').constFirst();
}

} // namespace

TGroup::TRoom *TGroup::FindRoom(const QByteArray &Host) const {
    for (const auto &Room : FRooms)
        if (Room->Host == Host)
            return Room.get();
    return nullptr;
}

bool TGroup::HasJoinedRoomAt(const QHostAddress &Address) const {
    for (const auto &Room : FRooms)
        if (Room->Joined && Room->Link && Room->Link->PeerAddress().isEqual(Address))
            return true;
    return false;
}

TGroup::TRoom *TGroup::FindToken(qint64 Token) const {
    for (const auto &Room : FRooms)
        if (Room->Joined && Room->Token == Token)
            return Room.get();
    return nullptr;
}

bool TGroup::HasPendingInvites() const {
    return std::any_of(FRooms.begin(), FRooms.end(), [](const auto &R) { return !R->Joined; });
}

void TGroup::Invite(const QByteArray &Host, qint64 AskedBy) {
    if (FindRoom(Host) || IsOwnHost(Host))
        return; // already in the group, or on its way back
    const auto Fail = [&](const QByteArray &Reason) {
        InviteFailed(AskedBy, Host + " cannot play in sync: " + Reason);
    };
    if (!FAllowed)
        return Fail("this speaker does not let others play.");
    if (FRooms.size() + 1 >= size_t(MaxGroupRooms))
        return Fail("the group is full.");
    const auto [Name, RoomPort] = SplitHostPort(Host, GroupPort);
    QHostAddress Literal;
    if (Literal.setAddress(Name) && IsThisComputer(Literal))
        return Fail(NotASpeaker);
    auto Owned = std::make_unique<TRoom>();
    TRoom *Room = Owned.get();
    Room->Host = Host.left(MaxRoomField);
    Room->Token = qint64(QRandomGenerator::system()->generate64() >> 2) + 1;
    Room->Report.Status = "Joining";
    Room->AskedBy = AskedBy;
    Room->Away = new QTimer(this);
    Room->Away->setSingleShot(true);
    connect(Room->Away, &QTimer::timeout, this, [this, Room] { RemoveRoom(Room, {}); });
    FRooms.push_back(std::move(Owned));
    MembersUpdated();
    if (!Literal.isNull()) {
        Connect(Room, Literal, RoomPort);
        return;
    }
    // The name's first IPv4 address (rooms listen there); the room's timer dies with it.
    QHostInfo::lookupHost(Name, Room->Away, [this, Room, Port = RoomPort](const QHostInfo &Info) {
        if (std::none_of(FRooms.begin(), FRooms.end(),
                         [Room](const auto &R) { return R.get() == Room; }))
            return; // removed meanwhile
        const QList<QHostAddress> Found = Info.addresses();
        const auto It = std::find_if(Found.begin(), Found.end(), [](const QHostAddress &A) {
            return A.protocol() == QAbstractSocket::IPv4Protocol;
        });
        if (It == Found.end() || IsThisComputer(*It))
            JoinFailed(Room, NotASpeaker);
        else
            Connect(Room, *It, Port);
    });
}

void TGroup::Connect(TRoom *Room, const QHostAddress &Address, quint16 RoomPort) {
    TGroupLink *Link = NewLink(nullptr);
    Room->Link = Link;
    connect(Link, &TGroupLink::Connected, this, [this, Room, Link] {
        Link->Send(HelloRecord({GroupLinkVersion, FName, TGroupIntent::Invite, FGroupId,
                                Room->Token, Port(), LineHost(Room->Host)}));
    });
    connect(Link, &TGroupLink::Received, this, [this, Room, Link](const TGroupRecord &R) {
        const std::optional<TGroupHello> Hello = ReadHello(R);
        if (!Hello)
            return JoinFailed(Room, NotASpeaker);
        Room->Name = Hello->Name.left(MaxRoomField);
        if (Hello->Version < GroupLinkVersion)
            return JoinFailed(Room, "it runs an older version.");
        if (Hello->Version > GroupLinkVersion)
            return JoinFailed(Room, "it runs a newer version.");
        if (Hello->Intent != TGroupIntent::Accept)
            return JoinFailed(Room, Hello->Reason.isEmpty() ? QByteArray("it refused.")
                                                            : Hello->Reason.left(MaxRoomField));
        Room->Joined = true;
        AttachRoom(Room, Link);
        SetRole(TGroupRole::Leader);
    });
    connect(Link, &TGroupLink::Ended, this, [this, Room] { JoinFailed(Room, NotASpeaker); });
    Link->ConnectTo(Address.toString(), RoomPort);
}

void TGroup::JoinFailed(TRoom *Room, const QByteArray &Reason) {
    const QByteArray Name = Room->Name.isEmpty() ? Room->Host : Room->Name;
    const qint64 AskedBy = Room->AskedBy;
    RemoveRoom(Room, {});
    InviteFailed(AskedBy, Name + " cannot play in sync: " + Reason);
}

void TGroup::InviteFailed(qint64 AskedBy, const QByteArray &Text) {
    Q_EMIT ErrorOccurred(Text);
    if (const TRoom *Asking = AskedBy ? FindToken(AskedBy) : nullptr; Asking && Asking->Link)
        Asking->Link->Send({TGroupKind::Command, {}, {CommandWord::GroupError}, {Text}});
}

void TGroup::AttachRoom(TRoom *Room, TGroupLink *Link) {
    if (Room->Link && Room->Link != Link) {
        Room->Link->disconnect(this);
        Room->Link->Close();
        Room->Link->deleteLater();
    }
    Room->Link = Link;
    Room->Away->stop();
    Link->disconnect(this);
    connect(Link, &TGroupLink::Received, this,
            [this, Room](const TGroupRecord &R) { OnRoomRecord(Room, R); });
    connect(Link, &TGroupLink::Ended, this, [this, Room](TLinkEnd Why) { OnRoomEnded(Room, Why); });
    Link->Send({TGroupKind::List, {}, {}, FList});
    if (FAnchor)
        Link->Send(*FAnchor);
    MembersUpdated();
}

void TGroup::OnRoomRecord(TRoom *Room, const TGroupRecord &Record) {
    switch (Record.Kind) {
    case TGroupKind::Report:
        Room->Report = {int(std::clamp<qint64>(Record.Number(0), 0, 100)), Record.Number(1) != 0,
                        int(Record.Number(2)), Record.Text(0).left(MaxRoomField)};
        MembersUpdated();
        break;
    case TGroupKind::Command:
        RunCommand(Room, Record.Text(0), Record.Items);
        break;
    case TGroupKind::Bye:
        RemoveRoom(Room, {});
        break;
    default:
        break;
    }
}

void TGroup::RunCommand(const TRoom *From, const QByteArray &Word, const QByteArrayList &Lines) {
    const QByteArray Host = Lines.value(0);
    const std::optional<int> Value = [&]() -> std::optional<int> {
        bool Ok = false;
        const int V = Lines.value(1).toInt(&Ok);
        return Ok ? std::optional<int>(V) : std::nullopt;
    }();
    if (Word == "GROUPADD" && !Host.trimmed().isEmpty())
        Invite(Host.trimmed(), From->Token);
    else if (Word == "GROUPLEAVE")
        Leave(Host);
    else if (Word == "GROUPVOLUME" && Value)
        SetRoomVolume(Host, *Value);
    else if (Word == "GROUPMUTE" && Value)
        SetRoomMute(Host, *Value != 0);
    else if (!Word.startsWith("GROUP"))
        Q_EMIT CommandReceived(Word, Lines);
    // The room hears that its command arrived, whether it changed anything or not.
    MembersUpdated();
}

void TGroup::OnRoomEnded(TRoom *Room, TLinkEnd) {
    // It may come back by itself: its place is kept a while.
    if (Room->Link)
        Room->Link->deleteLater();
    Room->Link = nullptr;
    Room->Report.Status = "Away";
    Room->Away->start(FConfig.KeepPlaceMs);
    MembersUpdated();
}

void TGroup::RemoveRoom(TRoom *Room, const QByteArray &Reason) {
    const auto It = std::find_if(FRooms.begin(), FRooms.end(),
                                 [Room](const auto &R) { return R.get() == Room; });
    if (It == FRooms.end())
        return;
    if (TGroupLink *Link = Room->Link) {
        Link->disconnect(this);
        Link->Send({TGroupKind::Bye, {}, {Reason}, {}});
        Link->Close();
        Link->deleteLater();
    }
    Room->Away->stop();
    Room->Away->deleteLater();
    FRooms.erase(It);
    if (std::none_of(FRooms.begin(), FRooms.end(), [](const auto &R) { return R->Joined; }))
        SetRole(TGroupRole::Alone);
    MembersUpdated();
}

void TGroup::EndGroup(const QByteArray &Reason) {
    while (!FRooms.empty())
        RemoveRoom(FRooms.back().get(), Reason);
}

void TGroup::SendToRooms(const TGroupRecord &Record) {
    TrimBacklog();
    const QByteArray Bytes = EncodeGroupRecord(Record);
    for (const auto &Room : FRooms)
        if (Room->Joined && Room->Link)
            Room->Link->SendEncoded(Bytes);
}

void TGroup::PublishList(const QByteArrayList &Locations) {
    FList = Locations;
    if (FRole == TGroupRole::Leader)
        SendToRooms({TGroupKind::List, {}, {}, FList});
}

void TGroup::PublishAnchor(const TGroupRecord &Anchor) {
    FAnchor = Anchor;
    if (FRole == TGroupRole::Leader)
        SendToRooms(Anchor);
}
