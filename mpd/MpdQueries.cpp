#include "MpdQueries.h"

#include "AsciiText.h"

#include <QMap>

#include <algorithm>

namespace {

// Pieces of Count items, Item(I, Out) appending item I.
TMpdPieces Items(qsizetype Count, std::function<void(qsizetype, QByteArray &)> Item) {
    return [Count, Item = std::move(Item), Next = qsizetype(0)](QByteArray &Out,
                                                                qsizetype Budget) mutable {
        const qsizetype Start = Out.size();
        while (Next < Count && Out.size() - Start < Budget)
            Item(Next++, Out);
        return Next < Count;
    };
}

TMpdPieces Text(QByteArray Lines) {
    return [Lines = std::move(Lines)](QByteArray &Out, qsizetype) {
        Out += Lines;
        return false;
    };
}

// The folder a client names, without the slashes around it ("" and "/" are the top).
QByteArray FolderArg(QByteArray Folder) {
    while (Folder.startsWith('/'))
        Folder.remove(0, 1);
    while (Folder.endsWith('/'))
        Folder.chop(1);
    return Folder;
}

void AppendLine(QByteArray &Out, const QByteArray &Name, const QByteArray &Value) {
    Out += Name + ": " + MpdLineValue(QByteArrayView(Value)) + '\n';
}

// The values a track has for a list or group type: its URI for "file", else the tag's values
// (with MPD's fallback), else one empty value.
QByteArrayList ValuesOf(const TMpdLibrary &Library, int Row, const QByteArray &Type) {
    if (Type == "file")
        return {Library.Uri(Row).toByteArray()};
    QByteArrayList Values;
    if (const auto Tag = MpdTagByName(Type)) {
        const auto Take = [&](QStringView Value) { Values.append(Value.toUtf8()); };
        ForEachTagValue(Library.Tags(Row), *Tag, Take);
        if (Values.isEmpty())
            ForEachTagValue(Library.Tags(Row), MpdFallbackTag(*Tag), Take);
    }
    if (Values.isEmpty())
        Values.append(QByteArray());
    return Values;
}

// Takes trailing "group TYPE" pairs off Args; false, with *Error, for a type MPD lacks.
bool TakeGroups(QByteArrayList &Args, QByteArrayList &Groups, QString *Error) {
    while (Args.size() >= 2 && SameTextAscii(Args[Args.size() - 2], "group")) {
        const QByteArray Type = MpdTagSpelling(Args.back());
        if (Type.isEmpty()) {
            *Error = QStringLiteral("Unknown tag type: ") + QString::fromUtf8(Args.back());
            return false;
        }
        Groups.prepend(Type);
        Args.resize(Args.size() - 2);
    }
    return true;
}

QList<int> Matching(const TMpdLibrary &Library, const TMpdFilter &Filter) {
    QList<int> Rows;
    for (int Row = 0; Row < Library.Count(); ++Row)
        if (Filter.Matches({Library.Uri(Row), &Library.Tags(Row)}))
            Rows.append(Row);
    return Rows;
}

} // namespace

QByteArray MpdWhole(const TMpdPieces &Pieces) {
    QByteArray Out;
    if (Pieces)
        while (Pieces(Out, 1 << 16)) {
        }
    return Out;
}

TMpdPieces MpdSongPieces(TMpdLibraryPtr Library, QList<int> Rows, TMpdTagMask Mask) {
    const qsizetype Count = Rows.size();
    return Items(Count, [Library, Rows = std::move(Rows), Mask](qsizetype I, QByteArray &Out) {
        AppendSongLines(Out, Library->Uri(Rows[I]), Library->Tags(Rows[I]), Mask);
    });
}

TMpdQueryAnswer MpdLsInfo(TMpdLibraryPtr Library, const QByteArray &Folder, TMpdTagMask Mask) {
    const QByteArray Path = FolderArg(Folder);
    if (!Library->IsFolder(Path)) {
        const int Row = Library->RowOf(Path);
        if (Row < 0)
            return TMpdQueryAnswer::Fail(50, QStringLiteral("No such directory"));
        return {MpdSongPieces(Library, {Row}, Mask)};
    }
    QByteArrayList Folders;
    QList<int> Files;
    Library->ListFolder(Path, Folders, Files);
    QByteArray Lines;
    for (const QByteArray &Sub : Folders)
        AppendLine(Lines, "directory", Sub);
    TMpdPieces Songs = MpdSongPieces(Library, std::move(Files), Mask);
    return {[Lines, Songs, Started = false](QByteArray &Out, qsizetype Budget) mutable {
        if (!Started) {
            Out += Lines;
            Started = true;
        }
        return Songs(Out, Budget);
    }};
}

