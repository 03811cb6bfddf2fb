// The library page's play-to flow: the known computers in the "Play on" box, the checks of a
// typed computer, and which rows go where.
#include "LibraryPage.h"

#include "AsciiText.h"
#include "LibraryBrowser.h"
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
#include <QMenu>

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
    for (int Row = 0; Row < Items.size(); ++Row) {
        // A speaker shows by its name; the address behind it is what plays.
        FPlayOnBox->addItem(FPresence ? FPresence->Label(Items[Row].toUtf8()) : Items[Row],
                            Items[Row]);
        if (const QString Label = WithGroupMembers(Items[Row]); Label != Items[Row])
            FPlayOnBox->setItemData(Row, Label, Qt::ToolTipRole);
    }
    FPlayOnBox->setCurrentText(Text);
}

QString TLibraryPage::TypedComputer() const {
    const QString Text = FPlayOnBox->currentText();
    const int Row = FPlayOnBox->findText(Text, Qt::MatchExactly);
    const QString Address = Row >= 0 ? FPlayOnBox->itemData(Row).toString() : QString();
    return Address.isEmpty() ? Text : Address;
}

void TLibraryPage::CreatePlayModeActions() {
    const auto Make = [this](const char *Name, const QString &Caption, TPlayMode Mode,
                             bool Browsed) {
        auto *A = new QAction(Caption, this);
        A->setObjectName(QLatin1String(Name));
        // The browse panel's entries play the album chosen there, not rows chosen before.
        connect(
            A, &QAction::triggered, this,
            [this, Mode, Browsed] {
                if (Browsed)
                    FLibraryView->clearSelection();
                PlayOnTypedComputerAs(Mode);
            },
            Qt::QueuedConnection);
        return A;
    };
    FPlayModeActions = {
        Make("FPlayNowAction", QStringLiteral("Play Now"), TPlayMode::PlayNow, false),
        Make("FPlayNextAction", QStringLiteral("Play Next"), TPlayMode::PlayNext, false),
        Make("FAddToQueueAction", QStringLiteral("Add to Queue"), TPlayMode::Add, false)};
    FPlayMenu->insertActions(FConnectAction, FPlayModeActions);
    FPlayMenu->insertSeparator(FConnectAction);
    QAction *First = FLibraryMenu->actions().value(0);
    FLibraryMenu->insertActions(First, FPlayModeActions);
    FLibraryMenu->insertSeparator(First);
    FBrowseMenu = new QMenu(this);
    FBrowseMenu->setObjectName(QStringLiteral("FBrowseMenu"));
    FBrowseMenu->addActions(
        {Make("FBrowsePlayNowAction", QStringLiteral("Play Now"), TPlayMode::PlayNow, true),
         Make("FBrowsePlayNextAction", QStringLiteral("Play Next"), TPlayMode::PlayNext, true),
         Make("FBrowseAddToQueueAction", QStringLiteral("Add to Queue"), TPlayMode::Add, true)});
    FBrowser->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(FBrowser, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &At) { FBrowseMenu->popup(FBrowser->mapToGlobal(At)); });
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

void TLibraryPage::PlayOnTypedComputerAs(TPlayMode Mode) {
    const QString Text = QString::fromUtf8(AsciiLower(TypedComputer().toUtf8().replace(' ', "")));
    const TTargetCheck Check = CheckTarget(Text);
    if (!TargetUsable(window(), Check))
        return;
    PlayLibraryOn(Check == TTargetCheck::ThisComputer ? QStringLiteral("localhost") : Text, Mode);
}

void TLibraryPage::PlayOnThisComputer() {
    PlayLibraryOn(QStringLiteral("localhost"));
}

void TLibraryPage::PlayOnOtherComputer() {
    TSelectComputerDialog Dialog(window());
    const QStringList Computers = KnownComputers();
    Dialog.SetComputers(Computers, FPlayOnBox->currentText());
    // Playing on one room of a group plays on the whole group.
    for (int Row = 0; Row < Computers.size(); ++Row) {
        const QString Named =
            FPresence ? FPresence->Label(Computers[Row].toUtf8()) : Computers[Row];
        if (const QString Label = WithGroupMembers(Computers[Row]); Label != Computers[Row])
            Dialog.LabelComputer(Row, Named + Label.mid(Computers[Row].size()));
        else if (Named != Computers[Row])
            Dialog.LabelComputer(Row, Named);
    }
    if (ExecModal(Dialog) != QDialog::Accepted)
        return;
    const QString Text = Dialog.SelectedComputer();
    FPlayOnBox->setCurrentText(Text);
    PlayLibraryOn(SameNameIgnoringSpaces(Text.toUtf8(), "My Computer") ? QStringLiteral("localhost")
                                                                       : Text);
}

void TLibraryPage::ConnectToTypedComputer() {
    FPlayOnBox->setCurrentText(FPlayOnBox->currentText().trimmed());
    const QString Text = TypedComputer();
    const TTargetCheck Check = CheckTarget(Text);
    if (!TargetUsable(window(), Check))
        return;
    Q_EMIT ConnectRequested(Check == TTargetCheck::ThisComputer ? QStringLiteral("localhost")
                                                                : Text);
}

void TLibraryPage::PlayLibraryOn(const QString &Host, TPlayMode Mode) {
    // The selection, else what a search, a sort or a browsed album shows, in the shown order.
    QList<int> Rows = SelectedRowsShown();
    if (Rows.isEmpty() && !FTableModel->ShowsAll()) {
        Rows = FTableModel->LibraryRows();
        if (Rows.isEmpty())
            return; // no rows is all rows to the router: play nothing rather
    }
    Q_EMIT PlayRequested(Host, Rows, Mode);
}
