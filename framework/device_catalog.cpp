#include "framework/device_catalog.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

// ---------------------------------------------------------------- GrowArray

GrowArray::GrowArray(int32_t holdsPointers, UINT elementSize)
    : holdsPointers(holdsPointers), elementSize(holdsPointers ? UINT(sizeof(void*)) : elementSize) {}

GrowArray::~GrowArray() { std::free(items); }

HRESULT GrowArray::Append(const void* entry) {
    if (elementSize == 0)
        return E_FAIL;
    if (!items || capacity < count + 1) {
        if (capacity > 0x7FFFFFFFu)
            return E_OUTOFMEMORY;
        const UINT newCapacity = capacity == 0 ? 16 : capacity * 2;
        const std::size_t bytes = std::size_t(elementSize) * newCapacity;
        if (bytes / newCapacity != elementSize)
            return E_OUTOFMEMORY;
        void* grown = std::malloc(bytes);
        if (!grown)
            return E_OUTOFMEMORY;
        if (items)
            std::memcpy(grown, items, std::size_t(elementSize) * count);
        std::free(items);
        items = grown;
        capacity = newCapacity;
    }
    char* slot = static_cast<char*>(items) + std::size_t(elementSize) * count;
    if (holdsPointers)
        std::memcpy(slot, &entry, sizeof entry);
    else
        std::memcpy(slot, entry, elementSize);
    ++count;
    return S_OK;
}

void* GrowArray::Get(UINT index) const {
    if (index >= count)
        return nullptr;
    char* slot = static_cast<char*>(items) + std::size_t(elementSize) * index;
    if (!holdsPointers)
        return slot;
    void* stored;
    std::memcpy(&stored, slot, sizeof stored);
    return stored;
}

bool GrowArray::Contains(const void* entry) const {
    for (UINT i = 0; i < count; ++i) {
        if (holdsPointers ? Get(i) == entry : std::memcmp(Get(i), entry, elementSize) == 0)
            return true;
    }
    return false;
}

void GrowArray::Remove(UINT index) {
    if (index >= count)
        return;
    char* slot = static_cast<char*>(items) + std::size_t(elementSize) * index;
    std::memmove(slot, slot + elementSize, std::size_t(elementSize) * (count - index - 1));
    --count;
}

// ---------------------------------------------------------------- format properties

UINT ColorChannelBits(D3DFORMAT format) {
    switch (format) {
    case D3DFMT_R8G8B8:
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8: return 8;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5: return 5;
    case D3DFMT_X4R4G4B4:
    case D3DFMT_A4R4G4B4: return 4;
    case D3DFMT_R3G3B2:
    case D3DFMT_A8R3G3B2: return 2;
    case D3DFMT_A2B10G10R10:
    case D3DFMT_A2R10G10B10: return 10;
    default: return 0;
    }
}

UINT AlphaChannelBits(D3DFORMAT format) {
    switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_A8R3G3B2: return 8;
    case D3DFMT_A1R5G5B5: return 1;
    case D3DFMT_A4R4G4B4: return 4;
    case D3DFMT_A2B10G10R10:
    case D3DFMT_A2R10G10B10: return 2;
    default: return 0;
    }
}

UINT DepthBits(D3DFORMAT format) {
    switch (format) {
    case D3DFMT_D32: return 32;
    case D3DFMT_D15S1: return 15;
    case D3DFMT_D24S8:
    case D3DFMT_D24X8:
    case D3DFMT_D24X4S4: return 24;
    case D3DFMT_D16: return 16;
    default: return 0;
    }
}

UINT StencilBits(D3DFORMAT format) {
    switch (format) {
    case D3DFMT_D15S1: return 1;
    case D3DFMT_D24S8: return 8;
    case D3DFMT_D24X4S4: return 4;
    default: return 0;
    }
}

int CompareDisplayModes(const D3DDISPLAYMODE& left, const D3DDISPLAYMODE& right) {
    if (left.Width != right.Width)
        return left.Width < right.Width ? -1 : 1;
    if (left.Height != right.Height)
        return left.Height < right.Height ? -1 : 1;
    if (left.Format != right.Format)
        return int32_t(left.Format) < int32_t(right.Format) ? -1 : 1;
    if (left.RefreshRate != right.RefreshRate)
        return left.RefreshRate < right.RefreshRate ? -1 : 1;
    return 0;
}

// ---------------------------------------------------------------- entries

DeviceCombination::DeviceCombination() = default;

DeviceCombination::~DeviceCombination() {
    delete depthStencilFormats;
    delete multisampleTypes;
    delete multisampleQualities;
    delete conflicts;
    delete vertexProcessingTypes;
    delete presentIntervals;
}

DeviceEntry::DeviceEntry() { std::memset(&caps, 0, sizeof caps); }

