// REF as the device sees it: its buffers, and a draw's device state turned
// into the pixel pipeline's settings before the vertices go down the stages.
#include "platform/d3d9/ref_pipeline.h"

#include "platform/d3d9/test_hooks.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace platform::d3d9 {

using namespace ref;

namespace {

// A fill the compiler does not vectorise at -O2 on its own.
void fillWords(std::uint32_t* out, size_t count, std::uint32_t value) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i v = _mm_set1_epi32(int(value));
    for (; i + 8 <= count; i += 8) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 4), v);
    }
#endif
    for (; i < count; ++i)
        out[i] = value;
}

// The widest surface span loop the processor runs, and the one in use.
struct SpanChoice {
    const SurfaceSpan* widest;
    const SurfaceSpan* inUse;
};

SpanChoice detectSpans() {
#if defined(VL_REF_X86_SPANS)
    __builtin_cpu_init();
    const bool avx2 = __builtin_cpu_supports("avx2");
    const SurfaceSpan* widest = avx2 && __builtin_cpu_supports("avx512f") ? &kSurfaceSpan16
                                : avx2                                    ? &kSurfaceSpan8
                                                                          : &kSurfaceSpan4;
#else
    const SurfaceSpan* widest = &kSurfaceSpan1;
#endif
    return {widest, widest};
}

SpanChoice& spanChoice() {
    static SpanChoice choice = detectSpans();
    return choice;
}

}  // namespace

namespace ref {

const SurfaceSpan& surfaceSpan() { return *spanChoice().inUse; }

}  // namespace ref

std::string RefRasterizer::description() const { return "Reference software rasterizer"; }

HRESULT RefRasterizer::resize(const BufferSetup& setup) {
    if (setup.width == 0 || setup.height == 0)
        return D3DERR_INVALIDCALL;
    if (setup.colorFormat != D3DFMT_A8R8G8B8 && setup.colorFormat != D3DFMT_X8R8G8B8)
        return D3DERR_NOTAVAILABLE;
    if (setup.multiSampleType != D3DMULTISAMPLE_NONE)
        return D3DERR_NOTAVAILABLE;
    // Both buffers are had before anything changes, so that an allocation
    // that fails leaves the old buffers and their size together.
    const size_t count = size_t(setup.width) * setup.height + kSpanOverrun;
    const bool hasDepth = setup.depthFormat != D3DFMT_UNKNOWN;
    decltype(color_) color(count, 0);
    decltype(depth_) depth(hasDepth ? count : 0, 1.0f);
    width_ = setup.width;
    height_ = setup.height;
    colorFormat_ = setup.colorFormat;
    hasDepth_ = hasDepth;
    color_.swap(color);
    depth_.swap(depth);
    return D3D_OK;
}

HRESULT RefRasterizer::clear(DWORD flags, const D3DRECT* rects, UINT rectCount, D3DCOLOR color, float z, DWORD) {
    std::uint32_t depthBits;
    std::memcpy(&depthBits, &z, 4);
    auto fill = [&](LONG x1, LONG y1, LONG x2, LONG y2) {
        x1 = std::max<LONG>(x1, 0);
        y1 = std::max<LONG>(y1, 0);
        x2 = std::min<LONG>(x2, LONG(width_));
        y2 = std::min<LONG>(y2, LONG(height_));
        if (x1 >= x2 || y1 >= y2)
            return;
        // Whole rows are one run.
        const bool wholeRows = x1 == 0 && x2 == LONG(width_);
        const size_t run = wholeRows ? size_t(width_) * size_t(y2 - y1) : size_t(x2 - x1);
        for (LONG y = y1; y < (wholeRows ? y1 + 1 : y2); ++y) {
            const size_t at = size_t(y) * width_ + size_t(x1);
            if (flags & D3DCLEAR_TARGET)
                fillWords(color_.data() + at, run, color);
            if ((flags & D3DCLEAR_ZBUFFER) && hasDepth_)
                fillWords(reinterpret_cast<std::uint32_t*>(depth_.data() + at), run, depthBits);
        }
    };
    if (rectCount == 0 || !rects)
        fill(0, 0, LONG(width_), LONG(height_));
    for (UINT i = 0; i < rectCount && rects; ++i)
        fill(rects[i].x1, rects[i].y1, rects[i].x2, rects[i].y2);
    return D3D_OK;
}

