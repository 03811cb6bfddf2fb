#include "SpeakerSettingsDialog.h"

#include "SpeakerName.h"
#include "SpeakerSettings.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QSpinBox>

TSpeakerSettingsDialog::TSpeakerSettingsDialog(const QList<std::pair<QByteArray, QString>> &Devices,
                                               int LatencyMs, const QByteArray &Device,
                                               QWidget *Parent)
    : QDialog(Parent) {
    setWindowTitle(QStringLiteral("Speaker Settings"));
    FLatencyBox = new QSpinBox(this);
    FLatencyBox->setObjectName(QStringLiteral("FLatencyBox"));
    FLatencyBox->setRange(0, TSpeakerSettings::MaxLatencyMs);
    FLatencyBox->setSuffix(QStringLiteral(" ms"));
    FLatencyBox->setValue(LatencyMs);
    FLatencyBox->setToolTip(QStringLiteral(
        "This room plays that much earlier, to make up for an amplifier or wireless speaker."));
    FDeviceBox = new QComboBox(this);
    FDeviceBox->setObjectName(QStringLiteral("FDeviceBox"));
    FDeviceBox->addItem(QStringLiteral("Default"), QByteArray());
    bool Listed = Device.isEmpty();
    for (const auto &[Name, Description] : Devices) {
        if (Name == "auto")
            continue; // that is "Default"
        const QString Shown = Description.isEmpty()
                                  ? QString::fromUtf8(Name)
                                  : Description + " (" + QString::fromUtf8(Name) + ')';
        FDeviceBox->addItem(Shown, Name);
        Listed = Listed || Name == Device;
    }
    if (!Listed)
        FDeviceBox->addItem(QString::fromUtf8(Device), Device);
    FDeviceBox->setCurrentIndex(std::max(0, FDeviceBox->findData(Device)));

    auto *Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto *Layout = new QFormLayout(this);
    Layout->addRow(QStringLiteral("Latency:"), FLatencyBox);
    Layout->addRow(QStringLiteral("Output device:"), FDeviceBox);
    Layout->addRow(Buttons);
    // The speaker's name, first.
    FNameEdit = new QLineEdit(this);
    FNameEdit->setObjectName(QStringLiteral("FNameEdit"));
    FNameEdit->setMaxLength(MaxSpeakerNameChars);
    FNameEdit->setToolTip(QStringLiteral("Other computers and phones show this speaker so."));
    Layout->insertRow(0, QStringLiteral("Name:"), FNameEdit);

    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

int TSpeakerSettingsDialog::LatencyMs() const {
    return FLatencyBox->value();
}

QByteArray TSpeakerSettingsDialog::Device() const {
    return FDeviceBox->currentData().toByteArray();
}

void TSpeakerSettingsDialog::SetSpeakerName(const QString &Name) {
    FNameEdit->setText(Name);
}

QString TSpeakerSettingsDialog::SpeakerName() const {
    return FNameEdit->text();
}
