// The loader, the performance and segments on SDL 2 audio.
#define SDL_MAIN_HANDLED
#include <SDL.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/com/com_object.h"
#include "platform/dmusic/dmusic_internal.h"
#include "platform/dmusic/dmusici.h"
#include "platform/dmusic/mixer.h"
#include "platform/dmusic/wave.h"
#include "platform/win32/winbase.h"

namespace platform::dmusic {

namespace {

constexpr HRESULT kPathNotFound = HRESULT(0x80070000u | ERROR_PATH_NOT_FOUND);
constexpr int kDeviceRate = 44100;
constexpr int kDeviceChannels = 2;
constexpr int kDeviceBufferFrames = 512;  // about 12 ms at 44100

using platform::com::ComObject;

// Says a cause once per process, so that a machine without sound or a
// flaky device does not fill the terminal.
void ReportOnce(std::atomic<bool>& said, const char* what, const char* detail) {
    if (!said.exchange(true))
        std::fprintf(stderr, "vibrolane: %s%s%s\n", what, detail && *detail ? ": " : "", detail ? detail : "");
}

// ALSA's library writes every failed look-up of a sound card straight to
// standard error, eight lines on a machine without one. The cause is what
// SDL reports, and that is said once; the library's own chatter is silenced.
void QuietAlsaMessages(const char*, int, const char*, int, const char*, ...) {}

void SilenceAlsa() {
    static bool done = false;
    if (done)
        return;
    done = true;
    // The same library instance SDL opens later; it stays loaded for the
    // process, as SDL's own handle would keep it anyway.
    void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!alsa)
        return;
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetHandler = int (*)(Handler);
    if (auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler")))
        set(&QuietAlsaMessages);
}

std::atomic<bool> saidNoDevice{false};
std::atomic<bool> saidDeviceLost{false};

// Shutting SDL's audio down after a device failed to open makes its ALSA
// back end join a device watcher that sleeps in 100 ms steps, and on a
// machine without sound that wait would hold up the window's first frame.
// The failed start keeps its hold on SDL's audio instead; the next start
// lets go of it first, so that SDL picks its back end afresh.
bool failedStartHeld = false;

void LetGoOfFailedStart() {
    if (failedStartHeld) {
        failedStartHeld = false;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
}

class Performance;

class Segment final : public ComObject<IDirectMusicSegment8> {
public:
    Segment(const WaveFormat& format, std::vector<BYTE> frames) : format_(format), frames_(std::move(frames)) {}

    HRESULT QueryInterface(REFIID riid, void** object) override {
        return Answer(riid, IID_IDirectMusicSegment8, object);
    }
    HRESULT SetParam(REFGUID type, DWORD, DWORD, MUSIC_TIME, void*) override;
    HRESULT GetAudioPathConfig(IUnknown** configuration) override {
        if (!configuration)
            return E_POINTER;
        *configuration = nullptr;
        return DMUS_E_NO_AUDIOPATH_CONFIG;
    }
    HRESULT Download(IUnknown* audioPath) override;
    HRESULT Unload(IUnknown* audioPath) override;

    // The sound downloaded to the performance, or none.
    const Sound* SoundFor(const Performance* performance) const;
    WaveView View() const { return WaveView{format_, frames_.data(), frames_.size() / std::size_t(format_.blockAlign)}; }

private:
    ~Segment() override;

    struct Downloaded {
        Performance* performance;  // holds a reference while downloaded
        std::shared_ptr<Sound> sound;
        int count;
    };

    WaveFormat format_;
    std::vector<BYTE> frames_;
    std::vector<Downloaded> downloads_;
};

class Performance final : public ComObject<IDirectMusicPerformance8> {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        return Answer(riid, IID_IDirectMusicPerformance8, object);
    }
    HRESULT InitAudio(IDirectMusic** music, IDirectSound** directSound, HWND, DWORD pathType, DWORD channels,
                      DWORD flags, DMUS_AUDIOPARAMS* parameters) override;
    HRESULT PlaySegmentEx(IUnknown* source, WCHAR* segmentName, IUnknown* transition, DWORD flags,
                          LONGLONG startTime, IDirectMusicSegmentState** segmentState, IUnknown* from,
                          IUnknown* audioPath) override;
    HRESULT Stop(IDirectMusicSegment* segment, IDirectMusicSegmentState* segmentState, MUSIC_TIME time,
                 DWORD flags) override;
    HRESULT CloseDown() override;
    HRESULT CreateAudioPath(IUnknown* configuration, BOOL, IDirectMusicAudioPath8** audioPath) override {
        if (!audioPath)
            return E_POINTER;
        *audioPath = nullptr;
        // Configurations come only from segments that carry one, and no
        // segment of this layer does.
        return configuration ? E_INVALIDARG : E_POINTER;
    }

    // For segments: convert for the device and keep the sound until Unload.
    HRESULT DownloadWave(const WaveView& wave, std::shared_ptr<Sound>* sound);
    void UnloadSound(const Sound* sound);

    Mixer* mixer() { return mixer_.get(); }
    std::uint64_t framesRendered() const { return framesRendered_ + (mixer_ ? mixer_->framesRendered() : 0); }
    SDL_AudioDeviceID device() const { return device_; }

private:
    ~Performance() override { CloseDown(); }

    bool DeviceLost() const;
    static void SDLCALL Fill(void* mixer, Uint8* stream, int length);

    bool audioStarted_ = false;
    SDL_AudioDeviceID device_ = 0;
    SDL_AudioSpec spec_{};
    std::unique_ptr<Mixer> mixer_;
    std::vector<std::shared_ptr<Sound>> sounds_;
    std::uint64_t framesRendered_ = 0;  // by mixers closed down before
};

// Keeps the device's thread out of the mixer while the holder lives.
class DeviceLock {
public:
    explicit DeviceLock(SDL_AudioDeviceID device) : device_(device) {
        if (device_)
            SDL_LockAudioDevice(device_);
    }
    ~DeviceLock() {
        if (device_)
            SDL_UnlockAudioDevice(device_);
    }
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

private:
    SDL_AudioDeviceID device_;
};

Performance* AsPerformance(IUnknown* object) { return dynamic_cast<Performance*>(object); }
Segment* AsSegment(IUnknown* object) { return dynamic_cast<Segment*>(object); }

// ---- Performance ----------------------------------------------------------------------

void SDLCALL Performance::Fill(void* mixer, Uint8* stream, int length) {
    auto* m = static_cast<Mixer*>(mixer);
    const std::size_t frameBytes = sizeof(std::int16_t) * std::size_t(m->channels());
    m->Render(reinterpret_cast<std::int16_t*>(stream), std::size_t(length) / frameBytes);
}

HRESULT Performance::InitAudio(IDirectMusic** music, IDirectSound** directSound, HWND, DWORD pathType,
                               DWORD channels, DWORD, DMUS_AUDIOPARAMS* parameters) {
    if (music || parameters || (directSound && *directSound))
        return E_NOTIMPL;  // other components this layer does not stand in for
    if (device_)
        return DMUS_E_ALREADY_INITED;
    if (pathType != 0 && pathType != DMUS_APATH_SHARED_STEREOPLUSREVERB && pathType != DMUS_APATH_DYNAMIC_3D &&
        pathType != DMUS_APATH_DYNAMIC_MONO && pathType != DMUS_APATH_DYNAMIC_STEREO)
        return E_INVALIDARG;
    if (pathType != 0 && channels == 0)
        return E_INVALIDARG;

    SilenceAlsa();
    LetGoOfFailedStart();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        ReportOnce(saidNoDevice, "no sound", SDL_GetError());
        return DSERR_NODRIVER;
    }
    SDL_AudioSpec wanted{};
    wanted.freq = kDeviceRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = kDeviceChannels;
    wanted.samples = kDeviceBufferFrames;
    wanted.callback = &Performance::Fill;
    std::unique_ptr<Mixer> mixer;
    try {
        mixer = std::make_unique<Mixer>(kDeviceChannels, std::size_t(kDeviceBufferFrames));
    } catch (const std::bad_alloc&) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return E_OUTOFMEMORY;
    }
    wanted.userdata = mixer.get();
    // The rate may follow the device; the sample format and channel layout
    // stay ours (SDL converts if the device wants another).
    SDL_AudioSpec obtained{};
    const SDL_AudioDeviceID device =
        SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    if (device == 0) {
        ReportOnce(saidNoDevice, "no sound", SDL_GetError());
        failedStartHeld = true;
        return DSERR_NODRIVER;
    }
    device_ = device;
    spec_ = obtained;
    mixer_ = std::move(mixer);
    audioStarted_ = true;
    SDL_PauseAudioDevice(device_, 0);
    return S_OK;
}

