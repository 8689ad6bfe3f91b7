// The device front end: the object, the device, its resources and state
// blocks. Everything here is the same for REF and HAL; what differs lives
// behind `Backend`.
#pragma once

#include <bitset>
#include <chrono>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#include <QEvent>
#include <QImage>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include "platform/d3d9/backend.h"
#include "platform/d3d9/d3d9.h"

namespace platform::d3d9 {

class Device;
class LossWatcher;

// One screen as the device API sees it.
struct Adapter {
    std::string name;
    D3DDISPLAYMODE desktop{};
    std::vector<D3DDISPLAYMODE> modes;  // X8R8G8B8, ascending
    QRect geometry;                     // where full-screen presentation goes
};

// Screens of the running application, or one stand-in screen when there is
// no GUI at all (headless rendering).
std::vector<Adapter> enumerateAdapters();

// Shared reference counting of everything a device creates. Public
// references are what the application holds; the first takes a reference on
// the device and the last gives it back, so a leaked resource keeps the
// device's count above 0. Bindings are the device's own holds (a texture set
// on a stage, a buffer on the stream, values kept in a state block): they
// keep the object alive but are not counted, as on the original platform.
template <class Interface>
class DeviceChild : public Interface {
public:
    explicit DeviceChild(Device* device);

    HRESULT QueryInterface(REFIID, void** object) override {
        if (object)
            *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override;

    void bind() { ++bindings_; }
    void unbind();
    Device* device() const { return device_; }

protected:
    ~DeviceChild() override = default;
    // Called once when the last public reference goes (the object may stay
    // alive a little longer through bindings).
    virtual void publicReleased() {}

    Device* device_;
    ULONG refs_ = 1;
    ULONG bindings_ = 0;
};

// No exception may leave a COM call: a failed allocation answers
// E_OUTOFMEMORY and leaves the object as it was before the call.
template <class Call>
HRESULT outOfMemoryGuard(Call&& call) noexcept {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

// The largest back buffer side either device type draws into; HAL is held
// to its own texture limit as well.
inline constexpr UINT kMaxBackBufferSide = 16384;

// The row pitch (rows padded to four bytes) and the byte size of a
// width x height store of `format`, worked out in 64 bits. False when the
// format has no storage, the pitch does not fit the INT that LockRect hands
// out, or the size does not fit memory at all.
bool storeLayout(UINT width, UINT height, D3DFORMAT format, UINT* pitch, std::size_t* size);

// Pixel storage of a surface or texture level.
struct PixelStore {
    // Throws std::bad_alloc when the store cannot be had, including a size
    // storeLayout refuses.
    void allocate(UINT width, UINT height, D3DFORMAT format);
    UINT width = 0, height = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    UINT pitch = 0;
    std::vector<BYTE> bytes;
    TextureData view;  // what backends see
};

UINT bytesPerPixel(D3DFORMAT format);  // 0 for formats the device cannot store
std::uint64_t nextResourceId();

class VertexBuffer final : public DeviceChild<IDirect3DVertexBuffer9> {
public:
    VertexBuffer(Device* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool);
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_VERTEXBUFFER; }
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override;
    HRESULT Unlock() override;
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) override;

    const VertexData& data() const { return data_; }
    D3DPOOL pool() const { return pool_; }

private:
    ~VertexBuffer() override;
    void publicReleased() override;
    std::vector<BYTE> bytes_;
    VertexData data_;
    DWORD usage_, fvf_;
    D3DPOOL pool_;
    int locks_ = 0;
};

class Texture;

class Surface final : public DeviceChild<IDirect3DSurface9> {
public:
    enum class Kind { Offscreen, BackBuffer, TextureLevel };
    Surface(Device* device, Kind kind, UINT width, UINT height, D3DFORMAT format, D3DPOOL pool);
    // A level of `texture`, sharing its storage and holding a reference on it.
    Surface(Device* device, Texture* texture, UINT level);

    ULONG AddRef() override;
    ULONG Release() override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_SURFACE; }
    HRESULT GetDesc(D3DSURFACE_DESC* desc) override;
    HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect() override;

    Kind kind() const { return kind_; }
    D3DPOOL pool() const { return pool_; }
    PixelStore* store();
    // The back buffer lives as long as its device; only the device deletes it.
    void destroyBackBuffer() { delete this; }
    void setBackBufferDesc(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE type, DWORD quality);

private:
    ~Surface() override;
    void publicReleased() override;
    Kind kind_;
    D3DPOOL pool_;
    PixelStore own_;
    Texture* texture_ = nullptr;
    UINT level_ = 0;
    D3DSURFACE_DESC desc_{};
    bool locked_ = false;
    std::vector<DWORD> backBufferCopy_;  // while a lockable back buffer is locked
};

