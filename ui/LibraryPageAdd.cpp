// The library page's adding: files, URLs, folders (walked off the GUI thread), drops, the
// library folders kept in step, and the first-use hints.
#include "LibraryPage.h"

#include "AudioTypes.h"
#include "BalloonTip.h"
#include "FolderScan.h"
#include "InputURLsDialog.h"
#include "LibraryFolders.h"
#include "LibraryFoldersDialog.h"
#include "LibraryTags.h"
#include "Modal.h"
#include "MusicLibrary.h"
#include "Settings.h"

#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QUrl>

void TLibraryPage::CreateAddActions() {
    FAddFilesAction = new QAction(QStringLiteral("Add Local Audio Files"), this);
    FAddFilesAction->setShortcut(QKeySequence(Qt::Key_Insert));
    FAddURLsAction = new QAction(QStringLiteral("Add Internet URLs"), this);
    FAddURLsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Insert));
    connect(FAddFilesAction, &QAction::triggered, this, &TLibraryPage::AddFiles,
            Qt::QueuedConnection);
    connect(FAddURLsAction, &QAction::triggered, this, &TLibraryPage::AddURLs,
            Qt::QueuedConnection);

    FAddFolderAction = new QAction(QStringLiteral("Add Folder..."), this);
    FAddFolderAction->setObjectName(QStringLiteral("FAddFolderAction"));
    connect(FAddFolderAction, &QAction::triggered, this, &TLibraryPage::AddFolder,
            Qt::QueuedConnection);
    FLibraryFoldersAction = new QAction(QStringLiteral("Library Folders..."), this);
    FLibraryFoldersAction->setObjectName(QStringLiteral("FLibraryFoldersAction"));
    FLibraryFoldersAction->setEnabled(false); // until there are folders to keep in step
    connect(FLibraryFoldersAction, &QAction::triggered, this, &TLibraryPage::EditLibraryFolders,
            Qt::QueuedConnection);

    FAddMenu = new QMenu(this);
    FAddMenu->addAction(FAddFilesAction);
    FAddMenu->addAction(FAddFolderAction);
    FAddMenu->addSeparator();
    FAddMenu->addAction(FAddURLsAction);
    FAddMenu->addSeparator();
    FAddMenu->addAction(FLibraryFoldersAction);
}

void TLibraryPage::AddToLibrary(const QByteArray &Source) {
    FLibrary.AddToLibrary(Source);
}

int TLibraryPage::AddToLibrary(const QByteArrayList &Sources) {
    return FLibrary.AddBatch(Sources);
}

bool TLibraryPage::SaveLibrary() {
    QString Error;
    if (!FLibrary.SaveToFile(LibraryFileName, &Error)) {
        ShowErrorBox(window(), Error);
        return false;
    }
    Q_EMIT LibrarySaved();
    return true;
}

void TLibraryPage::AddFiles() {
    QFileDialog Dialog(window(), QStringLiteral("Add Local Audio Files"));
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
    QList<TRefusedSource> Refused;
    const int Added = FLibrary.AddBatch(Paths, &Refused);
    SaveLibrary();
    ReportRefused(Refused);
    // The "Step 2 of 2" hint speaks of what was added.
    if (Added > 0)
        ShowSecondHint();
}

void TLibraryPage::AddURLs() {
    TInputURLsDialog Dialog(window());
    if (ExecModal(Dialog) != QDialog::Accepted)
        return;
    const int Added = AddToLibrary(Dialog.URLLines());
    SaveLibrary();
    if (Added > 0)
        ShowSecondHint();
}

void TLibraryPage::LibraryFilesDropped(const QByteArrayList &Paths) {
    // Folders are walked; the rest are files, added at once.
    QByteArrayList Files, Folders;
    for (const QByteArray &Path : Paths)
        (QFileInfo(QFile::decodeName(Path)).isDir() ? Folders : Files).append(Path);
    QList<TRefusedSource> Refused;
    FLibrary.AddBatch(Files, &Refused);
    SaveLibrary();
    ReportRefused(Refused);
    if (!Folders.isEmpty())
        AddFolders(Folders);
}

void TLibraryPage::ReportRefused(const QList<TRefusedSource> &Refused) {
    const QString Note = RefusalNote(Refused);
    if (Note.isEmpty())
        return;
    // Not inside the drop or the dialog's event that brought them.
    QMetaObject::invokeMethod(
        this, [this, Note] { ShowErrorBox(window(), Note); }, Qt::QueuedConnection);
}

