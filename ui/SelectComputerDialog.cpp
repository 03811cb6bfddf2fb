#include "SelectComputerDialog.h"

#include "AsciiText.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

TSelectComputerDialog::TSelectComputerDialog(QWidget *Parent) : QDialog(Parent) {
    setWindowTitle(QStringLiteral("Select a computer to play"));
    setFixedSize(280, 239);

    FPromptLabel = new QLabel(QStringLiteral("Computer name or IP:"), this);
    FComputerList = new QListWidget(this);
    FComputerList->setSelectionMode(QAbstractItemView::SingleSelection);
    FOKButton = new QPushButton(QStringLiteral("OK"), this);
    FOKButton->setDefault(true);
    FCancelButton = new QPushButton(QStringLiteral("Cancel"), this);

    auto *Buttons = new QHBoxLayout;
    Buttons->addStretch(1);
    Buttons->addWidget(FOKButton);
    Buttons->addWidget(FCancelButton);
    auto *Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(8, 8, 8, 8);
    Layout->addWidget(FPromptLabel);
    Layout->addWidget(FComputerList, 1);
    Layout->addLayout(Buttons);

    connect(FOKButton, &QPushButton::clicked, this, &TSelectComputerDialog::AcceptInput);
    connect(FCancelButton, &QPushButton::clicked, this, &QDialog::reject);
    // itemDoubleClicked fires on entries only: empty space does nothing.
    connect(FComputerList, &QListWidget::itemDoubleClicked, this,
            &TSelectComputerDialog::AcceptInput);
}

void TSelectComputerDialog::SetComputers(const QStringList &Computers, const QString &Shown) {
    FComputerList->clear();
    FComputerList->addItems(Computers);
    const QByteArray Wanted = Shown.toUtf8();
    for (int Row = 0; Row < Computers.size(); ++Row) {
        if (SameNameIgnoringSpaces(Computers[Row].toUtf8(), Wanted)) {
            FComputerList->setCurrentRow(Row);
            return;
        }
    }
}

void TSelectComputerDialog::LabelComputer(int Row, const QString &Label) {
    if (QListWidgetItem *Item = FComputerList->item(Row)) {
        Item->setData(Qt::UserRole, Item->text());
        Item->setText(Label);
    }
}

void TSelectComputerDialog::AllowTyping() {
    if (FNameEdit)
        return;
    FNameEdit = new QLineEdit(this);
    FNameEdit->setObjectName(QStringLiteral("FNameEdit"));
    FNameEdit->setPlaceholderText(QStringLiteral("Name or address"));
    FNameEdit->setAccessibleName(FPromptLabel->text());
    static_cast<QVBoxLayout *>(layout())->insertWidget(2, FNameEdit);
    setFixedSize(280, 270);
}

QString TSelectComputerDialog::SelectedComputer() const {
    if (FNameEdit && !FNameEdit->text().trimmed().isEmpty())
        return FNameEdit->text().trimmed();
    const QList<QListWidgetItem *> Items = FComputerList->selectedItems();
    if (Items.isEmpty())
        return {};
    const QVariant Name = Items.first()->data(Qt::UserRole);
    return Name.isValid() ? Name.toString() : Items.first()->text();
}

void TSelectComputerDialog::AcceptInput() {
    if (!FComputerList->selectedItems().isEmpty() ||
        (FNameEdit && !FNameEdit->text().trimmed().isEmpty()))
        accept();
}
