#pragma once

#include <QByteArrayList>
#include <QListView>

// The library list: one column of names, several rows selectable, selection drawn
// alike with or without focus; local files dropped from the desktop arrive as
// FilesDropped with their full paths.
class TLibraryView : public QListView {
    Q_OBJECT
public:
    explicit TLibraryView(QWidget *Parent = nullptr);

    // The local file paths a drop carries, in the order the sender lists them.
    static QByteArrayList DroppedPaths(const QMimeData *Data);

Q_SIGNALS:
    void FilesDropped(const QByteArrayList &Paths);

protected:
    void dragEnterEvent(QDragEnterEvent *Event) override;
    void dragMoveEvent(QDragMoveEvent *Event) override;
    void dropEvent(QDropEvent *Event) override;

private:
    bool IsFileDrop(const QDropEvent *Event) const;
    // Takes a drop of files from outside as a copy; false for anything else.
    bool AcceptFileDrop(QDropEvent *Event) const;
};
