#pragma once

#include <QAbstractTableModel>

#include <memory>
#include <vector>

class TMusicItem;
struct TPlayListRow;
struct TRowMove;

// The play list as the view shows it: one row per music item, in play order, columns "Name"
// and "From", the current track marked with state image 5. Each item's ListItem points at
// its row record, so an item finds its row in O(1) and rows and items cannot drift apart.
class TPlayListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The row's state image number, -1 for none.
    static constexpr int StateImageRole = Qt::UserRole + 1;
    // The row's location (QByteArray).
    static constexpr int LocationRole = Qt::UserRole + 2;
    static constexpr int PlayingStateImage = 5;
    enum TColumn { ColumnName = 0, ColumnFrom = 1, ColumnCount = 2 };

    explicit TPlayListModel(QObject *Parent = nullptr);
    ~TPlayListModel() override;

    int rowCount(const QModelIndex &Parent = {}) const override;
    int columnCount(const QModelIndex &Parent = {}) const override;
    QVariant data(const QModelIndex &Index, int Role = Qt::DisplayRole) const override;
    QVariant headerData(int Section, Qt::Orientation Orientation,
                        int Role = Qt::DisplayRole) const override;
    // Rows can be dragged (within the view only: the view decides where they may land).
    Qt::ItemFlags flags(const QModelIndex &Index) const override;

    int RowCount() const { return int(FRows.size()); }
    // The item shown in Row, or null outside the list.
    TMusicItem *ItemAt(int Row) const;
    // The row showing Item (read from its ListItem), or -1.
    int RowOf(const TMusicItem *Item) const;

    // Appends one row per item, in one insert bracket, and links each item to its row.
    void AppendRows(const std::vector<TMusicItem *> &Items);
    // Takes the rows out (ascending, no duplicates), in one remove bracket per run of
    // neighbouring rows; the items they showed are returned, no longer linked to a row.
    std::vector<TMusicItem *> TakeRows(const QList<int> &Rows);
    // Puts the rows in the order Move gives; the mark stays with its row.
    void ApplyMove(const TRowMove &Move);
    // Replacing every row: BeginReplace() before the old items are destroyed, then
    // FinishReplace() with the new items and the row to mark (-1 for none).
    void BeginReplace();
    void FinishReplace(const std::vector<TMusicItem *> &Items, int MarkedRow);

    // Gives Row the state image and clears it everywhere else; -1 (or outside) clears all.
    void SetMarkedRow(int Row);
    int MarkedRow() const;
    // A number naming Row's track for as long as the row exists, wherever it moves; never
    // reused by this model. 0 outside the list. A replace keeps the marked track's number.
    quint64 RowSerial(int Row) const;

private:
    // Row records for Items after the last row, each item linked to its row.
    void AddRowRecords(const std::vector<TMusicItem *> &Items);
    // Each row record's Index from From on.
    void Renumber(int From);

    std::vector<std::unique_ptr<TPlayListRow>> FRows;
    TPlayListRow *FMarked = nullptr; // at most one row carries the state image
    bool FReplacing = false;
    quint64 FLastSerial = 0;
    quint64 FReplacedMarkSerial = 0; // the marked row's number while a replace runs
};
