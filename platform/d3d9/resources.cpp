#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <new>

#include "platform/d3d9/device.h"

namespace platform::d3d9 {

// ---------------------------------------------------------------- reference counting

template <class Interface>
DeviceChild<Interface>::DeviceChild(Device* device) : device_(device) {
    device_->AddRef();
}

template <class Interface>
ULONG DeviceChild<Interface>::AddRef() {
    if (refs_++ == 0)
        device_->AddRef();
    return refs_;
}

template <class Interface>
ULONG DeviceChild<Interface>::Release() {
    if (refs_ == 0)
        return 0;
    const ULONG remaining = --refs_;
    if (remaining == 0) {
        Device* device = device_;
        publicReleased();
        if (bindings_ == 0)
            delete this;
        device->Release();
    }
    return remaining;
}

template <class Interface>
void DeviceChild<Interface>::unbind() {
    if (--bindings_ == 0 && refs_ == 0)
        delete this;
}

template <class Interface>
HRESULT DeviceChild<Interface>::GetDevice(IDirect3DDevice9** device) {
    if (!device)
        return D3DERR_INVALIDCALL;
    device_->AddRef();
    *device = device_;
    return D3D_OK;
}

template class DeviceChild<IDirect3DVertexBuffer9>;
template class DeviceChild<IDirect3DSurface9>;
template class DeviceChild<IDirect3DTexture9>;
template class DeviceChild<IDirect3DStateBlock9>;

// ---------------------------------------------------------------- pixels

UINT bytesPerPixel(D3DFORMAT format) {
    switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8: return 4;
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4:
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5: return 2;
    default: return 0;
    }
}

std::uint64_t nextResourceId() {
    static std::atomic<std::uint64_t> next{1};
    return next++;
}

bool storeLayout(UINT width, UINT height, D3DFORMAT format, UINT* pitch, std::size_t* size) {
    const std::uint64_t bpp = bytesPerPixel(format);
    if (!bpp)
        return false;
    // At most 2^32 * 4 + 3: no 64-bit product can wrap here.
    const std::uint64_t row = (std::uint64_t(width) * bpp + 3) & ~std::uint64_t(3);
    std::uint64_t total = 0;
    if (row > std::uint64_t(std::numeric_limits<INT>::max()) || __builtin_mul_overflow(row, std::uint64_t(height), &total) ||
        total > std::uint64_t(std::numeric_limits<std::ptrdiff_t>::max()))
        return false;
    *pitch = UINT(row);
    *size = std::size_t(total);
    return true;
}

void PixelStore::allocate(UINT w, UINT h, D3DFORMAT f) {
    UINT rowPitch = 0;
    std::size_t size = 0;
    if (!storeLayout(w, h, f, &rowPitch, &size))
        throw std::bad_alloc();
    bytes.assign(size, 0);
    width = w;
    height = h;
    format = f;
    pitch = rowPitch;
    view.width = w;
    view.height = h;
    view.format = f;
    view.pitch = pitch;
    view.bits = bytes.data();
    view.id = nextResourceId();
    view.version = 1;
}

namespace {

// Shared checks and pointer arithmetic of LockRect.
HRESULT lockStore(PixelStore& store, D3DLOCKED_RECT* locked, const RECT* rect) {
    if (!locked)
        return D3DERR_INVALIDCALL;
    LONG left = 0, top = 0;
    if (rect) {
        if (rect->left < 0 || rect->top < 0 || rect->right > LONG(store.width) || rect->bottom > LONG(store.height) ||
            rect->left >= rect->right || rect->top >= rect->bottom)
            return D3DERR_INVALIDCALL;
        left = rect->left;
        top = rect->top;
    }
    locked->Pitch = INT(store.pitch);
    locked->pBits = store.bytes.data() + size_t(top) * store.pitch + size_t(left) * bytesPerPixel(store.format);
    return D3D_OK;
}

}  // namespace

// ---------------------------------------------------------------- vertex buffers

// A constructor that cannot get its memory gives back the device reference
// its base took, so that the failed creation leaves the device as it was.
VertexBuffer::VertexBuffer(Device* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool) try
    : DeviceChild(device), bytes_(length), usage_(usage), fvf_(fvf), pool_(pool) {
    data_.bytes = bytes_.data();
    data_.size = length;
    data_.id = nextResourceId();
    data_.version = 1;
    device->resourceCreated(pool);
} catch (...) {
    device->Release();
}

