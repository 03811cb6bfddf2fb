#include "RemoteSession.h"

#include "AsciiText.h"
#include "CommandClient.h"

#include <QHash>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <utility>

namespace W = CommandWord;

qint64 TRemoteSession::ListBytes(const QByteArrayList &List) {
    qint64 Bytes = List.size() * TCommandReader::PendingLineCost;
    for (const QByteArray &Line : List)
        Bytes += Line.size();
    return Bytes;
}

QString WithGroupMembers(const QString &Computer) {
    const QByteArray Wanted = Computer.toUtf8();
    for (TRemotePlayer *Player : RemotePlayers().Pages()) {
        const auto *Session = qobject_cast<TRemoteSession *>(Player);
        if (!Session || !Session->Group().IsGroup())
            continue;
        for (const TGroupRoom &Room : Session->Group().Rooms())
            if (SameTextAscii(Room.Host, Wanted) || SameTextAscii(Room.Name.toUtf8(), Wanted))
                return Computer + QStringLiteral(" (group: ") + Session->Group().Members() + u')';
    }
    return Computer;
}

TRemoteSession::TRemoteSession(QObject *Parent, int ListIntervalMs, int ReportIntervalMs,
                               qint64 LineTimeoutMs)
    : TRemotePlayer(Parent), FClient(new TCommandClient(this, LineTimeoutMs)),
      FRefresh(new QTimer(this)), FListInterval(ListIntervalMs), FReportInterval(ReportIntervalMs) {
    FClock.start();
    FRefresh->setObjectName(QStringLiteral("RefreshTick"));
    FRefresh->setSingleShot(true);
    connect(FRefresh, &QTimer::timeout, this, &TRemoteSession::RefreshTick);
    connect(FClient, &TCommandClient::ListReceived, this, &TRemoteSession::OnList);
    connect(FClient, &TCommandClient::URLReceived, this, &TRemoteSession::OnURL);
    connect(FClient, &TCommandClient::StateReceived, this, &TRemoteSession::OnState);
    connect(FClient, &TCommandClient::MuteReceived, this, &TRemoteSession::OnMute);
    connect(FClient, &TCommandClient::VolumeReceived, this, &TRemoteSession::OnVolume);
    connect(FClient, &TCommandClient::PositionReceived, this, &TRemoteSession::OnPosition);
    connect(FClient, &TCommandClient::GroupReceived, this,
            [this](const QByteArrayList &Lines, qint32 Count) {
                if (FGroup.TakeGroup(Lines, Count))
                    Changed(GroupChanged);
            });
    connect(FClient, &TCommandClient::GroupErrorReceived, this, [this](const QByteArray &Text) {
        FGroup.TakeError(Text);
        Changed(GroupChanged);
    });
    connect(FClient, &TCommandClient::ConnectFailed, this, &TRemoteSession::ConnectFailed);
    connect(FClient, &TCommandClient::SliceRead, this, &TRemoteSession::Grown);
    connect(FClient, &TCommandClient::Ended, this, [this] {
        FEnded = true;
        FRefresh->stop();
        if (FStarted)
            RemotePlayers().Remove(this);
        Q_EMIT Ended();
    });
}

TRemoteSession::~TRemoteSession() {
    FClient->disconnect(this);
    FClient->Close();
    if (FStarted && !FEnded)
        RemotePlayers().Remove(this);
}

void TRemoteSession::Start(const QString &Host, quint16 Port) {
    if (FStarted || FEnded)
        return;
    FStarted = true;
    FHost = Host;
    FHostAddr = IPv4Value(Host);
    RemotePlayers().Add(this);
    FClient->Start(Host, Port);
    // Opt in to the group's messages; a speaker that knows no groups ignores the word.
    FClient->PostMessage(TRemoteGroup::WatchMessage());
}

void TRemoteSession::PostCommand(const QByteArray &Command, const QByteArray &Body) {
    if (!FEnded)
        FClient->PostCommand(Command, Body);
}

void TRemoteSession::Close() {
    FClient->Close();
}

