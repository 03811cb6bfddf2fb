#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;
class QListWidget;
class QPushButton;

// Lets the user pick the computer to play on from the known computers.
class TSelectComputerDialog : public QDialog {
    Q_OBJECT
public:
    explicit TSelectComputerDialog(QWidget *Parent = nullptr);

    // Fills the list and selects the entry at Selected (none when out of range).
    void SetComputers(const QStringList &Computers, int Selected);
    // The selected entry's text, empty when nothing is selected.
    QString SelectedComputer() const;

    // Closes with OK when an entry is selected; otherwise the dialog stays open.
    void AcceptInput();

    QLabel *FPromptLabel = nullptr;
    QListWidget *FComputerList = nullptr;
    QPushButton *FOKButton = nullptr;
    QPushButton *FCancelButton = nullptr;
};
