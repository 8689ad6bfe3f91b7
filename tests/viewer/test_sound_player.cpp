// SoundPlayer and SoundSegment: the order of their calls into the sound
// layer and what they return, against recording stand-ins; then the real
// layer heard through SDL's disk audio driver.
#include <gtest/gtest.h>

#include <unistd.h>

#include "platform/win32/winbase.h"
#include "tests/platform/dmusic/disk_audio.h"
#include "tests/viewer/sound_fakes.h"
#include "viewer/sound_player.h"

using namespace sound_fakes;

namespace {

struct Fakes {
    Log log;
    FakeSegment segment{&log, "segment"};
    FakeLoader loader{&log, "loader"};
    FakePerformance performance{&log, "performance"};
    FakeAudioPath embedded{&log, "embedded"};
    FakeAudioPath given{&log, "given"};
    FakeConfiguration configuration{&log, "configuration"};
};

// A player whose loader and performance are the stand-ins; they are taken
// back before the player goes, unless the test wants the destructor's calls.
struct PlayerOnFakes {
    Fakes& fakes;
    SoundPlayer player;
    explicit PlayerOnFakes(Fakes& f) : fakes(f) {
        player.loader = &f.loader;
        player.performance = &f.performance;
        f.loader.segment = &f.segment;
    }
};

}  // namespace

TEST(SoundSegment, MakesAnAudioPathOnlyFromTheSegmentsOwnConfiguration) {
    for (bool hasConfiguration : {false, true}) {
        Fakes f;
        f.performance.audioPath = &f.embedded;
        f.segment.configuration = hasConfiguration ? &f.configuration : nullptr;
        {
            SoundSegment sound(&f.performance, &f.loader, &f.segment);
            EXPECT_EQ(sound.embeddedAudioPath, hasConfiguration ? &f.embedded : nullptr);
            EXPECT_FALSE(sound.prepared);
            const Log expected = hasConfiguration ? Log{"segment.GetAudioPathConfig",
                                                        "performance.CreateAudioPath(configuration,TRUE)",
                                                        "configuration.Release"}
                                                  : Log{"segment.GetAudioPathConfig"};
            EXPECT_EQ(f.log, expected);
        }
    }
}

TEST(SoundSegment, PrepareDownloadsToTheNearestTarget) {
    struct Case {
        const char* what;
        bool embedded;
        bool givePath;
        HRESULT download;
        const char* expectedCall;
    } cases[] = {
        {"given path first", true, true, S_OK, "segment.Download(given)"},
        {"then the embedded path", true, false, S_OK, "segment.Download(embedded)"},
        {"else the performance", false, false, S_OK, "segment.Download(performance)"},
        {"a failed download leaves it unprepared", false, false, DMUS_E_NOT_INIT, "segment.Download(performance)"},
    };
    for (const Case& c : cases) {
        Fakes f;
        f.performance.audioPath = &f.embedded;
        f.segment.configuration = c.embedded ? &f.configuration : nullptr;
        f.segment.downloadResult = c.download;
        SoundSegment sound(&f.performance, &f.loader, &f.segment);
        f.log.clear();
        EXPECT_EQ(sound.Prepare(c.givePath ? &f.given : nullptr), c.download) << c.what;
        EXPECT_EQ(f.log, Log{c.expectedCall}) << c.what;
        EXPECT_EQ(bool(sound.prepared), SUCCEEDED(c.download)) << c.what;
        sound.prepared = FALSE;  // keep the destructor's calls out of the way
        sound.segment = nullptr;
    }
    Fakes f;
    SoundSegment empty(&f.performance, &f.loader, nullptr);
    EXPECT_EQ(empty.Prepare(nullptr), CO_E_NOTINITIALIZED);
    EXPECT_TRUE(f.log.empty());
}

