// The "Music library" page: the list, adding sources and saving, the known computers and
// asking for the library to be played on one of them.
#include "LibraryPage.h"

#include "AllowAction.h"
#include "AsciiText.h"
#include "AudioTypes.h"
#include "BalloonTip.h"
#include "InputURLsDialog.h"
#include "LibraryBrowser.h"
#include "LibraryTableModel.h"
#include "LibraryView.h"
#include "Modal.h"
#include "MusicLibrary.h"
#include "Presence.h"
#include "Settings.h"

#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSplitter>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

TLibraryPage::TLibraryPage(TMusicLibrary &Library, const TSharedActions &Shared, QWidget *Parent)
    : QWidget(Parent), FLibrary(Library) {
    auto *Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(2, 2, 2, 2);
    Layout->setSpacing(2);
    CreatePlayOnBar();
    Layout->addWidget(FPlayOnBar);

    FTableModel = new TLibraryTableModel(FLibrary, this);
    FLibraryView = new TLibraryView(this);
    FLibraryView->setObjectName(QStringLiteral("FLibraryView"));
    FLibraryView->setContextMenuPolicy(Qt::CustomContextMenu);
    CreateListing();
    Layout->addWidget(FSearchBox->parentWidget());
    Layout->addWidget(FSplitter, 1);
    connect(FLibraryView, &QAbstractItemView::doubleClicked, this,
            &TLibraryPage::PlayOnTypedComputer);
    connect(FLibraryView, &TLibraryView::EnterPressed, this, &TLibraryPage::PlayOnTypedComputer);
    connect(FLibraryView, &TLibraryView::RowsDropped, this, [this](int Target) {
        // Rows move only where the view shows the library's own order.
        if (FTableModel->ShowsAll())
            ApplyLibraryMove(TRowMove::DropOn(FLibrary.Count(), SelectedRows(), Target));
    });
    CreateLibraryActions();
    CreateAddActions();

    FPlayMenu = new QMenu(this);
    FPlayMenu->addAction(FPlayAction);
    FPlayMenu->addAction(FConnectAction);
    connect(FPlayArrowButton, &QToolButton::clicked, this, [this] {
        FPlayMenu->popup(FPlayButton->mapToGlobal(QPoint(3, FPlayButton->height() + 3)));
    });

    BuildLibraryMenu(Shared);
    CreatePlayModeActions();
    connect(FLibraryView, &QWidget::customContextMenuRequested, this, [this](const QPoint &At) {
        FLibraryMenu->popup(FLibraryView->viewport()->mapToGlobal(At));
    });

    CreateFolderBar();
    FNoticeLabel = new QLabel(this);
    FNoticeLabel->setObjectName(QStringLiteral("FNoticeLabel"));
    FNoticeLabel->setTextFormat(Qt::PlainText);
    FNoticeLabel->setWordWrap(true);
    FNoticeLabel->hide();
    Layout->addWidget(FFolderBar);
    Layout->addWidget(FNoticeLabel);
    CreateToolBar();
    Layout->addWidget(FLibraryToolBar);
    connect(FLibraryView, &TLibraryView::FilesDropped, this, &TLibraryPage::LibraryFilesDropped);
    ApplyTexts();
}

void TLibraryPage::CreatePlayOnBar() {
    FPlayOnBar = new QWidget(this);
    auto *PlayOn = new QHBoxLayout(FPlayOnBar);
    PlayOn->setContentsMargins(0, 0, 0, 0);
    FPlayOnLabel = new QLabel(QStringLiteral("Play on"), FPlayOnBar);
    FPlayOnBox = new QComboBox(FPlayOnBar);
    FPlayOnBox->setObjectName(QStringLiteral("FPlayOnBox"));
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
    connect(FPlayButton, &QPushButton::clicked, this, &TLibraryPage::PlayOnTypedComputer);
    connect(FPlayOnBox->lineEdit(), &QLineEdit::returnPressed, this,
            &TLibraryPage::PlayOnTypedComputer);
}

