#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/d3d9/device.h"

namespace platform::d3d9 {

namespace {

constexpr UINT kRefMaxTexture = 4096;

// Sizes a full-screen mode list offers below the desktop, as monitors of
// the platform's day did.
constexpr struct {
    UINT width, height;
} kCommonSizes[] = {
    {640, 480},   {720, 480},   {720, 576},   {800, 600},   {1024, 768},  {1152, 864},  {1280, 720},  {1280, 768},
    {1280, 800},  {1280, 960},  {1280, 1024}, {1360, 768},  {1366, 768},  {1400, 1050}, {1440, 900},  {1600, 900},
    {1600, 1200}, {1680, 1050}, {1920, 1080}, {1920, 1200}, {2048, 1536}, {2560, 1440}, {2560, 1600}, {3840, 2160},
};

Adapter makeAdapter(std::string name, UINT width, UINT height, UINT rate, QRect geometry) {
    Adapter a;
    a.name = std::move(name);
    a.desktop = {width, height, rate, D3DFMT_X8R8G8B8};
    a.geometry = geometry;
    for (const auto& size : kCommonSizes)
        if (size.width <= width && size.height <= height && !(size.width == width && size.height == height))
            a.modes.push_back({size.width, size.height, rate, D3DFMT_X8R8G8B8});
    a.modes.push_back(a.desktop);
    std::sort(a.modes.begin(), a.modes.end(), [](const D3DDISPLAYMODE& l, const D3DDISPLAYMODE& r) {
        return l.Width != r.Width ? l.Width < r.Width : l.Height < r.Height;
    });
    return a;
}

bool isBackBufferFormat(D3DFORMAT format) { return format == D3DFMT_A8R8G8B8 || format == D3DFMT_X8R8G8B8; }

bool isDepthFormat(D3DFORMAT format) {
    return format == D3DFMT_D16 || format == D3DFMT_D24X8 || format == D3DFMT_D24S8 || format == D3DFMT_D32 ||
           format == D3DFMT_D15S1 || format == D3DFMT_D24X4S4 || format == D3DFMT_D16_LOCKABLE;
}

// Multisample counts the HAL offers: none on REF.
std::vector<UINT> sampleCounts(D3DDEVTYPE type) {
    std::vector<UINT> counts;
#ifdef VL_HAVE_HAL
    if (type == D3DDEVTYPE_HAL)
        for (UINT n : {2u, 4u, 8u, 16u})
            if (halCapabilities().maxSamples >= n)
                counts.push_back(n);
#else
    (void)type;
#endif
    return counts;
}

}  // namespace

std::vector<Adapter> enumerateAdapters() {
    std::vector<Adapter> adapters;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        for (QScreen* screen : QGuiApplication::screens()) {
            const qreal ratio = screen->devicePixelRatio();
            const QSize size = screen->geometry().size() * ratio;
            const qreal hz = screen->refreshRate();
            const UINT rate = hz > 0 ? UINT(std::lround(hz)) : 60;
            adapters.push_back(makeAdapter(screen->name().toStdString(), UINT(size.width()), UINT(size.height()), rate,
                                           screen->geometry()));
        }
    }
    // Without a display there is still one adapter to render offscreen with.
    if (adapters.empty())
        adapters.push_back(makeAdapter("Offscreen", 1024, 768, 60, QRect(0, 0, 1024, 768)));
    return adapters;
}

Direct3D::Direct3D() : adapters_(enumerateAdapters()) {}

ULONG Direct3D::Release() {
    const ULONG remaining = --refs_;
    if (remaining == 0)
        delete this;
    return remaining;
}

UINT Direct3D::GetAdapterCount() { return UINT(adapters_.size()); }

HRESULT Direct3D::GetAdapterIdentifier(UINT ordinal, DWORD, D3DADAPTER_IDENTIFIER9* identifier) {
    const Adapter* a = adapter(ordinal);
    if (!a || !identifier)
        return D3DERR_INVALIDCALL;
    std::memset(identifier, 0, sizeof *identifier);
    std::string description = "Reference software rasterizer";
#ifdef VL_HAVE_HAL
    if (halCapabilities().available)
        description = halCapabilities().renderer;
#endif
    std::strncpy(identifier->Driver, "vibrolane d3d9", sizeof identifier->Driver - 1);
    std::strncpy(identifier->Description, description.c_str(), sizeof identifier->Description - 1);
    std::strncpy(identifier->DeviceName, a->name.c_str(), sizeof identifier->DeviceName - 1);
    identifier->DriverVersion.QuadPart = (LONGLONG(9) << 48) | 1;
    identifier->DeviceIdentifier = GUID{0x76696272, 0x6c61, 0x6e65, {0, 0, 0, 0, 0, 0, 0, BYTE(ordinal)}};
    return D3D_OK;
}