TEST(SoundSegment, PlayNeedsAPreparedSegmentAndReturnsThePerformancesResult) {
    struct Case {
        const char* what;
        bool haveSegment, havePerformance, prepared, embedded, givePath;
        HRESULT playResult;
        HRESULT expected;
        Log expectedLog;
    } cases[] = {
        {"no segment", false, true, true, false, false, S_OK, CO_E_NOTINITIALIZED, {}},
        {"no performance", true, false, true, false, false, S_OK, CO_E_NOTINITIALIZED, {}},
        {"unprepared", true, true, false, false, false, S_OK, E_FAIL, {}},
        {"default path", true, true, true, false, false, S_OK, S_OK,
         {"performance.PlaySegmentEx(segment,none,none,00000080,0,none,none,none)"}},
        {"embedded path", true, true, true, true, false, S_OK, S_OK,
         {"performance.PlaySegmentEx(segment,none,none,00000080,0,none,none,embedded)"}},
        {"given path wins", true, true, true, true, true, S_OK, S_OK,
         {"performance.PlaySegmentEx(segment,none,none,00000080,0,none,none,given)"}},
        {"failure passed on unchanged", true, true, true, false, false, DMUS_E_NOT_INIT, DMUS_E_NOT_INIT,
         {"performance.PlaySegmentEx(segment,none,none,00000080,0,none,none,none)"}},
    };
    for (const Case& c : cases) {
        Fakes f;
        f.performance.audioPath = &f.embedded;
        f.performance.playResult = c.playResult;
        f.segment.configuration = c.embedded ? &f.configuration : nullptr;
        SoundSegment sound(&f.performance, &f.loader, &f.segment);
        sound.prepared = c.prepared;
        sound.segment = c.haveSegment ? &f.segment : nullptr;
        sound.performance = c.havePerformance ? &f.performance : nullptr;
        f.log.clear();
        EXPECT_EQ(sound.Play(DMUS_SEGF_SECONDARY, c.givePath ? &f.given : nullptr), c.expected) << c.what;
        EXPECT_EQ(f.log, c.expectedLog) << c.what;
        sound.segment = nullptr;
        sound.embeddedAudioPath = nullptr;
    }
}

TEST(SoundSegment, DestructionLetsGoOfTheSegmentInOrder) {
    struct Case {
        const char* what;
        bool prepared, embedded, haveLoader;
        Log expected;
    } cases[] = {
        {"prepared, default path", true, false, true,
         {"loader.ReleaseObjectByUnknown(segment)", "segment.Unload(performance)", "segment.Release"}},
        {"prepared, embedded path", true, true, true,
         {"loader.ReleaseObjectByUnknown(segment)", "segment.Unload(embedded)", "embedded.Release",
          "segment.Release"}},
        {"never prepared", false, false, true, {"loader.ReleaseObjectByUnknown(segment)", "segment.Release"}},
        {"no loader", true, false, false, {"segment.Unload(performance)", "segment.Release"}},
    };
    for (const Case& c : cases) {
        Fakes f;
        f.performance.audioPath = &f.embedded;
        f.segment.configuration = c.embedded ? &f.configuration : nullptr;
        auto* sound = new SoundSegment(&f.performance, c.haveLoader ? &f.loader : nullptr, &f.segment);
        sound->prepared = c.prepared;
        f.log.clear();
        delete sound;
        EXPECT_EQ(f.log, c.expected) << c.what;
    }
}

TEST(SoundPlayer, DestructorReleasesLoaderThenStopsAndClosesThePerformanceAndBalancesCom) {
    const int depth = platform::com::initializationDepth();
    struct Case {
        const char* what;
        bool loader, performance;
        Log expected;
    } cases[] = {
        {"both", true, true,
         {"loader.Release", "performance.Stop(none,none,0,0)", "performance.CloseDown", "performance.Release"}},
        {"only the loader (the performance could not be made)", true, false, {"loader.Release"}},
        {"nothing made", false, false, {}},
    };
    for (const Case& c : cases) {
        Fakes f;
        {
            auto* player = new SoundPlayer;
            EXPECT_TRUE(player->comInitialized) << c.what;
            EXPECT_EQ(platform::com::initializationDepth(), depth + 1) << c.what;
            player->loader = c.loader ? &f.loader : nullptr;
            player->performance = c.performance ? &f.performance : nullptr;
            delete player;
        }
        EXPECT_EQ(f.log, c.expected) << c.what;
        EXPECT_EQ(platform::com::initializationDepth(), depth) << c.what;
    }
}

