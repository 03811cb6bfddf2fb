#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// Tells how to open this computer's web remote on a phone: the address as text and as a
// QR code a phone camera reads; or, while the web remote is turned off, how to turn it on.
class TPhoneRemoteDialog : public QDialog {
    Q_OBJECT
public:
    // LocalIP and Port: where phones on the network reach this computer's media server.
    TPhoneRemoteDialog(const QByteArray &LocalIP, quint16 Port, bool WebRemoteOn,
                       QWidget *Parent = nullptr);

    QLabel *FHintLabel = nullptr;
    QLabel *FAddressLabel = nullptr;
    QLabel *FCodeLabel = nullptr;
    QPushButton *FCloseButton = nullptr;

private:
    void ShowCode(const QByteArray &Text);
};
