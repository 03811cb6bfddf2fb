#pragma once

#include "GroupLink.h"

#include <QByteArrayList>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <vector>

class QTcpServer;

enum class TGroupRole { Alone, Leader, Follower };

// What a room tells its group about itself.
struct TRoomReport {
    int Volume = 0;
    bool Mute = false;
    int State = 0; // play state number
    QByteArray Status;
};

// This speaker's place in a group of rooms that play one play list: alone, leading the group
// or following a leader. Holds the control links (docs/group-protocol.md): a leader invites
// rooms by connecting to their group port and keeps one link per room; a follower keeps the
// link its leader opened, and when it breaks, connects back by itself. The speaker feeds it
// its list and its room's state and follows its signals; it knows nothing of the player.
class TGroup : public QObject {
    Q_OBJECT
public:
    struct TConfig {
        TGroupLink::TTimes Link;
        int KeepPlaceMs = 30000; // a leader keeps a room that went away this long
        int RejoinForMs = 10000; // a follower tries to get back to its leader this long
        QList<int> Backoff{100, 300, 600, 1000}; // between those tries, the last repeating
        int GreetingMs = 3000;    // a connection says hello within this, however it trickles
        int AnswerMs = 5000;      // a leader shows a room's command was heard within this
        int LeftBlockMs = 30000;  // a room that left a leader by itself refuses its invites
        int MembersEveryMs = 100; // members go out at most this often
        int AnchorEveryMs = 200;  // a follower takes its leader's anchors at most this often
        qint64 MaxBacklog = 128 * 1024 * 1024; // unsent output of all links together
    };

    // Name: this room's name in the group. Report: this room's state now.
    TGroup(const QByteArray &Name, std::function<TRoomReport()> Report, const TConfig &Config,
           QObject *Parent = nullptr);
    TGroup(const QByteArray &Name, std::function<TRoomReport()> Report, QObject *Parent = nullptr)
        : TGroup(Name, std::move(Report), TConfig{}, Parent) {}
    ~TGroup() override; // a leader's rooms hear that it went away

    // Listens on all IPv4 addresses; 0 = ephemeral; false when the port is taken.
    bool Listen(quint16 Port);
    quint16 Port() const;
    bool IsListening() const;
    // The allow switch: off closes the port and leaves or ends the group; on listens again.
    void SetAllowed(bool Allowed);
    // Shutdown: followers hear that the leader went away, the port closes.
    void Close();

    TGroupRole Role() const { return FRole; }
    // This room's host as GROUP lines show it (its address for other computers).
    void SetHost(const QByteArray &Host);
    QByteArray Name() const { return FName; }
    // Renames this room; a group it is in hears the new name with the next members.
    void SetName(const QByteArray &Name);
    // The GROUP lines: one per room, the leader first; a room alone gives its own.
    QByteArrayList Members() const;
    // A follower's leader: its address and group port (for the clock exchange).
    QHostAddress LeaderAddress() const { return FLeaderAddress; }
    quint16 LeaderPort() const { return FLeaderPort; }

    // Controllers' group commands. Host: as GROUP lines show it; GROUPADD also takes an
    // address or name as typed, with ":port" when the room's group port is not the usual.
    // A follower hands each to its leader.
    void Add(const QByteArray &Host);
    void Leave(const QByteArray &Host);
    void SetRoomVolume(const QByteArray &Host, int Volume);
    void SetRoomMute(const QByteArray &Host, bool Mute);
    // A follower: a controller's list edit or transport command, for the leader to carry out.
    void Forward(const QByteArray &Word, const QByteArrayList &Lines);

    // A leader: its play list changed (followers mirror it).
    void PublishList(const QByteArrayList &Locations);
    // A leader: the play anchor (an Anchor record's fields) changed.
    void PublishAnchor(const TGroupRecord &Anchor);
    // This room's report changed (volume, mute, state, status).
    void RoomChanged();

Q_SIGNALS:
    // The members or their reports changed: GROUP to the watching controllers.
    void MembersChanged();
    // A refusal or failure to show the user (GROUPERROR).
    void ErrorOccurred(const QByteArray &Text);
    // Became alone, leader or follower; Reason says why a follower stopped following.
    void RoleChanged(TGroupRole Role, const QByteArray &Reason);
    // A follower: the leader's play list.
    void ListReceived(const QByteArrayList &Locations);
    // A follower: the leader's anchor record.
    void AnchorReceived(const TGroupRecord &Anchor);
    // A leader: a command a follower's controller sent.
    void CommandReceived(const QByteArray &Word, const QByteArrayList &Lines);
    // Somebody set this room's volume or mute through the group.
    void VolumeWanted(int Volume);
    void MuteWanted(bool Mute);

private:
    struct TRoom {
        QByteArray Host; // as the leader was asked to add it
        QByteArray Name;
        TRoomReport Report;
        qint64 Token = 0;
        QPointer<TGroupLink> Link; // null while away
        bool Joined = false;       // it accepted the invitation
        qint64 AskedBy = 0;        // token of the room whose controller added it; 0: ours
        QTimer *Away = nullptr;    // runs while the room is away
    };