TEST(SoundPlayer, SetMediaFolderConvertsThePathForTheLoader) {
    {
        SoundPlayer player;
        EXPECT_EQ(player.SetMediaFolder("/tmp"), E_UNEXPECTED);
    }
    Fakes f;
    PlayerOnFakes p(f);
    EXPECT_EQ(p.player.SetMediaFolder(nullptr), E_INVALIDARG);
    EXPECT_TRUE(f.log.empty());
    EXPECT_EQ(p.player.SetMediaFolder("/home/caf\xe9"), S_OK);  // Windows-1252
    EXPECT_EQ(f.log, Log{"loader.SetSearchDirectory(AllTypes,FALSE)"});
    EXPECT_EQ(f.loader.searchPath, u"/home/caf\u00e9");
    const std::string longPath(300, 'a');
    EXPECT_EQ(p.player.SetMediaFolder(longPath.c_str()), S_OK);
    EXPECT_EQ(f.loader.searchPath, std::u16string(MAX_PATH - 1, u'a'));
    p.player.loader = nullptr;
    p.player.performance = nullptr;
}

TEST(SoundPlayer, LoadSegmentFromResourceDescribesTheResourceAndPreparesIt) {
    struct Case {
        const char* what;
        const char* name;
        BOOL prepareNow, isMidi;
        HRESULT getObject, setParam, download;
        HRESULT expected;
        bool handedOut, prepared;
        Log expectedLog;
    } cases[] = {
        {"prepared now", "BOUNCE", TRUE, FALSE, S_OK, S_OK, S_OK, S_OK, true, true,
         {"loader.GetObject", "segment.GetAudioPathConfig", "segment.Download(performance)"}},
        {"name in other case", "bounce", FALSE, FALSE, S_OK, S_OK, S_OK, S_OK, true, false,
         {"loader.GetObject", "segment.GetAudioPathConfig"}},
        {"missing resource", "NOSUCHSOUND", TRUE, FALSE, S_OK, S_OK, S_OK, E_FAIL, false, false, {}},
        {"loader refuses", "BOUNCE", TRUE, FALSE, DMUS_E_INVALIDFILE, S_OK, S_OK, DMUS_E_INVALIDFILE, false, false,
         {"loader.GetObject"}},
        {"as MIDI", "BOUNCE", TRUE, TRUE, S_OK, S_OK, S_OK, S_OK, true, true,
         {"loader.GetObject", "segment.GetAudioPathConfig",
          "segment.SetParam(StandardMIDIFile,FFFFFFFF,0,0,none)", "segment.Download(performance)"}},
        {"MIDI parameter refused: handed out unprepared", "BOUNCE", TRUE, TRUE, S_OK, DMUS_E_TYPE_UNSUPPORTED, S_OK,
         DMUS_E_TYPE_UNSUPPORTED, true, false,
         {"loader.GetObject", "segment.GetAudioPathConfig", "segment.SetParam(StandardMIDIFile,FFFFFFFF,0,0,none)"}},
        {"download fails: handed out unprepared", "BOUNCE", TRUE, FALSE, S_OK, S_OK, DSERR_NODRIVER, DSERR_NODRIVER,
         true, false, {"loader.GetObject", "segment.GetAudioPathConfig", "segment.Download(performance)"}},
    };
    for (const Case& c : cases) {
        Fakes f;
        f.loader.getObjectResult = c.getObject;
        f.segment.setParamResult = c.setParam;
        f.segment.downloadResult = c.download;
        PlayerOnFakes p(f);
        SoundSegment* sound = nullptr;
        EXPECT_EQ(p.player.LoadSegmentFromResource(&sound, c.name, "WAVE", c.prepareNow, c.isMidi), c.expected)
            << c.what;
        EXPECT_EQ(f.log, c.expectedLog) << c.what;
        ASSERT_EQ(sound != nullptr, c.handedOut) << c.what;
        if (c.getObject == S_OK && c.expected != E_FAIL) {
            const DMUS_OBJECTDESC& d = f.loader.description;
            EXPECT_EQ(d.dwSize, sizeof(DMUS_OBJECTDESC));
            EXPECT_EQ(d.dwValidData, DWORD(DMUS_OBJ_CLASS | DMUS_OBJ_MEMORY));
            EXPECT_EQ(d.guidClass, CLSID_DirectMusicSegment);
            EXPECT_EQ(d.llMemLength, 13468);
            HRSRC resource = FindResourceA(nullptr, "BOUNCE", "WAVE");
            EXPECT_EQ(d.pbMemData, LoadResource(nullptr, resource)) << "used in place";
            EXPECT_EQ(f.loader.asked, IID_IDirectMusicSegment8);
        }
        if (sound) {
            EXPECT_EQ(bool(sound->prepared), c.prepared) << c.what;
            if (!c.prepared) {
                EXPECT_EQ(sound->Play(DMUS_SEGF_SECONDARY, nullptr), E_FAIL) << c.what;
            }
            delete sound;
        }
        p.player.loader = nullptr;
        p.player.performance = nullptr;
    }
    SoundPlayer closed;
    SoundSegment* sound = nullptr;
    EXPECT_EQ(closed.LoadSegmentFromResource(&sound, "BOUNCE", "WAVE", TRUE, FALSE), E_UNEXPECTED);
    EXPECT_EQ(sound, nullptr);
}

