#include "PlaybackEngine.h"

#include "AsciiText.h"
#include "MediaComponent.h"
#include "MediaPlayer.h"

#include <QElapsedTimer>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace {

bool NeedsEscape(unsigned char C, bool InQuery) {
    if (C < 0x20 || C == 0x7F || C >= 0x80)
        return true;
    switch (C) {
    case '*':
    case '#':
    case '%':
    case '<':
    case '>':
    case ' ':
    case '[':
    case ']':
        return true;
    case '+':
        return !InQuery;
    default:
        return false;
    }
}

QByteArray Number(qint64 Value) {
    return QByteArray::number(Value);
}

} // namespace

QByteArray EncodeTrackURL(const QByteArray &URL) {
    static const char Hex[] = "0123456789ABCDEF";
    // Scheme and host stay as they are: encoding starts at the path.
    qsizetype Start = 0;
    if (const qsizetype Scheme = URL.indexOf("://"); Scheme >= 0) {
        Start = URL.size();
        for (qsizetype I = Scheme + 3; I < URL.size(); ++I)
            if (URL[I] == '/' || URL[I] == '?') {
                Start = I;
                break;
            }
    }
    QByteArray Out = URL.left(Start);
    Out.reserve(URL.size() + 16);
    bool InQuery = false;
    for (qsizetype I = Start; I < URL.size(); ++I) {
        const auto C = static_cast<unsigned char>(URL[I]);
        if (C == '?' && !InQuery) {
            InQuery = true;
            Out.append('?');
        } else if (NeedsEscape(C, InQuery)) {
            Out.append('%');
            Out.append(Hex[C >> 4]);
            Out.append(Hex[C & 15]);
        } else {
            Out.append(char(C));
        }
    }
    return Out;
}

int RoundHalfEven(double Value) {
    const double Floor = std::floor(Value);
    const double Diff = Value - Floor;
    double Result = Floor;
    if (Diff > 0.5 || (Diff == 0.5 && std::fmod(Floor, 2.0) != 0.0))
        Result = Floor + 1;
    return int(std::clamp(Result, -2147483648.0, 2147483647.0));
}

QByteArray InfoLine(const QByteArray &Prefix, const QString &Text) {
    QByteArray Line = Prefix + Text.toUtf8();
    // A line break inside would end the line early and shift every line after it.
    Line.replace('\r', ' ').replace('\n', ' ');
    if (Line.size() > MaxCommandLineLength) {
        qsizetype Cut = MaxCommandLineLength;
        while (Cut > 0 && (static_cast<unsigned char>(Line[Cut]) & 0xC0) == 0x80)
            --Cut;
        Line.truncate(Cut);
    }
    return Line;
}

QByteArray FormatSeconds(double Seconds) {
    if (!std::isfinite(Seconds))
        Seconds = 0;
    // QByteArray::number ignores the locale, so the separator is always ".".
    return QByteArray::number(Seconds, 'f', 2);
}

TPlaybackEngine::TPlaybackEngine(TMediaComponent *Media, TMessageSink Sink, TClock Clock,
                                 QObject *Parent)
    : QObject(Parent), FMedia(Media), FSink(std::move(Sink)), FClock(std::move(Clock)),
      FModel(new TPlayListModel(this)) {
    if (!FClock) {
        auto Timer = std::make_shared<QElapsedTimer>();
        Timer->start();
        FClock = [Timer] { return Timer->elapsed(); };
    }
    FLastMute = FMedia->Mute();
    FLastVolume = FMedia->Volume();
    // One millisecond more than the gap, so that the first play is quiet even when it
    // comes in the same millisecond.
    LastPlayStart = Now() - QuietGap - 1;
    connect(FMedia, &TMediaComponent::PlayStateChange, this, &TPlaybackEngine::OnPlayStateChanged);
}

TPlaybackEngine::~TPlaybackEngine() {
    // The model's rows point at items of PlayItems: drop the rows while the items exist.
    delete FModel;
    FModel = nullptr;
}

