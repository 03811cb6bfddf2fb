// The queue's commands: the speaker's play list, row by row, each row with its id.
#include "MpdCommands.h"
#include "MpdDoor.h"
#include "MpdQueue.h"
#include "PlayListModel.h"
#include "PlaybackEngine.h"
#include "RowMove.h"
#include "SearchFold.h"
#include "Speaker.h"

#include <QRandomGenerator>

#include <algorithm>
#include <numeric>

namespace {

TPlaybackEngine &EngineOf(TMpdDoor &Door) {
    return *Door.Speaker().Engine();
}

void FailIndex() {
    MpdFail(TMpdAck::Arg, "Bad song index");
}

// Rows [Range.Start, Range.End) that the queue holds; the end -1 is the last row.
TMpdRange Rows(TMpdDoor &Door, const TMpdRange &Range) {
    const int Count = Door.Queue().Count();
    const int End = Range.End < 0 ? Count : std::min(Range.End, Count);
    return {std::min(Range.Start, End), End};
}

void WriteRow(TMpdDoor &Door, TMpdResponse &Out, TMpdTagMask Tags, int Row) {
    WriteSong(Out, Tags, Door.SongOfRow(Row));
    Out.Add("Pos", Row);
    Out.Add("Id", qint64(Door.Queue().SongIdAt(Row)));
}

// Streams the rows of Range that Wanted accepts; PositionsOnly: "cpos" and "Id" only.
void StreamRows(TMpdDoor &Door, TMpdCall &Call, TMpdRange Range,
                std::function<bool(int Row)> Wanted, bool PositionsOnly = false) {
    const TMpdTagMask Tags = Call.Client.Tags;
    Call.Out.Stream(
        [&Door, Range, Wanted, Tags, PositionsOnly, Row = Range.Start](TMpdResponse &Out) mutable {
            // The list may change between parts: stay inside it.
            const int End = std::min(Range.End, Door.Queue().Count());
            for (; Row < End && !Out.Full(); ++Row) {
                if (Wanted && !Wanted(Row))
                    continue;
                if (PositionsOnly) {
                    Out.Add("cpos", Row);
                    Out.Add("Id", qint64(Door.Queue().SongIdAt(Row)));
                } else {
                    WriteRow(Door, Out, Tags, Row);
                }
            }
            return Row >= End;
        });
}

int RowOfId(TMpdDoor &Door, const QByteArray &Arg) {
    const int Row = Door.Queue().RowOfId(quint64(MpdInteger(Arg, 0, 0xFFFFFFFFLL)));
    if (Row < 0)
        MpdFail(TMpdAck::NoExist, "No such song");
    return Row;
}

// A position to put rows at in the list without the rows Moving: absolute, or "+N"/"-N" after
// or before the current song.
int Position(TMpdDoor &Door, const QByteArray &Arg, const QList<int> &Moving) {
    int To = 0;
    if (Arg.startsWith('+') || Arg.startsWith('-')) {
        int Current = Door.CurrentRow();
        if (Current < 0)
            MpdFail(TMpdAck::PlayerSync, "No current song");
        Current -= int(std::count_if(Moving.cbegin(), Moving.cend(),
                                     [Current](int Row) { return Row < Current; }));
        const int Offset = int(MpdInteger(Arg.mid(1)));
        To = Arg.startsWith('+') ? Current + 1 + Offset : Current - Offset;
    } else {
        To = int(MpdInteger(Arg));
    }
    if (To < 0 || To > Door.Queue().Count() - Moving.size())
        FailIndex();
    return To;
}

// Puts Moving (rows, in the order they are to stand) at position To of the list without them.
void MoveRows(TMpdDoor &Door, const QList<int> &Moving, int To) {
    const int Count = Door.Queue().Count();
    QList<bool> Taken(Count, false);
    for (const int Row : Moving)
        Taken[Row] = true;
    QList<int> Order;
    Order.reserve(Count);
    for (int Row = 0; Row < Count; ++Row)
        if (!Taken[Row])
            Order.append(Row);
    Order = Order.mid(0, To) + Moving + Order.mid(To);
    QList<int> Same(Count);
    std::iota(Same.begin(), Same.end(), 0);
    if (Order != Same)
        EngineOf(Door).ApplyMove(TRowMove{Order, {}});
}

QList<int> RangeRows(const TMpdRange &Range) {
    QList<int> Out(Range.End - Range.Start);
    std::iota(Out.begin(), Out.end(), Range.Start);
    return Out;
}

// Queues what URI names: an http(s) URL as it is, a library URI as the library says. The
// ids of the rows, in order.
QList<quint64> Add(TMpdDoor &Door, const QByteArray &URI, bool OneSong) {
    std::optional<QByteArrayList> URLs;
    if (URI.startsWith("http://") || URI.startsWith("https://"))
        URLs = QByteArrayList{URI};
    else if (Door.Hooks().ResolveURI)
        URLs = Door.Hooks().ResolveURI(URI);
    if (!URLs || URLs->isEmpty())
        MpdFail(TMpdAck::NoExist, "No such song");
    if (OneSong && URLs->size() != 1)
        MpdFail(TMpdAck::NoExist, "Not a song");
    QList<quint64> Ids = Door.AppendToQueue(*URLs);
    Ids.removeAll(0);
    if (Ids.isEmpty())
        MpdFail(TMpdAck::PlaylistMax, "Playlist is too large");
    return Ids;
}

void AddAt(TMpdDoor &Door, TMpdCall &Call, bool OneSong) {
    // The position is read before the rows come in, as the client saw the list.
    const int To = Call.Args.size() > 1 ? Position(Door, Call.Args[1], {}) : -1;
    const QList<quint64> Ids = Add(Door, Call.Args[0], OneSong);
    if (To >= 0) {
        QList<int> Moving;
        for (const quint64 Id : Ids)
            Moving.append(Door.Queue().RowOfId(Id));
        MoveRows(Door, Moving, std::min(To, Door.Queue().Count() - int(Moving.size())));
    }
    if (OneSong)
        Call.Out.Add("Id", qint64(Ids.first()));
}

// "playlistfind"/"playlistsearch" with TAG VALUE pairs: exact, or folded and contained.
std::function<bool(int)> Matcher(TMpdDoor &Door, const QByteArrayList &Args, bool Search) {
    if (Args.size() % 2 != 0)
        MpdFail(TMpdAck::Arg, "Incorrect number of filter arguments");
    struct TTerm {
        QByteArray Tag; // "file", "any" or a tag's name
        QByteArray Value;
    };
    QList<TTerm> Terms;
    for (qsizetype I = 0; I < Args.size(); I += 2) {
        QByteArray Tag = Args[I].toLower();
        if (Tag != "file" && Tag != "any" && !MpdTagOf(Tag))
            MpdFail(TMpdAck::Arg, "Unknown filter type: " + Args[I]);
        Terms.append({Tag, Search ? SearchFold(QString::fromUtf8(Args[I + 1])) : Args[I + 1]});
    }
    return [&Door, Terms, Search](int Row) {
        const TMpdSong Song = Door.SongOfRow(Row);
        const auto Matches = [Search](const QByteArray &Text, const QByteArray &Value) {
            return Search ? SearchFold(QString::fromUtf8(Text)).contains(Value) : Text == Value;
        };
        return std::all_of(Terms.cbegin(), Terms.cend(), [&](const TTerm &Term) {
            if ((Term.Tag == "file" || Term.Tag == "any") && Matches(Song.File, Term.Value))
                return true;
            return std::any_of(Song.Tags.cbegin(), Song.Tags.cend(), [&](const auto &Pair) {
                return (Term.Tag == "any" || MpdTagName(Pair.first).toLower() == Term.Tag) &&
                       Matches(Pair.second, Term.Value);
            });
        });
    };
}

} // namespace

