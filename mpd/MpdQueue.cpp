#include "MpdQueue.h"

#include "PlayListModel.h"

TMpdQueue::TMpdQueue(TPlayListModel &Model, QObject *Parent) : QObject(Parent), FModel(Model) {
    for (const auto Signal : {&TPlayListModel::rowsInserted, &TPlayListModel::rowsRemoved})
        connect(&FModel, Signal, this, &TMpdQueue::MarkChanged);
    connect(&FModel, &TPlayListModel::layoutChanged, this, &TMpdQueue::MarkChanged);
    connect(&FModel, &TPlayListModel::modelReset, this, &TMpdQueue::MarkChanged);
    Refresh();
}

void TMpdQueue::MarkChanged() {
    FDirty = true;
    Q_EMIT Changed();
}

void TMpdQueue::Refresh() {
    if (!FDirty)
        return;
    FDirty = false;
    ++FVersion;
    QHash<quint64, TRowState> Rows;
    Rows.reserve(FModel.RowCount());
    for (int Row = 0; Row < FModel.RowCount(); ++Row) {
        const quint64 Id = FModel.RowSerial(Row);
        const TRowState Old = FRows.value(Id);
        Rows.insert(Id, {Row, Old.Row == Row ? Old.Version : FVersion});
    }
    FRows = std::move(Rows);
}

quint32 TMpdQueue::Version() {
    Refresh();
    return FVersion;
}

quint32 TMpdQueue::RowVersion(int Row) {
    Refresh();
    return FRows.value(FModel.RowSerial(Row)).Version;
}

quint64 TMpdQueue::SongIdAt(int Row) const {
    return FModel.RowSerial(Row);
}

int TMpdQueue::RowOfId(quint64 Id) {
    Refresh();
    const auto It = FRows.constFind(Id);
    return It == FRows.cend() ? -1 : It->Row;
}

int TMpdQueue::Count() const {
    return FModel.RowCount();
}
