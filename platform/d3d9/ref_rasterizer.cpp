#include "platform/d3d9/ref_rasterizer.h"

#include "platform/d3d9/test_hooks.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// Eight pixels at a time where the processor has AVX2, sixteen where it has
// AVX-512, chosen when the program runs; the lanes do the 4-wide spans'
// arithmetic, so the picture is the same either way.
#if defined(__SSE2__) && defined(__x86_64__) && defined(__GNUC__)
#define VL_WIDE_SPANS 1
#include <immintrin.h>
#endif

namespace platform::d3d9 {

namespace {

// The row loops below are lambdas over the triangle's locals; inlined, each
// keeps its own registers.
#if defined(__GNUC__)
#define VL_INLINE __attribute__((always_inline))
#else
#define VL_INLINE
#endif

// Triangles are clipped to a band this many viewport half-widths wide, which
// keeps every snapped coordinate well inside 64-bit edge arithmetic.
constexpr float kGuardBand = 16.0f;
// Vertex positions snap to 1/256 pixel.
constexpr int kSubpixelBits = 8;
constexpr float kSubpixelScale = float(1 << kSubpixelBits);

constexpr int kAttrCount = 8;  // r, g, b, a, u0, v0, u1, v1

inline float clamp01(float v) { return std::min(std::max(v, 0.0f), 1.0f); }

inline std::uint32_t toByte(float v) { return std::uint32_t(clamp01(v) * 255.0f + 0.5f); }

inline float fromByte(std::uint32_t b) { return float(b & 0xFF) * (1.0f / 255.0f); }

inline void unpack(D3DCOLOR c, float out[4]) {
    out[0] = fromByte(c >> 16);
    out[1] = fromByte(c >> 8);
    out[2] = fromByte(c);
    out[3] = fromByte(c >> 24);
}

inline std::uint32_t pack(const float c[4]) {
    return (toByte(c[3]) << 24) | (toByte(c[0]) << 16) | (toByte(c[1]) << 8) | toByte(c[2]);
}

struct Mat3 {
    float m[3][3];
};

// Normals go through the inverse transpose of the world-view matrix, so that
// they stay perpendicular to surfaces under non-uniform scaling.
Mat3 normalMatrix(const D3DMATRIX& worldView) {
    const float(&a)[4][4] = worldView.m;
    const float c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
    const float c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
    const float c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
    const float det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
    Mat3 r{};
    if (det == 0.0f)
        return r;
    const float inv = 1.0f / det;
    // Row-vector convention: n' = n * inverse(M)^T, and inverse(M)^T is the
    // cofactor matrix divided by the determinant.
    r.m[0][0] = c00 * inv;
    r.m[0][1] = c01 * inv;
    r.m[0][2] = c02 * inv;
    r.m[1][0] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) * inv;
    r.m[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) * inv;
    r.m[1][2] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) * inv;
    r.m[2][0] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) * inv;
    r.m[2][1] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) * inv;
    r.m[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) * inv;
    return r;
}

void normalize3(float v[3]) {
    const float len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (len > 0.0f) {
        v[0] /= len;
        v[1] /= len;
        v[2] /= len;
    }
}

// Depth values compare as floats, alpha as integers; the rule is the same.
template <class T>
bool compare(DWORD func, T a, T b) {
    switch (func) {
    case D3DCMP_NEVER: return false;
    case D3DCMP_LESS: return a < b;
    case D3DCMP_EQUAL: return a == b;
    case D3DCMP_LESSEQUAL: return a <= b;
    case D3DCMP_GREATER: return a > b;
    case D3DCMP_NOTEQUAL: return a != b;
    case D3DCMP_GREATEREQUAL: return a >= b;
    default: return true;
    }
}

std::uint32_t expand(std::uint32_t v, int bits) {
    const std::uint32_t max = (1u << bits) - 1;
    return (v * 255 + max / 2) / max;
}

std::uint32_t decodeTexel(D3DFORMAT format, const BYTE* p) {
    switch (format) {
    case D3DFMT_A8R8G8B8: {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    case D3DFMT_X8R8G8B8: {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return v | 0xFF000000u;
    }
    case D3DFMT_A4R4G4B4: {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return (expand(v >> 12, 4) << 24) | (expand((v >> 8) & 0xF, 4) << 16) | (expand((v >> 4) & 0xF, 4) << 8) |
               expand(v & 0xF, 4);
    }
    case D3DFMT_X4R4G4B4: {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return 0xFF000000u | (expand((v >> 8) & 0xF, 4) << 16) | (expand((v >> 4) & 0xF, 4) << 8) | expand(v & 0xF, 4);
    }
    case D3DFMT_R5G6B5: {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return 0xFF000000u | (expand(v >> 11, 5) << 16) | (expand((v >> 5) & 0x3F, 6) << 8) | expand(v & 0x1F, 5);
    }
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5: {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        const std::uint32_t a = (format == D3DFMT_X1R5G5B5 || (v & 0x8000)) ? 0xFFu : 0u;
        return (a << 24) | (expand((v >> 10) & 0x1F, 5) << 16) | (expand((v >> 5) & 0x1F, 5) << 8) |
               expand(v & 0x1F, 5);
    }
    default: return 0xFF000000u;
    }
}

UINT bytesPerTexel(D3DFORMAT format) {
    switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8: return 4;
    default: return 2;
    }
}

inline int wrapCoord(int i, int size, DWORD mode) {
    switch (mode) {
    case D3DTADDRESS_CLAMP:
    case D3DTADDRESS_BORDER: return i < 0 ? 0 : (i >= size ? size - 1 : i);
    case D3DTADDRESS_MIRROR: {
        int period = 2 * size;
        int m = i % period;
        if (m < 0)
            m += period;
        return m < size ? m : period - 1 - m;
    }
    default: {
        int m = i % size;
        return m < 0 ? m + size : m;
    }
    }
}

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

}  // namespace

struct RefRasterizer::PixelPipeline {
    struct Stage {
        DWORD colorOp, colorArg1, colorArg2, alphaOp, alphaArg1, alphaArg2;
        const Texels* texels;
        int coordSet;
        DWORD minFilter, magFilter, addressU, addressV;
        bool usesTexture;
    };
    bool depthTest = false, depthWrite = false;
    DWORD zFunc = D3DCMP_LESSEQUAL;
    bool alphaTest = false;
    DWORD alphaFunc = D3DCMP_ALWAYS;
    std::uint32_t alphaRef = 0;
    bool blend = false;
    DWORD srcBlend = D3DBLEND_ONE, destBlend = D3DBLEND_ZERO, blendOp = D3DBLENDOP_ADD;
    float blendFactor[4] = {1, 1, 1, 1};
    std::uint32_t writeMask = 0xFFFFFFFFu;
    bool flat = false;
    DWORD cull = D3DCULL_CCW;
    float textureFactor[4] = {1, 1, 1, 1};
    int stageCount = 0;
    Stage stages[kMaxTextureStages];
    int clipX0 = 0, clipY0 = 0, clipX1 = 0, clipY1 = 0;  // pixels, x1/y1 exclusive
    float vpX = 0, vpY = 0, vpHalfW = 0, vpHalfH = 0, vpMinZ = 0, vpMaxZ = 1;
    bool destHasAlpha = true;
    bool alphaPasses[256];  // the alpha test's verdict (true without one) by 8-bit alpha
};

std::string RefRasterizer::description() const { return "Reference software rasterizer"; }