DeviceEntry::~DeviceEntry() {
    if (!combinations)
        return;
    for (UINT i = 0; i < combinations->Count(); ++i)
        delete static_cast<DeviceCombination*>(combinations->Get(i));
    delete combinations;
}

AdapterEntry::AdapterEntry() { std::memset(&identifier, 0, sizeof identifier); }

AdapterEntry::~AdapterEntry() {
    delete displayModes;
    if (!devices)
        return;
    for (UINT i = 0; i < devices->Count(); ++i)
        delete static_cast<DeviceEntry*>(devices->Get(i));
    delete devices;
}

// ---------------------------------------------------------------- DeviceCatalog

namespace {

const D3DFORMAT kAllowedAdapterFormats[] = {D3DFMT_X8R8G8B8, D3DFMT_X1R5G5B5, D3DFMT_R5G6B5, D3DFMT_A2R10G10B10};

const D3DDEVTYPE kDeviceTypes[] = {D3DDEVTYPE_HAL, D3DDEVTYPE_SW, D3DDEVTYPE_REF};

const D3DFORMAT kBackBufferFormats[] = {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_A2R10G10B10,
                                        D3DFMT_R5G6B5,   D3DFMT_A1R5G5B5, D3DFMT_X1R5G5B5};

const D3DFORMAT kDepthStencilFormats[] = {D3DFMT_D16,   D3DFMT_D15S1,   D3DFMT_D24X8,
                                          D3DFMT_D24S8, D3DFMT_D24X4S4, D3DFMT_D32};

const UINT kPresentIntervals[] = {UINT(D3DPRESENT_INTERVAL_IMMEDIATE), D3DPRESENT_INTERVAL_DEFAULT,
                                  D3DPRESENT_INTERVAL_ONE,             D3DPRESENT_INTERVAL_TWO,
                                  D3DPRESENT_INTERVAL_THREE,           D3DPRESENT_INTERVAL_FOUR};

constexpr DWORD kHardwareTransformAndLight = 0x10000;
constexpr DWORD kPureDevice = 0x100000;

}  // namespace

DeviceCatalog::DeviceCatalog() = default;

DeviceCatalog::~DeviceCatalog() { Destroy(); }

void DeviceCatalog::Destroy() {
    if (adapters) {
        for (UINT i = 0; i < adapters->Count(); ++i)
            delete static_cast<AdapterEntry*>(adapters->Get(i));
        delete adapters;
        adapters = nullptr;
    }
    delete allowedAdapterFormats;
    allowedAdapterFormats = nullptr;
}

HRESULT DeviceCatalog::Enumerate() {
    if (!d3d)
        return E_FAIL;
    // A second enumeration starts from scratch instead of leaking the first.
    Destroy();
    adapters = new (std::nothrow) GrowArray(1, sizeof(AdapterEntry*));
    allowedAdapterFormats = new (std::nothrow) GrowArray(0, sizeof(D3DFORMAT));
    if (!adapters || !allowedAdapterFormats) {
        Destroy();
        return E_OUTOFMEMORY;
    }
    for (D3DFORMAT format : kAllowedAdapterFormats) {
        const HRESULT hr = allowedAdapterFormats->Append(&format);
        if (FAILED(hr))
            return hr;
    }

    const UINT adapterCount = d3d->GetAdapterCount();
    for (UINT ordinal = 0; ordinal < adapterCount; ++ordinal) {
        AdapterEntry* adapter = new (std::nothrow) AdapterEntry;
        if (!adapter)
            return E_OUTOFMEMORY;
        adapter->displayModes = new (std::nothrow) GrowArray(0, sizeof(D3DDISPLAYMODE));
        adapter->devices = new (std::nothrow) GrowArray(1, sizeof(DeviceEntry*));
        if (!adapter->displayModes || !adapter->devices) {
            delete adapter;
            return E_OUTOFMEMORY;
        }
        adapter->adapterOrdinal = ordinal;
        d3d->GetAdapterIdentifier(ordinal, 0, &adapter->identifier);

        GrowArray adapterFormats(0, sizeof(D3DFORMAT));
        for (UINT f = 0; f < allowedAdapterFormats->Count(); ++f) {
            const D3DFORMAT format = *static_cast<D3DFORMAT*>(allowedAdapterFormats->Get(f));
            const UINT modeCount = d3d->GetAdapterModeCount(ordinal, format);
            for (UINT m = 0; m < modeCount; ++m) {
                D3DDISPLAYMODE mode = {};
                if (FAILED(d3d->EnumAdapterModes(ordinal, format, m, &mode)))
                    continue;
                if (mode.Width < minFullscreenWidth || mode.Height < minFullscreenHeight ||
                    ColorChannelBits(mode.Format) < minColorChannelBits)
                    continue;
                HRESULT hr = adapter->displayModes->Append(&mode);
                if (SUCCEEDED(hr) && !adapterFormats.Contains(&mode.Format))
                    hr = adapterFormats.Append(&mode.Format);
                if (FAILED(hr)) {
                    delete adapter;
                    return hr;
                }
            }
        }
        auto* modes = static_cast<D3DDISPLAYMODE*>(adapter->displayModes->items);
        std::sort(modes, modes + adapter->displayModes->Count(),
                  [](const D3DDISPLAYMODE& l, const D3DDISPLAYMODE& r) { return CompareDisplayModes(l, r) < 0; });

        HRESULT hr = EnumerateDevices(adapter, &adapterFormats);
        if (FAILED(hr)) {
            delete adapter;
            return hr;
        }
        if (adapter->devices->Count() == 0) {
            delete adapter;
            continue;
        }
        hr = adapters->Append(adapter);
        if (FAILED(hr)) {
            delete adapter;
            return hr;
        }
    }
    return S_OK;
}