void TPlaybackEngine::Broadcast(const QByteArray &Word, const QByteArray &Payload,
                                const QByteArray &SkipAddress) {
    if (FSink.Broadcast)
        FSink.Broadcast(Word, Payload, SkipAddress);
}

void TPlaybackEngine::SendTo(TConnectionId Id, const QByteArray &Word, const QByteArray &Payload) {
    if (FSink.SendToConnection)
        FSink.SendToConnection(Id, Word, Payload);
}

void TPlaybackEngine::PrepareQuietStart() {
    if (FQuietPending)
        return; // already lowered: the target is the volume from before
    const int Target = FMedia->Volume();
    if (Target <= 0)
        return;
    FQuietPending = true;
    FFadeTarget = Target;
    FMedia->SetVolume(1);
    // Reported with the start of play, as VOLUMN "1" right before STATE "3".
    FLastVolume = 1;
}

void TPlaybackEngine::OnPlayStateChanged(TPlayState NewState) {
    if (NewState == TPlayState::Playing) {
        const qint64 At = Now();
        if (FQuietPending) {
            FQuietPending = false;
            FFading = true;
            FFadeVolume = 1;
            FLastVolume = 1;
            Broadcast(CommandWord::Volume, "1");
        } else if (At - LastPlayStart > QuietGap) {
            // Playing started without passing through the engine: quiet from here on.
            FFadeTarget = FMedia->Volume();
            if (FFadeTarget > 0) {
                FFading = true;
                FFadeVolume = 1;
                FMedia->SetVolume(1);
                FLastVolume = 1;
                Broadcast(CommandWord::Volume, "1");
            }
        }
        LastPlayStart = At;
    }
    if (NewState != TPlayState::Transitioning) {
        // Ready without having played: the load failed. Only a row still in the list counts.
        if (NewState == TPlayState::Ready && !FLoading.isEmpty())
            if (const TMusicItem *Item = PlayItems.Find(FLoading);
                Item && Item->Location == FLoading)
                FFailed.insert(FLoading);
        FLoading.clear();
    }
    Broadcast(CommandWord::State, StateArgument(NewState));
}

void TPlaybackEngine::PlayTick() {
    ProcessListJob();

    const bool Muted = FMedia->Mute();
    if (Muted != FLastMute) {
        FLastMute = Muted;
        Broadcast(CommandWord::Mute, BoolArgument(Muted));
        FFading = false;
        if (FQuietPending) {
            // The quiet start ends before it began: back to the volume it would have reached.
            FQuietPending = false;
            FMedia->SetVolume(FFadeTarget);
        }
        Q_EMIT VolumeOrMuteChanged();
    }

    if (FFading) {
        const int Volume = FMedia->Volume();
        if (Volume == FFadeVolume && Volume < FFadeTarget) {
            ++FFadeVolume;
            FMedia->SetVolume(FFadeVolume);
        } else {
            FFading = false; // target reached, or somebody else moved the volume
        }
    }

    const int Volume = FMedia->Volume();
    if (Volume != FLastVolume) {
        FLastVolume = Volume;
        FQuietPending = false; // somebody chose a volume before the track started
        Broadcast(CommandWord::Volume, Number(Volume));
        Q_EMIT VolumeOrMuteChanged();
    }

    const TPlayState State = FMedia->PlayState();
    if (State == TPlayState::Undefined || State == TPlayState::Stopped ||
        State == TPlayState::Ready)
        AutoAdvance();
}

bool TPlaybackEngine::NeedsPlayTick() const {
    if (Jobs.Count() > 0 || FFading)
        return true;
    switch (FMedia->PlayState()) {
    case TPlayState::Paused:
        return false;
    case TPlayState::Undefined:
    case TPlayState::Stopped:
    case TPlayState::Ready:
        return FModel->RowCount() > 0 && !FNothingPlayable;
    default:
        return true;
    }
}

