#pragma once

#include <QIdentityProxyModel>

#include <functional>

class TPlayListModel;

// How a view draws the speaker's play list: the play picture on the current row's name and the
// alternating row colours. The rows themselves are the model's, unchanged.
class TPlayListLook : public QIdentityProxyModel {
    Q_OBJECT
public:
    explicit TPlayListLook(TPlayListModel *Rows, QObject *Parent = nullptr);

    // What a row's name shows for its location (empty: the name); every row is asked again.
    void SetCaptions(std::function<QString(const QByteArray &Location)> CaptionOf);

    QVariant data(const QModelIndex &Index, int Role = Qt::DisplayRole) const override;

private:
    std::function<QString(const QByteArray &Location)> FCaptionOf;
};
