#include "LocalPlayerWindow.h"

#include "MediaControlStrip.h"
#include "MediaPlayer.h"
#include "PlayListLook.h"
#include "PlaybackEngine.h"
#include "Settings.h"
#include "Speaker.h"

#include <QAction>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QItemSelection>
#include <QKeyEvent>
#include <QMenu>
#include <QStyle>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int FromColumnWidth = 100;
constexpr int ToolBarHeight = 24;

} // namespace

TLocalPlayerWindow::TLocalPlayerWindow(TSpeaker &Speaker, QWidget *Parent)
    : QWidget(Parent), FSpeaker(Speaker) {
    setWindowTitle(QStringLiteral("My Player"));
    TPlaybackEngine *Engine = FSpeaker.Engine();
    FStrip = new TMediaControlStrip(FSpeaker.Media(), this);
    // A resume goes through the engine, which may lower the volume for a quiet start first.
    FStrip->SetPlayAction([Engine] { Engine->ResumePlay(); });
    connect(Engine, &TPlaybackEngine::VolumeOrMuteChanged, FStrip, &TMediaControlStrip::Refresh);
    connect(FStrip, &TMediaControlStrip::ChangedByUser, &FSpeaker, &TSpeaker::WakePlayTimer);
    connect(&FSpeaker, &TSpeaker::AllowOthersChanged, this, &TLocalPlayerWindow::UpdateAllowAction);
    BuildPlayListView();
    BuildActions();
    BuildToolBar();

    auto *Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(0);
    Layout->addWidget(FStrip);
    Layout->addWidget(FPlayListView, 1);
    Layout->addWidget(FToolBar);
    UpdateCommandStates();
}

void TLocalPlayerWindow::BuildPlayListView() {
    FPlayListView = new QTableView(this);
    FPlayListView->setObjectName(QStringLiteral("FPlayListView"));
    FPlayListView->setAccessibleName(QStringLiteral("Play list"));
    FPlayListView->setModel(new TPlayListLook(FSpeaker.Engine()->Model(), FPlayListView));
    FPlayListView->horizontalHeader()->hide();
    FPlayListView->verticalHeader()->hide();
    FPlayListView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    FPlayListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    FPlayListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FPlayListView->setShowGrid(false);
    FPlayListView->setWordWrap(false);
    FPlayListView->verticalHeader()->setDefaultSectionSize(FPlayListView->fontMetrics().height() +
                                                           4);
    QHeaderView *Columns = FPlayListView->horizontalHeader();
    Columns->setSectionResizeMode(TPlayListModel::ColumnName, QHeaderView::Stretch);
    Columns->setSectionResizeMode(TPlayListModel::ColumnFrom, QHeaderView::Fixed);
    // "Name" takes whatever "From" leaves, at every size.
    Columns->resizeSection(TPlayListModel::ColumnFrom, FromColumnWidth);

    // Rows are dragged within the view only; the drop is handled here, never by the model.
    FPlayListView->setDragEnabled(true);
    FPlayListView->setDragDropMode(QAbstractItemView::DragDrop);
    FPlayListView->setDefaultDropAction(Qt::CopyAction);
    FPlayListView->viewport()->installEventFilter(this);
    FPlayListView->installEventFilter(this);
    FPlayListView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(FPlayListView, &QTableView::customContextMenuRequested, this, [this](const QPoint &At) {
        UpdatePlayListMenu();
        FPlayListMenu->popup(FPlayListView->viewport()->mapToGlobal(At));
    });
    connect(FPlayListView, &QTableView::doubleClicked, this, &TLocalPlayerWindow::PlaySelectedRow);

    connect(FPlayListView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TLocalPlayerWindow::UpdateCommandStates);
    TPlayListModel *Model = FSpeaker.Engine()->Model();
    for (const auto Signal : {&QAbstractItemModel::rowsRemoved, &QAbstractItemModel::rowsInserted})
        connect(Model, Signal, this, &TLocalPlayerWindow::UpdateCommandStates);
    connect(Model, &QAbstractItemModel::modelReset, this, &TLocalPlayerWindow::UpdateCommandStates);
    connect(Model, &QAbstractItemModel::layoutChanged, this,
            &TLocalPlayerWindow::UpdateCommandStates);
}

