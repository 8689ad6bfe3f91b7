// The segment-based sound system of the desktop platform the program was
// written for: the loader, the performance, segments, audio paths and the COM
// class factory that makes the first two. Only what the program calls is
// offered. Nothing here pulls in SDL; the implementation lives beside it.
//
// How it stands in for the original: a segment is a RIFF WAVE read from
// memory (PCM, 8 or 16 bits, mono or stereo, 4000 to 192000 samples per
// second). Downloading converts it once to the format of the performance's
// audio device; every secondary play starts at the next device buffer and
// mixes with what is already sounding, clipped to the 16-bit sample range.
// All calls belong to one thread; the mixer runs on the audio device's own.
#pragma once

#include "platform/com/objbase.h"
#include "platform/win32/wintypes.h"

using MUSIC_TIME = LONG;
using REFERENCE_TIME = LONGLONG;

// ---- Results ------------------------------------------------------------------------

#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154)
#define DSERR_NODRIVER ((HRESULT)0x88780078)
// The sound codes below share DSERR_NODRIVER's facility; the program only
// ever tests them for failure, never compares them.
// A segment made from a WAVE carries no audio-path configuration.
#define DMUS_E_NO_AUDIOPATH_CONFIG ((HRESULT)0x88781216)
// The memory handed to the loader is no RIFF WAVE this layer can play.
#define DMUS_E_INVALIDFILE ((HRESULT)0x88781131)
// The performance has no audio device (InitAudio failed, was never called,
// or the device has gone away).
#define DMUS_E_NOT_INIT ((HRESULT)0x88781202)
#define DMUS_E_ALREADY_INITED ((HRESULT)0x88781203)
// Played or unloaded without a download to that performance.
#define DMUS_E_NOT_DOWNLOADED ((HRESULT)0x88781204)
// A segment parameter that a WAVE segment does not have.
#define DMUS_E_TYPE_UNSUPPORTED ((HRESULT)0x88781205)

// ---- Identifiers --------------------------------------------------------------------

inline constexpr CLSID CLSID_DirectMusicLoader = {
    0xD2AC2892, 0xB39B, 0x11D1, {0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD}};
inline constexpr CLSID CLSID_DirectMusicPerformance = {
    0xD2AC2881, 0xB39B, 0x11D1, {0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD}};
inline constexpr CLSID CLSID_DirectMusicSegment = {
    0xD2AC2882, 0xB39B, 0x11D1, {0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD}};
inline constexpr GUID GUID_DirectMusicAllTypes = {
    0xD2AC2893, 0xB39B, 0x11D1, {0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD}};
inline constexpr GUID GUID_StandardMIDIFile = {
    0x06621075, 0xE92E, 0x11D1, {0xA8, 0xC5, 0x00, 0xC0, 0x4F, 0xA3, 0x72, 0x6E}};
inline constexpr IID IID_IDirectMusicLoader8 = {
    0x19E7C08C, 0x0A44, 0x4E6A, {0xA1, 0x16, 0x59, 0x5A, 0x7C, 0xD5, 0xDE, 0x8C}};
inline constexpr IID IID_IDirectMusicPerformance8 = {
    0x679C4137, 0xC62E, 0x4147, {0xB2, 0xB4, 0x9D, 0x56, 0x9A, 0xCB, 0x25, 0x4C}};
inline constexpr IID IID_IDirectMusicSegment8 = {
    0xC6784488, 0x41A3, 0x418F, {0xAA, 0x15, 0xB3, 0x50, 0x93, 0xBA, 0x42, 0xD4}};

// ---- Constants ----------------------------------------------------------------------

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)

#define DMUS_APATH_SHARED_STEREOPLUSREVERB 1
#define DMUS_APATH_DYNAMIC_3D 6
#define DMUS_APATH_DYNAMIC_MONO 7
#define DMUS_APATH_DYNAMIC_STEREO 8

#define DMUS_AUDIOF_3D 0x1
#define DMUS_AUDIOF_ENVIRON 0x2
#define DMUS_AUDIOF_EAX 0x4
#define DMUS_AUDIOF_DMOS 0x8
#define DMUS_AUDIOF_STREAMING 0x10
#define DMUS_AUDIOF_BUFFERS 0x20
#define DMUS_AUDIOF_ALL 0x3F

#define DMUS_SEGF_SECONDARY 0x80

#define DMUS_OBJ_OBJECT (1 << 0)
#define DMUS_OBJ_CLASS (1 << 1)
#define DMUS_OBJ_NAME (1 << 2)
#define DMUS_OBJ_CATEGORY (1 << 3)
#define DMUS_OBJ_FILENAME (1 << 4)
#define DMUS_OBJ_FULLPATH (1 << 5)
#define DMUS_OBJ_URL (1 << 6)
#define DMUS_OBJ_VERSION (1 << 7)
#define DMUS_OBJ_DATE (1 << 8)
#define DMUS_OBJ_LOADED (1 << 9)
#define DMUS_OBJ_MEMORY (1 << 10)
#define DMUS_OBJ_STREAM (1 << 11)

