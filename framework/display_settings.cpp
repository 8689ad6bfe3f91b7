#include "framework/display_settings.h"

#include <cstring>

#include "framework/frame_errors.h"

namespace {

template <typename T>
T First(const GrowArray* list) {
    return list && list->Count() > 0 ? *static_cast<T*>(list->Get(0)) : T{};
}

}  // namespace

// ---------------------------------------------------------------- accessors

AdapterEntry* DisplaySettings::CurrentAdapter() const { return isWindowed ? windowedAdapter : fullscreenAdapter; }

DeviceEntry* DisplaySettings::CurrentDevice() const { return isWindowed ? windowedDevice : fullscreenDevice; }

DeviceCombination* DisplaySettings::CurrentCombination() const {
    return isWindowed ? windowedCombination : fullscreenCombination;
}

UINT DisplaySettings::CurrentAdapterOrdinal() const {
    const DeviceCombination* combination = CurrentCombination();
    return combination ? combination->adapterOrdinal : 0;
}

D3DDEVTYPE DisplaySettings::CurrentDeviceType() const {
    const DeviceCombination* combination = CurrentCombination();
    return combination ? combination->deviceType : D3DDEVTYPE_HAL;
}

D3DDISPLAYMODE DisplaySettings::CurrentDisplayMode() const {
    return isWindowed ? windowedDisplayMode : fullscreenDisplayMode;
}

D3DFORMAT DisplaySettings::CurrentDepthStencilFormat() const {
    return isWindowed ? windowedDepthStencilFormat : fullscreenDepthStencilFormat;
}

D3DMULTISAMPLE_TYPE DisplaySettings::CurrentMultisampleType() const {
    return isWindowed ? windowedMultisampleType : fullscreenMultisampleType;
}

DWORD DisplaySettings::CurrentMultisampleQuality() const {
    return isWindowed ? windowedMultisampleQuality : fullscreenMultisampleQuality;
}

VertexProcessing DisplaySettings::CurrentVertexProcessing() const {
    return isWindowed ? windowedVertexProcessing : fullscreenVertexProcessing;
}

UINT DisplaySettings::CurrentPresentInterval() const {
    return isWindowed ? windowedPresentInterval : fullscreenPresentInterval;
}

void DisplaySettings::SetCurrentAdapter(AdapterEntry* adapter) {
    (isWindowed ? windowedAdapter : fullscreenAdapter) = adapter;
}

void DisplaySettings::SetCurrentDevice(DeviceEntry* device) {
    (isWindowed ? windowedDevice : fullscreenDevice) = device;
}

void DisplaySettings::SetCurrentCombination(DeviceCombination* combination) {
    (isWindowed ? windowedCombination : fullscreenCombination) = combination;
}

void DisplaySettings::SetCurrentDepthStencilFormat(D3DFORMAT format) {
    (isWindowed ? windowedDepthStencilFormat : fullscreenDepthStencilFormat) = format;
}

void DisplaySettings::SetCurrentMultisampleType(D3DMULTISAMPLE_TYPE type) {
    (isWindowed ? windowedMultisampleType : fullscreenMultisampleType) = type;
}

void DisplaySettings::SetCurrentMultisampleQuality(DWORD quality) {
    (isWindowed ? windowedMultisampleQuality : fullscreenMultisampleQuality) = quality;
}

void DisplaySettings::SetCurrentVertexProcessing(VertexProcessing vertexProcessing) {
    (isWindowed ? windowedVertexProcessing : fullscreenVertexProcessing) = vertexProcessing;
}

void DisplaySettings::SetCurrentPresentInterval(UINT interval) {
    (isWindowed ? windowedPresentInterval : fullscreenPresentInterval) = interval;
}

// ---------------------------------------------------------------- selection

HRESULT ChooseInitialSettings(const DeviceCatalog& catalog, IDirect3D9* d3d, const RECT& clientRect,
                              bool startFullscreen, DisplaySettings& settings) {
    const bool fullFound = FindBestFullscreenSettings(catalog, d3d, false, false, settings);
    const bool windowedFound = FindBestWindowedSettings(catalog, d3d, clientRect, false, false, settings);
    if (startFullscreen && fullFound)
        settings.isWindowed = false;
    if (!windowedFound && fullFound)
        settings.isWindowed = false;
    if (!fullFound && !windowedFound)
        return kErrorNoCompatibleDevices;
    return S_OK;
}