void TLibraryPage::CreateFolderBar() {
    FFolderScan = new TFolderScan(this);
    connect(FFolderScan, &TFolderScan::Found, this, &TLibraryPage::OnFolderRowsFound);
    connect(FFolderScan, &TFolderScan::Progress, this, [this](int Files, int Folders) {
        FFolderLabel->setText(
            QStringLiteral("Adding folder: %1 audio files in %2 folders").arg(Files).arg(Folders));
    });
    connect(FFolderScan, &TFolderScan::Finished, this, &TLibraryPage::OnFolderWalkEnded);
    FSaveDelay.setSingleShot(true);
    FSaveDelay.setInterval(1000);
    connect(&FSaveDelay, &QTimer::timeout, this, &TLibraryPage::SaveLibrary);
    FFolderBar = new QWidget(this);
    FFolderBar->setObjectName(QStringLiteral("FFolderBar"));
    auto *Row = new QHBoxLayout(FFolderBar);
    Row->setContentsMargins(0, 0, 0, 0);
    FFolderProgress = new QProgressBar(FFolderBar);
    FFolderProgress->setRange(0, 0); // how many there are is known only at the end
    FFolderProgress->setMaximumWidth(80);
    FFolderLabel = new QLabel(FFolderBar);
    FFolderLabel->setTextFormat(Qt::PlainText);
    auto *Cancel = new QPushButton(QStringLiteral("Cancel"), FFolderBar);
    Cancel->setObjectName(QStringLiteral("FCancelFolderButton"));
    connect(Cancel, &QPushButton::clicked, this, &TLibraryPage::CancelAddFolders);
    Row->addWidget(FFolderProgress);
    Row->addWidget(FFolderLabel, 1);
    Row->addWidget(Cancel);
    FFolderBar->hide();
}

void TLibraryPage::AddFolder() {
    QFileDialog Dialog(window(), QStringLiteral("Add Folder"));
    Dialog.setAcceptMode(QFileDialog::AcceptOpen);
    Dialog.setFileMode(QFileDialog::Directory);
    Dialog.setOption(QFileDialog::ShowDirsOnly);
    if (ExecModal(Dialog) != QDialog::Accepted)
        return;
    QByteArrayList Folders;
    for (const QUrl &Folder : Dialog.selectedUrls())
        Folders.append(TMusicLibrary::LocalSource(Folder));
    AddFolders(Folders);
}

void TLibraryPage::AddFolders(const QByteArrayList &Folders) {
    if (!FFolderScan->Running()) {
        FFolderAdded = FFolderFound = 0;
        FFolderLabel->setText(QStringLiteral("Adding folder..."));
    }
    FFolderBar->show();
    FFolderScan->Start(Folders);
}

void TLibraryPage::CancelAddFolders() {
    FFolderScan->Cancel();
}

void TLibraryPage::OnFolderRowsFound(const QByteArrayList &Paths) {
    // Files already there are left out silently: adding a folder again adds what is new.
    FFolderAdded += FLibrary.AddBatch(Paths);
    FFolderFound += int(Paths.size());
}

void TLibraryPage::OnFolderWalkEnded(bool Cancelled) {
    if (FFolderScan->Running())
        return; // more folders were asked for meanwhile
    FFolderBar->hide();
    if (FFolderAdded > 0)
        SaveLibrary();
    if (!Cancelled && FFolderFound == 0)
        ShowErrorBox(window(), QStringLiteral("No audio file was found in the folder."));
}

void TLibraryPage::SetLibraryFolders(TLibraryFolders *Folders) {
    FFolders = Folders;
    FLibraryFoldersAction->setEnabled(Folders != nullptr);
    if (!Folders)
        return;
    connect(Folders, &TLibraryFolders::Added, this, [this] {
        // Saved once the walk or the burst of changes is over, not per batch.
        if (!FSaveDelay.isActive())
            FSaveDelay.start();
    });
    connect(Folders, &TLibraryFolders::WatchLimitHit, this, [this] {
        FNoticeLabel->setText(QStringLiteral(
            "The system's limit of watched folders is reached: files added to some library "
            "folders appear at the next start."));
        FNoticeLabel->show();
    });
}

void TLibraryPage::EditLibraryFolders() {
    if (!FFolders)
        return;
    TLibraryFoldersDialog Dialog(FFolders->Folders(), window());
    if (ExecModal(Dialog) != QDialog::Accepted)
        return;
    const QByteArrayList Folders = Dialog.Folders();
    LibraryFoldersText = TLibraryFolders::FoldersValue(Folders);
    if (!WriteIniText(IniFileName, SettingsKey::LibraryFolders, LibraryFoldersText))
        ShowErrorBox(window(), QStringLiteral("The settings could not be saved to ") + IniFileName);
    FFolders->SetFolders(Folders);
}

void TLibraryPage::ShowFirstHint() {
    if (PopHitCount > 4 || FLibrary.rowCount() > 0)
        return;
    const QPoint Corner = FAddButton->mapToGlobal(FAddButton->rect().bottomRight());
    ShowBalloonTip(FAddButton->toolTip(), Corner.x(), Corner.y(), 5, QStringLiteral("Step 1 of 2"));
}

void TLibraryPage::ShowSecondHint() {
    if (PopHitCount > 4)
        return;
    const QPoint Corner = FPlayOnBox->mapToGlobal(FPlayOnBox->rect().bottomRight());
    ShowBalloonTip(FPlayOnBox->toolTip(), Corner.x(), Corner.y(), 5, QStringLiteral("Step 2 of 2"));
    PopHitCount += 1;
}
