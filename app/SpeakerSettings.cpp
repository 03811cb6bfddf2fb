#include "SpeakerSettings.h"

#include "Settings.h"
#include "SpeakerName.h"

#include <QHostInfo>

#include <algorithm>
#include <utility>

bool TSpeakerSettings::IsDeviceName(const QByteArray &Device) {
    // The name goes to libmpv as it is: no control characters.
    return Device.size() <= MaxDeviceBytes &&
           std::none_of(Device.cbegin(), Device.cend(), [](char C) { return uchar(C) < 0x20; });
}

void TSpeakerSettings::Load(const QByteArrayList &Ini) {
    const qint32 Ms = IniInteger(Ini, SettingsKey::LatencyMs, 0);
    FLatencyMs = Ms >= 0 && Ms <= MaxLatencyMs ? Ms : 0;
    const QByteArray Device = IniValue(Ini, SettingsKey::AudioDevice).value_or(QByteArray());
    FAudioDevice = IsDeviceName(Device) ? Device : QByteArray();
    FName = CleanSpeakerName(IniValue(Ini, SettingsKey::SpeakerName).value_or(QByteArray()));
    LoadReplayGain(Ini);
}

namespace {

bool IsGainDb(int Db) {
    return Db >= TReplayGain::MinDb && Db <= TReplayGain::MaxDb;
}

} // namespace

void TSpeakerSettings::LoadReplayGain(const QByteArrayList &Ini) {
    const TReplayGain Default;
    const auto Db = [&Ini](TIniKey Key, int Fallback) {
        const qint32 Value = IniInteger(Ini, Key, Fallback);
        return IsGainDb(Value) ? Value : Fallback;
    };
    FReplayGain.Mode = ReplayGainModeOf(IniValue(Ini, SettingsKey::ReplayGain).value_or(""))
                           .value_or(Default.Mode);
    FReplayGain.PreampDb = Db(SettingsKey::ReplayGainPreamp, Default.PreampDb);
    FReplayGain.PreventClipping = IniInteger(Ini, SettingsKey::ReplayGainClip, 1) != 0;
    FReplayGain.FallbackDb = Db(SettingsKey::ReplayGainFallback, Default.FallbackDb);
}

bool TSpeakerSettings::SetReplayGain(const QString &IniFile, const TReplayGain &Gain) {
    const auto Db = [](int Value) { return QByteArray::number(Value); };
    if (!IsGainDb(Gain.PreampDb) || !IsGainDb(Gain.FallbackDb) ||
        !WriteIniTexts(IniFile, {{SettingsKey::ReplayGain, ReplayGainModeName(Gain.Mode)},
                                 {SettingsKey::ReplayGainPreamp, Db(Gain.PreampDb)},
                                 {SettingsKey::ReplayGainClip, Gain.PreventClipping ? "1" : "0"},
                                 {SettingsKey::ReplayGainFallback, Db(Gain.FallbackDb)}}))
        return false;
    if (std::exchange(FReplayGain, Gain) != Gain)
        Q_EMIT ReplayGainChanged(Gain);
    return true;
}

bool TSpeakerSettings::SetLatencyMs(const QString &IniFile, int Ms) {
    if (Ms < 0 || Ms > MaxLatencyMs || !WriteIniValues(IniFile, {{SettingsKey::LatencyMs, Ms}}))
        return false;
    if (std::exchange(FLatencyMs, Ms) != Ms)
        Q_EMIT LatencyChanged(Ms);
    return true;
}

bool TSpeakerSettings::SetAudioDevice(const QString &IniFile, const QByteArray &Device) {
    const QByteArray Name = Device.trimmed();
    if (!IsDeviceName(Name) || !WriteIniText(IniFile, SettingsKey::AudioDevice, Name))
        return false;
    if (std::exchange(FAudioDevice, Name) != Name)
        Q_EMIT AudioDeviceChanged(Name);
    return true;
}

QString TSpeakerSettings::Name() const {
    if (!FName.isEmpty())
        return FName;
    const QString Computer = CleanSpeakerName(QHostInfo::localHostName());
    return Computer.isEmpty() ? QStringLiteral("Speaker") : Computer;
}

bool TSpeakerSettings::SetName(const QString &IniFile, const QString &Name) {
    const QString Clean = CleanSpeakerName(Name);
    if (!WriteIniText(IniFile, SettingsKey::SpeakerName, Clean.toUtf8()))
        return false;
    const QString Before = this->Name();
    FName = Clean;
    if (this->Name() != Before)
        Q_EMIT NameChanged(this->Name());
    return true;
}

TSpeakerSettings &SpeakerSettings() {
    static TSpeakerSettings Settings;
    return Settings;
}
