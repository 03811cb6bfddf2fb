#include "PlaybackEngine.h"

#include "MediaComponent.h"
#include "MediaPlayer.h"
#include "Utils.h"

#include <QElapsedTimer>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <cstdio>

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

void TPlaybackEngine::OnPlayStateChanged(int NewState) {
    if (NewState == StatePlaying) {
        const qint64 At = Now();
        if (At - LastPlayStart > QuietGap) {
            FFadeTarget = FMedia->Volume();
            if (FFadeTarget > 0) {
                FFading = true;
                FFadeVolume = 1;
                FMedia->SetVolume(1);
                FLastVolume = 1;
                Broadcast("VOLUMN", "1");
            }
        }
        LastPlayStart = At;
    }
    Broadcast("STATE", Number(NewState));
}

void TPlaybackEngine::PlayTick() {
    ProcessListJob();

    const bool Muted = FMedia->Mute();
    if (Muted != FLastMute) {
        FLastMute = Muted;
        Broadcast("MUTE", Muted ? "-1" : "0");
        FFading = false;
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
        Broadcast("VOLUMN", Number(Volume));
    }

    const int State = FMedia->PlayState();
    if (State == StateUndefined || State == StateStopped || State == StateReady)
        AutoAdvance();
}

void TPlaybackEngine::AutoAdvance() {
    const int Count = FModel->RowCount();
    if (Count == 0)
        return;
    CurrentIndex = CurrentIndex >= 0 && CurrentIndex < Count - 1 ? CurrentIndex + 1 : 0;
    const QByteArray Location = TrimBlanks(FModel->ItemAt(CurrentIndex)->Location);
    // Empty or non-http rows never reach the component; the next tick moves on.
    if (Location.isEmpty() || !TMediaPlayer::IsPlayableURL(Location))
        return;
    MarkCurrentTrack();
    FMedia->SetURL(EncodeTrackURL(Location));
    const QByteArray Loaded = FMedia->URL();
    if (!Loaded.isEmpty())
        Broadcast("URL", Loaded);
}

void TPlaybackEngine::PositionTick() {
    ++FDuraTicks;
    if (FMedia->PlayState() != StatePlaying || !FMedia->HasMedia())
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
                         FMedia->CurrentPositionString().toUtf8()};
    if (FDuraTicks > 3) {
        FDuraTicks = 0;
        // An empty value still uses its turn.
        if (FInfoToggle) {
            FInfoToggle = false;
            if (const QString Author = FMedia->MediaAuthor(); !Author.isEmpty())
                Lines.append("Author: " + Author.toUtf8());
        } else {
            FInfoToggle = true;
            if (const QString Name = FMedia->MediaName(); !Name.isEmpty())
                Lines.append("Music: " + Name.toUtf8());
        }
    }
    Broadcast("POSITION", JoinLines(Lines));
}

void TPlaybackEngine::MarkCurrentTrack() {
    FModel->SetMarkedRow(CurrentIndex);
}

void TPlaybackEngine::OnControllerConnected(TConnectionId Id) {
    RequestShow();
    SendTo(Id, "MUTE", FMedia->Mute() ? "-1" : "0");
    SendTo(Id, "VOLUMN", Number(FMedia->Volume()));
    SendTo(Id, "STATE", Number(FMedia->PlayState()));
}

void TPlaybackEngine::ExecuteCommand(TConnectionId Id, const QByteArray &PeerAddress,
                                     const TCommandMessage &Message) {
    const QByteArray &Word = Message.Word;
    if (Word == "GET") {
        SendListTo(Id);
    } else if (Word == "ADD") {
        if (!Message.Lines.isEmpty())
            QueueListJob(PeerAddress, Word, JoinLines(Message.Lines));
    } else if (Word == "UPDATELIST") {
        QueueListJob(PeerAddress, Word, JoinLines(Message.Lines));
    } else if (Word == "STATE") {
        switch (Message.Value & 0xFF) {
        case 1:
            FMedia->Stop();
            break;
        case 2:
            FMedia->Pause();
            break;
        case 3:
            FMedia->Play();
            break;
        default:
            break;
        }
    } else if (Word == "VOLUMN") {
        FFading = false;
        FMedia->SetVolume(std::clamp(Message.Value, 0, 100));
    } else if (Word == "MUTE") {
        FMedia->SetMute(Message.Value != 0);
    } else if (Word == "URL") {
        if (const int Row = FModel->RowOf(PlayItems.Find(Message.Argument())); Row >= 0) {
            CurrentIndex = Row - 1;
            FMedia->Stop();
        }
    } else if (Word == "UPDATEPOSITION") {
        if (FMedia->HasMedia()) {
            const double Duration = FMedia->Duration();
            const double Target = Duration / 100.0 * Message.Value;
            FMedia->SetCurrentPosition(std::clamp(Target, 0.0, std::max(Duration, 0.0)));
        }
    }
}

