#include "SelComputerForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

TFormSelComputer::TFormSelComputer(QWidget *Parent) : QDialog(Parent) {
    setWindowTitle(QStringLiteral("Select a computer to play"));
    setFixedSize(280, 239);

    Label1 = new QLabel(QStringLiteral("Computer name or IP:"), this);
    suiListBox1 = new QListWidget(this);
    suiListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ButtonOK = new QPushButton(QStringLiteral("OK"), this);
    ButtonOK->setDefault(true);
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);

    auto *Buttons = new QHBoxLayout;
    Buttons->addStretch(1);
    Buttons->addWidget(ButtonOK);
    Buttons->addWidget(Button2);
    auto *Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(8, 8, 8, 8);
    Layout->addWidget(Label1);
    Layout->addWidget(suiListBox1, 1);
    Layout->addLayout(Buttons);

    connect(ButtonOK, &QPushButton::clicked, this, &TFormSelComputer::suiButtonOKClick);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    // itemDoubleClicked fires on entries only: empty space does nothing.
    connect(suiListBox1, &QListWidget::itemDoubleClicked, this,
            &TFormSelComputer::suiButtonOKClick);
}

void TFormSelComputer::SetComputers(const QStringList &Computers, int Selected) {
    suiListBox1->clear();
    suiListBox1->addItems(Computers);
    if (Selected >= 0 && Selected < suiListBox1->count())
        suiListBox1->setCurrentRow(Selected);
}

QString TFormSelComputer::SelectedComputer() const {
    const QList<QListWidgetItem *> Items = suiListBox1->selectedItems();
    return Items.isEmpty() ? QString() : Items.first()->text();
}

void TFormSelComputer::suiButtonOKClick() {
    if (!suiListBox1->selectedItems().isEmpty())
        accept();
}
