// The performance on whatever audio this machine has, with no driver chosen:
// it either plays or fails with DSERR_NODRIVER, and in no case says more
// than one line on standard error (the sound libraries below SDL like to
// complain line by line about every card they cannot find).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/dmusic/dmusici.h"
#include "tests/platform/dmusic/disk_audio.h"

TEST(Performance, WithTheSystemsOwnAudioSaysAtMostOneLine) {
    unsetenv("SDL_AUDIODRIVER");
    const std::string errors = (std::filesystem::temp_directory_path() /
                                ("vl_sound_stderr_" + std::to_string(getpid()) + ".txt"))
                                   .string();
    std::fflush(stderr);
    const int saved = dup(2);
    const int file = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    dup2(file, 2);
    close(file);

    CoInitialize(nullptr);
    IDirectMusicPerformance8* performance = nullptr;
    HRESULT created = CoCreateInstance(CLSID_DirectMusicPerformance, nullptr, CLSCTX_INPROC,
                                       IID_IDirectMusicPerformance8, reinterpret_cast<void**>(&performance));
    HRESULT opened = E_FAIL;
    if (SUCCEEDED(created)) {
        opened = performance->InitAudio(nullptr, nullptr, nullptr, DMUS_APATH_DYNAMIC_STEREO, 128, DMUS_AUDIOF_ALL,
                                        nullptr);
        performance->CloseDown();
        performance->Release();
    }
    CoUninitialize();

    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    const std::vector<std::uint8_t> said = sound_test::ReadBytes(errors);
    std::filesystem::remove(errors);

    ASSERT_EQ(created, S_OK);
    EXPECT_TRUE(opened == S_OK || opened == DSERR_NODRIVER) << std::hex << opened;
    EXPECT_LE(std::count(said.begin(), said.end(), '\n'), 1) << std::string(said.begin(), said.end());
    if (opened == DSERR_NODRIVER) {
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << "the cause is said once";
    }
}
