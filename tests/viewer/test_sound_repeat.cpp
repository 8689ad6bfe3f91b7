// The viewer's play-sound control heard through SDL's disk audio driver: a
// press plays at once, holding repeats every half second with the plays
// overlapping (their samples add), and a new press after a release plays at
// once again. Frames are paced by the audio rendered, and the device is held
// still while a frame runs, so every play's first frame is known exactly.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>

#include "platform/dmusic/dmusic_internal.h"
#include "platform/win32/commctrl.h"
#include "tests/platform/dmusic/disk_audio.h"
#include "viewer/viewer_app.h"

namespace {

class SoundViewer : public ViewerApp {
public:
    using ViewerApp::bounceSound;
    using ViewerApp::clientRect;
    using ViewerApp::elapsedTime;
    using ViewerApp::SetUpSound;
    using ViewerApp::soundPlayer;
    using ViewerApp::soundRepeatCountdown;
    using ViewerApp::userInput;
};

class SoundRepeatTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vl_sound_repeat_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
        InitCommonControls();
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string dir_;
};

}  // namespace

TEST_F(SoundRepeatTest, HoldingRepeatsEveryHalfSecondWithOverlapAndANewPressPlaysAtOnce) {
    sound_test::DiskAudio disk("repeat");
    const int comDepth = platform::com::initializationDepth();
    // Frames of 1/8 s (exact in binary, so the countdown reaches 0 exactly).
    constexpr float kFrame = 0.125f;
    constexpr std::uint64_t kFrameAudio = 5513;  // 1/8 s at 44100
    struct Frame {
        BOOL held;
        bool plays;
    } frames[] = {
        {TRUE, true},                                                // pressed: at once
        {TRUE, false}, {TRUE, false}, {TRUE, false}, {TRUE, true},   // 0.5 s later, still sounding
        {FALSE, false},                                              // released
        {TRUE, true},                                                // pressed again after 1/4 s: at once
        {TRUE, false},
    };
    std::vector<std::size_t> expectedStarts;
    IDirectMusicPerformance8* kept = nullptr;  // to count its frames after shut-down
    {
        SoundViewer app;
        ASSERT_EQ(app.SetUpSound(nullptr), S_OK);
        ASSERT_NE(app.bounceSound, nullptr);
        IDirectMusicPerformance8* performance = app.soundPlayer->performance;
        kept = performance;
        kept->AddRef();
        std::uint64_t target = 2 * sound_test::kBufferFrames;
        for (const Frame& frame : frames) {
            ASSERT_TRUE(sound_test::WaitForFrames(performance, target));
            platform::dmusic::LockDevice(performance);
            const std::uint64_t now = sound_test::FramesRendered(performance);
            app.elapsedTime = kFrame;
            app.userInput.playSoundDown = frame.held;
            app.UpdateScene();
            platform::dmusic::UnlockDevice(performance);
            if (frame.plays)
                expectedStarts.push_back(std::size_t(now));
            target = now + kFrameAudio;
        }
        ASSERT_TRUE(sound_test::WaitForFrames(performance, target + 27000));
        // Shut-down lets go of the segment, then the player.
        app.clientRect = {0, 0, 500, 375};
        app.SceneShutdown();
        EXPECT_EQ(app.bounceSound, nullptr);
        EXPECT_EQ(app.soundPlayer, nullptr);
        EXPECT_EQ(platform::com::initializationDepth(), comDepth);
    }
    ASSERT_EQ(expectedStarts.size(), 3u);
    const std::vector<std::int16_t> bounce = sound_test::ExpectedAtDeviceRate(sound_test::BounceSamples(), 11025);
    // The repeat overlaps the first play; the new press overlaps the repeat.
    EXPECT_LT(expectedStarts[1] - expectedStarts[0], bounce.size());
    EXPECT_LT(expectedStarts[2] - expectedStarts[1], bounce.size());

    const std::uint64_t rendered = sound_test::FramesRendered(kept);
    kept->Release();
    const std::vector<std::int16_t> recording = disk.Left();
    const std::size_t firstMixed = sound_test::FirstMixedFrame(recording, rendered);
    for (std::size_t& start : expectedStarts)
        start += firstMixed;
    std::vector<std::int32_t> rest;
    const std::vector<std::size_t> starts = sound_test::FindPlays(recording, bounce, &rest);
    EXPECT_EQ(starts, expectedStarts);
    EXPECT_LE(sound_test::LargestMagnitude(rest), 2 * sound_test::kTolerance);
}

TEST_F(SoundRepeatTest, WithoutASoundDeviceTheControlIsSilentAndNothingBreaks) {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "/nonexistent-folder/vl/out.raw", 1);
    const int comDepth = platform::com::initializationDepth();
    SoundViewer app;
    EXPECT_EQ(app.SetUpSound(nullptr), DSERR_NODRIVER);
    EXPECT_NE(app.soundPlayer, nullptr);
    EXPECT_EQ(app.bounceSound, nullptr);
    app.elapsedTime = 0.6f;
    app.userInput.playSoundDown = TRUE;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(app.UpdateScene(), S_OK);
    EXPECT_FLOAT_EQ(app.soundRepeatCountdown, 0.5f);
    app.clientRect = {0, 0, 500, 375};
    EXPECT_EQ(app.SceneShutdown(), S_OK);
    EXPECT_EQ(app.soundPlayer, nullptr);
    EXPECT_EQ(platform::com::initializationDepth(), comDepth);
}
