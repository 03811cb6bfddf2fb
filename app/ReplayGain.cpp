#include "ReplayGain.h"

#include "AsciiText.h"

namespace {

constexpr std::pair<TReplayGain::TMode, const char *> ModeNames[] = {
    {TReplayGain::TMode::Off, "Off"},
    {TReplayGain::TMode::Track, "Track"},
    {TReplayGain::TMode::Album, "Album"},
};

} // namespace

QByteArray ReplayGainModeName(TReplayGain::TMode Mode) {
    for (const auto &[Each, Name] : ModeNames)
        if (Each == Mode)
            return Name;
    return {};
}

std::optional<TReplayGain::TMode> ReplayGainModeOf(const QByteArray &Name) {
    for (const auto &[Mode, Each] : ModeNames)
        if (SameTextAscii(TrimBlanks(Name), Each))
            return Mode;
    return std::nullopt;
}
