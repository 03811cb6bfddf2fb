#include "MediaPlayer.h"

#include <mpv/client.h>

#include <algorithm>
#include <cmath>

void TMediaPlayer::SetSpeed(double Speed) {
    if (!FMpv || !std::isfinite(Speed))
        return;
    double Value = std::clamp(Speed, 1 - MaxSpeedTrim, 1 + MaxSpeedTrim);
    mpv_set_property_async(FMpv, 0, "speed", MPV_FORMAT_DOUBLE, &Value);
}

std::optional<double> TMediaPlayer::AudioPts() const {
    if (!FMpv || !FActive || !FRestarted)
        return std::nullopt;
    // The one read that waits for mpv, for a moment (its core lock, no I/O): a reading is
    // worth only as much as the time it is stamped with, so it cannot come back later.
    double Value = 0;
    if (mpv_get_property(FMpv, "audio-pts", MPV_FORMAT_DOUBLE, &Value) < 0 || !std::isfinite(Value))
        return std::nullopt;
    return Value;
}
