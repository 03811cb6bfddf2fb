#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// Lets the user pick the computer to play on from the known computers.
class TSelectComputerDialog : public QDialog {
    Q_OBJECT
public:
    explicit TSelectComputerDialog(QWidget *Parent = nullptr);

    // Fills the list and selects the first entry that names Shown, the computer the caller's
    // box shows (spaces and A-Z case ignored); none when no entry does.
    void SetComputers(const QStringList &Computers, const QString &Shown);
    // Shows Row's entry as Label; choosing it still gives the computer's own name.
    void LabelComputer(int Row, const QString &Label);
    // Adds a field for a name or address that is not in the list; typed text wins.
    void AllowTyping();
    // The typed text, else the selected entry's text; empty when there is neither.
    QString SelectedComputer() const;

    // Closes with OK when an entry is selected (or a name typed); otherwise stays open.
    void AcceptInput();

    QLabel *FPromptLabel = nullptr;
    QListWidget *FComputerList = nullptr;
    QPushButton *FOKButton = nullptr;
    QPushButton *FCancelButton = nullptr;
    QLineEdit *FNameEdit = nullptr; // only once typing is allowed
};