UINT Direct3D::GetAdapterModeCount(UINT ordinal, D3DFORMAT format) {
    const Adapter* a = adapter(ordinal);
    return a && format == D3DFMT_X8R8G8B8 ? UINT(a->modes.size()) : 0;
}

HRESULT Direct3D::EnumAdapterModes(UINT ordinal, D3DFORMAT format, UINT mode, D3DDISPLAYMODE* out) {
    const Adapter* a = adapter(ordinal);
    if (!a || !out)
        return D3DERR_INVALIDCALL;
    if (format != D3DFMT_X8R8G8B8)
        return D3DERR_NOTAVAILABLE;
    if (mode >= a->modes.size())
        return D3DERR_INVALIDCALL;
    *out = a->modes[mode];
    return D3D_OK;
}

HRESULT Direct3D::GetAdapterDisplayMode(UINT ordinal, D3DDISPLAYMODE* mode) {
    const Adapter* a = adapter(ordinal);
    if (!a || !mode)
        return D3DERR_INVALIDCALL;
    *mode = a->desktop;
    return D3D_OK;
}

HRESULT Direct3D::deviceTypeAvailable(UINT ordinal, D3DDEVTYPE type) const {
    if (!adapter(ordinal))
        return D3DERR_INVALIDCALL;
    switch (type) {
    case D3DDEVTYPE_REF: return D3D_OK;
    case D3DDEVTYPE_HAL:
#ifdef VL_HAVE_HAL
        return halCapabilities().available ? D3D_OK : D3DERR_NOTAVAILABLE;
#else
        return D3DERR_NOTAVAILABLE;
#endif
    case D3DDEVTYPE_SW:
    case D3DDEVTYPE_NULLREF: return D3DERR_NOTAVAILABLE;
    default: return D3DERR_INVALIDCALL;
    }
}

bool Direct3D::depthFormatSupported(D3DDEVTYPE type, D3DFORMAT format) const {
#ifdef VL_HAVE_HAL
    if (type == D3DDEVTYPE_HAL) {
        const HalCapabilities& hal = halCapabilities();
        return (format == D3DFMT_D16 && hal.supportsD16) || (format == D3DFMT_D24X8 && hal.supportsD24X8) ||
               (format == D3DFMT_D24S8 && hal.supportsD24S8) || (format == D3DFMT_D32 && hal.supportsD32);
    }
#endif
    (void)type;
    return format == D3DFMT_D16 || format == D3DFMT_D24X8 || format == D3DFMT_D24S8 || format == D3DFMT_D32;
}

HRESULT Direct3D::CheckDeviceType(UINT ordinal, D3DDEVTYPE type, D3DFORMAT adapterFormat, D3DFORMAT backBufferFormat,
                                  BOOL windowed) {
    const HRESULT available = deviceTypeAvailable(ordinal, type);
    if (FAILED(available))
        return available;
    if (adapterFormat != D3DFMT_X8R8G8B8)
        return D3DERR_NOTAVAILABLE;
    if (isBackBufferFormat(backBufferFormat) || (windowed && backBufferFormat == D3DFMT_UNKNOWN))
        return D3D_OK;
    return D3DERR_NOTAVAILABLE;
}

HRESULT Direct3D::CheckDeviceFormat(UINT ordinal, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                                    D3DRESOURCETYPE resourceType, D3DFORMAT format) {
    const HRESULT available = deviceTypeAvailable(ordinal, type);
    if (FAILED(available))
        return available;
    if (adapterFormat != D3DFMT_X8R8G8B8)
        return D3DERR_NOTAVAILABLE;
    if (usage & D3DUSAGE_DEPTHSTENCIL)
        return resourceType == D3DRTYPE_SURFACE && depthFormatSupported(type, format) ? D3D_OK : D3DERR_NOTAVAILABLE;
    if (usage & D3DUSAGE_RENDERTARGET)
        return D3DERR_NOTAVAILABLE;  // the back buffer is the only render target
    if (resourceType == D3DRTYPE_VERTEXBUFFER)
        return format == D3DFMT_VERTEXDATA ? D3D_OK : D3DERR_NOTAVAILABLE;
    if (resourceType == D3DRTYPE_TEXTURE || resourceType == D3DRTYPE_SURFACE)
        return bytesPerPixel(format) ? D3D_OK : D3DERR_NOTAVAILABLE;
    return D3DERR_NOTAVAILABLE;
}

