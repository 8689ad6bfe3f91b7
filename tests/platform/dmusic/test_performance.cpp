// The loader, the performance and segments through SDL's disk driver: what
// plays comes back from the recording sample by sample.
#include <gtest/gtest.h>

#include <thread>

#include "platform/dmusic/dmusic_internal.h"
#include "platform/dmusic/dmusici.h"
#include "tests/platform/dmusic/disk_audio.h"

using namespace sound_test;

namespace {

// COM started for the test's lifetime.
struct Com {
    Com() { CoInitialize(nullptr); }
    ~Com() { CoUninitialize(); }
};

IDirectMusicPerformance8* NewPerformance() {
    IDirectMusicPerformance8* performance = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_DirectMusicPerformance, nullptr, CLSCTX_INPROC, IID_IDirectMusicPerformance8,
                               reinterpret_cast<void**>(&performance)),
              S_OK);
    return performance;
}

IDirectMusicLoader8* NewLoader() {
    IDirectMusicLoader8* loader = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_DirectMusicLoader, nullptr, CLSCTX_INPROC, IID_IDirectMusicLoader8,
                               reinterpret_cast<void**>(&loader)),
              S_OK);
    return loader;
}

DMUS_OBJECTDESC MemoryDescription(std::vector<std::uint8_t>& bytes) {
    DMUS_OBJECTDESC d;
    std::memset(&d, 0, sizeof d);
    d.dwSize = sizeof d;
    d.dwValidData = DMUS_OBJ_CLASS | DMUS_OBJ_MEMORY;
    d.guidClass = CLSID_DirectMusicSegment;
    d.llMemLength = LONGLONG(bytes.size());
    d.pbMemData = bytes.data();
    return d;
}

HRESULT InitAudio(IDirectMusicPerformance8* performance) {
    return performance->InitAudio(nullptr, nullptr, nullptr, DMUS_APATH_DYNAMIC_STEREO, 128, DMUS_AUDIOF_ALL, nullptr);
}

HRESULT Play(IDirectMusicPerformance8* performance, IDirectMusicSegment8* segment) {
    return performance->PlaySegmentEx(segment, nullptr, nullptr, DMUS_SEGF_SECONDARY, 0, nullptr, nullptr, nullptr);
}

// The bounce at the device rate, as the recording should hold it.
std::vector<std::int16_t> ExpectedBounce() { return ExpectedAtDeviceRate(BounceSamples(), 11025); }

// A loader, a performance on the disk driver and the bounce downloaded to it.
struct Player {
    Com com;
    IDirectMusicLoader8* loader = NewLoader();
    IDirectMusicPerformance8* performance = NewPerformance();
    IDirectMusicSegment8* segment = nullptr;
    std::vector<std::uint8_t> bytes = BounceFile();

    HRESULT Open() {
        HRESULT hr = InitAudio(performance);
        if (FAILED(hr))
            return hr;
        DMUS_OBJECTDESC d = MemoryDescription(bytes);
        hr = loader->GetObject(&d, IID_IDirectMusicSegment8, reinterpret_cast<void**>(&segment));
        if (FAILED(hr))
            return hr;
        return segment->Download(performance);
    }
    ~Player() {
        if (segment) {
            loader->ReleaseObjectByUnknown(segment);
            segment->Unload(performance);
            segment->Release();
        }
        loader->Release();
        performance->Stop(nullptr, nullptr, 0, 0);
        performance->CloseDown();
        performance->Release();
    }
};

}  // namespace

