#include "SpeakerSettingsDialog.h"

#include "SpeakerName.h"
#include "SpeakerSettings.h"

#include <QCheckBox>
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

namespace {

QSpinBox *GainBox(QWidget *Parent, const QString &Name, int Db, const QString &Tip) {
    auto *Box = new QSpinBox(Parent);
    Box->setObjectName(Name);
    Box->setRange(TReplayGain::MinDb, TReplayGain::MaxDb);
    Box->setSuffix(QStringLiteral(" dB"));
    Box->setValue(Db);
    Box->setToolTip(Tip);
    return Box;
}

} // namespace

void TSpeakerSettingsDialog::AddReplayGain(const TReplayGain &Gain) {
    using TMode = TReplayGain::TMode;
    FReplayGainBox = new QComboBox(this);
    FReplayGainBox->setObjectName(QStringLiteral("FReplayGainBox"));
    for (const TMode Mode : {TMode::Off, TMode::Track, TMode::Album})
        FReplayGainBox->addItem(QString::fromLatin1(ReplayGainModeName(Mode)), int(Mode));
    FReplayGainBox->setCurrentIndex(FReplayGainBox->findData(int(Gain.Mode)));
    FReplayGainBox->setToolTip(QStringLiteral(
        "Plays each track at the loudness its ReplayGain tags give: the track's own, or the "
        "album's, which keeps the album's quiet and loud tracks as they were recorded."));
    FPreampBox = GainBox(this, QStringLiteral("FPreampBox"), Gain.PreampDb,
                         QStringLiteral("Added to the tags' gain."));
    FPreventClippingBox = new QCheckBox(QStringLiteral("Prevent clipping"), this);
    FPreventClippingBox->setObjectName(QStringLiteral("FPreventClippingBox"));
    FPreventClippingBox->setChecked(Gain.PreventClipping);
    FFallbackBox = GainBox(this, QStringLiteral("FFallbackBox"), Gain.FallbackDb,
                           QStringLiteral("The gain of a track without ReplayGain tags."));
    // Above the buttons, the last row.
    auto *Layout = static_cast<QFormLayout *>(layout());
    int Row = Layout->rowCount() - 1;
    Layout->insertRow(Row++, QStringLiteral("ReplayGain:"), FReplayGainBox);
    Layout->insertRow(Row++, QStringLiteral("Pre-amp:"), FPreampBox);
    Layout->insertRow(Row++, QString(), FPreventClippingBox);
    Layout->insertRow(Row, QStringLiteral("Untagged tracks:"), FFallbackBox);
    const auto Enable = [this] {
        const bool On = FReplayGainBox->currentData().toInt() != int(TMode::Off);
        FPreampBox->setEnabled(On);
        FPreventClippingBox->setEnabled(On);
        FFallbackBox->setEnabled(On);
    };
    connect(FReplayGainBox, &QComboBox::currentIndexChanged, this, Enable);
    Enable();
}

TReplayGain TSpeakerSettingsDialog::ReplayGain() const {
    if (!FReplayGainBox)
        return {};
    return {TReplayGain::TMode(FReplayGainBox->currentData().toInt()), FPreampBox->value(),
            FPreventClippingBox->isChecked(), FFallbackBox->value()};
}
