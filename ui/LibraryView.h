#pragma once

#include <QByteArrayList>
#include <QTreeView>

// The library list: a flat table, several rows selectable, selection drawn alike with or
// without focus, rows in alternating colours; local files dropped from the desktop arrive as
// FilesDropped with their full paths, the list's own rows dragged onto a row as RowsDropped.
class TLibraryView : public QTreeView {
    Q_OBJECT
public:
    explicit TLibraryView(QWidget *Parent = nullptr);

    // What the list says while it shows no row (an empty search); empty: nothing.
    void SetEmptyText(const QString &Text);

    // The local file paths a drop carries, in the order the sender lists them.
    static QByteArrayList DroppedPaths(const QMimeData *Data);

Q_SIGNALS:
    void FilesDropped(const QByteArrayList &Paths);
    // The list's own selection was dropped on Row.
    void RowsDropped(int Row);
    // Enter or Return while the list has the focus.
    void EnterPressed();

protected:
    void paintEvent(QPaintEvent *Event) override;
    void dragEnterEvent(QDragEnterEvent *Event) override;
    void dragMoveEvent(QDragMoveEvent *Event) override;
    void dropEvent(QDropEvent *Event) override;
    void startDrag(Qt::DropActions Actions) override;
    void keyPressEvent(QKeyEvent *Event) override;
    // A row's tool tip is its location, shown as plain text.
    bool viewportEvent(QEvent *Event) override;

private:
    bool IsFileDrop(const QDropEvent *Event) const;
    // Takes a drop of files from outside as a copy; false for anything else.
    bool AcceptFileDrop(QDropEvent *Event) const;
    // Takes a drag of this list's own rows; false for anything else.
    bool AcceptRowDrop(QDropEvent *Event) const;

    QString FEmptyText;
};
