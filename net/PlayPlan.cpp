#include "PlayPlan.h"

#include "AsciiText.h"
#include "CommandProtocol.h"

#include <QSet>

namespace {

// What the speaker keeps of a list: the first of each location, within the list's bounds.
QByteArrayList Distinct(const QByteArrayList &List) {
    QSet<QByteArray> Seen;
    QByteArrayList Out;
    qint64 Bytes = 0;
    for (const QByteArray &Location : List) {
        const qint64 Line = Location.size() + (Location.startsWith('.') ? 1 : 0);
        if (Line > MaxCommandLineLength || Seen.contains(AsciiLower(Location)))
            continue;
        if (Out.size() >= MaxPlayListRows || Bytes + Line + 2 > MaxPlayListBytes)
            break;
        Bytes += Line + 2;
        Seen.insert(AsciiLower(Location));
        Out.append(Location);
    }
    return Out;
}

} // namespace

bool TPlayPlan::Reached(const QByteArrayList &Reported) const {
    if (Reported.size() < List.size())
        return false;
    for (qsizetype I = 0; I < List.size(); ++I)
        if (!SameTextAscii(Reported[I], List[I]))
            return false;
    return true;
}

TPlayPlan PlanPlay(const QByteArrayList &Current, const QByteArray &Playing,
                   const QByteArrayList &Chosen, TPlayMode Mode) {
    namespace W = CommandWord;
    TPlayPlan Plan;
    const QByteArrayList Tracks = Distinct(Chosen);
    if (Tracks.isEmpty())
        return Plan;
    switch (Mode) {
    case TPlayMode::Add:
        Plan.Steps = {{W::Add, Tracks}};
        return Plan;
    case TPlayMode::PlayNow:
        Plan.List = Tracks;
        Plan.Start = Tracks.first();
        Plan.Steps = {{W::UpdateList, Tracks}, {W::Add, {Plan.Start}}};
        return Plan;
    case TPlayMode::PlayNext:
        break;
    }
    // The current track stays where it is; the chosen ones leave their old places and follow
    // it. With no current track in the list they come first.
    QSet<QByteArray> Moving;
    for (const QByteArray &Location : Tracks)
        if (Playing.isEmpty() || !SameTextAscii(Location, Playing))
            Moving.insert(AsciiLower(Location));
    QByteArrayList List;
    qsizetype At = 0;
    for (const QByteArray &Location : Current) {
        if (Moving.contains(AsciiLower(Location)))
            continue;
        List.append(Location);
        if (!Playing.isEmpty() && Location == Playing)
            At = List.size();
    }
    QByteArrayList Inserted;
    for (const QByteArray &Location : Tracks)
        if (Moving.contains(AsciiLower(Location)))
            Inserted.append(Location);
    if (Inserted.isEmpty())
        return Plan;
    for (qsizetype I = 0; I < Inserted.size(); ++I)
        List.insert(At + I, Inserted[I]);
    Plan.List = Distinct(List);
    Plan.Steps = {{W::UpdateList, Plan.List}};
    return Plan;
}

int NeighbourRow(const QByteArrayList &List, const QByteArray &Playing, int Step) {
    const int Count = int(List.size());
    if (Count == 0)
        return -1;
    const int Row = Playing.isEmpty() ? -1 : int(List.indexOf(Playing));
    if (Row < 0)
        return Step > 0 ? 0 : Count - 1;
    return ((Row + Step) % Count + Count) % Count;
}
