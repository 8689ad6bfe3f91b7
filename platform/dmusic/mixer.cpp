#include "platform/dmusic/mixer.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace platform::dmusic {

Mixer::Mixer(int channels, std::size_t chunkFrames)
    : channels_(channels), chunkFrames_(std::max<std::size_t>(chunkFrames, 1)),
      sums_(chunkFrames_ * std::size_t(channels)) {}

bool Mixer::Submit(const Sound* sound) {
    const std::size_t tail = queueTail_.load(std::memory_order_relaxed);
    if (tail - queueHead_.load(std::memory_order_acquire) >= kQueueSize)
        return false;
    queue_[tail % kQueueSize] = sound;
    queueTail_.store(tail + 1, std::memory_order_release);
    return true;
}

void Mixer::StartVoice(const Sound* sound) {
    if (sound->frameCount == 0)
        return;
    if (voiceCount_ == kMaxVoices) {
        // Out of voices: the play furthest along gives way, as it has the
        // least left to say.
        std::size_t oldest = 0;
        for (std::size_t v = 1; v < voiceCount_; ++v)
            if (voices_[v].frame > voices_[oldest].frame)
                oldest = v;
        voices_[oldest] = voices_[--voiceCount_];
    }
    voices_[voiceCount_++] = Voice{sound, 0};
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    lastStart_.store(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count(), std::memory_order_release);
}

void Mixer::TakeQueued() {
    std::size_t head = queueHead_.load(std::memory_order_relaxed);
    const std::size_t tail = queueTail_.load(std::memory_order_acquire);
    for (; head != tail; ++head)
        StartVoice(queue_[head % kQueueSize]);
    queueHead_.store(head, std::memory_order_release);
}

void Mixer::Render(std::int16_t* out, std::size_t frameCount) {
    // Plays handed over before this buffer start at its first frame.
    TakeQueued();
    while (frameCount > 0) {
        const std::size_t n = std::min(frameCount, chunkFrames_);
        RenderChunk(out, n);
        out += n * std::size_t(channels_);
        frameCount -= n;
    }
}

void Mixer::RenderChunk(std::int16_t* out, std::size_t frameCount) {
    const std::size_t values = frameCount * std::size_t(channels_);
    std::fill_n(sums_.begin(), values, 0);
    for (std::size_t v = 0; v < voiceCount_;) {
        Voice& voice = voices_[v];
        const std::size_t frames = std::min(frameCount, voice.sound->frameCount - voice.frame);
        const std::int16_t* from = voice.sound->samples.data() + voice.frame * std::size_t(channels_);
        const std::size_t count = frames * std::size_t(channels_);
        for (std::size_t i = 0; i < count; ++i)
            sums_[i] += from[i];
        voice.frame += frames;
        if (voice.frame == voice.sound->frameCount)
            voices_[v] = voices_[--voiceCount_];
        else
            ++v;
    }
    for (std::size_t i = 0; i < values; ++i)
        out[i] = std::int16_t(std::clamp<std::int32_t>(sums_[i], -32768, 32767));
    framesRendered_.fetch_add(frameCount, std::memory_order_acq_rel);
}

void Mixer::Cancel(const Sound* sound) {
    // With the audio thread kept out, this thread may take the queue itself.
    TakeQueued();
    for (std::size_t v = 0; v < voiceCount_;) {
        if (voices_[v].sound == sound)
            voices_[v] = voices_[--voiceCount_];
        else
            ++v;
    }
}

void Mixer::CancelAll() {
    TakeQueued();
    voiceCount_ = 0;
}

}  // namespace platform::dmusic