qint64 TRemoteSession::HeldBytes() const {
    // The shown list is most often the newest one itself.
    const qint64 Lists = FShownBytes + (FShown.isSharedWith(FNewest) ? 0 : FNewestBytes);
    return Lists + FClient->PendingBytes();
}

// Reports: each is kept until the next repaint, the newest of a kind winning.

void TRemoteSession::OnList(const QByteArrayList &Lines) {
    // The speaker did the plan's list job: the first track may start.
    if (!FStartPlan.Start.isEmpty() && FStartPlan.Reached(Lines))
        PostCommand(W::URL, std::exchange(FStartPlan, {}).Start);
    FNewest = Lines;
    FNewestBytes = ListBytes(FNewest);
    FListPending = true;
    Schedule();
}

void TRemoteSession::OnURL(const QByteArray &URL) {
    const QByteArray Decoded = PercentDecode(URL);
    if (Decoded.isEmpty())
        return;
    FPendingUrl = Decoded;
    FUrlPending = true;
    Schedule();
}

void TRemoteSession::OnState(qint32 State) {
    FState = TPlayState(State);
    Changed(StateChanged);
}

void TRemoteSession::OnMute(qint32 Mute) {
    FMuted = Mute != 0;
    Changed(MuteChanged);
}

void TRemoteSession::OnVolume(qint32 Volume) {
    ReportBar(TTrackBar::Volume, std::clamp(Volume, 0, 100));
    Changed(VolumeChanged);
}

std::optional<double> TRemoteSession::ParseSeconds(const QByteArray &Text) {
    qsizetype I = Text.startsWith('-') ? 1 : 0;
    const qsizetype Start = I;
    while (I < Text.size() && Text[I] >= '0' && Text[I] <= '9')
        ++I;
    if (I == Start)
        return std::nullopt;
    // Speakers with other regional settings write a comma.
    QByteArray Number = Text;
    if (I < Text.size() && (Text[I] == '.' || Text[I] == ',')) {
        Number[I] = '.';
        ++I;
        while (I < Text.size() && Text[I] >= '0' && Text[I] <= '9')
            ++I;
    }
    if (I != Text.size())
        return std::nullopt;
    return Number.toDouble();
}

void TRemoteSession::OnPosition(const QByteArrayList &Lines) {
    if (Lines.size() < 2)
        return;
    const std::optional<double> Duration = ParseSeconds(Lines[0]);
    const std::optional<double> Position = ParseSeconds(Lines[1]);
    if (!Duration || !Position || *Duration == 0)
        return;
    // Halves go to the even neighbour; out-of-range values stop at the bar's ends.
    const double Percent = std::clamp(*Position / *Duration * 100, 0.0, 100.0);
    ReportBar(TTrackBar::Position, int(std::nearbyint(Percent)));
    if (Lines.size() >= 3)
        FTimeText = QString::fromUtf8(Lines[2]);
    if (Lines.size() >= 4)
        FInformation = QString::fromUtf8(Lines[3]);
    Changed(PositionChanged);
}

// The refresh timer runs only while reports wait, so an idle session costs nothing. The first
// repaint after a quiet spell runs once the replies already read are handled: a speaker writes
// URL right behind LIST, so one repaint shows both. A list is rebuilt at most once per list
// interval, the other reports at most once per report interval, each kind on its own.

void TRemoteSession::Changed(unsigned Changes) {
    FPending |= Changes;
    Schedule();
}

bool TRemoteSession::ReportsWait() const {
    return FPending != 0 || (FUrlPending && !FListPending);
}

void TRemoteSession::Schedule() {
    if (FEnded)
        return;
    const qint64 Now = FClock.elapsed();
    qint64 Due = -1;
    if (FListPending)
        Due = std::max(Now, FListDue);
    if (ReportsWait())
        Due = Due < 0 ? std::max(Now, FReportDue) : std::min(Due, std::max(Now, FReportDue));
    if (Due < 0)
        FRefresh->stop();
    else if (!FRefresh->isActive() || FRefresh->remainingTime() > Due - Now)
        FRefresh->start(int(Due - Now));
}