void TLibraryPage::CreateLibraryActions() {
    const auto Action = [this](const char *Name, const QString &Caption,
                               void (TLibraryPage::*Slot)(), const QKeySequence &Keys = {},
                               Qt::ConnectionType Type = Qt::AutoConnection) {
        auto *A = new QAction(Caption, this);
        A->setObjectName(QLatin1String(Name));
        if (!Keys.isEmpty()) {
            A->setShortcut(Keys);
            A->setShortcutContext(Qt::WidgetWithChildrenShortcut);
            FLibraryView->addAction(A); // the keys work while the list has the focus
        }
        connect(A, &QAction::triggered, this, Slot, Type);
        return A;
    };
    // Entries that open a box or a dialog do so after the menu's own event has returned.
    FPlayAction = Action("FPlayAction", QStringLiteral("Play"), &TLibraryPage::PlayOnTypedComputer,
                         {}, Qt::QueuedConnection);
    FConnectAction = Action("FConnectAction", QStringLiteral("Connect"),
                            &TLibraryPage::ConnectToTypedComputer, {}, Qt::QueuedConnection);
    FPlayInLocalAction = Action("FPlayInLocalAction", QStringLiteral("P&lay on My Computer"),
                                &TLibraryPage::PlayOnThisComputer);
    FPlayInOtherAction = Action("FPlayInOtherAction", QStringLiteral("&Play on Other Computer"),
                                &TLibraryPage::PlayOnOtherComputer, {}, Qt::QueuedConnection);
    FRemoveFilesAction = Action("FRemoveFilesAction", QStringLiteral("Remove from Music Library"),
                                &TLibraryPage::RemoveSelected, QKeySequence(Qt::Key_Delete));
    FSelectAllAction = Action("FSelectAllAction", QStringLiteral("Select All"),
                              &TLibraryPage::SelectAll, QKeySequence(Qt::CTRL | Qt::Key_A));
    FMoveDownAction =
        Action("FMoveDownAction", QStringLiteral("Move &Down"), &TLibraryPage::MoveSelectionDown);
    FMoveUpAction =
        Action("FMoveUpAction", QStringLiteral("Move &Up"), &TLibraryPage::MoveSelectionUp);
    FRescanAction = new QAction(QStringLiteral("Rescan Library"), this);
    FRescanAction->setObjectName(QStringLiteral("FRescanAction"));
    FRescanAction->setEnabled(false); // until there are tags to read
    for (QAction *A : {FRemoveFilesAction, FMoveDownAction, FMoveUpAction})
        A->setEnabled(false);
}

QList<QAction *> TLibraryPage::WindowActions() const {
    return {FAddFilesAction, FAddURLsAction};
}

// Adding files, URLs and folders: LibraryPageAdd.cpp.

void TLibraryPage::BuildLibraryMenu(const TSharedActions &Shared) {
    FLibraryMenu = new QMenu(this);
    FLibraryMenu->addAction(FPlayInLocalAction);
    FLibraryMenu->addAction(FPlayInOtherAction);
    FLibraryMenu->addAction(Shared.Allow);
    if (Shared.PhoneRemote)
        FLibraryMenu->addAction(Shared.PhoneRemote);
    FLibraryMenu->addSeparator();
    FLibraryMenu->addAction(FAddFilesAction);
    FLibraryMenu->addAction(FAddURLsAction);
    FLibraryMenu->addAction(FAddFolderAction);
    FLibraryMenu->addAction(FRemoveFilesAction);
    FLibraryMenu->addAction(FSelectAllAction);
    FLibraryMenu->addAction(FRescanAction);
    FLibraryMenu->addSeparator();
    FLibraryMenu->addAction(FMoveDownAction);
    FLibraryMenu->addAction(FMoveUpAction);
    FLibraryMenu->addSeparator();
    FLibraryMenu->addAction(Shared.Help);
    FLibraryMenu->addAction(Shared.About);
    connect(FLibraryMenu, &QMenu::aboutToShow, Shared.Allow, &TAllowAction::Update);
}

void TLibraryPage::CreateToolBar() {
    FLibraryToolBar = new QToolBar(this);
    FLibraryToolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    FAddButton = new QToolButton(FLibraryToolBar);
    FAddButton->setText(QStringLiteral("Add"));
    FAddButton->setMenu(FAddMenu);
    FAddButton->setPopupMode(QToolButton::InstantPopup);
    FLibraryToolBar->addWidget(FAddButton);
    // Short captions of their own, so all fit the narrowest window: a button bound as the
    // action's default would take the menu's long text back at the action's next change.
    const auto ToolButton = [this](QAction *Action, const QString &Caption, const char *Name) {
        auto *Button = new QToolButton(FLibraryToolBar);
        Button->setObjectName(QLatin1String(Name));
        Button->setText(Caption);
        Button->setEnabled(Action->isEnabled());
        connect(Action, &QAction::enabledChanged, Button, &QWidget::setEnabled);
        connect(Button, &QToolButton::clicked, Action, &QAction::trigger);
        FLibraryToolBar->addWidget(Button);
        return Button;
    };
    FRemoveButton = ToolButton(FRemoveFilesAction, QStringLiteral("Remove"), "FRemoveButton");
    FLibraryToolBar->addSeparator();
    FDownButton = ToolButton(FMoveDownAction, QStringLiteral("Down"), "FDownButton");
    FUpButton = ToolButton(FMoveUpAction, QStringLiteral("Up"), "FUpButton");
    auto *Gap = new QWidget(FLibraryToolBar);
    Gap->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    FLibraryToolBar->addWidget(Gap);
    FSummaryLabel = new QLabel(FLibraryToolBar);
    FSummaryLabel->setObjectName(QStringLiteral("FSummaryLabel"));
    FSummaryLabel->setTextFormat(Qt::PlainText);
    FLibraryToolBar->addWidget(FSummaryLabel);
}

