#include "bounce_wave.h"

#include <algorithm>
#include <cmath>

namespace bounce {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct Hit {
    double start;      // seconds
    double loudness;   // relative to the first hit
    double lowPitch;   // Hz the thump settles to
    double highPitch;  // Hz at the moment of impact
};

// A ball loses energy at every bounce: the gaps shrink and so does the sound.
constexpr Hit kHits[] = {
    {0.000, 1.00, 72.0, 190.0},
    {0.240, 0.55, 80.0, 205.0},
    {0.400, 0.30, 86.0, 215.0},
    {0.505, 0.16, 90.0, 225.0},
};

// Deterministic noise for the click of the impact.
struct Noise {
    std::uint32_t state = 0x2545F491u;
    double next() {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / 8388608.0 - 1.0;
    }
};

}  // namespace

std::vector<std::int16_t> Synthesize() {
    std::vector<double> wave(kSampleCount, 0.0);
    Noise noise;
    for (const Hit& hit : kHits) {
        double phase = 0.0;
        const int first = static_cast<int>(hit.start * kSampleRate);
        for (int n = first; n < kSampleCount; ++n) {
            const double t = static_cast<double>(n - first) / kSampleRate;
            // The pitch drops quickly as the floor's ring gives way to the thud.
            const double pitch = hit.lowPitch + (hit.highPitch - hit.lowPitch) * std::exp(-t / 0.035);
            phase += 2.0 * kPi * pitch / kSampleRate;
            const double attack = std::min(1.0, t / 0.002);
            const double body = std::exp(-t / 0.070);
            const double overtone = 0.35 * std::exp(-t / 0.025) * std::sin(2.0 * phase + 0.5);
            const double click = 0.30 * std::min(1.0, t / 0.0005) * std::exp(-t / 0.003) * noise.next();
            wave[static_cast<std::size_t>(n)] += hit.loudness * (attack * body * (std::sin(phase) + overtone) + click);
        }
    }

    // Fade the last 15 ms so the sound never ends on a step.
    const int fade = kSampleRate * 15 / 1000;
    for (int k = 0; k < fade; ++k)
        wave[static_cast<std::size_t>(kSampleCount - 1 - k)] *= static_cast<double>(k) / fade;

    double peak = 0.0;
    for (double v : wave)
        peak = std::max(peak, std::fabs(v));
    const double gain = peak > 0.0 ? 0.85 * 32767.0 / peak : 0.0;
    std::vector<std::int16_t> samples(kSampleCount);
    for (std::size_t i = 0; i < wave.size(); ++i)
        samples[i] = static_cast<std::int16_t>(std::lround(wave[i] * gain));
    return samples;
}

std::vector<std::uint8_t> EncodeWave(const std::vector<std::int16_t>& samples, int sampleRate) {
    std::vector<std::uint8_t> out;
    auto tag = [&](const char* text) {
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<std::uint8_t>(text[i]));
    };
    auto u32 = [&](std::uint32_t v) {
        for (int b = 0; b < 4; ++b)
            out.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
    };
    auto u16 = [&](std::uint16_t v) {
        out.push_back(static_cast<std::uint8_t>(v));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    tag("RIFF");
    u32(36 + dataBytes);
    tag("WAVE");
    tag("fmt ");
    u32(16);
    u16(1);  // PCM
    u16(1);  // mono
    u32(static_cast<std::uint32_t>(sampleRate));
    u32(static_cast<std::uint32_t>(sampleRate) * 2);
    u16(2);
    u16(16);
    tag("data");
    u32(dataBytes);
    for (std::int16_t s : samples)
        u16(static_cast<std::uint16_t>(s));
    return out;
}

}  // namespace bounce
