#include "platform/d3d9/device.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "platform/common/render_surface.h"

namespace platform::d3d9 {

namespace {

DWORD floatBits(float f) { return std::bit_cast<DWORD>(f); }

D3DMATRIX identity() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

bool validLightIndex(DWORD index) { return index < 0x10000; }

}  // namespace

int transformSlot(D3DTRANSFORMSTATETYPE type) {
    const DWORD t = DWORD(type);
    if (t == D3DTS_VIEW || t == D3DTS_PROJECTION || (t >= D3DTS_TEXTURE0 && t <= D3DTS_TEXTURE7))
        return int(t);
    if (t == 256)
        return kTransformSlots - 1;
    return -1;
}

Device::Device(Direct3D* d3d, UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
               std::unique_ptr<Backend> backend)
    : d3d_(d3d),
      adapter_(adapter),
      type_(type),
      focusWindow_(focusWindow),
      behaviorFlags_(behaviorFlags),
      backend_(std::move(backend)) {
    d3d_->AddRef();
    std::memset(state_.renderState, 0, sizeof state_.renderState);
    std::memset(state_.stageState, 0, sizeof state_.stageState);
    std::memset(state_.samplerState, 0, sizeof state_.samplerState);
}

Device::~Device() {
    leaveFullscreen();
    if (cursorWidget_)
        cursorWidget_->unsetCursor();
    releaseBindings(state_);
    if (backBuffer_)
        backBuffer_->destroyBackBuffer();
    backend_.reset();
    d3d_->Release();
}

ULONG Device::Release() {
    if (refs_ == 0)
        return 0;
    const ULONG remaining = --refs_;
    if (remaining == 0)
        delete this;
    return remaining;
}

HRESULT Device::initialize(D3DPRESENT_PARAMETERS* params) {
    const HRESULT hr = outOfMemoryGuard([&] { return applyPresentation(params); });
    if (FAILED(hr))
        return hr;
    resetState();
    return D3D_OK;
}

// ---------------------------------------------------------------- state

void Device::releaseBindings(StateSet& set) {
    for (DWORD stage = 0; stage < DWORD(kMaxTextureStages); ++stage)
        assignTexture(set, stage, nullptr);
    assignStream(set, nullptr, 0, 0);
}

void Device::assignTexture(StateSet& target, DWORD stage, Texture* texture) {
    Texture* old = target.texture[stage];
    if (old == texture)
        return;
    if (texture)
        texture->bind();
    target.texture[stage] = texture;
    if (old)
        old->unbind();
}

void Device::assignStream(StateSet& target, VertexBuffer* buffer, UINT offset, UINT stride) {
    VertexBuffer* old = target.stream;
    if (buffer)
        buffer->bind();
    target.stream = buffer;
    target.streamOffset = offset;
    target.streamStride = stride;
    if (old)
        old->unbind();
}

void Device::resetState() {
    releaseBindings(state_);
    for (D3DMATRIX& m : state_.transform)
        m = identity();
    state_.viewport = {0, 0, params_.BackBufferWidth, params_.BackBufferHeight, 0.0f, 1.0f};
    state_.material = D3DMATERIAL9{};
    state_.lights.clear();
    state_.fvf = 0;

    DWORD* rs = state_.renderState;
    std::memset(rs, 0, sizeof state_.renderState);
    rs[D3DRS_ZENABLE] = params_.EnableAutoDepthStencil ? D3DZB_TRUE : D3DZB_FALSE;
    rs[D3DRS_FILLMODE] = D3DFILL_SOLID;
    rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    rs[D3DRS_ZWRITEENABLE] = TRUE;
    rs[D3DRS_LASTPIXEL] = TRUE;
    rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    rs[D3DRS_CULLMODE] = D3DCULL_CCW;
    rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_FOGEND] = floatBits(1.0f);
    rs[D3DRS_FOGDENSITY] = floatBits(1.0f);
    rs[D3DRS_STENCILFAIL] = rs[D3DRS_STENCILZFAIL] = rs[D3DRS_STENCILPASS] = D3DSTENCILOP_KEEP;
    rs[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_STENCILMASK] = rs[D3DRS_STENCILWRITEMASK] = 0xFFFFFFFF;
    rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
    rs[D3DRS_CLIPPING] = TRUE;
    rs[D3DRS_LIGHTING] = TRUE;
    rs[D3DRS_COLORVERTEX] = TRUE;
    rs[D3DRS_LOCALVIEWER] = TRUE;
    rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
    rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
    rs[D3DRS_AMBIENTMATERIALSOURCE] = D3DMCS_MATERIAL;
    rs[D3DRS_EMISSIVEMATERIALSOURCE] = D3DMCS_MATERIAL;
    rs[D3DRS_POINTSIZE] = rs[D3DRS_POINTSIZE_MIN] = floatBits(1.0f);
    rs[D3DRS_POINTSCALE_A] = floatBits(1.0f);
    rs[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
    rs[D3DRS_MULTISAMPLEMASK] = 0xFFFFFFFF;
    rs[D3DRS_POINTSIZE_MAX] = floatBits(64.0f);
    rs[D3DRS_COLORWRITEENABLE] = rs[D3DRS_COLORWRITEENABLE1] = rs[D3DRS_COLORWRITEENABLE2] =
        rs[D3DRS_COLORWRITEENABLE3] = 0x0F;
    rs[D3DRS_BLENDOP] = rs[D3DRS_BLENDOPALPHA] = D3DBLENDOP_ADD;
    rs[D3DRS_POSITIONDEGREE] = 3;
    rs[D3DRS_NORMALDEGREE] = 1;
    rs[D3DRS_MINTESSELLATIONLEVEL] = rs[D3DRS_MAXTESSELLATIONLEVEL] = floatBits(1.0f);
    rs[D3DRS_ADAPTIVETESS_Z] = floatBits(1.0f);
    rs[D3DRS_CCW_STENCILFAIL] = rs[D3DRS_CCW_STENCILZFAIL] = rs[D3DRS_CCW_STENCILPASS] = D3DSTENCILOP_KEEP;
    rs[D3DRS_CCW_STENCILFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_BLENDFACTOR] = 0xFFFFFFFF;
    rs[D3DRS_SRCBLENDALPHA] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLENDALPHA] = D3DBLEND_ZERO;

