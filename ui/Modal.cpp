#include "Modal.h"

#include <QDialog>
#include <QMessageBox>

namespace {
TModalHook &Hook() {
    static TModalHook Instance;
    return Instance;
}
} // namespace

void SetModalHook(TModalHook NewHook) {
    Hook() = std::move(NewHook);
}

int ExecModal(QDialog &Dialog) {
    if (Hook())
        return Hook()(Dialog);
    return Dialog.exec();
}

void ShowErrorBox(QWidget *Parent, const QString &Text) {
    QMessageBox Box(QMessageBox::Critical, QStringLiteral("Error"), Text, QMessageBox::Ok, Parent);
    ExecModal(Box);
}