HRESULT RefRasterizer::resize(const BufferSetup& setup) {
    if (setup.width == 0 || setup.height == 0)
        return D3DERR_INVALIDCALL;
    if (setup.colorFormat != D3DFMT_A8R8G8B8 && setup.colorFormat != D3DFMT_X8R8G8B8)
        return D3DERR_NOTAVAILABLE;
    if (setup.multiSampleType != D3DMULTISAMPLE_NONE)
        return D3DERR_NOTAVAILABLE;
    width_ = setup.width;
    height_ = setup.height;
    colorFormat_ = setup.colorFormat;
    hasDepth_ = setup.depthFormat != D3DFMT_UNKNOWN;
    // The span loops may touch seven pixels past the last one of a row.
    const size_t count = size_t(width_) * height_ + 7;
    color_.assign(count, 0);
    depth_.assign(hasDepth_ ? count : 0, 1.0f);
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

const RefRasterizer::Texels* RefRasterizer::texelsFor(const TextureData* texture) {
    if (!texture || !texture->bits || texture->width == 0 || texture->height == 0)
        return nullptr;
    Texels& t = textures_[texture->id];
    if (t.version != texture->version || t.width != texture->width || t.height != texture->height) {
        t.width = texture->width;
        t.height = texture->height;
        t.argb.resize(size_t(t.width) * t.height);
        const UINT bpp = bytesPerTexel(texture->format);
        for (UINT y = 0; y < t.height; ++y) {
            const BYTE* row = texture->bits + size_t(y) * texture->pitch;
            for (UINT x = 0; x < t.width; ++x)
                t.argb[size_t(y) * t.width + x] = decodeTexel(texture->format, row + x * bpp);
        }
        t.opaqueBefore.clear();
        if (t.width < 0xFFFF) {
            t.opaqueBefore.resize(size_t(t.width + 1) * t.height);
            for (UINT y = 0; y < t.height; ++y) {
                const std::uint32_t* texel = t.argb.data() + size_t(y) * t.width;
                std::uint16_t* count = t.opaqueBefore.data() + size_t(y) * (t.width + 1);
                count[0] = 0;
                for (UINT x = 0; x < t.width; ++x)
                    count[x + 1] = std::uint16_t(count[x] + ((texel[x] >> 24) != 0 ? 1 : 0));
            }
        }
        t.version = texture->version;
    }
    return &t;
}

void RefRasterizer::processVertices(const FixedFunctionState& state, const TriangleList& list) {
    const DWORD fvf = list.fvf;
    const DWORD position = fvf & D3DFVF_POSITION_MASK;
    pretransformed_ = position == D3DFVF_XYZRHW;

    UINT offset = pretransformed_ ? 16 : 12;
    if (position >= D3DFVF_XYZB1 && position <= D3DFVF_XYZB5)
        offset = 12 + 4 * ((position - D3DFVF_XYZ) / 2);
    int normalAt = -1, diffuseAt = -1, specularAt = -1;
    if (fvf & D3DFVF_NORMAL) {
        normalAt = int(offset);
        offset += 12;
    }
    if (fvf & D3DFVF_PSIZE)
        offset += 4;
    if (fvf & D3DFVF_DIFFUSE) {
        diffuseAt = int(offset);
        offset += 4;
    }
    if (fvf & D3DFVF_SPECULAR) {
        specularAt = int(offset);
        offset += 4;
    }
    int texAt[2] = {-1, -1};
    const int texCount = int((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT);
    for (int i = 0; i < texCount; ++i) {
        if (i < 2)
            texAt[i] = int(offset);
        static const UINT sizes[4] = {8, 12, 16, 4};
        offset += sizes[(fvf >> (16 + 2 * i)) & 3];
    }

    const DWORD* rs = state.renderState;
    const bool lighting = rs[D3DRS_LIGHTING] && !pretransformed_;
    const D3DMATRIX worldView = multiplyTransforms(state.world, state.view);
    const D3DMATRIX wvp = multiplyTransforms(worldView, state.projection);
    const Mat3 nm = normalMatrix(worldView);
    const bool normalize = rs[D3DRS_NORMALIZENORMALS] != 0;

    // Light directions in view space, pointing from the surface to the light.
    struct LightTerm {
        float dir[3];
        float diffuse[4];
        float ambient[4];
    };
    LightTerm lights[kMaxActiveLights];
    int lightCount = 0;
    if (lighting) {
        for (UINT i = 0; i < state.lightCount && i < UINT(kMaxActiveLights); ++i) {
            const D3DLIGHT9& l = state.lights[i];
            if (l.Type != D3DLIGHT_DIRECTIONAL)
                continue;  // only directional lights are drawn
            LightTerm& t = lights[lightCount++];
            const float* v = &l.Direction.x;
            for (int j = 0; j < 3; ++j)
                t.dir[j] = -(v[0] * state.view.m[0][j] + v[1] * state.view.m[1][j] + v[2] * state.view.m[2][j]);
            normalize3(t.dir);
            t.diffuse[0] = l.Diffuse.r, t.diffuse[1] = l.Diffuse.g, t.diffuse[2] = l.Diffuse.b, t.diffuse[3] = l.Diffuse.a;
            t.ambient[0] = l.Ambient.r, t.ambient[1] = l.Ambient.g, t.ambient[2] = l.Ambient.b, t.ambient[3] = l.Ambient.a;
        }
    }
    float globalAmbient[4];
    unpack(rs[D3DRS_AMBIENT], globalAmbient);
    const bool colorVertex = rs[D3DRS_COLORVERTEX] != 0;
    const D3DMATERIAL9& mat = state.material;

    const UINT count = list.triangleCount * 3;
    // Grown, never shrunk: the overlay's draws come between the surface's,
    // and growing again would clear every vertex each frame.
    if (vertices_.size() < count)
        vertices_.resize(count);
    visible_.assign(list.triangleCount, 1);
    const BYTE* base = list.vertices->bytes + list.offset;

    // Where each lit colour comes from, settled once per draw.
    enum class Source { Material, Diffuse, Specular };
    auto sourceOf = [&](DWORD which) {
        if (colorVertex && which == D3DMCS_COLOR1 && diffuseAt >= 0)
            return Source::Diffuse;
        if (colorVertex && which == D3DMCS_COLOR2 && specularAt >= 0)
            return Source::Specular;
        return Source::Material;
    };
    auto values = [](const D3DCOLORVALUE& c, float out[4]) {
        out[0] = c.r, out[1] = c.g, out[2] = c.b, out[3] = c.a;
    };
    const Source diffuseSource = sourceOf(rs[D3DRS_DIFFUSEMATERIALSOURCE]);
    const Source ambientSource = sourceOf(rs[D3DRS_AMBIENTMATERIALSOURCE]);
    const Source emissiveSource = sourceOf(rs[D3DRS_EMISSIVEMATERIALSOURCE]);
    float materialDiffuse[4], materialAmbient[4], materialEmissive[4];
    values(mat.Diffuse, materialDiffuse);
    values(mat.Ambient, materialAmbient);
    values(mat.Emissive, materialEmissive);

    // Triangles that face away are dropped before they are lit: a two-sided
    // surface would otherwise light every vertex twice for nothing. The
    // clip-space x, y and w the test needs are the vertex's own, kept.
    const DWORD cull = rs[D3DRS_CULLMODE];
    const bool earlyCull = !pretransformed_ && (cull == D3DCULL_CCW || cull == D3DCULL_CW);
    const float(&m)[4][4] = wvp.m;
#if defined(__SSE2__)
    // Lane j of each sum below is the scalar expression for component j,
    // term by term in the same order.
    const __m128 m0 = _mm_loadu_ps(m[0]), m1 = _mm_loadu_ps(m[1]), m2 = _mm_loadu_ps(m[2]), m3 = _mm_loadu_ps(m[3]);
    const __m128 n0 = _mm_setr_ps(nm.m[0][0], nm.m[0][1], nm.m[0][2], 0.0f);
    const __m128 n1 = _mm_setr_ps(nm.m[1][0], nm.m[1][1], nm.m[1][2], 0.0f);
    const __m128 n2 = _mm_setr_ps(nm.m[2][0], nm.m[2][1], nm.m[2][2], 0.0f);
    const __m128 ambientLight = _mm_loadu_ps(globalAmbient);
#endif
    // The vertex's own colours land here, so that the sources are picked
    // once per draw rather than per vertex.
    float diffuse[4], specular[4];
    auto pick = [&](Source source, const float* material) -> const float* {
        return source == Source::Diffuse ? diffuse : source == Source::Specular ? specular : material;
    };
    const float* const md = pick(diffuseSource, materialDiffuse);
    const float* const ma = pick(ambientSource, materialAmbient);
    const float* const me = pick(emissiveSource, materialEmissive);
    for (UINT t = 0; t < list.triangleCount; ++t) {
        Vertex* tri = &vertices_[size_t(t) * 3];
        const BYTE* first = base + size_t(t) * 3 * list.stride;
        if (!pretransformed_) {
            bool inFront = true;
            for (int k = 0; k < 3; ++k) {
                float p[3];
                std::memcpy(p, first + size_t(k) * list.stride, 12);
                Vertex& out = tri[k];
#if defined(__SSE2__)
                const __m128 clip =
                    _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(p[0]), m0), _mm_mul_ps(_mm_set1_ps(p[1]), m1)),
                                          _mm_mul_ps(_mm_set1_ps(p[2]), m2)),
                               m3);
                _mm_storeu_ps(&out.x, clip);
#else
                out.x = p[0] * m[0][0] + p[1] * m[1][0] + p[2] * m[2][0] + m[3][0];
                out.y = p[0] * m[0][1] + p[1] * m[1][1] + p[2] * m[2][1] + m[3][1];
                out.z = p[0] * m[0][2] + p[1] * m[1][2] + p[2] * m[2][2] + m[3][2];
                out.w = p[0] * m[0][3] + p[1] * m[1][3] + p[2] * m[2][3] + m[3][3];
#endif
                inFront = inFront && out.w > 0.0f;
            }
            // Behind the eye the clipper decides.
            if (earlyCull && inFront) {
                const float x[3] = {tri[0].x, tri[1].x, tri[2].x};
                const float y[3] = {tri[0].y, tri[1].y, tri[2].y};
                const float w[3] = {tri[0].w, tri[1].w, tri[2].w};
                // With every w positive, the winding on screen is the sign of
                // this determinant (negated, as screen y runs down); no division.
                const float det = x[0] * (y[1] * w[2] - y[2] * w[1]) - y[0] * (x[1] * w[2] - x[2] * w[1]) +
                                  w[0] * (x[1] * y[2] - x[2] * y[1]);
                float bound = 1e-5f;
                for (int k = 0; k < 3; ++k)
                    bound *= std::fabs(x[k]) + std::fabs(y[k]) + std::fabs(w[k]);
                // Only clear cases: a sliver is left to the exact test.
                if ((cull == D3DCULL_CCW && det > bound) || (cull == D3DCULL_CW && det < -bound)) {
                    visible_[t] = 0;
                    continue;
                }
            }
        }

        for (int k = 0; k < 3; ++k) {
            const BYTE* v = first + size_t(k) * list.stride;
            Vertex& out = tri[k];
            diffuse[0] = diffuse[1] = diffuse[2] = diffuse[3] = 1.0f;
            specular[0] = specular[1] = specular[2] = specular[3] = 0.0f;
            if (diffuseAt >= 0) {
                D3DCOLOR c;
                std::memcpy(&c, v + diffuseAt, 4);
                unpack(c, diffuse);
            }
            if (specularAt >= 0) {
                D3DCOLOR c;
                std::memcpy(&c, v + specularAt, 4);
                unpack(c, specular);
            }
            if (pretransformed_) {
                float p[4];
                std::memcpy(p, v, 16);
                out.x = p[0];
                out.y = p[1];
                out.z = p[2];
                out.w = p[3] != 0.0f ? 1.0f / p[3] : 1.0f;
                std::memcpy(out.attr, diffuse, sizeof diffuse);
            } else if (lighting) {
                float n[4] = {0, 0, 0, 0};
                if (normalAt >= 0) {
                    float raw[3];
                    std::memcpy(raw, v + normalAt, 12);
#if defined(__SSE2__)
                    _mm_storeu_ps(n, _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(raw[0]), n0),
                                                           _mm_mul_ps(_mm_set1_ps(raw[1]), n1)),
                                                _mm_mul_ps(_mm_set1_ps(raw[2]), n2)));
#else
                    for (int j = 0; j < 3; ++j)
                        n[j] = raw[0] * nm.m[0][j] + raw[1] * nm.m[1][j] + raw[2] * nm.m[2][j];
#endif
                    if (normalize)
                        normalize3(n);
                }
#if defined(__SSE2__)
                const __m128 mdv = _mm_loadu_ps(md), mav = _mm_loadu_ps(ma);
                __m128 sum = _mm_add_ps(_mm_loadu_ps(me), _mm_mul_ps(mav, ambientLight));
                for (int l = 0; l < lightCount; ++l) {
                    const LightTerm& lt = lights[l];
                    const float ndotl = std::max(0.0f, n[0] * lt.dir[0] + n[1] * lt.dir[1] + n[2] * lt.dir[2]);
                    sum = _mm_add_ps(sum, _mm_add_ps(_mm_mul_ps(mav, _mm_loadu_ps(lt.ambient)),
                                                     _mm_mul_ps(_mm_mul_ps(mdv, _mm_loadu_ps(lt.diffuse)),
                                                                _mm_set1_ps(ndotl))));
                }
                // min(1, max(0, c)) in this operand order is clamp01, NaN included.
                _mm_storeu_ps(out.attr, _mm_min_ps(_mm_set1_ps(1.0f), _mm_max_ps(_mm_setzero_ps(), sum)));
                out.attr[3] = clamp01(md[3]);
#else
                float c[3];
                for (int j = 0; j < 3; ++j)
                    c[j] = me[j] + ma[j] * globalAmbient[j];
                for (int l = 0; l < lightCount; ++l) {
                    const LightTerm& lt = lights[l];
                    const float ndotl = std::max(0.0f, n[0] * lt.dir[0] + n[1] * lt.dir[1] + n[2] * lt.dir[2]);
                    for (int j = 0; j < 3; ++j)
                        c[j] += ma[j] * lt.ambient[j] + md[j] * lt.diffuse[j] * ndotl;
                }
                out.attr[0] = clamp01(c[0]);
                out.attr[1] = clamp01(c[1]);
                out.attr[2] = clamp01(c[2]);
                out.attr[3] = clamp01(md[3]);
#endif
            } else {
                std::memcpy(out.attr, diffuse, sizeof diffuse);
            }
            for (int s = 0; s < 2; ++s) {
                if (texAt[s] >= 0)
                    std::memcpy(out.attr + 4 + 2 * s, v + texAt[s], 8);
                else
                    out.attr[4 + 2 * s] = out.attr[5 + 2 * s] = 0.0f;
            }
        }
    }
}

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

