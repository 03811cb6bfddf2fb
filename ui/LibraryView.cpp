#include "LibraryView.h"

#include "MusicLibrary.h"

#include <QDrag>
#include <QDropEvent>
#include <QFile>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QTextDocument>
#include <QToolTip>
#include <QUrl>

TLibraryView::TLibraryView(QWidget *Parent) : QTreeView(Parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Fixed row height: layout and scrolling stay instant with 100000 rows.
    setUniformRowHeights(true);
    setAcceptDrops(true);
    setDragEnabled(true);
    setDropIndicatorShown(true);
    setAlternatingRowColors(true);
    QPalette P = palette();
    for (QPalette::ColorRole Role : {QPalette::Highlight, QPalette::HighlightedText})
        P.setColor(QPalette::Inactive, Role, P.color(QPalette::Active, Role));
    // Even rows (from 0) on the base colour, odd rows on the alternate one.
    for (QPalette::ColorGroup Group : {QPalette::Active, QPalette::Inactive}) {
        P.setColor(Group, QPalette::Base, QColor(249, 248, 247));
        P.setColor(Group, QPalette::AlternateBase, QColor(231, 244, 254));
    }
    setPalette(P);
}

void TLibraryView::SetEmptyText(const QString &Text) {
    if (Text == FEmptyText)
        return;
    FEmptyText = Text;
    viewport()->update();
}

void TLibraryView::paintEvent(QPaintEvent *Event) {
    QTreeView::paintEvent(Event);
    if (FEmptyText.isEmpty() || (model() && model()->rowCount() > 0))
        return;
    QPainter Painter(viewport());
    Painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
    // Drawn as plain text: the search's words are the user's.
    Painter.drawText(viewport()->rect().adjusted(8, 8, -8, -8),
                     Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, FEmptyText);
}

namespace {
// The only thing a drag of our own rows carries: the rows are the view's selection.
const QString RowsMime = QStringLiteral("application/x-vellox-library-rows");
} // namespace

void TLibraryView::startDrag(Qt::DropActions) {
    if (!selectionModel() || !selectionModel()->hasSelection())
        return;
    auto *Drag = new QDrag(this);
    auto *Data = new QMimeData;
    Data->setData(RowsMime, QByteArray());
    Drag->setMimeData(Data);
    Drag->exec(Qt::MoveAction);
}

bool TLibraryView::AcceptRowDrop(QDropEvent *Event) const {
    if (Event->source() != this || !Event->mimeData()->hasFormat(RowsMime))
        return false;
    Event->setDropAction(Qt::MoveAction);
    Event->accept();
    return true;
}

void TLibraryView::keyPressEvent(QKeyEvent *Event) {
    if (Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter) {
        Q_EMIT EnterPressed();
        return;
    }
    QTreeView::keyPressEvent(Event);
}

bool TLibraryView::viewportEvent(QEvent *Event) {
    if (Event->type() != QEvent::ToolTip)
        return QTreeView::viewportEvent(Event);
    // Tool tips guess their format: a file name or URL holding markup would be laid out
    // as HTML (and its images loaded) unless escaped.
    const auto *Help = static_cast<QHelpEvent *>(Event);
    const QModelIndex Index = indexAt(Help->pos());
    const QString Tip = Index.data(Qt::ToolTipRole).toString();
    if (Tip.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(Help->globalPos(), Qt::convertFromPlainText(Tip, Qt::WhiteSpacePre),
                           viewport(), visualRect(Index));
    return true;
}

QByteArrayList TLibraryView::DroppedPaths(const QMimeData *Data) {
    QByteArrayList Paths;
    if (!Data || !Data->hasUrls())
        return Paths;
    for (const QUrl &Url : Data->urls())
        if (Url.isLocalFile() && !Url.toLocalFile().isEmpty())
            Paths.append(TMusicLibrary::LocalSource(Url));
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
    if (!AcceptFileDrop(Event) && !AcceptRowDrop(Event))
        Event->ignore();
}

void TLibraryView::dragMoveEvent(QDragMoveEvent *Event) {
    if (!AcceptFileDrop(Event) && !AcceptRowDrop(Event))
        Event->ignore();
}

void TLibraryView::dropEvent(QDropEvent *Event) {
    if (AcceptFileDrop(Event)) {
        Q_EMIT FilesDropped(DroppedPaths(Event->mimeData()));
    } else if (AcceptRowDrop(Event)) {
        // The rows move in the model; the drag itself removes nothing.
        Event->setDropAction(Qt::CopyAction);
        if (const int Row = indexAt(Event->position().toPoint()).row(); Row >= 0)
            Q_EMIT RowsDropped(Row);
    } else {
        Event->ignore();
    }
}
