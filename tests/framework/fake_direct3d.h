// A Direct3D object described by plain data: adapters with their desktop
// mode, display modes and device types (caps), and the answers of the format
// checks. It records which mode formats were asked for. Device creation is
// not offered.
#pragma once

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "framework/device_catalog.h"
#include "platform/d3d9/d3d9.h"

struct FakeDeviceType {
    DWORD devCaps = 0x10000 | 0x100000;  // hardware transform and lighting, pure device
    UINT presentationIntervals = D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE;
};

struct FakeAdapter {
    std::string description = "Fake adapter";
    D3DDISPLAYMODE desktop = {1024, 768, 60, D3DFMT_X8R8G8B8};
    std::vector<D3DDISPLAYMODE> modes = {{640, 480, 60, D3DFMT_X8R8G8B8}, {1024, 768, 60, D3DFMT_X8R8G8B8}};
    std::map<D3DDEVTYPE, FakeDeviceType> deviceTypes = {{D3DDEVTYPE_HAL, {}}, {D3DDEVTYPE_REF, {}}};
};

class FakeDirect3D : public IDirect3D9 {
public:
    std::vector<FakeAdapter> adapters = {FakeAdapter{}};
    // (adapter format, back-buffer format) pairs that CheckDeviceType passes.
    std::set<std::pair<D3DFORMAT, D3DFORMAT>> surfaces = {{D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8},
                                                          {D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8},
                                                          {D3DFMT_R5G6B5, D3DFMT_R5G6B5}};
    // Per device type instead of the pairs above, where given.
    std::map<D3DDEVTYPE, std::set<std::pair<D3DFORMAT, D3DFORMAT>>> typeSurfaces;
    bool windowedSurfaces = true;
    bool fullscreenSurfaces = true;
    std::set<D3DFORMAT> depthFormats = {D3DFMT_D16, D3DFMT_D24S8};
    // (back-buffer format, depth format) pairs that do not match.
    std::set<std::pair<D3DFORMAT, D3DFORMAT>> depthMismatches;
    // Multisample types with their quality level counts, for any surface.
    std::map<D3DMULTISAMPLE_TYPE, DWORD> multisample = {{D3DMULTISAMPLE_NONE, 1}};
    // (depth format, multisample type) pairs the depth buffer cannot take.
    std::set<std::pair<D3DFORMAT, D3DMULTISAMPLE_TYPE>> depthMultisampleFailures;

