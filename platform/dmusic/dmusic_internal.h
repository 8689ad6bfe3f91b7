// Looks into the sound layer for its own tests and benchmarks; the program
// never includes this.
#pragma once

#include "platform/dmusic/dmusici.h"
#include "platform/dmusic/mixer.h"

namespace platform::dmusic {

// The performance's mixer while it has an audio device, else none.
const Mixer* MixerOf(IDirectMusicPerformance8* performance);

// Frames the performance's mixers have rendered, also after CloseDown.
// SDL's device thread writes silence of its own while a device is still
// paused after opening, so a recording may hold more frames than this; the
// difference lies wholly before the first rendered frame.
std::uint64_t FramesRendered(IDirectMusicPerformance8* performance);

// Keeps the device's thread out of the mixer between the two calls (it waits
// before its next buffer), so that a test knows exactly at which frame the
// plays it hands over will start. Plays may be handed over meanwhile.
void LockDevice(IDirectMusicPerformance8* performance);
void UnlockDevice(IDirectMusicPerformance8* performance);

// Plays sounding now, read with the device's thread kept out.
std::size_t VoicesSounding(IDirectMusicPerformance8* performance);

// True when the performance has no device or SDL reports it stopped (gone).
bool DeviceStopped(IDirectMusicPerformance8* performance);

}  // namespace platform::dmusic
