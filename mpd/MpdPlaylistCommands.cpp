// Stored play lists: listed, read, loaded into the queue, saved from it, edited.
#include "MpdDoor.h"
#include "MpdLibraryDoor.h"
#include "MpdQueue.h"
#include "MpdTags.h"
#include "MusicList.h"
#include "PlayListModel.h"

namespace {

// Runs a play-list edit; its failure becomes the command's ACK.
void Check(bool Done, const TMpdPlaylists::TError &Error) {
    if (!Done)
        MpdFail(TMpdAck(Error.Code), Error.Text.toUtf8());
}

QByteArrayList Entries(const TMpdPlaylists &Lists, const QByteArray &Name) {
    TMpdPlaylists::TError Error;
    std::optional<QByteArrayList> Loaded = Lists.Load(Name, &Error);
    Check(Loaded.has_value(), Error);
    return std::move(*Loaded);
}

} // namespace

void TMpdLibraryDoor::AddPlaylistCommands() {
    TMpdCommandTable &Table = FDoor.Commands();
    Table.Add({"listplaylists", 0, 0, [this](TMpdCall &Call) {
                   for (const TMpdPlaylists::TInfo &List : FPlaylists.List()) {
                       Call.Out.Add("playlist", List.Name);
                       Call.Out.Add("Last-Modified", MpdTime(List.Modified));
                   }
               }});
    for (const bool Info : {false, true})
        Table.Add({Info ? "listplaylistinfo" : "listplaylist", 1, 1, [this, Info](TMpdCall &Call) {
                       const QByteArrayList Sources = Entries(FPlaylists, Call.Args[0]);
                       const TMpdLibraryPtr Now = Library();
                       const TMpdTagMask Mask = Call.Client.Tags;
                       Call.Out.Stream([=, Next = qsizetype(0)](TMpdResponse &Out) mutable {
                           for (; Next < Sources.size() && !Out.Full(); ++Next) {
                               const QByteArray Uri = Now->UriOf(Sources[Next]);
                               const int Row = Info ? Now->RowOf(Uri) : -1;
                               if (Row >= 0)
                                   WriteSong(Out, Mask, MpdSongOf(Uri, Now->Tags(Row)));
                               else
                                   Out.Add("file", Uri);
                           }
                           return Next >= Sources.size();
                       });
                   }});
    Table.Add({"load", 1, 2, [this](TMpdCall &Call) {
                   QByteArrayList Sources = Entries(FPlaylists, Call.Args[0]);
                   if (Call.Args.size() > 1) {
                       const TMpdRange Range = MpdRangeArg(Call.Args[1]);
                       const qsizetype End = Range.End < 0 ? Sources.size() : Range.End;
                       if (Range.Start > Sources.size() || End > Sources.size())
                           MpdFail(TMpdAck::Arg, "Bad song index");
                       Sources = Sources.mid(Range.Start, End - Range.Start);
                   }
                   FDoor.AppendToQueue(UrlsOf(Sources));
               }});
    Table.Add({"save", 1, 2, [this](TMpdCall &Call) {
                   const QByteArray Mode = Call.Args.value(1, "create");
                   if (Mode != "create" && Mode != "append" && Mode != "replace")
                       MpdFail(TMpdAck::Arg, "Unrecognized save mode");
                   // Library files are kept as their paths, so the list outlives this address.
                   const TMpdLibraryPtr Now = Library();
                   const TPlayListModel &Queue = FDoor.Queue().Model();
                   QByteArrayList Sources;
                   for (int Row = 0; Row < Queue.RowCount(); ++Row) {
                       const QByteArray &Url = Queue.ItemAt(Row)->Location;
                       const int Found = RowOfUrl(*Now, Url);
                       Sources.append(Found >= 0 ? Now->Source(Found) : Url);
                   }
                   TMpdPlaylists::TError Error;
                   Check(Mode == "append"
                             ? FPlaylists.Add(Call.Args[0], Sources, &Error)
                             : FPlaylists.Save(Call.Args[0], Sources, Mode == "replace", &Error),
                         Error);
               }});
    Table.Add({"rm", 1, 1, [this](TMpdCall &Call) {
                   TMpdPlaylists::TError Error;
                   Check(FPlaylists.Remove(Call.Args[0], &Error), Error);
               }});
    Table.Add({"rename", 2, 2, [this](TMpdCall &Call) {
                   TMpdPlaylists::TError Error;
                   Check(FPlaylists.Rename(Call.Args[0], Call.Args[1], &Error), Error);
               }});
    Table.Add({"playlistadd", 2, 2, [this](TMpdCall &Call) {
                   const std::optional<QByteArrayList> Sources = SourcesOf(Call.Args[1]);
                   if (!Sources)
                       MpdFail(TMpdAck::NoExist, "No such song");
                   TMpdPlaylists::TError Error;
                   Check(FPlaylists.Add(Call.Args[0], *Sources, &Error), Error);
               }});
    Table.Add({"playlistdelete", 2, 2, [this](TMpdCall &Call) {
                   const TMpdRange Range = MpdRangeArg(Call.Args[1]);
                   const qsizetype End =
                       Range.End < 0 ? Entries(FPlaylists, Call.Args[0]).size() : Range.End;
                   TMpdPlaylists::TError Error;
                   Check(FPlaylists.Delete(Call.Args[0], Range.Start, End, &Error), Error);
               }});
    Table.Add({"playlistclear", 1, 1, [this](TMpdCall &Call) {
                   TMpdPlaylists::TError Error;
                   Check(FPlaylists.Clear(Call.Args[0], &Error), Error);
               }});
    Table.Add({"playlistmove", 3, 3, [this](TMpdCall &Call) {
                   TMpdPlaylists::TError Error;
                   Check(FPlaylists.Move(Call.Args[0], MpdInteger(Call.Args[1]),
                                         MpdInteger(Call.Args[2]), &Error),
                         Error);
               }});
}