HRESULT DeviceCatalog::EnumerateDevices(AdapterEntry* adapter, GrowArray* adapterFormats) {
    for (D3DDEVTYPE type : kDeviceTypes) {
        DeviceEntry* device = new (std::nothrow) DeviceEntry;
        if (!device)
            return E_OUTOFMEMORY;
        device->combinations = new (std::nothrow) GrowArray(1, sizeof(DeviceCombination*));
        if (!device->combinations) {
            delete device;
            return E_OUTOFMEMORY;
        }
        device->adapterOrdinal = adapter->adapterOrdinal;
        device->deviceType = type;
        if (FAILED(d3d->GetDeviceCaps(adapter->adapterOrdinal, type, &device->caps))) {
            delete device;
            continue;
        }
        HRESULT hr = EnumerateCombinations(device, adapterFormats);
        if (FAILED(hr)) {
            delete device;
            return hr;
        }
        if (device->combinations->Count() == 0) {
            delete device;
            continue;
        }
        hr = adapter->devices->Append(device);
        if (FAILED(hr)) {
            delete device;
            return hr;
        }
    }
    return S_OK;
}

HRESULT DeviceCatalog::EnumerateCombinations(DeviceEntry* device, GrowArray* adapterFormats) {
    for (UINT f = 0; f < adapterFormats->Count(); ++f) {
        const D3DFORMAT adapterFormat = *static_cast<D3DFORMAT*>(adapterFormats->Get(f));
        for (D3DFORMAT backBufferFormat : kBackBufferFormats) {
            if (AlphaChannelBits(backBufferFormat) < minAlphaChannelBits)
                continue;
            for (bool windowed : {false, true}) {
                if (!windowed && requiresWindowed)
                    continue;
                if (windowed && requiresFullscreen)
                    continue;
                if (FAILED(d3d->CheckDeviceType(device->adapterOrdinal, device->deviceType, adapterFormat,
                                                backBufferFormat, windowed)))
                    continue;

                DeviceCombination* combination = new (std::nothrow) DeviceCombination;
                if (!combination)
                    return E_OUTOFMEMORY;
                combination->depthStencilFormats = new (std::nothrow) GrowArray(0, sizeof(D3DFORMAT));
                combination->multisampleTypes = new (std::nothrow) GrowArray(0, sizeof(D3DMULTISAMPLE_TYPE));
                combination->multisampleQualities = new (std::nothrow) GrowArray(0, sizeof(DWORD));
                combination->conflicts = new (std::nothrow) GrowArray(0, sizeof(DepthMultisampleConflict));
                combination->vertexProcessingTypes = new (std::nothrow) GrowArray(0, sizeof(VertexProcessing));
                combination->presentIntervals = new (std::nothrow) GrowArray(0, sizeof(UINT));
                if (!combination->depthStencilFormats || !combination->multisampleTypes ||
                    !combination->multisampleQualities || !combination->conflicts ||
                    !combination->vertexProcessingTypes || !combination->presentIntervals) {
                    delete combination;
                    return E_OUTOFMEMORY;
                }
                combination->adapterOrdinal = device->adapterOrdinal;
                combination->deviceType = device->deviceType;
                combination->adapterFormat = adapterFormat;
                combination->backBufferFormat = backBufferFormat;
                combination->isWindowed = windowed;

                HRESULT hr = S_OK;
                bool usable = true;
                if (usesDepthBuffer) {
                    hr = BuildDepthStencilFormats(combination);
                    usable = SUCCEEDED(hr) && combination->depthStencilFormats->Count() > 0;
                }
                if (usable) {
                    hr = BuildMultisampleTypes(combination);
                    usable = SUCCEEDED(hr) && combination->multisampleTypes->Count() > 0;
                }
                if (usable) {
                    hr = BuildConflicts(combination);
                    if (SUCCEEDED(hr))
                        hr = BuildVertexProcessingTypes(device, combination);
                    usable = SUCCEEDED(hr) && combination->vertexProcessingTypes->Count() > 0;
                }
                if (usable) {
                    hr = BuildPresentIntervals(device, combination);
                    if (SUCCEEDED(hr))
                        hr = device->combinations->Append(combination);
                    usable = SUCCEEDED(hr);
                }
                if (!usable) {
                    delete combination;
                    if (FAILED(hr))
                        return hr;
                }
            }
        }
    }
    return S_OK;
}

