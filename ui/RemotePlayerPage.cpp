#include "RemotePlayerPage.h"

#include "AsciiText.h"
#include "RemotePlayListModel.h"
#include "Settings.h"

#include <QAction>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QSlider>
#include <QStyle>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int FromColumnWidth = 100;
constexpr int TopStripHeight = 38;
constexpr int VolumeBarWidth = 57;
const QColor TopStripColor(Qt::black);
const QColor TopStripText(0x9c, 0xd3, 0xff);

QToolButton *ImageButton(QWidget *Parent, const char *Name, QStyle::StandardPixmap Image,
                         const QString &Hint) {
    auto *Button = new QToolButton(Parent);
    Button->setObjectName(QLatin1String(Name));
    Button->setIcon(Parent->style()->standardIcon(Image));
    Button->setToolTip(Hint);
    Button->setAccessibleName(Hint);
    Button->setAutoRaise(true);
    return Button;
}

QToolButton *CaptionButton(QWidget *Parent, const char *Name, QStyle::StandardPixmap Image,
                           const QString &Caption, const QString &Hint) {
    auto *Button = ImageButton(Parent, Name, Image, Hint);
    Button->setText(Caption);
    Button->setAccessibleName(Caption);
    Button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    Button->setEnabled(false);
    return Button;
}

QSlider *TrackBar(QWidget *Parent, const char *Name, const QString &Caption) {
    auto *Bar = new QSlider(Qt::Horizontal, Parent);
    Bar->setObjectName(QLatin1String(Name));
    Bar->setRange(0, 100);
    Bar->setAccessibleName(Caption);
    return Bar;
}

} // namespace

TRemotePlayerPage::TRemotePlayerPage(QWidget *Parent)
    : QWidget(Parent), FSession(new TRemoteSession(this)), FModel(new TRemotePlayListModel(this)) {
    setObjectName(QStringLiteral("RemotePlayer"));
    setWindowTitle(QStringLiteral("Remote player"));
    CreateControls();
    CreateActions();

    connect(FSession, &TRemoteSession::Repaint, this, &TRemotePlayerPage::Repaint);
    connect(FSession, &TRemoteSession::ConnectFailed, this,
            [this] { Q_EMIT ConnectFailed(FSession->Host()); });
    connect(FSession, &TRemoteSession::Ended, this, &TRemotePlayerPage::Finished);
}

TRemotePlayerPage::~TRemotePlayerPage() {
    // Nothing the client, the model or the selection still say may reach a page being
    // destroyed (the children go after this body has run).
    FSession->disconnect(this);
    FModel->disconnect(this);
    FPlayListView->selectionModel()->disconnect(this);
    FSession->Close();
}

