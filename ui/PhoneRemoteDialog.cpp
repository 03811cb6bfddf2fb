#include "PhoneRemoteDialog.h"

#include "QrCode.h"
#include "Settings.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Roughly how wide the code is drawn, quiet zone included, in device-independent pixels.
constexpr int CodeSideTarget = 240;
// Light modules a reader needs around the code.
constexpr int QuietZone = 4;

// Code drawn black on white whatever the colour scheme (dark themes invert nothing a camera
// needs), each module a whole number of device pixels so no edge is blurred.
QImage CodeImage(const TQrCode &Code, qreal DevicePixelRatio) {
    const int Modules = Code.Width + 2 * QuietZone;
    const int ModulePx = std::max(2, int(CodeSideTarget * DevicePixelRatio) / Modules);
    QImage Image(Modules * ModulePx, Modules * ModulePx, QImage::Format_RGB32);
    Image.fill(Qt::white);
    QPainter Painter(&Image);
    for (int Y = 0; Y < Code.Width; ++Y)
        for (int X = 0; X < Code.Width; ++X)
            if (Code.IsDark(X, Y))
                Painter.fillRect((X + QuietZone) * ModulePx, (Y + QuietZone) * ModulePx, ModulePx,
                                 ModulePx, Qt::black);
    Painter.end();
    Image.setDevicePixelRatio(DevicePixelRatio);
    return Image;
}

} // namespace

TPhoneRemoteDialog::TPhoneRemoteDialog(const QByteArray &LocalIP, quint16 Port, bool WebRemoteOn,
                                       QWidget *Parent)
    : QDialog(Parent) {
    setWindowTitle(QStringLiteral("Phone remote"));

    FHintLabel = new QLabel(this);
    FHintLabel->setTextFormat(Qt::PlainText);
    FHintLabel->setWordWrap(true);
    FAddressLabel = new QLabel(this);
    FAddressLabel->setTextFormat(Qt::PlainText);
    FAddressLabel->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                           Qt::TextSelectableByKeyboard);
    FAddressLabel->setAlignment(Qt::AlignCenter);
    FCodeLabel = new QLabel(this);
    FCodeLabel->setAlignment(Qt::AlignCenter);
    FCloseButton = new QPushButton(QStringLiteral("Close"), this);
    FCloseButton->setDefault(true);

    auto *Buttons = new QHBoxLayout;
    Buttons->addStretch();
    Buttons->addWidget(FCloseButton);
    auto *Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(12, 12, 12, 12);
    Layout->addWidget(FHintLabel);
    Layout->addWidget(FAddressLabel);
    Layout->addWidget(FCodeLabel);
    Layout->addLayout(Buttons);
    connect(FCloseButton, &QPushButton::clicked, this, &QDialog::accept);

    if (!WebRemoteOn) {
        QString Where = QStringLiteral("the settings file");
        if (!IniFileName.isEmpty())
            Where += QStringLiteral(" ") + IniFileName;
        FHintLabel->setText(QStringLiteral("The web remote is turned off. To turn it on, set "
                                           "[Server] WebRemote=1 in %1 and start Vellox Player "
                                           "again.")
                                .arg(Where));
        FAddressLabel->hide();
        FCodeLabel->hide();
        return;
    }
    const QByteArray Address = "http://" + LocalIP + ":" + QByteArray::number(Port) + "/";
    FHintLabel->setText(QStringLiteral("Open this address in the web browser of a phone on the "
                                       "same network as this computer, or point its camera at "
                                       "the code."));
    FAddressLabel->setText(QString::fromUtf8(Address));
    ShowCode(Address);
}

void TPhoneRemoteDialog::ShowCode(const QByteArray &Text) {
    const TQrCode Code = EncodeQrCode(Text);
    if (Code.Width == 0) {
        FCodeLabel->hide();
        return;
    }
    FCodeLabel->setPixmap(QPixmap::fromImage(CodeImage(Code, devicePixelRatioF())));
}