#define DMUS_MAX_NAME 64
#define DMUS_MAX_CATEGORY 64
#define DMUS_MAX_FILENAME MAX_PATH

// ---- Structures ---------------------------------------------------------------------

struct DMUS_VERSION {
    DWORD dwVersionMS;
    DWORD dwVersionLS;
};

struct IStream;

// 848 bytes with the original's 32-bit pointers, 856 with 64-bit ones: the
// loader expects dwSize == sizeof(DMUS_OBJECTDESC) of this build.
struct DMUS_OBJECTDESC {
    DWORD dwSize;
    DWORD dwValidData;
    GUID guidObject;
    GUID guidClass;
    // A FILETIME, spelt out here because the input layer declares that type
    // too; the program never reads it.
    struct {
        DWORD dwLowDateTime;
        DWORD dwHighDateTime;
    } ftDate;
    DMUS_VERSION vVersion;
    WCHAR wszName[DMUS_MAX_NAME];
    WCHAR wszCategory[DMUS_MAX_CATEGORY];
    WCHAR wszFileName[DMUS_MAX_FILENAME];
    LONGLONG llMemLength;
    LPBYTE pbMemData;
    IStream* pStream;
};
using LPDMUS_OBJECTDESC = DMUS_OBJECTDESC*;

// Never filled by the program; only ever passed as none.
struct DMUS_AUDIOPARAMS;

// ---- Interfaces ---------------------------------------------------------------------

// Objects of other platform components that InitAudio could take or hand
// back; the program passes none.
struct IDirectMusic : IUnknown {};
struct IDirectSound : IUnknown {};
struct IDirectMusicSegmentState : IUnknown {};

// An audio path has no calls of its own that the program makes: it is only
// handed to Download, Unload and PlaySegmentEx and released.
struct IDirectMusicAudioPath8 : IUnknown {};

struct IDirectMusicSegment : IUnknown {
    virtual HRESULT SetParam(REFGUID type, DWORD group, DWORD index, MUSIC_TIME time, void* param) = 0;
};

struct IDirectMusicSegment8 : IDirectMusicSegment {
    virtual HRESULT GetAudioPathConfig(IUnknown** configuration) = 0;
    virtual HRESULT Download(IUnknown* audioPath) = 0;
    virtual HRESULT Unload(IUnknown* audioPath) = 0;
};

struct IDirectMusicLoader8 : IUnknown {
    virtual HRESULT GetObject(LPDMUS_OBJECTDESC description, REFIID riid, LPVOID* object) = 0;
    virtual HRESULT SetSearchDirectory(REFGUID objectClass, WCHAR* path, BOOL clear) = 0;
    virtual HRESULT ReleaseObjectByUnknown(IUnknown* object) = 0;
};

struct IDirectMusicPerformance8 : IUnknown {
    virtual HRESULT Stop(IDirectMusicSegment* segment, IDirectMusicSegmentState* segmentState, MUSIC_TIME time,
                         DWORD flags) = 0;
    virtual HRESULT CloseDown() = 0;
    virtual HRESULT InitAudio(IDirectMusic** music, IDirectSound** directSound, HWND window, DWORD defaultPathType,
                              DWORD performanceChannelCount, DWORD flags, DMUS_AUDIOPARAMS* parameters) = 0;
    virtual HRESULT PlaySegmentEx(IUnknown* source, WCHAR* segmentName, IUnknown* transition, DWORD flags,
                                  LONGLONG startTime, IDirectMusicSegmentState** segmentState, IUnknown* from,
                                  IUnknown* audioPath) = 0;
    virtual HRESULT CreateAudioPath(IUnknown* configuration, BOOL activate, IDirectMusicAudioPath8** audioPath) = 0;
};

// Makes the loader (CLSID_DirectMusicLoader, IID_IDirectMusicLoader8) or the
// performance (CLSID_DirectMusicPerformance, IID_IDirectMusicPerformance8);
// IID_IUnknown is answered too. Needs CoInitialize on the calling thread
// (CO_E_NOTINITIALIZED otherwise); an aggregating outer object is refused
// (CLASS_E_NOAGGREGATION), an unknown class gives REGDB_E_CLASSNOTREG and an
// unknown interface E_NOINTERFACE.
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)
HRESULT WINAPI CoCreateInstance(REFCLSID classId, LPUNKNOWN outer, DWORD context, REFIID interfaceId,
                                LPVOID* object);