void TRemotePlayerPage::CreateControls() {
    auto *TopStrip = new QWidget(this);
    TopStrip->setObjectName(QStringLiteral("FTopStrip"));
    TopStrip->setFixedHeight(TopStripHeight);
    TopStrip->setAutoFillBackground(true);
    QPalette Colors = TopStrip->palette();
    Colors.setColor(QPalette::Window, TopStripColor);
    Colors.setColor(QPalette::WindowText, TopStripText);
    TopStrip->setPalette(Colors);
    FInfoLabel = new QLabel(QStringLiteral("   "), TopStrip);
    FInfoLabel->setObjectName(QStringLiteral("FInfoLabel"));
    FTimeLabel = new QLabel(TopStrip);
    FTimeLabel->setObjectName(QStringLiteral("FTimeLabel"));
    FTimeLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // The speaker's words are text, never markup; a screen reader hears the text itself.
    FInfoLabel->setAccessibleDescription(QStringLiteral("Track information"));
    FTimeLabel->setAccessibleDescription(QStringLiteral("Time"));
    FTimeLabel->hide(); // until there is a time to read
    // A skin's label colour would hide the text on the black strip.
    for (QLabel *Label : {FInfoLabel, FTimeLabel}) {
        Label->setTextFormat(Qt::PlainText);
        Label->setStyleSheet(QStringLiteral("color: %1;").arg(TopStripText.name()));
    }
    auto *TopLayout = new QHBoxLayout(TopStrip);
    TopLayout->addWidget(FInfoLabel, 1);
    TopLayout->addWidget(FTimeLabel);

    FPositionBar = TrackBar(this, "FPositionBar", QStringLiteral("Position"));
    FPlayButton = ImageButton(this, "FPlayButton", QStyle::SP_MediaPlay, QStringLiteral("Play"));
    FPauseButton =
        ImageButton(this, "FPauseButton", QStyle::SP_MediaPause, QStringLiteral("Pause"));
    FPauseButton->hide();
    FStopButton = ImageButton(this, "FStopButton", QStyle::SP_MediaStop, QStringLiteral("Stop"));
    FSoundButton =
        ImageButton(this, "FSoundButton", QStyle::SP_MediaVolume, QStringLiteral("Sound on"));
    FMuteButton =
        ImageButton(this, "FMuteButton", QStyle::SP_MediaVolumeMuted, QStringLiteral("Mute"));
    FMuteButton->hide();
    FVolumeBar = TrackBar(this, "FVolumeBar", QStringLiteral("Volume"));
    FVolumeBar->setFixedWidth(VolumeBarWidth);
    FCloseButton = ImageButton(this, "FCloseButton", QStyle::SP_TitleBarCloseButton,
                               QStringLiteral("Disconnect this remote player"));
    auto *Buttons = new QHBoxLayout;
    Buttons->setContentsMargins(2, 0, 2, 0);
    for (QWidget *W : {static_cast<QWidget *>(FPlayButton), static_cast<QWidget *>(FPauseButton),
                       static_cast<QWidget *>(FStopButton), static_cast<QWidget *>(FSoundButton),
                       static_cast<QWidget *>(FMuteButton), static_cast<QWidget *>(FVolumeBar)})
        Buttons->addWidget(W);
    Buttons->addStretch(1);
    Buttons->addWidget(FCloseButton);

    FPlayListView = new QTableView(this);
    FPlayListView->setObjectName(QStringLiteral("FPlayListView"));
    FPlayListView->setAccessibleName(QStringLiteral("Play list"));
    FModel->SetMarkIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    FPlayListView->setModel(FModel);
    FPlayListView->horizontalHeader()->hide();
    FPlayListView->verticalHeader()->hide();
    FPlayListView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    FPlayListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    FPlayListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FPlayListView->setShowGrid(false);
    FPlayListView->setWordWrap(false);
    FPlayListView->setDragEnabled(true);
    FPlayListView->setDragDropMode(QAbstractItemView::DragDrop);
    FPlayListView->setContextMenuPolicy(Qt::CustomContextMenu);
    FPlayListView->verticalHeader()->setDefaultSectionSize(FPlayListView->fontMetrics().height() +
                                                           4);
    QHeaderView *Columns = FPlayListView->horizontalHeader();
    Columns->setSectionResizeMode(TRemotePlayListModel::ColumnName, QHeaderView::Stretch);
    Columns->setSectionResizeMode(TRemotePlayListModel::ColumnFrom, QHeaderView::Fixed);
    Columns->resizeSection(TRemotePlayListModel::ColumnFrom, FromColumnWidth);

    auto *ToolBar = new QToolBar(this);
    ToolBar->setObjectName(QStringLiteral("FToolBar"));
    ToolBar->setIconSize(QSize(16, 16));
    FRemoveButton =
        CaptionButton(this, "FRemoveButton", QStyle::SP_DialogDiscardButton,
                      QStringLiteral("Remove"), QStringLiteral("Remove from library list"));
    FDownButton = CaptionButton(this, "FDownButton", QStyle::SP_ArrowDown, QStringLiteral("Down"),
                                QStringLiteral("Move down"));
    FUpButton = CaptionButton(this, "FUpButton", QStyle::SP_ArrowUp, QStringLiteral("Up"),
                              QStringLiteral("Move up"));
    ToolBar->addWidget(FRemoveButton);
    ToolBar->addSeparator();
    ToolBar->addWidget(FDownButton);
    ToolBar->addWidget(FUpButton);

    auto *Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(0);
    Layout->addWidget(TopStrip);
    Layout->addWidget(FPositionBar);
    Layout->addLayout(Buttons);
    Layout->addWidget(FPlayListView, 1);
    Layout->addWidget(ToolBar);

    connect(FPlayButton, &QToolButton::clicked, this, &TRemotePlayerPage::PlayOrPause);
    connect(FPauseButton, &QToolButton::clicked, this, &TRemotePlayerPage::PlayOrPause);
    connect(FStopButton, &QToolButton::clicked, this, &TRemotePlayerPage::Stop);
    connect(FSoundButton, &QToolButton::clicked, this, &TRemotePlayerPage::ToggleMute);
    connect(FMuteButton, &QToolButton::clicked, this, &TRemotePlayerPage::ToggleMute);
    connect(FCloseButton, &QToolButton::clicked, this, &TRemotePlayerPage::EndConnection);
    connect(FRemoveButton, &QToolButton::clicked, this, &TRemotePlayerPage::RemoveSelected);
    connect(FDownButton, &QToolButton::clicked, this, &TRemotePlayerPage::MoveSelectionDown);
    connect(FUpButton, &QToolButton::clicked, this, &TRemotePlayerPage::MoveSelectionUp);
    for (QSlider *Bar : {FPositionBar, FVolumeBar}) {
        Bar->installEventFilter(this);
        connect(Bar, &QSlider::valueChanged, this,
                [this, Bar](int Value) { FSession->BarMoved(BarOf(Bar), Value); });
    }
    FPlayListView->installEventFilter(this);
    FPlayListView->viewport()->installEventFilter(this);
    connect(FPlayListView, &QTableView::doubleClicked, this, &TRemotePlayerPage::PlaySelectedRow);
    connect(FPlayListView, &QTableView::customContextMenuRequested, this,
            &TRemotePlayerPage::ShowPlayListMenu);
    connect(FPlayListView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TRemotePlayerPage::UpdateCommandStates);
    connect(FModel, &QAbstractItemModel::modelReset, this, &TRemotePlayerPage::UpdateCommandStates);
    connect(FModel, &QAbstractItemModel::rowsRemoved, this,
            &TRemotePlayerPage::UpdateCommandStates);
    connect(FModel, &QAbstractItemModel::layoutChanged, this,
            &TRemotePlayerPage::UpdateCommandStates);
}

