// The WAVE reader: which files it takes, which it refuses, that it never
// reads outside the bytes it is given, and what the conversion produces.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/dmusic/dmusici.h"
#include "platform/dmusic/wave.h"
#include "tests/platform/dmusic/disk_audio.h"

using platform::dmusic::ConvertWave;
using platform::dmusic::ParseWave;
using platform::dmusic::WaveView;

namespace {

using Bytes = std::vector<BYTE>;

void Put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(BYTE(v >> (8 * i)));
}
void Put16(Bytes& b, std::uint16_t v) {
    b.push_back(BYTE(v));
    b.push_back(BYTE(v >> 8));
}
void PutTag(Bytes& b, const char* tag) {
    for (int i = 0; i < 4; ++i)
        b.push_back(BYTE(tag[i]));
}

struct Chunk {
    std::string tag;
    Bytes body;
    std::int64_t declaredSize = -1;  // -1: the body's size
};

Chunk Format(int tag, int channels, int rate, int bits, int blockAlign) {
    Chunk c{"fmt ", {}};
    Put16(c.body, std::uint16_t(tag));
    Put16(c.body, std::uint16_t(channels));
    Put32(c.body, std::uint32_t(rate));
    Put32(c.body, std::uint32_t(rate * blockAlign));
    Put16(c.body, std::uint16_t(blockAlign));
    Put16(c.body, std::uint16_t(bits));
    return c;
}

Chunk Data(std::size_t bytes) {
    Chunk c{"data", {}};
    for (std::size_t i = 0; i < bytes; ++i)
        c.body.push_back(BYTE(i * 37 + 11));
    return c;
}

Bytes Riff(const std::vector<Chunk>& chunks, std::int64_t declaredFormSize = -1, const char* form = "WAVE") {
    Bytes body;
    PutTag(body, form);
    for (const Chunk& c : chunks) {
        PutTag(body, c.tag.c_str());
        Put32(body, std::uint32_t(c.declaredSize >= 0 ? c.declaredSize : std::int64_t(c.body.size())));
        body.insert(body.end(), c.body.begin(), c.body.end());
        if (c.body.size() % 2)
            body.push_back(0);
    }
    Bytes file;
    PutTag(file, "RIFF");
    Put32(file, std::uint32_t(declaredFormSize >= 0 ? declaredFormSize : std::int64_t(body.size())));
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

Chunk Sized(Chunk c, std::int64_t declared) {
    c.declaredSize = declared;
    return c;
}

const Chunk kMonoFormat = Format(1, 1, 11025, 16, 2);

}  // namespace

TEST(Wave, AcceptsEveryPlayablePcmLayout) {
    struct Case {
        int channels, rate, bits;
    } cases[] = {{1, 11025, 16}, {2, 44100, 16}, {1, 4000, 8}, {2, 192000, 8}, {2, 22050, 16}};
    for (const Case& c : cases) {
        const int block = c.channels * c.bits / 8;
        const Bytes file = Riff({Chunk{"LIST", {1, 2, 3}}, Format(1, c.channels, c.rate, c.bits, block),
                                 Chunk{"fact", {0, 0, 0, 0}}, Data(std::size_t(block) * 10)});
        WaveView wave;
        ASSERT_EQ(ParseWave(file.data(), file.size(), &wave), S_OK) << c.channels << " " << c.rate << " " << c.bits;
        EXPECT_EQ(wave.format.channels, c.channels);
        EXPECT_EQ(wave.format.samplesPerSec, c.rate);
        EXPECT_EQ(wave.format.bitsPerSample, c.bits);
        EXPECT_EQ(wave.frameCount, 10u);
        // The odd-sized LIST chunk is padded, so data starts at byte 58.
        EXPECT_EQ(wave.samples, file.data() + file.size() - std::size_t(block) * 10);
    }
}

