#include "PlayListPane.h"

#include <QAction>
#include <QDropEvent>
#include <QHeaderView>
#include <QItemSelection>
#include <QKeyEvent>
#include <QMenu>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int FromColumnWidth = 100;
constexpr int ToolBarHeight = 24;

} // namespace

TPlayListView::TPlayListView(QWidget *Parent) : QTableView(Parent) {
    setObjectName(QStringLiteral("FPlayListView"));
    setAccessibleName(QStringLiteral("Play list"));
    horizontalHeader()->hide();
    verticalHeader()->hide();
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    // Rows are dragged within the view only; the drop is handled here, never by the model.
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::CopyAction);
}

void TPlayListView::keyPressEvent(QKeyEvent *Event) {
    if (Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter) {
        Q_EMIT EnterPressed();
        Event->accept();
        return;
    }
    QTableView::keyPressEvent(Event);
}

void TPlayListView::dragEnterEvent(QDragEnterEvent *Event) {
    HandleDrag(Event);
}

void TPlayListView::dragMoveEvent(QDragMoveEvent *Event) {
    HandleDrag(Event);
}

void TPlayListView::dropEvent(QDropEvent *Event) {
    HandleDrag(Event);
}

void TPlayListView::HandleDrag(QDropEvent *Event) {
    if (Event->source() != this) {
        Event->ignore();
        return;
    }
    const int Target = indexAt(Event->position().toPoint()).row();
    // Never a move action: the view would then delete the dragged rows from the model.
    Event->setDropAction(Qt::CopyAction);
    if (Event->type() == QEvent::DragEnter || Target >= 0)
        Event->accept();
    else
        Event->ignore();
    if (Event->type() == QEvent::Drop && Target >= 0)
        Q_EMIT RowsDropped(Target);
}

TPlayListPane::TPlayListPane(TPlayListEditor &Editor, QAbstractItemModel *Model, int NameColumn,
                             int FromColumn, bool Mnemonics, QWidget *Parent)
    : QWidget(Parent), FEditor(Editor), FView(new TPlayListView(this)) {
    FView->setModel(Model);
    QHeaderView *Columns = FView->horizontalHeader();
    Columns->setSectionResizeMode(NameColumn, QHeaderView::Stretch);
    Columns->setSectionResizeMode(FromColumn, QHeaderView::Fixed);
    // "Name" takes whatever "From" leaves, at every size.
    Columns->resizeSection(FromColumn, FromColumnWidth);
    BuildActions(Mnemonics);
    BuildToolBar();

    auto *Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(0);
    Layout->addWidget(FView, 1);
    Layout->addWidget(FToolBar);

    FView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(FView, &QTableView::customContextMenuRequested, this, [this](const QPoint &At) {
        UpdateMenu();
        FMenu->popup(FView->viewport()->mapToGlobal(At));
    });
    const auto Play = [this] { FEditor.PlaySelectedRow(); };
    connect(FView, &QTableView::doubleClicked, this, Play);
    connect(FView, &TPlayListView::EnterPressed, this, Play);
    connect(FView, &TPlayListView::RowsDropped, this,
            [this](int Row) { FEditor.DropSelectionOn(Row); });
    connect(FView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TPlayListPane::UpdateCommandStates);
    for (const auto Signal : {&QAbstractItemModel::rowsRemoved, &QAbstractItemModel::rowsInserted})
        connect(Model, Signal, this, &TPlayListPane::UpdateCommandStates);
    connect(Model, &QAbstractItemModel::modelReset, this, &TPlayListPane::UpdateCommandStates);
    connect(Model, &QAbstractItemModel::layoutChanged, this, &TPlayListPane::UpdateCommandStates);
    UpdateCommandStates();
}

void TPlayListPane::BuildActions(bool Mnemonics) {
    QStyle *Style = style();
    const auto Make = [this](const char *Name, const QString &Caption, auto Slot) {
        auto *Action = new QAction(Caption, this);
        Action->setObjectName(QLatin1String(Name));
        connect(Action, &QAction::triggered, this, Slot);
        return Action;
    };
    const auto Caption = [Mnemonics](const char *Text) {
        QString S = QLatin1String(Text);
        return Mnemonics ? S : S.remove(QLatin1Char('&'));
    };
    FPlayOrPauseAction = Make("FPlayOrPauseAction", Caption("&Play"),
                              [this] { FEditor.PlayOrPauseSelected(FPauseMode); });
    FPlayOrPauseAction->setEnabled(false);
    FRemoveAction =
        Make("FRemoveAction", QStringLiteral("Remove"), [this] { FEditor.RemoveSelected(); });
    FRemoveAction->setIcon(Style->standardIcon(QStyle::SP_TrashIcon));
    FRemoveAction->setShortcut(QKeySequence::Delete);
    FSelectAllAction =
        Make("FSelectAllAction", QStringLiteral("Select All"), &TPlayListPane::SelectAll);
    FSelectAllAction->setShortcut(QKeySequence::SelectAll);
    FMoveDownAction =
        Make("FMoveDownAction", Caption("Move &Down"), [this] { FEditor.MoveSelectionDown(); });
    FMoveDownAction->setIcon(Style->standardIcon(QStyle::SP_ArrowDown));
    FMoveUpAction =
        Make("FMoveUpAction", Caption("Move &Up"), [this] { FEditor.MoveSelectionUp(); });
    FMoveUpAction->setIcon(Style->standardIcon(QStyle::SP_ArrowUp));
    FMoveToNextPlayingAction =
        Make("FMoveToNextPlayingAction", QStringLiteral("Move to next playing"),
             [this] { FEditor.MoveSelectionToNextPlaying(); });
    FAboutAction = Make("FAboutAction", QStringLiteral("About"), &TPlayListPane::AboutRequested);

    // The keys work while the list has the focus, whether or not the menu was ever opened.
    for (QAction *Action : {FRemoveAction, FSelectAllAction}) {
        Action->setShortcutContext(Qt::WidgetShortcut);
        FView->addAction(Action);
    }

    FMenu = new QMenu(this);
    FMenu->setObjectName(QStringLiteral("FPlayListMenu"));
    FMenu->addAction(FPlayOrPauseAction);
    FMenu->addSeparator();
    FMenu->addAction(FRemoveAction);
    FMenu->addAction(FSelectAllAction);
    FMenu->addSeparator();
    FMenu->addAction(FMoveDownAction);
    FMenu->addAction(FMoveUpAction);
    FMenu->addAction(FMoveToNextPlayingAction);
    FMenu->addSeparator();
    FMenu->addAction(FAboutAction);
}

