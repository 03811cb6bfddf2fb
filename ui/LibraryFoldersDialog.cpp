#include "LibraryFoldersDialog.h"

#include "Modal.h"
#include "MusicLibrary.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {
constexpr int PathRole = Qt::UserRole + 1;
} // namespace

TLibraryFoldersDialog::TLibraryFoldersDialog(const QByteArrayList &Folders, QWidget *Parent)
    : QDialog(Parent) {
    setWindowTitle(QStringLiteral("Library Folders"));
    auto *Layout = new QVBoxLayout(this);
    auto *Text = new QLabel(QStringLiteral("The audio files in these folders are added to the "
                                           "music library, and so are files put there later."),
                            this);
    Text->setWordWrap(true);
    FFolderList = new QListWidget(this);
    FFolderList->setObjectName(QStringLiteral("FFolderList"));
    FFolderList->setAccessibleName(QStringLiteral("Library folders"));
    FFolderList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    FAddButton = new QPushButton(QStringLiteral("Add..."), this);
    FRemoveButton = new QPushButton(QStringLiteral("Remove"), this);
    FRemoveButton->setObjectName(QStringLiteral("FRemoveFolderButton"));
    auto *Buttons = new QHBoxLayout;
    Buttons->addWidget(FAddButton);
    Buttons->addWidget(FRemoveButton);
    Buttons->addStretch(1);
    auto *Box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    Layout->addWidget(Text);
    Layout->addWidget(FFolderList, 1);
    Layout->addLayout(Buttons);
    Layout->addWidget(Box);
    connect(Box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // The folder box runs after the click's own event has returned.
    connect(FAddButton, &QPushButton::clicked, this, &TLibraryFoldersDialog::AskForFolder,
            Qt::QueuedConnection);
    connect(FRemoveButton, &QPushButton::clicked, this,
            [this] { qDeleteAll(FFolderList->selectedItems()); });
    const auto Update = [this] {
        FRemoveButton->setEnabled(!FFolderList->selectedItems().isEmpty());
    };
    connect(FFolderList, &QListWidget::itemSelectionChanged, this, Update);
    for (const QByteArray &Folder : Folders)
        AddFolder(Folder);
    Update();
    resize(480, 320);
}

void TLibraryFoldersDialog::AddFolder(const QByteArray &Folder) {
    if (Folder.isEmpty() || Folders().contains(Folder))
        return;
    if (Folder.contains(';')) {
        // The settings file keeps the folders separated by ";".
        ShowErrorBox(this, QStringLiteral("A folder whose name holds \";\" cannot be a library "
                                          "folder: ") +
                               QFile::decodeName(Folder));
        return;
    }
    auto *Item = new QListWidgetItem(QFile::decodeName(Folder), FFolderList);
    Item->setData(PathRole, Folder);
}

QByteArrayList TLibraryFoldersDialog::Folders() const {
    QByteArrayList Out;
    for (int Row = 0; Row < FFolderList->count(); ++Row)
        Out.append(FFolderList->item(Row)->data(PathRole).toByteArray());
    return Out;
}

void TLibraryFoldersDialog::AskForFolder() {
    QFileDialog Dialog(this, QStringLiteral("Add Library Folder"));
    Dialog.setFileMode(QFileDialog::Directory);
    Dialog.setOption(QFileDialog::ShowDirsOnly);
    if (ExecModal(Dialog) != QDialog::Accepted)
        return;
    for (const QUrl &Folder : Dialog.selectedUrls()) {
        QByteArray Path = TMusicLibrary::LocalSource(Folder);
        while (Path.size() > 1 && Path.endsWith('/'))
            Path.chop(1);
        AddFolder(Path);
    }
}