HRESULT Direct3D::CheckDeviceMultiSampleType(UINT ordinal, D3DDEVTYPE type, D3DFORMAT surfaceFormat, BOOL,
                                             D3DMULTISAMPLE_TYPE multiSample, DWORD* qualityLevels) {
    const HRESULT available = deviceTypeAvailable(ordinal, type);
    if (FAILED(available))
        return available;
    if (!isBackBufferFormat(surfaceFormat) && !(isDepthFormat(surfaceFormat) && depthFormatSupported(type, surfaceFormat)))
        return D3DERR_NOTAVAILABLE;
    const std::vector<UINT> counts = sampleCounts(type);
    DWORD levels = 0;
    if (multiSample == D3DMULTISAMPLE_NONE)
        levels = 1;
    else if (multiSample == D3DMULTISAMPLE_NONMASKABLE)
        levels = DWORD(counts.size());
    else if (std::find(counts.begin(), counts.end(), UINT(multiSample)) != counts.end())
        levels = 1;
    if (levels == 0)
        return D3DERR_NOTAVAILABLE;
    if (qualityLevels)
        *qualityLevels = levels;
    return D3D_OK;
}

HRESULT Direct3D::CheckDepthStencilMatch(UINT ordinal, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                         D3DFORMAT renderTargetFormat, D3DFORMAT depthStencilFormat) {
    const HRESULT available = deviceTypeAvailable(ordinal, type);
    if (FAILED(available))
        return available;
    if (adapterFormat != D3DFMT_X8R8G8B8 || !isBackBufferFormat(renderTargetFormat) ||
        !depthFormatSupported(type, depthStencilFormat))
        return D3DERR_NOTAVAILABLE;
    return D3D_OK;
}

void Direct3D::fillCaps(UINT ordinal, D3DDEVTYPE type, D3DCAPS9* caps) const {
    std::memset(caps, 0, sizeof *caps);
    caps->DeviceType = type;
    caps->AdapterOrdinal = ordinal;
    caps->Caps2 = D3DCAPS2_DYNAMICTEXTURES | D3DCAPS2_CANMANAGERESOURCE;
    caps->Caps3 = D3DCAPS3_COPY_TO_VIDMEM | D3DCAPS3_COPY_TO_SYSTEMMEM;
    caps->PresentationIntervals = D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE;
    caps->CursorCaps = D3DCURSORCAPS_COLOR;
    caps->DevCaps = D3DDEVCAPS_EXECUTESYSTEMMEMORY | D3DDEVCAPS_TLVERTEXSYSTEMMEMORY | D3DDEVCAPS_TEXTURESYSTEMMEMORY |
                    D3DDEVCAPS_DRAWPRIMTLVERTEX | D3DDEVCAPS_CANRENDERAFTERFLIP | D3DDEVCAPS_DRAWPRIMITIVES2 |
                    D3DDEVCAPS_DRAWPRIMITIVES2EX | D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_PUREDEVICE;
    if (type == D3DDEVTYPE_HAL)
        caps->DevCaps |= D3DDEVCAPS_HWRASTERIZATION | D3DDEVCAPS_TEXTUREVIDEOMEMORY;
    caps->PrimitiveMiscCaps = D3DPMISCCAPS_MASKZ | D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW |
                              D3DPMISCCAPS_CULLCCW | D3DPMISCCAPS_COLORWRITEENABLE | D3DPMISCCAPS_BLENDOP;
    caps->RasterCaps = D3DPRASTERCAPS_ZTEST;
    caps->ZCmpCaps = caps->AlphaCmpCaps = 0xFF;
    caps->SrcBlendCaps = caps->DestBlendCaps = 0x1FFF;
    caps->ShadeCaps = D3DPSHADECAPS_COLORGOURAUDRGB | D3DPSHADECAPS_ALPHAGOURAUDBLEND;
    caps->TextureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_ALPHA;
    caps->TextureFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MAGFPOINT |
                              D3DPTFILTERCAPS_MAGFLINEAR;
    caps->TextureAddressCaps =
        D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP | D3DPTADDRESSCAPS_INDEPENDENTUV;
    UINT maxTexture = kRefMaxTexture;
#ifdef VL_HAVE_HAL
    if (type == D3DDEVTYPE_HAL)
        maxTexture = std::min<UINT>(halCapabilities().maxTextureSize, 8192);
#endif
    caps->MaxTextureWidth = caps->MaxTextureHeight = maxTexture;
    caps->MaxTextureRepeat = 8192;
    caps->MaxTextureAspectRatio = maxTexture;
    caps->MaxAnisotropy = 1;
    caps->MaxVertexW = 1e10f;
    caps->GuardBandLeft = caps->GuardBandTop = -8192.0f;
    caps->GuardBandRight = caps->GuardBandBottom = 8192.0f;
    caps->FVFCaps = 2;  // texture coordinate sets
    caps->TextureOpCaps = D3DTEXOPCAPS_DISABLE | D3DTEXOPCAPS_SELECTARG1 | D3DTEXOPCAPS_SELECTARG2 |
                          D3DTEXOPCAPS_MODULATE | D3DTEXOPCAPS_MODULATE2X | D3DTEXOPCAPS_MODULATE4X |
                          D3DTEXOPCAPS_ADD | D3DTEXOPCAPS_ADDSIGNED | D3DTEXOPCAPS_SUBTRACT |
                          D3DTEXOPCAPS_BLENDDIFFUSEALPHA | D3DTEXOPCAPS_BLENDTEXTUREALPHA;
    caps->MaxTextureBlendStages = caps->MaxSimultaneousTextures = kMaxTextureStages;
    caps->VertexProcessingCaps = D3DVTXPCAPS_DIRECTIONALLIGHTS | D3DVTXPCAPS_MATERIALSOURCE7;
    caps->MaxActiveLights = kMaxActiveLights;
    caps->MaxPointSize = 1.0f;
    caps->MaxPrimitiveCount = 0xFFFFF;
    caps->MaxVertexIndex = 0xFFFFF;
    caps->MaxStreams = 1;
    caps->MaxStreamStride = 255;
    caps->MasterAdapterOrdinal = ordinal;
    caps->NumberOfAdaptersInGroup = 1;
    caps->NumSimultaneousRTs = 1;
}