void RefRasterizer::drawClipped(const PixelPipeline& pipe, const Vertex* tri, int) {
    auto toScreen = [&](const Vertex& v) {
        ScreenVertex s;
        if (pretransformed_) {
            s.x = v.x;
            s.y = v.y;
            s.z = v.z;
            s.invW = 1.0f / v.w;
        } else {
            const float invW = 1.0f / v.w;
            s.x = pipe.vpX + (1.0f + v.x * invW) * pipe.vpHalfW;
            s.y = pipe.vpY + (1.0f - v.y * invW) * pipe.vpHalfH;
            s.z = pipe.vpMinZ + v.z * invW * (pipe.vpMaxZ - pipe.vpMinZ);
            s.invW = invW;
        }
        std::memcpy(s.attr, v.attr, sizeof s.attr);
        return s;
    };

    if (pretransformed_) {
        rasterize(pipe, toScreen(tri[0]), toScreen(tri[1]), toScreen(tri[2]));
        return;
    }

    // Outcodes against near, far and the guard band.
    auto outcode = [](const Vertex& v) {
        int code = 0;
        if (v.z < 0.0f)
            code |= 1;
        if (v.z > v.w)
            code |= 2;
        if (v.x < -kGuardBand * v.w)
            code |= 4;
        if (v.x > kGuardBand * v.w)
            code |= 8;
        if (v.y < -kGuardBand * v.w)
            code |= 16;
        if (v.y > kGuardBand * v.w)
            code |= 32;
        return code;
    };
    const int c0 = outcode(tri[0]), c1 = outcode(tri[1]), c2 = outcode(tri[2]);
    if (c0 & c1 & c2)
        return;
    if ((c0 | c1 | c2) == 0) {
        rasterize(pipe, toScreen(tri[0]), toScreen(tri[1]), toScreen(tri[2]));
        return;
    }

    // Sutherland-Hodgman in clip space; each plane adds at most one vertex.
    Vertex bufA[9], bufB[9];
    Vertex* in = bufA;
    Vertex* out = bufB;
    int n = 3;
    std::copy(tri, tri + 3, in);
    auto distance = [](const Vertex& v, int plane) {
        switch (plane) {
        case 0: return v.z;
        case 1: return v.w - v.z;
        case 2: return v.x + kGuardBand * v.w;
        case 3: return kGuardBand * v.w - v.x;
        case 4: return v.y + kGuardBand * v.w;
        default: return kGuardBand * v.w - v.y;
        }
    };
    const int all = c0 | c1 | c2;
    for (int plane = 0; plane < 6 && n >= 3; ++plane) {
        if (!(all & (1 << plane)))
            continue;
        int m = 0;
        for (int i = 0; i < n; ++i) {
            const Vertex& a = in[i];
            const Vertex& b = in[(i + 1) % n];
            const float da = distance(a, plane), db = distance(b, plane);
            if (da >= 0)
                out[m++] = a;
            if ((da >= 0) != (db >= 0)) {
                const float t = da / (da - db);
                Vertex& v = out[m++];
                v.x = a.x + (b.x - a.x) * t;
                v.y = a.y + (b.y - a.y) * t;
                v.z = a.z + (b.z - a.z) * t;
                v.w = a.w + (b.w - a.w) * t;
                for (int k = 0; k < kAttrCount; ++k)
                    v.attr[k] = a.attr[k] + (b.attr[k] - a.attr[k]) * t;
            }
        }
        std::swap(in, out);
        n = m;
    }
    if (n < 3)
        return;
    const ScreenVertex first = toScreen(in[0]);
    ScreenVertex prev = toScreen(in[1]);
    for (int i = 2; i < n; ++i) {
        const ScreenVertex next = toScreen(in[i]);
        rasterize(pipe, first, prev, next);
        prev = next;
    }
}

namespace {

struct TexSample {
    float c[4];
};

void sample(const RefRasterizer::Texels& t, float u, float v, bool linear, DWORD addressU, DWORD addressV,
            float out[4]) {
    const int w = int(t.width), h = int(t.height);
    if (!linear) {
        const int x = wrapCoord(int(std::floor(u * float(w))), w, addressU);
        const int y = wrapCoord(int(std::floor(v * float(h))), h, addressV);
        unpack(t.argb[size_t(y) * w + x], out);
        return;
    }
    const float fu = u * float(w) - 0.5f, fv = v * float(h) - 0.5f;
    const float x0f = std::floor(fu), y0f = std::floor(fv);
    const float ax = fu - x0f, ay = fv - y0f;
    const int x0 = wrapCoord(int(x0f), w, addressU), x1 = wrapCoord(int(x0f) + 1, w, addressU);
    const int y0 = wrapCoord(int(y0f), h, addressV), y1 = wrapCoord(int(y0f) + 1, h, addressV);
    float c00[4], c10[4], c01[4], c11[4];
    unpack(t.argb[size_t(y0) * w + x0], c00);
    unpack(t.argb[size_t(y0) * w + x1], c10);
    unpack(t.argb[size_t(y1) * w + x0], c01);
    unpack(t.argb[size_t(y1) * w + x1], c11);
    for (int k = 0; k < 4; ++k) {
        const float top = c00[k] + (c10[k] - c00[k]) * ax;
        const float bottom = c01[k] + (c11[k] - c01[k]) * ax;
        out[k] = top + (bottom - top) * ay;
    }
}

inline void selectArg(DWORD arg, const float diffuse[4], const float current[4], const float texel[4],
                      const float factor[4], float out[4]) {
    const float* src;
    static const float zero[4] = {0, 0, 0, 0};
    switch (arg & D3DTA_SELECTMASK) {
    case D3DTA_DIFFUSE: src = diffuse; break;
    case D3DTA_CURRENT: src = current; break;
    case D3DTA_TEXTURE: src = texel; break;
    case D3DTA_TFACTOR: src = factor; break;
    default: src = zero; break;
    }
    for (int k = 0; k < 4; ++k)
        out[k] = src[k];
    if (arg & D3DTA_ALPHAREPLICATE)
        out[0] = out[1] = out[2] = out[3];
    if (arg & D3DTA_COMPLEMENT)
        for (int k = 0; k < 4; ++k)
            out[k] = 1.0f - out[k];
}

inline float combine(DWORD op, float a, float b, const float diffuse[4], const float current[4], const float texel[4],
                     const float factor[4]) {
    switch (op) {
    case D3DTOP_SELECTARG1: return a;
    case D3DTOP_SELECTARG2: return b;
    case D3DTOP_MODULATE: return a * b;
    case D3DTOP_MODULATE2X: return clamp01(2.0f * a * b);
    case D3DTOP_MODULATE4X: return clamp01(4.0f * a * b);
    case D3DTOP_ADD: return clamp01(a + b);
    case D3DTOP_ADDSIGNED: return clamp01(a + b - 0.5f);
    case D3DTOP_ADDSIGNED2X: return clamp01(2.0f * (a + b - 0.5f));
    case D3DTOP_SUBTRACT: return clamp01(a - b);
    case D3DTOP_ADDSMOOTH: return clamp01(a + b - a * b);
    case D3DTOP_BLENDDIFFUSEALPHA: return a * diffuse[3] + b * (1.0f - diffuse[3]);
    case D3DTOP_BLENDTEXTUREALPHA: return a * texel[3] + b * (1.0f - texel[3]);
    case D3DTOP_BLENDFACTORALPHA: return a * factor[3] + b * (1.0f - factor[3]);
    case D3DTOP_BLENDCURRENTALPHA: return a * current[3] + b * (1.0f - current[3]);
    default: return a * b;
    }
}

inline float blendFactor(DWORD f, int k, const float src[4], const float dst[4], const float constant[4],
                         bool isSource) {
    switch (f) {
    case D3DBLEND_ZERO: return 0.0f;
    case D3DBLEND_ONE: return 1.0f;
    case D3DBLEND_SRCCOLOR: return src[k];
    case D3DBLEND_INVSRCCOLOR: return 1.0f - src[k];
    case D3DBLEND_SRCALPHA: return src[3];
    case D3DBLEND_INVSRCALPHA: return 1.0f - src[3];
    case D3DBLEND_DESTALPHA: return dst[3];
    case D3DBLEND_INVDESTALPHA: return 1.0f - dst[3];
    case D3DBLEND_DESTCOLOR: return dst[k];
    case D3DBLEND_INVDESTCOLOR: return 1.0f - dst[k];
    case D3DBLEND_SRCALPHASAT: return k == 3 ? 1.0f : std::min(src[3], 1.0f - dst[3]);
    case D3DBLEND_BOTHSRCALPHA: return isSource ? src[3] : 1.0f - src[3];
    case D3DBLEND_BOTHINVSRCALPHA: return isSource ? 1.0f - src[3] : src[3];
    case D3DBLEND_BLENDFACTOR: return constant[k];
    case D3DBLEND_INVBLENDFACTOR: return 1.0f - constant[k];
    default: return 1.0f;
    }
}

}  // namespace

namespace {

// The untextured, unblended span of the program's surface: depth test
// LESSEQUAL with writes (or no depth test), Gouraud colour. Every value is
// formed as start + step * k for pixel k, lane by lane the same arithmetic
// as the one-pixel loop, so the picture does not depend on which one ran.
#if defined(__SSE2__)
// What stays the same over a triangle: the changes per pixel of r, g, b, a
// over w, of z and of 1/w, each in all four lanes.
struct SpanSteps {
    __m128 r, g, b, a, z, w;
};

// Four pixels at a time, the last group masked: it reads and rewrites up to
// three pixels past the span unchanged, which the buffers' padding keeps in
// bounds. `attr` holds r, g, b, a over w at the first pixel.
template <bool kDepth>
VL_INLINE inline void simpleSpan(std::uint32_t* colorRow, float* depthRow, int first, int last, float z,
                                 float invW, __m128 attr, const SpanSteps& step) {
    const __m128 k255 = _mm_set1_ps(255.0f), half = _mm_set1_ps(0.5f), one = _mm_set1_ps(1.0f);
    const __m128 r = _mm_shuffle_ps(attr, attr, _MM_SHUFFLE(0, 0, 0, 0));
    const __m128 g = _mm_shuffle_ps(attr, attr, _MM_SHUFFLE(1, 1, 1, 1));
    const __m128 b = _mm_shuffle_ps(attr, attr, _MM_SHUFFLE(2, 2, 2, 2));
    const __m128 al = _mm_shuffle_ps(attr, attr, _MM_SHUFFLE(3, 3, 3, 3));
    const __m128 zStart = _mm_set1_ps(z), wStart = _mm_set1_ps(invW);
    const __m128i count = _mm_set1_epi32(last - first + 1);
    __m128 k = _mm_set_ps(3.0f, 2.0f, 1.0f, 0.0f);
    __m128i lane = _mm_set_epi32(3, 2, 1, 0);
    for (int x = first; x <= last; x += 4) {
        const __m128 wv = _mm_div_ps(one, _mm_add_ps(wStart, _mm_mul_ps(step.w, k)));
        auto bytes = [&](__m128 start, __m128 delta) {
            const __m128 v = _mm_add_ps(start, _mm_mul_ps(delta, k));
            const __m128 scaled = _mm_add_ps(_mm_mul_ps(_mm_mul_ps(v, wv), k255), half);
            return _mm_cvttps_epi32(_mm_min_ps(scaled, k255));
        };
        const __m128i out = _mm_or_si128(
            _mm_or_si128(_mm_slli_epi32(bytes(al, step.a), 24), _mm_slli_epi32(bytes(r, step.r), 16)),
            _mm_or_si128(_mm_slli_epi32(bytes(g, step.g), 8), bytes(b, step.b)));
        __m128i mask = _mm_cmplt_epi32(lane, count);
        auto* colors = reinterpret_cast<__m128i*>(colorRow + x);
        const __m128i oldColors = _mm_loadu_si128(colors);
        if (kDepth) {
            const __m128 zv = _mm_add_ps(zStart, _mm_mul_ps(step.z, k));
            const __m128 old = _mm_loadu_ps(depthRow + x);
            mask = _mm_and_si128(mask, _mm_castps_si128(_mm_cmple_ps(zv, old)));
            const __m128 pass = _mm_castsi128_ps(mask);
            _mm_storeu_ps(depthRow + x, _mm_or_ps(_mm_and_ps(pass, zv), _mm_andnot_ps(pass, old)));
        }
        _mm_storeu_si128(colors, _mm_or_si128(_mm_and_si128(mask, out), _mm_andnot_si128(mask, oldColors)));
        k = _mm_add_ps(k, _mm_set1_ps(4.0f));
        lane = _mm_add_epi32(lane, _mm_set1_epi32(4));
    }
}

#if defined(VL_WIDE_SPANS)
// The widest span the processor allows, in pixels, and the widest in use.
int detectWidestSpan() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") ? 16 : __builtin_cpu_supports("avx2") ? 8 : 4;
}
const int widestSpan = detectWidestSpan();
int spanWidth = widestSpan;

