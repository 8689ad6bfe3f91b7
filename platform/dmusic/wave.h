// Reading a RIFF WAVE held in memory and converting its samples to the format
// of an audio device. Plain C++: the parser never reads outside the bytes it
// is given, whatever the chunk sizes claim.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/win32/wintypes.h"

namespace platform::dmusic {

struct WaveFormat {
    int channels = 0;       // 1 or 2
    int samplesPerSec = 0;  // 4000 ... 192000
    int bitsPerSample = 0;  // 8 (unsigned) or 16 (signed, little-endian)
    int blockAlign = 0;     // channels * bitsPerSample / 8
};

// The format and the sample frames of a parsed WAVE; samples points into the
// parsed bytes.
struct WaveView {
    WaveFormat format;
    const BYTE* samples = nullptr;
    std::size_t frameCount = 0;
};

inline constexpr int kMinSampleRate = 4000;
inline constexpr int kMaxSampleRate = 192000;

// S_OK with the view filled, or DMUS_E_INVALIDFILE for anything this layer
// cannot play or does not trust: no RIFF/WAVE header, a chunk reaching past
// the RIFF form or the buffer, a format other than PCM, a channel count other
// than 1 or 2, a rate outside 4000 ... 192000, a sample size other than 8 or
// 16 bits, a block alignment that does not match, a second format or data
// chunk, a data chunk before the format chunk or none at all, or data that is
// no whole number of frames.
HRESULT ParseWave(const BYTE* data, std::size_t size, WaveView* wave);

// Interleaved 16-bit frames at the given rate and channel count (1 or 2):
// 8-bit samples are centred and scaled, mono is copied to both sides and
// stereo averaged for mono, and the rate is changed by linear interpolation
// between neighbouring source frames in exact integer steps, so that the
// result is the same on every machine. The output has
// frameCount * rate / samplesPerSec frames (rounded down).
// Throws std::bad_alloc when the result does not fit in memory.
std::vector<std::int16_t> ConvertWave(const WaveView& wave, int rate, int channels);

}  // namespace platform::dmusic
