#include "PlayListModel.h"

#include "MusicList.h"
#include "RowMove.h"

#include <algorithm>

struct TPlayListRow {
    TMusicItem *Item = nullptr;
    int Index = 0;
    quint64 Serial = 0;
};

namespace {

// Item views show tool tips as rich text when they look like markup; names and hosts come from
// other computers, so theirs are escaped and kept on one line.
QString PlainToolTip(const QByteArray &Text) {
    return QStringLiteral("<p style='white-space:pre'>%1</p>")
        .arg(QString::fromUtf8(Text).toHtmlEscaped());
}

} // namespace

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
        return QString::fromUtf8(Index.column() == ColumnName ? Row.Item->Name : Row.Item->Host);
    case Qt::ToolTipRole:
        return PlainToolTip(Index.column() == ColumnName ? Row.Item->Name : Row.Item->Host);
    case LocationRole:
        return Row.Item->Location;
    case StateImageRole:
        return Marked ? PlayingStateImage : -1;
    default:
        return {};
    }
}

QVariant TPlayListModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
    if (Orientation == Qt::Horizontal && Role == Qt::DisplayRole)
        return Section == ColumnName ? QStringLiteral("Name") : QStringLiteral("From");
    return QAbstractTableModel::headerData(Section, Orientation, Role);
}

Qt::ItemFlags TPlayListModel::flags(const QModelIndex &Index) const {
    const Qt::ItemFlags Flags = QAbstractTableModel::flags(Index);
    return Index.isValid() ? Flags | Qt::ItemIsDragEnabled : Flags;
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
        Row->Serial = ++FLastSerial;
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

void TPlayListModel::Renumber(int From) {
    for (size_t Row = size_t(std::max(From, 0)); Row < FRows.size(); ++Row)
        FRows[Row]->Index = int(Row);
}

std::vector<TMusicItem *> TPlayListModel::TakeRows(const QList<int> &Rows) {
    std::vector<TMusicItem *> Taken;
    Taken.reserve(size_t(Rows.size()));
    // From the last run to the first, so the rows still to go keep their numbers.
    qsizetype End = Rows.size();
    while (End > 0) {
        qsizetype Begin = End - 1;
        while (Begin > 0 && Rows[Begin - 1] == Rows[Begin] - 1)
            --Begin;
        const int First = Rows[Begin], Last = Rows[End - 1];
        End = Begin;
        if (First < 0 || Last >= RowCount())
            continue;
        beginRemoveRows({}, First, Last);
        for (int Row = First; Row <= Last; ++Row) {
            TPlayListRow *Record = FRows[size_t(Row)].get();
            if (Record == FMarked)
                FMarked = nullptr;
            Record->Item->ListItem = nullptr;
            Taken.push_back(Record->Item);
        }
        FRows.erase(FRows.begin() + First, FRows.begin() + Last + 1);
        Renumber(First);
        endRemoveRows();
    }
    return Taken;
}

void TPlayListModel::ApplyMove(const TRowMove &Move) {
    if (Move.Order.size() != qsizetype(FRows.size()))
        return;
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    QList<TPlayListRow *> Records;
    Records.reserve(qsizetype(FRows.size()));
    for (auto &Row : FRows)
        Records.append(Row.release());
    Records = Move.Apply(Records);
    for (size_t Row = 0; Row < FRows.size(); ++Row)
        FRows[Row].reset(Records[qsizetype(Row)]);
    Renumber(0);
    // Old row -> new row, built once: a selection may hold every row of a long list.
    QList<int> NewRow(Move.Order.size());
    for (qsizetype Row = 0; Row < Move.Order.size(); ++Row)
        NewRow[Move.Order[Row]] = int(Row);
    const QModelIndexList Old = persistentIndexList();
    QModelIndexList New;
    New.reserve(Old.size());
    for (const QModelIndex &Index : Old)
        New.append(index(NewRow.value(Index.row(), -1), Index.column()));
    changePersistentIndexList(Old, New);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TPlayListModel::BeginReplace() {
    beginResetModel();
    FReplacing = true;
    FReplacedMarkSerial = FMarked ? FMarked->Serial : 0;
    FRows.clear();
    FMarked = nullptr;
}

void TPlayListModel::FinishReplace(const std::vector<TMusicItem *> &Items, int MarkedRow) {
    AddRowRecords(Items);
    FMarked = MarkedRow >= 0 && MarkedRow < RowCount() ? FRows[size_t(MarkedRow)].get() : nullptr;
    // The track playing on is the same track, whatever row it got.
    if (FMarked && FReplacedMarkSerial)
        FMarked->Serial = FReplacedMarkSerial;
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

quint64 TPlayListModel::RowSerial(int Row) const {
    return Row >= 0 && Row < RowCount() ? FRows[size_t(Row)]->Serial : 0;
}