#define VL_AVX2 __attribute__((target("avx2")))
// simpleSpan's bytes of one channel, eight lanes.
VL_AVX2 VL_INLINE inline __m256i spanBytes8(__m256 start, __m256 delta, __m256 k, __m256 wv) {
    const __m256 k255 = _mm256_set1_ps(255.0f);
    const __m256 v = _mm256_add_ps(start, _mm256_mul_ps(delta, k));
    const __m256 scaled = _mm256_add_ps(_mm256_mul_ps(_mm256_mul_ps(v, wv), k255), _mm256_set1_ps(0.5f));
    return _mm256_cvttps_epi32(_mm256_min_ps(scaled, k255));
}

// simpleSpan eight pixels at a time: the same operations lane by lane
// (_CMP_LE_OS is cmpleps), the last group masked the same way; it reads and
// rewrites up to seven pixels past the span unchanged, which the buffers'
// padding keeps in bounds.
template <bool kDepth>
VL_AVX2 __attribute__((noinline)) void simpleSpan8(std::uint32_t* colorRow, float* depthRow, int first, int last,
                                                   float z, float invW, __m128 attr, const SpanSteps& step4) {
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 r = _mm256_broadcastss_ps(attr);
    const __m256 g = _mm256_broadcastss_ps(_mm_shuffle_ps(attr, attr, _MM_SHUFFLE(1, 1, 1, 1)));
    const __m256 b = _mm256_broadcastss_ps(_mm_shuffle_ps(attr, attr, _MM_SHUFFLE(2, 2, 2, 2)));
    const __m256 al = _mm256_broadcastss_ps(_mm_shuffle_ps(attr, attr, _MM_SHUFFLE(3, 3, 3, 3)));
    const __m256 dr = _mm256_broadcastss_ps(step4.r), dg = _mm256_broadcastss_ps(step4.g),
                 db = _mm256_broadcastss_ps(step4.b), da = _mm256_broadcastss_ps(step4.a),
                 dz = _mm256_broadcastss_ps(step4.z), dw = _mm256_broadcastss_ps(step4.w);
    const __m256 zStart = _mm256_set1_ps(z), wStart = _mm256_set1_ps(invW);
    const __m256i count = _mm256_set1_epi32(last - first + 1);
    __m256 k = _mm256_setr_ps(0.0f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f);
    __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    for (int x = first; x <= last; x += 8) {
        const __m256 wv = _mm256_div_ps(one, _mm256_add_ps(wStart, _mm256_mul_ps(dw, k)));
        const __m256i out = _mm256_or_si256(
            _mm256_or_si256(_mm256_slli_epi32(spanBytes8(al, da, k, wv), 24),
                            _mm256_slli_epi32(spanBytes8(r, dr, k, wv), 16)),
            _mm256_or_si256(_mm256_slli_epi32(spanBytes8(g, dg, k, wv), 8), spanBytes8(b, db, k, wv)));
        __m256i mask = _mm256_cmpgt_epi32(count, lane);
        auto* colors = reinterpret_cast<__m256i*>(colorRow + x);
        const __m256i oldColors = _mm256_loadu_si256(colors);
        if (kDepth) {
            const __m256 zv = _mm256_add_ps(zStart, _mm256_mul_ps(dz, k));
            const __m256 old = _mm256_loadu_ps(depthRow + x);
            mask = _mm256_and_si256(mask, _mm256_castps_si256(_mm256_cmp_ps(zv, old, _CMP_LE_OS)));
            const __m256 pass = _mm256_castsi256_ps(mask);
            _mm256_storeu_ps(depthRow + x, _mm256_or_ps(_mm256_and_ps(pass, zv), _mm256_andnot_ps(pass, old)));
        }
        _mm256_storeu_si256(colors, _mm256_or_si256(_mm256_and_si256(mask, out), _mm256_andnot_si256(mask, oldColors)));
        k = _mm256_add_ps(k, _mm256_set1_ps(8.0f));
        lane = _mm256_add_epi32(lane, _mm256_set1_epi32(8));
    }
}
#undef VL_AVX2

#define VL_AVX512 __attribute__((target("avx512f")))
// The zero-masked forms of the intrinsics, all lanes on: GCC 12's plain
// forms start from an "undefined" vector that -Wuninitialized reports.
constexpr __mmask16 kAllLanes = 0xFFFF;
// simpleSpan's bytes of one channel, sixteen lanes.
VL_AVX512 VL_INLINE inline __m512i spanBytes16(__m512 start, __m512 delta, __m512 k, __m512 wv) {
    const __m512 k255 = _mm512_set1_ps(255.0f);
    const __m512 v = _mm512_add_ps(start, _mm512_mul_ps(delta, k));
    const __m512 scaled = _mm512_add_ps(_mm512_mul_ps(_mm512_mul_ps(v, wv), k255), _mm512_set1_ps(0.5f));
    return _mm512_maskz_cvttps_epi32(kAllLanes, _mm512_maskz_min_ps(kAllLanes, scaled, k255));
}

// simpleSpan sixteen pixels at a time, the same operations lane by lane;
// the last group's lanes past the span are masked off, neither read nor
// written.
template <bool kDepth>
VL_AVX512 __attribute__((noinline)) void simpleSpan16(std::uint32_t* colorRow, float* depthRow, int first, int last,
                                                      float z, float invW, __m128 attr, const SpanSteps& step4) {
    const __m512 one = _mm512_set1_ps(1.0f);
    auto lane0 = [](__m128 v) { return _mm_cvtss_f32(v); };
    const __m512 r = _mm512_set1_ps(lane0(attr));
    const __m512 g = _mm512_set1_ps(lane0(_mm_shuffle_ps(attr, attr, _MM_SHUFFLE(1, 1, 1, 1))));
    const __m512 b = _mm512_set1_ps(lane0(_mm_shuffle_ps(attr, attr, _MM_SHUFFLE(2, 2, 2, 2))));
    const __m512 al = _mm512_set1_ps(lane0(_mm_shuffle_ps(attr, attr, _MM_SHUFFLE(3, 3, 3, 3))));
    const __m512 dr = _mm512_set1_ps(lane0(step4.r)), dg = _mm512_set1_ps(lane0(step4.g)),
                 db = _mm512_set1_ps(lane0(step4.b)), da = _mm512_set1_ps(lane0(step4.a)),
                 dz = _mm512_set1_ps(lane0(step4.z)), dw = _mm512_set1_ps(lane0(step4.w));
    const __m512 zStart = _mm512_set1_ps(z), wStart = _mm512_set1_ps(invW);
    const __m512i count = _mm512_set1_epi32(last - first + 1);
    __m512 k = _mm512_setr_ps(0.0f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f, 8.0f, 9.0f, 10.0f, 11.0f, 12.0f, 13.0f,
                              14.0f, 15.0f);
    __m512i lane = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    for (int x = first; x <= last; x += 16) {
        const __m512 wv = _mm512_div_ps(one, _mm512_add_ps(wStart, _mm512_mul_ps(dw, k)));
        const __m512i out = _mm512_or_si512(
            _mm512_or_si512(_mm512_maskz_slli_epi32(kAllLanes, spanBytes16(al, da, k, wv), 24),
                            _mm512_maskz_slli_epi32(kAllLanes, spanBytes16(r, dr, k, wv), 16)),
            _mm512_or_si512(_mm512_maskz_slli_epi32(kAllLanes, spanBytes16(g, dg, k, wv), 8),
                            spanBytes16(b, db, k, wv)));
        __mmask16 mask = _mm512_cmpgt_epi32_mask(count, lane);
        if (kDepth) {
            const __m512 zv = _mm512_add_ps(zStart, _mm512_mul_ps(dz, k));
            const __m512 old = _mm512_maskz_loadu_ps(mask, depthRow + x);
            mask = _mm512_mask_cmp_ps_mask(mask, zv, old, _CMP_LE_OS);
            _mm512_mask_storeu_ps(depthRow + x, mask, zv);
        }
        _mm512_mask_storeu_epi32(colorRow + x, mask, out);
        k = _mm512_add_ps(k, _mm512_set1_ps(16.0f));
        lane = _mm512_add_epi32(lane, _mm512_set1_epi32(16));
    }
}
#undef VL_AVX512
#endif
#else
template <bool kDepth>
void simpleSpan(std::uint32_t* colorRow, float* depthRow, int first, int last, float z, float dz, float invW,
                float dw, const float a0[4], const float step[4]) {
    auto byte = [](float v) { return std::uint32_t(std::min(int(v * 255.0f + 0.5f), 255)); };
    for (int x = first; x <= last; ++x) {
        const float k = float(x - first);
        const float wv = 1.0f / (invW + dw * k);
        const std::uint32_t out = (byte((a0[3] + step[3] * k) * wv) << 24) |
                                  (byte((a0[0] + step[0] * k) * wv) << 16) |
                                  (byte((a0[1] + step[1] * k) * wv) << 8) | byte((a0[2] + step[2] * k) * wv);
        if (kDepth) {
            const float zk = z + dz * k;
            if (zk <= depthRow[x]) {
                colorRow[x] = out;
                depthRow[x] = zk;
            }
        } else {
            colorRow[x] = out;
        }
    }
}
#endif

// floor(n / d) for d > 0. Below 2^52 a double quotient lands within one of
// the exact one and an integer check settles it, far cheaper than idiv.
inline std::int64_t floorDiv(std::int64_t n, std::int64_t d) {
    constexpr std::int64_t kExactDouble = std::int64_t(1) << 52;
    if (n <= -kExactDouble || n >= kExactDouble) {
        const std::int64_t q = n / d;
        return (n % d != 0 && n < 0) ? q - 1 : q;
    }
    std::int64_t q = std::int64_t(double(n) / double(d));
    while (q * d > n)
        --q;
    while ((q + 1) * d <= n)
        ++q;
    return q;
}

// Where a sloped triangle edge crosses the pixel rows: floor(E / |stepX|)
// pixels from the row's first column, carried from row to row as an exact
// quotient and remainder, so that a row costs a few additions instead of a
// division per edge, and no branch.
struct EdgeWalk {
    std::int64_t q, r, d, stepQ, stepR;

    // An edge that bounds nothing.
    EdgeWalk() : q(std::int64_t(1) << 60), r(0), d(1), stepQ(0), stepR(0) {}
    EdgeWalk(std::int64_t rowStart, std::int64_t absStepX, std::int64_t rowStep) : d(absStepX) {
        q = floorDiv(rowStart, d);
        r = rowStart - q * d;
        stepQ = floorDiv(rowStep, d);
        stepR = rowStep - stepQ * d;
    }
    VL_INLINE void nextRow() {
        r += stepR;
        const std::int64_t carry = r >= d ? 1 : 0;
        r -= d & -carry;
        q += stepQ + carry;
    }
};

// Texture times diffuse in colour and alpha, point sampled, then an optional
// alpha test and an optional source-alpha blend: the text overlay's pass.
// It does, pixel by pixel, the general loop's arithmetic in the general
// loop's order, without its per-pixel choices: a byte-to-float table instead
// of the division, the alpha test as a table over the 256 alphas, and the
// alpha worked out first so that a rejected pixel costs nothing more.
struct ModulateSpan {
    const std::uint32_t* texels;
    int width, height;
    DWORD addressU, addressV;
    int u;  // index of the texture coordinates among the attributes
    bool blend, destHasAlpha, depthTest, depthWrite;
    DWORD zFunc;
    std::uint32_t writeMask;
    bool texelsPow2Wrap;      // both axes wrap and are powers of two
    const bool* alphaPasses;  // by 8-bit alpha
    const std::uint16_t* opaqueBefore;  // Texels::opaqueBefore, null when empty
    bool skipsClearRows;                // opaqueBefore is there and alpha 0 fails the test
    // The same test as whether it passes alphas below, equal to and above
    // `alphaRef`.
    std::uint32_t alphaRef;
    bool alphaPassesLess, alphaPassesEqual, alphaPassesGreater;
    const float* fromByte;    // byte / 255 by byte
};