TEST(Wave, ReadsTheBounceResource) {
    const Bytes file = sound_test::BounceFile();
    ASSERT_EQ(file.size(), 13468u);
    WaveView wave;
    ASSERT_EQ(ParseWave(file.data(), file.size(), &wave), S_OK);
    EXPECT_EQ(wave.format.channels, 1);
    EXPECT_EQ(wave.format.samplesPerSec, 11025);
    EXPECT_EQ(wave.format.bitsPerSample, 16);
    EXPECT_EQ(wave.frameCount, 6712u);
}

TEST(Wave, RefusesMalformedFiles) {
    const Bytes good = Riff({kMonoFormat, Data(20)});
    Bytes truncated = good;
    truncated.resize(good.size() - 3);
    Bytes oddPadLast = Riff({kMonoFormat, Data(20), Chunk{"junk", {7}}});
    oddPadLast.pop_back();  // the last chunk's pad byte missing: still fine
    oddPadLast[4] = BYTE(oddPadLast.size() - 8);

    struct Case {
        const char* what;
        Bytes file;
        HRESULT expected;
    } cases[] = {
        {"well formed", good, S_OK},
        {"last pad byte missing", oddPadLast, S_OK},
        {"empty data chunk", Riff({kMonoFormat, Data(0)}), S_OK},
        {"too short for a header", Bytes(good.begin(), good.begin() + 11), DMUS_E_INVALIDFILE},
        {"not RIFF", [&] { Bytes b = good; b[0] = 'X'; return b; }(), DMUS_E_INVALIDFILE},
        {"not WAVE", Riff({kMonoFormat, Data(20)}, -1, "AVI "), DMUS_E_INVALIDFILE},
        {"form longer than the buffer", truncated, DMUS_E_INVALIDFILE},
        {"form size huge", Riff({kMonoFormat, Data(20)}, 0xFFFFFFFFu), DMUS_E_INVALIDFILE},
        {"form size below its type", Riff({kMonoFormat, Data(20)}, 3), DMUS_E_INVALIDFILE},
        {"data past the end", Riff({kMonoFormat, Sized(Data(20), 22)}), DMUS_E_INVALIDFILE},
        {"data size huge", Riff({kMonoFormat, Sized(Data(20), 0xFFFFFFF0u)}), DMUS_E_INVALIDFILE},
        {"format size past the end", Riff({Sized(kMonoFormat, 0x7FFFFFFF), Data(20)}), DMUS_E_INVALIDFILE},
        {"format chunk too short", Riff({Sized(kMonoFormat, 14), Data(20)}), DMUS_E_INVALIDFILE},
        {"chunk header cut off", [&] { Bytes b = good; b.insert(b.end(), {'L', 'I', 'S'}); b[4] += 3; return b; }(),
         DMUS_E_INVALIDFILE},
        {"format after the data", Riff({Data(20), kMonoFormat}), DMUS_E_INVALIDFILE},
        {"no format", Riff({Data(20)}), DMUS_E_INVALIDFILE},
        {"no data", Riff({kMonoFormat}), DMUS_E_INVALIDFILE},
        {"two formats", Riff({kMonoFormat, kMonoFormat, Data(20)}), DMUS_E_INVALIDFILE},
        {"two data chunks", Riff({kMonoFormat, Data(20), Data(20)}), DMUS_E_INVALIDFILE},
        {"not PCM", Riff({Format(3, 1, 11025, 16, 2), Data(20)}), DMUS_E_INVALIDFILE},
        {"zero channels", Riff({Format(1, 0, 11025, 16, 0), Data(20)}), DMUS_E_INVALIDFILE},
        {"three channels", Riff({Format(1, 3, 11025, 16, 6), Data(24)}), DMUS_E_INVALIDFILE},
        {"odd block alignment", Riff({Format(1, 1, 11025, 16, 3), Data(21)}), DMUS_E_INVALIDFILE},
        {"block alignment zero", Riff({Format(1, 1, 11025, 16, 0), Data(20)}), DMUS_E_INVALIDFILE},
        {"24-bit samples", Riff({Format(1, 1, 11025, 24, 3), Data(21)}), DMUS_E_INVALIDFILE},
        {"rate below 4000", Riff({Format(1, 1, 3999, 16, 2), Data(20)}), DMUS_E_INVALIDFILE},
        {"rate above 192000", Riff({Format(1, 1, 192001, 16, 2), Data(20)}), DMUS_E_INVALIDFILE},
        {"rate zero", Riff({Format(1, 1, 0, 16, 2), Data(20)}), DMUS_E_INVALIDFILE},
        {"data not whole frames", Riff({Format(1, 2, 11025, 16, 4), Data(22)}), DMUS_E_INVALIDFILE},
    };
    for (const Case& c : cases) {
        // An exact-size copy, so that a read past the end is caught by the
        // sanitizer build.
        Bytes copy(c.file);
        WaveView wave;
        wave.frameCount = 99;
        EXPECT_EQ(ParseWave(copy.data(), copy.size(), &wave), c.expected) << c.what;
        if (c.expected != S_OK) {
            EXPECT_EQ(wave.samples, nullptr) << c.what;
            EXPECT_EQ(wave.frameCount, 0u) << c.what;
        }
    }
    WaveView wave;
    EXPECT_EQ(ParseWave(nullptr, 10, &wave), E_POINTER);
}