HRESULT DeviceCatalog::BuildDepthStencilFormats(DeviceCombination* combination) {
    for (D3DFORMAT format : kDepthStencilFormats) {
        if (DepthBits(format) < minDepthBits || StencilBits(format) < minStencilBits)
            continue;
        if (SUCCEEDED(d3d->CheckDeviceFormat(combination->adapterOrdinal, combination->deviceType,
                                             combination->adapterFormat, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE,
                                             format)) &&
            SUCCEEDED(d3d->CheckDepthStencilMatch(combination->adapterOrdinal, combination->deviceType,
                                                  combination->adapterFormat, combination->backBufferFormat,
                                                  format))) {
            const HRESULT hr = combination->depthStencilFormats->Append(&format);
            if (FAILED(hr))
                return hr;
        }
    }
    return S_OK;
}

HRESULT DeviceCatalog::BuildMultisampleTypes(DeviceCombination* combination) {
    for (int t = D3DMULTISAMPLE_NONE; t <= D3DMULTISAMPLE_16_SAMPLES; ++t) {
        const D3DMULTISAMPLE_TYPE type = D3DMULTISAMPLE_TYPE(t);
        DWORD qualityLevels = 0;
        if (FAILED(d3d->CheckDeviceMultiSampleType(combination->adapterOrdinal, combination->deviceType,
                                                   combination->backBufferFormat, combination->isWindowed, type,
                                                   &qualityLevels)))
            continue;
        HRESULT hr = combination->multisampleTypes->Append(&type);
        if (SUCCEEDED(hr)) {
            hr = combination->multisampleQualities->Append(&qualityLevels);
            // The two lists stay parallel even when the second append fails.
            if (FAILED(hr))
                combination->multisampleTypes->Remove(combination->multisampleTypes->Count() - 1);
        }
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT DeviceCatalog::BuildConflicts(DeviceCombination* combination) {
    for (UINT d = 0; d < combination->depthStencilFormats->Count(); ++d) {
        const D3DFORMAT format = *static_cast<D3DFORMAT*>(combination->depthStencilFormats->Get(d));
        for (UINT m = 0; m < combination->multisampleTypes->Count(); ++m) {
            const D3DMULTISAMPLE_TYPE type = *static_cast<D3DMULTISAMPLE_TYPE*>(combination->multisampleTypes->Get(m));
            if (SUCCEEDED(d3d->CheckDeviceMultiSampleType(combination->adapterOrdinal, combination->deviceType,
                                                          format, combination->isWindowed, type, nullptr)))
                continue;
            const DepthMultisampleConflict conflict = {format, type};
            const HRESULT hr = combination->conflicts->Append(&conflict);
            if (FAILED(hr))
                return hr;
        }
    }
    return S_OK;
}

HRESULT DeviceCatalog::BuildVertexProcessingTypes(DeviceEntry* device, DeviceCombination* combination) {
    auto accepted = [&](VertexProcessing vertexProcessing) {
        return !acceptDevice || acceptDevice(&device->caps, vertexProcessing, combination->backBufferFormat);
    };
    GrowArray* types = combination->vertexProcessingTypes;
    HRESULT hr = S_OK;
    auto offer = [&](VertexProcessing vertexProcessing) {
        if (SUCCEEDED(hr) && accepted(vertexProcessing))
            hr = types->Append(&vertexProcessing);
    };
    if (device->caps.DevCaps & kHardwareTransformAndLight) {
        if (device->caps.DevCaps & kPureDevice)
            offer(PURE_HARDWARE_VP);
        offer(HARDWARE_VP);
        if (usesMixedVertexProcessing)
            offer(MIXED_VP);
    }
    offer(SOFTWARE_VP);
    return hr;
}

HRESULT DeviceCatalog::BuildPresentIntervals(DeviceEntry* device, DeviceCombination* combination) {
    for (UINT interval : kPresentIntervals) {
        if (combination->isWindowed && (interval == D3DPRESENT_INTERVAL_TWO || interval == D3DPRESENT_INTERVAL_THREE ||
                                        interval == D3DPRESENT_INTERVAL_FOUR))
            continue;
        if (interval != D3DPRESENT_INTERVAL_DEFAULT && !(device->caps.PresentationIntervals & interval))
            continue;
        const HRESULT hr = combination->presentIntervals->Append(&interval);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}
