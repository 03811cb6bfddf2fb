#include "Group.h"

#include "LogCategories.h"

#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>

TGroup::TGroup(const QByteArray &Name, std::function<TRoomReport()> Report, const TConfig &Config,
               QObject *Parent)
    : QObject(Parent), FName(Name), FReport(std::move(Report)), FConfig(Config),
      FServer(new QTcpServer(this)), FMembersTimer(new QTimer(this)),
      FRejoinTimer(new QTimer(this)), FAnswerTimer(new QTimer(this)),
      FAnchorTimer(new QTimer(this)) {
    // Never 0: a follower's rejoin names its group by this number.
    FGroupId = qint64(QRandomGenerator::system()->generate64() >> 2) + 1;
    for (QTimer *Timer : {FMembersTimer, FRejoinTimer, FAnswerTimer, FAnchorTimer})
        Timer->setSingleShot(true);
    connect(FServer, &QTcpServer::newConnection, this, &TGroup::OnIncoming);
    connect(FRejoinTimer, &QTimer::timeout, this, &TGroup::TryRejoin);
    connect(FMembersTimer, &QTimer::timeout, this, [this] {
        if (std::exchange(FMembersDue, false))
            MembersUpdated();
    });
    connect(FAnswerTimer, &QTimer::timeout, this,
            [this] { LeaveByItself("The group's leader does not answer."); });
    connect(FAnchorTimer, &QTimer::timeout, this, &TGroup::TakeAnchor);
}

TGroup::~TGroup() {
    blockSignals(true);
    Close();
}

bool TGroup::Listen(quint16 Port) {
    FListenPort = Port;
    if (FServer->isListening())
        FServer->close();
    if (!FAllowed)
        return false;
    if (FServer->listen(QHostAddress::AnyIPv4, Port)) {
        FListenPort = FServer->serverPort(); // a rebind after the switch gets the same one
        return true;
    }
    qCWarning(LogPlayer, "Group port %u is taken: this speaker cannot join groups (%s)",
              unsigned(Port), qUtf8Printable(FServer->errorString()));
    return false;
}

quint16 TGroup::Port() const {
    return FServer->isListening() ? FServer->serverPort() : FListenPort;
}

bool TGroup::IsListening() const {
    return FServer->isListening();
}

void TGroup::SetAllowed(bool Allowed) {
    if (Allowed == FAllowed)
        return;
    FAllowed = Allowed;
    if (Allowed) {
        Listen(FListenPort);
        return;
    }
    FServer->close();
    if (FRole == TGroupRole::Leader)
        EndGroup("The group's leader went away.");
    else if (FRole == TGroupRole::Follower)
        StopFollowing({});
}

void TGroup::Close() {
    FServer->close();
    if (FRole == TGroupRole::Leader)
        EndGroup("The group's leader went away.");
    else if (FRole == TGroupRole::Follower)
        StopFollowing({});
}

void TGroup::SetHost(const QByteArray &Host) {
    if (Host == FHost)
        return;
    FHost = Host;
    MembersUpdated();
}

void TGroup::SetName(const QByteArray &Name) {
    if (Name == FName)
        return;
    FName = Name;
    MembersUpdated();
}

TRoomReport TGroup::OwnReport() const {
    return FReport ? FReport() : TRoomReport{};
}

QByteArrayList TGroup::Members() const {
    if (FRole == TGroupRole::Follower && !FLeaderMembers.isEmpty())
        return FLeaderMembers;
    const TRoomReport Own = OwnReport();
    QByteArrayList Lines{FormatRoomLine({FHost, FName, Own.Volume, Own.Mute, Own.Status})};
    for (const auto &Room : FRooms)
        Lines.append(FormatRoomLine({Room->Host, Room->Name.isEmpty() ? Room->Host : Room->Name,
                                     Room->Report.Volume, Room->Report.Mute, Room->Report.Status}));
    return Lines;
}

void TGroup::MembersUpdated() {
    // A flood of reports costs one members record a moment, whatever its rate.
    if (FMembersTimer->isActive()) {
        FMembersDue = true;
        return;
    }
    FMembersTimer->start(FConfig.MembersEveryMs);
    PublishMembers();
}

void TGroup::PublishMembers() {
    if (FRole == TGroupRole::Leader)
        SendToRooms({TGroupKind::Members, {}, {}, Members()});
    Q_EMIT MembersChanged();
}

void TGroup::SetRole(TGroupRole Role, const QByteArray &Reason) {
    if (Role == FRole)
        return;
    FRole = Role;
    if (Role == TGroupRole::Alone)
        FAnchor.reset(); // a later group numbers its anchors afresh
    Q_EMIT RoleChanged(Role, Reason);
    MembersUpdated();
}

void TGroup::RoomChanged() {
    if (FRole == TGroupRole::Follower)
        SendReport();
    else
        MembersUpdated();
}

TGroupLink *TGroup::NewLink(QTcpSocket *Socket) {
    auto *Link = new TGroupLink(Socket, FConfig.Link, this);
    return Link;
}

