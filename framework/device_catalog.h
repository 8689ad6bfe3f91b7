// What every adapter can do, asked once at start-up: adapters, the device
// types each offers, and per device the usable combinations of adapter
// format, back-buffer format and presentation with everything that works
// with them. The application's requirements and its acceptance callback
// prune the tree while it is built, so that whatever is left is usable.
#pragma once

#include <cstdint>

#include "platform/d3d9/d3d9.h"

// An append-only array: of pointers (holdsPointers 1, the pointed-to objects
// are never freed by the array) or of values copied elementSize bytes at a
// time (holdsPointers 0).
class GrowArray {
public:
    GrowArray(int32_t holdsPointers, UINT elementSize);
    ~GrowArray();
    GrowArray(const GrowArray&) = delete;
    GrowArray& operator=(const GrowArray&) = delete;

    // Pointer arrays store entry itself; value arrays copy elementSize bytes
    // from it. On failure the array is unchanged.
    HRESULT Append(const void* entry);
    // The stored pointer (pointer arrays) or the element's address (value
    // arrays); null for an index past the end.
    void* Get(UINT index) const;
    // Pointer equality, or byte-wise equality of a whole element.
    bool Contains(const void* entry) const;
    // Later elements move down by one; an index past the end changes nothing.
    void Remove(UINT index);

    UINT Count() const { return count; }

    int32_t holdsPointers;
    void* items = nullptr;
    UINT elementSize;
    UINT count = 0;
    UINT capacity = 0;
};

enum VertexProcessing : int32_t {
    SOFTWARE_VP = 0,
    MIXED_VP = 1,
    HARDWARE_VP = 2,
    PURE_HARDWARE_VP = 3,
};

// A depth/stencil format that cannot be combined with a multisample type.
struct DepthMultisampleConflict {
    D3DFORMAT depthStencilFormat;
    D3DMULTISAMPLE_TYPE multisampleType;
};

struct DeviceCombination {
    DeviceCombination();
    ~DeviceCombination();
    DeviceCombination(const DeviceCombination&) = delete;
    DeviceCombination& operator=(const DeviceCombination&) = delete;

    UINT adapterOrdinal = 0;
    D3DDEVTYPE deviceType = D3DDEVTYPE_HAL;
    D3DFORMAT adapterFormat = D3DFMT_UNKNOWN;
    D3DFORMAT backBufferFormat = D3DFMT_UNKNOWN;
    bool isWindowed = false;
    GrowArray* depthStencilFormats = nullptr;    // D3DFORMAT values
    GrowArray* multisampleTypes = nullptr;       // D3DMULTISAMPLE_TYPE values
    GrowArray* multisampleQualities = nullptr;   // DWORD quality level counts, parallel to multisampleTypes
    GrowArray* conflicts = nullptr;              // DepthMultisampleConflict values
    GrowArray* vertexProcessingTypes = nullptr;  // VertexProcessing values, preferred first
    GrowArray* presentIntervals = nullptr;       // UINT present-interval values
};

struct DeviceEntry {
    DeviceEntry();
    ~DeviceEntry();
    DeviceEntry(const DeviceEntry&) = delete;
    DeviceEntry& operator=(const DeviceEntry&) = delete;

    UINT adapterOrdinal = 0;
    D3DDEVTYPE deviceType = D3DDEVTYPE_HAL;
    D3DCAPS9 caps;
    GrowArray* combinations = nullptr;  // DeviceCombination pointers
};

struct AdapterEntry {
    AdapterEntry();
    ~AdapterEntry();
    AdapterEntry(const AdapterEntry&) = delete;
    AdapterEntry& operator=(const AdapterEntry&) = delete;

    UINT adapterOrdinal = 0;
    D3DADAPTER_IDENTIFIER9 identifier;
    GrowArray* displayModes = nullptr;  // D3DDISPLAYMODE values, in mode order
    GrowArray* devices = nullptr;       // DeviceEntry pointers
};

// The application's say on a vertex processing type for a device and back
// buffer format: true accepts.
using AcceptDeviceCallback = bool (*)(D3DCAPS9* caps, VertexProcessing vertexProcessing, D3DFORMAT backBufferFormat);

class DeviceCatalog {
public:
    DeviceCatalog();
    ~DeviceCatalog();
    DeviceCatalog(const DeviceCatalog&) = delete;
    DeviceCatalog& operator=(const DeviceCatalog&) = delete;

    // Builds the tree: 0, E_FAIL without d3d, or E_OUTOFMEMORY. Finding
    // nothing usable is no failure: the adapter list is then empty.
    HRESULT Enumerate();
    // Frees the tree (also done by the destructor).
    void Destroy();

    IDirect3D9* d3d = nullptr;
    GrowArray* adapters = nullptr;  // AdapterEntry pointers
    AcceptDeviceCallback acceptDevice = nullptr;
    UINT minFullscreenWidth = 640;
    UINT minFullscreenHeight = 480;
    UINT minColorChannelBits = 5;
    UINT minAlphaChannelBits = 0;
    UINT minDepthBits = 15;
    UINT minStencilBits = 0;
    bool usesDepthBuffer = false;
    bool usesMixedVertexProcessing = false;
    bool requiresWindowed = false;
    bool requiresFullscreen = false;
    GrowArray* allowedAdapterFormats = nullptr;  // D3DFORMAT values

private:
    HRESULT EnumerateDevices(AdapterEntry* adapter, GrowArray* adapterFormats);
    HRESULT EnumerateCombinations(DeviceEntry* device, GrowArray* adapterFormats);
    HRESULT BuildDepthStencilFormats(DeviceCombination* combination);
    HRESULT BuildMultisampleTypes(DeviceCombination* combination);
    HRESULT BuildConflicts(DeviceCombination* combination);
    HRESULT BuildVertexProcessingTypes(DeviceEntry* device, DeviceCombination* combination);
    HRESULT BuildPresentIntervals(DeviceEntry* device, DeviceCombination* combination);
};

// Format properties by D3DFORMAT value; 0 for formats without an entry.
UINT ColorChannelBits(D3DFORMAT format);
UINT AlphaChannelBits(D3DFORMAT format);
UINT DepthBits(D3DFORMAT format);
UINT StencilBits(D3DFORMAT format);

// Mode order: width, height, format (as a signed value), refresh rate, all
// ascending. Negative, zero or positive like strcmp.
int CompareDisplayModes(const D3DDISPLAYMODE& left, const D3DDISPLAYMODE& right);