bool Performance::DeviceLost() const { return SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED; }

HRESULT Performance::DownloadWave(const WaveView& wave, std::shared_ptr<Sound>* sound) {
    if (!device_)
        return DMUS_E_NOT_INIT;
    try {
        auto made = std::make_shared<Sound>();
        made->samples = ConvertWave(wave, spec_.freq, kDeviceChannels);
        made->frameCount = made->samples.size() / std::size_t(kDeviceChannels);
        sounds_.push_back(made);
        *sound = std::move(made);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

void Performance::UnloadSound(const Sound* sound) {
    {
        DeviceLock lock(device_);
        if (mixer_)
            mixer_->Cancel(sound);
    }
    std::erase_if(sounds_, [sound](const std::shared_ptr<Sound>& held) { return held.get() == sound; });
}

HRESULT Performance::PlaySegmentEx(IUnknown* source, WCHAR* segmentName, IUnknown* transition, DWORD flags,
                                   LONGLONG startTime, IDirectMusicSegmentState** segmentState, IUnknown* from,
                                   IUnknown* audioPath) {
    if (segmentState)
        *segmentState = nullptr;
    Segment* segment = AsSegment(source);
    if (!source)
        return E_POINTER;
    if (!segment || audioPath)
        return E_INVALIDARG;
    // Only what the program asks for: a secondary segment, now.
    if (segmentName || transition || from || startTime != 0 || flags != DMUS_SEGF_SECONDARY)
        return E_NOTIMPL;
    if (!device_)
        return DMUS_E_NOT_INIT;
    if (DeviceLost()) {
        ReportOnce(saidDeviceLost, "the audio device has gone away; sound is off", SDL_GetError());
        return DMUS_E_NOT_INIT;
    }
    const Sound* sound = segment->SoundFor(this);
    if (!sound)
        return DMUS_E_NOT_DOWNLOADED;
    if (!mixer_->Submit(sound))
        return E_OUTOFMEMORY;  // the device has stopped taking plays
    return S_OK;
}

HRESULT Performance::Stop(IDirectMusicSegment* segment, IDirectMusicSegmentState* segmentState, MUSIC_TIME time,
                          DWORD flags) {
    if (segmentState || time != 0 || flags != 0)
        return E_NOTIMPL;
    if (!mixer_)
        return S_OK;
    DeviceLock lock(device_);
    if (!segment) {
        mixer_->CancelAll();
        return S_OK;
    }
    Segment* ours = AsSegment(segment);
    if (!ours)
        return E_INVALIDARG;
    if (const Sound* sound = ours->SoundFor(this))
        mixer_->Cancel(sound);
    return S_OK;
}

HRESULT Performance::CloseDown() {
    if (device_) {
        // Closing waits for the device's thread to leave the mixer.
        SDL_CloseAudioDevice(device_);
        device_ = 0;
    }
    if (audioStarted_) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        audioStarted_ = false;
    }
    if (mixer_)
        framesRendered_ += mixer_->framesRendered();
    mixer_.reset();
    sounds_.clear();
    return S_OK;
}

// ---- Segment --------------------------------------------------------------------------

HRESULT Segment::SetParam(REFGUID type, DWORD, DWORD, MUSIC_TIME, void*) {
    // A WAVE is no MIDI file; no other parameter is ever set by the program.
    return type == GUID_StandardMIDIFile ? DMUS_E_TYPE_UNSUPPORTED : E_NOTIMPL;
}

const Sound* Segment::SoundFor(const Performance* performance) const {
    for (const Downloaded& d : downloads_)
        if (d.performance == performance)
            return d.sound.get();
    return nullptr;
}

HRESULT Segment::Download(IUnknown* audioPath) {
    if (!audioPath)
        return E_POINTER;
    Performance* performance = AsPerformance(audioPath);
    if (!performance)
        return E_INVALIDARG;
    for (Downloaded& d : downloads_)
        if (d.performance == performance) {
            ++d.count;
            return S_OK;
        }
    std::shared_ptr<Sound> sound;
    const HRESULT hr = performance->DownloadWave(View(), &sound);
    if (FAILED(hr))
        return hr;
    const Sound* made = sound.get();
    try {
        downloads_.push_back(Downloaded{performance, std::move(sound), 1});
    } catch (const std::bad_alloc&) {
        performance->UnloadSound(made);
        return E_OUTOFMEMORY;
    }
    performance->AddRef();
    return S_OK;
}

HRESULT Segment::Unload(IUnknown* audioPath) {
    if (!audioPath)
        return E_POINTER;
    Performance* performance = AsPerformance(audioPath);
    if (!performance)
        return E_INVALIDARG;
    for (auto d = downloads_.begin(); d != downloads_.end(); ++d) {
        if (d->performance != performance)
            continue;
        if (--d->count == 0) {
            performance->UnloadSound(d->sound.get());
            downloads_.erase(d);
            performance->Release();
        }
        return S_OK;
    }
    return DMUS_E_NOT_DOWNLOADED;
}

Segment::~Segment() {
    // Plays must not outlive the samples they read.
    for (Downloaded& d : downloads_) {
        d.performance->UnloadSound(d.sound.get());
        d.performance->Release();
    }
}

// ---- Loader ---------------------------------------------------------------------------

class Loader final : public ComObject<IDirectMusicLoader8> {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override { return Answer(riid, IID_IDirectMusicLoader8, object); }
    HRESULT GetObject(LPDMUS_OBJECTDESC description, REFIID riid, LPVOID* object) override;
    HRESULT SetSearchDirectory(REFGUID objectClass, WCHAR* path, BOOL clear) override;
    HRESULT ReleaseObjectByUnknown(IUnknown* object) override;

private:
    ~Loader() override { ClearCache(); }
    void ClearCache() {
        for (IUnknown* object : cache_)
            object->Release();
        cache_.clear();
    }

    std::u16string searchDirectory_;
    std::vector<IUnknown*> cache_;
};

HRESULT Loader::GetObject(LPDMUS_OBJECTDESC description, REFIID riid, LPVOID* object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!description)
        return E_POINTER;
    if (description->dwSize != sizeof(DMUS_OBJECTDESC))
        return E_INVALIDARG;
    // Memory is the only source the program uses.
    const DWORD needed = DMUS_OBJ_CLASS | DMUS_OBJ_MEMORY;
    if ((description->dwValidData & needed) != needed || description->guidClass != CLSID_DirectMusicSegment)
        return E_INVALIDARG;
    if (!description->pbMemData || description->llMemLength <= 0)
        return E_INVALIDARG;
    if (riid != IID_IDirectMusicSegment8 && riid != IID_IUnknown)
        return E_NOINTERFACE;
    WaveView wave;
    const HRESULT parsed = ParseWave(description->pbMemData, std::size_t(description->llMemLength), &wave);
    if (FAILED(parsed))
        return parsed;
    Segment* segment = nullptr;
    try {
        // The caller's memory need not outlive the segment: the frames are copied.
        std::vector<BYTE> frames(wave.samples, wave.samples + wave.frameCount * std::size_t(wave.format.blockAlign));
        segment = new Segment(wave.format, std::move(frames));
        cache_.push_back(segment);
    } catch (const std::bad_alloc&) {
        if (segment)
            segment->Release();
        return E_OUTOFMEMORY;
    }
    segment->AddRef();  // the cache's reference
    *object = static_cast<IDirectMusicSegment8*>(segment);
    return S_OK;
}

