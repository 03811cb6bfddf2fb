#pragma once

#include <QByteArray>
#include <QDialog>
#include <QList>
#include <QString>

#include <utility>

#include "ReplayGain.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

// The speaker's settings: its latency (how much earlier this room plays) and its sound output.
class TSpeakerSettingsDialog : public QDialog {
    Q_OBJECT
public:
    // Devices: libmpv's outputs (name, description); "Default" comes first. A chosen device
    // missing from the list stays offered under its name.
    TSpeakerSettingsDialog(const QList<std::pair<QByteArray, QString>> &Devices, int LatencyMs,
                           const QByteArray &Device, QWidget *Parent = nullptr);

    int LatencyMs() const;
    // Empty: the default output.
    QByteArray Device() const;

    // The name other computers show this speaker by.
    void SetSpeakerName(const QString &Name);
    QString SpeakerName() const;

    QSpinBox *FLatencyBox = nullptr;
    QLineEdit *FNameEdit = nullptr;
    QComboBox *FDeviceBox = nullptr;

    // The "ReplayGain" rows, above the buttons, showing Gain.
    void AddReplayGain(const TReplayGain &Gain);
    TReplayGain ReplayGain() const;

    QComboBox *FReplayGainBox = nullptr;
    QSpinBox *FPreampBox = nullptr;
    QCheckBox *FPreventClippingBox = nullptr;
    QSpinBox *FFallbackBox = nullptr;
};