QByteArray TPlaybackEngine::PlayableURL(const QByteArray &Location) {
    // Empty or non-http rows never reach the component, nor a location whose encoded form no
    // URL line could carry.
    const QByteArray Trimmed = TrimBlanks(Location);
    if (Trimmed.isEmpty() || !TMediaPlayer::IsPlayableURL(Trimmed))
        return {};
    QByteArray Encoded = EncodeTrackURL(Trimmed);
    return Encoded.size() > MaxCommandLineLength ? QByteArray() : Encoded;
}

qsizetype TPlaybackEngine::PlayableRowCount() {
    if (FPlayableRows < 0) {
        FPlayableRows = 0;
        for (int Row = 0; Row < FModel->RowCount(); ++Row)
            FPlayableRows += !PlayableURL(FModel->ItemAt(Row)->Location).isEmpty();
    }
    return FPlayableRows;
}

void TPlaybackEngine::AutoAdvance() {
    const int Count = FModel->RowCount();
    if (Count == 0)
        return;
    if (!FNothingPlayable) {
        if (!FCurrentGone || CurrentIndex < 0 || CurrentIndex >= Count)
            CurrentIndex = CurrentIndex >= 0 && CurrentIndex < Count - 1 ? CurrentIndex + 1 : 0;
        FCurrentGone = false;
        const QByteArray &Location = FModel->ItemAt(CurrentIndex)->Location;
        const QByteArray Encoded = PlayableURL(Location);
        // A row that failed is not fetched again and again: it waits for a change of the list
        // or for somebody to play it. A skipped row costs one tick, unless none is left to try.
        if (Encoded.isEmpty() || FFailed.contains(Location)) {
            if (FFailed.size() < PlayableRowCount())
                return;
            FNothingPlayable = true;
        } else {
            Load(Location, Encoded);
            return;
        }
    }
    // Controllers learn from the stopped state that nothing plays.
    if (FMedia->PlayState() != TPlayState::Stopped)
        FMedia->Stop();
}

void TPlaybackEngine::Load(const QByteArray &Location, const QByteArray &Encoded) {
    if (QuietGapPassed())
        PrepareQuietStart();
    MarkCurrentTrack();
    FLoading = Location;
    FMedia->SetURL(Encoded);
    const QByteArray Loaded = FMedia->URL();
    if (!Loaded.isEmpty())
        Broadcast(CommandWord::URL, Loaded);
}

void TPlaybackEngine::PositionTick() {
    ++FDuraTicks;
    if (FMedia->PlayState() != TPlayState::Playing || !FMedia->HasMedia())
        return;
    const double Duration = FMedia->Duration();
    if (!(Duration > 0))
        return;
    const double Position = FMedia->CurrentPosition();
    const int Percent = RoundHalfEven(Position / Duration * 100.0);
    if (Percent == FLastPercent)
        return;
    FLastPercent = Percent;

    QByteArrayList Lines{FormatSeconds(Duration), FormatSeconds(Position),
                         InfoLine({}, FMedia->CurrentPositionString())};
    if (FDuraTicks > 3) {
        FDuraTicks = 0;
        // An empty value still uses its turn.
        if (FInfoToggle) {
            FInfoToggle = false;
            if (const QString Author = FMedia->MediaAuthor(); !Author.isEmpty())
                Lines.append(InfoLine("Author: ", Author));
        } else {
            FInfoToggle = true;
            if (const QString Name = FMedia->MediaName(); !Name.isEmpty())
                Lines.append(InfoLine("Music: ", Name));
        }
    }
    Broadcast(CommandWord::Position, JoinLines(Lines));
}

void TPlaybackEngine::MarkCurrentTrack() {
    FModel->SetMarkedRow(CurrentIndex);
}

void TPlaybackEngine::OnControllerConnected(TConnectionId Id) {
    RequestShow();
    SendTo(Id, CommandWord::Mute, BoolArgument(FMedia->Mute()));
    SendTo(Id, CommandWord::Volume, Number(FMedia->Volume()));
    SendTo(Id, CommandWord::State, StateArgument(FMedia->PlayState()));
}

