// The mixer on its own: plays start at the next buffer, overlap by adding,
// clip at the sample range, give way when there are too many, and can be
// cancelled; chunked rendering changes nothing.
#include <gtest/gtest.h>

#include <vector>

#include "platform/dmusic/mixer.h"

using platform::dmusic::Mixer;
using platform::dmusic::Sound;

namespace {

Sound MakeSound(std::vector<std::int16_t> monoAsStereo) {
    Sound s;
    for (std::int16_t v : monoAsStereo) {
        s.samples.push_back(v);
        s.samples.push_back(std::int16_t(-v));
    }
    s.frameCount = monoAsStereo.size();
    return s;
}

std::vector<std::int16_t> Left(const std::vector<std::int16_t>& stereo) {
    std::vector<std::int16_t> left;
    for (std::size_t i = 0; i < stereo.size(); i += 2)
        left.push_back(stereo[i]);
    return left;
}

std::vector<std::int16_t> Render(Mixer& mixer, std::size_t frames) {
    std::vector<std::int16_t> out(frames * 2, 7);
    mixer.Render(out.data(), frames);
    return out;
}

}  // namespace

TEST(Mixer, MixesPlaysFromTheNextBuffer) {
    const Sound a = MakeSound({100, 200, 300, 400, 500});
    const Sound loud = MakeSound({30000, 30000, -30000, -30000});
    struct Step {
        std::vector<const Sound*> submit;
        std::vector<std::int16_t> left;  // 3 frames each
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
    } cases[] = {
        {"one play, then silence", {{{&a}, {100, 200, 300}}, {{}, {400, 500, 0}}, {{}, {0, 0, 0}}}},
        {"a second play adds onto the first",
         {{{&a}, {100, 200, 300}}, {{&a}, {500, 700, 300}}, {{}, {400, 500, 0}}}},
        {"two plays in one buffer start together", {{{&a, &a}, {200, 400, 600}}, {{}, {800, 1000, 0}}}},
        {"sums clip at both ends", {{{&loud, &loud}, {32767, 32767, -32768}}, {{}, {-32768, 0, 0}}}},
        {"nothing submitted is silence", {{{}, {0, 0, 0}}}},
    };
    for (const Case& c : cases) {
        Mixer mixer(2, 2);  // chunks of two frames: every buffer crosses one
        std::uint64_t frames = 0;
        for (const Step& step : c.steps) {
            for (const Sound* s : step.submit)
                ASSERT_TRUE(mixer.Submit(s));
            const std::vector<std::int16_t> out = Render(mixer, 3);
            EXPECT_EQ(Left(out), step.left) << c.what << " after frame " << frames;
            for (std::size_t i = 0; i < out.size(); i += 2)
                EXPECT_EQ(out[i + 1], out[i] == 32767 ? -32768 : out[i] == -32768 ? 32767 : -out[i]) << c.what;
            frames += 3;
            EXPECT_EQ(mixer.framesRendered(), frames) << c.what;
        }
    }
}

TEST(Mixer, RingRefusesPlaysWhenTheDeviceStopsTakingThem) {
    const Sound a = MakeSound({1});
    Mixer mixer(2, 16);
    for (std::size_t i = 0; i < Mixer::kQueueSize; ++i)
        ASSERT_TRUE(mixer.Submit(&a)) << i;
    EXPECT_FALSE(mixer.Submit(&a));
    Render(mixer, 1);  // takes the queue; 64 voices at most
    EXPECT_EQ(mixer.voiceCount(), 0u);
    EXPECT_TRUE(mixer.Submit(&a));
}

TEST(Mixer, TooManyPlaysLetTheFurthestAlongGo) {
    const Sound longSound = MakeSound(std::vector<std::int16_t>(100, 1));
    const Sound marker = MakeSound(std::vector<std::int16_t>(100, 1000));
    Mixer mixer(2, 8);
    ASSERT_TRUE(mixer.Submit(&marker));
    Render(mixer, 10);  // the marker is furthest along from now on
    for (std::size_t i = 0; i < Mixer::kMaxVoices; ++i)
        ASSERT_TRUE(mixer.Submit(&longSound));
    const std::vector<std::int16_t> out = Render(mixer, 1);
    EXPECT_EQ(mixer.voiceCount(), Mixer::kMaxVoices);
    EXPECT_EQ(out[0], std::int16_t(Mixer::kMaxVoices)) << "the marker must have given way";
}

TEST(Mixer, CancelForgetsQueuedAndSoundingPlays) {
    const Sound a = MakeSound({10, 10, 10, 10});
    const Sound b = MakeSound({1, 1, 1, 1});
    Mixer mixer(2, 4);
    mixer.Submit(&a);
    mixer.Submit(&b);
    Render(mixer, 1);
    mixer.Submit(&a);  // still queued when cancelled
    mixer.Cancel(&a);
    EXPECT_EQ(Left(Render(mixer, 2)), (std::vector<std::int16_t>{1, 1}));
    mixer.Submit(&a);
    mixer.CancelAll();
    EXPECT_EQ(Left(Render(mixer, 2)), (std::vector<std::int16_t>{0, 0}));
    EXPECT_EQ(mixer.voiceCount(), 0u);
}

TEST(Mixer, ChunkSizeDoesNotChangeTheResult) {
    std::vector<std::int16_t> wave;
    for (int i = 0; i < 1000; ++i)
        wave.push_back(std::int16_t((i * 7919) % 20000 - 10000));
    const Sound s = MakeSound(wave);
    std::vector<std::vector<std::int16_t>> results;
    for (std::size_t chunk : {1u, 7u, 512u, 4096u}) {
        Mixer mixer(2, chunk);
        std::vector<std::int16_t> all;
        for (int buffer = 0; buffer < 6; ++buffer) {
            if (buffer % 2 == 0)
                mixer.Submit(&s);
            const std::vector<std::int16_t> out = Render(mixer, 300);
            all.insert(all.end(), out.begin(), out.end());
        }
        results.push_back(all);
    }
    for (std::size_t i = 1; i < results.size(); ++i)
        EXPECT_EQ(results[i], results[0]) << "chunking " << i;
}
