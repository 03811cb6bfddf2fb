#pragma once

#include "CommandServer.h"
#include "Group.h"

#include <QObject>
#include <QSet>

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
    QByteArray FStatusNote; // why the room stopped following, until it plays again
    bool FReportDue = false;
    bool FAllowed = true;
};