void TPlaybackEngine::ExecuteCommand(TConnectionId Id, const QByteArray &PeerAddress,
                                     const TCommandMessage &Message) {
    // What each command does here; SpeakerCommands() says what it carries.
    using TRun =
        void (*)(TPlaybackEngine &, TConnectionId, const QByteArray &, const TCommandMessage &);
    namespace W = CommandWord;
    static constexpr TCommandHandler<TRun> Handlers[] = {
        {W::Get, [](auto &E, auto Connection, auto &, auto &) { E.SendListTo(Connection); }},
        {W::Add,
         [](auto &E, auto, auto &Peer, auto &M) {
             if (!M.Lines.isEmpty())
                 E.QueueListJob(Peer, M.Word, M.Lines);
         }},
        {W::UpdateList,
         [](auto &E, auto, auto &Peer, auto &M) { E.QueueListJob(Peer, M.Word, M.Lines); }},
        {W::State,
         [](auto &E, auto, auto &, auto &M) { E.ApplyState(TPlayState(M.Value & 0xFF)); }},
        {W::Volume,
         [](auto &E, auto, auto &, auto &M) {
             E.FFading = false;
             E.FQuietPending = false;
             E.FMedia->SetVolume(std::clamp(M.Value, 0, 100));
         }},
        {W::Mute, [](auto &E, auto, auto &, auto &M) { E.FMedia->SetMute(M.Value != 0); }},
        {W::URL, [](auto &E, auto, auto &,
                    auto &M) { E.PlayRow(E.FModel->RowOf(E.PlayItems.Find(M.Argument()))); }},
        {W::UpdatePosition, [](auto &E, auto, auto &, auto &M) { E.SeekPercent(M.Value); }},
    };
    // Volume and mute changes are found by the next tick.
    Q_EMIT PlayTickWanted();
    if (const TRun *Run = FindHandler(Handlers, Message.Word))
        (*Run)(*this, Id, PeerAddress, Message);
}

void TPlaybackEngine::ApplyState(TPlayState State) {
    switch (State) {
    case TPlayState::Stopped:
        FMedia->Stop();
        break;
    case TPlayState::Paused:
        FMedia->Pause();
        break;
    case TPlayState::Playing:
        ResumePlay();
        break;
    default:
        break;
    }
}

void TPlaybackEngine::SeekPercent(int Percent) {
    if (!FMedia->HasMedia())
        return;
    const double Duration = FMedia->Duration();
    const double Target = Duration / 100.0 * Percent;
    FMedia->SetCurrentPosition(std::clamp(Target, 0.0, std::max(Duration, 0.0)));
}

void TPlaybackEngine::QueueListJob(const QByteArray &Sender, const QByteArray &Word,
                                   const QByteArrayList &Lines) {
    qint64 Bytes = 0;
    for (const QByteArray &Line : Lines)
        Bytes += Line.size() + 2;
    if (Jobs.Add(TListJob{Sender, Word, Lines, Bytes}))
        Q_EMIT PlayTickWanted();
}

void TPlaybackEngine::AddLocalTracks(const QByteArrayList &URLs) {
    if (!URLs.isEmpty())
        QueueListJob({}, CommandWord::Add, URLs);
}

qint64 TPlaybackEngine::LineCost(const QByteArray &Location) {
    // A line starting with "." goes out with one more in front.
    const qint64 Line = Location.size() + (Location.startsWith('.') ? 1 : 0);
    return Line > MaxCommandLineLength ? -1 : Line + 2;
}

void TPlaybackEngine::FillItem(TMusicItem &Item) {
    Item.Name = DocumentName(Item.Location);
    Item.Host = QUrl(QString::fromUtf8(Item.Location), QUrl::TolerantMode).host().toUtf8();
}