HRESULT RefRasterizer::readBackBuffer(DWORD* pixels, UINT pitch) {
    const std::uint32_t alpha = colorFormat_ == D3DFMT_X8R8G8B8 ? 0xFF000000u : 0;
    for (UINT y = 0; y < height_; ++y) {
        auto* row = reinterpret_cast<DWORD*>(reinterpret_cast<BYTE*>(pixels) + size_t(y) * pitch);
        const std::uint32_t* src = color_.data() + size_t(y) * width_;
        UINT x = 0;
#if defined(__SSE2__)
        const __m128i alphas = _mm_set1_epi32(int(alpha));
        for (; x + 4 <= width_; x += 4)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(row + x),
                             _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x)), alphas));
#endif
        for (; x < width_; ++x)
            row[x] = src[x] | alpha;
    }
    return D3D_OK;
}

HRESULT RefRasterizer::writeBackBuffer(const RECT& rect, const DWORD* pixels, UINT pitch) {
    for (LONG y = rect.top; y < rect.bottom; ++y) {
        if (y < 0 || y >= LONG(height_))
            continue;
        const auto* row = reinterpret_cast<const DWORD*>(reinterpret_cast<const BYTE*>(pixels) +
                                                         size_t(y - rect.top) * pitch);
        for (LONG x = rect.left; x < rect.right; ++x)
            if (x >= 0 && x < LONG(width_))
                color_[size_t(y) * width_ + x] = row[x - rect.left];
    }
    return D3D_OK;
}

void RefRasterizer::forget(std::uint64_t id) { textures_.erase(id); }

