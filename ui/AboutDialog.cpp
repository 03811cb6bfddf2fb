#include "AboutDialog.h"

#include "AppIcon.h"
#include "Settings.h"

#include <QDesktopServices>
#include <QGridLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

THyperlinkLabel::THyperlinkLabel(QWidget *Parent) : QLabel(Parent) {
    setTextFormat(Qt::PlainText); // the link is drawn by hand: the text is only the address
    setCursor(Qt::PointingHandCursor);
    QFont Underlined = font();
    Underlined.setUnderline(true);
    setFont(Underlined);
    SetHot(false);
}

void THyperlinkLabel::SetHot(bool Hot) {
    QPalette P = palette();
    P.setColor(QPalette::WindowText, Hot ? Qt::red : Qt::blue);
    setPalette(P);
}

void THyperlinkLabel::enterEvent(QEnterEvent *Event) {
    SetHot(true);
    QLabel::enterEvent(Event);
}

void THyperlinkLabel::leaveEvent(QEvent *Event) {
    SetHot(false);
    QLabel::leaveEvent(Event);
}

void THyperlinkLabel::mouseReleaseEvent(QMouseEvent *Event) {
    if (Event->button() == Qt::LeftButton && rect().contains(Event->position().toPoint()) &&
        !FTarget.trimmed().isEmpty())
        QDesktopServices::openUrl(QUrl(FTarget));
    QLabel::mouseReleaseEvent(Event);
}

TAboutDialog::TAboutDialog(QWidget *Parent) : QDialog(Parent) {
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(341, 185);

    FEmblem = new QLabel(this);
    FEmblem->setFixedSize(48, 48);
    FEmblem->setPixmap(AppEmblem(48));
    FProductLabel = new QLabel(this);
    QFont Bold = FProductLabel->font();
    Bold.setBold(true);
    FProductLabel->setFont(Bold);
    FWebSiteLink = new THyperlinkLabel(this);
    FOKButton = new QPushButton(QStringLiteral("OK"), this);
    FOKButton->setDefault(true);

    auto *Layout = new QGridLayout(this);
    Layout->setContentsMargins(12, 12, 12, 12);
    Layout->setHorizontalSpacing(16);
    Layout->addWidget(FEmblem, 0, 0, 2, 1, Qt::AlignTop);
    Layout->addWidget(FProductLabel, 0, 1);
    Layout->addWidget(FWebSiteLink, 1, 1, Qt::AlignTop | Qt::AlignLeft);
    Layout->setRowStretch(1, 1);
    Layout->addWidget(FOKButton, 2, 0, 1, 2, Qt::AlignRight);

    connect(FOKButton, &QPushButton::clicked, this, &QDialog::accept);
    FillTexts();
}

void TAboutDialog::FillTexts() {
    FProductLabel->setText(QStringLiteral("Vellox Player ") + AppVersion);
    const QString Site = GetWebSiteURL();
    FWebSiteLink->setText(Site);
    FWebSiteLink->SetTarget(Site);
}
