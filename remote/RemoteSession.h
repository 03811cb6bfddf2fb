#pragma once

#include "CommandProtocol.h"
#include "PlayPlan.h"
#include "RemoteGroup.h"
#include "RemotePlayers.h"
#include "RowMove.h"

#include <QByteArrayList>
#include <QElapsedTimer>
#include <QString>

#include <optional>

class QTimer;
class TCommandClient;

// "Kitchen (group: Kitchen, Hall)" when a session this copy holds reports a group with a room
// named or addressed Computer (A-Z case ignored); else Computer itself.
QString WithGroupMembers(const QString &Computer);

// The two track bars of a remote page.
enum class TTrackBar { Position = 0, Volume = 1 };

// One controller's session with one speaker, without a window: the connection, what the speaker
// last reported and the rules for the user's commands. Reports are kept as they come, the newest
// of a kind replacing the older one; Repaint then says what changed, at most once per interval
// and only while reports wait, so a speaker that floods costs one repaint per interval. Edits of
// the play list apply to the newest list received, not to what was shown. A started session
// stands in RemotePlayers until its connection has ended.
class TRemoteSession : public TRemotePlayer {
    Q_OBJECT
public:
    // What a repaint shows anew.
    enum TChange : unsigned {
        ListChanged = 1,
        MarkChanged = 2,
        StateChanged = 4,
        MuteChanged = 8,
        VolumeChanged = 16,
        PositionChanged = 32,
        GroupChanged = 64, // the rooms, or a refusal to show
    };

    // An edit of the play list, planned on the newest list received.
    struct TListEdit {
        // The rows moved (none: nothing moves); for a removal, the rows that stay, in order.
        std::optional<TRowMove> Move;
        // The shown list was the newest one: the view applies the edit to its rows itself.
        // Otherwise it shows List() anew.
        bool InPlace = true;
    };

    // ListIntervalMs: the least time between two lists shown; ReportIntervalMs: the same for
    // the other reports; LineTimeoutMs: how long each argument line of a reply may take.
    explicit TRemoteSession(QObject *Parent = nullptr, int ListIntervalMs = 500,
                            int ReportIntervalMs = 100,
                            qint64 LineTimeoutMs = CommandLineTimeoutMs);
    ~TRemoteSession() override; // ends a connection still standing, silently

    // The one connection attempt, to Host (a name or a dotted IPv4 address) on Port; joins
    // RemotePlayers. Once per session.
    void Start(const QString &Host, quint16 Port);
    // Queues a command for the speaker; nothing is sent once the connection has ended.
    void PostCommand(const QByteArray &Command, const QByteArray &Body) override;
    // Ends the connection (or the attempt); Ended follows.
    void Close();
    void EndConnection() override { Close(); }
    bool HasEnded() const { return FEnded; }
    QString Host() const override { return FHost; }
    quint32 HostAddr() const override { return FHostAddr; }
    TCommandClient *Client() const { return FClient; }
    // Bytes held for the speaker: the lists kept and the reply being read, each line also
    // costing its bookkeeping.
    qint64 HeldBytes() const;

    // As of the last repaint (or edit): the list to show and the location its marked rows hold
    // (empty: none marked).
    const QByteArrayList &List() const { return FShown; }
    const QByteArray &Mark() const { return FMark; }
    // As last reported.
    TPlayState State() const { return FState; }
    bool Muted() const { return FMuted; }
    QString TimeText() const { return FTimeText; }
    QString Information() const { return FInformation; }
    // The value a bar shows: the speaker's, or the user's while the user holds it.
    int BarValue(TTrackBar Bar) const { return FBars[int(Bar)]; }

    // The speaker's group as last reported (no rooms: it never told one).
    const TRemoteGroup &Group() const { return FGroup; }
    // Group commands; false when the group rules refuse them (nothing is sent). Each clears
    // the refusal shown.
    bool AddRoom(const QString &Host);
    bool LeaveGroup(const QByteArray &Room);
    bool SetRoomVolume(const QByteArray &Room, int Volume);
    bool SetRoomMute(const QByteArray &Room, bool Muted);