// The real layer, heard through the disk driver.

TEST(SoundPlayer, PlaysTheEmbeddedBounce) {
    sound_test::DiskAudio disk("player");
    std::uint64_t before = 0;
    IDirectMusicPerformance8* kept = nullptr;  // to count its frames after shut-down
    {
        SoundPlayer player;
        ASSERT_EQ(player.Open(nullptr, 128, DMUS_APATH_DYNAMIC_STEREO, nullptr), S_OK);
        kept = player.performance;
        kept->AddRef();
        char folder[MAX_PATH];
        ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, folder), 0u);
        EXPECT_EQ(player.SetMediaFolder(folder), S_OK);
        SoundSegment* bounce = nullptr;
        ASSERT_EQ(player.LoadSegmentFromResource(&bounce, "BOUNCE", "WAVE", TRUE, FALSE), S_OK);
        ASSERT_NE(bounce, nullptr);
        EXPECT_TRUE(bounce->prepared);
        EXPECT_EQ(bounce->embeddedAudioPath, nullptr);
        ASSERT_TRUE(sound_test::WaitForFrames(player.performance, 2 * sound_test::kBufferFrames));
        platform::dmusic::LockDevice(player.performance);
        before = sound_test::FramesRendered(player.performance);
        const HRESULT played = bounce->Play(DMUS_SEGF_SECONDARY, nullptr);
        platform::dmusic::UnlockDevice(player.performance);
        EXPECT_EQ(played, S_OK);
        ASSERT_TRUE(sound_test::WaitForFrames(player.performance, before + 27000 + 2 * sound_test::kBufferFrames));
        delete bounce;  // the segment before the player
    }
    const std::uint64_t rendered = sound_test::FramesRendered(kept);
    kept->Release();
    const std::vector<std::int16_t> recording = disk.Left();
    std::vector<std::int32_t> rest;
    const std::vector<std::size_t> starts = sound_test::FindPlays(
        recording, sound_test::ExpectedAtDeviceRate(sound_test::BounceSamples(), 11025), &rest);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0], sound_test::FirstMixedFrame(recording, rendered) + before);
    EXPECT_LE(sound_test::LargestMagnitude(rest), sound_test::kTolerance);
}

TEST(SoundPlayer, WithoutASoundDeviceOpenFailsAndTheDestructorStillCleansUp) {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "/nonexistent-folder/vl/out.raw", 1);
    const int depth = platform::com::initializationDepth();
    {
        SoundPlayer player;
        EXPECT_EQ(player.Open(nullptr, 128, DMUS_APATH_DYNAMIC_STEREO, nullptr), DSERR_NODRIVER);
        EXPECT_NE(player.loader, nullptr);
        EXPECT_NE(player.performance, nullptr);
    }
    EXPECT_EQ(platform::com::initializationDepth(), depth);
}