void TPlayListPane::BuildToolBar() {
    FToolBar = new QToolBar(this);
    FToolBar->setObjectName(QStringLiteral("FToolBar"));
    FToolBar->setFixedHeight(ToolBarHeight);
    FToolBar->setIconSize(QSize(16, 16));
    const auto Button = [this](const char *Name, const QString &Caption, const QString &Hint,
                               QAction *Like) {
        auto *B = new QToolButton(FToolBar);
        B->setObjectName(QLatin1String(Name));
        B->setText(Caption);
        B->setToolTip(Hint);
        B->setAccessibleName(Caption);
        B->setAccessibleDescription(Hint);
        B->setIcon(Like->icon());
        B->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        B->setAutoRaise(true);
        connect(B, &QToolButton::clicked, Like, &QAction::trigger);
        return B;
    };
    FRemoveButton = Button("FRemoveButton", QStringLiteral("Remove"),
                           QStringLiteral("Remove from library list"), FRemoveAction);
    FDownButton =
        Button("FDownButton", QStringLiteral("Down"), QStringLiteral("Move down"), FMoveDownAction);
    FUpButton = Button("FUpButton", QStringLiteral("Up"), QStringLiteral("Move up"), FMoveUpAction);
    FToolBar->addWidget(FRemoveButton);
    FToolBar->addSeparator();
    FToolBar->addWidget(FDownButton);
    FToolBar->addWidget(FUpButton);
}

void TPlayListPane::AddMenuGroup(const QList<QAction *> &Actions) {
    FMenu->insertActions(FAboutAction, Actions);
    FMenu->insertSeparator(FAboutAction);
}

QList<int> TPlayListPane::SelectedRows() const {
    QList<int> Rows;
    for (const QModelIndex &Index : FView->selectionModel()->selectedRows())
        Rows.append(Index.row());
    std::sort(Rows.begin(), Rows.end());
    return Rows;
}

void TPlayListPane::SelectRows(const QList<int> &Rows) {
    QItemSelection Selection;
    const QAbstractItemModel *Model = FView->model();
    const int LastColumn = Model->columnCount() - 1;
    for (qsizetype I = 0; I < Rows.size();) {
        qsizetype J = I;
        while (J + 1 < Rows.size() && Rows[J + 1] == Rows[J] + 1)
            ++J;
        Selection.select(Model->index(Rows[I], 0), Model->index(Rows[J], LastColumn));
        I = J + 1;
    }
    QItemSelectionModel *Select = FView->selectionModel();
    Select->select(Selection, QItemSelectionModel::ClearAndSelect);
    if (!Rows.isEmpty())
        Select->setCurrentIndex(Model->index(Rows.first(), 0), QItemSelectionModel::NoUpdate);
}

void TPlayListPane::SelectAll() {
    FView->selectAll();
}

void TPlayListPane::UpdateMenu() {
    Q_EMIT MenuOpening();
    const QList<int> Rows = SelectedRows();
    FPlayOrPauseAction->setEnabled(!Rows.isEmpty());
    if (Rows.isEmpty())
        return;
    FPauseMode = FEditor.PausesRow(Rows.first());
    FPlayOrPauseAction->setText(FPauseMode ? QStringLiteral("Pause") : QStringLiteral("Play"));
}

void TPlayListPane::UpdateCommandStates() {
    const QList<int> Rows = SelectedRows();
    const bool Any = !Rows.isEmpty();
    const bool CanUp = Any && Rows.first() > 0;
    const bool CanDown = Any && Rows.last() < FView->model()->rowCount() - 1;
    for (QAction *Action : {FRemoveAction, FMoveToNextPlayingAction})
        Action->setEnabled(Any);
    FRemoveButton->setEnabled(Any);
    FMoveUpAction->setEnabled(CanUp);
    FUpButton->setEnabled(CanUp);
    FMoveDownAction->setEnabled(CanDown);
    FDownButton->setEnabled(CanDown);
}
