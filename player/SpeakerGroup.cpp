#include "SpeakerGroup.h"

#include "AsciiText.h"
#include "ClockFollower.h"
#include "ClockService.h"
#include "PlaybackEngine.h"
#include "RoomSync.h"

#include <QTimer>

#include <utility>

namespace {

// What a follower's controllers ask of the whole group: the leader carries it out.
bool IsGroupWide(const QByteArray &Word) {
    namespace W = CommandWord;
    return Word == W::Add || Word == W::UpdateList || Word == W::URL || Word == W::State ||
           Word == W::UpdatePosition;
}

bool IsLoopbackHost(const QByteArray &Host) {
    const quint32 Value = IPv4Value(QString::fromLatin1(Host));
    return SameTextAscii(Host, "localhost") || (Value != 0xFFFFFFFFu && Value >> 24 == 127);
}

// URL with a loopback host replaced by Address; any other URL as it is.
QByteArray ReachableURL(const QByteArray &URL, const QByteArray &Address) {
    constexpr qsizetype HostAt = 7; // after "http://"
    if (!StartsWithAscii(URL, "http://"))
        return URL;
    qsizetype End = URL.indexOf('/', HostAt);
    if (End < 0)
        End = URL.size();
    const QByteArray Authority = URL.mid(HostAt, End - HostAt);
    const qsizetype Colon = Authority.lastIndexOf(':');
    if (!IsLoopbackHost(Colon >= 0 ? Authority.left(Colon) : Authority))
        return URL;
    return URL.left(HostAt) + Address + (Colon >= 0 ? Authority.mid(Colon) : QByteArray()) +
           URL.mid(End);
}

QByteArray StateText(TPlayState State) {
    switch (State) {
    case TPlayState::Playing:
        return "Playing";
    case TPlayState::Paused:
        return "Paused";
    case TPlayState::Undefined:
    case TPlayState::Stopped:
    case TPlayState::MediaEnded:
    case TPlayState::Ready:
        return "Stopped";
    default:
        return "Loading";
    }
}

// Where a follower's commands come from on the leader: a share of the job queue of their
// own, and no controller's address, so that every controller hears the list.
constexpr char ForwardedSender[] = "group";
// UPDATELISTs a follower remembers while the leader's answers are on their way.
constexpr qsizetype MaxSentLists = 8;

} // namespace

TCommandRouting RouteCommand(TGroupRole Role, const QByteArray &Word, const QByteArrayList &Lines,
                             const QByteArray &Address) {
    namespace W = CommandWord;
    if (Word == W::GroupWatch || Word == W::GroupAdd || Word == W::GroupLeave ||
        Word == W::GroupVolume || Word == W::GroupMute)
        return {TCommandRoute::Group, Lines};
    if (Role != TGroupRole::Follower || !IsGroupWide(Word))
        return {TCommandRoute::Engine, Lines};
    QByteArrayList Out = Lines;
    // Offline there is no address the leader could reach either.
    if ((Word == W::Add || Word == W::UpdateList || Word == W::URL) && !Address.isEmpty() &&
        !IsLoopbackHost(Address))
        for (QByteArray &Line : Out)
            Line = ReachableURL(Line, Address);
    return {TCommandRoute::Leader, Out};
}

TSpeakerGroup::TSpeakerGroup(TPlaybackEngine &Engine, TCommandServer &Server, TRoomSync &Room,
                             const QByteArray &Name, const TGroup::TConfig &Config, QObject *Parent)
    : QObject(Parent), FEngine(Engine), FServer(Server), FRoom(Room),
      FGroup(new TGroup(
          Name, [this] { return Report(); }, Config, this)),
      FClockService(new TClockService(this)), FClockFollower(new TClockFollower(this)) {
    connect(FGroup, &TGroup::MembersChanged, this, &TSpeakerGroup::SendMembers);
    connect(FGroup, &TGroup::ErrorOccurred, this,
            [this](const QByteArray &Text) { SendToWatchers(CommandWord::GroupError, Text); });
    connect(FGroup, &TGroup::RoleChanged, this, &TSpeakerGroup::OnRoleChanged);
    connect(FGroup, &TGroup::ListReceived, this, &TSpeakerGroup::OnList);
    connect(FGroup, &TGroup::AnchorReceived, this, [this](const TGroupRecord &Record) {
        if (const std::optional<TGroupAnchor> Anchor = ReadAnchor(Record)) {
            FRoom.Follow(*Anchor);
            FFollowed = PercentDecode(Anchor->Url);
            FEngine.MarkLocation(FFollowed);
        }
    });
    connect(FGroup, &TGroup::CommandReceived, this, &TSpeakerGroup::RunForwarded);
    connect(FGroup, &TGroup::VolumeWanted, this, [this](int Volume) {
        RunForwarded(CommandWord::Volume, {QByteArray::number(Volume)});
    });
    connect(FGroup, &TGroup::MuteWanted, this,
            [this](bool Mute) { RunForwarded(CommandWord::Mute, {Mute ? "1" : "0"}); });
    connect(&FRoom, &TRoomSync::AnchorChanged, this,
            [this](const TGroupAnchor &Anchor) { FGroup->PublishAnchor(AnchorRecord(Anchor)); });
    connect(&FRoom, &TRoomSync::StatusChanged, this, &TSpeakerGroup::ScheduleReport);
    FEngine.SetFollowerSkip([this](int Step) { SkipInGroup(Step); });
    // A follower queues the track after the leader's from the list, to cross joins with it.
    connect(&FRoom, &TRoomSync::TrackFollowed, &FEngine, &TPlaybackEngine::FollowTrack);
}