VertexBuffer::~VertexBuffer() { device_->backend().forget(data_.id); }

void VertexBuffer::publicReleased() { device_->resourceReleased(pool_, 0); }

HRESULT VertexBuffer::Lock(UINT offset, UINT size, void** data, DWORD) {
    if (!data)
        return D3DERR_INVALIDCALL;
    if (size == 0)
        size = offset <= data_.size ? data_.size - offset : 0;
    if (offset > data_.size || size > data_.size - offset) {
        *data = nullptr;
        return D3DERR_INVALIDCALL;
    }
    // Nothing reads the bytes behind our back, so a discarding lock can hand
    // out the same memory.
    ++locks_;
    *data = bytes_.data() + offset;
    return D3D_OK;
}

HRESULT VertexBuffer::Unlock() {
    if (locks_ == 0)
        return D3DERR_INVALIDCALL;
    --locks_;
    ++data_.version;
    return D3D_OK;
}

HRESULT VertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* desc) {
    if (!desc)
        return D3DERR_INVALIDCALL;
    desc->Format = D3DFMT_VERTEXDATA;
    desc->Type = D3DRTYPE_VERTEXBUFFER;
    desc->Usage = usage_;
    desc->Pool = pool_;
    desc->Size = data_.size;
    desc->FVF = fvf_;
    return D3D_OK;
}

// ---------------------------------------------------------------- surfaces

Surface::Surface(Device* device, Kind kind, UINT width, UINT height, D3DFORMAT format, D3DPOOL pool) try
    : DeviceChild(device), kind_(kind), pool_(pool) {
    desc_.Format = format;
    desc_.Type = D3DRTYPE_SURFACE;
    desc_.Pool = pool;
    desc_.Width = width;
    desc_.Height = height;
    if (kind == Kind::BackBuffer) {
        // The swap chain owns the back buffer; it has no outside reference
        // until GetBackBuffer hands one out.
        refs_ = 0;
        device->Release();
        desc_.Usage = D3DUSAGE_RENDERTARGET;
    } else {
        own_.allocate(width, height, format);
        device->resourceCreated(pool);
    }
} catch (...) {
    device->Release();
}

Surface::Surface(Device* device, Texture* texture, UINT level)
    : DeviceChild(device), kind_(Kind::TextureLevel), pool_(texture->pool()), texture_(texture), level_(level) {
    texture->AddRef();
    texture->GetLevelDesc(level, &desc_);
}

Surface::~Surface() {
    if (kind_ == Kind::Offscreen)
        device_->backend().forget(own_.view.id);
}

void Surface::publicReleased() {
    if (kind_ == Kind::Offscreen)
        device_->resourceReleased(pool_, 0);
    if (texture_) {
        texture_->Release();
        texture_ = nullptr;
    }
}

ULONG Surface::AddRef() {
    if (kind_ != Kind::BackBuffer)
        return DeviceChild::AddRef();
    if (refs_++ == 0) {
        device_->AddRef();
        device_->backBufferReferenced(true);
    }
    return refs_;
}

ULONG Surface::Release() {
    if (kind_ != Kind::BackBuffer)
        return DeviceChild::Release();
    if (refs_ == 0)
        return 0;
    const ULONG remaining = --refs_;
    if (remaining == 0) {
        Device* device = device_;
        device->backBufferReferenced(false);
        device->Release();
    }
    return remaining;
}

void Surface::setBackBufferDesc(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE type, DWORD quality) {
    desc_.Width = width;
    desc_.Height = height;
    desc_.Format = format;
    desc_.MultiSampleType = type;
    desc_.MultiSampleQuality = quality;
}

PixelStore* Surface::store() {
    switch (kind_) {
    case Kind::Offscreen: return &own_;
    case Kind::TextureLevel: return texture_ ? &texture_->level(level_) : nullptr;
    default: return nullptr;
    }
}

HRESULT Surface::GetDesc(D3DSURFACE_DESC* desc) {
    if (!desc)
        return D3DERR_INVALIDCALL;
    *desc = desc_;
    return D3D_OK;
}

