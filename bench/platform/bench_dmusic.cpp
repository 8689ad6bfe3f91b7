// The sound layer's mixer: processor time per second of audio with 1, 8 and
// 32 overlapping plays, and the delay from PlaySegmentEx to the first sample
// of the play in the device's buffer (SDL's dummy driver, real-time paced).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/dmusic/dmusic_internal.h"
#include "platform/dmusic/dmusici.h"
#include "platform/dmusic/mixer.h"
#include "platform/dmusic/wave.h"

namespace {

using platform::dmusic::Mixer;
using platform::dmusic::Sound;

constexpr int kRate = 44100;
constexpr std::size_t kBufferFrames = 512;

std::vector<BYTE> BounceFile() {
    std::ifstream in(std::string(VL_SOURCE_DIR) + "/resources/bounce.wav", std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
}

// The bounce at the device rate, played twice in a row so that every play
// sounds through the whole measured second.
Sound LongBounce() {
    const std::vector<BYTE> file = BounceFile();
    platform::dmusic::WaveView wave;
    if (FAILED(platform::dmusic::ParseWave(file.data(), file.size(), &wave)))
        return {};
    Sound s;
    const std::vector<std::int16_t> once = platform::dmusic::ConvertWave(wave, kRate, 2);
    s.samples = once;
    s.samples.insert(s.samples.end(), once.begin(), once.end());
    s.frameCount = s.samples.size() / 2;
    return s;
}

void BM_MixerSecondOfAudio(benchmark::State& state) {
    const Sound sound = LongBounce();
    if (sound.frameCount < std::size_t(kRate)) {
        state.SkipWithError("bounce.wav not found");
        return;
    }
    const int plays = int(state.range(0));
    Mixer mixer(2, kBufferFrames);
    std::vector<std::int16_t> buffer(kBufferFrames * 2);
    for (auto _ : state) {
        for (int p = 0; p < plays; ++p)
            mixer.Submit(&sound);
        for (std::size_t frames = 0; frames < std::size_t(kRate); frames += kBufferFrames)
            mixer.Render(buffer.data(), kBufferFrames);
        benchmark::DoNotOptimize(buffer.data());
        mixer.CancelAll();
    }
    // Each iteration is one second of audio: the time per iteration is the
    // processor time the mixer needs per second of sound.
}
BENCHMARK(BM_MixerSecondOfAudio)->Arg(1)->Arg(8)->Arg(32)->Unit(benchmark::kMicrosecond);

void BM_PlayToFirstSample(benchmark::State& state) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    CoInitialize(nullptr);
    IDirectMusicLoader8* loader = nullptr;
    IDirectMusicPerformance8* performance = nullptr;
    IDirectMusicSegment8* segment = nullptr;
    std::vector<BYTE> file = BounceFile();
    CoCreateInstance(CLSID_DirectMusicLoader, nullptr, CLSCTX_INPROC, IID_IDirectMusicLoader8,
                     reinterpret_cast<void**>(&loader));
    CoCreateInstance(CLSID_DirectMusicPerformance, nullptr, CLSCTX_INPROC, IID_IDirectMusicPerformance8,
                     reinterpret_cast<void**>(&performance));
    DMUS_OBJECTDESC d{};
    d.dwSize = sizeof d;
    d.dwValidData = DMUS_OBJ_CLASS | DMUS_OBJ_MEMORY;
    d.guidClass = CLSID_DirectMusicSegment;
    d.llMemLength = LONGLONG(file.size());
    d.pbMemData = file.data();
    const bool ready =
        SUCCEEDED(performance->InitAudio(nullptr, nullptr, nullptr, DMUS_APATH_DYNAMIC_STEREO, 128, DMUS_AUDIOF_ALL,
                                         nullptr)) &&
        SUCCEEDED(loader->GetObject(&d, IID_IDirectMusicSegment8, reinterpret_cast<void**>(&segment))) &&
        SUCCEEDED(segment->Download(performance));
    if (!ready)
        state.SkipWithError("no dummy audio device");
    const Mixer* mixer = ready ? platform::dmusic::MixerOf(performance) : nullptr;
    double worst = 0;
    // Plays come at any moment of the device's buffer period, not just
    // after the previous one was taken: a fixed sequence of pauses spreads them.
    std::uint32_t phase = 12345;
    for (auto _ : state) {
        if (!mixer)
            break;
        phase = phase * 1103515245u + 12345u;
        std::this_thread::sleep_for(std::chrono::microseconds((phase >> 8) % 12000));
        const auto start = std::chrono::steady_clock::now();
        const std::int64_t startNs =
            std::chrono::duration_cast<std::chrono::nanoseconds>(start.time_since_epoch()).count();
        performance->PlaySegmentEx(segment, nullptr, nullptr, DMUS_SEGF_SECONDARY, 0, nullptr, nullptr, nullptr);
        while (mixer->lastStartNanoseconds() < startNs)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        const double seconds = double(mixer->lastStartNanoseconds() - startNs) * 1e-9;
        worst = std::max(worst, seconds);
        state.SetIterationTime(seconds);
    }
    state.counters["worst_ms"] = worst * 1e3;
    if (segment) {
        loader->ReleaseObjectByUnknown(segment);
        segment->Unload(performance);
        segment->Release();
    }
    loader->Release();
    performance->CloseDown();
    performance->Release();
    CoUninitialize();
}
BENCHMARK(BM_PlayToFirstSample)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
