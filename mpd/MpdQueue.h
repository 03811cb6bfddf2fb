#pragma once

#include <QHash>
#include <QObject>

class TPlayListModel;

// The play list as the protocol's queue: each row's id (the row's serial, kept while the row
// lives), and a version that grows with each change, with the version at which each row last
// changed place or came in, for "plchanges".
class TMpdQueue : public QObject {
    Q_OBJECT
public:
    explicit TMpdQueue(TPlayListModel &Model, QObject *Parent = nullptr);

    quint32 Version();
    // The version at which Row got its place; 0 outside the list.
    quint32 RowVersion(int Row);
    quint64 SongIdAt(int Row) const;
    // The row of Id, or -1.
    int RowOfId(quint64 Id);
    int Count() const;
    TPlayListModel &Model() const { return FModel; }

Q_SIGNALS:
    // The list changed (rows came, went or moved).
    void Changed();

private:
    void MarkChanged();
    // Brings the version and the rows' versions up to date after changes.
    void Refresh();

    struct TRowState {
        int Row = -1;
        quint32 Version = 0;
    };
    TPlayListModel &FModel;
    QHash<quint64, TRowState> FRows; // by id
    quint32 FVersion = 1;
    bool FDirty = true;
};
