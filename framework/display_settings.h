// How the frame presents, once for windowed and once for full-screen
// presentation, and how it is first chosen from the device catalog and
// turned into present parameters. The searches need no window and no device:
// only the catalog, the desktop modes and the frame's few inputs below.
//
// The frame's own operations of the same names (RenderApp) pass their state
// to these functions.
#pragma once

#include "framework/device_catalog.h"
#include "platform/win32/windows.h"

// Copied whole between the frame and the settings dialog; the pointers refer
// into the DeviceCatalog, which owns the entries.
struct DisplaySettings {
    bool isWindowed = false;

    AdapterEntry* windowedAdapter = nullptr;
    DeviceEntry* windowedDevice = nullptr;
    DeviceCombination* windowedCombination = nullptr;
    D3DDISPLAYMODE windowedDisplayMode = {};
    D3DFORMAT windowedDepthStencilFormat = D3DFMT_UNKNOWN;
    D3DMULTISAMPLE_TYPE windowedMultisampleType = D3DMULTISAMPLE_NONE;
    DWORD windowedMultisampleQuality = 0;
    VertexProcessing windowedVertexProcessing = SOFTWARE_VP;
    UINT windowedPresentInterval = 0;
    int windowedWidth = 0;
    int windowedHeight = 0;

    AdapterEntry* fullscreenAdapter = nullptr;
    DeviceEntry* fullscreenDevice = nullptr;
    DeviceCombination* fullscreenCombination = nullptr;
    D3DDISPLAYMODE fullscreenDisplayMode = {};
    D3DFORMAT fullscreenDepthStencilFormat = D3DFMT_UNKNOWN;
    D3DMULTISAMPLE_TYPE fullscreenMultisampleType = D3DMULTISAMPLE_NONE;
    DWORD fullscreenMultisampleQuality = 0;
    VertexProcessing fullscreenVertexProcessing = SOFTWARE_VP;
    UINT fullscreenPresentInterval = 0;

    // The windowed half's value while isWindowed, else the full-screen half's.
    AdapterEntry* CurrentAdapter() const;
    DeviceEntry* CurrentDevice() const;
    DeviceCombination* CurrentCombination() const;
    // Of the current combination; 0 and D3DDEVTYPE_HAL before one is chosen.
    UINT CurrentAdapterOrdinal() const;
    D3DDEVTYPE CurrentDeviceType() const;
    D3DDISPLAYMODE CurrentDisplayMode() const;
    D3DFORMAT CurrentDepthStencilFormat() const;
    D3DMULTISAMPLE_TYPE CurrentMultisampleType() const;
    DWORD CurrentMultisampleQuality() const;
    VertexProcessing CurrentVertexProcessing() const;
    UINT CurrentPresentInterval() const;

    void SetCurrentAdapter(AdapterEntry* adapter);
    void SetCurrentDevice(DeviceEntry* device);
    void SetCurrentCombination(DeviceCombination* combination);
    void SetCurrentDepthStencilFormat(D3DFORMAT format);
    void SetCurrentMultisampleType(D3DMULTISAMPLE_TYPE type);
    void SetCurrentMultisampleQuality(DWORD quality);
    void SetCurrentVertexProcessing(VertexProcessing vertexProcessing);
    void SetCurrentPresentInterval(UINT interval);
};

// Fills both halves and picks the presentation to start with: 0, or
// kErrorNoCompatibleDevices when neither search found anything.
HRESULT ChooseInitialSettings(const DeviceCatalog& catalog, IDirect3D9* d3d, const RECT& clientRect,
                              bool startFullscreen, DisplaySettings& settings);

// True when a windowed combination in the desktop format of adapter 0 was
// found and written to the windowed half (isWindowed becomes true).
bool FindBestWindowedSettings(const DeviceCatalog& catalog, IDirect3D9* d3d, const RECT& clientRect, bool requireHal,
                              bool requireRef, DisplaySettings& settings);

// True when a full-screen combination was found and written to the
// full-screen half (isWindowed becomes false).
bool FindBestFullscreenSettings(const DeviceCatalog& catalog, IDirect3D9* d3d, bool requireHal, bool requireRef,
                                DisplaySettings& settings);

// The present parameters for CreateDevice and Reset; windowed is the frame's
// own flag, which decides where the back-buffer size comes from.
void BuildPresentParameters(const DisplaySettings& settings, bool usesDepthBuffer, bool windowed,
                            const RECT& clientRect, HWND window, D3DPRESENT_PARAMETERS& presentParams);
