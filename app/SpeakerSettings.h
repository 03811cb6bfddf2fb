#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QObject>
#include <QString>

#include "ReplayGain.h"

// The speaker's own settings the user may change while it runs: how much earlier this room
// plays (an amplifier or wireless speaker delays it) and the sound output. Whoever applies
// them reads them here and follows the signals.
class TSpeakerSettings : public QObject {
    Q_OBJECT
public:
    static constexpr int MaxLatencyMs = 2000;
    static constexpr int MaxDeviceBytes = 1024;

    int LatencyMs() const { return FLatencyMs; }
    // The libmpv audio-device name; empty: the default output.
    const QByteArray &AudioDevice() const { return FAudioDevice; }

    // From the settings file's lines; a value out of range or malformed counts as the default.
    void Load(const QByteArrayList &Ini);
    // Each writes the settings file (IniFile) and tells the change; false when the value is
    // refused or the file could not be written (nothing changes then).
    bool SetLatencyMs(const QString &IniFile, int Ms);
    bool SetAudioDevice(const QString &IniFile, const QByteArray &Device);

    static bool IsDeviceName(const QByteArray &Device);

    // The speaker's name as other computers show it: the user's, else the computer's name.
    QString Name() const;
    // Name cleaned (CleanSpeakerName); an empty one goes back to the computer's name.
    bool SetName(const QString &IniFile, const QString &Name);
    // ReplayGain, as libmpv applies it to every track.
    const TReplayGain &ReplayGain() const { return FReplayGain; }
    bool SetReplayGain(const QString &IniFile, const TReplayGain &Gain);

Q_SIGNALS:
    void LatencyChanged(int Ms);
    void AudioDeviceChanged(const QByteArray &Device);
    void NameChanged(const QString &Name);
    void ReplayGainChanged(const TReplayGain &Gain);

private:
    void LoadReplayGain(const QByteArrayList &Ini);

    TReplayGain FReplayGain;
    int FLatencyMs = 0;
    QByteArray FAudioDevice;
    QString FName; // empty: the computer's name
};

// The program's one set of speaker settings.
TSpeakerSettings &SpeakerSettings();
