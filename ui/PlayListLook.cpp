#include "PlayListLook.h"

#include "PlayListModel.h"

#include <QApplication>
#include <QColor>
#include <QStyle>

TPlayListLook::TPlayListLook(TPlayListModel *Rows, QObject *Parent) : QIdentityProxyModel(Parent) {
    setSourceModel(Rows);
}

void TPlayListLook::SetCaptions(std::function<QString(const QByteArray &)> CaptionOf) {
    FCaptionOf = std::move(CaptionOf);
    if (rowCount() > 0)
        Q_EMIT dataChanged(index(0, TPlayListModel::ColumnName),
                           index(rowCount() - 1, TPlayListModel::ColumnName));
}

QVariant TPlayListLook::data(const QModelIndex &Index, int Role) const {
    switch (Role) {
    case Qt::DisplayRole:
        if (FCaptionOf && Index.column() == TPlayListModel::ColumnName)
            if (QString Tagged = FCaptionOf(Index.data(TPlayListModel::LocationRole).toByteArray());
                !Tagged.isEmpty())
                return Tagged;
        return QIdentityProxyModel::data(Index, Role);
    case Qt::DecorationRole:
        if (Index.column() == TPlayListModel::ColumnName &&
            Index.data(TPlayListModel::StateImageRole).toInt() == TPlayListModel::PlayingStateImage)
            return QApplication::style()->standardIcon(QStyle::SP_MediaPlay);
        return {};
    case Qt::BackgroundRole:
        return Index.row() % 2 ? QColor(231, 244, 254) : QColor(249, 248, 247);
    default:
        return QIdentityProxyModel::data(Index, Role);
    }
}
