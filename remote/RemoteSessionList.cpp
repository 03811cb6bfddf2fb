// The play list's side of TRemoteSession: the user's edits, planned on the newest list
// received, and the plays planned on the speaker's list.
#include "RemoteSession.h"

#include "AsciiText.h"

#include <QHash>

#include <algorithm>
#include <utility>

namespace W = CommandWord;

void TRemoteSession::PlayTracks(const QByteArrayList &URLs, TPlayMode Mode) {
    if (Mode != TPlayMode::Add && !FListKnown) {
        if (FWaitingPlays.isEmpty())
            PostCommand(W::Get, {});
        FWaitingPlays.append({URLs, Mode});
        return;
    }
    RunPlan(URLs, Mode);
}

void TRemoteSession::RunPlan(const QByteArrayList &URLs, TPlayMode Mode) {
    const TPlayPlan Plan = PlanPlay(FNewest, NewestMark(), URLs, Mode);
    for (const TPlanStep &Step : Plan.Steps) {
        if (Step.Word == W::UpdateList)
            Edited(Step.Lines); // shown at once, as the user's own edits are
        else
            PostCommand(Step.Word, JoinLines(Step.Lines));
    }
    FStartPlan = Plan;
}

// Edits.

QList<int> TRemoteSession::NewestRows(const QList<int> &Rows) const {
    if (!FListPending)
        return Rows;
    // Which occurrence of its location each row is, then where that occurrence stands now.
    QHash<QByteArray, QList<int>> Wanted; // location -> occurrences asked for
    QHash<QByteArray, int> Seen;
    for (const int Row : Rows)
        if (Row >= 0 && Row < FShown.size())
            Wanted[FShown[Row]];
    QList<std::pair<QByteArray, int>> Asked; // per row: location and occurrence
    for (int Row = 0, Next = 0; Row < FShown.size() && Next < Rows.size(); ++Row) {
        if (!Wanted.contains(FShown[Row]))
            continue;
        const int Occurrence = Seen[FShown[Row]]++;
        while (Next < Rows.size() && Rows[Next] < Row)
            ++Next;
        if (Next < Rows.size() && Rows[Next] == Row) {
            Asked.append({FShown[Row], Occurrence});
            ++Next;
        }
    }
    QHash<QByteArray, QList<int>> At; // location -> rows in the newest list
    for (int Row = 0; Row < FNewest.size(); ++Row)
        if (const auto It = Wanted.constFind(FNewest[Row]); It != Wanted.cend())
            At[FNewest[Row]].append(Row);
    QList<int> Out;
    for (const auto &[Location, Occurrence] : Asked) {
        const QList<int> Found = At.value(Location);
        if (Occurrence < Found.size())
            Out.append(Found[Occurrence]);
    }
    std::sort(Out.begin(), Out.end());
    return Out;
}

TRemoteSession::TListEdit TRemoteSession::Remove(const QList<int> &Rows) {
    QList<int> Sorted = Rows;
    std::sort(Sorted.begin(), Sorted.end());
    const QList<int> Gone = NewestRows(Sorted);
    if (Sorted.isEmpty())
        return {};
    TListEdit Edit;
    Edit.InPlace = !FListPending;
    QByteArrayList Kept;
    TRowMove Keep;
    Kept.reserve(FNewest.size());
    for (int Row = 0, Next = 0; Row < FNewest.size(); ++Row) {
        if (Next < Gone.size() && Gone[Next] == Row) {
            ++Next;
            continue;
        }
        Kept.append(FNewest[Row]);
        Keep.Order.append(Row);
    }
    Edit.Move = std::move(Keep);
    Edited(std::move(Kept));
    return Edit;
}

TRemoteSession::TListEdit TRemoteSession::MoveDown(const QList<int> &Rows) {
    return Move(TMoveKind::Down, Rows, -1);
}

TRemoteSession::TListEdit TRemoteSession::MoveUp(const QList<int> &Rows) {
    return Move(TMoveKind::Up, Rows, -1);
}

TRemoteSession::TListEdit TRemoteSession::MoveToNextPlaying(const QList<int> &Rows) {
    return Move(TMoveKind::NextPlaying, Rows, -1);
}

TRemoteSession::TListEdit TRemoteSession::DropOn(const QList<int> &Rows, int Target) {
    return Move(TMoveKind::Drop, Rows, Target);
}

TRemoteSession::TListEdit TRemoteSession::Move(TMoveKind Kind, const QList<int> &Rows, int Target) {
    QList<int> Sorted = Rows;
    std::sort(Sorted.begin(), Sorted.end());
    const QList<int> Selected = NewestRows(Sorted);
    const int Count = int(FNewest.size());
    TListEdit Edit;
    Edit.InPlace = !FListPending;
    switch (Kind) {
    case TMoveKind::Down:
        Edit.Move = TRowMove::Down(Count, Selected);
        break;
    case TMoveKind::Up:
        Edit.Move = TRowMove::Up(Count, Selected);
        break;
    case TMoveKind::NextPlaying: {
        const QByteArray Current = NewestMark();
        int Last = -1;
        for (int Row = Count - 1; Row >= 0 && !Current.isEmpty(); --Row)
            if (FNewest[Row] == Current) {
                Last = Row;
                break;
            }
        Edit.Move = TRowMove::AfterCurrent(Count, Selected, Last);
        break;
    }
    case TMoveKind::Drop: {
        const QList<int> At = Target < 0 ? QList<int>{} : NewestRows({Target});
        Edit.Move = TRowMove::DropOn(Count, Selected, At.isEmpty() ? -1 : At.first());
        break;
    }
    }
    if (Edit.Move)
        Edited(Edit.Move->Apply(FNewest));
    return Edit;
}

void TRemoteSession::Edited(QByteArrayList List) {
    // A list still waiting is what the edit was applied to: the view shows the result now,
    // marked as the newest URL says. The speaker does not send our own change back.
    if (FListPending) {
        FMark = NewestMark();
        FUrlPending = false;
        FPendingUrl.clear();
        FListPending = false;
    }
    FNewest = std::move(List);
    FShown = FNewest;
    FShownBytes = FNewestBytes = ListBytes(FNewest);
    PostCommand(W::UpdateList, JoinLines(FShown));
}