    for (int s = 0; s < kMaxTextureStages; ++s) {
        DWORD* ts = state_.stageState[s];
        std::memset(ts, 0, sizeof state_.stageState[s]);
        ts[D3DTSS_COLOROP] = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        ts[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
        ts[D3DTSS_COLORARG2] = D3DTA_CURRENT;
        ts[D3DTSS_ALPHAOP] = s == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        ts[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        ts[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        ts[D3DTSS_TEXCOORDINDEX] = DWORD(s);
        ts[D3DTSS_COLORARG0] = ts[D3DTSS_ALPHAARG0] = ts[D3DTSS_RESULTARG] = D3DTA_CURRENT;
        DWORD* ss = state_.samplerState[s];
        std::memset(ss, 0, sizeof state_.samplerState[s]);
        ss[D3DSAMP_ADDRESSU] = ss[D3DSAMP_ADDRESSV] = ss[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
        ss[D3DSAMP_MAGFILTER] = ss[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
        ss[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
        ss[D3DSAMP_MAXANISOTROPY] = 1;
    }
}

FixedFunctionState Device::snapshot() const {
    FixedFunctionState s;
    s.world = state_.transform[kTransformSlots - 1];
    s.view = state_.transform[D3DTS_VIEW];
    s.projection = state_.transform[D3DTS_PROJECTION];
    s.viewport = state_.viewport;
    s.material = state_.material;
    s.lightCount = 0;
    for (const auto& [index, slot] : state_.lights)
        if (slot.enabled && s.lightCount < UINT(kMaxActiveLights))
            s.lights[s.lightCount++] = slot.light;
    std::memcpy(s.renderState, state_.renderState, sizeof s.renderState);
    std::memcpy(s.stageState, state_.stageState, sizeof s.stageState);
    std::memcpy(s.samplerState, state_.samplerState, sizeof s.samplerState);
    bool ended = false;
    for (int i = 0; i < kMaxTextureStages; ++i) {
        Texture* texture = state_.texture[i];
        s.texture[i] = texture ? &texture->level0() : nullptr;
        DWORD* ts = s.stageState[i];
        if (!ended && (ts[D3DTSS_COLOROP] == D3DTOP_DISABLE ||
                       (!texture && (ts[D3DTSS_COLORARG1] & D3DTA_SELECTMASK) == D3DTA_TEXTURE)))
            ended = true;
        if (ended) {
            ts[D3DTSS_COLOROP] = D3DTOP_DISABLE;
            continue;
        }
        if (!texture && (ts[D3DTSS_ALPHAARG1] & D3DTA_SELECTMASK) == D3DTA_TEXTURE)
            ts[D3DTSS_ALPHAARG1] = D3DTA_CURRENT;
    }
    return s;
}

// ---------------------------------------------------------------- resources

void Device::resourceCreated(D3DPOOL pool) {
    if (pool == D3DPOOL_DEFAULT)
        ++liveDefaultPool_;
}

void Device::resourceReleased(D3DPOOL pool, std::uint64_t) {
    if (pool == D3DPOOL_DEFAULT)
        --liveDefaultPool_;
}

HRESULT Device::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DTexture9** texture, HANDLE* sharedHandle) {
    if (!texture)
        return D3DERR_INVALIDCALL;
    *texture = nullptr;
    D3DCAPS9 caps;
    d3d_->fillCaps(adapter_, type_, &caps);
    if (sharedHandle || width == 0 || height == 0 || width > caps.MaxTextureWidth || height > caps.MaxTextureHeight ||
        !bytesPerPixel(format) || pool > D3DPOOL_SCRATCH ||
        (usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL | D3DUSAGE_AUTOGENMIPMAP)))
        return D3DERR_INVALIDCALL;
    if ((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED)
        return D3DERR_INVALIDCALL;
    return outOfMemoryGuard([&]() -> HRESULT {
        *texture = new Texture(this, width, height, levels, usage, format, pool);
        return D3D_OK;
    });
}

HRESULT Device::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                   IDirect3DVertexBuffer9** buffer, HANDLE* sharedHandle) {
    if (!buffer)
        return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (sharedHandle || length == 0 || pool == D3DPOOL_SCRATCH || pool > D3DPOOL_SCRATCH)
        return D3DERR_INVALIDCALL;
    if ((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED)
        return D3DERR_INVALIDCALL;
    // No draw can use more than the largest vertex index times the widest
    // stride, so no buffer needs to be larger.
    D3DCAPS9 caps;
    d3d_->fillCaps(adapter_, type_, &caps);
    if (std::uint64_t(length) > (std::uint64_t(caps.MaxVertexIndex) + 1) * caps.MaxStreamStride)
        return D3DERR_INVALIDCALL;
    return outOfMemoryGuard([&]() -> HRESULT {
        *buffer = new VertexBuffer(this, length, usage, fvf, pool);
        return D3D_OK;
    });
}

HRESULT Device::CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                            IDirect3DSurface9** surface, HANDLE* sharedHandle) {
    if (!surface)
        return D3DERR_INVALIDCALL;
    *surface = nullptr;
    // Plain surfaces are held to the texture limits: they feed textures and
    // the back buffer, and nothing larger could be drawn or shown.
    D3DCAPS9 caps;
    d3d_->fillCaps(adapter_, type_, &caps);
    if (sharedHandle || width == 0 || height == 0 || width > caps.MaxTextureWidth || height > caps.MaxTextureHeight ||
        !bytesPerPixel(format) || pool == D3DPOOL_MANAGED || pool > D3DPOOL_SCRATCH)
        return D3DERR_INVALIDCALL;
    return outOfMemoryGuard([&]() -> HRESULT {
        *surface = new Surface(this, Surface::Kind::Offscreen, width, height, format, pool);
        return D3D_OK;
    });
}

HRESULT Device::UpdateSurface(IDirect3DSurface9* sourceSurface, const RECT* sourceRect, IDirect3DSurface9* destSurface,
                              const POINT* destPoint) {
    auto* source = dynamic_cast<Surface*>(sourceSurface);
    auto* dest = dynamic_cast<Surface*>(destSurface);
    if (!source || !dest || source->device() != this || dest->device() != this || source == dest)
        return D3DERR_INVALIDCALL;
    PixelStore* from = source->store();
    D3DSURFACE_DESC destDesc;
    dest->GetDesc(&destDesc);
    if (!from || destDesc.Pool != D3DPOOL_DEFAULT || from->format != destDesc.Format)
        return D3DERR_INVALIDCALL;
    RECT r = sourceRect ? *sourceRect : RECT{0, 0, LONG(from->width), LONG(from->height)};
    const POINT at = destPoint ? *destPoint : POINT{r.left, r.top};
    const LONG w = r.right - r.left, h = r.bottom - r.top;
    if (r.left < 0 || r.top < 0 || w <= 0 || h <= 0 || r.right > LONG(from->width) || r.bottom > LONG(from->height) ||
        at.x < 0 || at.y < 0 || at.x + w > LONG(destDesc.Width) || at.y + h > LONG(destDesc.Height))
        return D3DERR_INVALIDCALL;
    const UINT bpp = bytesPerPixel(from->format);
    const BYTE* src = from->bytes.data() + size_t(r.top) * from->pitch + size_t(r.left) * bpp;
    if (dest->kind() == Surface::Kind::BackBuffer) {
        const RECT target = {at.x, at.y, at.x + w, at.y + h};
        return backend_->writeBackBuffer(target, reinterpret_cast<const DWORD*>(src), from->pitch);
    }
    PixelStore* to = dest->store();
    if (!to)
        return D3DERR_INVALIDCALL;
    for (LONG y = 0; y < h; ++y)
        std::memcpy(to->bytes.data() + size_t(at.y + y) * to->pitch + size_t(at.x) * bpp,
                    src + size_t(y) * from->pitch, size_t(w) * bpp);
    ++to->view.version;
    return D3D_OK;
}

HRESULT Device::GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* destSurface) {
    auto* dest = dynamic_cast<Surface*>(destSurface);
    if (renderTarget != backBuffer_ || !dest || dest->device() != this || dest->kind() != Surface::Kind::Offscreen ||
        dest->pool() == D3DPOOL_DEFAULT)
        return D3DERR_INVALIDCALL;
    PixelStore* to = dest->store();
    if (to->width != params_.BackBufferWidth || to->height != params_.BackBufferHeight ||
        bytesPerPixel(to->format) != 4)
        return D3DERR_INVALIDCALL;
    const HRESULT read = backend_->readBackBuffer(reinterpret_cast<DWORD*>(to->bytes.data()), to->pitch);
    if (FAILED(read))
        return read;
    ++to->view.version;
    return D3D_OK;
}

// ---------------------------------------------------------------- drawing

HRESULT Device::BeginScene() {
    if (inScene_)
        return D3DERR_INVALIDCALL;
    inScene_ = true;
    return D3D_OK;
}

HRESULT Device::EndScene() {
    if (!inScene_)
        return D3DERR_INVALIDCALL;
    inScene_ = false;
    return D3D_OK;
}

HRESULT Device::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) {
    if ((count > 0 && !rects) || (flags & ~DWORD(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)))
        return D3DERR_INVALIDCALL;
    const bool hasDepth = params_.EnableAutoDepthStencil != FALSE;
    const bool hasStencil = hasDepth && params_.AutoDepthStencilFormat == D3DFMT_D24S8;
    if (((flags & D3DCLEAR_ZBUFFER) && !hasDepth) || ((flags & D3DCLEAR_STENCIL) && !hasStencil))
        return D3DERR_INVALIDCALL;
    const D3DVIEWPORT9& vp = state_.viewport;
    const LONG vx1 = LONG(vp.X), vy1 = LONG(vp.Y);
    const LONG vx2 = std::min(LONG(vp.X + vp.Width), LONG(params_.BackBufferWidth));
    const LONG vy2 = std::min(LONG(vp.Y + vp.Height), LONG(params_.BackBufferHeight));
    // No rectangles: the viewport, as D3D9 clears, without an allocation per
    // frame.
    if (count == 0) {
        const D3DRECT viewport = {vx1, vy1, vx2, vy2};
        return backend_->clear(flags, &viewport, 1, color, std::clamp(z, 0.0f, 1.0f), stencil);
    }
    return outOfMemoryGuard([&]() -> HRESULT {
        std::vector<D3DRECT> clipped;
        for (DWORD i = 0; i < count; ++i) {
            D3DRECT r = {std::max(rects[i].x1, vx1), std::max(rects[i].y1, vy1), std::min(rects[i].x2, vx2),
                         std::min(rects[i].y2, vy2)};
            if (r.x1 < r.x2 && r.y1 < r.y2)
                clipped.push_back(r);
        }
        if (clipped.empty())
            return D3D_OK;
        return backend_->clear(flags, clipped.data(), UINT(clipped.size()), color, std::clamp(z, 0.0f, 1.0f),
                               stencil);
    });
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
    if (!inScene_ || type != D3DPT_TRIANGLELIST)
        return D3DERR_INVALIDCALL;
    if (primitiveCount == 0)
        return D3D_OK;
    VertexBuffer* buffer = state_.stream;
    const DWORD position = state_.fvf & D3DFVF_POSITION_MASK;
    if (!buffer || state_.streamStride == 0 || (position != D3DFVF_XYZ && position != D3DFVF_XYZRHW))
        return D3DERR_INVALIDCALL;
    const std::uint64_t first = std::uint64_t(state_.streamOffset) + std::uint64_t(startVertex) * state_.streamStride;
    const std::uint64_t end = first + std::uint64_t(primitiveCount) * 3 * state_.streamStride;
    if (end > buffer->data().size)
        return D3DERR_INVALIDCALL;
    TriangleList list;
    list.fvf = state_.fvf;
    list.vertices = &buffer->data();
    list.offset = UINT(first);
    list.stride = state_.streamStride;
    list.triangleCount = primitiveCount;
    return outOfMemoryGuard([&] { return backend_->drawTriangles(snapshot(), list); });
}

// ---------------------------------------------------------------- state setters

HRESULT Device::SetTransform(D3DTRANSFORMSTATETYPE type, const D3DMATRIX* matrix) {
    const int slot = transformSlot(type);
    if (!matrix)
        return D3DERR_INVALIDCALL;
    if (slot < 0)
        return D3D_OK;  // blending matrices and the like: accepted, never used
    if (recording_) {
        recording_->values.transform[slot] = *matrix;
        recording_->mask.transform.set(size_t(slot));
        return D3D_OK;
    }
    state_.transform[slot] = *matrix;
    return D3D_OK;
}

HRESULT Device::GetTransform(D3DTRANSFORMSTATETYPE type, D3DMATRIX* matrix) {
    const int slot = transformSlot(type);
    if (!matrix)
        return D3DERR_INVALIDCALL;
    *matrix = slot < 0 ? identity() : state_.transform[slot];
    return D3D_OK;
}

HRESULT Device::SetViewport(const D3DVIEWPORT9* viewport) {
    if (!viewport || viewport->Width == 0 || viewport->Height == 0 ||
        viewport->X + viewport->Width > params_.BackBufferWidth ||
        viewport->Y + viewport->Height > params_.BackBufferHeight)
        return D3DERR_INVALIDCALL;
    if (recording_) {
        recording_->values.viewport = *viewport;
        recording_->mask.viewport = true;
        return D3D_OK;
    }
    state_.viewport = *viewport;
    return D3D_OK;
}

HRESULT Device::GetViewport(D3DVIEWPORT9* viewport) {
    if (!viewport)
        return D3DERR_INVALIDCALL;
    *viewport = state_.viewport;
    return D3D_OK;
}

HRESULT Device::SetMaterial(const D3DMATERIAL9* material) {
    if (!material)
        return D3DERR_INVALIDCALL;
    if (recording_) {
        recording_->values.material = *material;
        recording_->mask.material = true;
        return D3D_OK;
    }
    state_.material = *material;
    return D3D_OK;
}

HRESULT Device::GetMaterial(D3DMATERIAL9* material) {
    if (!material)
        return D3DERR_INVALIDCALL;
    *material = state_.material;
    return D3D_OK;
}

HRESULT Device::SetLight(DWORD index, const D3DLIGHT9* light) {
    if (!light || !validLightIndex(index) || light->Type < D3DLIGHT_POINT || light->Type > D3DLIGHT_DIRECTIONAL)
        return D3DERR_INVALIDCALL;
    if (light->Type == D3DLIGHT_DIRECTIONAL && light->Direction.x == 0 && light->Direction.y == 0 &&
        light->Direction.z == 0)
        return D3DERR_INVALIDCALL;
    return outOfMemoryGuard([&]() -> HRESULT {
        if (recording_) {
            recording_->values.lights[index].light = *light;
            recording_->mask.lightDefinitions.insert(index);
            return D3D_OK;
        }
        state_.lights[index].light = *light;
        return D3D_OK;
    });
}

HRESULT Device::GetLight(DWORD index, D3DLIGHT9* light) {
    auto it = state_.lights.find(index);
    if (!light || it == state_.lights.end())
        return D3DERR_INVALIDCALL;
    *light = it->second.light;
    return D3D_OK;
}

HRESULT Device::LightEnable(DWORD index, BOOL enable) {
    if (!validLightIndex(index))
        return D3DERR_INVALIDCALL;
    return outOfMemoryGuard([&]() -> HRESULT {
        if (recording_) {
            recording_->values.lights[index].enabled = enable;
            recording_->mask.lightEnables.insert(index);
            return D3D_OK;
        }
        auto it = state_.lights.find(index);
        if (it == state_.lights.end()) {
            // An unset light comes to life as white, shining along +z.
            LightSlot slot;
            slot.light.Type = D3DLIGHT_DIRECTIONAL;
            slot.light.Diffuse = {1.0f, 1.0f, 1.0f, 0.0f};
            slot.light.Direction = {0.0f, 0.0f, 1.0f};
            it = state_.lights.emplace(index, slot).first;
        }
        it->second.enabled = enable ? TRUE : FALSE;
        return D3D_OK;
    });
}

HRESULT Device::GetLightEnable(DWORD index, BOOL* enable) {
    auto it = state_.lights.find(index);
    if (!enable || it == state_.lights.end())
        return D3DERR_INVALIDCALL;
    *enable = it->second.enabled;
    return D3D_OK;
}

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE type, DWORD value) {
    if (DWORD(type) >= DWORD(kRenderStateCount))
        return D3DERR_INVALIDCALL;
    if (recording_) {
        recording_->values.renderState[type] = value;
        recording_->mask.renderState.set(type);
        return D3D_OK;
    }
    state_.renderState[type] = value;
    return D3D_OK;
}

HRESULT Device::GetRenderState(D3DRENDERSTATETYPE type, DWORD* value) {
    if (!value || DWORD(type) >= DWORD(kRenderStateCount))
        return D3DERR_INVALIDCALL;
    *value = state_.renderState[type];
    return D3D_OK;
}

HRESULT Device::BeginStateBlock() {
    if (recording_)
        return D3DERR_INVALIDCALL;
    return outOfMemoryGuard([&]() -> HRESULT {
        recording_ = new StateBlock(this);
        return D3D_OK;
    });
}

HRESULT Device::EndStateBlock(IDirect3DStateBlock9** block) {
    if (!block || !recording_)
        return D3DERR_INVALIDCALL;
    *block = recording_;
    recording_ = nullptr;
    return D3D_OK;
}

HRESULT Device::GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) {
    if (!texture || stage >= DWORD(kMaxTextureStages))
        return D3DERR_INVALIDCALL;
    *texture = state_.texture[stage];
    if (*texture)
        (*texture)->AddRef();
    return D3D_OK;
}

