#pragma once

#include <QByteArrayList>
#include <QDialog>

class QListWidget;
class QPushButton;

// "Library Folders...": the folders whose audio files the library keeps in step with, to add
// to or remove from.
class TLibraryFoldersDialog : public QDialog {
    Q_OBJECT
public:
    TLibraryFoldersDialog(const QByteArrayList &Folders, QWidget *Parent = nullptr);

    // The folders listed, in the order shown.
    QByteArrayList Folders() const;
    // Adds Folder unless it is listed (the Add button asks for one).
    void AddFolder(const QByteArray &Folder);

private:
    void AskForFolder();

    QListWidget *FFolderList = nullptr;
    QPushButton *FAddButton = nullptr;
    QPushButton *FRemoveButton = nullptr;
};