bool FindBestWindowedSettings(const DeviceCatalog& catalog, IDirect3D9* d3d, const RECT& clientRect, bool requireHal,
                              bool requireRef, DisplaySettings& settings) {
    if (!d3d || !catalog.adapters)
        return false;
    D3DDISPLAYMODE desktop = {};
    // Without the desktop's format no windowed combination can be matched.
    if (FAILED(d3d->GetAdapterDisplayMode(0, &desktop)))
        return false;

    AdapterEntry* bestAdapter = nullptr;
    DeviceEntry* bestDevice = nullptr;
    DeviceCombination* best = nullptr;
    bool done = false;
    for (UINT a = 0; a < catalog.adapters->Count() && !done; ++a) {
        auto* adapter = static_cast<AdapterEntry*>(catalog.adapters->Get(a));
        for (UINT d = 0; d < adapter->devices->Count() && !done; ++d) {
            auto* device = static_cast<DeviceEntry*>(adapter->devices->Get(d));
            if (requireHal && device->deviceType != D3DDEVTYPE_HAL)
                continue;
            if (requireRef && device->deviceType != D3DDEVTYPE_REF)
                continue;
            for (UINT c = 0; c < device->combinations->Count() && !done; ++c) {
                auto* combination = static_cast<DeviceCombination*>(device->combinations->Get(c));
                if (!combination->isWindowed || combination->adapterFormat != desktop.Format)
                    continue;
                const bool isHal = combination->deviceType == D3DDEVTYPE_HAL;
                const bool matchesBack = combination->backBufferFormat == combination->adapterFormat;
                if (!best || (best->deviceType != D3DDEVTYPE_HAL && isHal) || (isHal && matchesBack)) {
                    bestAdapter = adapter;
                    bestDevice = device;
                    best = combination;
                    done = isHal && matchesBack;
                }
            }
        }
    }
    if (!best)
        return false;
    settings.windowedAdapter = bestAdapter;
    settings.windowedDevice = bestDevice;
    settings.windowedCombination = best;
    settings.windowedDisplayMode = desktop;
    settings.windowedWidth = clientRect.right - clientRect.left;
    settings.windowedHeight = clientRect.bottom - clientRect.top;
    if (catalog.usesDepthBuffer)
        settings.windowedDepthStencilFormat = First<D3DFORMAT>(best->depthStencilFormats);
    settings.windowedMultisampleType = First<D3DMULTISAMPLE_TYPE>(best->multisampleTypes);
    settings.windowedMultisampleQuality = 0;
    settings.windowedVertexProcessing = First<VertexProcessing>(best->vertexProcessingTypes);
    settings.windowedPresentInterval = First<UINT>(best->presentIntervals);
    settings.isWindowed = true;
    return true;
}

