// The performance's mixer. The message-loop thread hands it plays through a
// fixed ring that needs neither a lock nor an allocation; the audio device's
// thread takes them at the start of its next buffer and adds every sounding
// play into that buffer, clipped to the 16-bit range. Plain C++, no SDL.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform::dmusic {

// A downloaded sound: interleaved 16-bit frames in the device's format.
// It must outlive every play of it that the mixer still holds.
struct Sound {
    std::vector<std::int16_t> samples;
    std::size_t frameCount = 0;
};

class Mixer {
public:
    static constexpr std::size_t kQueueSize = 256;  // power of two
    static constexpr std::size_t kMaxVoices = 64;

    // chunkFrames bounds the frames added up in one pass; Render takes any
    // count and works through it in chunks, so it never allocates.
    Mixer(int channels, std::size_t chunkFrames);

    // Message-loop thread: queue one play of the sound from its start. False
    // when the audio thread has not taken the earlier plays yet and the ring
    // is full (a stalled device).
    bool Submit(const Sound* sound);

    // Audio thread: fill out with frameCount frames of the sounding plays.
    void Render(std::int16_t* out, std::size_t frameCount);

    // Message-loop thread, with the audio thread kept out (device locked or
    // closed): forget every play of the sound, or every play at all.
    void Cancel(const Sound* sound);
    void CancelAll();

    int channels() const { return channels_; }
    // Frames rendered so far; read from any thread.
    std::uint64_t framesRendered() const { return framesRendered_.load(std::memory_order_acquire); }
    // Plays sounding after the last Render; only with the audio thread kept out.
    std::size_t voiceCount() const { return voiceCount_; }
    // Monotonic nanoseconds at which the audio thread last started a play;
    // 0 before the first.
    std::int64_t lastStartNanoseconds() const { return lastStart_.load(std::memory_order_acquire); }

private:
    struct Voice {
        const Sound* sound;
        std::size_t frame;
    };

    void TakeQueued();
    void StartVoice(const Sound* sound);
    void RenderChunk(std::int16_t* out, std::size_t frameCount);

    int channels_;
    std::size_t chunkFrames_;
    std::vector<std::int32_t> sums_;

    std::array<const Sound*, kQueueSize> queue_{};
    std::atomic<std::size_t> queueHead_{0};  // next to take; written by the audio thread
    std::atomic<std::size_t> queueTail_{0};  // next free; written by the message-loop thread

    std::array<Voice, kMaxVoices> voices_{};
    std::size_t voiceCount_ = 0;
    std::atomic<std::uint64_t> framesRendered_{0};
    std::atomic<std::int64_t> lastStart_{0};
};

}  // namespace platform::dmusic