TEST(Com, CreatesTheLoaderAndThePerformanceByTheirIds) {
    const CLSID unknownClass = {0x12345678, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};
    struct Case {
        const char* what;
        bool comStarted;
        CLSID classId;
        IID interfaceId;
        HRESULT expected;
    } cases[] = {
        {"loader", true, CLSID_DirectMusicLoader, IID_IDirectMusicLoader8, S_OK},
        {"performance", true, CLSID_DirectMusicPerformance, IID_IDirectMusicPerformance8, S_OK},
        {"performance as IUnknown", true, CLSID_DirectMusicPerformance, IID_IUnknown, S_OK},
        {"loader asked for the performance's interface", true, CLSID_DirectMusicLoader,
         IID_IDirectMusicPerformance8, E_NOINTERFACE},
        {"segment class is not created this way", true, CLSID_DirectMusicSegment, IID_IDirectMusicSegment8,
         REGDB_E_CLASSNOTREG},
        {"unknown class", true, unknownClass, IID_IUnknown, REGDB_E_CLASSNOTREG},
        {"COM not started", false, CLSID_DirectMusicLoader, IID_IDirectMusicLoader8, CO_E_NOTINITIALIZED},
    };
    for (const Case& c : cases) {
        if (c.comStarted) {
            ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        }
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(CoCreateInstance(c.classId, nullptr, CLSCTX_INPROC, c.interfaceId, &object), c.expected) << c.what;
        if (SUCCEEDED(c.expected)) {
            ASSERT_NE(object, nullptr);
            EXPECT_EQ(static_cast<IUnknown*>(object)->Release(), 0u) << c.what;
        } else {
            EXPECT_EQ(object, nullptr) << c.what;
        }
        if (c.comStarted)
            CoUninitialize();
        EXPECT_EQ(platform::com::initializationDepth(), 0);
    }
}

TEST(Performance, WithoutADeviceFailsWithNoDriverAndChangesNothing) {
    Com com;
    // The disk driver cannot open a file in a folder that does not exist:
    // for SDL that is a device that cannot be opened.
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "/nonexistent-folder/vl/out.raw", 1);
    IDirectMusicPerformance8* performance = NewPerformance();
    IDirectMusicLoader8* loader = NewLoader();
    EXPECT_EQ(InitAudio(performance), DSERR_NODRIVER);
    EXPECT_EQ(platform::dmusic::MixerOf(performance), nullptr);
    std::vector<std::uint8_t> bytes = BounceFile();
    DMUS_OBJECTDESC d = MemoryDescription(bytes);
    IDirectMusicSegment8* segment = nullptr;
    ASSERT_EQ(loader->GetObject(&d, IID_IDirectMusicSegment8, reinterpret_cast<void**>(&segment)), S_OK);
    EXPECT_EQ(segment->Download(performance), DMUS_E_NOT_INIT);
    EXPECT_EQ(Play(performance, segment), DMUS_E_NOT_INIT);
    EXPECT_EQ(performance->Stop(nullptr, nullptr, 0, 0), S_OK);
    // Nothing was left half open: with a device there, the same performance
    // opens and takes the download.
    {
        DiskAudio disk("retry");
        EXPECT_EQ(InitAudio(performance), S_OK);
        EXPECT_EQ(segment->Download(performance), S_OK);
        EXPECT_EQ(Play(performance, segment), S_OK);
        EXPECT_EQ(segment->Unload(performance), S_OK);
        EXPECT_EQ(performance->CloseDown(), S_OK);
    }
    EXPECT_EQ(performance->CloseDown(), S_OK);
    EXPECT_EQ(loader->ReleaseObjectByUnknown(segment), S_OK);
    EXPECT_EQ(segment->Release(), 0u);
    EXPECT_EQ(loader->Release(), 0u);
    EXPECT_EQ(performance->Release(), 0u);
}

TEST(Performance, AFailedStartDoesNotTieTheNextStartToTheSameBackEnd) {
    Com com;
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "/nonexistent-folder/vl/out.raw", 1);
    IDirectMusicPerformance8* performance = NewPerformance();
    EXPECT_EQ(InitAudio(performance), DSERR_NODRIVER);
    // The disk back end would fail again with the same file; another back
    // end is only reached if SDL starts afresh.
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    EXPECT_EQ(InitAudio(performance), S_OK);
    EXPECT_EQ(performance->CloseDown(), S_OK);
    EXPECT_EQ(performance->Release(), 0u);
}