void TLocalPlayerWindow::BuildActions() {
    QStyle *Style = style();
    const auto Make = [this](const QString &Caption, void (TLocalPlayerWindow::*Slot)()) {
        auto *Action = new QAction(Caption, this);
        connect(Action, &QAction::triggered, this, Slot);
        return Action;
    };
    FPlayAction = Make(QStringLiteral("&Play"), &TLocalPlayerWindow::PlayOrPauseSelected);
    FRemoveAction = Make(QStringLiteral("Remove"), &TLocalPlayerWindow::RemoveSelected);
    FRemoveAction->setIcon(Style->standardIcon(QStyle::SP_TrashIcon));
    FRemoveAction->setShortcut(QKeySequence::Delete);
    FSelectAllAction = Make(QStringLiteral("Select All"), &TLocalPlayerWindow::SelectAll);
    FSelectAllAction->setShortcut(QKeySequence::SelectAll);
    FMoveDownAction = Make(QStringLiteral("Move &Down"), &TLocalPlayerWindow::MoveSelectionDown);
    FMoveDownAction->setIcon(Style->standardIcon(QStyle::SP_ArrowDown));
    FMoveUpAction = Make(QStringLiteral("Move &Up"), &TLocalPlayerWindow::MoveSelectionUp);
    FMoveUpAction->setIcon(Style->standardIcon(QStyle::SP_ArrowUp));
    FMoveToNextPlayingAction = Make(QStringLiteral("Move to next playing"),
                                    &TLocalPlayerWindow::MoveSelectionToNextPlaying);
    FAllowAction = Make(QString(), &TLocalPlayerWindow::ToggleAllowOthers);
    FAboutAction = new QAction(QStringLiteral("About"), this);
    connect(FAboutAction, &QAction::triggered, this, &TLocalPlayerWindow::AboutRequested);
    UpdateAllowAction();

    // The keys work while the list has the focus.
    for (QAction *Action : {FRemoveAction, FSelectAllAction}) {
        Action->setShortcutContext(Qt::WidgetShortcut);
        FPlayListView->addAction(Action);
    }

    FPlayListMenu = new QMenu(this);
    FPlayListMenu->addAction(FPlayAction);
    FPlayListMenu->addSeparator();
    FPlayListMenu->addAction(FRemoveAction);
    FPlayListMenu->addAction(FSelectAllAction);
    FPlayListMenu->addSeparator();
    FPlayListMenu->addAction(FMoveDownAction);
    FPlayListMenu->addAction(FMoveUpAction);
    FPlayListMenu->addAction(FMoveToNextPlayingAction);
    FPlayListMenu->addSeparator();
    FPlayListMenu->addAction(FAllowAction);
    FPlayListMenu->addSeparator();
    FPlayListMenu->addAction(FAboutAction);
    FPlayAction->setEnabled(false);
}

void TLocalPlayerWindow::BuildToolBar() {
    FToolBar = new QToolBar(this);
    FToolBar->setFixedHeight(ToolBarHeight);
    FToolBar->setIconSize(QSize(16, 16));
    const auto Button = [this](const QString &Caption, const QString &Hint, const QIcon &Image,
                               void (TLocalPlayerWindow::*Slot)()) {
        auto *B = new QToolButton(FToolBar);
        B->setText(Caption);
        B->setToolTip(Hint);
        B->setAccessibleName(Caption);
        B->setAccessibleDescription(Hint);
        B->setIcon(Image);
        B->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        B->setAutoRaise(true);
        connect(B, &QToolButton::clicked, this, Slot);
        return B;
    };
    FRemoveButton = Button(QStringLiteral("Remove"), QStringLiteral("Remove from library list"),
                           FRemoveAction->icon(), &TLocalPlayerWindow::RemoveSelected);
    FDownButton = Button(QStringLiteral("Down"), QStringLiteral("Move down"),
                         FMoveDownAction->icon(), &TLocalPlayerWindow::MoveSelectionDown);
    FUpButton = Button(QStringLiteral("Up"), QStringLiteral("Move up"), FMoveUpAction->icon(),
                       &TLocalPlayerWindow::MoveSelectionUp);
    FToolBar->addWidget(FRemoveButton);
    FToolBar->addSeparator();
    FToolBar->addWidget(FDownButton);
    FToolBar->addWidget(FUpButton);
}

TLocalPlayerWindow::~TLocalPlayerWindow() {
    FPlayListView->viewport()->removeEventFilter(this);
    FPlayListView->removeEventFilter(this);
}

QList<int> TLocalPlayerWindow::SelectedRows() const {
    QList<int> Rows;
    for (const QModelIndex &Index : FPlayListView->selectionModel()->selectedRows())
        Rows.append(Index.row());
    std::sort(Rows.begin(), Rows.end());
    return Rows;
}

void TLocalPlayerWindow::SelectRows(const QList<int> &Rows) {
    QItemSelection Selection;
    const QAbstractItemModel *Model = FPlayListView->model();
    const int LastColumn = Model->columnCount() - 1;
    for (qsizetype I = 0; I < Rows.size();) {
        qsizetype J = I;
        while (J + 1 < Rows.size() && Rows[J + 1] == Rows[J] + 1)
            ++J;
        Selection.select(Model->index(Rows[I], 0), Model->index(Rows[J], LastColumn));
        I = J + 1;
    }
    QItemSelectionModel *Select = FPlayListView->selectionModel();
    Select->select(Selection, QItemSelectionModel::ClearAndSelect);
    if (!Rows.isEmpty())
        Select->setCurrentIndex(Model->index(Rows.first(), 0), QItemSelectionModel::NoUpdate);
}