// fromByte(b) for every b, looked up instead of converted per pixel.
const float* byteValues() {
    static const auto table = [] {
        struct Table {
            float v[256];
        } t;
        for (std::uint32_t i = 0; i < 256; ++i)
            t.v[i] = fromByte(i);
        return t;
    }();
    return table.v;
}

// Whether the stage cascade, blend and filter are the ones ModulateSpan does.
bool isModulateSpan(int stageCount, DWORD colorOp, DWORD colorArg1, DWORD colorArg2, DWORD alphaOp, DWORD alphaArg1,
                    DWORD alphaArg2, bool usesTexture, bool linear, bool blend, DWORD srcBlend, DWORD destBlend,
                    DWORD blendOp) {
    // A product is the same whichever operand comes first.
    auto textureTimesDiffuse = [](DWORD a, DWORD b) {
        return (a == D3DTA_TEXTURE && b == D3DTA_DIFFUSE) || (a == D3DTA_DIFFUSE && b == D3DTA_TEXTURE);
    };
    return stageCount == 1 && usesTexture && !linear && colorOp == D3DTOP_MODULATE && alphaOp == D3DTOP_MODULATE &&
           textureTimesDiffuse(colorArg1, colorArg2) && textureTimesDiffuse(alphaArg1, alphaArg2) &&
           (!blend || (srcBlend == D3DBLEND_SRCALPHA && destBlend == D3DBLEND_INVSRCALPHA && blendOp == D3DBLENDOP_ADD));
}

// int(std::floor(v)) without the library call where SSE4.1 is not assumed:
// the same integer for every float, INT_MIN where the conversion overflows.
inline int floorToInt(float v) {
    const int t = int(v);
    return (t != INT_MIN && float(t) > v) ? t - 1 : t;
}

// wrapCoord, with a power-of-two wrap as a mask (`mask` is size - 1 then,
// negative otherwise): two's complement makes i & mask the non-negative
// remainder.
inline int wrapTexel(int i, int size, DWORD mode, int mask) { return mask >= 0 ? (i & mask) : wrapCoord(i, size, mode); }

// kDepth: a depth test or depth writes; kSteadyW: 1/w the same all along the
// row (a zero step from a non-zero start), so that its reciprocal is too.
template <bool kBlend, bool kDepth, bool kSteadyW>
VL_INLINE inline void modulateSpan(const ModulateSpan& m, std::uint32_t* colorRow, float* depthRow, int first,
                                   int last, float z, float dz, float invW, float dw, const float start[8],
                                   const float step[8]) {
    float r = start[0], g = start[1], b = start[2], al = start[3], tu = start[m.u], tv = start[m.u + 1];
    const float dr = step[0], dg = step[1], db = step[2], da = step[3], dtu = step[m.u], dtv = step[m.u + 1];
    const float w = float(m.width), h = float(m.height);
    const int maskU = m.addressU == D3DTADDRESS_WRAP && (m.width & (m.width - 1)) == 0 ? m.width - 1 : -1;
    const int maskV = m.addressV == D3DTADDRESS_WRAP && (m.height & (m.height - 1)) == 0 ? m.height - 1 : -1;
    const float steadyWv = 1.0f / invW;
    for (int x = first; x <= last; ++x) {
        float zHere = 0.0f;
        if (kDepth)
            zHere = z + dz * float(x - first);
        const float wv = kSteadyW ? steadyWv : 1.0f / invW;
        const float vr = r * wv, vg = g * wv, vb = b * wv, va = al * wv, vu = tu * wv, vv = tv * wv;
        r += dr;
        g += dg;
        b += db;
        al += da;
        tu += dtu;
        tv += dtv;
        if (!kSteadyW)
            invW += dw;
        if (kDepth && m.depthTest && !compare(m.zFunc, zHere, depthRow[x]))
            continue;
        const int sx = wrapTexel(floorToInt(vu * w), m.width, m.addressU, maskU);
        const int sy = wrapTexel(floorToInt(vv * h), m.height, m.addressV, maskV);
        const std::uint32_t texel = m.texels[size_t(sy) * size_t(m.width) + size_t(sx)];
        const float alpha = clamp01(m.fromByte[texel >> 24] * clamp01(va));
        const std::uint32_t alphaByte = toByte(alpha);
        if (!m.alphaPasses[alphaByte])
            continue;
        const float red = clamp01(m.fromByte[(texel >> 16) & 0xFF] * clamp01(vr));
        const float green = clamp01(m.fromByte[(texel >> 8) & 0xFF] * clamp01(vg));
        const float blue = clamp01(m.fromByte[texel & 0xFF] * clamp01(vb));
        const std::uint32_t old = colorRow[x];
        std::uint32_t out;
        if (kBlend) {
            const float keep = 1.0f - alpha;
            const float dstAlpha = m.destHasAlpha ? m.fromByte[old >> 24] : 1.0f;
            out = (toByte(alpha * alpha + dstAlpha * keep) << 24) |
                  (toByte(red * alpha + m.fromByte[(old >> 16) & 0xFF] * keep) << 16) |
                  (toByte(green * alpha + m.fromByte[(old >> 8) & 0xFF] * keep) << 8) |
                  toByte(blue * alpha + m.fromByte[old & 0xFF] * keep);
        } else {
            out = (alphaByte << 24) | (toByte(red) << 16) | (toByte(green) << 8) | toByte(blue);
        }
        colorRow[x] = (out & m.writeMask) | (old & ~m.writeMask);
        if (kDepth && m.depthWrite)
            depthRow[x] = zHere;
    }
}

// Whether every pixel of a glyph row (v steady, 1/w steady) samples a texel
// of alpha 0; such a row draws nothing where the alpha test rejects 0 (see
// modulateSpan4). Rather than repeat the span's additions of the u step,
// the texel columns are bounded. Each float addition is off by at most
// 2^-24 of its result (2^-150 where that is subnormal), so after n of them
// u lies within n * 2^-22 * (|u0| + n * |du|) + n * 2^-149 of u0 + n * du,
// four times the worst case; with a finite step u moves one way only, so
// every pixel's u lies between u0 and that interval. A column is u * 1/w *
// width rounded twice, within 2^-21 of the exact product relative to the
// largest one (1e-30 absolute covers subnormals); the floors of the
// widened products take in every column sampled, and perhaps one more.
// The per-row counts then say whether any of those texels is opaque.
VL_INLINE inline bool clearTexelsOnly(const ModulateSpan& m, int steps, float wv, float tu, float tv, float dtu) {
    if (!std::isfinite(tu) || !std::isfinite(dtu))
        return false;
    const double n = double(steps), u0 = double(tu), du = double(dtu);
    const double end = u0 + n * du;
    const double slack = n * 0x1p-22 * (std::fabs(u0) + n * std::fabs(du)) + n * 0x1p-149;
    const double scale = double(wv) * double(m.width);
    const double p0 = u0 * scale, p1 = (end - slack) * scale, p2 = (end + slack) * scale;
    const double lo = std::min(p0, std::min(p1, p2)), hi = std::max(p0, std::max(p1, p2));
    const double margin = 0x1p-21 * std::max(std::fabs(lo), std::fabs(hi)) + 1e-30;
    constexpr double kLimit = 0x1p30;  // the columns stay exact ints
    const float row = tv * wv * float(m.height);
    if (!(lo - margin > -kLimit && hi + margin < kLimit && row > -1073741824.0f && row < 1073741824.0f))
        return false;
    auto floorOf = [](double v) VL_INLINE {
        const std::int64_t t = std::int64_t(v);
        return double(t) > v ? t - 1 : t;
    };
    const std::int64_t a = floorOf(lo - margin), b = floorOf(hi + margin);
    const std::uint16_t* count = m.opaqueBefore + size_t(floorToInt(row) & (m.height - 1)) * size_t(m.width + 1);
    if (b - a >= m.width)
        return count[m.width] == 0;
    const int mask = m.width - 1;
    const int s = int(a & mask), e = int(b & mask);
    return s <= e ? count[e + 1] == count[s] : count[m.width] - count[s] + count[e + 1] == 0;
}

