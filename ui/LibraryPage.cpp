// The "Music library" page of TMainWindow: the list, adding sources and saving, the known
// computers and playing the library on one of them.
#include "MainWindow.h"

#include "AsciiText.h"
#include "AudioTypes.h"
#include "BalloonTip.h"
#include "InputURLsDialog.h"
#include "LibraryView.h"
#include "Modal.h"
#include "MusicLibrary.h"
#include "PlayTo.h"
#include "PlaybackEngine.h"
#include "Presence.h"
#include "RemotePlayerPage.h"
#include "SelectComputerDialog.h"
#include "Settings.h"
#include "Speaker.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

void TMainWindow::CreateLibraryPage() {
    FLibrary = new TMusicLibrary(this);

    FLibraryPage = new QWidget;
    auto *Layout = new QVBoxLayout(FLibraryPage);
    Layout->setContentsMargins(2, 2, 2, 2);
    Layout->setSpacing(2);

    FPlayOnBar = new QWidget(FLibraryPage);
    auto *PlayOn = new QHBoxLayout(FPlayOnBar);
    PlayOn->setContentsMargins(0, 0, 0, 0);
    FPlayOnLabel = new QLabel(QStringLiteral("Play on"), FPlayOnBar);
    FPlayOnBox = new QComboBox(FPlayOnBar);
    FPlayOnBox->setEditable(true);
    // Typed hosts stay typed text: the list is the known computers only.
    FPlayOnBox->setInsertPolicy(QComboBox::NoInsert);
    FPlayOnBox->addItems({QStringLiteral("My Computer"), QStringLiteral("127.0.0.1")});
    FPlayButton = new QPushButton(QStringLiteral("Play"), FPlayOnBar);
    FPlayArrowButton = new QToolButton(FPlayOnBar);
    FPlayArrowButton->setArrowType(Qt::DownArrow);
    FPlayArrowButton->setAccessibleName(QStringLiteral("Play or connect"));
    PlayOn->addWidget(FPlayOnLabel);
    PlayOn->addWidget(FPlayOnBox, 1);
    PlayOn->addWidget(FPlayButton);
    PlayOn->addWidget(FPlayArrowButton);
    Layout->addWidget(FPlayOnBar);
    connect(FPlayButton, &QPushButton::clicked, this, &TMainWindow::PlayOnTypedComputer);
    connect(FPlayOnBox->lineEdit(), &QLineEdit::returnPressed, this,
            &TMainWindow::PlayOnTypedComputer);

    FLibraryView = new TLibraryView(FLibraryPage);
    FLibraryView->setContextMenuPolicy(Qt::CustomContextMenu);
    Layout->addWidget(FLibraryView, 1);
    connect(FLibraryView, &QAbstractItemView::doubleClicked, this,
            &TMainWindow::PlayOnTypedComputer);
    connect(FLibraryView, &TLibraryView::EnterPressed, this, &TMainWindow::PlayOnTypedComputer);
    connect(FLibraryView, &TLibraryView::RowsDropped, this, [this](int Target) {
        ApplyLibraryMove(TRowMove::DropOn(FLibrary->Count(), SelectedRows(), Target));
    });
    CreateLibraryActions();

    FAddFilesAction = new QAction(QStringLiteral("Add Local Audio Files"), this);
    FAddFilesAction->setShortcut(QKeySequence(Qt::Key_Insert));
    FAddURLsAction = new QAction(QStringLiteral("Add Internet URLs"), this);
    FAddURLsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Insert));
    addAction(FAddFilesAction); // shortcuts work anywhere in the window
    addAction(FAddURLsAction);
    connect(FAddFilesAction, &QAction::triggered, this, &TMainWindow::AddFiles,
            Qt::QueuedConnection);
    connect(FAddURLsAction, &QAction::triggered, this, &TMainWindow::AddURLs, Qt::QueuedConnection);

    FAddMenu = new QMenu(this);
    FAddMenu->addAction(FAddFilesAction);
    FAddMenu->addSeparator();
    FAddMenu->addAction(FAddURLsAction);

    FPlayMenu = new QMenu(this);
    FPlayMenu->addAction(FPlayAction);
    FPlayMenu->addAction(FConnectAction);
    connect(FPlayArrowButton, &QToolButton::clicked, this, [this] {
        FPlayMenu->popup(FPlayButton->mapToGlobal(QPoint(3, FPlayButton->height() + 3)));
    });

    FLibraryMenu = new QMenu(this);
    FLibraryMenu->addAction(FPlayInLocalAction);
    FLibraryMenu->addAction(FPlayInOtherAction);
    FLibraryMenu->addAction(FAllowAction);
    FLibraryMenu->addSeparator();
    FLibraryMenu->addAction(FAddFilesAction);
    FLibraryMenu->addAction(FAddURLsAction);
    FLibraryMenu->addAction(FRemoveFilesAction);
    FLibraryMenu->addAction(FSelectAllAction);
    FLibraryMenu->addSeparator();
    FLibraryMenu->addAction(FMoveDownAction);
    FLibraryMenu->addAction(FMoveUpAction);
    FLibraryMenu->addSeparator();
    FLibraryMenu->addAction(FHelpAction);
    FLibraryMenu->addAction(FAboutAction);
    connect(FLibraryView, &QWidget::customContextMenuRequested, this, [this](const QPoint &At) {
        FLibraryMenu->popup(FLibraryView->viewport()->mapToGlobal(At));
    });

    FLibraryToolBar = new QToolBar(FLibraryPage);
    FLibraryToolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    FAddButton = new QToolButton(FLibraryToolBar);
    FAddButton->setText(QStringLiteral("Add"));
    FAddButton->setMenu(FAddMenu);
    FAddButton->setPopupMode(QToolButton::InstantPopup);
    FLibraryToolBar->addWidget(FAddButton);
    const auto ToolButton = [this](QAction *Action, const QString &Caption) {
        auto *Button = new QToolButton(FLibraryToolBar);
        Button->setDefaultAction(Action);
        Button->setText(Caption);
        FLibraryToolBar->addWidget(Button);
        return Button;
    };
    FRemoveButton = ToolButton(FRemoveFilesAction, QStringLiteral("Remove"));
    FLibraryToolBar->addSeparator();
    FDownButton = ToolButton(FMoveDownAction, QStringLiteral("Down"));
    FUpButton = ToolButton(FMoveUpAction, QStringLiteral("Up"));
    Layout->addWidget(FLibraryToolBar);

    FPages->addTab(FLibraryPage, QStringLiteral("Music library"));

    connect(FLibraryView, &TLibraryView::FilesDropped, this, &TMainWindow::LibraryFilesDropped);
}