TEST(Performance, APlayReachesTheDeviceAtOnceAsTheConvertedWave) {
    DiskAudio disk("single");
    std::uint64_t before = 0;
    IDirectMusicPerformance8* kept = nullptr;  // to count its frames after shut-down
    {
        Player player;
        kept = player.performance;
        kept->AddRef();
        ASSERT_EQ(player.Open(), S_OK);
        ASSERT_TRUE(WaitForFrames(player.performance, 4 * kBufferFrames));
        // Held still, so that the play's first frame is known exactly.
        platform::dmusic::LockDevice(player.performance);
        before = FramesRendered(player.performance);
        const HRESULT played = Play(player.performance, player.segment);
        platform::dmusic::UnlockDevice(player.performance);
        ASSERT_EQ(played, S_OK);
        ASSERT_TRUE(WaitForFrames(player.performance, before + 30000 + 2 * kBufferFrames));
    }
    const std::uint64_t rendered = FramesRendered(kept);
    kept->Release();
    const std::vector<std::int16_t> recording = disk.Left();
    std::vector<std::int32_t> rest;
    const std::vector<std::size_t> starts = FindPlays(recording, ExpectedBounce(), &rest);
    ASSERT_EQ(starts.size(), 1u);
    // At once: from the first frame the device renders after the call.
    EXPECT_EQ(starts[0], FirstMixedFrame(recording, rendered) + before);
    EXPECT_LE(LargestMagnitude(rest), kTolerance);
}

TEST(Performance, OverlappingPlaysAddUpAndClip) {
    DiskAudio disk("overlap");
    const std::vector<std::int16_t> bounce = ExpectedBounce();
    {
        Player player;
        ASSERT_EQ(player.Open(), S_OK);
        // Three plays: the second well inside the first, the third inside
        // the second, the way a held key repeats.
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(Play(player.performance, player.segment), S_OK);
            ASSERT_TRUE(WaitForFrames(player.performance, FramesRendered(player.performance) + 22050));
        }
        ASSERT_TRUE(WaitForFrames(player.performance, FramesRendered(player.performance) + bounce.size()));
    }
    const std::vector<std::int16_t> recording = disk.Left();
    std::vector<std::int32_t> rest;
    const std::vector<std::size_t> starts = FindPlays(recording, bounce, &rest);
    ASSERT_EQ(starts.size(), 3u);
    for (std::size_t i = 1; i < starts.size(); ++i) {
        EXPECT_GE(starts[i] - starts[i - 1], 22050u);
        EXPECT_LT(starts[i] - starts[i - 1], bounce.size()) << "the plays must overlap";
    }
    EXPECT_LE(LargestMagnitude(rest), 2 * kTolerance);
}

TEST(Performance, StopSilencesAndUnloadForgetsTheSound) {
    DiskAudio disk("stop");
    Player player;
    ASSERT_EQ(player.Open(), S_OK);
    ASSERT_EQ(Play(player.performance, player.segment), S_OK);
    ASSERT_EQ(Play(player.performance, player.segment), S_OK);
    EXPECT_EQ(player.performance->Stop(nullptr, nullptr, 0, 0), S_OK);
    EXPECT_EQ(platform::dmusic::VoicesSounding(player.performance), 0u);
    ASSERT_EQ(Play(player.performance, player.segment), S_OK);
    EXPECT_EQ(player.segment->Unload(player.performance), S_OK);
    EXPECT_EQ(platform::dmusic::VoicesSounding(player.performance), 0u);
    EXPECT_EQ(Play(player.performance, player.segment), DMUS_E_NOT_DOWNLOADED);
    EXPECT_EQ(player.segment->Unload(player.performance), DMUS_E_NOT_DOWNLOADED);
    ASSERT_EQ(player.segment->Download(player.performance), S_OK);
    EXPECT_EQ(Play(player.performance, player.segment), S_OK);
}