HRESULT Surface::LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD) {
    if (!locked || locked_)
        return D3DERR_INVALIDCALL;
    if (kind_ == Kind::BackBuffer) {
        if (!(device_->presentation().Flags & D3DPRESENTFLAG_LOCKABLE_BACKBUFFER))
            return D3DERR_INVALIDCALL;
        PixelStore copy;
        const HRESULT allocated =
            outOfMemoryGuard([&]() -> HRESULT {
                copy.allocate(desc_.Width, desc_.Height, desc_.Format);
                return D3D_OK;
            });
        if (FAILED(allocated))
            return allocated;
        const HRESULT read = device_->backend().readBackBuffer(reinterpret_cast<DWORD*>(copy.bytes.data()), copy.pitch);
        if (FAILED(read))
            return read;
        own_ = std::move(copy);
        const HRESULT hr = lockStore(own_, locked, rect);
        locked_ = SUCCEEDED(hr);
        return hr;
    }
    if (kind_ == Kind::TextureLevel)
        return texture_ ? texture_->LockRect(level_, locked, rect, 0) : D3DERR_INVALIDCALL;
    const HRESULT hr = lockStore(own_, locked, rect);
    locked_ = SUCCEEDED(hr);
    return hr;
}

HRESULT Surface::UnlockRect() {
    if (kind_ == Kind::TextureLevel)
        return texture_ ? texture_->UnlockRect(level_) : D3DERR_INVALIDCALL;
    if (!locked_)
        return D3DERR_INVALIDCALL;
    locked_ = false;
    if (kind_ == Kind::BackBuffer) {
        const RECT all = {0, 0, LONG(own_.width), LONG(own_.height)};
        const HRESULT written =
            device_->backend().writeBackBuffer(all, reinterpret_cast<const DWORD*>(own_.bytes.data()), own_.pitch);
        own_ = PixelStore();
        return written;
    } else {
        ++own_.view.version;
    }
    return D3D_OK;
}

// ---------------------------------------------------------------- textures

Texture::Texture(Device* device, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                 D3DPOOL pool) try : DeviceChild(device), usage_(usage), pool_(pool), id_(0) {
    UINT w = width, h = height;
    UINT full = 1;
    while (w > 1 || h > 1) {
        w = std::max(1u, w / 2);
        h = std::max(1u, h / 2);
        ++full;
    }
    if (levels == 0 || levels > full)
        levels = full;
    levels_.resize(levels);
    locked_.assign(levels, false);
    w = width;
    h = height;
    for (UINT i = 0; i < levels; ++i) {
        levels_[i].allocate(w, h, format);
        w = std::max(1u, w / 2);
        h = std::max(1u, h / 2);
    }
    id_ = levels_[0].view.id;
    device->resourceCreated(pool);
} catch (...) {
    device->Release();
}

Texture::~Texture() {
    for (const PixelStore& level : levels_)
        device_->backend().forget(level.view.id);
}

void Texture::publicReleased() { device_->resourceReleased(pool_, 0); }

HRESULT Texture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) {
    if (!desc || level >= levels_.size())
        return D3DERR_INVALIDCALL;
    desc->Format = levels_[level].format;
    desc->Type = D3DRTYPE_SURFACE;
    desc->Usage = usage_;
    desc->Pool = pool_;
    desc->MultiSampleType = D3DMULTISAMPLE_NONE;
    desc->MultiSampleQuality = 0;
    desc->Width = levels_[level].width;
    desc->Height = levels_[level].height;
    return D3D_OK;
}

HRESULT Texture::GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) {
    if (!surface || level >= levels_.size())
        return D3DERR_INVALIDCALL;
    return outOfMemoryGuard([&] {
        *surface = new Surface(device_, this, level);
        return D3D_OK;
    });
}

HRESULT Texture::LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD) {
    if (level >= levels_.size() || locked_[level])
        return D3DERR_INVALIDCALL;
    // Default-pool textures live where the processor cannot reach them,
    // unless they were made dynamic.
    if (pool_ == D3DPOOL_DEFAULT && !(usage_ & D3DUSAGE_DYNAMIC))
        return D3DERR_INVALIDCALL;
    const HRESULT hr = lockStore(levels_[level], locked, rect);
    if (SUCCEEDED(hr))
        locked_[level] = true;
    return hr;
}

