// What the stages of REF's software rasterizer hand one another: the pixel
// pipeline's settings for a draw, a triangle's interpolation planes, and the
// arithmetic every stage must do alike for the picture to stay the same
// whichever loop draws a pixel.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>

#include "platform/d3d9/ref_rasterizer.h"
#include "platform/d3d9/ref_spans.h"

namespace platform::d3d9::ref {

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

// int(std::floor(v)) without the library call where SSE4.1 is not assumed:
// the same integer for every float, INT_MIN where the conversion overflows.
inline int floorToInt(float v) {
    const int t = int(v);
    return (t != INT_MIN && float(t) > v) ? t - 1 : t;
}

// The draw's settings, read once from the device state.
struct PixelPipeline {
    struct Stage {
        DWORD colorOp, colorArg1, colorArg2, alphaOp, alphaArg1, alphaArg2;
        const RefRasterizer::Texels* texels;
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

// A triangle ready for its rows: the planes of z, 1/w and attr/w, and the
// filter each texture stage uses over it.
struct TrianglePlanes {
    int x0, y0;  // the bounding box's first pixel, where the planes start
    Plane z, w;
    Plane attr[kAttrCount];
    int attrCount;
    bool linear[kMaxTextureStages];
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

// A row's z, 1/w and attributes over w at its first pixel.
inline void startOfRow(const TrianglePlanes& planes, int y, int first, float& z, float& invW, float* attr) {
    const float rowOffset = float(y - planes.y0), colOffset = float(first - planes.x0);
    z = planes.z.base + planes.z.dx * colOffset + planes.z.dy * rowOffset;
    invW = planes.w.base + planes.w.dx * colOffset + planes.w.dy * rowOffset;
    for (int k = 0; k < planes.attrCount; ++k)
        attr[k] = planes.attr[k].base + planes.attr[k].dx * colOffset + planes.attr[k].dy * rowOffset;
}

// The surface span loop in use: the widest the processor runs, or the one a
// test held it to. ref_rasterizer.cpp.
const SurfaceSpan& surfaceSpan();

// Texture stage: ref_texture.cpp.
void sample(const RefRasterizer::Texels& t, float u, float v, bool linear, DWORD addressU, DWORD addressV,
            float out[4]);

// Pixel stage: ref_pixel.cpp. Whether the draw is ModulateSpan's, and if so
// its settings for the triangle.
bool modulateSpanFor(const PixelPipeline& pipe, const TrianglePlanes& planes, ModulateSpan& out);
// A row of ModulateSpan's pass, by the quickest loop that gives its bits.
void modulateRow(const ModulateSpan& m, std::uint32_t* colorRow, float* depthRow, int first, int last, float z,
                 float dz, float invW, float dw, const float start[8], const float step[8]);
// Whether a glyph row samples clear texels only, so that it draws nothing.
bool clearTexelsOnly(const ModulateSpan& m, int steps, float wv, float tu, float tv, float dtu);
// A row of any other draw, one pixel after another.
void shadeRow(const PixelPipeline& pipe, const TrianglePlanes& planes, std::uint32_t* colorRow, float* depthRow,
              int y, int first, int last);
// A row of the untextured, unblended surface under any depth test but the
// surface spans'.
void depthTestedRow(const PixelPipeline& pipe, const TrianglePlanes& planes, std::uint32_t* colorRow,
                    float* depthRow, int y, int first, int last);

// ModulateSpan's loops. One pixel at a time, for every case: kDepth means a
// depth test or depth writes; kSteadyW, 1/w the same all along the row (a
// zero step from a non-zero start), so that its reciprocal is too.
// ref_span_scalar.cpp.
void modulateSpan1(const ModulateSpan& m, bool steadyW, std::uint32_t* colorRow, float* depthRow, int first,
                   int last, float z, float dz, float invW, float dw, const float start[8], const float step[8]);
#if defined(VL_REF_X86_SPANS)
// Four pixels at a time, where that is exact: no depth, 1/w and the colour
// the same all along the row, a power-of-two wrap on both axes. kSteadyV:
// v does not step (a glyph quad's row). ref_span_sse2.cpp.
void modulateSpan4(const ModulateSpan& m, bool steadyV, std::uint32_t* colorRow, int first, int last, float wv,
                   const float colour[4], float tu, float tv, float dtu, float dtv);
#endif

}  // namespace platform::d3d9::ref
