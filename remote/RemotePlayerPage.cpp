#include "RemotePlayerPage.h"

#include "CommandClient.h"
#include "RemotePlayListModel.h"
#include "RowMove.h"
#include "Utils.h"

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
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr int RefreshIntervalMs = 500;
// The first refresh after a quiet spell runs once the replies already read are handled: a
// speaker writes "URL" right behind "LIST", so one refresh shows both.
constexpr int FirstRefreshMs = 0;
constexpr int FromColumnWidth = 100;
constexpr int TopStripHeight = 38;
constexpr int VolumeBarWidth = 57;
const QColor TopStripColor(Qt::black);
const QColor TopStripText(0x9c, 0xd3, 0xff);

// The seconds of a position report: decimal digits with "." as the speaker writes them.
std::optional<double> ParseSeconds(const QByteArray &Text) {
    qsizetype I = Text.startsWith('-') ? 1 : 0;
    const qsizetype Start = I;
    while (I < Text.size() && Text[I] >= '0' && Text[I] <= '9')
        ++I;
    if (I == Start)
        return std::nullopt;
    if (I < Text.size() && Text[I] == '.') {
        ++I;
        while (I < Text.size() && Text[I] >= '0' && Text[I] <= '9')
            ++I;
    }
    if (I != Text.size())
        return std::nullopt;
    return Text.toDouble();
}

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
    : TRemotePlayer(Parent), FClient(new TCommandClient(this)),
      FModel(new TRemotePlayListModel(this)), FRefreshTimer(new QTimer(this)) {
    setObjectName(QStringLiteral("RemotePlayer"));
    setWindowTitle(QStringLiteral("Remote player"));
    CreateControls();
    CreateActions();

    connect(FClient, &TCommandClient::ListReceived, this, &TRemotePlayerPage::OnListReceived);
    connect(FClient, &TCommandClient::URLReceived, this, &TRemotePlayerPage::OnURLReceived);
    connect(FClient, &TCommandClient::StateReceived, this, &TRemotePlayerPage::OnStateReceived);
    connect(FClient, &TCommandClient::MuteReceived, this, &TRemotePlayerPage::OnMuteReceived);
    connect(FClient, &TCommandClient::VolumeReceived, this, &TRemotePlayerPage::OnVolumeReceived);
    connect(FClient, &TCommandClient::PositionReceived, this,
            &TRemotePlayerPage::OnPositionReceived);
    connect(FClient, &TCommandClient::ConnectFailed, this, [this] { Q_EMIT ConnectFailed(FHost); });
    connect(FClient, &TCommandClient::Ended, this, &TRemotePlayerPage::OnClientEnded);

    FRefreshTimer->setObjectName(QStringLiteral("RefreshTick"));
    connect(FRefreshTimer, &QTimer::timeout, this, &TRemotePlayerPage::RefreshTick);
}

