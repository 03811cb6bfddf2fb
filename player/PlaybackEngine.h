#pragma once

#include "CommandServer.h"
#include "ListJobQueue.h"
#include "MusicList.h"
#include "PlayListModel.h"
#include "RowMove.h"

#include <QByteArrayList>
#include <QObject>
#include <QSet>

#include <functional>
#include <optional>

class TMediaComponent;

// Where the speaker's messages go: the command server in the program, a recorder in tests.
struct TMessageSink {
    // One message to every connection except those from SkipAddress (when not empty).
    std::function<void(const QByteArray &Word, const QByteArray &Payload,
                       const QByteArray &SkipAddress)>
        Broadcast;
    // One message to one connection.
    std::function<void(TConnectionId Id, const QByteArray &Word, const QByteArray &Payload)>
        SendToConnection;
};

// A play-list location made ready for the media component: in the path and the query each
// control character, each byte >= 128 and each of * # % < > + space [ ] becomes "%XX"
// (upper-case hex); "+" stays as it is in the query. Scheme and host are left alone.
QByteArray EncodeTrackURL(const QByteArray &URL);
// Nearest whole number, halves to the even neighbour.
int RoundHalfEven(double Value);
// Seconds with two decimals and "." as the decimal separator, whatever the locale.
QByteArray FormatSeconds(double Seconds);

// "Music: " or "Author: " followed by Text, line breaks turned into spaces and cut to what one
// line may hold (never inside a UTF-8 sequence).
QByteArray InfoLine(const QByteArray &Prefix, const QString &Text);

// The speaker: plays the play list through the media component, carries out list jobs and
// controller commands, and reports state, volume, mute, position and list changes. Runs on
// the GUI thread, driven by the two timer ticks and the component's play-state signal.
class TPlaybackEngine : public QObject {
    Q_OBJECT
public:
    using TClock = std::function<qint64()>; // milliseconds, monotonic

    // Media must outlive the engine. Clock defaults to a monotonic clock.
    TPlaybackEngine(TMediaComponent *Media, TMessageSink Sink, TClock Clock = {},
                    QObject *Parent = nullptr);
    ~TPlaybackEngine() override;

    // The component's play-state event: quiet start, then STATE.
    void OnPlayStateChanged(TPlayState NewState);
    // 200 ms tick: list job, mute watch, fade step, volume watch, auto-advance.
    void PlayTick();
    // 1 s tick: POSITION when the whole percentage played has changed.
    void PositionTick();
    // Whether the 200 ms tick has work while nothing else happens: a queued job, a fade, a track
    // to advance to, or a track playing. When not, the owner may stop the timer until
    // PlayTickWanted() or a play-state change.
    bool NeedsPlayTick() const;
    // While a group's leader drives this room the play tick starts nothing by itself; a room
    // that left its group holds still until somebody plays something (PlayRow, ResumePlay, ADD).
    void SetFollowing(bool Following);
    // While following, next and previous go to whoever the room follows (Step 1 or -1).
    void SetFollowerSkip(std::function<void(int Step)> Skip) { FFollowerSkip = std::move(Skip); }
    void Hold() { FHeld = true; }
    // Position ticks that passed while the position timer was stopped (nothing was playing).
    void AddPositionTicks(int Count) { FDuraTicks += Count; }
    // State image on the row at CurrentIndex, none elsewhere.
    void MarkCurrentTrack();
    // Something else (a group's leader) plays Location here: its row becomes the current one.
    void MarkLocation(const QByteArray &Location);

    // A controller was admitted: ask to be shown, send it MUTE, VOLUMN, STATE.
    void OnControllerConnected(TConnectionId Id);
    // Carries out one command read from a controller at PeerAddress.
    void ExecuteCommand(TConnectionId Id, const QByteArray &PeerAddress,
                        const TCommandMessage &Message);