void TLocalPlayerWindow::RemoveSelected() {
    FSpeaker.Engine()->RemoveRows(SelectedRows());
}

void TLocalPlayerWindow::MoveSelectionDown() {
    if (const auto Moved = FSpeaker.Engine()->MoveDown(SelectedRows()))
        SelectRows(*Moved);
}

void TLocalPlayerWindow::MoveSelectionUp() {
    if (const auto Moved = FSpeaker.Engine()->MoveUp(SelectedRows()))
        SelectRows(*Moved);
}

void TLocalPlayerWindow::MoveSelectionToNextPlaying() {
    if (const auto Moved = FSpeaker.Engine()->MoveToNextPlaying(SelectedRows()))
        SelectRows(*Moved);
}

void TLocalPlayerWindow::SelectAll() {
    FPlayListView->selectAll();
}

void TLocalPlayerWindow::PlaySelectedRow() {
    if (const QList<int> Rows = SelectedRows(); !Rows.isEmpty())
        FSpeaker.Engine()->PlayRow(Rows.first());
}

void TLocalPlayerWindow::PlayOrPauseSelected() {
    if (const QList<int> Rows = SelectedRows(); !Rows.isEmpty())
        FSpeaker.Engine()->PlayOrPause(Rows.first(), FPauseMode);
}

void TLocalPlayerWindow::UpdatePlayListMenu() {
    UpdateAllowAction();
    const QList<int> Rows = SelectedRows();
    FPlayAction->setEnabled(!Rows.isEmpty());
    if (Rows.isEmpty())
        return;
    FPauseMode = FSpeaker.Engine()->OffersPause(Rows.first());
    FPlayAction->setText(FPauseMode ? QStringLiteral("Pause") : QStringLiteral("Play"));
}

void TLocalPlayerWindow::UpdateCommandStates() {
    const QList<int> Rows = SelectedRows();
    const bool Any = !Rows.isEmpty();
    const int Count = FSpeaker.Engine()->Model()->RowCount();
    const bool CanUp = Any && Rows.first() > 0;
    const bool CanDown = Any && Rows.last() < Count - 1;
    for (QAction *Action : {FRemoveAction, FMoveToNextPlayingAction})
        Action->setEnabled(Any);
    FRemoveButton->setEnabled(Any);
    FMoveUpAction->setEnabled(CanUp);
    FUpButton->setEnabled(CanUp);
    FMoveDownAction->setEnabled(CanDown);
    FDownButton->setEnabled(CanDown);
}

void TLocalPlayerWindow::ToggleAllowOthers() {
    FSpeaker.ToggleAllowOthers();
}

void TLocalPlayerWindow::UpdateAllowAction() {
    // The picture shows the state the entry switches to.
    const bool Allowed = FSpeaker.AllowsOthers();
    FAllowAction->setText(Allowed ? QStringLiteral("Disallo&w Other People to Play on My Computer")
                                  : QStringLiteral("Allo&w Other People to Play on My Computer"));
    FAllowAction->setIcon(style()->standardIcon(Allowed ? QStyle::SP_DialogCancelButton
                                                        : QStyle::SP_DialogApplyButton));
}

bool TLocalPlayerWindow::HandleDragEvent(QEvent *Event) {
    auto *Drag = static_cast<QDropEvent *>(Event);
    if (Drag->source() != FPlayListView) {
        Event->ignore();
        return true;
    }
    const int Target = FPlayListView->indexAt(Drag->position().toPoint()).row();
    if (Event->type() == QEvent::Drop && Target >= 0)
        if (const auto Moved = FSpeaker.Engine()->DropOn(SelectedRows(), Target))
            SelectRows(*Moved);
    // Never a move action: the view would then delete the dragged rows from the model.
    Drag->setDropAction(Qt::CopyAction);
    if (Event->type() == QEvent::DragEnter || Target >= 0)
        Drag->accept();
    else
        Drag->ignore();
    return true;
}

bool TLocalPlayerWindow::eventFilter(QObject *Watched, QEvent *Event) {
    if (Watched == FPlayListView->viewport()) {
        switch (Event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            return HandleDragEvent(Event);
        default:
            break;
        }
    } else if (Watched == FPlayListView && Event->type() == QEvent::KeyPress) {
        const int Key = static_cast<QKeyEvent *>(Event)->key();
        if (Key == Qt::Key_Return || Key == Qt::Key_Enter) {
            PlaySelectedRow();
            return true;
        }
    }
    return QWidget::eventFilter(Watched, Event);
}