void TRemoteSession::RefreshTick() {
    const qint64 Now = FClock.elapsed();
    unsigned Changes = 0;
    if (FListPending && Now >= FListDue) {
        FShown = FNewest;
        FShownBytes = FNewestBytes;
        FListPending = false;
        // A new list shows unmarked until a URL marks it.
        FMark = FUrlPending ? FPendingUrl : QByteArray();
        FUrlPending = false;
        FPendingUrl.clear();
        FListDue = Now + FListInterval;
        Changes |= ListChanged | MarkChanged;
        FListKnown = true;
    }
    if (ReportsWait() && Now >= FReportDue) {
        Changes |= FPending;
        FPending = 0;
        if (FUrlPending && !FListPending) {
            FMark = FPendingUrl;
            FPendingUrl.clear();
            FUrlPending = false;
            Changes |= MarkChanged;
        }
        FReportDue = Now + FReportInterval;
    }
    Schedule();
    // Plays asked for before the speaker's list came: planned on it now, its mark with it.
    for (const auto &[URLs, Mode] : std::exchange(FWaitingPlays, {}))
        RunPlan(URLs, Mode);
    if (Changes != 0)
        Q_EMIT Repaint(Changes);
}

// The group.

bool TRemoteSession::SendGroupCommand(const std::optional<QByteArray> &Message) {
    if (!Message || FEnded)
        return false;
    if (!FGroup.Error().isEmpty()) {
        FGroup.ClearError();
        Changed(GroupChanged);
    }
    FClient->PostMessage(*Message);
    return true;
}

bool TRemoteSession::AddRoom(const QString &Host) {
    return SendGroupCommand(TRemoteGroup::AddMessage(Host));
}

bool TRemoteSession::LeaveGroup(const QByteArray &Room) {
    return SendGroupCommand(FGroup.LeaveMessage(Room));
}

bool TRemoteSession::SetRoomVolume(const QByteArray &Room, int Volume) {
    return SendGroupCommand(FGroup.VolumeMessage(Room, Volume));
}

bool TRemoteSession::SetRoomMute(const QByteArray &Room, bool Muted) {
    return SendGroupCommand(FGroup.MuteMessage(Room, Muted));
}

// Transport.

void TRemoteSession::PlayOrPause() {
    PostCommand(W::State, StateArgument(FState == TPlayState::Playing ? TPlayState::Paused
                                                                      : TPlayState::Playing));
}

void TRemoteSession::Stop() {
    PostCommand(W::State, StateArgument(TPlayState::Stopped));
}

void TRemoteSession::ToggleMute() {
    PostCommand(W::Mute, BoolArgument(!FMuted));
}

void TRemoteSession::Play(const QByteArray &Location) {
    if (!Location.isEmpty())
        PostCommand(W::URL, Location);
}

void TRemoteSession::PlayNext() {
    if (const int Row = NeighbourRow(FNewest, NewestMark(), 1); Row >= 0)
        Play(FNewest[Row]);
}

void TRemoteSession::PlayPrevious() {
    if (const int Row = NeighbourRow(FNewest, NewestMark(), -1); Row >= 0)
        Play(FNewest[Row]);
}

void TRemoteSession::ReportBar(TTrackBar Bar, int Value) {
    // The user's hand wins over the speaker's report.
    if (FHeld == Bar || FBars[int(Bar)] == Value)
        return;
    FBars[int(Bar)] = Value;
    if (FTrackPressed)
        FTrackChanged = true;
}

void TRemoteSession::PressBar(TTrackBar Bar) {
    FTrackPressed = true;
    FHeld = Bar;
}

void TRemoteSession::BarMoved(TTrackBar Bar, int Value) {
    FBars[int(Bar)] = Value;
    if (FTrackPressed)
        FTrackChanged = true;
}

bool TRemoteSession::ReleaseBar(TTrackBar Bar) {
    FHeld.reset();
    if (!FTrackPressed || !FTrackChanged)
        return false;
    FTrackPressed = false;
    FTrackChanged = false;
    const QByteArray Value = QByteArray::number(FBars[int(Bar)]);
    PostCommand(Bar == TTrackBar::Position ? W::UpdatePosition : W::Volume, Value);
    return true;
}