// Thousands of seeded mutations of the real resource: flipped bytes, sizes
// overwritten with small, odd, huge and near-wrapping values, cut-off files,
// chunks repeated or swapped. Whatever the parser accepts must lie wholly
// inside the buffer and convert without reading past it.
TEST(Wave, SurvivesMutationsOfTheBounce) {
    const Bytes original = sound_test::BounceFile();
    ASSERT_EQ(original.size(), 13468u);
    const std::size_t sizeFields[] = {4, 16, 40};
    const std::uint32_t sizeValues[] = {0, 1, 2, 3, 15, 16, 17, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFF8, 13424, 13423, 13425, 13460, 13461};
    std::mt19937 random(20261208);
    int accepted = 0;
    for (int round = 0; round < 6000; ++round) {
        Bytes file = original;
        const int kind = int(random() % 6);
        const int mutations = 1 + int(random() % 4);
        for (int m = 0; m < mutations; ++m) {
            switch (kind) {
            case 0:  // flip bytes in the header region
                file[random() % 64] ^= BYTE(1u << (random() % 8));
                break;
            case 1: {  // rewrite a size field
                const std::size_t at = sizeFields[random() % 3];
                const std::uint32_t v = random() % 2 ? sizeValues[random() % std::size(sizeValues)] : std::uint32_t(random());
                for (int i = 0; i < 4; ++i)
                    file[at + std::size_t(i)] = BYTE(v >> (8 * i));
                break;
            }
            case 2:  // cut the file anywhere
                file.resize(random() % (file.size() + 1));
                break;
            case 3:  // random bytes over the format fields
                file[20 + random() % 16] = BYTE(random());
                break;
            case 4: {  // repeat the format chunk after the data, or before it
                Bytes fmt(original.begin() + 12, original.begin() + 36);
                const std::size_t where = random() % 2 ? file.size() : 12;
                file.insert(file.begin() + std::ptrdiff_t(std::min(where, file.size())), fmt.begin(), fmt.end());
                break;
            }
            default:  // random bytes anywhere in the first chunk headers and form
                file[random() % 44] = BYTE(random());
                break;
            }
        }
        Bytes exact(file);  // exact-size heap block
        WaveView wave;
        const HRESULT hr = ParseWave(exact.data(), exact.size(), &wave);
        ASSERT_TRUE(hr == S_OK || hr == DMUS_E_INVALIDFILE) << "round " << round;
        if (hr != S_OK)
            continue;
        ++accepted;
        ASSERT_GE(wave.samples, exact.data());
        ASSERT_LE(std::size_t(wave.samples - exact.data()) + wave.frameCount * std::size_t(wave.format.blockAlign),
                  exact.size())
            << "round " << round;
        // A low device rate keeps the conversions short; every sample is read.
        const std::vector<std::int16_t> out = ConvertWave(wave, 4000, 2);
        EXPECT_EQ(out.size(), 2 * (wave.frameCount * 4000 / std::size_t(wave.format.samplesPerSec)));
    }
    // The mutations keep some files playable; a parser refusing everything
    // would pass the checks above without testing them.
    EXPECT_GT(accepted, 300);
    EXPECT_LT(accepted, 5000);
}