TSpeakerGroup::~TSpeakerGroup() {
    FEngine.SetFollowerSkip({});
    // The group asks this object for its report until it is gone: it goes first.
    FGroup->disconnect(this);
    FGroup->Close();
    delete FGroup;
}

bool TSpeakerGroup::Listen(quint16 Port) {
    if (!FGroup->Listen(Port))
        return false;
    if (FGroup->Role() == TGroupRole::Leader)
        FClockService->Listen(QHostAddress::AnyIPv4, FGroup->Port());
    return true;
}

void TSpeakerGroup::SetAllowed(bool Allowed) {
    FAllowed = Allowed;
    FGroup->SetAllowed(Allowed);
    if (!Allowed)
        FClockService->Close();
    else if (FGroup->Role() == TGroupRole::Leader)
        FClockService->Listen(QHostAddress::AnyIPv4, FGroup->Port());
}

void TSpeakerGroup::Close() {
    FGroup->Close();
    FClockService->Close();
    FClockFollower->Stop();
}

void TSpeakerGroup::OnCommand(TConnectionId Id, const QByteArray &PeerAddress,
                              const TCommandMessage &Message) {
    namespace W = CommandWord;
    const QByteArray &Word = Message.Word;
    const TCommandRouting To = RouteCommand(FGroup->Role(), Word, Message.Lines, FAddress);
    if (To.Route == TCommandRoute::Leader) {
        ForwardToLeader(Word, To.Lines, PeerAddress);
    } else if (To.Route == TCommandRoute::Engine) {
        FStatusNote.clear();
        FEngine.ExecuteCommand(Id, PeerAddress, Message);
    } else if (Word == W::GroupWatch) {
        FWatchers.insert(Id);
        FServer.SendToConnection(Id, W::Group, JoinLines(FGroup->Members()));
    } else if (Word == W::GroupAdd) {
        FGroup->Add(Message.Argument());
    } else if (Word == W::GroupLeave) {
        FGroup->Leave(Message.Argument());
    } else if (Word == W::GroupVolume) {
        FGroup->SetRoomVolume(Message.Argument(), Message.Value);
    } else if (Word == W::GroupMute) {
        FGroup->SetRoomMute(Message.Argument(), Message.Value != 0);
    }
}

void TSpeakerGroup::ForwardToLeader(const QByteArray &Word, const QByteArrayList &Lines,
                                    const QByteArray &PeerAddress) {
    if (Word == CommandWord::UpdateList) {
        if (FSentLists.size() == MaxSentLists)
            FSentLists.removeFirst();
        FSentLists.append({PeerAddress, qHash(Lines)});
    }
    FGroup->Forward(Word, Lines);
}

void TSpeakerGroup::SetHost(const QByteArray &Host) {
    FAddress = Host;
    FGroup->SetHost(Host);
}

QByteArray TSpeakerGroup::PlayingLocation() const {
    const TPlayListModel *Model = FEngine.Model();
    const int Row = Model->MarkedRow();
    return Row >= 0 && Row < Model->RowCount() ? Model->ItemAt(Row)->Location : QByteArray();
}

void TSpeakerGroup::PlayLocal(const QByteArrayList &URLs, TPlayMode Mode) {
    const TPlayPlan Plan = PlanPlay(FEngine.Locations(), PlayingLocation(), URLs, Mode);
    for (const TPlanStep &Step : Plan.Steps)
        RunLocal(Step.Word, Step.Lines);
    FStartPlan = Plan;
}

void TSpeakerGroup::SkipInGroup(int Step) {
    const QByteArrayList List = FEngine.Locations();
    if (const int Row = NeighbourRow(List, PlayingLocation(), Step); Row >= 0)
        RunLocal(CommandWord::URL, {List[Row]});
}

void TSpeakerGroup::RunLocal(const QByteArray &Word, const QByteArrayList &Lines) {
    const TCommandRouting To = RouteCommand(FGroup->Role(), Word, Lines, FAddress);
    if (To.Route == TCommandRoute::Leader) {
        ForwardToLeader(Word, To.Lines, {});
        return;
    }
    FStatusNote.clear();
    if (Word == CommandWord::URL)
        FEngine.PlayRow(FEngine.Model()->RowOf(FEngine.FindItem(Lines.value(0))));
    else
        FEngine.QueueListJob({}, Word, Lines);
}