HRESULT Texture::UnlockRect(UINT level) {
    if (level >= levels_.size() || !locked_[level])
        return D3DERR_INVALIDCALL;
    locked_[level] = false;
    touch(level);
    return D3D_OK;
}

// ---------------------------------------------------------------- state blocks

StateBlock::StateBlock(Device* device) : DeviceChild(device) {
    std::memset(values.renderState, 0, sizeof values.renderState);
    std::memset(values.stageState, 0, sizeof values.stageState);
    std::memset(values.samplerState, 0, sizeof values.samplerState);
    device->stateBlockCreated();
}

StateBlock::~StateBlock() {
    for (DWORD stage = 0; stage < DWORD(kMaxTextureStages); ++stage)
        device_->assignTexture(values, stage, nullptr);
    device_->assignStream(values, nullptr, 0, 0);
}

void StateBlock::publicReleased() { device_->stateBlockReleased(); }

HRESULT StateBlock::Capture() {
    StateSet& now = device_->state();
    for (int i = 0; i < kTransformSlots; ++i)
        if (mask.transform[i])
            values.transform[i] = now.transform[i];
    if (mask.viewport)
        values.viewport = now.viewport;
    if (mask.material)
        values.material = now.material;
    for (DWORD index : mask.lightDefinitions) {
        auto it = now.lights.find(index);
        if (it != now.lights.end())
            values.lights[index].light = it->second.light;
    }
    for (DWORD index : mask.lightEnables) {
        auto it = now.lights.find(index);
        values.lights[index].enabled = it != now.lights.end() && it->second.enabled;
    }
    for (int i = 0; i < kRenderStateCount; ++i)
        if (mask.renderState[i])
            values.renderState[i] = now.renderState[i];
    for (int s = 0; s < kMaxTextureStages; ++s) {
        for (int t = 0; t < kStageStateCount; ++t)
            if (mask.stageState[s * kStageStateCount + t])
                values.stageState[s][t] = now.stageState[s][t];
        for (int t = 0; t < kSamplerStateCount; ++t)
            if (mask.samplerState[s * kSamplerStateCount + t])
                values.samplerState[s][t] = now.samplerState[s][t];
        if (mask.texture[s])
            device_->assignTexture(values, DWORD(s), now.texture[s]);
    }
    if (mask.fvf)
        values.fvf = now.fvf;
    if (mask.stream)
        device_->assignStream(values, now.stream, now.streamOffset, now.streamStride);
    return D3D_OK;
}

HRESULT StateBlock::Apply() {
    for (int i = 0; i < kTransformSlots; ++i)
        if (mask.transform[i])
            device_->SetTransform(D3DTRANSFORMSTATETYPE(i == kTransformSlots - 1 ? 256 : i), &values.transform[i]);
    if (mask.viewport)
        device_->SetViewport(&values.viewport);
    if (mask.material)
        device_->SetMaterial(&values.material);
    for (DWORD index : mask.lightDefinitions)
        device_->SetLight(index, &values.lights[index].light);
    for (DWORD index : mask.lightEnables)
        device_->LightEnable(index, values.lights[index].enabled);
    for (int i = 0; i < kRenderStateCount; ++i)
        if (mask.renderState[i])
            device_->SetRenderState(D3DRENDERSTATETYPE(i), values.renderState[i]);
    for (int s = 0; s < kMaxTextureStages; ++s) {
        for (int t = 0; t < kStageStateCount; ++t)
            if (mask.stageState[s * kStageStateCount + t])
                device_->SetTextureStageState(DWORD(s), D3DTEXTURESTAGESTATETYPE(t), values.stageState[s][t]);
        for (int t = 0; t < kSamplerStateCount; ++t)
            if (mask.samplerState[s * kSamplerStateCount + t])
                device_->SetSamplerState(DWORD(s), D3DSAMPLERSTATETYPE(t), values.samplerState[s][t]);
        if (mask.texture[s])
            device_->SetTexture(DWORD(s), values.texture[s]);
    }
    if (mask.fvf)
        device_->SetFVF(values.fvf);
    if (mask.stream)
        device_->SetStreamSource(0, values.stream, values.streamOffset, values.streamStride);
    if (mask.pixelShader)
        device_->SetPixelShader(nullptr);
    return D3D_OK;
}

}  // namespace platform::d3d9
