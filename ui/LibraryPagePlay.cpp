// The library page's play-to flow: the known computers in the "Play on" box, the checks of a
// typed computer, and which rows go where.
#include "LibraryPage.h"

#include "AsciiText.h"
#include "LibraryTableModel.h"
#include "LibraryView.h"
#include "Modal.h"
#include "PlayTo.h"
#include "Presence.h"
#include "RemoteSession.h"
#include "SelectComputerDialog.h"

#include <QComboBox>
#include <QItemSelectionModel>
#include <QLineEdit>

QStringList TLibraryPage::KnownComputers() const {
    QStringList Names;
    if (FPresence)
        for (const QByteArray &Computer : FPresence->Computers())
            Names.append(QString::fromUtf8(Computer));
    return Names;
}

void TLibraryPage::RefreshComputerCombo() {
    const QStringList Items = KnownComputers();
    const QString Text = FPlayOnBox->currentText();
    FPlayOnBox->clear();
    FPlayOnBox->addItems(Items);
    for (int Row = 0; Row < Items.size(); ++Row)
        if (const QString Label = WithGroupMembers(Items[Row]); Label != Items[Row])
            FPlayOnBox->setItemData(Row, Label, Qt::ToolTipRole);
    FPlayOnBox->setCurrentText(Text);
}

// Shows the error box for a bad "Play on" text; true when the text can be used.
static bool TargetUsable(QWidget *Parent, TTargetCheck Check) {
    if (Check == TTargetCheck::Empty) {
        ShowErrorBox(Parent, QStringLiteral("Please select or input a computer name or IP !"));
        return false;
    }
    if (Check == TTargetCheck::Invalid) {
        ShowErrorBox(Parent, QStringLiteral("Invalid computer name or IP !"));
        return false;
    }
    return true;
}

void TLibraryPage::PlayOnTypedComputer() {
    const QString Text =
        QString::fromUtf8(AsciiLower(FPlayOnBox->currentText().toUtf8().replace(' ', "")));
    const TTargetCheck Check = CheckTarget(Text);
    if (!TargetUsable(window(), Check))
        return;
    PlayLibraryOn(Check == TTargetCheck::ThisComputer ? QStringLiteral("localhost") : Text);
}

void TLibraryPage::PlayOnThisComputer() {
    PlayLibraryOn(QStringLiteral("localhost"));
}

void TLibraryPage::PlayOnOtherComputer() {
    TSelectComputerDialog Dialog(window());
    const QStringList Computers = KnownComputers();
    Dialog.SetComputers(Computers, FPlayOnBox->currentText());
    // Playing on one room of a group plays on the whole group.
    for (int Row = 0; Row < Computers.size(); ++Row)
        if (const QString Label = WithGroupMembers(Computers[Row]); Label != Computers[Row])
            Dialog.LabelComputer(Row, Label);
    if (ExecModal(Dialog) != QDialog::Accepted)
        return;
    const QString Text = Dialog.SelectedComputer();
    FPlayOnBox->setCurrentText(Text);
    PlayLibraryOn(SameNameIgnoringSpaces(Text.toUtf8(), "My Computer") ? QStringLiteral("localhost")
                                                                       : Text);
}

void TLibraryPage::ConnectToTypedComputer() {
    const QString Text = FPlayOnBox->currentText().trimmed();
    FPlayOnBox->setCurrentText(Text);
    const TTargetCheck Check = CheckTarget(Text);
    if (!TargetUsable(window(), Check))
        return;
    Q_EMIT ConnectRequested(Check == TTargetCheck::ThisComputer ? QStringLiteral("localhost")
                                                                : Text);
}

void TLibraryPage::PlayLibraryOn(const QString &Host) {
    // The selection, else what a search, a sort or a browsed album shows, in the shown order.
    QList<int> Rows = SelectedRowsShown();
    if (Rows.isEmpty() && !FTableModel->ShowsAll()) {
        Rows = FTableModel->LibraryRows();
        if (Rows.isEmpty())
            return; // no rows is all rows to the router: play nothing rather
    }
    Q_EMIT PlayRequested(Host, Rows);
}
