#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bounce_wave.h"

namespace {

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint16_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
std::string Tag(const std::vector<std::uint8_t>& b, std::size_t at) { return std::string(b.begin() + at, b.begin() + at + 4); }

struct Wave {
    std::uint16_t format = 0, channels = 0, blockAlign = 0, bits = 0;
    std::uint32_t rate = 0, byteRate = 0;
    std::vector<std::int16_t> samples;
    bool hasFormat = false, hasData = false;
};

// Walks the RIFF chunks the way a loader does, checking every size on the way.
Wave Parse(const std::vector<std::uint8_t>& b) {
    Wave w;
    EXPECT_GE(b.size(), 12u);
    EXPECT_EQ(Tag(b, 0), "RIFF");
    EXPECT_EQ(U32(b, 4), b.size() - 8);
    EXPECT_EQ(Tag(b, 8), "WAVE");
    std::size_t at = 12;
    while (at + 8 <= b.size()) {
        std::string id = Tag(b, at);
        std::uint32_t size = U32(b, at + 4);
        EXPECT_LE(at + 8 + size, b.size()) << id;
        if (id == "fmt ") {
            EXPECT_EQ(size, 16u);
            w.format = U16(b, at + 8);
            w.channels = U16(b, at + 10);
            w.rate = U32(b, at + 12);
            w.byteRate = U32(b, at + 16);
            w.blockAlign = U16(b, at + 20);
            w.bits = U16(b, at + 22);
            w.hasFormat = true;
        } else if (id == "data") {
            EXPECT_TRUE(w.hasFormat) << "format before data";
            for (std::uint32_t i = 0; i + 1 < size; i += 2)
                w.samples.push_back(static_cast<std::int16_t>(U16(b, at + 8 + i)));
            w.hasData = true;
        }
        at += 8 + size + (size & 1);
    }
    EXPECT_EQ(at, b.size());
    return w;
}

double Rms(const std::vector<std::int16_t>& s, std::size_t from, std::size_t count) {
    double sum = 0;
    for (std::size_t i = from; i < from + count; ++i)
        sum += static_cast<double>(s[i]) * s[i];
    return std::sqrt(sum / count);
}

TEST(BounceSound, IsAValidMonoPcmWaveOfTheStatedSize) {
    std::vector<std::uint8_t> file = bounce::EncodeWave(bounce::Synthesize(), bounce::kSampleRate);
    EXPECT_EQ(file.size(), 13468u);
    Wave w = Parse(file);
    ASSERT_TRUE(w.hasData);
    EXPECT_EQ(w.format, 1);
    EXPECT_EQ(w.channels, 1);
    EXPECT_EQ(w.rate, 11025u);
    EXPECT_EQ(w.byteRate, 22050u);
    EXPECT_EQ(w.blockAlign, 2);
    EXPECT_EQ(w.bits, 16);
    EXPECT_EQ(w.samples.size(), 6712u);
    EXPECT_NEAR(w.samples.size() / 11025.0, 0.61, 0.005);
}

TEST(BounceSound, SoundsLikeADecayingBounceWithoutClicksOrClipping) {
    std::vector<std::int16_t> s = bounce::Synthesize();
    ASSERT_EQ(s, bounce::Synthesize());  // no randomness between runs
    int peak = 0;
    for (std::int16_t v : s)
        peak = std::max(peak, std::abs(static_cast<int>(v)));
    EXPECT_GT(peak, 20000);
    EXPECT_LT(peak, 32767);
    EXPECT_LT(std::abs(s.front()), 100);
    EXPECT_LT(std::abs(s.back()), 100);
    // Loud at the first impact, each later bounce quieter, nearly silent at the end.
    const std::size_t window = 441;  // 40 ms
    double first = Rms(s, 0, window);
    double second = Rms(s, static_cast<std::size_t>(0.240 * 11025), window);
    double third = Rms(s, static_cast<std::size_t>(0.400 * 11025), window);
    double tail = Rms(s, s.size() - window, window);
    EXPECT_GT(first, second);
    EXPECT_GT(second, third);
    EXPECT_LT(tail, first / 10);
    // Between bounces the thump has died down before the next one starts.
    EXPECT_LT(Rms(s, static_cast<std::size_t>(0.190 * 11025), window), second);
}

TEST(BounceSound, TheCommittedResourceIsTheGeneratorsOutput) {
    std::ifstream in(std::string(VL_SOURCE_DIR) + "/resources/bounce.wav", std::ios::binary);
    ASSERT_TRUE(in) << "resources/bounce.wav is missing";
    std::vector<std::uint8_t> committed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::uint8_t> generated = bounce::EncodeWave(bounce::Synthesize(), bounce::kSampleRate);
    ASSERT_EQ(committed.size(), generated.size());
    EXPECT_TRUE(std::equal(committed.begin(), committed.begin() + 44, generated.begin()));
    // A different maths library may round a sample the other way; no more.
    Wave a = Parse(committed), b = Parse(generated);
    for (std::size_t i = 0; i < a.samples.size(); ++i)
        ASSERT_LE(std::abs(a.samples[i] - b.samples[i]), 1) << i;
}

}  // namespace
