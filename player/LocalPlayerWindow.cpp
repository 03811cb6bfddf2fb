#include "LocalPlayerWindow.h"

#include "CommandServer.h"
#include "MediaControlStrip.h"
#include "MediaPlayer.h"
#include "Settings.h"

#include <QAction>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QItemSelection>
#include <QKeyEvent>
#include <QMenu>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int FromColumnWidth = 100;
constexpr int ToolBarHeight = 24;

} // namespace

TLocalPlayerWindow::TLocalPlayerWindow(quint16 Port, std::unique_ptr<TMediaComponent> Media,
                                       QWidget *Parent)
    : QWidget(Parent), FMedia(std::move(Media)) {
    if (!FMedia)
        FMedia = std::make_unique<TMediaPlayer>();
    setWindowTitle(QStringLiteral("My Player"));
    FServer = std::make_unique<TCommandServer>();
    TMessageSink Sink;
    TCommandServer *Server = FServer.get();
    Sink.Broadcast = [Server](const QByteArray &Word, const QByteArray &Payload,
                              const QByteArray &Skip) { Server->Broadcast(Word, Payload, Skip); };
    Sink.SendToConnection = [Server](TConnectionId Id, const QByteArray &Word,
                                     const QByteArray &Payload) {
        Server->SendToConnection(Id, Word, Payload);
    };
    FEngine = std::make_unique<TPlaybackEngine>(FMedia.get(), std::move(Sink));
    connect(FEngine.get(), &TPlaybackEngine::ShowRequested, this,
            &TLocalPlayerWindow::ShowRequested);

    FStrip = new TMediaControlStrip(FMedia.get(), this);
    // A resume goes through the engine, which may lower the volume for a quiet start first.
    FStrip->SetPlayAction([this] { FEngine->ResumePlay(); });
    connect(FEngine.get(), &TPlaybackEngine::VolumeOrMuteChanged, FStrip,
            &TMediaControlStrip::Refresh);
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

    FServer->Listen(Port);
    connect(FServer.get(), &TCommandServer::Connected, FEngine.get(),
            &TPlaybackEngine::OnControllerConnected);
    connect(FServer.get(), &TCommandServer::CommandReceived, FEngine.get(),
            &TPlaybackEngine::ExecuteCommand);

    FPlayTimer = new QTimer(this);
    FPlayTimer->setInterval(200);
    connect(FPlayTimer, &QTimer::timeout, this, &TLocalPlayerWindow::PlayTick);
    FPositionTimer = new QTimer(this);
    FPositionTimer->setInterval(1000);
    connect(FPositionTimer, &QTimer::timeout, FEngine.get(), &TPlaybackEngine::PositionTick);
    connect(FEngine.get(), &TPlaybackEngine::PlayTickWanted, this,
            &TLocalPlayerWindow::WakePlayTimer);
    connect(FStrip, &TMediaControlStrip::ChangedByUser, this, &TLocalPlayerWindow::WakePlayTimer);
    // A volume set from outside (the desktop's media controls) is reported by the next tick.
    connect(FMedia.get(), &TMediaComponent::VolumeChange, this, &TLocalPlayerWindow::WakePlayTimer);
    connect(FMedia.get(), &TMediaComponent::PlayStateChange, this, [this] {
        WakePlayTimer();
        UpdatePositionTimer();
    });
    FPositionIdle.start();
    WakePlayTimer();
    UpdatePositionTimer();
}

void TLocalPlayerWindow::WakePlayTimer() {
    if (!FServicesStopped && !FPlayTimer->isActive())
        FPlayTimer->start();
}

bool TLocalPlayerWindow::IsPlayTickRunning() const {
    return FPlayTimer->isActive();
}

bool TLocalPlayerWindow::IsPositionTickRunning() const {
    return FPositionTimer->isActive();
}

void TLocalPlayerWindow::PlayTick() {
    FEngine->PlayTick();
    if (!FEngine->NeedsPlayTick())
        FPlayTimer->stop();
}

