// Recording stand-ins for the sound layer's objects: every call the viewer's
// sound classes make is written to one shared log, with the object's name.
#pragma once

#include <string>
#include <vector>

#include "platform/dmusic/dmusici.h"

namespace sound_fakes {

using Log = std::vector<std::string>;

inline std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", unsigned(hr));
    return text;
}

template <class Interface>
struct Recorder : Interface {
    Recorder(Log* log, std::string name) : log(log), name(std::move(name)) {}
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override {
        log->push_back(name + ".Release");
        return 1;
    }
    void Record(const std::string& call) { log->push_back(name + "." + call); }

    Log* log;
    std::string name;
};

// Who an IUnknown is, for the log.
inline std::string NameOf(IUnknown* object);

struct FakeAudioPath : Recorder<IDirectMusicAudioPath8> {
    using Recorder::Recorder;
};

struct FakeConfiguration : Recorder<IUnknown> {
    using Recorder::Recorder;
};

struct FakeSegment : Recorder<IDirectMusicSegment8> {
    using Recorder::Recorder;
    HRESULT SetParam(REFGUID type, DWORD group, DWORD index, MUSIC_TIME time, void* param) override {
        Record(std::string("SetParam(") + (type == GUID_StandardMIDIFile ? "StandardMIDIFile" : "?") + "," +
               Hex(HRESULT(group)) + "," + std::to_string(index) + "," + std::to_string(time) + "," +
               (param ? "data" : "none") + ")");
        return setParamResult;
    }
    HRESULT GetAudioPathConfig(IUnknown** out) override {
        Record("GetAudioPathConfig");
        *out = configuration;
        return configuration ? S_OK : DMUS_E_NO_AUDIOPATH_CONFIG;
    }
    HRESULT Download(IUnknown* target) override {
        Record("Download(" + NameOf(target) + ")");
        return downloadResult;
    }
    HRESULT Unload(IUnknown* target) override {
        Record("Unload(" + NameOf(target) + ")");
        return S_OK;
    }
    IUnknown* configuration = nullptr;
    HRESULT downloadResult = S_OK;
    HRESULT setParamResult = S_OK;
};

struct FakeLoader : Recorder<IDirectMusicLoader8> {
    using Recorder::Recorder;
    HRESULT GetObject(LPDMUS_OBJECTDESC d, REFIID riid, LPVOID* out) override {
        Record("GetObject");
        description = *d;
        asked = riid;
        *out = getObjectResult == S_OK ? static_cast<IDirectMusicSegment8*>(segment) : nullptr;
        return getObjectResult;
    }
    HRESULT SetSearchDirectory(REFGUID objectClass, WCHAR* path, BOOL clear) override {
        Record(std::string("SetSearchDirectory(") + (objectClass == GUID_DirectMusicAllTypes ? "AllTypes" : "?") +
               "," + (clear ? "TRUE" : "FALSE") + ")");
        searchPath = path;
        return S_OK;
    }
    HRESULT ReleaseObjectByUnknown(IUnknown* object) override {
        Record("ReleaseObjectByUnknown(" + NameOf(object) + ")");
        return S_OK;
    }
    FakeSegment* segment = nullptr;
    HRESULT getObjectResult = S_OK;
    DMUS_OBJECTDESC description{};
    IID asked{};
    std::u16string searchPath;
};

struct FakePerformance : Recorder<IDirectMusicPerformance8> {
    using Recorder::Recorder;
    HRESULT Stop(IDirectMusicSegment* segment, IDirectMusicSegmentState* state, MUSIC_TIME time, DWORD flags) override {
        Record("Stop(" + NameOf(segment) + "," + NameOf(state) + "," + std::to_string(time) + "," +
               std::to_string(flags) + ")");
        return S_OK;
    }
    HRESULT CloseDown() override {
        Record("CloseDown");
        return S_OK;
    }
    HRESULT InitAudio(IDirectMusic**, IDirectSound**, HWND, DWORD, DWORD, DWORD, DMUS_AUDIOPARAMS*) override {
        Record("InitAudio");
        return S_OK;
    }
    HRESULT PlaySegmentEx(IUnknown* source, WCHAR* name, IUnknown* transition, DWORD flags, LONGLONG start,
                          IDirectMusicSegmentState** state, IUnknown* from, IUnknown* path) override {
        Record("PlaySegmentEx(" + NameOf(source) + "," + (name ? "name" : "none") + "," + NameOf(transition) + "," +
               Hex(HRESULT(flags)) + "," + std::to_string(start) + "," + (state ? "state" : "none") + "," +
               NameOf(from) + "," + NameOf(path) + ")");
        return playResult;
    }
    HRESULT CreateAudioPath(IUnknown* configuration, BOOL activate, IDirectMusicAudioPath8** out) override {
        Record("CreateAudioPath(" + NameOf(configuration) + "," + (activate ? "TRUE" : "FALSE") + ")");
        *out = audioPath;
        return S_OK;
    }
    IDirectMusicAudioPath8* audioPath = nullptr;
    HRESULT playResult = S_OK;
};

inline std::string NameOf(IUnknown* object) {
    if (!object)
        return "none";
    if (auto* r = dynamic_cast<Recorder<IDirectMusicSegment8>*>(object))
        return r->name;
    if (auto* r = dynamic_cast<Recorder<IDirectMusicPerformance8>*>(object))
        return r->name;
    if (auto* r = dynamic_cast<Recorder<IDirectMusicAudioPath8>*>(object))
        return r->name;
    if (auto* r = dynamic_cast<Recorder<IDirectMusicLoader8>*>(object))
        return r->name;
    if (auto* r = dynamic_cast<Recorder<IUnknown>*>(object))
        return r->name;
    return "?";
}

}  // namespace sound_fakes
