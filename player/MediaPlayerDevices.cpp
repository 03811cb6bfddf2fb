// What libmpv offers around playing: whether it works at all, its sound outputs, and the
// settings changed while it plays.
#include "MediaPlayer.h"

#include "MediaPlayerNames.h"
#include "ReplayGainOptions.h"

#include <mpv/client.h>

using namespace MpvNames;

bool MediaLibraryUsable() {
    bool Ok = false;
    if (mpv_handle *H = mpv_create()) {
        mpv_set_option_string(H, "config", "no");
        mpv_set_option_string(H, "terminal", "no");
        mpv_set_option_string(H, "idle", "yes");
        mpv_set_option_string(H, "vid", "no");
        Ok = mpv_initialize(H) >= 0;
        mpv_terminate_destroy(H);
    }
    return Ok;
}

QList<std::pair<QByteArray, QString>> TMediaPlayer::AudioDevices() const {
    QList<std::pair<QByteArray, QString>> Devices;
    mpv_node List{};
    if (!FMpv || mpv_get_property(FMpv, "audio-device-list", MPV_FORMAT_NODE, &List) < 0)
        return Devices;
    if (List.format == MPV_FORMAT_NODE_ARRAY)
        for (int I = 0; I < List.u.list->num; ++I) {
            const mpv_node &Entry = List.u.list->values[I];
            if (Entry.format != MPV_FORMAT_NODE_MAP)
                continue;
            QByteArray Name;
            QString Description;
            for (int K = 0; K < Entry.u.list->num; ++K) {
                const QByteArray Key = Entry.u.list->keys[K];
                if (Key == "name")
                    Name = NodeString(Entry.u.list->values[K]).toUtf8();
                else if (Key == "description")
                    Description = NodeString(Entry.u.list->values[K]);
            }
            if (!Name.isEmpty())
                Devices.append({Name, Description});
        }
    mpv_free_node_contents(&List);
    return Devices;
}

void TMediaPlayer::SetAudioDevice(const QByteArray &Device) {
    if (!FMpv)
        return;
    const QByteArray Name = Device.isEmpty() ? QByteArray("auto") : Device;
    const char *Value = Name.constData();
    mpv_set_property_async(FMpv, 0, "audio-device", MPV_FORMAT_STRING, &Value);
}

void TMediaPlayer::SetReplayGain(const TReplayGain &Gain) {
    if (!FMpv)
        return;
    for (const auto &[Key, Value] : ReplayGainOptions(Gain)) {
        const char *Text = Value.constData();
        mpv_set_property_async(FMpv, 0, Key.constData(), MPV_FORMAT_STRING, &Text);
    }
}