void TMainWindow::CreateLibraryActions() {
    const auto Action = [this](const QString &Caption, void (TMainWindow::*Slot)(),
                               const QKeySequence &Keys = {},
                               Qt::ConnectionType Type = Qt::AutoConnection) {
        auto *A = new QAction(Caption, this);
        if (!Keys.isEmpty()) {
            A->setShortcut(Keys);
            A->setShortcutContext(Qt::WidgetWithChildrenShortcut);
            FLibraryView->addAction(A); // the keys work while the list has the focus
        }
        connect(A, &QAction::triggered, this, Slot, Type);
        return A;
    };
    // Entries that open a box or a dialog do so after the menu's own event has returned.
    FPlayAction =
        Action(QStringLiteral("Play"), &TMainWindow::PlayOnTypedComputer, {}, Qt::QueuedConnection);
    FConnectAction = Action(QStringLiteral("Connect"), &TMainWindow::ConnectToTypedComputer, {},
                            Qt::QueuedConnection);
    FPlayInLocalAction =
        Action(QStringLiteral("P&lay on My Computer"), &TMainWindow::PlayOnThisComputer);
    FPlayInOtherAction = Action(QStringLiteral("&Play on Other Computer"),
                                &TMainWindow::PlayOnOtherComputer, {}, Qt::QueuedConnection);
    FRemoveFilesAction = Action(QStringLiteral("Remove from Music Library"),
                                &TMainWindow::RemoveSelected, QKeySequence(Qt::Key_Delete));
    FSelectAllAction = Action(QStringLiteral("Select All"), &TMainWindow::SelectAll,
                              QKeySequence(Qt::CTRL | Qt::Key_A));
    FMoveDownAction = Action(QStringLiteral("Move &Down"), &TMainWindow::MoveSelectionDown);
    FMoveUpAction = Action(QStringLiteral("Move &Up"), &TMainWindow::MoveSelectionUp);
    for (QAction *A : {FRemoveFilesAction, FMoveDownAction, FMoveUpAction})
        A->setEnabled(false);
}

void TMainWindow::LoadLibrary() {
    QString Error;
    if (!FLibrary->LoadFromFile(LibraryFileName, &Error))
        ShowErrorBox(this, Error);
    FillLibraryView();
}

void TMainWindow::FillLibraryView() {
    // The view mirrors the store; attaching it is all a refill needs.
    if (FLibraryView->model() != FLibrary) {
        FLibraryView->setModel(FLibrary);
        connect(FLibraryView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                &TMainWindow::UpdateCommandStates);
        connect(FLibrary, &QAbstractItemModel::rowsRemoved, this,
                &TMainWindow::UpdateCommandStates);
        connect(FLibrary, &QAbstractItemModel::modelReset, this, &TMainWindow::UpdateCommandStates);
    }
    FLibraryView->scrollToTop();
    UpdateCommandStates();
}

