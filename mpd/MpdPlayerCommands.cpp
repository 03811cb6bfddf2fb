// The speaker's commands: what plays, how loud, and the play options.
#include "CommandReader.h"
#include "MediaComponent.h"
#include "MpdCommands.h"
#include "MpdDoor.h"
#include "MpdQueue.h"
#include "PlaybackEngine.h"
#include "Speaker.h"
#include "SpeakerGroup.h"

#include <QSet>

#include <algorithm>
#include <cmath>

namespace {

QByteArray StateName(TPlayState State) {
    switch (State) {
    case TPlayState::Playing:
    case TPlayState::Buffering:
    case TPlayState::Transitioning:
    case TPlayState::Waiting:
    case TPlayState::Reconnecting:
    case TPlayState::ScanForward:
    case TPlayState::ScanReverse:
        return "play";
    case TPlayState::Paused:
        return "pause";
    default:
        return "stop";
    }
}

// A command as a controller on the command port sends it, so that every front end goes by the
// same rules: a room that follows a group hands it to the group's leader.
void SendEngine(TMpdDoor &Door, const QByteArray &Word, int Value, const QByteArray &Peer) {
    TCommandMessage Message;
    Message.Word = Word;
    Message.Lines = {QByteArray::number(Value)};
    Message.Value = Value;
    if (TSpeakerGroup *Group = Door.Speaker().Group())
        Group->OnCommand(0, Peer, Message);
    else
        Door.Speaker().Engine()->ExecuteCommand(0, Peer, Message);
}

void SetVolume(TMpdDoor &Door, TMpdCall &Call, qint64 Volume) {
    SendEngine(Door, CommandWord::Volume, int(std::clamp<qint64>(Volume, 0, 100)),
               Call.Client.Peer);
}

void Status(TMpdDoor &Door, TMpdCall &Call) {
    TMediaComponent *Media = Door.Speaker().Media();
    TMpdQueue &Queue = Door.Queue();
    TMpdResponse &Out = Call.Out;
    Out.Add("volume", Media->Volume());
    // The play list always loops; nothing is random, single or consumed.
    Out.Add("repeat", 1);
    Out.Add("random", 0);
    Out.Add("single", 0);
    Out.Add("consume", 0);
    Out.Add("partition", "default");
    Out.Add("playlist", Queue.Version());
    Out.Add("playlistlength", Queue.Count());
    Out.Add("mixrampdb", 0);
    const QByteArray State = StateName(Media->PlayState());
    Out.Add("state", State);
    const int Row = Door.CurrentRow();
    if (Row >= 0) {
        Out.Add("song", Row);
        Out.Add("songid", qint64(Queue.SongIdAt(Row)));
    }
    if (State != "stop" && Media->HasMedia()) {
        const double Elapsed = std::max(0.0, Media->CurrentPosition());
        const double Duration = std::max(0.0, Media->Duration());
        Out.Add("time", QByteArray::number(std::lround(Elapsed)) + ':' +
                            QByteArray::number(std::lround(Duration)));
        Out.AddSeconds("elapsed", Elapsed);
        if (Duration > 0)
            Out.AddSeconds("duration", Duration);
    }
    if (const int Job = Door.Hooks().UpdatingJob ? Door.Hooks().UpdatingJob() : 0; Job > 0)
        Out.Add("updating_db", Job);
    if (const int Count = Queue.Count(); Count > 0) {
        const int Next = Row >= 0 ? (Row + 1) % Count : 0;
        Out.Add("nextsong", Next);
        Out.Add("nextsongid", qint64(Queue.SongIdAt(Next)));
    }
}

void CurrentSong(TMpdDoor &Door, TMpdCall &Call) {
    const int Row = Door.CurrentRow();
    if (Row < 0)
        return;
    WriteSong(Call.Out, Call.Client.Tags, Door.SongOfRow(Row));
    Call.Out.Add("Pos", Row);
    Call.Out.Add("Id", qint64(Door.Queue().SongIdAt(Row)));
}

void Stats(TMpdDoor &Door, TMpdCall &Call) {
    TMpdLibraryStats Library;
    if (Door.Hooks().LibraryStats) {
        Library = Door.Hooks().LibraryStats();
    } else {
        // Without the library's counts, those of the play list.
        QSet<QByteArray> Artists, Albums;
        const int Count = Door.Queue().Count();
        for (int Row = 0; Row < Count; ++Row) {
            const TMpdSong Song = Door.SongOfRow(Row);
            for (const auto &[Tag, Value] : Song.Tags)
                if (Tag == TMpdTag::Artist)
                    Artists.insert(Value);
                else if (Tag == TMpdTag::Album)
                    Albums.insert(Value);
            Library.PlaytimeSeconds += std::max<qint64>(0, std::lround(Song.Duration));
        }
        Library.Songs = Count;
        Library.Artists = Artists.size();
        Library.Albums = Albums.size();
        // Some clients take a server whose counts are all zero for another kind.
        Library.UpdatedAt = Door.QueueChangedAt();
    }
    Call.Out.Add("artists", Library.Artists);
    Call.Out.Add("albums", Library.Albums);
    Call.Out.Add("songs", Library.Songs);
    Call.Out.Add("uptime", Door.Uptime());
    Call.Out.Add("db_playtime", Library.PlaytimeSeconds);
    Call.Out.Add("db_update", Library.UpdatedAt);
    Call.Out.Add("playtime", Door.PlayTime());
}

// A row of the queue by position; ACK when there is none.
int RowArg(TMpdDoor &Door, const QByteArray &Arg) {
    const int Row = int(MpdInteger(Arg, -1));
    if (Row >= Door.Queue().Count())
        MpdFail(TMpdAck::Arg, "Bad song index");
    return Row;
}

int RowOfIdArg(TMpdDoor &Door, const QByteArray &Arg) {
    const int Row = Door.Queue().RowOfId(quint64(MpdInteger(Arg, 0, 0xFFFFFFFFLL)));
    if (Row < 0)
        MpdFail(TMpdAck::NoExist, "No such song");
    return Row;
}

void Play(TMpdDoor &Door, int Row) {
    TMediaComponent *Media = Door.Speaker().Media();
    TPlaybackEngine *Engine = Door.Speaker().Engine();
    if (Row < 0 && Media->PlayState() == TPlayState::Paused)
        Engine->ResumePlay();
    else if (Row < 0)
        Door.PlayAt(std::max(Door.CurrentRow(), 0), 0);
    else
        Door.PlayAt(Row, 0);
}

// A play option this speaker cannot change: asking for the value it has is fine.
TMpdCommand FixedOption(const QByteArray &Word, const QByteArray &Value, const QByteArray &Why) {
    return {Word, 1, 1, [Value, Why](TMpdCall &Call) {
                if (Call.Args[0] != Value)
                    MpdFail(TMpdAck::Arg, Why);
            }};
}

} // namespace