HRESULT RefRasterizer::drawTriangles(const FixedFunctionState& state, const TriangleList& list) {
    if (width_ == 0 || list.triangleCount == 0 || !list.vertices)
        return D3D_OK;
    const DWORD* rs = state.renderState;
    PixelPipeline pipe;
    pipe.depthTest = hasDepth_ && rs[D3DRS_ZENABLE] != D3DZB_FALSE;
    pipe.depthWrite = pipe.depthTest && rs[D3DRS_ZWRITEENABLE];
    pipe.zFunc = rs[D3DRS_ZFUNC];
    pipe.alphaTest = rs[D3DRS_ALPHATESTENABLE] != 0;
    pipe.alphaFunc = rs[D3DRS_ALPHAFUNC];
    pipe.alphaRef = rs[D3DRS_ALPHAREF] & 0xFF;
    for (std::uint32_t i = 0; i < 256; ++i)
        pipe.alphaPasses[i] = !pipe.alphaTest || compare<std::uint32_t>(pipe.alphaFunc, i, pipe.alphaRef);
    pipe.blend = rs[D3DRS_ALPHABLENDENABLE] != 0;
    pipe.srcBlend = rs[D3DRS_SRCBLEND];
    pipe.destBlend = rs[D3DRS_DESTBLEND];
    pipe.blendOp = rs[D3DRS_BLENDOP];
    // The "both" source factors set the destination factor as well,
    // whatever D3DRS_DESTBLEND says.
    if (pipe.srcBlend == D3DBLEND_BOTHSRCALPHA) {
        pipe.srcBlend = D3DBLEND_SRCALPHA;
        pipe.destBlend = D3DBLEND_INVSRCALPHA;
    } else if (pipe.srcBlend == D3DBLEND_BOTHINVSRCALPHA) {
        pipe.srcBlend = D3DBLEND_INVSRCALPHA;
        pipe.destBlend = D3DBLEND_SRCALPHA;
    }
    unpack(rs[D3DRS_BLENDFACTOR], pipe.blendFactor);
    unpack(rs[D3DRS_TEXTUREFACTOR], pipe.textureFactor);
    const DWORD mask = rs[D3DRS_COLORWRITEENABLE];
    pipe.writeMask = ((mask & D3DCOLORWRITEENABLE_RED) ? 0x00FF0000u : 0) |
                     ((mask & D3DCOLORWRITEENABLE_GREEN) ? 0x0000FF00u : 0) |
                     ((mask & D3DCOLORWRITEENABLE_BLUE) ? 0x000000FFu : 0) |
                     ((mask & D3DCOLORWRITEENABLE_ALPHA) ? 0xFF000000u : 0);
    pipe.flat = rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT;
    pipe.cull = rs[D3DRS_CULLMODE];
    pipe.destHasAlpha = colorFormat_ == D3DFMT_A8R8G8B8;

    for (int s = 0; s < kMaxTextureStages; ++s) {
        const DWORD* ts = state.stageState[s];
        if (ts[D3DTSS_COLOROP] == D3DTOP_DISABLE)
            break;
        PixelPipeline::Stage& st = pipe.stages[pipe.stageCount++];
        st.colorOp = ts[D3DTSS_COLOROP];
        st.colorArg1 = ts[D3DTSS_COLORARG1];
        st.colorArg2 = ts[D3DTSS_COLORARG2];
        st.alphaOp = ts[D3DTSS_ALPHAOP];
        st.alphaArg1 = ts[D3DTSS_ALPHAARG1];
        st.alphaArg2 = ts[D3DTSS_ALPHAARG2];
        st.texels = texelsFor(state.texture[s]);
        st.coordSet = int(ts[D3DTSS_TEXCOORDINDEX] & 0xFFFF) == 1 ? 1 : 0;
        const DWORD* ss = state.samplerState[s];
        st.minFilter = ss[D3DSAMP_MINFILTER];
        st.magFilter = ss[D3DSAMP_MAGFILTER];
        st.addressU = ss[D3DSAMP_ADDRESSU];
        st.addressV = ss[D3DSAMP_ADDRESSV];
        auto selects = [](DWORD arg) { return (arg & D3DTA_SELECTMASK) == D3DTA_TEXTURE; };
        st.usesTexture = st.texels && (selects(st.colorArg1) || selects(st.colorArg2) || selects(st.alphaArg1) ||
                                       selects(st.alphaArg2));
    }

    const D3DVIEWPORT9& vp = state.viewport;
    pipe.clipX0 = int(std::min<DWORD>(vp.X, width_));
    pipe.clipY0 = int(std::min<DWORD>(vp.Y, height_));
    pipe.clipX1 = int(std::min<DWORD>(vp.X + vp.Width, width_));
    pipe.clipY1 = int(std::min<DWORD>(vp.Y + vp.Height, height_));
    pipe.vpX = float(vp.X);
    pipe.vpY = float(vp.Y);
    pipe.vpHalfW = float(vp.Width) * 0.5f;
    pipe.vpHalfH = float(vp.Height) * 0.5f;
    pipe.vpMinZ = vp.MinZ;
    pipe.vpMaxZ = vp.MaxZ;
    if (pipe.clipX0 >= pipe.clipX1 || pipe.clipY0 >= pipe.clipY1)
        return D3D_OK;

    processVertices(state, list);
    for (UINT t = 0; t < list.triangleCount; ++t)
        if (visible_[t])
            drawClipped(pipe, &vertices_[size_t(t) * 3], 3);
    return D3D_OK;
}

std::unique_ptr<Backend> createRefBackend() { return std::make_unique<RefRasterizer>(); }

namespace testing {

void LimitRefSpans(int pixels) {
    SpanChoice& choice = spanChoice();
    const SurfaceSpan* const widths[] = {
#if defined(VL_REF_X86_SPANS)
        &kSurfaceSpan16, &kSurfaceSpan8, &kSurfaceSpan4,
#endif
        &kSurfaceSpan1};
    for (const SurfaceSpan* span : widths) {
        if (span->pixels <= pixels && span->pixels <= choice.widest->pixels) {
            choice.inUse = span;
            return;
        }
    }
    choice.inUse = &kSurfaceSpan1;
}

int WidestRefSpan() { return spanChoice().widest->pixels; }

}  // namespace testing

}  // namespace platform::d3d9