TRemotePlayerPage::~TRemotePlayerPage() {
    // Nothing the client, the model or the selection still say may reach a page being
    // destroyed (the children go after this body has run).
    FClient->disconnect(this);
    FModel->disconnect(this);
    FPlayListView->selectionModel()->disconnect(this);
    FClient->Close();
    if (FStarted && !FEnded)
        RemotePlayers().Remove(this);
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
    FInfoLabel->setAccessibleName(QStringLiteral("Track information"));
    FTimeLabel->setAccessibleName(QStringLiteral("Time"));
    // A skin's label colour would hide the text on the black strip.
    for (QLabel *Label : {FInfoLabel, FTimeLabel})
        Label->setStyleSheet(QStringLiteral("color: %1;").arg(TopStripText.name()));
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
        connect(Bar, &QSlider::valueChanged, this, &TRemotePlayerPage::OnTrackBarChanged);
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

void TRemotePlayerPage::ConnectTo(const QString &Host) {
    ConnectTo(Host, quint16(CommandPort));
}

void TRemotePlayerPage::ConnectTo(const QString &Host, quint16 Port) {
    if (FStarted || FEnded)
        return;
    FStarted = true;
    FHost = Host;
    FHostAddr = IPv4Value(Host);
    RemotePlayers().Add(this);
    FClient->Start(Host, Port);
}

void TRemotePlayerPage::PostCommand(const QByteArray &Command, const QByteArray &Body) {
    if (!FEnded)
        FClient->PostCommand(Command, Body);
}

void TRemotePlayerPage::EndConnection() {
    FClient->Close();
}

void TRemotePlayerPage::OnClientEnded() {
    if (FEnded)
        return;
    FEnded = true;
    FRefreshTimer->stop();
    if (FStarted)
        RemotePlayers().Remove(this);
    Q_EMIT Finished();
}

QByteArrayList TRemotePlayerPage::ShownLocations() const {
    return FModel->Locations();
}

// Replies from the speaker.

void TRemotePlayerPage::OnListReceived(const QByteArrayList &Lines) {
    FPlayList = Lines;
    FListChanged = true;
    ScheduleRefresh();
}

void TRemotePlayerPage::OnURLReceived(const QByteArray &URL) {
    FCurrentUrl = PercentDecode(URL);
    if (!FCurrentUrl.isEmpty())
        ScheduleRefresh();
}

void TRemotePlayerPage::OnStateReceived(qint32 State) {
    FState = State;
    FPlayButton->setVisible(State != StatePlaying);
    FPauseButton->setVisible(State == StatePlaying);
}

void TRemotePlayerPage::OnMuteReceived(qint32 Mute) {
    FMuted = Mute != 0;
    FMuteButton->setVisible(FMuted);
    FSoundButton->setVisible(!FMuted);
}

void TRemotePlayerPage::OnVolumeReceived(qint32 Volume) {
    FVolumeBar->setValue(Volume);
}

void TRemotePlayerPage::OnPositionReceived(const QByteArrayList &Lines) {
    if (Lines.size() < 2)
        return;
    const std::optional<double> Duration = ParseSeconds(Lines[0]);
    const std::optional<double> Position = ParseSeconds(Lines[1]);
    if (!Duration || !Position || *Duration == 0)
        return;
    // Halves go to the even neighbour; out-of-range values stop at the bar's ends.
    const double Percent = std::clamp(*Position / *Duration * 100, 0.0, 100.0);
    FPositionBar->setValue(int(std::nearbyint(Percent)));
    if (Lines.size() >= 3)
        FTimeLabel->setText(QString::fromUtf8(Lines[2]));
    if (Lines.size() >= 4)
        FInfoLabel->setText(QString::fromUtf8(Lines[3]));
}

// The view follows the replies at most once per interval, from the last list received. The
// timer runs only while replies keep coming, so an idle page costs nothing.

void TRemotePlayerPage::ScheduleRefresh() {
    if (!FRefreshTimer->isActive() && !FEnded)
        FRefreshTimer->start(FirstRefreshMs);
}

void TRemotePlayerPage::RefreshTick() {
    bool Worked = false;
    if (FListChanged) {
        FListChanged = false;
        RebuildList();
        Worked = true;
    }
    if (!FCurrentUrl.isEmpty()) {
        MarkCurrent(FCurrentUrl);
        FCurrentUrl.clear();
        Worked = true;
    }
    if (Worked)
        FRefreshTimer->start(RefreshIntervalMs);
    else
        FRefreshTimer->stop();
}

void TRemotePlayerPage::RebuildList() {
    FModel->Rebuild(FPlayList);
}

void TRemotePlayerPage::MarkCurrent(const QByteArray &URL) {
    FModel->MarkCurrent(URL);
}

// Transport.

void TRemotePlayerPage::PlayOrPause() {
    PostCommand("STATE", FState == StatePlaying ? "2" : "3");
}

void TRemotePlayerPage::Stop() {
    PostCommand("STATE", "1");
}

void TRemotePlayerPage::ToggleMute() {
    PostCommand("MUTE", FMuted ? "0" : "-1");
}

// A press on a bar arms it; a change while armed (the user's or a report's) makes the next
// release on a bar send that bar's value.

void TRemotePlayerPage::OnTrackBarChanged() {
    if (FTrackPressed)
        FTrackChanged = true;
}

void TRemotePlayerPage::OnTrackBarReleased(QSlider *Bar) {
    if (!FTrackPressed || !FTrackChanged)
        return;
    FTrackPressed = false;
    FTrackChanged = false;
    if (Bar == FPositionBar) {
        PostCommand("UPDATEPOSITION", QByteArray::number(Bar->value()));
        FPlayListView->setFocus();
    } else {
        PostCommand("VOLUMN", QByteArray::number(Bar->value()));
    }
}

bool TRemotePlayerPage::eventFilter(QObject *Watched, QEvent *Event) {
    const QEvent::Type Type = Event->type();
    if (Watched == FPositionBar || Watched == FVolumeBar) {
        if (Type == QEvent::MouseButtonPress)
            FTrackPressed = true;
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
    return TRemotePlayer::eventFilter(Watched, Event);
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
    const QByteArray Location = FModel->Location(Rows.first());
    if (!Location.isEmpty())
        PostCommand("URL", Location);
}

void TRemotePlayerPage::UpdatePlayListMenu() {
    const QList<int> Rows = SelectedRows();
    FPlayOrPauseAction->setEnabled(!Rows.isEmpty());
    if (Rows.isEmpty())
        return;
    const bool Pauses = FModel->IsMarked(Rows.first()) && FState == StatePlaying;
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
    FModel->RemoveRows(Rows);
    ListEdited();
}

void TRemotePlayerPage::MoveSelectionDown() {
    ApplyMove(TRowMove::Down(FModel->rowCount(), SelectedRows()));
}

void TRemotePlayerPage::MoveSelectionUp() {
    ApplyMove(TRowMove::Up(FModel->rowCount(), SelectedRows()));
}

void TRemotePlayerPage::MoveSelectionToNextPlaying() {
    ApplyMove(TRowMove::AfterCurrent(FModel->rowCount(), SelectedRows(), FModel->LastMarkedRow()));
}

void TRemotePlayerPage::DropSelectionOn(int Row) {
    ApplyMove(TRowMove::DropOn(FModel->rowCount(), SelectedRows(), Row));
}

void TRemotePlayerPage::ApplyMove(const std::optional<TRowMove> &Move) {
    if (!Move)
        return;
    FModel->Reorder(*Move);
    QItemSelection Selection;
    const int LastColumn = FModel->columnCount() - 1;
    for (qsizetype I = 0; I < Move->Selection.size();) {
        const int First = Move->Selection[I];
        int Last = First;
        while (++I < Move->Selection.size() && Move->Selection[I] == Last + 1)
            Last = Move->Selection[I];
        Selection.select(FModel->index(First, 0), FModel->index(Last, LastColumn));
    }
    QItemSelectionModel *Selected = FPlayListView->selectionModel();
    Selected->select(Selection, QItemSelectionModel::ClearAndSelect);
    if (!Move->Selection.isEmpty())
        Selected->setCurrentIndex(FModel->index(Move->Selection.first(), 0),
                                  QItemSelectionModel::NoUpdate);
    ListEdited();
}

void TRemotePlayerPage::ListEdited() {
    // What the view shows is what the speaker is about to hold; a list that came in since
    // the last refresh would otherwise undo the edit on screen, and the speaker does not send
    // our own change back to us.
    FPlayList = FModel->Locations();
    FListChanged = false;
    SendListOrder();
}

void TRemotePlayerPage::SendListOrder() {
    PostCommand("UPDATELIST", JoinLines(FModel->Locations()));
}
