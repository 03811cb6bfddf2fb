#include "PlaybackEngine.h"

#include "AsciiText.h"
#include "MediaComponent.h"
#include "MediaPlayer.h"

#include <QElapsedTimer>

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
    connect(FMedia, &TMediaComponent::NextStarted, this, &TPlaybackEngine::OnNextStarted);
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

void TPlaybackEngine::PlayTick() {
    ProcessListJob();

    const bool Muted = FMedia->Mute();
    if (Muted != FLastMute) {
        FLastMute = Muted;
        Broadcast(CommandWord::Mute, BoolArgument(Muted));
        FFading = false;
        // The quiet start ends before it began: back to the volume it would have reached.
        CancelQuietStart();
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

    if (FQuietPending && FMedia->Volume() != 1)
        FQuietPending = false; // somebody chose a volume before the track started
    const int Volume = UserVolume();
    if (Volume != FLastVolume) {
        FLastVolume = Volume;
        Broadcast(CommandWord::Volume, Number(Volume));
        Q_EMIT VolumeOrMuteChanged();
    }

    const TPlayState State = FMedia->PlayState();
    if (!FFollowing && !FHeld &&
        (State == TPlayState::Undefined || State == TPlayState::Stopped ||
         State == TPlayState::Ready))
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
        return FModel->RowCount() > 0 && !FNothingPlayable && !FFollowing && !FHeld;
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

void TPlaybackEngine::PositionTick() {
    ++FDuraTicks;
    if (FMedia->PlayState() != TPlayState::Playing || !FMedia->HasMedia())
        return;
    FLoading.clear(); // a track joined without a stop has played: it did not fail
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
    SendTo(Id, CommandWord::Volume, Number(UserVolume()));
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

void TPlaybackEngine::SetFollowing(bool Following) {
    FFollowing = Following;
    FHeld = false;
    Q_EMIT PlayTickWanted();
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
