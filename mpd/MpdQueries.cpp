#include "MpdQueries.h"

#include "AsciiText.h"
#include "MpdCommandTable.h"
#include "MpdTags.h"

#include <QDateTime>
#include <QFileInfo>
#include <QMap>
#include <QSet>

#include <algorithm>

namespace {

// The combinations of values one track adds to a grouped list, at most.
constexpr qsizetype MaxCombinations = 64;

// Streams Count items, Item(I, Out) writing item I.
void StreamItems(TMpdResponse &Out, qsizetype Count,
                 std::function<void(qsizetype, TMpdResponse &)> Item) {
    Out.Stream([Count, Item = std::move(Item), Next = qsizetype(0)](TMpdResponse &Part) mutable {
        while (Next < Count && !Part.Full())
            Item(Next++, Part);
        return Next >= Count;
    });
}

// The folder a client names, without the slashes around it ("" and "/" are the top).
QByteArray FolderArg(QByteArray Folder) {
    while (Folder.startsWith('/'))
        Folder.remove(0, 1);
    while (Folder.endsWith('/'))
        Folder.chop(1);
    return Folder;
}

void WriteRow(TMpdResponse &Out, const TMpdLibrary &Library, int Row, TMpdTagMask Mask) {
    WriteSong(Out, Mask, MpdSongOf(Library.Uri(Row), Library.Tags(Row)));
}

// The row a URI names that is no folder; ACK 50 when there is none.
int SongRow(const TMpdLibrary &Library, const QByteArray &Uri) {
    const int Row = Library.RowOf(Uri);
    if (Row < 0)
        MpdFail(TMpdAck::NoExist, "No such directory");
    return Row;
}

// The values a track has for a list or group type: its URI for "file", else the tag's values
// (with MPD's fallback), else one empty value.
QByteArrayList ValuesOf(const TMpdLibrary &Library, int Row, const QByteArray &Type) {
    if (Type == "file")
        return {Library.Uri(Row).toByteArray()};
    QByteArrayList Values;
    if (const auto Tag = MpdTagOf(Type)) {
        const auto Take = [&](QStringView Value) { Values.append(Value.toUtf8()); };
        ForEachTagValue(Library.Tags(Row), *Tag, Take);
        if (Values.isEmpty())
            ForEachTagValue(Library.Tags(Row), MpdFallbackTag(*Tag), Take);
    }
    if (Values.isEmpty())
        Values.append(QByteArray());
    return Values;
}

// Takes trailing "group TYPE" pairs off Args, in order.
QByteArrayList TakeGroups(QByteArrayList &Args) {
    QByteArrayList Groups;
    while (Args.size() >= 2 && SameTextAscii(Args[Args.size() - 2], "group")) {
        const QByteArray Type = MpdTagSpelling(Args.back());
        if (Type.isEmpty())
            MpdFail(TMpdAck::Arg, "Unknown tag type: " + Args.back());
        Groups.prepend(Type);
        Args.resize(Args.size() - 2);
    }
    return Groups;
}

TMpdFilter FilterOf(const QByteArrayList &Args, TMpdMatch Match) {
    QString Error;
    auto Filter = TMpdFilter::Parse(Args, Match, &Error);
    if (!Filter)
        MpdFail(TMpdAck::Arg, Error.toUtf8());
    return std::move(*Filter);
}

// The rows Filter matches, in URI order (the order MPD walks its folders in), the http rows
// last.
QList<int> Matching(const TMpdLibrary &Library, const TMpdFilter &Filter) {
    QList<int> Rows;
    for (const QList<int> *Part : {&Library.ByUri(), &Library.RemoteRows()})
        for (const int Row : *Part)
            if (Filter.Matches({Library.Uri(Row), &Library.Tags(Row)}))
                Rows.append(Row);
    return Rows;
}

} // namespace

void MpdSongs(TMpdResponse &Out, TMpdLibraryPtr Library, QList<int> Rows, TMpdTagMask Mask) {
    const qsizetype Count = Rows.size();
    StreamItems(Out, Count,
                [Library, Rows = std::move(Rows), Mask](qsizetype I, TMpdResponse &Part) {
                    WriteRow(Part, *Library, Rows[I], Mask);
                });
}