void TMainWindow::AddToLibrary(const QByteArray &Source) {
    FLibrary->AddToLibrary(Source);
}

int TMainWindow::AddToLibrary(const QByteArrayList &Sources) {
    return FLibrary->AddBatch(Sources);
}

bool TMainWindow::SaveLibrary() {
    QString Error;
    if (!FLibrary->SaveToFile(LibraryFileName, &Error)) {
        ShowErrorBox(this, Error);
        return false;
    }
    Q_EMIT LibrarySaved();
    return true;
}

void TMainWindow::AddFiles() {
    QFileDialog Dialog(this, QStringLiteral("Add Local Audio Files"));
    Dialog.setAcceptMode(QFileDialog::AcceptOpen);
    Dialog.setFileMode(QFileDialog::ExistingFiles);
    const QStringList Filters = QtFileFilter(AudioFileFilter()).split(QStringLiteral(";;"));
    Dialog.setNameFilters(Filters);
    Dialog.selectNameFilter(Filters.value(0));
    if (ExecModal(Dialog) != QDialog::Accepted)
        return;
    QByteArrayList Paths;
    for (const QUrl &File : Dialog.selectedUrls())
        Paths.append(TMusicLibrary::LocalSource(File));
    AddToLibrary(Paths);
    SaveLibrary();
    ShowSecondHint();
}

void TMainWindow::AddURLs() {
    TInputURLsDialog Dialog(this);
    if (ExecModal(Dialog) != QDialog::Accepted)
        return;
    AddToLibrary(Dialog.URLLines());
    SaveLibrary();
    ShowSecondHint();
}

void TMainWindow::LibraryFilesDropped(const QByteArrayList &Paths) {
    AddToLibrary(Paths);
    SaveLibrary();
}

void TMainWindow::ShowSecondHint() {
    if (PopHitCount > 4)
        return;
    const QPoint Corner = FPlayOnBox->mapToGlobal(FPlayOnBox->rect().bottomRight());
    ShowBalloonTip(FPlayOnBox->toolTip(), Corner.x(), Corner.y(), 5, QStringLiteral("Step 2 of 2"));
    PopHitCount += 1;
}

QList<int> TMainWindow::SelectedRows() const {
    QList<int> Rows;
    if (!FLibraryView->selectionModel())
        return Rows;
    for (const QModelIndex &Index : FLibraryView->selectionModel()->selectedRows())
        Rows.append(Index.row());
    std::sort(Rows.begin(), Rows.end());
    return Rows;
}

void TMainWindow::UpdateCommandStates() {
    const QList<int> Rows = SelectedRows();
    FRemoveFilesAction->setEnabled(!Rows.isEmpty());
    FMoveUpAction->setEnabled(!Rows.isEmpty() && Rows.first() != 0);
    FMoveDownAction->setEnabled(!Rows.isEmpty() && Rows.last() != FLibrary->Count() - 1);
}

void TMainWindow::RemoveSelected() {
    const QList<int> Rows = SelectedRows();
    if (Rows.isEmpty())
        return;
    FLibrary->RemoveRows(Rows);
    SaveLibrary();
    UpdateCommandStates();
}

void TMainWindow::ApplyLibraryMove(const std::optional<TRowMove> &Move) {
    if (!Move)
        return;
    FLibrary->SetRowOrder(Move->Order);
    QItemSelection Selection;
    for (const int Row : Move->Selection)
        Selection.select(FLibrary->index(Row), FLibrary->index(Row));
    FLibraryView->selectionModel()->select(Selection, QItemSelectionModel::ClearAndSelect);
    if (!Move->Selection.isEmpty())
        FLibraryView->scrollTo(FLibrary->index(Move->Selection.first()));
    SaveLibrary();
    UpdateCommandStates();
}

void TMainWindow::MoveSelectionUp() {
    ApplyLibraryMove(TRowMove::Up(FLibrary->Count(), SelectedRows()));
}

void TMainWindow::MoveSelectionDown() {
    ApplyLibraryMove(TRowMove::Down(FLibrary->Count(), SelectedRows()));
}

void TMainWindow::SelectAll() {
    FLibraryView->selectAll();
}

void TMainWindow::StartPresence(quint16 Port) {
    FPresence = new TPresence(this);
    FPlayTo->SetPresence(FPresence);
    connect(FPresence, &TPresence::ComputersChanged, this, [this] {
        FComputersChanged = true;
        ScheduleHeartbeat();
    });
    connect(FPresence, &TPresence::LocalIPChanged, this,
            [this](const QByteArray &IP) { FSharing.SetLocalIP(IP); });
    FPresence->Start(Port);
}