void TLibraryPage::ApplyTexts() {
    FAddButton->setToolTip(QStringLiteral("Click the button to add music into your music library"));
    FPlayOnBox->setCurrentText(QStringLiteral("My Computer"));
    FPlayOnBox->setToolTip(QStringLiteral("Select the computer which you want to play on"));
    FLibraryView->setAccessibleName(QStringLiteral("Music library"));
    FPlayOnBox->setAccessibleName(QStringLiteral("Play on"));
    if (FPlayOnBox->lineEdit()) // where the typing goes
        FPlayOnBox->lineEdit()->setAccessibleName(QStringLiteral("Play on"));
    FPlayOnLabel->setBuddy(FPlayOnBox); // read with the box, where names follow relations
}

void TLibraryPage::SetPresence(const TPresence *Presence) {
    FPresence = Presence;
}

void TLibraryPage::FocusSearch() {
    FSearchBox->setFocus(Qt::ShortcutFocusReason);
    FSearchBox->selectAll();
}

void TLibraryPage::FocusList() {
    FLibraryView->setFocus();
}

void TLibraryPage::LoadLibrary() {
    QString Error;
    if (!FLibrary.LoadFromFile(LibraryFileName, &Error))
        ShowErrorBox(window(), Error);
    FillLibraryView();
}

void TLibraryPage::FillLibraryView() {
    // The view mirrors the store; attaching it is all a refill needs.
    if (FLibraryView->model() != FTableModel) {
        FLibraryView->setModel(FTableModel);
        RestoreColumnWidths(); // the header has its sections now
        // Only the rows on screen are asked for their texts again.
        connect(FTableModel, &TLibraryTableModel::TextsChanged, FLibraryView->viewport(),
                qOverload<>(&QWidget::update));
        connect(FLibraryView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                &TLibraryPage::UpdateCommandStates);
        connect(FTableModel, &QAbstractItemModel::rowsRemoved, this,
                &TLibraryPage::UpdateCommandStates);
        connect(FTableModel, &QAbstractItemModel::modelReset, this,
                &TLibraryPage::UpdateCommandStates);
        // At most once a delay while rows keep coming (a folder's walk): each count is a pass.
        for (const auto Signal :
             {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
            connect(FTableModel, Signal, this, [this] {
                if (!FSummaryDelay.isActive())
                    FSummaryDelay.start();
            });
        connect(FTableModel, &QAbstractItemModel::modelReset, &FSummaryDelay,
                qOverload<>(&QTimer::start));
        ShowSort();
    }
    FLibraryView->scrollToTop();
    UpdateCommandStates();
    UpdateSummary();
}

QList<int> TLibraryPage::SelectedRowsShown() const {
    QList<int> Shown;
    if (!FLibraryView->selectionModel())
        return Shown;
    // Any cell selected selects its row.
    for (const QModelIndex &Index : FLibraryView->selectionModel()->selectedIndexes())
        Shown.append(Index.row());
    std::sort(Shown.begin(), Shown.end());
    Shown.erase(std::unique(Shown.begin(), Shown.end()), Shown.end());
    QList<int> Rows;
    Rows.reserve(Shown.size());
    for (const int Row : std::as_const(Shown))
        if (const int Library = FTableModel->LibraryRow(Row); Library >= 0)
            Rows.append(Library);
    return Rows;
}

QList<int> TLibraryPage::SelectedRows() const {
    QList<int> Rows = SelectedRowsShown();
    std::sort(Rows.begin(), Rows.end());
    return Rows;
}

void TLibraryPage::UpdateCommandStates() {
    const QList<int> Rows = SelectedRows();
    // Moving rows one place means something only in the library's own order.
    const bool Movable = !Rows.isEmpty() && FTableModel->ShowsAll();
    FRemoveFilesAction->setEnabled(!Rows.isEmpty());
    FMoveUpAction->setEnabled(Movable && Rows.first() != 0);
    FMoveDownAction->setEnabled(Movable && Rows.last() != FLibrary.Count() - 1);
    FLibraryView->setDragEnabled(FTableModel->ShowsAll());
}

void TLibraryPage::RemoveSelected() {
    const QList<int> Rows = SelectedRows();
    if (Rows.isEmpty())
        return;
    FLibrary.RemoveRows(Rows);
    SaveLibrary();
    UpdateCommandStates();
}

void TLibraryPage::ApplyLibraryMove(const std::optional<TRowMove> &Move) {
    if (!Move)
        return;
    FLibrary.SetRowOrder(Move->Order);
    QItemSelection Selection;
    for (const int Row : Move->Selection)
        Selection.select(FTableModel->IndexOf(Row), FTableModel->IndexOf(Row));
    FLibraryView->selectionModel()->select(Selection, QItemSelectionModel::ClearAndSelect |
                                                          QItemSelectionModel::Rows);
    if (!Move->Selection.isEmpty())
        FLibraryView->scrollTo(FTableModel->IndexOf(Move->Selection.first()));
    SaveLibrary();
    UpdateCommandStates();
}

void TLibraryPage::MoveSelectionUp() {
    ApplyLibraryMove(TRowMove::Up(FLibrary.Count(), SelectedRows()));
}

void TLibraryPage::MoveSelectionDown() {
    ApplyLibraryMove(TRowMove::Down(FLibrary.Count(), SelectedRows()));
}

void TLibraryPage::SelectAll() {
    FLibraryView->selectAll();
}