void MpdLsInfo(TMpdResponse &Out, TMpdLibraryPtr Library, const QByteArray &Folder,
               TMpdTagMask Mask) {
    const QByteArray Path = FolderArg(Folder);
    if (!Library->IsFolder(Path))
        return WriteRow(Out, *Library, SongRow(*Library, Path), Mask);
    QByteArrayList Folders;
    QList<int> Files;
    Library->ListFolder(Path, Folders, Files);
    for (const QByteArray &Sub : Folders) {
        Out.Add("directory", Sub);
        const QFileInfo Info(QFile::decodeName(Library->Root() + '/' + Sub));
        if (const QDateTime Time = Info.lastModified(); Time.isValid())
            Out.Add("Last-Modified", MpdTime(Time));
    }
    MpdSongs(Out, std::move(Library), std::move(Files), Mask);
}

void MpdListAll(TMpdResponse &Out, TMpdLibraryPtr Library, const QByteArray &Folder, bool Info,
                TMpdTagMask Mask) {
    const QByteArray Path = FolderArg(Folder);
    if (!Library->IsFolder(Path)) {
        const int Row = SongRow(*Library, Path);
        return Info ? WriteRow(Out, *Library, Row, Mask) : Out.Add("file", Library->Uri(Row));
    }
    // MPD names the folder asked about first.
    if (!Path.isEmpty())
        Out.Add("directory", Path);
    const auto Range = Library->Below(Path);
    const qsizetype Start = Range.first, Local = Range.second - Range.first;
    const QList<int> Remote = Path.isEmpty() ? Library->RemoteRows() : QList<int>();
    // A file's folders not named yet are named before it, from the one below Path down.
    StreamItems(
        Out, Local + Remote.size(), [=, Shown = Path](qsizetype I, TMpdResponse &Part) mutable {
            const int Row = I < Local ? Library->ByUri()[Start + I] : Remote[I - Local];
            const QByteArrayView Uri = Library->Uri(Row);
            if (I < Local) {
                const QByteArrayView Own = Uri.first(std::max<qsizetype>(Uri.lastIndexOf('/'), 0));
                const auto Holds = [&] {
                    return Own.startsWith(Shown) &&
                           (Own.size() == Shown.size() || Own[Shown.size()] == '/');
                };
                while (Shown != Path && !Holds())
                    Shown.truncate(std::max<qsizetype>(Shown.lastIndexOf('/'), 0));
                while (Shown.size() < Own.size()) {
                    const qsizetype Next = Own.indexOf('/', Shown.isEmpty() ? 0 : Shown.size() + 1);
                    Shown = Own.first(Next < 0 ? Own.size() : Next).toByteArray();
                    Part.Add("directory", Shown);
                }
            }
            if (Info)
                WriteRow(Part, *Library, Row, Mask);
            else
                Part.Add("file", Uri);
        });
}

QList<int> MpdFindRows(const TMpdLibrary &Library, const QByteArrayList &Args, TMpdMatch Match) {
    QByteArrayList Filters = Args;
    QByteArray Sort;
    qsizetype From = 0, To = -1;
    while (Filters.size() >= 2) {
        const QByteArray &Word = Filters[Filters.size() - 2];
        if (SameTextAscii(Word, "sort")) {
            Sort = Filters.back();
        } else if (SameTextAscii(Word, "window")) {
            const TMpdRange Range = MpdRangeArg(Filters.back());
            From = Range.Start;
            To = Range.End;
        } else {
            break;
        }
        Filters.resize(Filters.size() - 2);
    }
    if (Filters.isEmpty())
        MpdFail(TMpdAck::Arg, "Incorrect number of filter arguments");
    QList<int> Rows = Matching(Library, FilterOf(Filters, Match));
    if (!Sort.isEmpty()) {
        const bool Descending = Sort.startsWith('-');
        const QByteArray Type = MpdTagSpelling(QByteArrayView(Sort).sliced(Descending ? 1 : 0));
        if (Type.isEmpty())
            MpdFail(TMpdAck::Arg, "Unknown sort tag");
        QHash<int, QByteArray> Keys;
        for (const int Row : Rows)
            Keys.insert(Row, ValuesOf(Library, Row, Type).first());
        std::stable_sort(Rows.begin(), Rows.end(), [&](int A, int B) {
            return Descending ? Keys[B] < Keys[A] : Keys[A] < Keys[B];
        });
    }
    From = std::min(From, Rows.size());
    return Rows.mid(From, To < 0 ? -1 : std::min(To, Rows.size()) - From);
}