TMpdQueryAnswer MpdListAll(TMpdLibraryPtr Library, const QByteArray &Folder, bool Info,
                           TMpdTagMask Mask) {
    const QByteArray Path = FolderArg(Folder);
    if (!Library->IsFolder(Path)) {
        const int Row = Library->RowOf(Path);
        if (Row < 0)
            return TMpdQueryAnswer::Fail(50, QStringLiteral("No such directory"));
        return {Info ? MpdSongPieces(Library, {Row}, Mask)
                     : Text("file: " + MpdLineValue(Library->Uri(Row)) + '\n')};
    }
    const auto Range = Library->Below(Path);
    const qsizetype Start = Range.first, End = Range.second;
    QList<int> Remote = Path.isEmpty() ? Library->RemoteRows() : QList<int>();
    const qsizetype Count = End - Start + Remote.size();
    // The folders of a file not yet named are named before it, from the one below Path down.
    return {Items(Count, [=, Shown = Path](qsizetype I, QByteArray &Out) mutable {
        const int Row = I < End - Start ? Library->ByUri()[Start + I] : Remote[I - (End - Start)];
        const QByteArrayView Uri = Library->Uri(Row);
        if (I < End - Start) {
            const QByteArrayView Own = Uri.first(std::max<qsizetype>(Uri.lastIndexOf('/'), 0));
            while (!Shown.isEmpty() && Shown != Path &&
                   !(Own.startsWith(Shown) &&
                     (Own.size() == Shown.size() || Own[Shown.size()] == '/')))
                Shown.truncate(std::max<qsizetype>(Shown.lastIndexOf('/'), 0));
            while (Shown.size() < Own.size()) {
                const qsizetype Next = Own.indexOf('/', Shown.size() + (Shown.isEmpty() ? 0 : 1));
                Shown = Own.first(Next < 0 ? Own.size() : Next).toByteArray();
                AppendLine(Out, "directory", Shown);
            }
        }
        if (Info)
            AppendSongLines(Out, Uri, Library->Tags(Row), Mask);
        else
            AppendLine(Out, "file", Uri.toByteArray());
    })};
}

std::optional<QList<int>> MpdFindRows(const TMpdLibrary &Library, const QByteArrayList &Args,
                                      TMpdMatch Match, QString *Error) {
    QByteArrayList Filters = Args;
    QByteArray Sort;
    qsizetype From = 0, To = -1;
    while (Filters.size() >= 2) {
        const QByteArray &Word = Filters[Filters.size() - 2];
        if (SameTextAscii(Word, "sort")) {
            Sort = Filters.back();
        } else if (SameTextAscii(Word, "window")) {
            const QByteArrayList Range = Filters.back().split(':');
            bool Ok = Range.size() == 2;
            From = Ok ? Range[0].toLongLong(&Ok) : 0;
            if (Ok && !Range[1].isEmpty())
                To = Range[1].toLongLong(&Ok);
            if (!Ok || From < 0 || (To >= 0 && To < From)) {
                *Error = QStringLiteral("Bad window");
                return std::nullopt;
            }
        } else {
            break;
        }
        Filters.resize(Filters.size() - 2);
    }
    if (Filters.isEmpty()) {
        *Error = QStringLiteral("Incorrect number of filter arguments");
        return std::nullopt;
    }
    const auto Filter = TMpdFilter::Parse(Filters, Match, Error);
    if (!Filter)
        return std::nullopt;
    QList<int> Rows = Matching(Library, *Filter);
    if (!Sort.isEmpty()) {
        const bool Descending = Sort.startsWith('-');
        const QByteArray Type = MpdTagSpelling(QByteArrayView(Sort).sliced(Descending ? 1 : 0));
        if (Type.isEmpty()) {
            *Error = QStringLiteral("Unknown sort tag");
            return std::nullopt;
        }
        QList<QByteArray> Keys(Library.Count());
        for (const int Row : Rows)
            Keys[Row] = ValuesOf(Library, Row, Type).first();
        std::stable_sort(Rows.begin(), Rows.end(), [&](int A, int B) {
            return Descending ? Keys[B] < Keys[A] : Keys[A] < Keys[B];
        });
    }
    From = std::min(From, Rows.size());
    return Rows.mid(From, To < 0 ? -1 : std::min(To, Rows.size()) - From);
}