HRESULT Loader::SetSearchDirectory(REFGUID objectClass, WCHAR* path, BOOL clear) {
    if (!path)
        return E_POINTER;
    if (objectClass != GUID_DirectMusicAllTypes && objectClass != CLSID_DirectMusicSegment)
        return E_INVALIDARG;
    const std::u16string wide(path);
    const int needed = WideCharToMultiByte(CP_UTF8, 0, path, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return E_INVALIDARG;
    std::string narrow(std::size_t(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, path, -1, narrow.data(), needed, nullptr, nullptr);
    narrow.resize(std::size_t(needed - 1));
    std::error_code error;
    if (!std::filesystem::is_directory(narrow, error))
        return kPathNotFound;
    if (clear)
        ClearCache();
    if (wide == searchDirectory_)
        return S_FALSE;
    searchDirectory_ = wide;
    return S_OK;
}

HRESULT Loader::ReleaseObjectByUnknown(IUnknown* object) {
    if (!object)
        return E_POINTER;
    const auto found = std::find(cache_.begin(), cache_.end(), object);
    if (found == cache_.end())
        return S_FALSE;
    cache_.erase(found);
    object->Release();
    return S_OK;
}

}  // namespace

// ---- Looks into the layer for its tests and benchmarks -----------------------------------

std::uint64_t FramesRendered(IDirectMusicPerformance8* performance) {
    auto* ours = dynamic_cast<Performance*>(performance);
    return ours ? ours->framesRendered() : 0;
}

const Mixer* MixerOf(IDirectMusicPerformance8* performance) {
    auto* ours = dynamic_cast<Performance*>(performance);
    return ours ? ours->mixer() : nullptr;
}

void LockDevice(IDirectMusicPerformance8* performance) {
    auto* ours = dynamic_cast<Performance*>(performance);
    if (ours && ours->device())
        SDL_LockAudioDevice(ours->device());
}

void UnlockDevice(IDirectMusicPerformance8* performance) {
    auto* ours = dynamic_cast<Performance*>(performance);
    if (ours && ours->device())
        SDL_UnlockAudioDevice(ours->device());
}

std::size_t VoicesSounding(IDirectMusicPerformance8* performance) {
    auto* ours = dynamic_cast<Performance*>(performance);
    if (!ours || !ours->mixer())
        return 0;
    DeviceLock lock(ours->device());
    return ours->mixer()->voiceCount();
}

bool DeviceStopped(IDirectMusicPerformance8* performance) {
    auto* ours = dynamic_cast<Performance*>(performance);
    return !ours || !ours->device() || SDL_GetAudioDeviceStatus(ours->device()) == SDL_AUDIO_STOPPED;
}

}  // namespace platform::dmusic

HRESULT WINAPI CoCreateInstance(REFCLSID classId, LPUNKNOWN outer, DWORD context, REFIID interfaceId,
                                LPVOID* object) {
    using namespace platform::dmusic;
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (platform::com::initializationDepth() == 0)
        return CO_E_NOTINITIALIZED;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if ((context & CLSCTX_INPROC) == 0)
        return REGDB_E_CLASSNOTREG;
    IUnknown* made = nullptr;
    if (classId == CLSID_DirectMusicLoader)
        made = new (std::nothrow) Loader;
    else if (classId == CLSID_DirectMusicPerformance)
        made = new (std::nothrow) Performance;
    else
        return REGDB_E_CLASSNOTREG;
    if (!made)
        return E_OUTOFMEMORY;
    const HRESULT hr = made->QueryInterface(interfaceId, object);
    made->Release();
    return hr;
}
