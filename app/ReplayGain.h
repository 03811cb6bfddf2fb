#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>

// How loud a track plays by its ReplayGain tags: which gain counts, a pre-amp on top, whether
// the gain is held below clipping, and the gain of a file without tags.
struct TReplayGain {
    enum class TMode : quint8 { Off, Track, Album };
    static constexpr int MinDb = -15;
    static constexpr int MaxDb = 15;

    TMode Mode = TMode::Album;
    int PreampDb = 0;
    bool PreventClipping = true;
    int FallbackDb = 0;

    bool operator==(const TReplayGain &) const = default;
};

// "Off", "Track", "Album"; and back, ASCII case ignored (nothing for other text).
QByteArray ReplayGainModeName(TReplayGain::TMode Mode);
std::optional<TReplayGain::TMode> ReplayGainModeOf(const QByteArray &Name);
