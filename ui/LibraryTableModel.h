#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QPointer>

#include <optional>

class TLibraryTags;
class TMusicLibrary;

// The library page's table: chosen library rows (all of them, in library order, unless told
// otherwise) in the columns of TLibraryColumn. A row holds only its
// library row's number, so that a search or a sort over 100000 rows is a list of numbers. The
// texts come from the row's tags, found by its source; a row without tags shows its name, a
// missing file's row is greyed.
class TLibraryTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TLibraryTableModel(const TMusicLibrary &Library, QObject *Parent = nullptr);

    // Where the rows' tags come from; none shows names only.
    void SetTags(const TLibraryTags *Tags);
    // Shows these library rows in this order; none: every row in library order, following
    // the library's own changes.
    void SetRows(std::optional<QList<int>> Rows);
    bool ShowsAll() const { return !FRows; }
    // The library row a row of this model shows.
    int LibraryRow(int Row) const { return FRows ? FRows->value(Row, -1) : Row; }
    // The rows shown, as library rows.
    QList<int> LibraryRows() const;
    // The model index of a library row's first column; invalid when it is not shown.
    QModelIndex IndexOf(int LibraryRow) const;

    int rowCount(const QModelIndex &Parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &Parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &Index, int Role = Qt::DisplayRole) const override;
    QVariant headerData(int Section, Qt::Orientation Orientation,
                        int Role = Qt::DisplayRole) const override;

Q_SIGNALS:
    // The rows' texts changed (tags read): a view repaints the rows it shows. A dataChanged
    // over 100000 rows would cost a tree view a pass over every row.
    void TextsChanged();

private:
    void FollowLibrary();
    // Library rows First..Last went (Removed) or came: the chosen rows are numbered anew.
    void Renumber(int First, int Last, bool Removed);

    const TMusicLibrary &FLibrary;
    QPointer<const TLibraryTags> FTags;
    std::optional<QList<int>> FRows;
};
