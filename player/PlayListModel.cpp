#include "PlayListModel.h"

#include "UClasses.h"

#include <QApplication>
#include <QColor>
#include <QIcon>
#include <QStyle>

struct TPlayListRow {
    TMusicItem *Item = nullptr;
    int Index = 0;
};

TPlayListModel::TPlayListModel(QObject *Parent) : QAbstractTableModel(Parent) {}

TPlayListModel::~TPlayListModel() = default;

int TPlayListModel::rowCount(const QModelIndex &Parent) const {
    return Parent.isValid() ? 0 : RowCount();
}

int TPlayListModel::columnCount(const QModelIndex &Parent) const {
    return Parent.isValid() ? 0 : ColumnCount;
}

QVariant TPlayListModel::data(const QModelIndex &Index, int Role) const {
    if (!Index.isValid() || Index.row() >= RowCount() || FReplacing)
        return {};
    const TPlayListRow &Row = *FRows[size_t(Index.row())];
    const bool Marked = &Row == FMarked;
    switch (Role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return QString::fromUtf8(Index.column() == ColumnName ? Row.Item->Name : Row.Item->Host);
    case StateImageRole:
        return Marked ? PlayingStateImage : -1;
    case Qt::DecorationRole:
        // Icons need a GUI application; a bare model (tests, benchmarks) has none.
        if (Marked && Index.column() == ColumnName && qobject_cast<QApplication *>(qApp))
            return QApplication::style()->standardIcon(QStyle::SP_MediaPlay);
        return {};
    case Qt::BackgroundRole:
        return Index.row() % 2 ? QColor(231, 244, 254) : QColor(249, 248, 247);
    default:
        return {};
    }
}

QVariant TPlayListModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
    if (Orientation == Qt::Horizontal && Role == Qt::DisplayRole)
        return Section == ColumnName ? QStringLiteral("Name") : QStringLiteral("From");
    return QAbstractTableModel::headerData(Section, Orientation, Role);
}

TMusicItem *TPlayListModel::ItemAt(int Row) const {
    return Row >= 0 && Row < RowCount() ? FRows[size_t(Row)]->Item : nullptr;
}

int TPlayListModel::RowOf(const TMusicItem *Item) const {
    if (!Item || !Item->ListItem)
        return -1;
    return Item->ListItem->Index;
}

void TPlayListModel::AddRowRecords(const std::vector<TMusicItem *> &Items) {
    FRows.reserve(FRows.size() + Items.size());
    for (TMusicItem *Item : Items) {
        auto Row = std::make_unique<TPlayListRow>();
        Row->Item = Item;
        Row->Index = RowCount();
        Item->ListItem = Row.get();
        FRows.push_back(std::move(Row));
    }
}

void TPlayListModel::AppendRows(const std::vector<TMusicItem *> &Items) {
    if (Items.empty())
        return;
    const int First = RowCount();
    beginInsertRows({}, First, First + int(Items.size()) - 1);
    AddRowRecords(Items);
    endInsertRows();
}

void TPlayListModel::BeginReplace() {
    beginResetModel();
    FReplacing = true;
    FRows.clear();
    FMarked = nullptr;
}

void TPlayListModel::FinishReplace(const std::vector<TMusicItem *> &Items, int MarkedRow) {
    AddRowRecords(Items);
    FMarked = MarkedRow >= 0 && MarkedRow < RowCount() ? FRows[size_t(MarkedRow)].get() : nullptr;
    FReplacing = false;
    endResetModel();
}

void TPlayListModel::SetMarkedRow(int Row) {
    TPlayListRow *Wanted = Row >= 0 && Row < RowCount() ? FRows[size_t(Row)].get() : nullptr;
    if (Wanted == FMarked)
        return;
    TPlayListRow *Old = FMarked;
    FMarked = Wanted;
    const QList<int> Roles{StateImageRole, Qt::DecorationRole};
    for (TPlayListRow *Changed : {Old, Wanted})
        if (Changed)
            Q_EMIT dataChanged(index(Changed->Index, ColumnName), index(Changed->Index, ColumnName),
                               Roles);
}

int TPlayListModel::MarkedRow() const {
    return FMarked ? FMarked->Index : -1;
}