class Texture final : public DeviceChild<IDirect3DTexture9> {
public:
    Texture(Device* device, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool);
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD GetLevelCount() override { return DWORD(levels_.size()); }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override;
    HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) override;
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect(UINT level) override;

    const TextureData& level0() const { return levels_[0].view; }
    PixelStore& level(UINT i) { return levels_[i]; }
    D3DPOOL pool() const { return pool_; }
    DWORD usage() const { return usage_; }
    void touch(UINT level) { ++levels_[level].view.version; }

private:
    ~Texture() override;
    void publicReleased() override;
    std::vector<PixelStore> levels_;
    std::vector<bool> locked_;
    DWORD usage_;
    D3DPOOL pool_;
    std::uint64_t id_;
};

struct LightSlot {
    D3DLIGHT9 light{};
    BOOL enabled = FALSE;
};

// Transform slots: VIEW, PROJECTION, TEXTURE0..7 at their own numbers, WORLD
// (256) at the end.
inline constexpr int kTransformSlots = 25;
int transformSlot(D3DTRANSFORMSTATETYPE type);  // -1 when unknown

// All settable state of a device, or the recorded part of a state block.
struct StateSet {
    D3DMATRIX transform[kTransformSlots];
    D3DVIEWPORT9 viewport{};
    D3DMATERIAL9 material{};
    std::map<DWORD, LightSlot> lights;
    DWORD renderState[kRenderStateCount];
    DWORD stageState[kMaxTextureStages][kStageStateCount];
    DWORD samplerState[kMaxTextureStages][kSamplerStateCount];
    Texture* texture[kMaxTextureStages] = {};
    DWORD fvf = 0;
    VertexBuffer* stream = nullptr;
    UINT streamOffset = 0, streamStride = 0;
};

struct StateMask {
    std::bitset<kTransformSlots> transform;
    bool viewport = false, material = false, fvf = false, stream = false, pixelShader = false;
    std::set<DWORD> lightDefinitions, lightEnables;
    std::bitset<kRenderStateCount> renderState;
    std::bitset<kMaxTextureStages * kStageStateCount> stageState;
    std::bitset<kMaxTextureStages * kSamplerStateCount> samplerState;
    std::bitset<kMaxTextureStages> texture;
};

class StateBlock final : public DeviceChild<IDirect3DStateBlock9> {
public:
    explicit StateBlock(Device* device);
    HRESULT Capture() override;
    HRESULT Apply() override;

    StateSet values;
    StateMask mask;

private:
    ~StateBlock() override;
    void publicReleased() override;
};

class Direct3D final : public IDirect3D9 {
public:
    Direct3D();
    HRESULT QueryInterface(REFIID, void** object) override {
        if (object)
            *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override;

    UINT GetAdapterCount() override;
    HRESULT GetAdapterIdentifier(UINT adapter, DWORD flags, D3DADAPTER_IDENTIFIER9* identifier) override;
    UINT GetAdapterModeCount(UINT adapter, D3DFORMAT format) override;
    HRESULT EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode, D3DDISPLAYMODE* out) override;
    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override;
    HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, D3DFORMAT backBufferFormat,
                            BOOL windowed) override;
    HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                              D3DRESOURCETYPE resourceType, D3DFORMAT format) override;
    HRESULT CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE type, D3DFORMAT surfaceFormat, BOOL windowed,
                                       D3DMULTISAMPLE_TYPE multiSample, DWORD* qualityLevels) override;
    HRESULT CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                   D3DFORMAT renderTargetFormat, D3DFORMAT depthStencilFormat) override;
    HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) override;
    HMONITOR GetAdapterMonitor(UINT adapter) override;
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                         D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device) override;

    const Adapter* adapter(UINT ordinal) const { return ordinal < adapters_.size() ? &adapters_[ordinal] : nullptr; }
    // D3D_OK, or why the device type cannot be had on this adapter.
    HRESULT deviceTypeAvailable(UINT adapter, D3DDEVTYPE type) const;
    bool depthFormatSupported(D3DDEVTYPE type, D3DFORMAT format) const;
    // Fills caps; the caller has checked availability.
    void fillCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) const;

private:
    ~Direct3D() override = default;
    ULONG refs_ = 1;
    std::vector<Adapter> adapters_;
};

class Device final : public IDirect3DDevice9 {
public:
    Device(Direct3D* d3d, UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
           std::unique_ptr<Backend> backend);
    // Applies the presentation parameters; the device is unusable on failure.
    HRESULT initialize(D3DPRESENT_PARAMETERS* params);

