#include "PlayListLook.h"

#include "PlayListModel.h"

#include <QApplication>
#include <QColor>
#include <QStyle>

TPlayListLook::TPlayListLook(TPlayListModel *Rows, QObject *Parent) : QIdentityProxyModel(Parent) {
    setSourceModel(Rows);
}

QVariant TPlayListLook::data(const QModelIndex &Index, int Role) const {
    switch (Role) {
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
