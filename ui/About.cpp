#include "About.h"

#include "AppIcon.h"
#include "Utils.h"

#include <QDesktopServices>
#include <QGridLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

THyperlinkLabel::THyperlinkLabel(QWidget *Parent) : QLabel(Parent) {
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

TFormAbout::TFormAbout(QWidget *Parent) : QDialog(Parent) {
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(341, 185);

    Image1 = new QLabel(this);
    Image1->setFixedSize(48, 48);
    Image1->setPixmap(AppEmblem(48));
    LblProductName = new QLabel(this);
    QFont Bold = LblProductName->font();
    Bold.setBold(true);
    LblProductName->setFont(Bold);
    suiURL = new THyperlinkLabel(this);
    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setDefault(true);

    auto *Layout = new QGridLayout(this);
    Layout->setContentsMargins(12, 12, 12, 12);
    Layout->setHorizontalSpacing(16);
    Layout->addWidget(Image1, 0, 0, 2, 1, Qt::AlignTop);
    Layout->addWidget(LblProductName, 0, 1);
    Layout->addWidget(suiURL, 1, 1, Qt::AlignTop | Qt::AlignLeft);
    Layout->setRowStretch(1, 1);
    Layout->addWidget(Button1, 2, 0, 1, 2, Qt::AlignRight);

    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    FormCreate();
}

void TFormAbout::FormCreate() {
    LblProductName->setText(QStringLiteral("Vellox Player ") + AppVersion);
    const QString Site = TUtils::GetWebSiteURL();
    suiURL->setText(Site);
    suiURL->SetTarget(Site);
}