void TPlaybackEngine::QueueListJob(const QByteArray &Sender, const QByteArray &Word,
                                   const QByteArray &Payload) {
    // An empty queue takes any job: a single message is already bounded by the reader.
    const bool Full = Jobs.Count() >= MaxQueuedJobs ||
                      (Jobs.Count() > 0 && FQueuedBytes + Payload.size() > MaxQueuedJobBytes);
    if (!Sender.isEmpty() && Full)
        return;
    Jobs.Add(Sender, Word, Payload);
    FQueuedBytes += Payload.size();
}

void TPlaybackEngine::AddLocalTracks(const QByteArrayList &URLs) {
    if (!URLs.isEmpty())
        QueueListJob({}, "ADD", JoinLines(URLs));
}

void TPlaybackEngine::FillItem(TMusicItem &Item) {
    Item.Name = DocumentName(Item.Location);
    Item.Host = QUrl(QString::fromUtf8(Item.Location), QUrl::TolerantMode).host().toUtf8();
}

void TPlaybackEngine::ProcessListJob() {
    std::unique_ptr<TMessageItem> Job = Jobs.TakeFirst();
    if (!Job)
        return;
    FQueuedBytes -= Job->Body.size();
    const QByteArrayList Lines = SplitLines(Job->Body);
    std::vector<TMusicItem *> Items;
    Items.reserve(size_t(Lines.size()));

    if (Job->Command == "ADD") {
        for (const QByteArray &Line : Lines)
            if (TMusicItem *Item = PlayItems.AddIfAbsent(Line)) {
                FillItem(*Item);
                Items.push_back(Item);
            }
        FModel->AppendRows(Items);
        BroadcastList();
    } else if (Job->Command == "UPDATELIST") {
        const QByteArray Playing = PercentDecode(FMedia->URL());
        FModel->BeginReplace();
        PlayItems.Clear();
        int Marked = -1;
        for (const QByteArray &Line : Lines)
            if (TMusicItem *Item = PlayItems.AddIfAbsent(Line)) {
                FillItem(*Item);
                // Nothing loaded means no current track, even for an empty row.
                if (!Playing.isEmpty() && Item->Location == Playing)
                    Marked = int(Items.size());
                Items.push_back(Item);
            }
        FModel->FinishReplace(Items, Marked);
        if (Marked >= 0)
            CurrentIndex = Marked;
        BroadcastList(Job->Sender);
    }
}

QByteArray TPlaybackEngine::ListText() const {
    QByteArray Text;
    for (int Row = 0; Row < FModel->RowCount(); ++Row) {
        Text += FModel->ItemAt(Row)->Location;
        Text += "\r\n";
    }
    return Text;
}

QByteArrayList TPlaybackEngine::Locations() const {
    QByteArrayList Out;
    Out.reserve(FModel->RowCount());
    for (int Row = 0; Row < FModel->RowCount(); ++Row)
        Out.append(FModel->ItemAt(Row)->Location);
    return Out;
}

void TPlaybackEngine::SendListTo(TConnectionId Id) {
    SendTo(Id, "LIST", ListText());
    if (const QByteArray URL = FMedia->URL(); !URL.isEmpty())
        SendTo(Id, "URL", URL);
}

void TPlaybackEngine::BroadcastList(const QByteArray &SkipAddress) {
    Broadcast("LIST", ListText(), SkipAddress);
    if (const QByteArray URL = FMedia->URL(); !URL.isEmpty())
        Broadcast("URL", URL);
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