TEST(Wave, ConvertsSampleSizeChannelsAndRate) {
    struct Case {
        const char* what;
        int channels, bits, rate;
        Bytes data;
        int outRate, outChannels;
        std::vector<std::int16_t> expected;
    } cases[] = {
        {"16-bit mono copied to both sides", 1, 16, 8000, {0x34, 0x12, 0x00, 0x80}, 8000, 2,
         {0x1234, 0x1234, -32768, -32768}},
        {"8-bit centred and scaled", 1, 8, 8000, {0, 128, 255}, 8000, 1, {-32768, 0, 32512}},
        {"stereo kept apart", 2, 16, 8000, {1, 0, 2, 0, 3, 0, 4, 0}, 8000, 2, {1, 2, 3, 4}},
        {"stereo averaged for mono, rounding down", 2, 16, 8000, {1, 0, 2, 0, 0xFD, 0xFF, 0xFE, 0xFF}, 8000, 1,
         {1, -3}},
        {"doubled rate interpolates halfway", 1, 16, 4000, {0, 0, 100, 0, 0x9C, 0xFF}, 8000, 1,
         {0, 50, 100, 0, -100, -100}},
        {"quadrupled rate in quarter steps, halves rounded away from zero", 1, 16, 4000, {0, 0, 10, 0}, 16000, 1,
         {0, 3, 5, 8, 10, 10, 10, 10}},
        {"negative steps round away from zero too", 1, 16, 4000, {0, 0, 0xF6, 0xFF}, 16000, 1,
         {0, -3, -5, -8, -10, -10, -10, -10}},
        {"halved rate takes every other frame", 1, 16, 8000, {1, 0, 2, 0, 3, 0, 4, 0, 5, 0}, 4000, 1, {1, 3}},
        {"8-bit stereo to mono at a higher rate", 2, 8, 4000, {128, 128, 138, 148}, 8000, 1,
         {0, 1920, 3840, 3840}},
    };
    for (const Case& c : cases) {
        WaveView wave;
        wave.format = {c.channels, c.rate, c.bits, c.channels * c.bits / 8};
        wave.samples = c.data.data();
        wave.frameCount = c.data.size() / std::size_t(wave.format.blockAlign);
        EXPECT_EQ(ConvertWave(wave, c.outRate, c.outChannels), c.expected) << c.what;
    }
}

TEST(Wave, BounceConvertsToTheDeviceRateLikeAPlainInterpolation) {
    const Bytes file = sound_test::BounceFile();
    WaveView wave;
    ASSERT_EQ(ParseWave(file.data(), file.size(), &wave), S_OK);
    const std::vector<std::int16_t> out = ConvertWave(wave, sound_test::kDeviceRate, 1);
    const std::vector<std::int16_t> expected =
        sound_test::ExpectedAtDeviceRate(sound_test::BounceSamples(), 11025);
    ASSERT_EQ(out.size(), 26848u);
    ASSERT_EQ(out.size(), expected.size());
    for (std::size_t i = 0; i < out.size(); ++i)
        ASSERT_NEAR(out[i], expected[i], 1) << "frame " << i;
}
