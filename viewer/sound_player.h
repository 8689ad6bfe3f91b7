// Sound playback: a SoundPlayer owns the loader and the performance, turns a
// WAVE resource of the program into a SoundSegment straight from memory and
// downloads it; each Play of the segment as a secondary segment starts at
// once and mixes with the plays still sounding.
#pragma once

#include "platform/dmusic/dmusici.h"
#include "platform/win32/windows.h"

class SoundSegment;

class SoundPlayer {
public:
    SoundPlayer();
    ~SoundPlayer();
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    HRESULT Open(HWND window, DWORD performanceChannelCount, DWORD defaultPathType, IDirectSound* directSound);
    HRESULT SetMediaFolder(const char* path);
    HRESULT LoadSegmentFromResource(SoundSegment** out, const char* resourceName, const char* resourceType,
                                    BOOL prepareNow, BOOL isMidi);

    BOOL comInitialized;
    IDirectMusicLoader8* loader;
    IDirectMusicPerformance8* performance;
};

// Must be destroyed before the SoundPlayer whose loader and performance it
// uses.
class SoundSegment {
public:
    SoundSegment(IDirectMusicPerformance8* performance, IDirectMusicLoader8* loader, IDirectMusicSegment8* segment);
    virtual ~SoundSegment();
    virtual HRESULT Play(DWORD segmentFlags, IDirectMusicAudioPath8* audioPath);
    SoundSegment(const SoundSegment&) = delete;
    SoundSegment& operator=(const SoundSegment&) = delete;

    HRESULT Prepare(IDirectMusicAudioPath8* audioPath);

    IDirectMusicSegment8* segment;
    IDirectMusicLoader8* loader;
    IDirectMusicPerformance8* performance;
    IDirectMusicAudioPath8* embeddedAudioPath;
    BOOL prepared;
};
