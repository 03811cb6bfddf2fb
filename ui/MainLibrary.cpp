// The "Music library" page of TFormMain: the list, adding sources and saving.
#include "Main.h"

#include "BalloonTip.h"
#include "InputURLs.h"
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

void TFormMain::CreateLibraryPage() {
    FLibrary = new TMusicLibrary(this);

    suiTabSheetLibrary = new QWidget;
    auto *Layout = new QVBoxLayout(suiTabSheetLibrary);
    Layout->setContentsMargins(2, 2, 2, 2);
    Layout->setSpacing(2);

    FPlayOnBar = new QWidget(suiTabSheetLibrary);
    auto *PlayOn = new QHBoxLayout(FPlayOnBar);
    PlayOn->setContentsMargins(0, 0, 0, 0);
    LabelPlay = new QLabel(QStringLiteral("Play on"), FPlayOnBar);
    suiComboBoxPlayServer = new QComboBox(FPlayOnBar);
    suiComboBoxPlayServer->setEditable(true);
    suiComboBoxPlayServer->addItems({QStringLiteral("My Computer"), QStringLiteral("127.0.0.1")});
    suiComboBoxPlayServer->setCurrentText(QStringLiteral("My Computer"));
    suiComboBoxPlayServer->setToolTip(
        QStringLiteral("Select the computer which you want to play on"));
    PlayOn->addWidget(LabelPlay);
    PlayOn->addWidget(suiComboBoxPlayServer, 1);
    Layout->addWidget(FPlayOnBar);

    suiListViewLib = new TLibraryView(suiTabSheetLibrary);
    suiListViewLib->setContextMenuPolicy(Qt::CustomContextMenu);
    Layout->addWidget(suiListViewLib, 1);

    ActAddFiles = new QAction(QStringLiteral("Add Local Audio Files"), this);
    ActAddFiles->setShortcut(QKeySequence(Qt::Key_Insert));
    ActAddURLs = new QAction(QStringLiteral("Add Internet URLs"), this);
    ActAddURLs->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Insert));
    addAction(ActAddFiles); // shortcuts work anywhere in the window
    addAction(ActAddURLs);
    connect(ActAddFiles, &QAction::triggered, this, &TFormMain::ActAddFilesExecute);
    connect(ActAddURLs, &QAction::triggered, this, &TFormMain::ActAddURLsExecute);

    suiPopupMenuAdd = new QMenu(this);
    suiPopupMenuAdd->addAction(ActAddFiles);
    suiPopupMenuAdd->addSeparator();
    suiPopupMenuAdd->addAction(ActAddURLs);

    suiPopupMenuLibrary = new QMenu(this);
    suiPopupMenuLibrary->addAction(ActAddFiles);
    suiPopupMenuLibrary->addAction(ActAddURLs);
    connect(suiListViewLib, &QWidget::customContextMenuRequested, this, [this](const QPoint &At) {
        suiPopupMenuLibrary->popup(suiListViewLib->viewport()->mapToGlobal(At));
    });

    suiToolBar1 = new QToolBar(suiTabSheetLibrary);
    suiToolBar1->setToolButtonStyle(Qt::ToolButtonTextOnly);
    ToolButtonAdd = new QToolButton(suiToolBar1);
    ToolButtonAdd->setText(QStringLiteral("Add"));
    ToolButtonAdd->setToolTip(
        QStringLiteral("Click the button to add music into your music library"));
    ToolButtonAdd->setMenu(suiPopupMenuAdd);
    ToolButtonAdd->setPopupMode(QToolButton::InstantPopup);
    suiToolBar1->addWidget(ToolButtonAdd);
    Layout->addWidget(suiToolBar1);

    suiPageControlMain->addTab(suiTabSheetLibrary, QStringLiteral("Music library"));

    connect(suiListViewLib, &TLibraryView::FilesDropped, this, &TFormMain::LibraryFilesDropped);
}

void TFormMain::LoadLibrary() {
    QString Error;
    if (!FLibrary->LoadFromFile(LibraryFileName, &Error))
        ShowErrorBox(this, Error);
    FillLibraryView();
}

void TFormMain::FillLibraryView() {
    // The view mirrors the store; attaching it is all a refill needs.
    if (suiListViewLib->model() != FLibrary)
        suiListViewLib->setModel(FLibrary);
    suiListViewLib->scrollToTop();
}

void TFormMain::AddToLibrary(const QByteArray &Source) {
    FLibrary->AddToLibrary(Source);
}

int TFormMain::AddToLibrary(const QByteArrayList &Sources) {
    return FLibrary->AddBatch(Sources);
}

bool TFormMain::SaveLibrary() {
    QString Error;
    if (!FLibrary->SaveToFile(LibraryFileName, &Error)) {
        ShowErrorBox(this, Error);
        return false;
    }
    Q_EMIT LibrarySaved();
    return true;
}

void TFormMain::ActAddFilesExecute() {
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

void TFormMain::ActAddURLsExecute() {
    TFormInputURLs Dialog(this);
    if (ExecModal(Dialog) != QDialog::Accepted)
        return;
    AddToLibrary(Dialog.URLLines());
    SaveLibrary();
    ShowSecondHint();
}

void TFormMain::LibraryFilesDropped(const QByteArrayList &Paths) {
    AddToLibrary(Paths);
    SaveLibrary();
}

void TFormMain::ShowSecondHint() {
    if (PopHitCount > 4)
        return;
    const QPoint Corner =
        suiComboBoxPlayServer->mapToGlobal(suiComboBoxPlayServer->rect().bottomRight());
    ShowBalloonTip(suiComboBoxPlayServer->toolTip(), Corner.x(), Corner.y(), 5,
                   QStringLiteral("Step 2 of 2"));
    PopHitCount += 1;
}