    void OnIncoming();
    // Whether a room that joined this copy's group is linked from Address.
    bool HasJoinedRoomAt(const QHostAddress &Address) const;
    void OnFirstRecord(TGroupLink *Link, const TGroupRecord &Record);
    TGroupLink *NewLink(QTcpSocket *Socket);
    void SetRole(TGroupRole Role, const QByteArray &Reason = {});
    TRoomReport OwnReport() const;
    // Members changed: the rooms and watchers hear it now, or once the last news is old enough.
    void MembersUpdated();
    void PublishMembers();
    // Limits (GroupLimits.cpp). A greeting place for a connection from From, the oldest greeting
    // of the address that holds most giving way; false when none is fair.
    bool MakeGreetingPlace(const QHostAddress &From);
    void EndGreeting(TGroupLink *Link);
    // Past the budget of all links, the one holding most goes.
    void TrimBacklog();

    // Leader side (GroupLeader.cpp).
    // AskedBy: the token of the room whose controller asked (0: this room's own).
    void Invite(const QByteArray &Host, qint64 AskedBy = 0);
    // A room could not be added: the watchers here, and those of the room that asked, hear why.
    void InviteFailed(qint64 AskedBy, const QByteArray &Text);
    void OnRoomRecord(TRoom *Room, const TGroupRecord &Record);
    void OnRoomEnded(TRoom *Room, TLinkEnd Why);
    void JoinFailed(TRoom *Room, const QByteArray &Reason);
    void Connect(TRoom *Room, const QHostAddress &Address, quint16 Port);
    bool HasPendingInvites() const;
    void AttachRoom(TRoom *Room, TGroupLink *Link);
    void RunCommand(const TRoom *From, const QByteArray &Word, const QByteArrayList &Lines);
    void RemoveRoom(TRoom *Room, const QByteArray &Reason);
    void EndGroup(const QByteArray &Reason);
    void SendToRooms(const TGroupRecord &Record);
    TRoom *FindRoom(const QByteArray &Host) const;
    TRoom *FindToken(qint64 Token) const;
    bool IsOwnHost(const QByteArray &Host) const;

    // Follower side (GroupFollower.cpp).
    void Follow(TGroupLink *Link, const TGroupHello &Hello);
    void OnLeaderRecord(const TGroupRecord &Record);
    void OnLeaderEnded(TLinkEnd Why);
    void TryRejoin();
    void StopFollowing(const QByteArray &Reason);
    // The room leaves its leader by itself, and refuses that leader's invites a while.
    void LeaveByItself(const QByteArray &Reason);
    bool LeftRecently(const QHostAddress &Leader);
    void TakeAnchor();
    void SendReport();

    QByteArray FName;
    QByteArray FHost = "127.0.0.1";
    std::function<TRoomReport()> FReport;
    TConfig FConfig;
    QTcpServer *FServer;
    quint16 FListenPort = 0;
    bool FAllowed = true;
    TGroupRole FRole = TGroupRole::Alone;
    qint64 FGroupId;                        // ours, as a leader; random per run
    QList<QPointer<TGroupLink>> FGreetings; // oldest first
    QTimer *FMembersTimer;
    bool FMembersDue = false;

    // Leader.
    std::vector<std::unique_ptr<TRoom>> FRooms;
    QByteArrayList FList;
    std::optional<TGroupRecord> FAnchor;

    // Follower.
    QPointer<TGroupLink> FLeader;
    QHostAddress FLeaderAddress;
    quint16 FLeaderPort = 0;
    qint64 FLeaderGroup = 0;
    qint64 FToken = 0;
    QByteArrayList FLeaderMembers;
    QTimer *FRejoinTimer;
    QElapsedTimer FLostSince;
    int FAttempt = 0;
    QByteArray FOwnHost;  // this room as its leader names it
    QTimer *FAnswerTimer; // runs while a command waits for the leader's word
    QTimer *FAnchorTimer; // runs while the last anchor taken is recent
    std::optional<TGroupRecord> FNextAnchor;
    QHash<QHostAddress, QDeadlineTimer> FLeft; // leaders this room left by itself
};