HRESULT Device::SetTexture(DWORD stage, IDirect3DBaseTexture9* base) {
    if (stage >= DWORD(kMaxTextureStages))
        return D3DERR_INVALIDCALL;
    Texture* texture = nullptr;
    if (base) {
        texture = dynamic_cast<Texture*>(base);
        if (!texture || texture->device() != this || texture->pool() == D3DPOOL_SCRATCH ||
            texture->pool() == D3DPOOL_SYSTEMMEM)
            return D3DERR_INVALIDCALL;
    }
    if (recording_) {
        assignTexture(recording_->values, stage, texture);
        recording_->mask.texture.set(stage);
        return D3D_OK;
    }
    assignTexture(state_, stage, texture);
    return D3D_OK;
}

HRESULT Device::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) {
    if (!value || stage >= DWORD(kMaxTextureStages) || DWORD(type) >= DWORD(kStageStateCount))
        return D3DERR_INVALIDCALL;
    *value = state_.stageState[stage][type];
    return D3D_OK;
}

HRESULT Device::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    if (stage >= DWORD(kMaxTextureStages) || DWORD(type) >= DWORD(kStageStateCount))
        return D3DERR_INVALIDCALL;
    if (recording_) {
        recording_->values.stageState[stage][type] = value;
        recording_->mask.stageState.set(stage * kStageStateCount + type);
        return D3D_OK;
    }
    state_.stageState[stage][type] = value;
    return D3D_OK;
}

