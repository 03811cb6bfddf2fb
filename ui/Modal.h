#pragma once

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

// An error box (error icon, one OK button) owned by Parent.
void ShowErrorBox(QWidget *Parent, const QString &Text);