TEST(Performance, ADeviceThatGoesAwayMakesLaterPlaysFailQuietly) {
    // Writing to /dev/full fails, which the disk driver reports as the
    // device being unplugged.
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "/dev/full", 1);
    setenv("SDL_DISKAUDIODELAY", "1", 1);
    Player player;
    ASSERT_EQ(player.Open(), S_OK);
    Play(player.performance, player.segment);  // may still be taken
    bool stopped = false;
    for (int i = 0; i < 20000 && !stopped; ++i) {
        stopped = platform::dmusic::DeviceStopped(player.performance);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(stopped);
    for (int i = 0; i < 300; ++i)  // more than the ring holds
        EXPECT_EQ(Play(player.performance, player.segment), DMUS_E_NOT_INIT);
    EXPECT_EQ(player.performance->Stop(nullptr, nullptr, 0, 0), S_OK);
}

TEST(Performance, RefusesWhatTheProgramNeverAsksFor) {
    DiskAudio disk("refuse");
    Player player;
    ASSERT_EQ(player.Open(), S_OK);
    IDirectMusicPerformance8* p = player.performance;
    IDirectMusicSegment8* s = player.segment;
    IDirectMusicSegmentState* state = reinterpret_cast<IDirectMusicSegmentState*>(8);
    WCHAR name[] = u"x";
    struct Case {
        const char* what;
        HRESULT result;
        HRESULT expected;
    } cases[] = {
        {"no segment", p->PlaySegmentEx(nullptr, nullptr, nullptr, DMUS_SEGF_SECONDARY, 0, nullptr, nullptr, nullptr),
         E_POINTER},
        {"a performance as segment",
         p->PlaySegmentEx(p, nullptr, nullptr, DMUS_SEGF_SECONDARY, 0, nullptr, nullptr, nullptr), E_INVALIDARG},
        {"primary segment", p->PlaySegmentEx(s, nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr), E_NOTIMPL},
        {"later start", p->PlaySegmentEx(s, nullptr, nullptr, DMUS_SEGF_SECONDARY, 100, nullptr, nullptr, nullptr),
         E_NOTIMPL},
        {"by name", p->PlaySegmentEx(s, name, nullptr, DMUS_SEGF_SECONDARY, 0, nullptr, nullptr, nullptr), E_NOTIMPL},
        {"segment state asked for",
         p->PlaySegmentEx(s, nullptr, nullptr, DMUS_SEGF_SECONDARY, 0, &state, nullptr, nullptr), S_OK},
        {"second InitAudio", InitAudio(p), DMUS_E_ALREADY_INITED},
        {"download to nothing", s->Download(nullptr), E_POINTER},
        {"download to the loader", s->Download(player.loader), E_INVALIDARG},
        {"MIDI parameter", s->SetParam(GUID_StandardMIDIFile, 0xFFFFFFFF, 0, 0, nullptr), DMUS_E_TYPE_UNSUPPORTED},
        {"audio path from no configuration", p->CreateAudioPath(nullptr, TRUE, nullptr), E_POINTER},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.result, c.expected) << c.what;
    EXPECT_EQ(state, nullptr) << "no segment state is handed out";

    IUnknown* configuration = p;
    EXPECT_EQ(s->GetAudioPathConfig(&configuration), DMUS_E_NO_AUDIOPATH_CONFIG);
    EXPECT_EQ(configuration, nullptr);
    IDirectMusicAudioPath8* path = reinterpret_cast<IDirectMusicAudioPath8*>(8);
    EXPECT_EQ(p->CreateAudioPath(p, TRUE, &path), E_INVALIDARG);
    EXPECT_EQ(path, nullptr);
}