bool FindBestFullscreenSettings(const DeviceCatalog& catalog, IDirect3D9* d3d, bool requireHal, bool requireRef,
                                DisplaySettings& settings) {
    if (!d3d || !catalog.adapters)
        return false;
    D3DDISPLAYMODE bestDesktop = {};
    AdapterEntry* bestAdapter = nullptr;
    DeviceEntry* bestDevice = nullptr;
    DeviceCombination* best = nullptr;
    bool done = false;
    for (UINT a = 0; a < catalog.adapters->Count() && !done; ++a) {
        auto* adapter = static_cast<AdapterEntry*>(catalog.adapters->Get(a));
        // An adapter whose desktop cannot be read matches no format: its
        // combinations still count, just without the desktop preference.
        D3DDISPLAYMODE desktop = {};
        d3d->GetAdapterDisplayMode(adapter->adapterOrdinal, &desktop);
        for (UINT d = 0; d < adapter->devices->Count() && !done; ++d) {
            auto* device = static_cast<DeviceEntry*>(adapter->devices->Get(d));
            if (requireHal && device->deviceType != D3DDEVTYPE_HAL)
                continue;
            if (requireRef && device->deviceType != D3DDEVTYPE_REF)
                continue;
            const bool isHal = device->deviceType == D3DDEVTYPE_HAL;
            for (UINT c = 0; c < device->combinations->Count() && !done; ++c) {
                auto* combination = static_cast<DeviceCombination*>(device->combinations->Get(c));
                if (combination->isWindowed)
                    continue;
                const bool matchesDesktop = combination->adapterFormat == desktop.Format;
                const bool matchesBack = combination->backBufferFormat == combination->adapterFormat;
                if (!best || (best->deviceType != D3DDEVTYPE_HAL && isHal) ||
                    (isHal && matchesDesktop && best->adapterFormat != desktop.Format) ||
                    (isHal && matchesDesktop && matchesBack)) {
                    bestDesktop = desktop;
                    bestAdapter = adapter;
                    bestDevice = device;
                    best = combination;
                    done = isHal && matchesDesktop && matchesBack;
                }
            }
        }
    }
    if (!best)
        return false;

    D3DDISPLAYMODE mode = {};
    bool taken = false;
    for (UINT m = 0; m < bestAdapter->displayModes->Count(); ++m) {
        const auto* candidate = static_cast<D3DDISPLAYMODE*>(bestAdapter->displayModes->Get(m));
        if (candidate->Format != best->adapterFormat)
            continue;
        if (candidate->Width == bestDesktop.Width && candidate->Height == bestDesktop.Height &&
            candidate->RefreshRate == bestDesktop.RefreshRate) {
            mode = *candidate;
            break;
        }
        if (candidate->Width == bestDesktop.Width || !taken) {
            mode = *candidate;
            taken = true;
        }
    }

    settings.fullscreenAdapter = bestAdapter;
    settings.fullscreenDevice = bestDevice;
    settings.fullscreenCombination = best;
    settings.fullscreenDisplayMode = mode;
    if (catalog.usesDepthBuffer)
        settings.fullscreenDepthStencilFormat = First<D3DFORMAT>(best->depthStencilFormats);
    settings.fullscreenMultisampleType = First<D3DMULTISAMPLE_TYPE>(best->multisampleTypes);
    settings.fullscreenMultisampleQuality = 0;
    settings.fullscreenVertexProcessing = First<VertexProcessing>(best->vertexProcessingTypes);
    settings.fullscreenPresentInterval = D3DPRESENT_INTERVAL_DEFAULT;
    settings.isWindowed = false;
    return true;
}

void BuildPresentParameters(const DisplaySettings& settings, bool usesDepthBuffer, bool windowed,
                            const RECT& clientRect, HWND window, D3DPRESENT_PARAMETERS& presentParams) {
    std::memset(&presentParams, 0, sizeof presentParams);
    presentParams.Windowed = settings.isWindowed;
    presentParams.BackBufferCount = 1;
    presentParams.MultiSampleType = settings.CurrentMultisampleType();
    presentParams.MultiSampleQuality = settings.CurrentMultisampleQuality();
    presentParams.SwapEffect = D3DSWAPEFFECT_DISCARD;
    presentParams.EnableAutoDepthStencil = usesDepthBuffer;
    presentParams.hDeviceWindow = window;
    if (usesDepthBuffer) {
        presentParams.Flags = D3DPRESENTFLAG_DISCARD_DEPTHSTENCIL;
        presentParams.AutoDepthStencilFormat = settings.CurrentDepthStencilFormat();
    } else {
        presentParams.Flags = 0;
    }
    const DeviceCombination* combination = settings.CurrentCombination();
    // Before a combination is chosen the device picks nothing in particular.
    const D3DFORMAT backBufferFormat = combination ? combination->backBufferFormat : D3DFMT_UNKNOWN;
    if (windowed) {
        presentParams.BackBufferWidth = UINT(clientRect.right - clientRect.left);
        presentParams.BackBufferHeight = UINT(clientRect.bottom - clientRect.top);
        presentParams.BackBufferFormat = backBufferFormat;
        presentParams.FullScreen_RefreshRateInHz = 0;
    } else {
        const D3DDISPLAYMODE mode = settings.CurrentDisplayMode();
        presentParams.BackBufferWidth = mode.Width;
        presentParams.BackBufferHeight = mode.Height;
        presentParams.BackBufferFormat = backBufferFormat;
        presentParams.FullScreen_RefreshRateInHz = settings.fullscreenDisplayMode.RefreshRate;
    }
    presentParams.PresentationInterval = settings.CurrentPresentInterval();
}