#if defined(__SSE2__)
// The same span four pixels at a time, for the rows where that is exact: no
// depth, 1/w and the colour the same all along the row (zero steps), and a
// power-of-two wrap on both axes. The texture coordinates are still stepped
// one pixel after another, as the one-pixel loop steps them; everything
// else is lane by lane the one-pixel arithmetic (cvttps2dq truncates as the
// scalar conversions do, maxps and minps pick as clamp01 does). The last
// group is masked; it reads and rewrites up to three pixels past the span
// unchanged, which the buffer's padding keeps in bounds.
//
// kSteadyV: v does not step (a glyph quad's row), so the whole row samples
// one texel row. Adding a zero step can only turn -0 into +0, and both land
// on texel row 0 (or both on INT_MIN & mask when 1/w is infinite), so that
// row is the one every pixel of the one-pixel loop samples.
template <bool kBlend, bool kSteadyV>
inline void modulateSpan4(const ModulateSpan& m, std::uint32_t* colorRow, int first, int last, float wv,
                          const float colour[4], float tu, float tv, float dtu, float dtv) {
    const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f), k255 = _mm_set1_ps(255.0f),
                 half = _mm_set1_ps(0.5f), byteScale = _mm_set1_ps(1.0f / 255.0f);
    const __m128i bytes = _mm_set1_epi32(0xFF);
    auto unit = [&](__m128 v) { return _mm_min_ps(one, _mm_max_ps(zero, v)); };
    auto toBytes = [&](__m128 v) { return _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(unit(v), k255), half)); };
    auto channel = [&](__m128i words, int shift) {
        return _mm_mul_ps(_mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(words, shift), bytes)), byteScale);
    };
    // clamp01 of the interpolated colour, the same for every pixel.
    const __m128 cr = _mm_set1_ps(clamp01(colour[0] * wv)), cg = _mm_set1_ps(clamp01(colour[1] * wv)),
                 cb = _mm_set1_ps(clamp01(colour[2] * wv)), ca = _mm_set1_ps(clamp01(colour[3] * wv));
    const __m128 wvv = _mm_set1_ps(wv), w = _mm_set1_ps(float(m.width)), h = _mm_set1_ps(float(m.height));
    const __m128i maskU = _mm_set1_epi32(m.width - 1), maskV = _mm_set1_epi32(m.height - 1);
    const __m128i intMin = _mm_set1_epi32(INT_MIN);
    const __m128i writeMask = _mm_set1_epi32(int(m.writeMask));
    const __m128i count = _mm_set1_epi32(last - first + 1);
    __m128i lane = _mm_set_epi32(3, 2, 1, 0);
    // floorToInt lane by lane.
    auto floors = [&](__m128 v) {
        const __m128i t = _mm_cvttps_epi32(v);
        const __m128i down = _mm_andnot_si128(_mm_cmpeq_epi32(t, intMin),
                                              _mm_castps_si128(_mm_cmpgt_ps(_mm_cvtepi32_ps(t), v)));
        return _mm_add_epi32(t, down);  // down is -1 where the truncation went up
    };
    // The alpha test as its three outcomes against the reference; the alpha
    // bytes are 0..255 here, so signed comparisons order them.
    const __m128i ref = _mm_set1_epi32(int(m.alphaRef));
    const __m128i passLess = _mm_set1_epi32(m.alphaPassesLess ? -1 : 0),
                  passEqual = _mm_set1_epi32(m.alphaPassesEqual ? -1 : 0),
                  passGreater = _mm_set1_epi32(m.alphaPassesGreater ? -1 : 0);
    // A texel of alpha 0 gives alpha 0 whatever the colour (a finite 0..1
    // here), so where the test rejects 0 such a group is done once its
    // texels are read.
    const bool clearRejected = !m.alphaPasses[0];
    const size_t pitch = size_t(m.width);
    const std::uint32_t* steadyRow = nullptr;
    if (kSteadyV) {
        alignas(16) std::int32_t sy[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(sy),
                        _mm_and_si128(floors(_mm_mul_ps(_mm_mul_ps(_mm_set1_ps(tv), wvv), h)), maskV));
        steadyRow = m.texels + size_t(sy[0]) * pitch;
    }
    for (int x = first; x <= last; x += 4) {
        const float u1 = tu + dtu, u2 = u1 + dtu, u3 = u2 + dtu;
        const __m128 us = _mm_setr_ps(tu, u1, u2, u3);
        tu = u3 + dtu;
        const __m128i inSpan = _mm_cmplt_epi32(lane, count);
        lane = _mm_add_epi32(lane, _mm_set1_epi32(4));
        alignas(16) std::int32_t sx[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(sx),
                        _mm_and_si128(floors(_mm_mul_ps(_mm_mul_ps(us, wvv), w)), maskU));
        __m128i texels;
        if (kSteadyV) {
            texels = _mm_setr_epi32(int(steadyRow[sx[0]]), int(steadyRow[sx[1]]), int(steadyRow[sx[2]]),
                                    int(steadyRow[sx[3]]));
        } else {
            const float v1 = tv + dtv, v2 = v1 + dtv, v3 = v2 + dtv;
            const __m128 vs = _mm_setr_ps(tv, v1, v2, v3);
            tv = v3 + dtv;
            alignas(16) std::int32_t sy[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(sy),
                            _mm_and_si128(floors(_mm_mul_ps(_mm_mul_ps(vs, wvv), h)), maskV));
            texels = _mm_setr_epi32(int(m.texels[size_t(sy[0]) * pitch + size_t(sx[0])]),
                                    int(m.texels[size_t(sy[1]) * pitch + size_t(sx[1])]),
                                    int(m.texels[size_t(sy[2]) * pitch + size_t(sx[2])]),
                                    int(m.texels[size_t(sy[3]) * pitch + size_t(sx[3])]));
        }
        if (clearRejected &&
            _mm_movemask_epi8(_mm_andnot_si128(_mm_cmpeq_epi32(_mm_srli_epi32(texels, 24), _mm_setzero_si128()),
                                               inSpan)) == 0)
            continue;
        const __m128 alpha = unit(_mm_mul_ps(channel(texels, 24), ca));
        const __m128i alphaBytes = toBytes(alpha);
        const __m128i pass = _mm_and_si128(
            inSpan, _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_cmplt_epi32(alphaBytes, ref), passLess),
                                              _mm_and_si128(_mm_cmpeq_epi32(alphaBytes, ref), passEqual)),
                                 _mm_and_si128(_mm_cmpgt_epi32(alphaBytes, ref), passGreater)));
        if (_mm_movemask_epi8(pass) == 0)
            continue;
        const __m128 red = unit(_mm_mul_ps(channel(texels, 16), cr));
        const __m128 green = unit(_mm_mul_ps(channel(texels, 8), cg));
        const __m128 blue = unit(_mm_mul_ps(channel(texels, 0), cb));
        auto* at = reinterpret_cast<__m128i*>(colorRow + x);
        const __m128i old = _mm_loadu_si128(at);
        __m128i out;
        if (kBlend) {
            const __m128 keep = _mm_sub_ps(one, alpha);
            const __m128 dstAlpha = m.destHasAlpha ? channel(old, 24) : one;
            auto mix = [&](__m128 src, __m128 dst) { return toBytes(_mm_add_ps(_mm_mul_ps(src, alpha), _mm_mul_ps(dst, keep))); };
            out = _mm_or_si128(_mm_or_si128(_mm_slli_epi32(mix(alpha, dstAlpha), 24),
                                            _mm_slli_epi32(mix(red, channel(old, 16)), 16)),
                               _mm_or_si128(_mm_slli_epi32(mix(green, channel(old, 8)), 8), mix(blue, channel(old, 0))));
        } else {
            out = _mm_or_si128(_mm_or_si128(_mm_slli_epi32(alphaBytes, 24), _mm_slli_epi32(toBytes(red), 16)),
                               _mm_or_si128(_mm_slli_epi32(toBytes(green), 8), toBytes(blue)));
        }
        const __m128i written = _mm_or_si128(_mm_and_si128(out, writeMask), _mm_andnot_si128(writeMask, old));
        _mm_storeu_si128(at, _mm_or_si128(_mm_and_si128(pass, written), _mm_andnot_si128(pass, old)));
    }
}
#endif

// The row's variant, chosen from what the triangle and the row need.
VL_INLINE inline void modulateRow(const ModulateSpan& m, std::uint32_t* colorRow, float* depthRow, int first, int last,
                                  float z, float dz, float invW, float dw, const float start[8],
                                  const float step[8]) {
    const bool depth = m.depthTest || m.depthWrite;
    // Adding a zero step leaves 1/w as it is, but for -0, which becomes +0.
    const bool steady = dw == 0.0f && invW != 0.0f;
#if defined(__SSE2__)
    if (steady && !depth && m.texelsPow2Wrap) {
        // The colour stays put only if its steps are zero and adding them
        // changes nothing (-0 + 0 is +0); NaN colours take the one-pixel loop,
        // whose conversions of NaN differ from cvttps2dq's.
        const float wv = 1.0f / invW;
        bool still = true;
        for (int k = 0; k < 4; ++k)
            still = still && step[k] == 0.0f && !(start[k] == 0.0f && std::signbit(start[k])) &&
                    !std::isnan(start[k] * wv);
        if (still) {
#define VL_MODULATE4(blend, steadyV)                                                                     \
    modulateSpan4<blend, steadyV>(m, colorRow, first, last, wv, start, start[m.u], start[m.u + 1], step[m.u], \
                                  step[m.u + 1])
            if (step[m.u + 1] == 0.0f) {
                if (m.skipsClearRows && clearTexelsOnly(m, last - first, wv, start[m.u], start[m.u + 1], step[m.u]))
                    return;
                m.blend ? VL_MODULATE4(true, true) : VL_MODULATE4(false, true);
            } else {
                m.blend ? VL_MODULATE4(true, false) : VL_MODULATE4(false, false);
            }
#undef VL_MODULATE4
            return;
        }
    }
#endif
#define VL_MODULATE(blend, depth, steady) \
    modulateSpan<blend, depth, steady>(m, colorRow, depthRow, first, last, z, dz, invW, dw, start, step)
    if (m.blend) {
        if (depth)
            steady ? VL_MODULATE(true, true, true) : VL_MODULATE(true, true, false);
        else
            steady ? VL_MODULATE(true, false, true) : VL_MODULATE(true, false, false);
    } else {
        if (depth)
            steady ? VL_MODULATE(false, true, true) : VL_MODULATE(false, true, false);
        else
            steady ? VL_MODULATE(false, false, true) : VL_MODULATE(false, false, false);
    }
#undef VL_MODULATE
}

}  // namespace

