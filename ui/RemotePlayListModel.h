#pragma once

#include <QAbstractTableModel>
#include <QByteArrayList>
#include <QIcon>

#include <functional>

#include <vector>

struct TRowMove;

// A speaker's play list as a remote page shows it: one row per location, columns "Name" (the
// document part) and "From" (the host), the current track marked.
class TRemotePlayListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn { ColumnName = 0, ColumnFrom = 1, ColumnCount = 2 };
    // Whether a row carries the current-track mark (bool).
    static constexpr int MarkedRole = Qt::UserRole + 1;
    // The row's location as the speaker sent it (QByteArray).
    static constexpr int LocationRole = Qt::UserRole + 2;

    explicit TRemotePlayListModel(QObject *Parent = nullptr);

    int rowCount(const QModelIndex &Parent = {}) const override;
    int columnCount(const QModelIndex &Parent = {}) const override;
    QVariant data(const QModelIndex &Index, int Role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &Index) const override;

    struct TCaption {
        QString Name; // last path segment, without query or fragment, not decoded
        QString From; // host, without user, port or brackets
    };
    // The captions of a row; a line that is no URL is its own name.
    static TCaption CaptionOf(const QByteArray &Location);

    // What a row shows for its location before its name (empty: the name); every row is asked
    // again after each call.
    void SetCaptions(std::function<QString(const QByteArray &Location)> CaptionOf);
    // The picture that marks the current track.
    void SetMarkIcon(const QIcon &Icon) { FMarkIcon = Icon; }

    // Replaces every row, unmarked; every location is a row.
    void Rebuild(const QByteArrayList &Locations);
    // Marks exactly the rows whose location equals URL (letter case counts).
    void MarkCurrent(const QByteArray &URL);
    // Puts the rows in the order the move gives.
    void Reorder(const TRowMove &Move);
    // Removes the given rows (any order).
    void RemoveRows(QList<int> Rows);

    // Every row's location, in view order.
    QByteArrayList Locations() const;
    // Row's location; empty outside the list.
    QByteArray Location(int Row) const;
    // Whether Row carries the current-track mark.
    bool IsMarked(int Row) const;
    // The last marked row, or -1.
    int LastMarkedRow() const;

private:
    struct TRow {
        QByteArray Location;
        bool Marked = false;
    };

    std::vector<TRow> FRows;
    QIcon FMarkIcon;
    std::function<QString(const QByteArray &Location)> FCaptionOf;
};