TMpdQueryAnswer MpdFind(TMpdLibraryPtr Library, const QByteArrayList &Args, TMpdMatch Match,
                        TMpdTagMask Mask) {
    QString Error;
    auto Rows = MpdFindRows(*Library, Args, Match, &Error);
    if (!Rows)
        return TMpdQueryAnswer::Fail(2, Error);
    return {MpdSongPieces(std::move(Library), std::move(*Rows), Mask)};
}

TMpdQueryAnswer MpdList(TMpdLibraryPtr Library, const QByteArrayList &Args) {
    QByteArrayList Rest = Args.mid(1);
    QByteArrayList Groups;
    QString Error;
    const QByteArray Type =
        Args.isEmpty() ? QByteArray()
                       : (SameTextAscii(Args[0], "file") ? "file" : MpdTagSpelling(Args[0]));
    if (Type.isEmpty())
        return TMpdQueryAnswer::Fail(2, QStringLiteral("Unknown tag type"));
    if (!TakeGroups(Rest, Groups, &Error))
        return TMpdQueryAnswer::Fail(2, Error);
    // The old form: "list album ARTIST".
    if (Rest.size() == 1 && !Rest[0].startsWith('(')) {
        if (Type != "Album")
            return TMpdQueryAnswer::Fail(2, QStringLiteral("should be \"Album\" for 3 arguments"));
        Rest.prepend("Artist");
    }
    const auto Filter = TMpdFilter::Parse(Rest, TMpdMatch::Exact, &Error);
    if (!Filter)
        return TMpdQueryAnswer::Fail(2, Error);
    // Every combination of the groups' values and the type's, once, in byte order.
    QList<QByteArrayList> Tuples;
    const QByteArrayList Types = Groups + QByteArrayList{Type};
    for (const int Row : Matching(*Library, *Filter)) {
        QList<QByteArrayList> Partial{{}};
        for (const QByteArray &Each : Types) {
            QList<QByteArrayList> Longer;
            for (const QByteArray &Value : ValuesOf(*Library, Row, Each))
                for (const QByteArrayList &Start : Partial)
                    Longer.append(Start + QByteArrayList{Value});
            Partial = std::move(Longer);
        }
        Tuples += Partial;
    }
    std::sort(Tuples.begin(), Tuples.end());
    Tuples.erase(std::unique(Tuples.begin(), Tuples.end()), Tuples.end());
    const qsizetype Count = Tuples.size();
    return {Items(Count, [Tuples = std::move(Tuples), Types](qsizetype I, QByteArray &Out) {
        const QByteArrayList &Tuple = Tuples[I];
        // A group's line comes when its value differs from the tuple before.
        qsizetype Same = 0;
        while (I > 0 && Same < Tuple.size() - 1 && Tuples[I - 1][Same] == Tuple[Same])
            ++Same;
        for (qsizetype J = Same; J < Tuple.size(); ++J)
            AppendLine(Out, Types[J], Tuple[J]);
    })};
}

TMpdQueryAnswer MpdCount(TMpdLibraryPtr Library, const QByteArrayList &Args, TMpdMatch Match) {
    QByteArrayList Rest = Args;
    QByteArrayList Groups;
    QString Error;
    if (!TakeGroups(Rest, Groups, &Error) || Groups.size() > 1)
        return TMpdQueryAnswer::Fail(2,
                                     Error.isEmpty() ? QStringLiteral("Too many groups") : Error);
    const auto Filter = TMpdFilter::Parse(Rest, Match, &Error);
    if (!Filter)
        return TMpdQueryAnswer::Fail(2, Error);
    QMap<QByteArray, std::pair<qint64, qint64>> Totals; // songs, milliseconds
    for (const int Row : Matching(*Library, *Filter)) {
        const QByteArrayList Keys =
            Groups.isEmpty() ? QByteArrayList{QByteArray()} : ValuesOf(*Library, Row, Groups[0]);
        for (const QByteArray &Key : Keys) {
            auto &Total = Totals[Key];
            ++Total.first;
            Total.second += Library->Tags(Row).DurationMs;
        }
    }
    if (Groups.isEmpty() && Totals.isEmpty())
        Totals.insert(QByteArray(), {0, 0});
    QByteArray Lines;
    for (auto It = Totals.cbegin(); It != Totals.cend(); ++It) {
        if (!Groups.isEmpty())
            AppendLine(Lines, Groups[0], It.key());
        AppendLine(Lines, "songs", QByteArray::number(It->first));
        AppendLine(Lines, "playtime", QByteArray::number((It->second + 500) / 1000));
    }
    return {Text(Lines)};
}
