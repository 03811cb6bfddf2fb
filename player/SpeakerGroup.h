#pragma once

#include "CommandServer.h"
#include "Group.h"
#include "PlayPlan.h"

#include <QObject>
#include <QSet>

// Where a command of this room's controllers (or of its own user) is carried out.
enum class TCommandRoute { Group, Leader, Engine };
struct TCommandRouting {
    TCommandRoute Route;
    QByteArrayList Lines; // as they go there
};

// The route of Word with Lines in a room of Role whose address for other computers is
// Address: the group words to the group; while following, list edits and transport to the
// leader, with locations on this computer's loopback turned into ones at Address (the leader
// cannot fetch those); the rest to the engine.
TCommandRouting RouteCommand(TGroupRole Role, const QByteArray &Word, const QByteArrayList &Lines,
                             const QByteArray &Address);

class TClockFollower;
class TClockService;
class TPlaybackEngine;
class TRoomSync;

// The speaker's side of groups of rooms. Reads every controller command first: the GROUP
// words (GROUPWATCH, GROUPADD, GROUPLEAVE, GROUPVOLUME, GROUPMUTE) are group business; while
// this room follows, list edits and transport go to the leader; the rest, and everything
// while alone or leading, goes to the engine as before. Turns the group's roles into the
// room's: a follower mirrors the leader's list, follows its clock and plays its anchors; a
// leader runs the clock service and publishes its list and anchors.
class TSpeakerGroup : public QObject {
    Q_OBJECT
public:
    // Everything given must outlive this object.
    TSpeakerGroup(TPlaybackEngine &Engine, TCommandServer &Server, TRoomSync &Room,
                  const QByteArray &Name, const TGroup::TConfig &Config = {},
                  QObject *Parent = nullptr);
    ~TSpeakerGroup() override;

    TGroup &Group() const { return *FGroup; }
    // This room's address for other computers (the GROUP lines, locations sent to a leader).
    void SetHost(const QByteArray &Host);
    // This room's name in the group.
    void SetName(const QByteArray &Name) { FGroup->SetName(Name); }
    // The local user's tracks as Mode says: to the leader while following, else to the engine,
    // as a controller's commands would go.
    void PlayLocal(const QByteArrayList &URLs, TPlayMode Mode);

    // The group port, TCP for the control link and UDP for the clock (0 = ephemeral).
    bool Listen(quint16 Port);
    // The allow switch: off closes the group port and leaves or ends the group.
    void SetAllowed(bool Allowed);
    void Close();

    // A controller's command, in place of the engine's ExecuteCommand.
    void OnCommand(TConnectionId Id, const QByteArray &PeerAddress, const TCommandMessage &Message);
    void OnDisconnected(TConnectionId Id) { FWatchers.remove(Id); }
    // A message the engine sent to every controller: list and room changes concern the group.
    void OnBroadcast(const QByteArray &Word);

private:
    void OnRoleChanged(TGroupRole Role, const QByteArray &Reason);
    // A follower: the leader's play list.
    void OnList(const QByteArrayList &Locations);
    // A follower's controller's command, carried out here as the leader.
    void RunForwarded(const QByteArray &Word, const QByteArrayList &Lines);
    void SendMembers();
    // The local user's command, routed as a controller's.
    void RunLocal(const QByteArray &Word, const QByteArrayList &Lines);
    void ForwardToLeader(const QByteArray &Word, const QByteArrayList &Lines,
                         const QByteArray &PeerAddress);
    // A follower's next (1) or previous (-1): "URL" of that row to the leader.
    void SkipInGroup(int Step);
    // The location the engine marks as playing, or empty.
    QByteArray PlayingLocation() const;
    void SendToWatchers(const QByteArray &Word, const QByteArray &Payload);
    TRoomReport Report() const;
    void ScheduleReport();

    TPlaybackEngine &FEngine;
    TCommandServer &FServer;
    TRoomSync &FRoom;
    TGroup *FGroup;
    TClockService *FClockService;
    TClockFollower *FClockFollower;
    QSet<TConnectionId> FWatchers;
    // A follower's UPDATELISTs on their way to the leader, oldest first: the sender's address
    // and the list's hash. The list coming back is not echoed to the controller that sent it.
    QList<std::pair<QByteArray, size_t>> FSentLists;
    QByteArray FAddress = "127.0.0.1";
    QByteArray FFollowed; // the location the leader's last anchor plays
    TPlayPlan FStartPlan; // the local user's Play Now, until its list is in place
    // The room's own list, kept aside while it follows a group and given back when it leaves.
    std::optional<QByteArrayList> FOwnList;
    QByteArray FStatusNote; // why the room stopped following, until it plays again
    bool FReportDue = false;
    bool FAllowed = true;
};
