// The "BOUNCE" sound: a ball dropped on a wooden floor, bouncing four times
// with ever shorter gaps, each hit a short pitched thump that falls in pitch
// and dies away. Mono, 16-bit, 11025 samples per second, 6712 samples
// (about 0.61 s), as a RIFF WAVE file of 13468 bytes.
#pragma once

#include <cstdint>
#include <vector>

namespace bounce {

inline constexpr int kSampleRate = 11025;
inline constexpr int kSampleCount = 6712;

// The samples; the same on every run.
std::vector<std::int16_t> Synthesize();

// A canonical 44-byte-header PCM WAVE file of mono 16-bit samples.
std::vector<std::uint8_t> EncodeWave(const std::vector<std::int16_t>& samples, int sampleRate);

}  // namespace bounce