void TRemotePlayerPage::CreateActions() {
    FPlayListMenu = new QMenu(this);
    FPlayListMenu->setObjectName(QStringLiteral("FPlayListMenu"));
    const auto Action = [this](const char *Name, const QString &Caption, auto Slot) {
        auto *A = new QAction(Caption, this);
        A->setObjectName(QLatin1String(Name));
        connect(A, &QAction::triggered, this, Slot);
        return A;
    };
    FPlayOrPauseAction = Action("FPlayOrPauseAction", QStringLiteral("Play"),
                                &TRemotePlayerPage::PlayOrPauseSelected);
    FPlayOrPauseAction->setEnabled(false);
    FRemoveAction =
        Action("FRemoveAction", QStringLiteral("Remove"), &TRemotePlayerPage::RemoveSelected);
    FRemoveAction->setShortcut(QKeySequence::Delete);
    FRemoveAction->setEnabled(false);
    FSelectAllAction =
        Action("FSelectAllAction", QStringLiteral("Select All"), &TRemotePlayerPage::SelectAll);
    FSelectAllAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    FMoveDownAction = Action("FMoveDownAction", QStringLiteral("Move Down"),
                             &TRemotePlayerPage::MoveSelectionDown);
    FMoveDownAction->setEnabled(false);
    FMoveUpAction =
        Action("FMoveUpAction", QStringLiteral("Move Up"), &TRemotePlayerPage::MoveSelectionUp);
    FMoveUpAction->setEnabled(false);
    FMoveToNextPlayingAction =
        Action("FMoveToNextPlayingAction", QStringLiteral("Move to next playing"),
               &TRemotePlayerPage::MoveSelectionToNextPlaying);
    FMoveToNextPlayingAction->setEnabled(false);
    FAboutAction =
        Action("FAboutAction", QStringLiteral("About"), &TRemotePlayerPage::AboutRequested);

    FPlayListMenu->addAction(FPlayOrPauseAction);
    FPlayListMenu->addSeparator();
    FPlayListMenu->addAction(FRemoveAction);
    FPlayListMenu->addAction(FSelectAllAction);
    FPlayListMenu->addSeparator();
    FPlayListMenu->addAction(FMoveDownAction);
    FPlayListMenu->addAction(FMoveUpAction);
    FPlayListMenu->addAction(FMoveToNextPlayingAction);
    FPlayListMenu->addSeparator();
    FPlayListMenu->addAction(FAboutAction);
    // The keys work in the list whether or not the menu was ever opened.
    for (QAction *A : {FRemoveAction, FSelectAllAction}) {
        A->setShortcutContext(Qt::WidgetShortcut);
        FPlayListView->addAction(A);
    }
}

