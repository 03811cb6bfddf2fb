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

void TModalLoops::Leave() {
    if (FDepth > 0 && --FDepth == 0)
        Q_EMIT AllEnded();
}

TModalLoops &ModalLoops() {
    static TModalLoops Loops;
    return Loops;
}

int ExecModal(QDialog &Dialog) {
    struct TLoopScope {
        TLoopScope() { ModalLoops().Enter(); }
        ~TLoopScope() { ModalLoops().Leave(); }
    } Scope;
    if (Hook())
        return Hook()(Dialog);
    return Dialog.exec();
}

void ShowErrorBox(QWidget *Parent, const QString &Text) {
    QMessageBox Box(QMessageBox::Critical, QStringLiteral("Error"), Text, QMessageBox::Ok, Parent);
    // File names and host names end up in these texts.
    Box.setTextFormat(Qt::PlainText);
    ExecModal(Box);
}