void AddPlayerCommands(TMpdDoor &Door) {
    TMpdCommandTable &Table = Door.Commands();
    TMpdDoor *D = &Door;
    Table.Add({"status", 0, 0, [D](TMpdCall &Call) { Status(*D, Call); }});
    Table.Add({"currentsong", 0, 0, [D](TMpdCall &Call) { CurrentSong(*D, Call); }});
    Table.Add({"stats", 0, 0, [D](TMpdCall &Call) { Stats(*D, Call); }});
    Table.Add({"play", 0, 1, [D](TMpdCall &Call) {
                   Play(*D, Call.Args.isEmpty() ? -1 : RowArg(*D, Call.Args[0]));
               }});
    Table.Add({"playid", 0, 1, [D](TMpdCall &Call) {
                   Play(*D, Call.Args.isEmpty() ? -1 : RowOfIdArg(*D, Call.Args[0]));
               }});
    Table.Add(
        {"pause", 0, 1, [D](TMpdCall &Call) {
             const TPlayState State = D->Speaker().Media()->PlayState();
             const bool Pause =
                 Call.Args.isEmpty() ? State != TPlayState::Paused : MpdBool(Call.Args[0]);
             if (Pause)
                 SendEngine(*D, CommandWord::State, int(TPlayState::Paused), Call.Client.Peer);
             else if (State == TPlayState::Paused)
                 SendEngine(*D, CommandWord::State, int(TPlayState::Playing), Call.Client.Peer);
         }});
    Table.Add({"stop", 0, 0, [D](TMpdCall &) {
                   // Stopped means stopped: the engine would otherwise start the next track.
                   D->Speaker().Engine()->Hold();
                   D->Speaker().Media()->Stop();
               }});
    // As MPD's: a stopped player does not skip (stopped means stopped, see "stop").
    for (const auto &[Name, Step] : {std::pair{"next", 1}, {"previous", -1}})
        Table.Add({Name, 0, 0, [D, Step](TMpdCall &) {
                       if (StateName(D->Speaker().Media()->PlayState()) == "stop")
                           MpdFail(TMpdAck::PlayerSync, "Not playing");
                       TPlaybackEngine *Engine = D->Speaker().Engine();
                       Step > 0 ? Engine->PlayNext() : Engine->PlayPrevious();
                   }});
    Table.Add({"seek", 2, 2, [D](TMpdCall &Call) {
                   const int Row = RowArg(*D, Call.Args[0]);
                   D->PlayAt(std::max(Row, 0), std::max(0.0, MpdNumber(Call.Args[1])));
               }});
    Table.Add({"seekid", 2, 2, [D](TMpdCall &Call) {
                   D->PlayAt(RowOfIdArg(*D, Call.Args[0]), std::max(0.0, MpdNumber(Call.Args[1])));
               }});
    Table.Add({"seekcur", 1, 1, [D](TMpdCall &Call) {
                   TMediaComponent *Media = D->Speaker().Media();
                   if (!Media->HasMedia())
                       MpdFail(TMpdAck::PlayerSync, "Not playing");
                   const QByteArray &Arg = Call.Args[0];
                   const double Value = MpdNumber(Arg);
                   const bool Relative = Arg.startsWith('+') || Arg.startsWith('-');
                   Media->SetCurrentPosition(
                       std::max(0.0, Relative ? Media->CurrentPosition() + Value : Value));
               }});
    Table.Add({"setvol", 1, 1,
               [D](TMpdCall &Call) { SetVolume(*D, Call, MpdInteger(Call.Args[0], 0, 100)); }});
    Table.Add({"volume", 1, 1, [D](TMpdCall &Call) {
                   const qint64 Change = MpdInteger(Call.Args[0], -100, 100);
                   SetVolume(*D, Call, D->Speaker().Media()->Volume() + Change);
               }});
    Table.Add({"getvol", 0, 0,
               [D](TMpdCall &Call) { Call.Out.Add("volume", D->Speaker().Media()->Volume()); }});
    // One output: the speaker's sound; switching it off mutes it.
    Table.Add({"outputs", 0, 0, [D](TMpdCall &Call) {
                   Call.Out.Add("outputid", 0);
                   Call.Out.Add("outputname", "Speaker");
                   Call.Out.Add("plugin", "mpv");
                   Call.Out.Add("outputenabled", D->Speaker().Media()->Mute() ? 0 : 1);
               }});
    const auto Output = [D](QByteArray Word, int Mode) {
        D->Commands().Add({Word, 1, 1, [D, Mode](TMpdCall &Call) {
                               if (MpdInteger(Call.Args[0]) != 0)
                                   MpdFail(TMpdAck::NoExist, "No such audio output");
                               const bool Muted = D->Speaker().Media()->Mute();
                               const bool Mute = Mode == 2 ? !Muted : Mode == 0;
                               SendEngine(*D, CommandWord::Mute, Mute ? 1 : 0, Call.Client.Peer);
                           }});
    };
    Output("disableoutput", 0);
    Output("enableoutput", 1);
    Output("toggleoutput", 2);
    Table.Add(FixedOption("repeat", "1", "This speaker's play list always loops"));
    Table.Add(FixedOption("random", "0", "This speaker plays its list in order"));
    Table.Add(FixedOption("single", "0", "This speaker plays its whole list"));
    Table.Add(FixedOption("consume", "0", "This speaker keeps the tracks it played"));
    Table.Add(FixedOption("crossfade", "0", "This speaker does not crossfade"));
    Table.Add({"replay_gain_status", 0, 0, [D](TMpdCall &Call) {
                   const auto &Mode = D->Hooks().ReplayGainMode;
                   Call.Out.Add("replay_gain_mode", Mode ? Mode() : QByteArray("off"));
               }});
    Table.Add({"replay_gain_mode", 1, 1, [D](TMpdCall &Call) {
                   const QByteArray &Mode = Call.Args[0];
                   if (Mode != "off" && Mode != "track" && Mode != "album" && Mode != "auto")
                       MpdFail(TMpdAck::Arg, "Unrecognized replay gain mode");
                   const auto &Set = D->Hooks().SetReplayGainMode;
                   if (Set ? !Set(Mode) : Mode != "off")
                       MpdFail(TMpdAck::Arg, "This speaker cannot use that replay gain mode");
                   D->Notify(MpdIdle::Options);
               }});
}
