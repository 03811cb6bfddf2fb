#include "ReplayGainOptions.h"

TMpvOptions ReplayGainOptions(const TReplayGain &Gain) {
    const bool On = Gain.Mode != TReplayGain::TMode::Off;
    const QByteArray Mode = Gain.Mode == TReplayGain::TMode::Track   ? "track"
                            : Gain.Mode == TReplayGain::TMode::Album ? "album"
                                                                     : "no";
    return {
        {"replaygain", Mode},
        {"replaygain-preamp", QByteArray::number(Gain.PreampDb)},
        // libmpv 0.35 holds the gain below clipping when this is "no", its default; its manual
        // says the opposite.
        {"replaygain-clip", Gain.PreventClipping ? "no" : "yes"},
        {"replaygain-fallback", QByteArray::number(On ? Gain.FallbackDb : 0)},
    };
}