    // Transport.
    void PlayOrPause();
    void Stop();
    void ToggleMute();
    void Play(const QByteArray &Location);
    // The next or previous row in the speaker's order, wrapping ("URL" of it).
    void PlayNext();
    void PlayPrevious();
    // URLs played as Mode says (PlanPlay on the speaker's newest list); a plan that needs the
    // speaker's list waits until it has come.
    void PlayTracks(const QByteArrayList &URLs, TPlayMode Mode);

    // A press on a bar arms the bars and holds that bar: reports do not move a held bar. Any
    // change of either bar while armed (the user's or a report's) makes the next release send
    // that bar's value; true when it did.
    void PressBar(TTrackBar Bar);
    void BarMoved(TTrackBar Bar, int Value);
    bool ReleaseBar(TTrackBar Bar);

    // The list edits; Rows are rows of List(). Each sends the whole edited list.
    TListEdit Remove(const QList<int> &Rows);
    TListEdit MoveDown(const QList<int> &Rows);
    TListEdit MoveUp(const QList<int> &Rows);
    TListEdit MoveToNextPlaying(const QList<int> &Rows);
    // Target: the row dropped on (-1: none).
    TListEdit DropOn(const QList<int> &Rows, int Target);

    // The seconds of a position report; "." or "," before the fraction.
    static std::optional<double> ParseSeconds(const QByteArray &Text);

Q_SIGNALS:
    void ConnectFailed();
    // The connection has ended and the session has left RemotePlayers.
    void Ended();
    // Changes: TChange bits.
    void Repaint(unsigned Changes);
    // The speaker's bytes were read: HeldBytes() may have grown.
    void Grown();

private:
    enum class TMoveKind { Down, Up, NextPlaying, Drop };

    void OnList(const QByteArrayList &Lines);
    void OnURL(const QByteArray &URL);
    void OnState(qint32 State);
    void OnMute(qint32 Mute);
    void OnVolume(qint32 Volume);
    void OnPosition(const QByteArrayList &Lines);
    void ReportBar(TTrackBar Bar, int Value);
    bool SendGroupCommand(const std::optional<QByteArray> &Message);
    void Changed(unsigned Changes);
    bool ReportsWait() const;
    void Schedule();
    void RefreshTick();
    TListEdit Move(TMoveKind Kind, const QList<int> &Rows, int Target);
    // Rows of the shown list as rows of the newest one (a row gone from it is left out), the
    // same occurrence of a location counting as the same row.
    QList<int> NewestRows(const QList<int> &Rows) const;
    // The newest list becomes List with the user's edit, shown at once and sent.
    void Edited(QByteArrayList List);
    QByteArray NewestMark() const { return FUrlPending ? FPendingUrl : FMark; }
    // What a list held costs: its bytes and each line's bookkeeping.
    static qint64 ListBytes(const QByteArrayList &List);
    void RunPlan(const QByteArrayList &URLs, TPlayMode Mode);

    TCommandClient *FClient = nullptr;
    QString FHost;
    quint32 FHostAddr = 0;
    bool FStarted = false;
    QTimer *FRefresh = nullptr;
    QElapsedTimer FClock;
    int FListInterval;
    int FReportInterval;
    qint64 FListDue = 0;   // the next list may show from then on
    qint64 FReportDue = 0; // the same for the other reports
    bool FEnded = false;

    QByteArrayList FNewest; // the last list received
    QByteArrayList FShown;  // the list as the last repaint gave it
    qint64 FNewestBytes = 0;
    qint64 FShownBytes = 0;
    bool FListPending = false;
    QByteArray FPendingUrl;
    bool FUrlPending = false;
    QByteArray FMark;
    unsigned FPending = 0; // reports other than the list and the mark not repainted yet

    TPlayState FState = TPlayState::Undefined;
    bool FMuted = false;
    int FBars[2] = {0, 0};
    QString FTimeText;
    QString FInformation = QStringLiteral("   ");
    bool FTrackPressed = false;
    bool FTrackChanged = false;
    std::optional<TTrackBar> FHeld;
    TRemoteGroup FGroup;
    bool FListKnown = false; // a list has come since the connection began
    QList<std::pair<QByteArrayList, TPlayMode>> FWaitingPlays; // until then
    TPlayPlan FStartPlan; // its Start goes once the speaker reports its List
};
