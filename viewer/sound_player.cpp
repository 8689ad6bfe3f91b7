#include "viewer/sound_player.h"

#include <new>

#include "platform/win32/winbase.h"

SoundPlayer::SoundPlayer() : comInitialized(FALSE), loader(nullptr), performance(nullptr) {
    comInitialized = SUCCEEDED(CoInitialize(nullptr));
}

SoundPlayer::~SoundPlayer() {
    if (loader) {
        loader->Release();
        loader = nullptr;
    }
    if (performance) {
        performance->Stop(nullptr, nullptr, 0, 0);
        performance->CloseDown();
        performance->Release();
        performance = nullptr;
    }
    if (comInitialized)
        CoUninitialize();
}

HRESULT SoundPlayer::Open(HWND window, DWORD performanceChannelCount, DWORD defaultPathType,
                          IDirectSound* directSound) {
    HRESULT hr = CoCreateInstance(CLSID_DirectMusicLoader, nullptr, CLSCTX_INPROC, IID_IDirectMusicLoader8,
                                  reinterpret_cast<void**>(&loader));
    if (FAILED(hr))
        return hr;
    hr = CoCreateInstance(CLSID_DirectMusicPerformance, nullptr, CLSCTX_INPROC, IID_IDirectMusicPerformance8,
                          reinterpret_cast<void**>(&performance));
    if (FAILED(hr))
        return hr;
    hr = performance->InitAudio(nullptr, directSound ? &directSound : nullptr, window, defaultPathType,
                                performanceChannelCount, DMUS_AUDIOF_ALL, nullptr);
    if (FAILED(hr))
        return hr;
    return S_OK;
}

HRESULT SoundPlayer::SetMediaFolder(const char* path) {
    if (!loader)
        return E_UNEXPECTED;
    if (!path)
        return E_INVALIDARG;
    // Zeroed first, so that even a failed conversion hands over a terminated
    // (empty) path.
    WCHAR widePath[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH);
    widePath[MAX_PATH - 1] = 0;
    return loader->SetSearchDirectory(GUID_DirectMusicAllTypes, widePath, FALSE);
}

HRESULT SoundPlayer::LoadSegmentFromResource(SoundSegment** out, const char* resourceName, const char* resourceType,
                                             BOOL prepareNow, BOOL isMidi) {
    // Only an open player has a loader to read the resource with.
    if (!loader)
        return E_UNEXPECTED;
    HRSRC resource = FindResourceA(nullptr, resourceName, resourceType);
    if (!resource)
        return E_FAIL;
    HGLOBAL data = LoadResource(nullptr, resource);
    if (!data)
        return E_FAIL;
    const DWORD size = SizeofResource(nullptr, resource);

    DMUS_OBJECTDESC description;
    ZeroMemory(&description, sizeof description);
    description.dwSize = sizeof(DMUS_OBJECTDESC);
    description.dwValidData = DMUS_OBJ_CLASS | DMUS_OBJ_MEMORY;
    description.guidClass = CLSID_DirectMusicSegment;
    description.llMemLength = size;
    description.pbMemData = static_cast<BYTE*>(data);

    IDirectMusicSegment8* segment = nullptr;
    HRESULT hr = loader->GetObject(&description, IID_IDirectMusicSegment8, reinterpret_cast<void**>(&segment));
    if (FAILED(hr))
        return hr;

    *out = new (std::nothrow) SoundSegment(performance, loader, segment);
    if (!*out) {
        // Nobody else holds the segment now: let the loader's copy and ours go.
        loader->ReleaseObjectByUnknown(segment);
        segment->Release();
        return E_OUTOFMEMORY;
    }

    if (isMidi) {
        hr = segment->SetParam(GUID_StandardMIDIFile, 0xFFFFFFFF, 0, 0, nullptr);
        if (FAILED(hr))
            return hr;
    }
    if (prepareNow) {
        hr = (*out)->Prepare(nullptr);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

SoundSegment::SoundSegment(IDirectMusicPerformance8* performance, IDirectMusicLoader8* loader,
                           IDirectMusicSegment8* segment)
    : segment(segment), loader(loader), performance(performance), embeddedAudioPath(nullptr), prepared(FALSE) {
    IUnknown* configuration = nullptr;
    if (segment && SUCCEEDED(segment->GetAudioPathConfig(&configuration)) && configuration) {
        if (performance)
            performance->CreateAudioPath(configuration, TRUE, &embeddedAudioPath);
        configuration->Release();
    }
}

SoundSegment::~SoundSegment() {
    if (segment) {
        if (loader)
            loader->ReleaseObjectByUnknown(segment);
        if (prepared) {
            if (embeddedAudioPath)
                segment->Unload(embeddedAudioPath);
            else
                segment->Unload(performance);
        }
        if (embeddedAudioPath) {
            embeddedAudioPath->Release();
            embeddedAudioPath = nullptr;
        }
        segment->Release();
        segment = nullptr;
    }
    performance = nullptr;
}

HRESULT SoundSegment::Prepare(IDirectMusicAudioPath8* audioPath) {
    if (!segment)
        return CO_E_NOTINITIALIZED;
    IUnknown* target = audioPath;
    if (!target)
        target = embeddedAudioPath;
    if (!target)
        target = performance;
    const HRESULT hr = segment->Download(target);
    if (SUCCEEDED(hr))
        prepared = TRUE;
    return hr;
}

HRESULT SoundSegment::Play(DWORD segmentFlags, IDirectMusicAudioPath8* audioPath) {
    if (!segment || !performance)
        return CO_E_NOTINITIALIZED;
    if (!prepared)
        return E_FAIL;
    IDirectMusicAudioPath8* path = audioPath ? audioPath : embeddedAudioPath;
    return performance->PlaySegmentEx(segment, nullptr, nullptr, segmentFlags, 0, nullptr, nullptr, path);
}