    std::vector<D3DFORMAT> modeFormatsAsked;

    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }  // the test owns the object

    UINT GetAdapterCount() override { return UINT(adapters.size()); }

    HRESULT GetAdapterIdentifier(UINT ordinal, DWORD, D3DADAPTER_IDENTIFIER9* identifier) override {
        if (ordinal >= adapters.size())
            return D3DERR_INVALIDCALL;
        std::memset(identifier, 0, sizeof *identifier);
        std::strncpy(identifier->Description, adapters[ordinal].description.c_str(),
                     sizeof identifier->Description - 1);
        return D3D_OK;
    }

    UINT GetAdapterModeCount(UINT ordinal, D3DFORMAT format) override {
        modeFormatsAsked.push_back(format);
        return UINT(modesOf(ordinal, format).size());
    }

    HRESULT EnumAdapterModes(UINT ordinal, D3DFORMAT format, UINT index, D3DDISPLAYMODE* mode) override {
        const std::vector<D3DDISPLAYMODE> modes = modesOf(ordinal, format);
        if (index >= modes.size())
            return D3DERR_INVALIDCALL;
        *mode = modes[index];
        return D3D_OK;
    }

    HRESULT GetAdapterDisplayMode(UINT ordinal, D3DDISPLAYMODE* mode) override {
        if (ordinal >= adapters.size())
            return D3DERR_INVALIDCALL;
        *mode = adapters[ordinal].desktop;
        return D3D_OK;
    }

    HRESULT CheckDeviceType(UINT ordinal, D3DDEVTYPE type, D3DFORMAT adapterFormat, D3DFORMAT backBufferFormat,
                            BOOL windowed) override {
        const auto& pairs = typeSurfaces.count(type) ? typeSurfaces.at(type) : surfaces;
        if (!hasType(ordinal, type) || !pairs.count({adapterFormat, backBufferFormat}))
            return D3DERR_NOTAVAILABLE;
        return (windowed ? windowedSurfaces : fullscreenSurfaces) ? D3D_OK : D3DERR_NOTAVAILABLE;
    }

    HRESULT CheckDeviceFormat(UINT ordinal, D3DDEVTYPE type, D3DFORMAT, DWORD usage, D3DRESOURCETYPE resourceType,
                              D3DFORMAT format) override {
        if (!hasType(ordinal, type) || usage != D3DUSAGE_DEPTHSTENCIL || resourceType != D3DRTYPE_SURFACE)
            return D3DERR_NOTAVAILABLE;
        return depthFormats.count(format) ? D3D_OK : D3DERR_NOTAVAILABLE;
    }

    HRESULT CheckDeviceMultiSampleType(UINT ordinal, D3DDEVTYPE type, D3DFORMAT surfaceFormat, BOOL,
                                       D3DMULTISAMPLE_TYPE multiSample, DWORD* qualityLevels) override {
        if (!hasType(ordinal, type) || !multisample.count(multiSample) ||
            depthMultisampleFailures.count({surfaceFormat, multiSample}))
            return D3DERR_NOTAVAILABLE;
        if (qualityLevels)
            *qualityLevels = multisample[multiSample];
        return D3D_OK;
    }

    HRESULT CheckDepthStencilMatch(UINT ordinal, D3DDEVTYPE type, D3DFORMAT, D3DFORMAT renderTargetFormat,
                                   D3DFORMAT depthStencilFormat) override {
        if (!hasType(ordinal, type) || depthMismatches.count({renderTargetFormat, depthStencilFormat}))
            return D3DERR_NOTAVAILABLE;
        return D3D_OK;
    }

    HRESULT GetDeviceCaps(UINT ordinal, D3DDEVTYPE type, D3DCAPS9* caps) override {
        if (!hasType(ordinal, type))
            return D3DERR_NOTAVAILABLE;
        std::memset(caps, 0, sizeof *caps);
        const FakeDeviceType& d = adapters[ordinal].deviceTypes.at(type);
        caps->DeviceType = type;
        caps->AdapterOrdinal = ordinal;
        caps->DevCaps = d.devCaps;
        caps->PresentationIntervals = d.presentationIntervals;
        return D3D_OK;
    }

    HMONITOR GetAdapterMonitor(UINT) override { return nullptr; }

    HRESULT CreateDevice(UINT, D3DDEVTYPE, HWND, DWORD, D3DPRESENT_PARAMETERS*, IDirect3DDevice9** device) override {
        *device = nullptr;
        return D3DERR_NOTAVAILABLE;
    }

private:
    bool hasType(UINT ordinal, D3DDEVTYPE type) const {
        return ordinal < adapters.size() && adapters[ordinal].deviceTypes.count(type);
    }

    std::vector<D3DDISPLAYMODE> modesOf(UINT ordinal, D3DFORMAT format) const {
        std::vector<D3DDISPLAYMODE> out;
        if (ordinal < adapters.size())
            for (const D3DDISPLAYMODE& mode : adapters[ordinal].modes)
                if (mode.Format == format)
                    out.push_back(mode);
        return out;
    }
};

// The catalog's entries as plain vectors, for comparing whole lists.
template <typename T>
std::vector<T> Values(const GrowArray* list) {
    std::vector<T> out;
    for (UINT i = 0; list && i < list->Count(); ++i)
        out.push_back(*static_cast<T*>(list->Get(i)));
    return out;
}

template <typename T>
std::vector<T*> Pointers(const GrowArray* list) {
    std::vector<T*> out;
    for (UINT i = 0; list && i < list->Count(); ++i)
        out.push_back(static_cast<T*>(list->Get(i)));
    return out;
}
