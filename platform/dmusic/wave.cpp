#include "platform/dmusic/wave.h"

#include <cstring>

#include "platform/dmusic/dmusici.h"

namespace platform::dmusic {

namespace {

std::uint32_t ReadU32(const BYTE* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

std::uint16_t ReadU16(const BYTE* p) { return std::uint16_t(p[0] | p[1] << 8); }

bool IsTag(const BYTE* p, const char* tag) { return std::memcmp(p, tag, 4) == 0; }

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint32_t kPcmFormatSize = 16;

HRESULT ReadFormat(const BYTE* body, std::uint32_t size, WaveFormat* format) {
    if (size < kPcmFormatSize)
        return DMUS_E_INVALIDFILE;
    const std::uint16_t tag = ReadU16(body);
    const std::uint16_t channels = ReadU16(body + 2);
    const std::uint32_t rate = ReadU32(body + 4);
    // body + 8 holds the average byte rate: informational only, and often
    // wrong in files written by careless tools, so it is not checked.
    const std::uint16_t blockAlign = ReadU16(body + 12);
    const std::uint16_t bits = ReadU16(body + 14);
    if (tag != kFormatPcm || (channels != 1 && channels != 2) || (bits != 8 && bits != 16) ||
        rate < std::uint32_t(kMinSampleRate) || rate > std::uint32_t(kMaxSampleRate) ||
        blockAlign != channels * bits / 8)
        return DMUS_E_INVALIDFILE;
    format->channels = channels;
    format->samplesPerSec = int(rate);
    format->bitsPerSample = bits;
    format->blockAlign = blockAlign;
    return S_OK;
}

}  // namespace

HRESULT ParseWave(const BYTE* data, std::size_t size, WaveView* wave) {
    if (!wave || (!data && size != 0))
        return E_POINTER;
    *wave = WaveView{};
    if (size < 12 || !IsTag(data, "RIFF") || !IsTag(data + 8, "WAVE"))
        return DMUS_E_INVALIDFILE;
    // Sizes are compared in 64 bits so that a declared size near 2^32 cannot
    // wrap around into something that looks as if it fits.
    const std::uint64_t formEnd = 8 + std::uint64_t(ReadU32(data + 4));
    if (formEnd > size || formEnd < 12)
        return DMUS_E_INVALIDFILE;

    WaveView found;
    bool haveFormat = false;
    bool haveData = false;
    std::uint64_t at = 12;
    while (at < formEnd) {
        if (formEnd - at < 8)
            return DMUS_E_INVALIDFILE;
        const BYTE* header = data + at;
        const std::uint64_t chunkSize = ReadU32(header + 4);
        const std::uint64_t bodyAt = at + 8;
        if (chunkSize > formEnd - bodyAt)
            return DMUS_E_INVALIDFILE;
        const BYTE* body = data + bodyAt;
        if (IsTag(header, "fmt ")) {
            if (haveFormat || haveData)
                return DMUS_E_INVALIDFILE;
            const HRESULT hr = ReadFormat(body, std::uint32_t(chunkSize), &found.format);
            if (FAILED(hr))
                return hr;
            haveFormat = true;
        } else if (IsTag(header, "data")) {
            if (!haveFormat || haveData || chunkSize % std::uint64_t(found.format.blockAlign) != 0)
                return DMUS_E_INVALIDFILE;
            found.samples = body;
            found.frameCount = std::size_t(chunkSize / std::uint64_t(found.format.blockAlign));
            haveData = true;
        }
        // Chunks are padded to an even length; the pad byte of the last chunk
        // may be missing from the form.
        at = bodyAt + chunkSize + (chunkSize & 1);
    }
    if (!haveData)
        return DMUS_E_INVALIDFILE;
    *wave = found;
    return S_OK;
}

namespace {

std::int32_t SourceSample(const WaveView& wave, std::size_t frame, int channel) {
    const WaveFormat& f = wave.format;
    const BYTE* p = wave.samples + frame * std::size_t(f.blockAlign) + std::size_t(channel * f.bitsPerSample / 8);
    if (f.bitsPerSample == 8)
        return (std::int32_t(p[0]) - 128) * 256;
    return std::int16_t(ReadU16(p));
}

// One source frame in the output's channel layout.
std::int32_t SourceValue(const WaveView& wave, std::size_t frame, int outChannel, int outChannels) {
    const int inChannels = wave.format.channels;
    if (inChannels == outChannels)
        return SourceSample(wave, frame, outChannel);
    if (inChannels == 1)
        return SourceSample(wave, frame, 0);
    // Stereo to mono: the mean, rounded towards minus infinity.
    const std::int32_t sum = SourceSample(wave, frame, 0) + SourceSample(wave, frame, 1);
    return sum >= 0 ? sum / 2 : -((-sum + 1) / 2);
}

// a + (b - a) * num / den, rounded half away from zero.
std::int32_t Interpolate(std::int32_t a, std::int32_t b, std::uint64_t num, std::uint64_t den) {
    const std::int64_t scaled = std::int64_t(b - a) * std::int64_t(num);
    const std::int64_t half = std::int64_t(den / 2);
    const std::int64_t d = std::int64_t(den);
    const std::int64_t step = scaled >= 0 ? (scaled + half) / d : -((-scaled + half) / d);
    return a + std::int32_t(step);
}

}  // namespace

std::vector<std::int16_t> ConvertWave(const WaveView& wave, int rate, int channels) {
    const std::uint64_t src = std::uint64_t(wave.format.samplesPerSec);
    const std::uint64_t dst = std::uint64_t(rate);
    const std::uint64_t inFrames = wave.frameCount;
    const std::uint64_t outFrames = src == 0 ? 0 : inFrames * dst / src;
    std::vector<std::int16_t> out(std::size_t(outFrames * std::uint64_t(channels)));
    for (std::uint64_t n = 0; n < outFrames; ++n) {
        const std::uint64_t position = n * src;
        const std::size_t i = std::size_t(position / dst);
        const std::uint64_t fraction = position % dst;
        const std::size_t next = i + 1 < inFrames ? i + 1 : i;
        for (int c = 0; c < channels; ++c) {
            const std::int32_t a = SourceValue(wave, i, c, channels);
            const std::int32_t value =
                fraction == 0 ? a : Interpolate(a, SourceValue(wave, next, c, channels), fraction, dst);
            out[std::size_t(n) * std::size_t(channels) + std::size_t(c)] = std::int16_t(value);
        }
    }
    return out;
}

}  // namespace platform::dmusic