void MpdList(TMpdResponse &Out, TMpdLibraryPtr Library, const QByteArrayList &Args) {
    QByteArrayList Rest = Args.mid(1);
    const QByteArray Type =
        SameTextAscii(Args.value(0), "file") ? QByteArray("file") : MpdTagSpelling(Args.value(0));
    if (Type.isEmpty())
        MpdFail(TMpdAck::Arg, "Unknown tag type");
    const QByteArrayList Groups = TakeGroups(Rest);
    // The old form: "list album ARTIST".
    if (Rest.size() == 1 && !Rest[0].startsWith('(')) {
        if (Type != "Album")
            MpdFail(TMpdAck::Arg, "should be \"Album\" for 3 arguments");
        Rest.prepend("Artist");
    }
    const TMpdFilter Filter = FilterOf(Rest, TMpdMatch::Exact);
    // Every combination of the groups' values and the type's, once, in byte order.
    QSet<QByteArrayList> Distinct;
    const QByteArrayList Types = Groups + QByteArrayList{Type};
    for (const int Row : Matching(*Library, Filter)) {
        QList<QByteArrayList> Partial{{}};
        for (const QByteArray &Each : Types) {
            QList<QByteArrayList> Longer;
            // A track naming hundreds of artists, grouped by artist twice, stops short.
            for (const QByteArray &Value : ValuesOf(*Library, Row, Each))
                for (const QByteArrayList &Start : Partial)
                    if (Longer.size() < MaxCombinations)
                        Longer.append(Start + QByteArrayList{Value});
            Partial = std::move(Longer);
        }
        for (QByteArrayList &Tuple : Partial)
            Distinct.insert(std::move(Tuple));
    }
    QList<QByteArrayList> Tuples(Distinct.begin(), Distinct.end());
    std::sort(Tuples.begin(), Tuples.end());
    const qsizetype Count = Tuples.size();
    StreamItems(Out, Count, [Tuples = std::move(Tuples), Types](qsizetype I, TMpdResponse &Part) {
        const QByteArrayList &Tuple = Tuples[I];
        // A group's line comes when its value differs from the tuple before.
        qsizetype Same = 0;
        while (I > 0 && Same < Tuple.size() - 1 && Tuples[I - 1][Same] == Tuple[Same])
            ++Same;
        for (qsizetype J = Same; J < Tuple.size(); ++J)
            Part.Add(Types[J], Tuple[J]);
    });
}

void MpdCount(TMpdResponse &Out, const TMpdLibrary &Library, const QByteArrayList &Args,
              TMpdMatch Match) {
    QByteArrayList Rest = Args;
    const QByteArrayList Groups = TakeGroups(Rest);
    if (Groups.size() > 1)
        MpdFail(TMpdAck::Arg, "Too many groups");
    const TMpdFilter Filter = FilterOf(Rest, Match);
    QMap<QByteArray, std::pair<qint64, qint64>> Totals; // songs, milliseconds
    for (const int Row : Matching(Library, Filter)) {
        const QByteArrayList Keys =
            Groups.isEmpty() ? QByteArrayList{QByteArray()} : ValuesOf(Library, Row, Groups[0]);
        for (const QByteArray &Key : Keys) {
            auto &Total = Totals[Key];
            ++Total.first;
            Total.second += Library.Tags(Row).DurationMs;
        }
    }
    if (Groups.isEmpty() && Totals.isEmpty())
        Totals.insert(QByteArray(), {0, 0});
    for (auto It = Totals.cbegin(); It != Totals.cend(); ++It) {
        if (!Groups.isEmpty())
            Out.Add(Groups[0], It.key());
        Out.Add("songs", It->first);
        Out.Add("playtime", (It->second + 500) / 1000);
    }
}
