#include "LibraryView.h"

#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>

TLibraryView::TLibraryView(QWidget *Parent) : QListView(Parent) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Fixed row height: layout and scrolling stay instant with 100000 rows.
    setUniformItemSizes(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    QPalette P = palette();
    for (QPalette::ColorRole Role : {QPalette::Highlight, QPalette::HighlightedText})
        P.setColor(QPalette::Inactive, Role, P.color(QPalette::Active, Role));
    setPalette(P);
}

QByteArrayList TLibraryView::DroppedPaths(const QMimeData *Data) {
    QByteArrayList Paths;
    if (!Data || !Data->hasUrls())
        return Paths;
    for (const QUrl &Url : Data->urls())
        if (Url.isLocalFile() && !Url.toLocalFile().isEmpty())
            Paths.append(QFile::encodeName(Url.toLocalFile()));
    return Paths;
}

bool TLibraryView::IsFileDrop(const QDropEvent *Event) const {
    return Event->source() != this && !DroppedPaths(Event->mimeData()).isEmpty();
}

bool TLibraryView::AcceptFileDrop(QDropEvent *Event) const {
    if (!IsFileDrop(Event))
        return false;
    Event->setDropAction(Qt::CopyAction);
    Event->accept();
    return true;
}

void TLibraryView::dragEnterEvent(QDragEnterEvent *Event) {
    if (!AcceptFileDrop(Event))
        QListView::dragEnterEvent(Event);
}

void TLibraryView::dragMoveEvent(QDragMoveEvent *Event) {
    if (!AcceptFileDrop(Event))
        QListView::dragMoveEvent(Event);
}

void TLibraryView::dropEvent(QDropEvent *Event) {
    if (AcceptFileDrop(Event))
        Q_EMIT FilesDropped(DroppedPaths(Event->mimeData()));
    else
        QListView::dropEvent(Event);
}
