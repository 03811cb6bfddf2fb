// The library's browsing, search and rescan commands.
#include "MpdDoor.h"
#include "MpdLibraryDoor.h"

#include "MpdTags.h"

void TMpdLibraryDoor::AddQueryCommands() {
    TMpdCommandTable &Table = FDoor.Commands();
    Table.Add({"lsinfo", 0, 1, [this](TMpdCall &Call) {
                   const QByteArray Folder = Call.Args.value(0);
                   MpdLsInfo(Call.Out, Library(), Folder, Call.Client.Tags);
                   // Stored lists show in the top folder, as MPD shows them.
                   if (Folder.isEmpty() || Folder == "/") {
                       TMpdStep Songs = Call.Out.TakeStream();
                       for (const TMpdPlaylists::TInfo &List : FPlaylists.List()) {
                           Call.Out.Add("playlist", List.Name);
                           Call.Out.Add("Last-Modified", MpdTime(List.Modified));
                       }
                       Call.Out.Stream(std::move(Songs));
                   }
               }});
    for (const bool Info : {false, true})
        Table.Add({Info ? "listallinfo" : "listall", 0, 1, [this, Info](TMpdCall &Call) {
                       MpdListAll(Call.Out, Library(), Call.Args.value(0), Info, Call.Client.Tags);
                   }});
    Table.Add({"list", 1, -1, [this](TMpdCall &Call) { MpdList(Call.Out, Library(), Call.Args); }});
    for (const TMpdMatch Match : {TMpdMatch::Exact, TMpdMatch::Folded}) {
        const bool Exact = Match == TMpdMatch::Exact;
        Table.Add({Exact ? "find" : "search", 1, -1, [this, Match](TMpdCall &Call) {
                       const TMpdLibraryPtr Now = Library();
                       MpdSongs(Call.Out, Now, MpdFindRows(*Now, Call.Args, Match),
                                Call.Client.Tags);
                   }});
        Table.Add({Exact ? "count" : "searchcount", 1, -1, [this, Match](TMpdCall &Call) {
                       MpdCount(Call.Out, *Library(), Call.Args, Match);
                   }});
        Table.Add({Exact ? "findadd" : "searchadd", 1, -1, [this, Match](TMpdCall &Call) {
                       const TMpdLibraryPtr Now = Library();
                       QByteArrayList URLs;
                       for (const int Row : MpdFindRows(*Now, Call.Args, Match))
                           URLs.append(PlayUrl(*Now, Row));
                       FDoor.AppendToQueue(URLs);
                   }});
    }
    for (const char *Word : {"update", "rescan"})
        Table.Add({Word, 0, 1, [this](TMpdCall &Call) {
                       // A folder names no part of the work: every file's stamp is looked at.
                       Call.Out.Add("updating_db", qint64(StartUpdate()));
                   }});
}