void TMainWindow::RefreshComputerCombo() {
    if (!FComputersChanged)
        return;
    FComputersChanged = false;
    QStringList Items;
    for (const QByteArray &Computer : FPresence->Computers())
        Items.append(QString::fromUtf8(Computer));
    const QString Text = FPlayOnBox->currentText();
    FPlayOnBox->clear();
    FPlayOnBox->addItems(Items);
    FPlayOnBox->setCurrentText(Text);
}

// Shows the error box for a bad "Play on" text; true when the text can be used.
static bool TargetUsable(QWidget *Parent, TTargetCheck Check) {
    if (Check == TTargetCheck::Empty) {
        ShowErrorBox(Parent, QStringLiteral("Please select or input a computer name or IP !"));
        return false;
    }
    if (Check == TTargetCheck::Invalid) {
        ShowErrorBox(Parent, QStringLiteral("Invalid computer name or IP !"));
        return false;
    }
    return true;
}

void TMainWindow::PlayOnTypedComputer() {
    const QString Text =
        QString::fromUtf8(AsciiLower(FPlayOnBox->currentText().toUtf8().replace(' ', "")));
    const TTargetCheck Check = CheckTarget(Text);
    if (!TargetUsable(this, Check))
        return;
    PlayLibraryOn(Check == TTargetCheck::ThisComputer ? QStringLiteral("localhost") : Text);
}

void TMainWindow::PlayOnThisComputer() {
    PlayLibraryOn(QStringLiteral("localhost"));
}

void TMainWindow::PlayOnOtherComputer() {
    TSelectComputerDialog Dialog(this);
    QStringList Computers;
    for (const QByteArray &Computer : FPresence->Computers())
        Computers.append(QString::fromUtf8(Computer));
    Dialog.SetComputers(Computers, FPlayOnBox->currentText());
    if (ExecModal(Dialog) != QDialog::Accepted)
        return;
    const QString Text = Dialog.SelectedComputer();
    FPlayOnBox->setCurrentText(Text);
    PlayLibraryOn(SameNameIgnoringSpaces(Text.toUtf8(), "My Computer") ? QStringLiteral("localhost")
                                                                       : Text);
}

void TMainWindow::ConnectToTypedComputer() {
    const QString Text = FPlayOnBox->currentText().trimmed();
    FPlayOnBox->setCurrentText(Text);
    const TTargetCheck Check = CheckTarget(Text);
    if (!TargetUsable(this, Check))
        return;
    FPlayTo->PlayListOn(Check == TTargetCheck::ThisComputer ? QStringLiteral("localhost") : Text,
                        {});
}

void TMainWindow::PlayLibraryOn(const QString &Host) {
    // A server on another port (tests) is named by its real port.
    FPlayTo->PlayLibraryOn(Host, *FLibrary, SelectedRows(),
                           MediaPort() ? MediaPort() : MediaServerPort);
}

void TMainWindow::CreatePlayTo() {
    FPlayTo = new TPlayTo(*this, FSharing, this);
    connect(FPlayTo, &TPlayTo::NotAdded, this, [this](const QString &Note) {
        constexpr int ShownMs = 30000;
        statusBar()->showMessage(Note, ShownMs);
    });
    connect(FPlayTo, &TPlayTo::LocalTracks, this, [this](const QByteArrayList &URLs) {
        if (FSpeaker) {
            FSpeaker->AddLocalTracks(URLs);
            FSpeaker->Engine()->RequestShow();
        }
    });
    // The box runs after the page's event has returned: the page may end under it.
    connect(
        FPlayTo, &TPlayTo::ConnectFailed, this,
        [this](const QString &Failed) {
            ShowErrorBox(this, QStringLiteral("Connect to ") + Failed + QStringLiteral(" fail."));
        },
        Qt::QueuedConnection);
}

TRemoteSession *TMainWindow::OpenRemotePage(const QString &Caption) {
    auto *Page = new TRemotePlayerPage;
    Page->setStyleSheet(FileThemeRemote());
    connect(Page, &TRemotePlayerPage::AboutRequested, this, &TMainWindow::ShowAbout,
            Qt::QueuedConnection);
    AddRemotePage(Page, &Page->Session(), Caption);
    return &Page->Session();
}

void TMainWindow::ShowRemotePage(TRemotePlayer *Player) {
    for (const auto &[Sheet, Shown] : std::as_const(FRemoteSheets))
        if (Shown == Player && Sheet)
            FPages->setCurrentWidget(Sheet);
}