void TPlaybackEngine::ProcessListJob() {
    const std::optional<TListJob> Job = Jobs.Take();
    if (!Job)
        return;
    std::vector<TMusicItem *> Items;
    Items.reserve(size_t(std::min<qsizetype>(Job->Lines.size(), MaxPlayListRows)));
    // Adds one line unless it is already there; false once the list is full. Past either
    // limit the rest of the job is dropped, so a LIST never outgrows one message.
    const auto Add = [&](const QByteArray &Line, int Rows) {
        if (Rows + int(Items.size()) >= MaxPlayListRows)
            return false;
        const qint64 Cost = LineCost(Line);
        if (Cost < 0)
            return true; // no LIST could carry it: skipped
        if (FListBytes + Cost > MaxPlayListBytes)
            return false;
        if (TMusicItem *Item = PlayItems.AddIfAbsent(Line)) {
            FillItem(*Item);
            Items.push_back(Item);
            FListBytes += Cost;
        }
        return true;
    };

    if (Job->Command == CommandWord::Add) {
        const int Rows = FModel->RowCount();
        for (const QByteArray &Line : Job->Lines)
            if (!Add(Line, Rows))
                break;
        FModel->AppendRows(Items);
        ListChanged();
        BroadcastList();
    } else if (Job->Command == CommandWord::UpdateList) {
        const QByteArray Playing = PercentDecode(FMedia->URL());
        const QByteArrayList OldList = Locations();
        FModel->BeginReplace();
        PlayItems.Clear();
        FListBytes = 0;
        int Marked = -1;
        for (const QByteArray &Line : Job->Lines) {
            const size_t Before = Items.size();
            if (!Add(Line, 0))
                break;
            // Nothing loaded means no current track, even for an empty row.
            if (Items.size() > Before && !Playing.isEmpty() && Items.back()->Location == Playing)
                Marked = int(Before);
        }
        FModel->FinishReplace(Items, Marked);
        if (Marked >= 0)
            SetCurrentIndex(Marked);
        else
            FollowCurrent(int(OldList.size()), [this, &OldList](int Old) {
                return FModel->RowOf(PlayItems.Find(OldList[Old]));
            });
        ListChanged();
        BroadcastList(Job->Sender);
    }
}

void TPlaybackEngine::RemoveRows(QList<int> Rows) {
    Rows.removeIf([this](int Row) { return Row < 0 || Row >= FModel->RowCount(); });
    if (Rows.isEmpty())
        return;
    std::sort(Rows.begin(), Rows.end());
    Rows.erase(std::unique(Rows.begin(), Rows.end()), Rows.end());
    const int OldCount = FModel->RowCount();
    const std::vector<TMusicItem *> Items = FModel->TakeRows(Rows);
    for (const TMusicItem *Item : Items)
        FListBytes -= LineCost(Item->Location);
    PlayItems.RemoveItems(Items);
    FollowCurrent(OldCount, [&Rows](int Old) {
        const auto Gone = std::lower_bound(Rows.cbegin(), Rows.cend(), Old);
        return Gone != Rows.cend() && *Gone == Old ? -1 : Old - int(Gone - Rows.cbegin());
    });
    ListChanged();
    BroadcastList();
}

void TPlaybackEngine::FollowCurrent(int OldCount, const std::function<int(int)> &NewRow) {
    if (CurrentIndex < 0 || CurrentIndex >= OldCount)
        return;
    if (const int Row = NewRow(CurrentIndex); Row >= 0) {
        CurrentIndex = Row;
        return;
    }
    // The play order wraps, so the track after the last row is the first.
    for (int Step = 1; Step < OldCount; ++Step)
        if (const int Row = NewRow((CurrentIndex + Step) % OldCount); Row >= 0) {
            CurrentIndex = Row;
            FCurrentGone = true;
            return;
        }
    SetCurrentIndex(-1);
}

void TPlaybackEngine::ListChanged() {
    FFailed.clear();
    FPlayableRows = -1;
    if (std::exchange(FNothingPlayable, false))
        Q_EMIT PlayTickWanted();
}

