#include "RowMove.h"

#include <algorithm>

std::optional<TRowMove> TRowMove::Plan(int Count, const QList<int> &Selected, int Anchor,
                                       TMoveSide Side) {
    if (Anchor < 0 || Anchor >= Count)
        return std::nullopt;
    QList<bool> IsSelected(Count, false);
    bool Any = false;
    for (const int Row : Selected)
        if (Row >= 0 && Row < Count)
            Any = IsSelected[Row] = true;
    if (!Any)
        return std::nullopt;

    QList<int> Moved, Rest;
    int AnchorInRest = 0;
    for (int Row = 0; Row < Count; ++Row) {
        if (Row == Anchor)
            AnchorInRest = int(Rest.size());
        if (IsSelected[Row] && Row != Anchor)
            Moved.append(Row);
        else
            Rest.append(Row);
    }
    const int At = AnchorInRest + (Side == TMoveSide::After ? 1 : 0);

    TRowMove Move;
    Move.Order.reserve(Count);
    Move.Order.append(Rest.mid(0, At));
    Move.Order.append(Moved);
    Move.Order.append(Rest.mid(At));
    for (int I = 0; I < int(Moved.size()); ++I)
        Move.Selection.append(At + I);
    if (IsSelected[Anchor])
        Move.Selection.append(Side == TMoveSide::After ? At - 1 : At + int(Moved.size()));
    std::sort(Move.Selection.begin(), Move.Selection.end());
    return Move;
}

namespace {

// The selected rows inside the list, ascending.
QList<int> Inside(int Count, QList<int> Selected) {
    Selected.removeIf([Count](int Row) { return Row < 0 || Row >= Count; });
    std::sort(Selected.begin(), Selected.end());
    return Selected;
}

} // namespace

std::optional<TRowMove> TRowMove::Down(int Count, const QList<int> &Selected) {
    const QList<int> Rows = Inside(Count, Selected);
    if (Rows.isEmpty())
        return std::nullopt;
    return Plan(Count, Rows, Rows.constLast() + 1, TMoveSide::After);
}

std::optional<TRowMove> TRowMove::Up(int Count, const QList<int> &Selected) {
    const QList<int> Rows = Inside(Count, Selected);
    if (Rows.isEmpty())
        return std::nullopt;
    return Plan(Count, Rows, Rows.constFirst() - 1, TMoveSide::Before);
}

std::optional<TRowMove> TRowMove::AfterCurrent(int Count, const QList<int> &Selected, int Current) {
    return Plan(Count, Selected, Current, TMoveSide::After);
}

std::optional<TRowMove> TRowMove::DropOn(int Count, const QList<int> &Selected, int Target) {
    return Plan(Count, Selected, Target, TMoveSide::Before);
}

int TRowMove::NewIndexOf(int OldIndex) const {
    return int(Order.indexOf(OldIndex));
}