    // Carries out the oldest queued list job, if any.
    void ProcessListJob();
    // Queues a list job (ADD or UPDATELIST) with its lines. A controller's job (Sender not
    // empty) is dropped when its share of the queue is full; the local user's always goes in.
    // Holder: for an UPDATELIST, the address whose controllers have the list already (by
    // default the sender's).
    void QueueListJob(const QByteArray &Sender, const QByteArray &Word, const QByteArrayList &Lines,
                      const QByteArray &Holder = {});
    // The local user's own tracks: an ADD job with no sender address.
    void AddLocalTracks(const QByteArrayList &URLs);
    // The same ADD carried out at once, ahead of queued jobs, for a front end that answers
    // with the new rows (the MPD door).
    void AddTracksNow(const QByteArrayList &URLs);
    // LIST then URL (when loaded) to one connection.
    void SendListTo(TConnectionId Id);
    // LIST to all but SkipAddress, then URL (when loaded) to all.
    void BroadcastList(const QByteArray &SkipAddress = {});

    // The owner's edits of the play list; each change is followed by BroadcastList.
    // Removes the rows; the track playing goes on. CurrentIndex stays on the current track, or
    // when that was removed, moves onto the track that followed it, which then plays next.
    void RemoveRows(QList<int> Rows);
    // Reorders the list as Move says, keeping CurrentIndex on the current row. The rows to
    // select afterwards, or none when nothing moved.
    std::optional<QList<int>> ApplyMove(const std::optional<TRowMove> &Move);
    std::optional<QList<int>> MoveDown(const QList<int> &Selected);
    std::optional<QList<int>> MoveUp(const QList<int> &Selected);
    std::optional<QList<int>> MoveToNextPlaying(const QList<int> &Selected);
    std::optional<QList<int>> DropOn(const QList<int> &Selected, int Target);
    // Makes Row the next track: CurrentIndex = Row - 1 and a stop, so the next tick starts it.
    // A row that failed to load is tried again.
    void PlayRow(int Row);
    // The next row in play order, wrapping at the end: the component stops and the engine
    // advances on its next tick, as at a track's end. Nothing happens on an empty list.
    void PlayNext();
    // The row before the current one, wrapping at the top, skipping rows it cannot play.
    void PlayPrevious();
    // The row that plays after the current track: the next in play order (wrapping) that can
    // be played and has not failed; -1 when none.
    int NextRow();
    // Following a group: the group made the room play URL; it is the current track here too.
    void FollowTrack(const QByteArray &URL);
    // Whether the pop-up's first item pauses for Row: it is the current row and it plays.
    bool OffersPause(int Row) const;
    // The pop-up's first item for the first selected row Row, in pause mode or not.
    void PlayOrPause(int Row, bool PauseMode);
    // Plays the loaded track (resumes it); a resume after the quiet gap starts quietly.
    void ResumePlay();

    // Sets ShowRequest and tells the owner to show the player.
    void RequestShow();
    // Reads and clears ShowRequest.
    bool TakeShowRequest();
    // The URL to hand the component for a row's location, or empty when it cannot be played.
    static QByteArray PlayableURL(const QByteArray &Location);
    // Locations of every row in play order.
    QByteArrayList Locations() const;
    // The row playing or last started, -1 before the first; once the current track left the
    // list, the row of the track that followed it, which plays next.
    int GetCurrentIndex() const { return CurrentIndex; }
    void SetCurrentIndex(int Index) {
        CurrentIndex = Index;
        FCurrentGone = false;
    }
    // The item at Location (A-Z case ignored), or null.
    TMusicItem *FindItem(const QByteArray &Location) const { return PlayItems.Find(Location); }
    qsizetype QueuedJobCount() const { return Jobs.Count(); }
    // Bytes of location text the play list holds, counted as LIST writes it.
    qint64 ListBytes() const { return FListBytes; }
    // Whether the quiet start is still raising the volume.
    bool IsFading() const { return FFading; }
    // The volume last reported to controllers.
    int LastVolume() const { return FLastVolume; }
    // The whole percentage last reported in POSITION, and the position ticks since the last
    // information line.
    int LastPercent() const { return FLastPercent; }
    int DuraTicks() const { return FDuraTicks; }

