// The "Music library" page of TMainWindow: the list, adding sources and saving.
#include "MainWindow.h"

#include "BalloonTip.h"
#include "InputURLsDialog.h"
#include "LibraryView.h"
#include "Modal.h"
#include "MusicLibrary.h"
#include "Utils.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

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
    FPlayOnBox->addItems({QStringLiteral("My Computer"), QStringLiteral("127.0.0.1")});
    FPlayOnBox->setCurrentText(QStringLiteral("My Computer"));
    FPlayOnBox->setToolTip(QStringLiteral("Select the computer which you want to play on"));
    PlayOn->addWidget(FPlayOnLabel);
    PlayOn->addWidget(FPlayOnBox, 1);
    Layout->addWidget(FPlayOnBar);

    FLibraryView = new TLibraryView(FLibraryPage);
    FLibraryView->setContextMenuPolicy(Qt::CustomContextMenu);
    Layout->addWidget(FLibraryView, 1);

    FAddFilesAction = new QAction(QStringLiteral("Add Local Audio Files"), this);
    FAddFilesAction->setShortcut(QKeySequence(Qt::Key_Insert));
    FAddURLsAction = new QAction(QStringLiteral("Add Internet URLs"), this);
    FAddURLsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Insert));
    addAction(FAddFilesAction); // shortcuts work anywhere in the window
    addAction(FAddURLsAction);
    connect(FAddFilesAction, &QAction::triggered, this, &TMainWindow::AddFiles);
    connect(FAddURLsAction, &QAction::triggered, this, &TMainWindow::AddURLs);

    FAddMenu = new QMenu(this);
    FAddMenu->addAction(FAddFilesAction);
    FAddMenu->addSeparator();
    FAddMenu->addAction(FAddURLsAction);

    FLibraryMenu = new QMenu(this);
    FLibraryMenu->addAction(FAddFilesAction);
    FLibraryMenu->addAction(FAddURLsAction);
    connect(FLibraryView, &QWidget::customContextMenuRequested, this, [this](const QPoint &At) {
        FLibraryMenu->popup(FLibraryView->viewport()->mapToGlobal(At));
    });

    FLibraryToolBar = new QToolBar(FLibraryPage);
    FLibraryToolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    FAddButton = new QToolButton(FLibraryToolBar);
    FAddButton->setText(QStringLiteral("Add"));
    FAddButton->setToolTip(QStringLiteral("Click the button to add music into your music library"));
    FAddButton->setMenu(FAddMenu);
    FAddButton->setPopupMode(QToolButton::InstantPopup);
    FLibraryToolBar->addWidget(FAddButton);
    Layout->addWidget(FLibraryToolBar);

    FPages->addTab(FLibraryPage, QStringLiteral("Music library"));

    connect(FLibraryView, &TLibraryView::FilesDropped, this, &TMainWindow::LibraryFilesDropped);
}

void TMainWindow::LoadLibrary() {
    QString Error;
    if (!FLibrary->LoadFromFile(LibraryFileName, &Error))
        ShowErrorBox(this, Error);
    FillLibraryView();
}

void TMainWindow::FillLibraryView() {
    // The view mirrors the store; attaching it is all a refill needs.
    if (FLibraryView->model() != FLibrary)
        FLibraryView->setModel(FLibrary);
    FLibraryView->scrollToTop();
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
    const QStringList Filters = QtFileFilter(AudioFileFilter).split(QStringLiteral(";;"));
    Dialog.setNameFilters(Filters);
    Dialog.selectNameFilter(Filters.value(0));
    if (ExecModal(Dialog) != QDialog::Accepted)
        return;
    QByteArrayList Paths;
    for (const QString &File : Dialog.selectedFiles())
        Paths.append(QFile::encodeName(File));
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