void TGroup::OnIncoming() {
    while (QTcpSocket *Socket = FServer->nextPendingConnection()) {
        if (!FAllowed || !MakeGreetingPlace(Socket->peerAddress())) {
            Socket->abort();
            Socket->deleteLater();
            continue;
        }
        TGroupLink *Link = NewLink(Socket);
        FGreetings.append(Link);
        // A hello comes at once or not at all: a trickle holds no place for long.
        QTimer::singleShot(FConfig.GreetingMs, Link, [this, Link] {
            if (FGreetings.contains(Link))
                EndGreeting(Link);
        });
        connect(Link, &TGroupLink::Received, this,
                [this, Link](const TGroupRecord &Record) { OnFirstRecord(Link, Record); });
        connect(Link, &TGroupLink::Ended, this, [this, Link] { EndGreeting(Link); });
    }
}

void TGroup::OnFirstRecord(TGroupLink *Link, const TGroupRecord &Record) {
    // Whatever comes, the link's greeting is over: it is handed on or closed.
    FGreetings.removeAll(Link);
    Link->disconnect(this);
    const std::optional<TGroupHello> Hello = ReadHello(Record);
    const auto Answer = [&](TGroupIntent Intent, const QByteArray &Reason) {
        Link->Send(HelloRecord({GroupLinkVersion, FName, Intent, FGroupId, 0, Port(), Reason}));
    };
    const auto Refuse = [&](const QByteArray &Reason) {
        Answer(TGroupIntent::Refuse, Reason);
        Link->Close();
        Link->deleteLater();
    };
    if (!Hello) {
        Link->Close();
        Link->deleteLater();
    } else if (Hello->Version != GroupLinkVersion) {
        Refuse("it runs another version.");
    } else if (Hello->Intent == TGroupIntent::Invite) {
        // A room that took this copy's invitation may have sent its own before it did.
        if (Hello->Group == FGroupId ||
            (FRole == TGroupRole::Follower && Hello->Group == FLeaderGroup) ||
            (FRole == TGroupRole::Leader && HasJoinedRoomAt(Link->PeerAddress())))
            Refuse("it is already in this group.");
        else if (LeftRecently(Link->PeerAddress()))
            Refuse("it left that group a moment ago.");
        else if (HasPendingInvites() && Hello->Group < FGroupId)
            // Two rooms inviting each other at once: the larger group number leads.
            Refuse("it is forming a group itself.");
        else
            Follow(Link, *Hello);
    } else if (Hello->Intent == TGroupIntent::Rejoin) {
        TRoom *Room = FRole == TGroupRole::Leader && Hello->Group == FGroupId
                          ? FindToken(Hello->Token)
                          : nullptr;
        if (!Room) {
            Refuse("The group's leader went away.");
            return;
        }
        Answer(TGroupIntent::Accept, {});
        AttachRoom(Room, Link);
    } else {
        Link->Close();
        Link->deleteLater();
    }
}

void TGroup::Add(const QByteArray &Host) {
    if (Host.trimmed().isEmpty())
        return;
    if (FRole == TGroupRole::Follower)
        Forward("GROUPADD", {Host});
    else
        Invite(Host.trimmed());
}

void TGroup::Leave(const QByteArray &Host) {
    if (FRole == TGroupRole::Follower) {
        // A room leaves by itself, at once; its leader hears it after. Others ask the leader.
        if (!FLeader || IsOwnHost(Host) || (!FOwnHost.isEmpty() && Host == FOwnHost))
            LeaveByItself({});
        else
            Forward("GROUPLEAVE", {Host});
    } else if (FRole == TGroupRole::Leader) {
        if (IsOwnHost(Host))
            EndGroup("The group's leader ended the group.");
        else if (TRoom *Room = FindRoom(Host))
            RemoveRoom(Room, {});
    }
}

void TGroup::SetRoomVolume(const QByteArray &Host, int Volume) {
    Volume = qBound(0, Volume, 100);
    if (FRole == TGroupRole::Follower) {
        Forward("GROUPVOLUME", {Host, QByteArray::number(Volume)});
    } else if (IsOwnHost(Host)) {
        Q_EMIT VolumeWanted(Volume);
    } else if (TRoom *Room = FindRoom(Host); Room && Room->Link) {
        Room->Link->Send({TGroupKind::SetVolume, {Volume, -1}, {}, {}});
    }
}

void TGroup::SetRoomMute(const QByteArray &Host, bool Mute) {
    if (FRole == TGroupRole::Follower) {
        Forward("GROUPMUTE", {Host, Mute ? "1" : "0"});
    } else if (IsOwnHost(Host)) {
        Q_EMIT MuteWanted(Mute);
    } else if (TRoom *Room = FindRoom(Host); Room && Room->Link) {
        Room->Link->Send({TGroupKind::SetVolume, {-1, Mute ? 1 : 0}, {}, {}});
    }
}

bool TGroup::IsOwnHost(const QByteArray &Host) const {
    return Host == FHost;
}
