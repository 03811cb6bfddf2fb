// The leader's side of TGroup: inviting rooms, keeping their places, handing them the list,
// the anchors and the members, and carrying out what their controllers ask.
#include "Group.h"

#include "ClockPacket.h"
#include "CommandProtocol.h"

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

QByteArray EndReason(TLinkEnd Why, quint16 Port) {
    const QByteArray On = " on port " + QByteArray::number(Port) + ".";
    switch (Why) {
    case TLinkEnd::Garbage:
        return "it answers something else" + On;
    case TLinkEnd::Closed:
        return "it closed the connection" + On;
    default:
        return "it does not answer" + On;
    }
}

} // namespace

TGroup::TRoom *TGroup::FindRoom(const QByteArray &Host) const {
    for (const auto &Room : FRooms)
        if (Room->Host == Host)
            return Room.get();
    return nullptr;
}

TGroup::TRoom *TGroup::FindToken(qint64 Token) const {
    for (const auto &Room : FRooms)
        if (Room->Joined && Room->Token == Token)
            return Room.get();
    return nullptr;
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
    const auto [Address, RoomPort] = SplitHostPort(Host, GroupPort);
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

    TGroupLink *Link = NewLink(nullptr);
    Room->Link = Link;
    connect(Link, &TGroupLink::Connected, this, [this, Room, Link] {
        Link->Send(HelloRecord(
            {GroupLinkVersion, FName, TGroupIntent::Invite, FGroupId, Room->Token, Port(), {}}));
    });
    connect(Link, &TGroupLink::Received, this, [this, Room, Link, RoomPort](const TGroupRecord &R) {
        const std::optional<TGroupHello> Hello = ReadHello(R);
        if (!Hello)
            return JoinFailed(Room, EndReason(TLinkEnd::Garbage, RoomPort));
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
    connect(Link, &TGroupLink::Ended, this,
            [this, Room, RoomPort](TLinkEnd Why) { JoinFailed(Room, EndReason(Why, RoomPort)); });
    Link->ConnectTo(Address, RoomPort);
    MembersUpdated();
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
    for (const auto &Room : FRooms)
        if (Room->Joined && Room->Link)
            Room->Link->Send(Record);
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