HRESULT Device::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) {
    if (!value || sampler >= DWORD(kMaxTextureStages) || DWORD(type) >= DWORD(kSamplerStateCount))
        return D3DERR_INVALIDCALL;
    *value = state_.samplerState[sampler][type];
    return D3D_OK;
}

HRESULT Device::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    if (sampler >= DWORD(kMaxTextureStages) || DWORD(type) >= DWORD(kSamplerStateCount))
        return D3DERR_INVALIDCALL;
    if (recording_) {
        recording_->values.samplerState[sampler][type] = value;
        recording_->mask.samplerState.set(sampler * kSamplerStateCount + type);
        return D3D_OK;
    }
    state_.samplerState[sampler][type] = value;
    return D3D_OK;
}

HRESULT Device::SetFVF(DWORD fvf) {
    if (recording_) {
        recording_->values.fvf = fvf;
        recording_->mask.fvf = true;
        return D3D_OK;
    }
    state_.fvf = fvf;
    return D3D_OK;
}

HRESULT Device::GetFVF(DWORD* fvf) {
    if (!fvf)
        return D3DERR_INVALIDCALL;
    *fvf = state_.fvf;
    return D3D_OK;
}

HRESULT Device::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* data, UINT offset, UINT stride) {
    if (stream != 0)
        return D3DERR_INVALIDCALL;
    VertexBuffer* buffer = nullptr;
    if (data) {
        buffer = dynamic_cast<VertexBuffer*>(data);
        if (!buffer || buffer->device() != this)
            return D3DERR_INVALIDCALL;
    }
    if (recording_) {
        assignStream(recording_->values, buffer, offset, stride);
        recording_->mask.stream = true;
        return D3D_OK;
    }
    assignStream(state_, buffer, offset, stride);
    return D3D_OK;
}

HRESULT Device::GetStreamSource(UINT stream, IDirect3DVertexBuffer9** data, UINT* offset, UINT* stride) {
    if (stream != 0 || !data || !offset || !stride)
        return D3DERR_INVALIDCALL;
    *data = state_.stream;
    if (*data)
        (*data)->AddRef();
    *offset = state_.streamOffset;
    *stride = state_.streamStride;
    return D3D_OK;
}

HRESULT Device::SetPixelShader(IDirect3DPixelShader9* shader) {
    if (shader)
        return D3DERR_INVALIDCALL;  // the fixed function is all there is
    if (recording_)
        recording_->mask.pixelShader = true;
    return D3D_OK;
}

HRESULT Device::GetPixelShader(IDirect3DPixelShader9** shader) {
    if (!shader)
        return D3DERR_INVALIDCALL;
    *shader = nullptr;
    return D3D_OK;
}

}  // namespace platform::d3d9