TEST(Loader, GetObjectTakesSegmentsFromMemoryOnly) {
    Com com;
    IDirectMusicLoader8* loader = NewLoader();
    std::vector<std::uint8_t> bytes = BounceFile();
    std::vector<std::uint8_t> broken(bytes.begin(), bytes.begin() + 100);
    struct Case {
        const char* what;
        void (*change)(DMUS_OBJECTDESC&);
        IID interfaceId;
        HRESULT expected;
    } cases[] = {
        {"memory descriptor", [](DMUS_OBJECTDESC&) {}, IID_IDirectMusicSegment8, S_OK},
        {"as IUnknown", [](DMUS_OBJECTDESC&) {}, IID_IUnknown, S_OK},
        {"wrong interface", [](DMUS_OBJECTDESC&) {}, IID_IDirectMusicLoader8, E_NOINTERFACE},
        {"wrong dwSize", [](DMUS_OBJECTDESC& d) { d.dwSize = 848 - 8; }, IID_IDirectMusicSegment8, E_INVALIDARG},
        {"no memory flag", [](DMUS_OBJECTDESC& d) { d.dwValidData = DMUS_OBJ_CLASS | DMUS_OBJ_FILENAME; },
         IID_IDirectMusicSegment8, E_INVALIDARG},
        {"other class", [](DMUS_OBJECTDESC& d) { d.guidClass = CLSID_DirectMusicLoader; }, IID_IDirectMusicSegment8,
         E_INVALIDARG},
        {"no bytes", [](DMUS_OBJECTDESC& d) { d.pbMemData = nullptr; }, IID_IDirectMusicSegment8, E_INVALIDARG},
        {"negative length", [](DMUS_OBJECTDESC& d) { d.llMemLength = -5; }, IID_IDirectMusicSegment8, E_INVALIDARG},
        {"length beyond the file's own", [](DMUS_OBJECTDESC& d) { d.llMemLength = 40; }, IID_IDirectMusicSegment8,
         DMUS_E_INVALIDFILE},
    };
    for (const Case& c : cases) {
        DMUS_OBJECTDESC d = MemoryDescription(bytes);
        c.change(d);
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(loader->GetObject(&d, c.interfaceId, &object), c.expected) << c.what;
        if (SUCCEEDED(c.expected)) {
            auto* segment = static_cast<IUnknown*>(object);
            EXPECT_EQ(loader->ReleaseObjectByUnknown(segment), S_OK) << c.what;
            EXPECT_EQ(loader->ReleaseObjectByUnknown(segment), S_FALSE) << c.what;
            EXPECT_EQ(segment->Release(), 0u) << c.what;
        } else {
            EXPECT_EQ(object, nullptr) << c.what;
        }
    }
    DMUS_OBJECTDESC d = MemoryDescription(broken);
    void* object = nullptr;
    EXPECT_EQ(loader->GetObject(&d, IID_IDirectMusicSegment8, &object), DMUS_E_INVALIDFILE);
    // The loader's own reference goes with the loader.
    d = MemoryDescription(bytes);
    ASSERT_EQ(loader->GetObject(&d, IID_IDirectMusicSegment8, &object), S_OK);
    auto* segment = static_cast<IUnknown*>(object);
    EXPECT_EQ(loader->Release(), 0u);
    EXPECT_EQ(segment->Release(), 0u);
}

TEST(Loader, SearchDirectoryMustExist) {
    Com com;
    IDirectMusicLoader8* loader = NewLoader();
    WCHAR tmp[] = u"/tmp";
    WCHAR missing[] = u"/nonexistent-folder/vl";
    struct Case {
        const char* what;
        GUID objectClass;
        WCHAR* path;
        HRESULT expected;
    } cases[] = {
        {"existing folder", GUID_DirectMusicAllTypes, tmp, S_OK},
        {"the same again", GUID_DirectMusicAllTypes, tmp, S_FALSE},
        {"missing folder", GUID_DirectMusicAllTypes, missing, HRESULT(0x80070003)},
        {"no path", GUID_DirectMusicAllTypes, nullptr, E_POINTER},
        {"class of no loadable object", CLSID_DirectMusicLoader, tmp, E_INVALIDARG},
    };
    for (const Case& c : cases)
        EXPECT_EQ(loader->SetSearchDirectory(c.objectClass, c.path, FALSE), c.expected) << c.what;
    loader->Release();
}