void TLocalPlayerWindow::UpdatePositionTimer() {
    // Position reports need a playing track; the ticks missed meanwhile still count.
    const bool Playing = !FServicesStopped && FMedia->PlayState() == TPlayState::Playing;
    if (Playing && !FPositionTimer->isActive()) {
        FEngine->AddPositionTicks(int(FPositionIdle.elapsed() / 1000));
        FPositionTimer->start();
    } else if (!Playing && FPositionTimer->isActive()) {
        FPositionTimer->stop();
        FPositionIdle.start();
    }
}

void TLocalPlayerWindow::BuildPlayListView() {
    FPlayListView = new QTableView(this);
    FPlayListView->setObjectName(QStringLiteral("FPlayListView"));
    FPlayListView->setAccessibleName(QStringLiteral("Play list"));
    FPlayListView->setModel(FEngine->Model());
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
    TPlayListModel *Model = FEngine->Model();
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
    StopServices();
    FPlayListView->viewport()->removeEventFilter(this);
    FPlayListView->removeEventFilter(this);
    // The view and the strip look at the model and the component: they go first, then the
    // server (it calls into the engine), then the engine, then the component.
    delete FPlayListView;
    FPlayListView = nullptr;
    delete FStrip;
    FStrip = nullptr;
    FServer.reset();
    FEngine.reset();
    FMedia.reset();
}

void TLocalPlayerWindow::StopServices() {
    FServicesStopped = true;
    if (FPlayTimer)
        FPlayTimer->stop();
    if (FPositionTimer)
        FPositionTimer->stop();
    if (FServer)
        FServer->Close();
}

void TLocalPlayerWindow::DisconnectAll() {
    FServer->DisconnectAll();
}

bool TLocalPlayerWindow::IsListening() const {
    return FServer->IsListening();
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
    FEngine->RemoveRows(SelectedRows());
}

void TLocalPlayerWindow::MoveSelectionDown() {
    if (const auto Moved = FEngine->MoveDown(SelectedRows()))
        SelectRows(*Moved);
}

void TLocalPlayerWindow::MoveSelectionUp() {
    if (const auto Moved = FEngine->MoveUp(SelectedRows()))
        SelectRows(*Moved);
}

void TLocalPlayerWindow::MoveSelectionToNextPlaying() {
    if (const auto Moved = FEngine->MoveToNextPlaying(SelectedRows()))
        SelectRows(*Moved);
}

void TLocalPlayerWindow::SelectAll() {
    FPlayListView->selectAll();
}

void TLocalPlayerWindow::PlaySelectedRow() {
    if (const QList<int> Rows = SelectedRows(); !Rows.isEmpty())
        FEngine->PlayRow(Rows.first());
}

void TLocalPlayerWindow::PlayOrPauseSelected() {
    if (const QList<int> Rows = SelectedRows(); !Rows.isEmpty())
        FEngine->PlayOrPause(Rows.first(), FPauseMode);
}

void TLocalPlayerWindow::UpdatePlayListMenu() {
    UpdateAllowAction();
    const QList<int> Rows = SelectedRows();
    FPlayAction->setEnabled(!Rows.isEmpty());
    if (Rows.isEmpty())
        return;
    FPauseMode = FEngine->OffersPause(Rows.first());
    FPlayAction->setText(FPauseMode ? QStringLiteral("Pause") : QStringLiteral("Play"));
}

void TLocalPlayerWindow::UpdateCommandStates() {
    const QList<int> Rows = SelectedRows();
    const bool Any = !Rows.isEmpty();
    const int Count = FEngine->Model()->RowCount();
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
    AllowOthers = !AllowOthers;
    if (!AllowOthers)
        DisconnectAll();
    UpdateAllowAction();
    Q_EMIT AllowOthersChanged(AllowOthers);
}

void TLocalPlayerWindow::UpdateAllowAction() {
    // The picture shows the state the entry switches to.
    FAllowAction->setText(AllowOthers
                              ? QStringLiteral("Disallo&w Other People to Play on My Computer")
                              : QStringLiteral("Allo&w Other People to Play on My Computer"));
    FAllowAction->setIcon(style()->standardIcon(AllowOthers ? QStyle::SP_DialogCancelButton
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
        if (const auto Moved = FEngine->DropOn(SelectedRows(), Target))
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