void TRemotePlayerPage::ConnectTo(const QString &Host, quint16 Port) {
    FSession->Start(Host, Port);
}

void TRemotePlayerPage::PostCommand(const QByteArray &Command, const QByteArray &Body) {
    FSession->PostCommand(Command, Body);
}

void TRemotePlayerPage::EndConnection() {
    FSession->Close();
}

QByteArrayList TRemotePlayerPage::ShownLocations() const {
    return FModel->Locations();
}

// What the speaker reported, at most once per refresh interval.

void TRemotePlayerPage::Repaint(unsigned Changes) {
    const TRemoteSession &S = *FSession;
    if (Changes & TRemoteSession::ListChanged)
        ShowList();
    else if (Changes & TRemoteSession::MarkChanged)
        FModel->MarkCurrent(S.Mark());
    if (Changes & TRemoteSession::StateChanged) {
        FPlayButton->setVisible(S.State() != TPlayState::Playing);
        FPauseButton->setVisible(S.State() == TPlayState::Playing);
    }
    if (Changes & TRemoteSession::MuteChanged) {
        FMuteButton->setVisible(S.Muted());
        FSoundButton->setVisible(!S.Muted());
    }
    if (Changes & TRemoteSession::VolumeChanged)
        FVolumeBar->setValue(S.BarValue(TTrackBar::Volume));
    if (Changes & TRemoteSession::PositionChanged) {
        FPositionBar->setValue(S.BarValue(TTrackBar::Position));
        FTimeLabel->setText(S.TimeText());
        FTimeLabel->setVisible(!S.TimeText().isEmpty());
        FInfoLabel->setText(S.Information());
    }
}

void TRemotePlayerPage::ShowList() {
    FModel->Rebuild(FSession->List());
    if (!FSession->Mark().isEmpty())
        FModel->MarkCurrent(FSession->Mark());
}

// Transport.

void TRemotePlayerPage::PlayOrPause() {
    FSession->PlayOrPause();
}

void TRemotePlayerPage::Stop() {
    FSession->Stop();
}

void TRemotePlayerPage::ToggleMute() {
    FSession->ToggleMute();
}

TTrackBar TRemotePlayerPage::BarOf(QObject *Bar) const {
    return Bar == FPositionBar ? TTrackBar::Position : TTrackBar::Volume;
}

void TRemotePlayerPage::OnTrackBarReleased(QSlider *Bar) {
    if (FSession->ReleaseBar(BarOf(Bar)) && Bar == FPositionBar)
        FPlayListView->setFocus();
}

bool TRemotePlayerPage::eventFilter(QObject *Watched, QEvent *Event) {
    const QEvent::Type Type = Event->type();
    if (Watched == FPositionBar || Watched == FVolumeBar) {
        if (Type == QEvent::MouseButtonPress)
            FSession->PressBar(BarOf(Watched));
        else if (Type == QEvent::MouseButtonRelease)
            OnTrackBarReleased(static_cast<QSlider *>(Watched));
        return false;
    }
    if (Watched == FPlayListView && Type == QEvent::KeyPress) {
        const int Key = static_cast<QKeyEvent *>(Event)->key();
        if (Key == Qt::Key_Return || Key == Qt::Key_Enter) {
            PlaySelectedRow();
            return true;
        }
        return false;
    }
    if (Watched == FPlayListView->viewport() &&
        (Type == QEvent::DragEnter || Type == QEvent::DragMove || Type == QEvent::Drop)) {
        // Only rows dragged inside this list are taken.
        auto *Drop = static_cast<QDropEvent *>(Event);
        if (Drop->source() != FPlayListView) {
            Drop->ignore();
            return true;
        }
        Drop->acceptProposedAction();
        if (Type == QEvent::Drop)
            DropSelectionOn(FPlayListView->indexAt(Drop->position().toPoint()).row());
        return true;
    }
    return QWidget::eventFilter(Watched, Event);
}