std::optional<QList<int>> TPlaybackEngine::ApplyMove(const std::optional<TRowMove> &Move) {
    if (!Move)
        return std::nullopt;
    const int Current = CurrentIndex >= 0 && CurrentIndex < FModel->RowCount() ? CurrentIndex : -1;
    FModel->ApplyMove(*Move);
    if (Current >= 0)
        CurrentIndex = Move->NewIndexOf(Current);
    ListChanged();
    BroadcastList();
    return Move->Selection;
}

std::optional<QList<int>> TPlaybackEngine::MoveDown(const QList<int> &Selected) {
    return ApplyMove(TRowMove::Down(FModel->RowCount(), Selected));
}

std::optional<QList<int>> TPlaybackEngine::MoveUp(const QList<int> &Selected) {
    return ApplyMove(TRowMove::Up(FModel->RowCount(), Selected));
}

std::optional<QList<int>> TPlaybackEngine::MoveToNextPlaying(const QList<int> &Selected) {
    if (!FCurrentGone)
        return ApplyMove(TRowMove::AfterCurrent(FModel->RowCount(), Selected, CurrentIndex));
    // The current track left the list: the rows go before the one due next, and play first.
    auto Moved =
        ApplyMove(TRowMove::Plan(FModel->RowCount(), Selected, CurrentIndex, TMoveSide::Before));
    if (Moved && !Moved->isEmpty())
        CurrentIndex = Moved->first();
    return Moved;
}

std::optional<QList<int>> TPlaybackEngine::DropOn(const QList<int> &Selected, int Target) {
    return ApplyMove(TRowMove::DropOn(FModel->RowCount(), Selected, Target));
}

void TPlaybackEngine::PlayRow(int Row) {
    if (Row < 0 || Row >= FModel->RowCount())
        return;
    FFailed.remove(FModel->ItemAt(Row)->Location);
    FNothingPlayable = false;
    SetCurrentIndex(Row - 1);
    FMedia->Stop();
    Q_EMIT PlayTickWanted(); // a stopped component may not say so again
}

bool TPlaybackEngine::OffersPause(int Row) const {
    return Row >= 0 && Row == FModel->MarkedRow() && FMedia->PlayState() == TPlayState::Playing;
}

void TPlaybackEngine::PlayOrPause(int Row, bool PauseMode) {
    if (Row < 0 || Row >= FModel->RowCount())
        return;
    if (!PauseMode && Row != FModel->MarkedRow())
        PlayRow(Row);
    else if (FMedia->PlayState() == TPlayState::Playing)
        FMedia->Pause();
    else
        ResumePlay();
}

void TPlaybackEngine::ResumePlay() {
    const TPlayState State = FMedia->PlayState();
    if (State != TPlayState::Playing && State != TPlayState::Buffering && QuietGapPassed())
        PrepareQuietStart();
    FMedia->Play();
}

QByteArray TPlaybackEngine::ListText() const {
    return JoinLines(Locations());
}

QByteArrayList TPlaybackEngine::Locations() const {
    QByteArrayList Out;
    Out.reserve(FModel->RowCount());
    for (int Row = 0; Row < FModel->RowCount(); ++Row)
        Out.append(FModel->ItemAt(Row)->Location);
    return Out;
}

void TPlaybackEngine::SendListTo(TConnectionId Id) {
    SendTo(Id, CommandWord::List, ListText());
    if (const QByteArray URL = FMedia->URL(); !URL.isEmpty())
        SendTo(Id, CommandWord::URL, URL);
}

void TPlaybackEngine::BroadcastList(const QByteArray &SkipAddress) {
    Broadcast(CommandWord::List, ListText(), SkipAddress);
    if (const QByteArray URL = FMedia->URL(); !URL.isEmpty())
        Broadcast(CommandWord::URL, URL);
}

void TPlaybackEngine::RequestShow() {
    ShowRequest = true;
    Q_EMIT ShowRequested();
}

bool TPlaybackEngine::TakeShowRequest() {
    const bool Was = ShowRequest;
    ShowRequest = false;
    return Was;
}
