#pragma once

#include <QList>

#include <optional>

// Which side of the anchor row the moved rows land on.
enum class TMoveSide { Before, After };

// One reordering of a list: every selected row is taken out and put back as one block next to
// an anchor row, keeping the order the rows had. Any list applies it with Apply(); the moved
// rows are the selection afterwards. The library page and both play lists use it.
struct TRowMove {
    // Order[i] is the old index of the row that stands at i afterwards.
    QList<int> Order;
    // The new indices of the rows that were selected, ascending.
    QList<int> Selection;

    // Selected (old indices, any order) next to Anchor on Side, in a list of Count rows. None
    // when Anchor lies outside the list or nothing inside it is selected. A selected anchor
    // stays where it is and the other selected rows gather round it, so no row is lost.
    static std::optional<TRowMove> Plan(int Count, const QList<int> &Selected, int Anchor,
                                        TMoveSide Side);

    // Move Down: after the row that follows the last selected row.
    static std::optional<TRowMove> Down(int Count, const QList<int> &Selected);
    // Move Up: before the row that precedes the first selected row.
    static std::optional<TRowMove> Up(int Count, const QList<int> &Selected);
    // Move to next playing: right after the current row (-1: none).
    static std::optional<TRowMove> AfterCurrent(int Count, const QList<int> &Selected, int Current);
    // Drop: right before the row under the drop point (-1: none).
    static std::optional<TRowMove> DropOn(int Count, const QList<int> &Selected, int Target);

    // The new index of the row that stood at OldIndex; -1 for a row outside the list.
    int NewIndexOf(int OldIndex) const;

    // Rows rearranged in the new order; Rows must hold the Count rows the move was made for.
    template <class TList> TList Apply(const TList &Rows) const {
        TList Out;
        Out.reserve(Order.size());
        for (const int From : Order)
            Out.push_back(Rows[From]);
        return Out;
    }
};
