// Looks into the sound layer for its own tests and benchmarks; the program
// never includes this.
#pragma once

#include "platform/dmusic/dmusici.h"
#include "platform/dmusic/mixer.h"

namespace platform::dmusic {

// The performance's mixer while it has an audio device, else none.
const Mixer* MixerOf(IDirectMusicPerformance8* performance);

// True when the performance has no device or SDL reports it stopped (gone).
bool DeviceStopped(IDirectMusicPerformance8* performance);

}  // namespace platform::dmusic