    HRESULT QueryInterface(REFIID, void** object) override {
        if (object)
            *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override;

    HRESULT TestCooperativeLevel() override;
    HRESULT GetDirect3D(IDirect3D9** d3d) override;
    HRESULT GetDeviceCaps(D3DCAPS9* caps) override;
    HRESULT GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) override;
    HRESULT SetCursorProperties(UINT hotX, UINT hotY, IDirect3DSurface9* bitmap) override;
    void SetCursorPosition(int x, int y, DWORD flags) override;
    BOOL ShowCursor(BOOL show) override;
    HRESULT Reset(D3DPRESENT_PARAMETERS* params) override;
    HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                    const RGNDATA* dirtyRegion) override;
    HRESULT GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface9** surface) override;
    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          IDirect3DTexture9** texture, HANDLE* sharedHandle) override;
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** buffer,
                               HANDLE* sharedHandle) override;
    HRESULT UpdateSurface(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                          const POINT* destPoint) override;
    HRESULT GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* dest) override;
    HRESULT CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                        IDirect3DSurface9** surface, HANDLE* sharedHandle) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
    HRESULT SetViewport(const D3DVIEWPORT9* viewport) override;
    HRESULT GetViewport(D3DVIEWPORT9* viewport) override;
    HRESULT SetMaterial(const D3DMATERIAL9* material) override;
    HRESULT GetMaterial(D3DMATERIAL9* material) override;
    HRESULT SetLight(DWORD index, const D3DLIGHT9* light) override;
    HRESULT GetLight(DWORD index, D3DLIGHT9* light) override;
    HRESULT LightEnable(DWORD index, BOOL enable) override;
    HRESULT GetLightEnable(DWORD index, BOOL* enable) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
    HRESULT BeginStateBlock() override;
    HRESULT EndStateBlock(IDirect3DStateBlock9** block) override;
    HRESULT GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) override;
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override;
    HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) override;
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override;
    HRESULT SetFVF(DWORD fvf) override;
    HRESULT GetFVF(DWORD* fvf) override;
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) override;
    HRESULT GetStreamSource(UINT stream, IDirect3DVertexBuffer9** buffer, UINT* offset, UINT* stride) override;
    HRESULT SetPixelShader(IDirect3DPixelShader9* shader) override;
    HRESULT GetPixelShader(IDirect3DPixelShader9** shader) override;

    // Bookkeeping for children.
    void resourceCreated(D3DPOOL pool);
    void resourceReleased(D3DPOOL pool, std::uint64_t backendId);
    void stateBlockCreated() { ++liveStateBlocks_; }
    void stateBlockReleased() { --liveStateBlocks_; }
    void backBufferReferenced(bool held) { backBufferHeld_ = held; }
    Backend& backend() { return *backend_; }
    const D3DPRESENT_PARAMETERS& presentation() const { return params_; }
    StateSet& state() { return state_; }

    // Sets one piece of state on the device, keeping bindings right; used by
    // the Set* calls and by state blocks.
    void assignTexture(StateSet& target, DWORD stage, Texture* texture);
    void assignStream(StateSet& target, VertexBuffer* buffer, UINT offset, UINT stride);

    // Called by the loss watcher.
    void focusLost();
    void focusRegained();

private:
    ~Device() override;
    void resetState();
    void releaseBindings(StateSet& set);
    HRESULT applyPresentation(D3DPRESENT_PARAMETERS* params);
    void enterFullscreen();
    void leaveFullscreen();
    RenderSurface* targetSurface(HWND override) const;
    void applyCursor();
    FixedFunctionState snapshot() const;

    ULONG refs_ = 1;
    Direct3D* d3d_;
    UINT adapter_;
    D3DDEVTYPE type_;
    HWND focusWindow_;
    DWORD behaviorFlags_;
    std::unique_ptr<Backend> backend_;
    D3DPRESENT_PARAMETERS params_{};
    Surface* backBuffer_ = nullptr;
    bool backBufferHeld_ = false;

    StateSet state_;
    StateBlock* recording_ = nullptr;
    bool inScene_ = false;

    int liveDefaultPool_ = 0;
    int liveStateBlocks_ = 0;

    // Full-screen presentation and device loss.
    QPointer<QWidget> fullscreenWindow_;
    std::unique_ptr<LossWatcher> watcher_;
    bool lost_ = false;
    bool focused_ = true;

    // The hardware-style cursor.
    QImage cursorImage_;
    QPoint cursorHotSpot_;
    bool cursorShown_ = false;
    QPointer<QWidget> cursorWidget_;

    std::chrono::steady_clock::time_point lastPresent_{};
};

// Watches the full-screen window: losing activation (or being minimised)
// loses the device, getting it back lets the application reset.
class LossWatcher : public QObject {
public:
    explicit LossWatcher(Device* device) : device_(device) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::WindowDeactivate: device_->focusLost(); break;
        case QEvent::WindowActivate: device_->focusRegained(); break;
        case QEvent::WindowStateChange: {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (widget && widget->isMinimized())
                device_->focusLost();
            break;
        }
        default: break;
        }
        return false;
    }

private:
    Device* device_;
};

}  // namespace platform::d3d9