void AddQueueCommands(TMpdDoor &Door) {
    TMpdCommandTable &Table = Door.Commands();
    TMpdDoor *D = &Door;
    Table.Add({"playlistinfo", 0, 1, [D](TMpdCall &Call) {
                   // "-1", as older clients send it, asks for every row.
                   const bool All = Call.Args.isEmpty() || Call.Args[0] == "-1";
                   const TMpdRange Range = All ? TMpdRange{0, -1} : MpdRangeArg(Call.Args[0]);
                   if (!All && Range.Start >= D->Queue().Count())
                       FailIndex();
                   StreamRows(*D, Call, Rows(*D, Range), {});
               }});
    Table.Add({"playlistid", 0, 1, [D](TMpdCall &Call) {
                   if (Call.Args.isEmpty())
                       StreamRows(*D, Call, Rows(*D, {0, -1}), {});
                   else
                       WriteRow(*D, Call.Out, Call.Client.Tags, RowOfId(*D, Call.Args[0]));
               }});
    const auto Changes = [D](bool PositionsOnly) {
        return [D, PositionsOnly](TMpdCall &Call) {
            const quint32 Since = quint32(MpdInteger(Call.Args[0], 0, 0xFFFFFFFFLL));
            const TMpdRange Range = Call.Args.size() > 1 ? MpdRangeArg(Call.Args[1]) : TMpdRange{};
            StreamRows(
                *D, Call, Rows(*D, Range),
                [D, Since](int Row) { return D->Queue().RowVersion(Row) > Since; }, PositionsOnly);
        };
    };
    Table.Add({"plchanges", 1, 2, Changes(false)});
    Table.Add({"plchangesposid", 1, 2, Changes(true)});
    Table.Add({"playlistfind", 2, -1, [D](TMpdCall &Call) {
                   StreamRows(*D, Call, Rows(*D, {0, -1}), Matcher(*D, Call.Args, false));
               }});
    Table.Add({"playlistsearch", 2, -1, [D](TMpdCall &Call) {
                   StreamRows(*D, Call, Rows(*D, {0, -1}), Matcher(*D, Call.Args, true));
               }});
    Table.Add({"add", 1, 2, [D](TMpdCall &Call) { AddAt(*D, Call, false); }});
    Table.Add({"addid", 1, 2, [D](TMpdCall &Call) { AddAt(*D, Call, true); }});
    Table.Add({"delete", 1, 1, [D](TMpdCall &Call) {
                   const TMpdRange Range = MpdRangeArg(Call.Args[0]);
                   if (Range.Start >= D->Queue().Count())
                       FailIndex();
                   EngineOf(*D).RemoveRows(RangeRows(Rows(*D, Range)));
               }});
    Table.Add({"deleteid", 1, 1,
               [D](TMpdCall &Call) { EngineOf(*D).RemoveRows({RowOfId(*D, Call.Args[0])}); }});
    Table.Add({"clear", 0, 0, [D](TMpdCall &) {
                   EngineOf(*D).RemoveRows(RangeRows({0, D->Queue().Count()}));
               }});
    Table.Add({"move", 2, 2, [D](TMpdCall &Call) {
                   const TMpdRange Range = MpdRangeArg(Call.Args[0]);
                   if (Range.Start >= D->Queue().Count())
                       FailIndex();
                   const QList<int> Moving = RangeRows(Rows(*D, Range));
                   MoveRows(*D, Moving, Position(*D, Call.Args[1], Moving));
               }});
    Table.Add({"moveid", 2, 2, [D](TMpdCall &Call) {
                   const int Row = RowOfId(*D, Call.Args[0]);
                   MoveRows(*D, {Row}, Position(*D, Call.Args[1], {Row}));
               }});
    const auto Swap = [D](int A, int B) {
        QList<int> Order(D->Queue().Count());
        std::iota(Order.begin(), Order.end(), 0);
        std::swap(Order[A], Order[B]);
        if (A != B)
            EngineOf(*D).ApplyMove(TRowMove{Order, {}});
    };
    Table.Add({"swap", 2, 2, [D, Swap](TMpdCall &Call) {
                   const int Count = D->Queue().Count();
                   const int A = int(MpdInteger(Call.Args[0])), B = int(MpdInteger(Call.Args[1]));
                   if (A >= Count || B >= Count)
                       FailIndex();
                   Swap(A, B);
               }});
    Table.Add({"swapid", 2, 2, [D, Swap](TMpdCall &Call) {
                   Swap(RowOfId(*D, Call.Args[0]), RowOfId(*D, Call.Args[1]));
               }});
    Table.Add({"shuffle", 0, 1, [D](TMpdCall &Call) {
                   const TMpdRange Range =
                       Rows(*D, Call.Args.isEmpty() ? TMpdRange{0, -1} : MpdRangeArg(Call.Args[0]));
                   QList<int> Order(D->Queue().Count());
                   std::iota(Order.begin(), Order.end(), 0);
                   std::shuffle(Order.begin() + Range.Start, Order.begin() + Range.End,
                                *QRandomGenerator::global());
                   EngineOf(*D).ApplyMove(TRowMove{Order, {}});
               }});
}