void RefRasterizer::rasterize(const PixelPipeline& pipe, const ScreenVertex& a0, const ScreenVertex& b0,
                              const ScreenVertex& c0) {
    // Only pretransformed vertices, which are not clipped, can lie this far
    // out or not be numbers at all; their edge products would overflow 64
    // bits. Within 2^21 pixels (2^29 on the subpixel grid) every product
    // below stays under 2^62. Nothing of such a triangle is drawn.
    constexpr float kFarthest = float(1 << 21);
    auto onGrid = [](float v) { return v > -kFarthest && v < kFarthest; };  // false for NaN
    if (!(onGrid(a0.x) && onGrid(a0.y) && onGrid(b0.x) && onGrid(b0.y) && onGrid(c0.x) && onGrid(c0.y)))
        return;
    // Snap to the subpixel grid; the edge functions are exact from here on.
    auto snap = [](float v) { return std::int64_t(std::floor(v * kSubpixelScale + 0.5f)); };
    const std::int64_t ax = snap(a0.x), ay = snap(a0.y);
    std::int64_t bx = snap(b0.x), by = snap(b0.y);
    std::int64_t cx = snap(c0.x), cy = snap(c0.y);
    const std::int64_t area = (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
    if (area == 0)
        return;
    // Positive area runs clockwise on screen (y down).
    if (pipe.cull == D3DCULL_CCW && area < 0)
        return;
    if (pipe.cull == D3DCULL_CW && area > 0)
        return;
    const ScreenVertex* va = &a0;
    const ScreenVertex* vb = &b0;
    const ScreenVertex* vc = &c0;
    if (area < 0) {
        std::swap(vb, vc);
        std::swap(bx, cx);
        std::swap(by, cy);
    }

    const std::int64_t minX = std::min({ax, bx, cx}), maxX = std::max({ax, bx, cx});
    const std::int64_t minY = std::min({ay, by, cy}), maxY = std::max({ay, by, cy});
    const std::int64_t one = 1 << kSubpixelBits;
    int x0 = int((minX + one - 1) >> kSubpixelBits);  // ceil
    int x1 = int(maxX >> kSubpixelBits);              // floor, inclusive
    int y0 = int((minY + one - 1) >> kSubpixelBits);
    int y1 = int(maxY >> kSubpixelBits);
    x0 = std::max(x0, pipe.clipX0);
    y0 = std::max(y0, pipe.clipY0);
    x1 = std::min(x1, pipe.clipX1 - 1);
    y1 = std::min(y1, pipe.clipY1 - 1);
    if (x0 > x1 || y0 > y1)
        return;

    // Edge e runs from p to q; inside is E > 0, and pixels exactly on a top
    // or left edge count as inside.
    struct Edge {
        std::int64_t stepX, stepY, rowStart;
    };
    auto makeEdge = [&](std::int64_t px, std::int64_t py, std::int64_t qx, std::int64_t qy) {
        const std::int64_t dx = qx - px, dy = qy - py;
        const bool topLeft = dy < 0 || (dy == 0 && dx > 0);
        Edge e;
        const std::int64_t sx = (std::int64_t(x0) << kSubpixelBits), sy = (std::int64_t(y0) << kSubpixelBits);
        e.rowStart = dx * (sy - py) - dy * (sx - px) - (topLeft ? 0 : 1);
        e.stepX = -dy * one;
        e.stepY = dx * one;
        return e;
    };
    Edge e0 = makeEdge(ax, ay, bx, by);
    Edge e1 = makeEdge(bx, by, cx, cy);
    Edge e2 = makeEdge(cx, cy, ax, ay);

    // Plane equations of z, 1/w and attr/w over the snapped positions.
    const float fx0 = float(ax) / kSubpixelScale, fy0 = float(ay) / kSubpixelScale;
    const float fx1 = float(bx) / kSubpixelScale, fy1 = float(by) / kSubpixelScale;
    const float fx2 = float(cx) / kSubpixelScale, fy2 = float(cy) / kSubpixelScale;
    const float det = (fx1 - fx0) * (fy2 - fy0) - (fx2 - fx0) * (fy1 - fy0);
    const float invDet = 1.0f / det;
    struct Plane {
        float base, dx, dy;
    };
    auto plane = [&](float f0, float f1, float f2) {
        Plane p;
        p.dx = ((f1 - f0) * (fy2 - fy0) - (f2 - f0) * (fy1 - fy0)) * invDet;
        p.dy = ((f2 - f0) * (fx1 - fx0) - (f1 - f0) * (fx2 - fx0)) * invDet;
        p.base = f0 + p.dx * (float(x0) - fx0) + p.dy * (float(y0) - fy0);
        return p;
    };
    const bool simple = pipe.stageCount == 0 && !pipe.alphaTest && !pipe.blend && pipe.writeMask == 0xFFFFFFFFu;
    const bool lessEqual = pipe.zFunc == D3DCMP_LESSEQUAL;
    // The span loop is chosen once per triangle, not per row.
    enum class Span { FastDepth, FastNoDepth, SimpleOtherDepth, General };
    const Span span = !simple                                          ? Span::General
                      : !pipe.depthTest                                ? Span::FastNoDepth
                      : (lessEqual && pipe.depthWrite) ? Span::FastDepth : Span::SimpleOtherDepth;
    const int attrCount = pipe.stageCount > 0 ? kAttrCount : 4;
    Plane zPlane, wPlane;
    Plane attr[kAttrCount];
#if defined(__SSE2__)
    // The same planes four at a time, lane by lane the scalar arithmetic:
    // z and 1/w in two lanes, the colour over w in four.
    __m128 attrBase = _mm_setzero_ps(), attrDx = attrBase, attrDy = attrBase;
    auto planes = [&](__m128 f0, __m128 f1, __m128 f2, __m128& base, __m128& dx, __m128& dy) {
        const __m128 d1 = _mm_sub_ps(f1, f0), d2 = _mm_sub_ps(f2, f0);
        const __m128 inv = _mm_set1_ps(invDet);
        dx = _mm_mul_ps(_mm_sub_ps(_mm_mul_ps(d1, _mm_set1_ps(fy2 - fy0)), _mm_mul_ps(d2, _mm_set1_ps(fy1 - fy0))), inv);
        dy = _mm_mul_ps(_mm_sub_ps(_mm_mul_ps(d2, _mm_set1_ps(fx1 - fx0)), _mm_mul_ps(d1, _mm_set1_ps(fx2 - fx0))), inv);
        base = _mm_add_ps(_mm_add_ps(f0, _mm_mul_ps(dx, _mm_set1_ps(float(x0) - fx0))),
                          _mm_mul_ps(dy, _mm_set1_ps(float(y0) - fy0)));
    };
    {
        __m128 base, dx, dy;
        planes(_mm_setr_ps(va->z, va->invW, 0, 0), _mm_setr_ps(vb->z, vb->invW, 0, 0),
               _mm_setr_ps(vc->z, vc->invW, 0, 0), base, dx, dy);
        float lanes[3][4];
        _mm_storeu_ps(lanes[0], base);
        _mm_storeu_ps(lanes[1], dx);
        _mm_storeu_ps(lanes[2], dy);
        zPlane = {lanes[0][0], lanes[1][0], lanes[2][0]};
        wPlane = {lanes[0][1], lanes[1][1], lanes[2][1]};
    }
    const bool fast = span == Span::FastDepth || span == Span::FastNoDepth;
    if (fast) {
        const __m128 fa = _mm_loadu_ps(a0.attr);
        planes(_mm_mul_ps(fa, _mm_set1_ps(va->invW)),
               _mm_mul_ps(pipe.flat ? fa : _mm_loadu_ps(vb->attr), _mm_set1_ps(vb->invW)),
               _mm_mul_ps(pipe.flat ? fa : _mm_loadu_ps(vc->attr), _mm_set1_ps(vc->invW)), attrBase, attrDx, attrDy);
    }
#else
    const bool fast = false;
    zPlane = plane(va->z, vb->z, vc->z);
    wPlane = plane(va->invW, vb->invW, vc->invW);
#endif
    for (int k = 0; k < attrCount && !fast; ++k) {
        if (pipe.flat && k < 4)
            attr[k] = plane(a0.attr[k] * va->invW, a0.attr[k] * vb->invW, a0.attr[k] * vc->invW);
        else
            attr[k] = plane(va->attr[k] * va->invW, vb->attr[k] * vb->invW, vc->attr[k] * vc->invW);
    }

    // Magnification or minification, decided once per triangle from the
    // ratio of its texel area to its pixel area.
    bool linear[kMaxTextureStages] = {};
    for (int s = 0; s < pipe.stageCount; ++s) {
        const PixelPipeline::Stage& st = pipe.stages[s];
        if (!st.usesTexture)
            continue;
        const int u = 4 + 2 * st.coordSet;
        const float tw = float(st.texels->width), th = float(st.texels->height);
        const float du1 = (vb->attr[u] - va->attr[u]) * tw, dv1 = (vb->attr[u + 1] - va->attr[u + 1]) * th;
        const float du2 = (vc->attr[u] - va->attr[u]) * tw, dv2 = (vc->attr[u + 1] - va->attr[u + 1]) * th;
        const float texelArea = std::fabs(du1 * dv2 - du2 * dv1);
        const DWORD filter = texelArea <= std::fabs(det) ? st.magFilter : st.minFilter;
        linear[s] = filter != D3DTEXF_POINT && filter != D3DTEXF_NONE;
    }

    ModulateSpan modulate{};
    const bool modulating =
        span == Span::General && pipe.stageCount == 1 &&
        isModulateSpan(pipe.stageCount, pipe.stages[0].colorOp, pipe.stages[0].colorArg1,
                                                pipe.stages[0].colorArg2, pipe.stages[0].alphaOp,
                                                pipe.stages[0].alphaArg1, pipe.stages[0].alphaArg2,
                                                pipe.stages[0].usesTexture, linear[0], pipe.blend, pipe.srcBlend,
                                                pipe.destBlend, pipe.blendOp);
    if (modulating) {
        const PixelPipeline::Stage& st = pipe.stages[0];
        modulate.texels = st.texels->argb.data();
        modulate.width = int(st.texels->width);
        modulate.height = int(st.texels->height);
        modulate.addressU = st.addressU;
        modulate.addressV = st.addressV;
        modulate.u = 4 + 2 * st.coordSet;
        modulate.blend = pipe.blend;
        modulate.destHasAlpha = pipe.destHasAlpha;
        modulate.depthTest = pipe.depthTest;
        modulate.depthWrite = pipe.depthWrite;
        modulate.zFunc = pipe.zFunc;
        modulate.writeMask = pipe.writeMask;
        auto pow2Wrap = [](DWORD mode, int size) { return mode == D3DTADDRESS_WRAP && (size & (size - 1)) == 0; };
        modulate.texelsPow2Wrap =
            pow2Wrap(modulate.addressU, modulate.width) && pow2Wrap(modulate.addressV, modulate.height);
        modulate.alphaPasses = pipe.alphaPasses;
        modulate.opaqueBefore = st.texels->opaqueBefore.empty() ? nullptr : st.texels->opaqueBefore.data();
        modulate.skipsClearRows = modulate.opaqueBefore && !pipe.alphaPasses[0];
        modulate.alphaRef = pipe.alphaRef;
        modulate.alphaPassesLess = !pipe.alphaTest || compare<std::uint32_t>(pipe.alphaFunc, 0, 1);
        modulate.alphaPassesEqual = !pipe.alphaTest || compare<std::uint32_t>(pipe.alphaFunc, 1, 1);
        modulate.alphaPassesGreater = !pipe.alphaTest || compare<std::uint32_t>(pipe.alphaFunc, 1, 0);
        modulate.fromByte = byteValues();
    }

#if defined(__SSE2__)
    const SpanSteps steps = {_mm_shuffle_ps(attrDx, attrDx, _MM_SHUFFLE(0, 0, 0, 0)),
                             _mm_shuffle_ps(attrDx, attrDx, _MM_SHUFFLE(1, 1, 1, 1)),
                             _mm_shuffle_ps(attrDx, attrDx, _MM_SHUFFLE(2, 2, 2, 2)),
                             _mm_shuffle_ps(attrDx, attrDx, _MM_SHUFFLE(3, 3, 3, 3)),
                             _mm_set1_ps(zPlane.dx),
                             _mm_set1_ps(wPlane.dx)};
#endif

    // An edge with stepX > 0 bounds a row's first pixel, one with stepX < 0
    // its last. Without a horizontal edge one side has two edges, meeting at
    // the middle vertex: above its row only the upper one can bind, from
    // there on only the lower one (the other's bound then takes in the whole
    // closed triangle, and the two agree on the top-left rule at the vertex
    // itself), so a row walks just two edges. A horizontal edge (there is
    // at most one, the area not being zero) leaves one edge on each side
    // and takes or leaves whole rows by the sign of its E.
    const Edge* edges[3] = {&e0, &e1, &e2};
    auto walkerAt = [](const Edge& e, int row) {
        return EdgeWalk(e.rowStart + e.stepY * row, e.stepX > 0 ? e.stepX : -e.stepX, e.stepY);
    };
    const std::int64_t edgeStartY[3] = {ay, by, cy};
    EdgeWalk leftWalk, rightWalk, lowerWalk;
    int switchRow = y1 + 1;
    bool lowerIsLeft = false;
    std::int64_t flatValue = 0, flatStep = 0;
    int lefts = 0, flat = -1;
    for (int i = 0; i < 3; ++i) {
        lefts += edges[i]->stepX > 0 ? 1 : 0;
        if (edges[i]->stepX == 0)
            flat = i;
    }
    if (flat >= 0) {
        flatValue = edges[flat]->rowStart;
        flatStep = edges[flat]->stepY;
        for (int i = 0; i < 3; ++i)
            if (i != flat)
                (edges[i]->stepX > 0 ? leftWalk : rightWalk) = walkerAt(*edges[i], 0);
    } else {
        // The lone edge, then the pair on the other side in drawing order;
        // they share the middle vertex, where the second one starts.
        const bool pairIsLeft = lefts == 2;
        int lone = 0;
        for (int i = 0; i < 3; ++i)
            if ((edges[i]->stepX > 0) != pairIsLeft)
                lone = i;
        const Edge& first = *edges[(lone + 1) % 3];
        const Edge& second = *edges[(lone + 2) % 3];
        const std::int64_t midY = edgeStartY[(lone + 2) % 3];
        // Left edges run upwards, right edges downwards.
        const Edge& upper = pairIsLeft ? second : first;
        const Edge& lower = pairIsLeft ? first : second;
        const int midRow = int((midY + one - 1) >> kSubpixelBits);
        (pairIsLeft ? rightWalk : leftWalk) = walkerAt(*edges[lone], 0);
        EdgeWalk& pairWalk = pairIsLeft ? leftWalk : rightWalk;
        if (midRow <= y0) {
            pairWalk = walkerAt(lower, 0);
        } else {
            pairWalk = walkerAt(upper, 0);
            if (midRow <= y1) {
                switchRow = midRow;
                lowerWalk = walkerAt(lower, midRow - y0);
                lowerIsLeft = pairIsLeft;
            }
        }
    }
    const std::int64_t width = x1 - x0;
    // Locals, not members: the span's stores could alias them otherwise.
    std::uint32_t* const colorBase = color_.data();
    float* const depthBase = hasDepth_ ? depth_.data() : nullptr;
    const size_t pitch = width_;
    // Each kind of span gets a row loop of its own, so that the fast ones
    // keep their walkers and steps in registers.
    auto walkRows = [&](auto&& row) VL_INLINE {
        // Fresh copies that nothing takes the address of stay in registers.
        EdgeWalk left = leftWalk, right = rightWalk;
        std::int64_t flatE = flatValue;
        for (int y = y0; y <= y1; ++y) {
            if (y == switchRow) {
                if (lowerIsLeft)
                    left = lowerWalk;
                else
                    right = lowerWalk;
            }
            const std::int64_t from = std::max<std::int64_t>(0, -left.q);
            std::int64_t to = std::min<std::int64_t>(width, right.q);
            if (flatE < 0)
                to = from - 1;
            left.nextRow();
            right.nextRow();
            flatE += flatStep;
            if (from <= to)
                row(y, x0 + int(from), x0 + int(to));
        }
    };
#if defined(__SSE2__)
    auto fastRows = [&](auto depth, [[maybe_unused]] auto width) VL_INLINE {
        walkRows([&](int y, int first, int last) VL_INLINE {
            const float rowOffset = float(y - y0), colOffset = float(first - x0);
            const float z = zPlane.base + zPlane.dx * colOffset + zPlane.dy * rowOffset;
            const float invW = wPlane.base + wPlane.dx * colOffset + wPlane.dy * rowOffset;
            const __m128 a = _mm_add_ps(_mm_add_ps(attrBase, _mm_mul_ps(attrDx, _mm_set1_ps(colOffset))),
                                        _mm_mul_ps(attrDy, _mm_set1_ps(rowOffset)));
            std::uint32_t* const colorRow = colorBase + size_t(y) * pitch;
            float* const depthRow = decltype(depth)::value ? depthBase + size_t(y) * pitch : nullptr;
#if defined(VL_WIDE_SPANS)
            // Each row takes the narrowest span that draws it in one group,
            // or the widest.
            if constexpr (decltype(width)::value >= 16) {
                if (last - first >= 8) {
                    simpleSpan16<decltype(depth)::value>(colorRow, depthRow, first, last, z, invW, a, steps);
                    return;
                }
            }
            if constexpr (decltype(width)::value >= 8) {
                if (last - first >= 4) {
                    simpleSpan8<decltype(depth)::value>(colorRow, depthRow, first, last, z, invW, a, steps);
                    return;
                }
            }
#endif
            simpleSpan<decltype(depth)::value>(colorRow, depthRow, first, last, z, invW, a, steps);
        });
    };
    auto fastRowsAt = [&](auto width) VL_INLINE {
        if (span == Span::FastDepth)
            fastRows(std::true_type{}, width);
        else
            fastRows(std::false_type{}, width);
    };
    if (span == Span::FastDepth || span == Span::FastNoDepth) {
#if defined(VL_WIDE_SPANS)
        if (spanWidth == 16)
            fastRowsAt(std::integral_constant<int, 16>{});
        else if (spanWidth == 8)
            fastRowsAt(std::integral_constant<int, 8>{});
        else
#endif
            fastRowsAt(std::integral_constant<int, 4>{});
        return;
    }
#endif
    auto generalRow = [&](int y, int first, int last) VL_INLINE {
        const float rowOffset = float(y - y0), colOffset = float(first - x0);
        const float z = zPlane.base + zPlane.dx * colOffset + zPlane.dy * rowOffset;
        float invW = wPlane.base + wPlane.dx * colOffset + wPlane.dy * rowOffset;
        std::uint32_t* colorRow = colorBase + size_t(y) * pitch;
        float* depthRow = depthBase ? depthBase + size_t(y) * pitch : nullptr;

        float a[kAttrCount];
        for (int k = 0; k < attrCount; ++k)
            a[k] = attr[k].base + attr[k].dx * colOffset + attr[k].dy * rowOffset;

        if (modulating) {
            float step[kAttrCount];
            for (int k = 0; k < kAttrCount; ++k)
                step[k] = attr[k].dx;
            modulateRow(modulate, colorRow, depthRow, first, last, z, zPlane.dx, invW, wPlane.dx, a, step);
            return;
        }

        if (span != Span::General) {
#if !defined(__SSE2__)
            const float step[4] = {attr[0].dx, attr[1].dx, attr[2].dx, attr[3].dx};
            if (span == Span::FastDepth) {
                simpleSpan<true>(colorRow, depthRow, first, last, z, zPlane.dx, invW, wPlane.dx, a, step);
                return;
            }
            if (span == Span::FastNoDepth) {
                simpleSpan<false>(colorRow, depthRow, first, last, z, zPlane.dx, invW, wPlane.dx, a, step);
                return;
            }
#endif
            for (int x = first; x <= last; ++x) {
                // Depth is stepped exactly as the fast spans step it, so the
                // same triangle lands on the same depths whatever the pass.
                const float zHere = z + zPlane.dx * float(x - first);
                if (compare(pipe.zFunc, zHere, depthRow[x])) {
                    const float wv = 1.0f / invW;
                    const float c[4] = {a[0] * wv, a[1] * wv, a[2] * wv, a[3] * wv};
                    colorRow[x] = pack(c);
                    if (pipe.depthWrite)
                        depthRow[x] = zHere;
                }
                invW += wPlane.dx;
                for (int k = 0; k < 4; ++k)
                    a[k] += attr[k].dx;
            }
            return;
        }

        for (int x = first; x <= last; ++x) {
            const float zHere = z + zPlane.dx * float(x - first);
            const float wv = 1.0f / invW;
            float v[kAttrCount];
            for (int k = 0; k < attrCount; ++k) {
                v[k] = a[k] * wv;
                a[k] += attr[k].dx;
            }
            invW += wPlane.dx;
            if (pipe.depthTest && !compare(pipe.zFunc, zHere, depthRow[x]))
                continue;

            float diffuse[4] = {clamp01(v[0]), clamp01(v[1]), clamp01(v[2]), clamp01(v[3])};
            float current[4] = {diffuse[0], diffuse[1], diffuse[2], diffuse[3]};
            for (int s = 0; s < pipe.stageCount; ++s) {
                const PixelPipeline::Stage& st = pipe.stages[s];
                float texel[4] = {1, 1, 1, 1};
                if (st.usesTexture)
                    sample(*st.texels, v[4 + 2 * st.coordSet], v[5 + 2 * st.coordSet], linear[s], st.addressU,
                           st.addressV, texel);
                float a1[4], a2[4], result[4];
                selectArg(st.colorArg1, diffuse, current, texel, pipe.textureFactor, a1);
                selectArg(st.colorArg2, diffuse, current, texel, pipe.textureFactor, a2);
                for (int k = 0; k < 3; ++k)
                    result[k] = combine(st.colorOp, a1[k], a2[k], diffuse, current, texel, pipe.textureFactor);
                if (st.alphaOp == D3DTOP_DISABLE) {
                    result[3] = current[3];
                } else {
                    selectArg(st.alphaArg1, diffuse, current, texel, pipe.textureFactor, a1);
                    selectArg(st.alphaArg2, diffuse, current, texel, pipe.textureFactor, a2);
                    result[3] = combine(st.alphaOp, a1[3], a2[3], diffuse, current, texel, pipe.textureFactor);
                }
                for (int k = 0; k < 4; ++k)
                    current[k] = clamp01(result[k]);
            }

            std::uint32_t out = pack(current);
            if (pipe.alphaTest && !compare<std::uint32_t>(pipe.alphaFunc, out >> 24, pipe.alphaRef))
                continue;
            const std::uint32_t old = colorRow[x];
            if (pipe.blend) {
                float dst[4];
                unpack(old, dst);
                if (!pipe.destHasAlpha)
                    dst[3] = 1.0f;
                float blended[4];
                for (int k = 0; k < 4; ++k) {
                    const float sf = current[k] * blendFactor(pipe.srcBlend, k, current, dst, pipe.blendFactor, true);
                    const float df = dst[k] * blendFactor(pipe.destBlend, k, current, dst, pipe.blendFactor, false);
                    switch (pipe.blendOp) {
                    case D3DBLENDOP_SUBTRACT: blended[k] = sf - df; break;
                    case D3DBLENDOP_REVSUBTRACT: blended[k] = df - sf; break;
                    case D3DBLENDOP_MIN: blended[k] = std::min(current[k], dst[k]); break;
                    case D3DBLENDOP_MAX: blended[k] = std::max(current[k], dst[k]); break;
                    default: blended[k] = sf + df; break;
                    }
                }
                out = pack(blended);
            }
            colorRow[x] = (out & pipe.writeMask) | (old & ~pipe.writeMask);
            if (pipe.depthWrite)
                depthRow[x] = zHere;
        }
    };
#if defined(__SSE2__)
    // A glyph quad: no depth, and 1/w, the colour and v the same along every
    // row, so that each row is a case for modulateSpan4 that modulateRow
    // would find. Here that is settled once per triangle, and per row only
    // what can still differ from row to row: 1/w being zero, and the
    // colour's -0 and NaN (for which modulateRow takes the one-pixel loop,
    // as generalRow does here).
    const int u = modulate.u;
    if (modulating && !modulate.depthTest && !modulate.depthWrite && modulate.texelsPow2Wrap && wPlane.dx == 0.0f &&
        attr[0].dx == 0.0f && attr[1].dx == 0.0f && attr[2].dx == 0.0f && attr[3].dx == 0.0f &&
        attr[u + 1].dx == 0.0f) {
        // Lane k is the scalar a[k] of generalRow, in the same order.
        const __m128 colourBase = _mm_setr_ps(attr[0].base, attr[1].base, attr[2].base, attr[3].base);
        const __m128 colourDx = _mm_setr_ps(attr[0].dx, attr[1].dx, attr[2].dx, attr[3].dx);
        const __m128 colourDy = _mm_setr_ps(attr[0].dy, attr[1].dy, attr[2].dy, attr[3].dy);
        walkRows([&](int y, int first, int last) VL_INLINE {
            const float rowOffset = float(y - y0), colOffset = float(first - x0);
            const float invW = wPlane.base + wPlane.dx * colOffset + wPlane.dy * rowOffset;
            if (invW != 0.0f) {
                const float wv = 1.0f / invW;
                const __m128 colour = _mm_add_ps(_mm_add_ps(colourBase, _mm_mul_ps(colourDx, _mm_set1_ps(colOffset))),
                                                 _mm_mul_ps(colourDy, _mm_set1_ps(rowOffset)));
                const __m128 scaled = _mm_mul_ps(colour, _mm_set1_ps(wv));
                const int negativeZero =
                    _mm_movemask_ps(_mm_cmpeq_ps(colour, _mm_setzero_ps())) & _mm_movemask_ps(colour);
                if ((negativeZero | _mm_movemask_ps(_mm_cmpunord_ps(scaled, scaled))) == 0) {
                    alignas(16) float c[4];
                    _mm_store_ps(c, colour);
                    const float tu = attr[u].base + attr[u].dx * colOffset + attr[u].dy * rowOffset;
                    const float tv = attr[u + 1].base + attr[u + 1].dx * colOffset + attr[u + 1].dy * rowOffset;
                    if (modulate.skipsClearRows && clearTexelsOnly(modulate, last - first, wv, tu, tv, attr[u].dx))
                        return;
                    std::uint32_t* colorRow = colorBase + size_t(y) * pitch;
                    if (modulate.blend)
                        modulateSpan4<true, true>(modulate, colorRow, first, last, wv, c, tu, tv, attr[u].dx,
                                                  attr[u + 1].dx);
                    else
                        modulateSpan4<false, true>(modulate, colorRow, first, last, wv, c, tu, tv, attr[u].dx,
                                                   attr[u + 1].dx);
                    return;
                }
            }
            generalRow(y, first, last);
        });
        return;
    }
#endif
    walkRows(generalRow);
}

std::unique_ptr<Backend> createRefBackend() { return std::make_unique<RefRasterizer>(); }

namespace testing {

#if defined(VL_WIDE_SPANS)
void LimitRefSpans(int pixels) { spanWidth = std::min(pixels, widestSpan); }
int WidestRefSpan() { return widestSpan; }
#else
void LimitRefSpans(int) {}
int WidestRefSpan() { return 4; }
#endif

}  // namespace testing

}  // namespace platform::d3d9