void TSpeakerGroup::OnList(const QByteArrayList &Locations) {
    // A speaker alone sends no LIST to the controller whose UPDATELIST made it; as a follower
    // it does the same when the leader's list is that controller's, unchanged. Lists sent
    // before it were overtaken.
    QByteArray Holder;
    const size_t Hash = qHash(Locations);
    for (qsizetype I = 0; I < FSentLists.size(); ++I) {
        if (FSentLists[I].second == Hash) {
            Holder = FSentLists[I].first;
            FSentLists.remove(0, I + 1);
            break;
        }
    }
    FEngine.QueueListJob(ForwardedSender, CommandWord::UpdateList, Locations, Holder);
}

void TSpeakerGroup::RunForwarded(const QByteArray &Word, const QByteArrayList &Lines) {
    // The same shape and number rules as a controller's command on the command port.
    const TCommandEntry *Entry = FindCommand(SpeakerCommands(), Word);
    if (!Entry || Word.startsWith(CommandWord::Group))
        return;
    TCommandMessage Message{Word, Lines, 0};
    if (Entry->Shape == TCommandShape::Counted) {
        Message.Value = qint32(Lines.size());
    } else if (Entry->Shape == TCommandShape::Single) {
        if (Lines.size() != Entry->Arguments)
            return;
        if (Entry->Numeric) {
            const std::optional<qint32> Value = ParseCommandInteger(Lines.constLast());
            if (!Value)
                return;
            Message.Value = *Value;
        }
    }
    FStatusNote.clear();
    FEngine.ExecuteCommand(0, ForwardedSender, Message);
}

void TSpeakerGroup::OnBroadcast(const QByteArray &Word) {
    namespace W = CommandWord;
    // The local user's Play Now: its list is in place (here or, following, the leader's).
    if (Word == W::List && !FStartPlan.Start.isEmpty() && FStartPlan.Reached(FEngine.Locations()))
        QTimer::singleShot(0, this, [this, Start = std::exchange(FStartPlan, {}).Start] {
            RunLocal(CommandWord::URL, {Start});
        });
    if (Word == W::List && FGroup->Role() != TGroupRole::Follower)
        FGroup->PublishList(FEngine.Locations());
    else if (Word == W::List) // the leader's list came after its anchor: marked here too
        FEngine.MarkLocation(FFollowed);
    else if (Word == W::State || Word == W::Volume || Word == W::Mute)
        ScheduleReport();
}

void TSpeakerGroup::ScheduleReport() {
    // Many changes in one turn of the event loop (a fade step, a state change) make one report.
    if (std::exchange(FReportDue, true))
        return;
    QTimer::singleShot(0, this, [this] {
        FReportDue = false;
        FGroup->RoomChanged();
    });
}

TRoomReport TSpeakerGroup::Report() const {
    TMediaComponent *Media = FEngine.Media();
    QByteArray Status = FStatusNote;
    if (Status.isEmpty())
        Status = FRoom.Status().toUtf8();
    if (Status.isEmpty())
        Status = StateText(Media->PlayState());
    return {FEngine.LastVolume(), Media->Mute(), int(Media->PlayState()), Status};
}

void TSpeakerGroup::OnRoleChanged(TGroupRole Role, const QByteArray &Reason) {
    switch (Role) {
    case TGroupRole::Follower:
        if (!FOwnList)
            FOwnList = FEngine.Locations();
        FStatusNote.clear();
        FClockService->Close();
        FClockFollower->Follow(FGroup->LeaderAddress(), FGroup->LeaderPort());
        FRoom.SetClock(&FClockFollower->Clock());
        FRoom.SetRole(TRoomRole::Follower);
        FEngine.SetFollowing(true);
        break;
    case TGroupRole::Leader:
        FOwnList.reset(); // the group's list is this room's now
        FEngine.SetFollowing(false);
        if (FAllowed)
            FClockService->Listen(QHostAddress::AnyIPv4, FGroup->Port());
        FRoom.SetRole(TRoomRole::Leader);
        break;
    case TGroupRole::Alone: {
        const bool WasFollowing = FRoom.Role() == TRoomRole::Follower;
        FClockService->Close();
        FClockFollower->Stop();
        FRoom.SetRole(TRoomRole::Alone);
        FRoom.SetClock(nullptr);
        FEngine.SetFollowing(false);
        if (WasFollowing) {
            // The room stops, says why, and waits for somebody to play something.
            FStatusNote = Reason;
            FEngine.Hold();
            FRoom.Stop();
        }
        // Back alone, the room has its own list again (held: nothing plays by itself).
        if (FOwnList)
            FEngine.QueueListJob({}, CommandWord::UpdateList, *std::exchange(FOwnList, {}));
        break;
    }
    }
    ScheduleReport();
}

void TSpeakerGroup::SendMembers() {
    SendToWatchers(CommandWord::Group, JoinLines(FGroup->Members()));
}

void TSpeakerGroup::SendToWatchers(const QByteArray &Word, const QByteArray &Payload) {
    for (const TConnectionId Id : std::as_const(FWatchers))
        FServer.SendToConnection(Id, Word, Payload);
}
