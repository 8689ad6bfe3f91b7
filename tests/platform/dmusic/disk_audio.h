// Sound tests listen through SDL's "disk" audio driver: everything the mixer
// renders lands in a raw file of 16-bit stereo frames at 44100 Hz, which the
// tests read back once the performance has closed its device.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/dmusic/dmusic_internal.h"

namespace sound_test {

inline constexpr int kDeviceRate = 44100;
inline constexpr int kDeviceChannels = 2;
inline constexpr std::size_t kBufferFrames = 512;

inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<std::uint8_t> BounceFile() { return ReadBytes(std::string(VL_SOURCE_DIR) + "/resources/bounce.wav"); }

// The bounce's mono 16-bit samples, straight from its data chunk (the file
// has the canonical 44-byte header).
inline std::vector<std::int16_t> BounceSamples() {
    const std::vector<std::uint8_t> file = BounceFile();
    std::vector<std::int16_t> samples;
    for (std::size_t i = 44; i + 1 < file.size(); i += 2)
        samples.push_back(std::int16_t(file[i] | file[i + 1] << 8));
    return samples;
}

// Linear interpolation from the source rate to the device's, worked out in
// floating point here so that it checks the layer's integer stepping.
inline std::vector<std::int16_t> ExpectedAtDeviceRate(const std::vector<std::int16_t>& mono, int sourceRate) {
    const std::size_t frames = mono.size() * std::size_t(kDeviceRate) / std::size_t(sourceRate);
    std::vector<std::int16_t> out;
    for (std::size_t n = 0; n < frames; ++n) {
        const double position = double(n) * sourceRate / kDeviceRate;
        const std::size_t i = std::size_t(position);
        const double a = mono[i];
        const double b = mono[std::min(i + 1, mono.size() - 1)];
        out.push_back(std::int16_t(std::lround(a + (b - a) * (position - double(i)))));
    }
    return out;
}

// Routes SDL audio to a fresh raw file for the life of the object.
class DiskAudio {
public:
    explicit DiskAudio(const std::string& name) {
        path_ = (std::filesystem::temp_directory_path() / ("vl_sound_" + name + "_" + std::to_string(getpid()) + ".raw"))
                    .string();
        std::filesystem::remove(path_);
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", path_.c_str(), 1);
        // A few times faster than real time keeps the tests short.
        setenv("SDL_DISKAUDIODELAY", "3", 1);
    }
    ~DiskAudio() { std::filesystem::remove(path_); }
    const std::string& path() const { return path_; }

    // Left channel of every frame written (the plays are mono, so both
    // sides carry the same value; Frames checks that too).
    std::vector<std::int16_t> Left() const {
        std::vector<std::int16_t> left;
        const std::vector<std::uint8_t> bytes = ReadBytes(path_);
        for (std::size_t i = 0; i + 3 < bytes.size(); i += 4) {
            const auto l = std::int16_t(bytes[i] | bytes[i + 1] << 8);
            const auto r = std::int16_t(bytes[i + 2] | bytes[i + 3] << 8);
            EXPECT_EQ(l, r) << "frame " << i / 4;
            left.push_back(l);
        }
        return left;
    }

private:
    std::string path_;
};

// Waits until the performance's mixer has rendered at least `frames`; a
// device that stops rendering fails the test instead of hanging it.
inline bool WaitForFrames(IDirectMusicPerformance8* performance, std::uint64_t frames) {
    if (!platform::dmusic::MixerOf(performance))
        return false;
    for (int waited = 0; waited < 30000; ++waited) {
        if (platform::dmusic::FramesRendered(performance) >= frames)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

inline std::uint64_t FramesRendered(IDirectMusicPerformance8* performance) {
    return platform::dmusic::FramesRendered(performance);
}

// The recording's frame at which the mixer's first frame landed: SDL may
// have written silence of its own before it, while the device was paused.
inline std::size_t FirstMixedFrame(const std::vector<std::int16_t>& recording, std::uint64_t framesRendered) {
    EXPECT_GE(recording.size(), framesRendered);
    return recording.size() >= framesRendered ? std::size_t(recording.size() - framesRendered) : 0;
}

// Rounding may differ by one step per play between the layer and the
// reference conversion above.
inline constexpr std::int32_t kTolerance = 2;

inline std::int32_t Clip(std::int32_t v) { return std::max(-32768, std::min(32767, v)); }

// Explains the recording as plays of `sound` mixed with clipping: finds the
// first frame the plays found so far do not explain, and puts one more play
// at the start of the device buffer holding it, as long as that explains the
// buffer. Returns the first frames of the plays; `rest` is the recording
// minus the clipped sum of those plays (within kTolerance of zero when the
// recording is exactly that).
inline std::vector<std::size_t> FindPlays(const std::vector<std::int16_t>& recording,
                                          const std::vector<std::int16_t>& sound, std::vector<std::int32_t>* rest) {
    std::vector<std::int32_t> sum(recording.size(), 0);
    std::vector<std::size_t> starts;
    auto unexplained = [&](std::size_t i) { return std::abs(recording[i] - Clip(sum[i])) > kTolerance; };
    auto add = [&](std::size_t start, int sign) {
        for (std::size_t i = 0; i < sound.size() && start + i < sum.size(); ++i)
            sum[start + i] += sign * sound[i];
    };
    std::size_t from = 0;
    while (starts.size() < 100) {
        std::size_t at = from;
        while (at < recording.size() && !unexplained(at))
            ++at;
        if (at >= recording.size())
            break;
        const std::size_t start = at / kBufferFrames * kBufferFrames;
        add(start, 1);
        bool explained = true;
        for (std::size_t i = start; i < std::min(start + kBufferFrames, recording.size()); ++i)
            explained = explained && !unexplained(i);
        if (!explained) {
            add(start, -1);
            break;
        }
        starts.push_back(start);
        from = start;
    }
    rest->resize(recording.size());
    for (std::size_t i = 0; i < recording.size(); ++i)
        (*rest)[i] = recording[i] - Clip(sum[i]);
    return starts;
}

inline std::int32_t LargestMagnitude(const std::vector<std::int32_t>& values) {
    std::int32_t largest = 0;
    for (std::int32_t v : values)
        largest = std::max(largest, std::abs(v));
    return largest;
}

}  // namespace sound_test
