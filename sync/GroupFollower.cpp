// The follower's side of TGroup: the link its leader opened, the leader's list, members and
// anchors, and getting back to the leader when the link breaks.
#include "Group.h"

#include "CommandProtocol.h"

#include <algorithm>

void TGroup::Follow(TGroupLink *Link, const TGroupHello &Hello) {
    // A room invited by another leader goes to that group; its own invites still on their way
    // are settled first, so that it never leads and follows at once.
    if (!FRooms.empty())
        EndGroup("The group's leader joined another group.");
    if (FLeader) {
        FLeader->disconnect(this);
        FLeader->Send({TGroupKind::Bye, {}, {QByteArray()}, {}});
        FLeader->Close();
        FLeader->deleteLater();
    }
    FRejoinTimer->stop();
    FLeader = Link;
    FLeaderAddress = Link->PeerAddress();
    FLeaderPort = quint16(std::clamp<qint64>(Hello.Port, 0, 65535));
    FLeaderGroup = Hello.Group;
    FToken = Hello.Token;
    FOwnHost = Hello.Reason.left(MaxRoomField);
    FLeaderMembers.clear();
    FAnswerTimer->stop();
    FAnchorTimer->stop();
    FNextAnchor.reset();
    Link->Send(
        HelloRecord({GroupLinkVersion, FName, TGroupIntent::Accept, FGroupId, 0, Port(), {}}));
    connect(Link, &TGroupLink::Received, this, &TGroup::OnLeaderRecord);
    connect(Link, &TGroupLink::Ended, this, &TGroup::OnLeaderEnded);
    // A new leader is a new clock to follow, even for a room that followed another.
    FRole = TGroupRole::Alone;
    SetRole(TGroupRole::Follower);
    SendReport();
}

void TGroup::OnLeaderRecord(const TGroupRecord &Record) {
    FAnswerTimer->stop(); // the leader is listening
    switch (Record.Kind) {
    case TGroupKind::Members: {
        if (Record.Items.isEmpty() || Record.Items.size() > MaxGroupRooms)
            return;
        for (const QByteArray &Line : Record.Items)
            if (!ParseRoomLine(Line))
                return;
        FLeaderMembers = Record.Items;
        MembersUpdated();
        break;
    }
    case TGroupKind::List:
        Q_EMIT ListReceived(Record.Items);
        break;
    case TGroupKind::Anchor:
        // The newest counts; a flood of them loads no more tracks than a few a second.
        FNextAnchor = Record;
        if (!FAnchorTimer->isActive())
            TakeAnchor();
        break;
    case TGroupKind::SetVolume:
        if (Record.Number(0) >= 0 && Record.Number(0) <= 100)
            Q_EMIT VolumeWanted(int(Record.Number(0)));
        if (Record.Number(1) == 0 || Record.Number(1) == 1)
            Q_EMIT MuteWanted(Record.Number(1) == 1);
        break;
    case TGroupKind::Bye:
        StopFollowing(Record.Text(0).left(MaxRoomField));
        break;
    case TGroupKind::Command:
        // A group command this room's controllers sent failed on the leader.
        if (Record.Text(0) == CommandWord::GroupError && Record.Items.size() == 1)
            Q_EMIT ErrorOccurred(Record.Items[0].left(MaxErrorText));
        break;
    default:
        break;
    }
}

void TGroup::TakeAnchor() {
    if (!FNextAnchor)
        return;
    const TGroupRecord Anchor = *std::exchange(FNextAnchor, std::nullopt);
    FAnchorTimer->start(FConfig.AnchorEveryMs);
    Q_EMIT AnchorReceived(Anchor);
}

void TGroup::OnLeaderEnded(TLinkEnd) {
    if (FLeader)
        FLeader->deleteLater();
    FLeader = nullptr;
    // The room plays on from the anchors it has while it gets back.
    FLostSince.start();
    FAttempt = 0;
    FRejoinTimer->start(FConfig.Backoff.value(0));
}

void TGroup::TryRejoin() {
    if (FRole != TGroupRole::Follower || FLeader)
        return;
    if (FLostSince.elapsed() >= FConfig.RejoinForMs) {
        StopFollowing("The group's leader went away.");
        return;
    }
    const auto Retry = [this] {
        ++FAttempt;
        FRejoinTimer->start(
            FConfig.Backoff.value(std::min<qsizetype>(FAttempt, FConfig.Backoff.size() - 1)));
    };
    TGroupLink *Link = NewLink(nullptr);
    connect(Link, &TGroupLink::Connected, this, [this, Link] {
        Link->Send(HelloRecord(
            {GroupLinkVersion, FName, TGroupIntent::Rejoin, FLeaderGroup, FToken, Port(), {}}));
    });
    connect(Link, &TGroupLink::Received, this,
            [this, Link, Group = FLeaderGroup](const TGroupRecord &R) {
                Link->disconnect(this);
                if (Group != FLeaderGroup || FLeader) { // another leader took the room meanwhile
                    Link->Close();
                    Link->deleteLater();
                    return;
                }
                const std::optional<TGroupHello> Hello = ReadHello(R);
                if (!Hello || Hello->Intent != TGroupIntent::Accept) {
                    Link->Close();
                    Link->deleteLater();
                    StopFollowing("The group's leader went away.");
                    return;
                }
                FLeader = Link;
                connect(Link, &TGroupLink::Received, this, &TGroup::OnLeaderRecord);
                connect(Link, &TGroupLink::Ended, this, &TGroup::OnLeaderEnded);
                SendReport();
            });
    connect(Link, &TGroupLink::Ended, this,
            [this, Link, Retry, Group = FLeaderGroup](TLinkEnd Why) {
                Link->deleteLater();
                if (Group != FLeaderGroup || FLeader)
                    return;
                // Nothing listens where the leader was: it is gone, not out of reach.
                if (Why == TLinkEnd::Refused)
                    StopFollowing("The group's leader went away.");
                else
                    Retry();
            });
    Link->ConnectTo(FLeaderAddress.toString(), FLeaderPort);
}

void TGroup::StopFollowing(const QByteArray &Reason) {
    if (FLeader) {
        FLeader->disconnect(this);
        FLeader->Send({TGroupKind::Bye, {}, {QByteArray()}, {}});
        FLeader->Close();
        FLeader->deleteLater();
    }
    FLeader = nullptr;
    FRejoinTimer->stop();
    FAnswerTimer->stop();
    FAnchorTimer->stop();
    FNextAnchor.reset();
    FLeaderMembers.clear();
    FLeaderGroup = 0;
    FOwnHost.clear();
    SetRole(TGroupRole::Alone, Reason);
    if (!Reason.isEmpty())
        Q_EMIT ErrorOccurred(Reason);
}

void TGroup::SendReport() {
    if (!FLeader)
        return;
    const TRoomReport Own = OwnReport();
    FLeader->Send(
        {TGroupKind::Report, {Own.Volume, Own.Mute ? 1 : 0, Own.State}, {Own.Status}, {}});
}

void TGroup::Forward(const QByteArray &Word, const QByteArrayList &Lines) {
    if (FRole != TGroupRole::Follower || !FLeader)
        return;
    FLeader->Send({TGroupKind::Command, {}, {Word}, Lines});
    // A leader that takes the owner's commands and never shows it heard them loses the room.
    if (!FAnswerTimer->isActive())
        FAnswerTimer->start(FConfig.AnswerMs);
}