    TPlayListModel *Model() const { return FModel; }
    TMediaComponent *Media() const { return FMedia; }

Q_SIGNALS:
    // ShowRequest was set: the main window should show the local player.
    void ShowRequested();
    // Something happened that the next 200 ms tick must see (a job, a command).
    void PlayTickWanted();
    // The volume or the mute setting changed, as the play tick found.
    void VolumeOrMuteChanged();

private:
    // A controller's STATE: stop, pause or play; other states change nothing.
    void ApplyState(TPlayState State);
    // Seeks to Percent of the loaded track, if any.
    void SeekPercent(int Percent);
    void Broadcast(const QByteArray &Word, const QByteArray &Payload,
                   const QByteArray &SkipAddress = {});
    void SendTo(TConnectionId Id, const QByteArray &Word, const QByteArray &Payload);
    void AutoAdvance();
    // Hands the row at CurrentIndex to the component.
    void Load(const QByteArray &Location, const QByteArray &Encoded);
    // Tells the component which track follows the loaded one, whenever that may have changed.
    void QueueNext();
    // The component went on to the queued track by itself: it is the current track now.
    void OnNextStarted(const QByteArray &URL);
    // After rows changed places or left: CurrentIndex onto the same track, or onto the first
    // track after it that is still there (FCurrentGone). NewRow maps an old row to its row
    // now, -1 for a row that left.
    void FollowCurrent(int OldCount, const std::function<int(int)> &NewRow);
    // Every change of the list: rows that failed may be tried again.
    void ListChanged();
    // Rows PlayableURL accepts, counted once per list change.
    qsizetype PlayableRowCount();
    bool QuietGapPassed() const { return Now() - LastPlayStart > QuietGap; }
    // Lowers the volume to 1 ahead of playing, so the first sound is already quiet; the fade
    // starts when playing starts.
    void PrepareQuietStart();
    // Ends a quiet start whose track never played: the volume goes back to where it was.
    void CancelQuietStart();
    // The volume as controllers are told it: the user's, not the one lowered ahead of play.
    int UserVolume() const;
    // The bytes Location takes in LIST, or -1 when it cannot be one line there.
    static qint64 LineCost(const QByteArray &Location);
    // Adds Line to Items unless the list has it (Rows: rows before Items); false once the
    // list is full.
    bool AddLine(const QByteArray &Line, int Rows, std::vector<TMusicItem *> &Items);
    // An ADD job's lines appended, then LIST to every controller.
    void AppendLines(const QByteArrayList &Lines);
    // A new item's Name and Host from its location.
    static void FillItem(TMusicItem &Item);
    QByteArray ListText() const;
    qint64 Now() const { return FClock(); }

    TMediaComponent *FMedia;
    TMessageSink FSink;
    TClock FClock;
    TPlayListModel *FModel;
    qint64 FListBytes = 0; // LineCost of every row

    TListJobQueue Jobs;
    TMusicList PlayItems; // lookup by location; the model's rows give the play order
    bool ShowRequest = false;
    int CurrentIndex = -1;
    bool FCurrentGone = false;     // CurrentIndex names the track after a removed current one
    QByteArray FLoading;           // location handed to the component that has not played yet
    QByteArray FNextLocation;      // the row queued to follow the loaded track
    QSet<QByteArray> FFailed;      // locations that failed to load since the list changed
    qsizetype FPlayableRows = -1;  // PlayableRowCount(), -1 until counted
    bool FNothingPlayable = false; // stopped: no row left to try
    bool FLastMute = false;
    int FLastVolume = 0;
    bool FFading = false;
    bool FQuietPending = false; // volume lowered for a track that has not started playing yet
    int FFadeVolume = 0;
    int FFadeTarget = 0;
    qint64 QuietGap = 15 * 60 * 1000; // ms
    qint64 LastPlayStart = 0;         // ms on the engine's clock
    int FLastPercent = 0;
    int FDuraTicks = 0;
    bool FInfoToggle = false;
    bool FFollowing = false;
    bool FHeld = false;
    std::function<void(int)> FFollowerSkip;
};
