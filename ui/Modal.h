#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QDialog;
class QWidget;

// Every modal dialog of the program runs through ExecModal, so that tests can answer
// message boxes, file dialogs and forms without a blocking event loop.
using TModalHook = std::function<int(QDialog &Dialog)>;

// Replaces running dialogs with Hook (its return value is the dialog's result);
// an empty hook restores the real modal run.
void SetModalHook(TModalHook Hook);

// Shows Dialog modally and returns its result (QDialog::Accepted / Rejected, or a
// QMessageBox button).
int ExecModal(QDialog &Dialog);

// An error box (error icon, one OK button) owned by Parent; Text is shown as plain text.
void ShowErrorBox(QWidget *Parent, const QString &Text);

// The modal loops ExecModal runs now. Whatever frees objects the user may be looking at
// (ended pages) waits while one runs: the object that opened the box may be one of them.
class TModalLoops : public QObject {
    Q_OBJECT
public:
    bool Running() const { return FDepth > 0; }
    void Enter() { ++FDepth; }
    void Leave();

Q_SIGNALS:
    // The last running modal loop has returned.
    void AllEnded();

private:
    int FDepth = 0;
};

TModalLoops &ModalLoops();
