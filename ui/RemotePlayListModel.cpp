#include "RemotePlayListModel.h"

#include "AsciiText.h"
#include "RowMove.h"

#include <QColor>

#include <algorithm>

namespace {

const QColor OddRowColor(231, 244, 254);
const QColor EvenRowColor(249, 248, 247);

} // namespace

TRemotePlayListModel::TCaption TRemotePlayListModel::CaptionOf(const QByteArray &Location) {
    // Cut from the raw text, nothing decoded, no URL parser. A line that is no URL shows as
    // itself.
    const qsizetype Scheme = Location.indexOf("://");
    if (Scheme <= 0)
        return {QString::fromUtf8(Location), {}};
    const qsizetype HostStart = Scheme + 3;
    qsizetype End = Location.size();
    for (const char C : {'?', '#'}) {
        const qsizetype At = Location.indexOf(C, HostStart);
        if (At >= 0 && At < End)
            End = At;
    }
    qsizetype PathStart = Location.indexOf('/', HostStart);
    if (PathStart < 0 || PathStart > End)
        PathStart = End;
    QByteArrayView Host = QByteArrayView(Location).sliced(HostStart, PathStart - HostStart);
    if (const qsizetype At = Host.lastIndexOf('@'); At >= 0)
        Host = Host.sliced(At + 1);
    if (Host.startsWith('[')) {
        const qsizetype Close = Host.indexOf(']');
        Host = Host.sliced(1, (Close < 0 ? Host.size() : Close) - 1);
    } else if (const qsizetype Colon = Host.indexOf(':'); Colon >= 0) {
        Host = Host.first(Colon);
    }
    const QByteArrayView Path = QByteArrayView(Location).sliced(PathStart, End - PathStart);
    return {QString::fromUtf8(Path.sliced(Path.lastIndexOf('/') + 1)),
            QString::fromUtf8(AsciiLower(Host.toByteArray()))};
}

TRemotePlayListModel::TRemotePlayListModel(QObject *Parent) : QAbstractTableModel(Parent) {}

void TRemotePlayListModel::SetCaptions(std::function<QString(const QByteArray &)> CaptionOf) {
    FCaptionOf = std::move(CaptionOf);
    if (rowCount() > 0)
        Q_EMIT dataChanged(index(0, ColumnName), index(rowCount() - 1, ColumnName));
}

int TRemotePlayListModel::rowCount(const QModelIndex &Parent) const {
    return Parent.isValid() ? 0 : int(FRows.size());
}

int TRemotePlayListModel::columnCount(const QModelIndex &Parent) const {
    return Parent.isValid() ? 0 : ColumnCount;
}

QVariant TRemotePlayListModel::data(const QModelIndex &Index, int Role) const {
    if (!Index.isValid() || Index.row() >= rowCount())
        return {};
    const TRow &Row = FRows[size_t(Index.row())];
    switch (Role) {
    case Qt::DisplayRole: {
        // Only rows on screen are asked for: a list of 100000 new rows costs no caption.
        if (FCaptionOf && Index.column() == ColumnName)
            if (QString Tagged = FCaptionOf(Row.Location); !Tagged.isEmpty())
                return Tagged;
        TCaption Caption = CaptionOf(Row.Location);
        return Index.column() == ColumnName ? std::move(Caption.Name) : std::move(Caption.From);
    }
    case Qt::DecorationRole:
        if (Index.column() == ColumnName && Row.Marked)
            return FMarkIcon;
        return {};
    case Qt::BackgroundRole:
        return Index.row() % 2 ? OddRowColor : EvenRowColor;
    case MarkedRole:
        return Row.Marked;
    case LocationRole:
        return Row.Location;
    default:
        return {};
    }
}

Qt::ItemFlags TRemotePlayListModel::flags(const QModelIndex &Index) const {
    if (!Index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

void TRemotePlayListModel::Rebuild(const QByteArrayList &Locations) {
    std::vector<TRow> Rows;
    Rows.reserve(size_t(Locations.size()));
    for (const QByteArray &Location : Locations)
        Rows.push_back({Location, false});
    beginResetModel();
    FRows.swap(Rows);
    endResetModel();
}

void TRemotePlayListModel::MarkCurrent(const QByteArray &URL) {
    int First = -1, Last = -1;
    for (int I = 0; I < rowCount(); ++I) {
        TRow &Row = FRows[size_t(I)];
        const bool Marked = Row.Location == URL;
        if (Row.Marked == Marked)
            continue;
        Row.Marked = Marked;
        if (First < 0)
            First = I;
        Last = I;
    }
    if (First >= 0)
        Q_EMIT dataChanged(index(First, ColumnName), index(Last, ColumnName),
                           {Qt::DecorationRole, MarkedRole});
}

void TRemotePlayListModel::Reorder(const TRowMove &Move) {
    if (Move.Order.size() != rowCount())
        return;
    Q_EMIT layoutAboutToBeChanged();
    std::vector<int> NewIndex(FRows.size());
    for (int I = 0; I < int(Move.Order.size()); ++I)
        NewIndex[size_t(Move.Order[I])] = I;
    const QModelIndexList Before = persistentIndexList();
    QModelIndexList After;
    After.reserve(Before.size());
    for (const QModelIndex &Old : Before)
        After.append(index(NewIndex[size_t(Old.row())], Old.column()));
    FRows = Move.Apply(FRows);
    changePersistentIndexList(Before, After);
    Q_EMIT layoutChanged();
}

void TRemotePlayListModel::RemoveRows(QList<int> Rows) {
    std::sort(Rows.begin(), Rows.end(), std::greater<int>());
    Rows.erase(std::unique(Rows.begin(), Rows.end()), Rows.end());
    // From the bottom up, one bracket per run of neighbouring rows.
    for (qsizetype I = 0; I < Rows.size();) {
        const int Last = Rows[I];
        int First = Last;
        while (++I < Rows.size() && Rows[I] == First - 1)
            First = Rows[I];
        if (First < 0 || Last >= rowCount())
            continue;
        beginRemoveRows({}, First, Last);
        FRows.erase(FRows.begin() + First, FRows.begin() + Last + 1);
        endRemoveRows();
    }
}

QByteArrayList TRemotePlayListModel::Locations() const {
    QByteArrayList Out;
    Out.reserve(qsizetype(FRows.size()));
    for (const TRow &Row : FRows)
        Out.append(Row.Location);
    return Out;
}

QByteArray TRemotePlayListModel::Location(int Row) const {
    return Row >= 0 && Row < rowCount() ? FRows[size_t(Row)].Location : QByteArray();
}

bool TRemotePlayListModel::IsMarked(int Row) const {
    return Row >= 0 && Row < rowCount() && FRows[size_t(Row)].Marked;
}

int TRemotePlayListModel::LastMarkedRow() const {
    for (int I = rowCount() - 1; I >= 0; --I)
        if (FRows[size_t(I)].Marked)
            return I;
    return -1;
}