HRESULT Direct3D::GetDeviceCaps(UINT ordinal, D3DDEVTYPE type, D3DCAPS9* caps) {
    if (!caps)
        return D3DERR_INVALIDCALL;
    const HRESULT available = deviceTypeAvailable(ordinal, type);
    if (FAILED(available))
        return available;
    fillCaps(ordinal, type, caps);
    return D3D_OK;
}

HMONITOR Direct3D::GetAdapterMonitor(UINT ordinal) {
    return adapter(ordinal) ? reinterpret_cast<HMONITOR>(std::uintptr_t(ordinal) + 1) : nullptr;
}

HRESULT Direct3D::CreateDevice(UINT ordinal, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                               D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device) {
    if (!device)
        return D3DERR_INVALIDCALL;
    *device = nullptr;
    if (!params)
        return D3DERR_INVALIDCALL;
    const HRESULT available = deviceTypeAvailable(ordinal, type);
    if (FAILED(available))
        return available;
    const DWORD processing = behaviorFlags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING |
                                              D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_MIXED_VERTEXPROCESSING);
    if (processing != D3DCREATE_SOFTWARE_VERTEXPROCESSING && processing != D3DCREATE_HARDWARE_VERTEXPROCESSING &&
        processing != D3DCREATE_MIXED_VERTEXPROCESSING)
        return D3DERR_INVALIDCALL;
    if ((behaviorFlags & D3DCREATE_PUREDEVICE) && processing != D3DCREATE_HARDWARE_VERTEXPROCESSING)
        return D3DERR_INVALIDCALL;
    if (!params->Windowed && !focusWindow && !params->hDeviceWindow)
        return D3DERR_INVALIDCALL;

    std::unique_ptr<Backend> backend;
    if (type == D3DDEVTYPE_REF)
        backend = createRefBackend();
#ifdef VL_HAVE_HAL
    else if (type == D3DDEVTYPE_HAL)
        backend = createHalBackend();
#endif
    if (!backend)
        return D3DERR_NOTAVAILABLE;

    Device* created = nullptr;
    const HRESULT made = outOfMemoryGuard([&]() -> HRESULT {
        created = new Device(this, ordinal, type, focusWindow, behaviorFlags, std::move(backend));
        return D3D_OK;
    });
    if (FAILED(made))
        return made;
    const HRESULT hr = created->initialize(params);
    if (FAILED(hr)) {
        created->Release();
        return hr;
    }
    *device = created;
    return D3D_OK;
}

}  // namespace platform::d3d9

IDirect3D9* WINAPI Direct3DCreate9(UINT SDKVersion) {
    if (SDKVersion != 31 && SDKVersion != D3D_SDK_VERSION)
        return nullptr;
    return new platform::d3d9::Direct3D();
}