// The list.

QList<int> TRemotePlayerPage::SelectedRows() const {
    QList<int> Rows;
    for (const QModelIndex &Index : FPlayListView->selectionModel()->selectedRows())
        Rows.append(Index.row());
    std::sort(Rows.begin(), Rows.end());
    return Rows;
}

void TRemotePlayerPage::PlaySelectedRow() {
    const QList<int> Rows = SelectedRows();
    if (Rows.isEmpty())
        return;
    FSession->Play(FModel->Location(Rows.first()));
}

void TRemotePlayerPage::UpdatePlayListMenu() {
    const QList<int> Rows = SelectedRows();
    FPlayOrPauseAction->setEnabled(!Rows.isEmpty());
    if (Rows.isEmpty())
        return;
    const bool Pauses = FModel->IsMarked(Rows.first()) && FSession->State() == TPlayState::Playing;
    FPlayOrPauseAction->setText(Pauses ? QStringLiteral("Pause") : QStringLiteral("Play"));
}

void TRemotePlayerPage::ShowPlayListMenu(const QPoint &At) {
    UpdatePlayListMenu();
    FPlayListMenu->popup(FPlayListView->viewport()->mapToGlobal(At));
}

void TRemotePlayerPage::PlayOrPauseSelected() {
    const QList<int> Rows = SelectedRows();
    if (Rows.isEmpty())
        return;
    if (FModel->IsMarked(Rows.first()))
        PlayOrPause();
    else
        PlaySelectedRow();
}

void TRemotePlayerPage::SelectAll() {
    FPlayListView->selectAll();
}

void TRemotePlayerPage::UpdateCommandStates() {
    const QList<int> Rows = SelectedRows();
    const bool Any = !Rows.isEmpty();
    const bool CanUp = Any && Rows.first() != 0;
    const bool CanDown = Any && Rows.last() != FModel->rowCount() - 1;
    FRemoveButton->setEnabled(Any);
    FRemoveAction->setEnabled(Any);
    FMoveToNextPlayingAction->setEnabled(Any);
    FUpButton->setEnabled(CanUp);
    FMoveUpAction->setEnabled(CanUp);
    FDownButton->setEnabled(CanDown);
    FMoveDownAction->setEnabled(CanDown);
}

void TRemotePlayerPage::RemoveSelected() {
    const QList<int> Rows = SelectedRows();
    if (Rows.isEmpty())
        return;
    const TRemoteSession::TListEdit Edit = FSession->Remove(Rows);
    if (Edit.InPlace)
        FModel->RemoveRows(Rows);
    else
        ShowList();
}

void TRemotePlayerPage::MoveSelectionDown() {
    ApplyEdit(FSession->MoveDown(SelectedRows()));
}

void TRemotePlayerPage::MoveSelectionUp() {
    ApplyEdit(FSession->MoveUp(SelectedRows()));
}

void TRemotePlayerPage::MoveSelectionToNextPlaying() {
    ApplyEdit(FSession->MoveToNextPlaying(SelectedRows()));
}

void TRemotePlayerPage::DropSelectionOn(int Row) {
    ApplyEdit(FSession->DropOn(SelectedRows(), Row));
}

void TRemotePlayerPage::ApplyEdit(const TRemoteSession::TListEdit &Edit) {
    if (!Edit.Move)
        return;
    if (Edit.InPlace)
        FModel->Reorder(*Edit.Move);
    else
        ShowList();
    const TRowMove &Move = *Edit.Move;
    QItemSelection Selection;
    const int LastColumn = FModel->columnCount() - 1;
    for (qsizetype I = 0; I < Move.Selection.size();) {
        const int First = Move.Selection[I];
        int Last = First;
        while (++I < Move.Selection.size() && Move.Selection[I] == Last + 1)
            Last = Move.Selection[I];
        Selection.select(FModel->index(First, 0), FModel->index(Last, LastColumn));
    }
    QItemSelectionModel *Selected = FPlayListView->selectionModel();
    Selected->select(Selection, QItemSelectionModel::ClearAndSelect);
    if (!Move.Selection.isEmpty())
        Selected->setCurrentIndex(FModel->index(Move.Selection.first(), 0),
                                  QItemSelectionModel::NoUpdate);
}
