#pragma once

#include "MpvOptions.h"
#include "ReplayGain.h"

// The libmpv options that apply Gain, every one of them each time, so that a change made while
// playing leaves nothing of the settings before. libmpv's untagged-file gain applies even with
// ReplayGain off: it is 0 then.
TMpvOptions ReplayGainOptions(const TReplayGain &Gain);
