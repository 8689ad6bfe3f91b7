// REF's pixel pipeline: the texture stages, the alpha test, blending and
// the depth test, pixel after pixel along a row, and the choice of the
// quicker loops that give the same bits for the common draws.
#include "platform/d3d9/ref_pipeline.h"

#include <cmath>

namespace platform::d3d9::ref {

namespace {

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
bool isModulateSpan(const PixelPipeline& pipe, bool linear) {
    const PixelPipeline::Stage& st = pipe.stages[0];
    // A product is the same whichever operand comes first.
    auto textureTimesDiffuse = [](DWORD a, DWORD b) {
        return (a == D3DTA_TEXTURE && b == D3DTA_DIFFUSE) || (a == D3DTA_DIFFUSE && b == D3DTA_TEXTURE);
    };
    return pipe.stageCount == 1 && st.usesTexture && !linear && st.colorOp == D3DTOP_MODULATE &&
           st.alphaOp == D3DTOP_MODULATE && textureTimesDiffuse(st.colorArg1, st.colorArg2) &&
           textureTimesDiffuse(st.alphaArg1, st.alphaArg2) &&
           (!pipe.blend || (pipe.srcBlend == D3DBLEND_SRCALPHA && pipe.destBlend == D3DBLEND_INVSRCALPHA &&
                            pipe.blendOp == D3DBLENDOP_ADD));
}

}  // namespace

bool modulateSpanFor(const PixelPipeline& pipe, const TrianglePlanes& planes, ModulateSpan& modulate) {
    if (!isModulateSpan(pipe, planes.linear[0]))
        return false;
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
    return true;
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
bool clearTexelsOnly(const ModulateSpan& m, int steps, float wv, float tu, float tv, float dtu) {
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
    auto floorOf = [](double v) {
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

void modulateRow(const ModulateSpan& m, std::uint32_t* colorRow, float* depthRow, int first, int last, float z,
                 float dz, float invW, float dw, const float start[8], const float step[8]) {
    // Adding a zero step leaves 1/w as it is, but for -0, which becomes +0.
    const bool steady = dw == 0.0f && invW != 0.0f;
#if defined(VL_REF_X86_SPANS)
    if (steady && !m.depthTest && !m.depthWrite && m.texelsPow2Wrap) {
        // The colour stays put only if its steps are zero and adding them
        // changes nothing (-0 + 0 is +0); NaN colours take the one-pixel loop,
        // whose conversions of NaN differ from cvttps2dq's.
        const float wv = 1.0f / invW;
        bool still = true;
        for (int k = 0; k < 4; ++k)
            still = still && step[k] == 0.0f && !(start[k] == 0.0f && std::signbit(start[k])) &&
                    !std::isnan(start[k] * wv);
        if (still) {
            const bool steadyV = step[m.u + 1] == 0.0f;
            if (steadyV && m.skipsClearRows &&
                clearTexelsOnly(m, last - first, wv, start[m.u], start[m.u + 1], step[m.u]))
                return;
            modulateSpan4(m, steadyV, colorRow, first, last, wv, start, start[m.u], start[m.u + 1], step[m.u],
                          step[m.u + 1]);
            return;
        }
    }
#endif
    modulateSpan1(m, steady, colorRow, depthRow, first, last, z, dz, invW, dw, start, step);
}

void depthTestedRow(const PixelPipeline& pipe, const TrianglePlanes& planes, std::uint32_t* colorRow,
                    float* depthRow, int y, int first, int last) {
    float z, invW, a[kAttrCount];
    startOfRow(planes, y, first, z, invW, a);
    for (int x = first; x <= last; ++x) {
        // Depth is stepped exactly as the surface spans step it, so the
        // same triangle lands on the same depths whatever the pass.
        const float zHere = z + planes.z.dx * float(x - first);
        if (compare(pipe.zFunc, zHere, depthRow[x])) {
            const float wv = 1.0f / invW;
            const float c[4] = {a[0] * wv, a[1] * wv, a[2] * wv, a[3] * wv};
            colorRow[x] = pack(c);
            if (pipe.depthWrite)
                depthRow[x] = zHere;
        }
        invW += planes.w.dx;
        for (int k = 0; k < 4; ++k)
            a[k] += planes.attr[k].dx;
    }
}

void shadeRow(const PixelPipeline& pipe, const TrianglePlanes& planes, std::uint32_t* colorRow, float* depthRow,
              int y, int first, int last) {
    float z, invW, a[kAttrCount];
    startOfRow(planes, y, first, z, invW, a);
    const int attrCount = planes.attrCount;
    for (int x = first; x <= last; ++x) {
        const float zHere = z + planes.z.dx * float(x - first);
        const float wv = 1.0f / invW;
        float v[kAttrCount];
        for (int k = 0; k < attrCount; ++k) {
            v[k] = a[k] * wv;
            a[k] += planes.attr[k].dx;
        }
        invW += planes.w.dx;
        if (pipe.depthTest && !compare(pipe.zFunc, zHere, depthRow[x]))
            continue;

        float diffuse[4] = {clamp01(v[0]), clamp01(v[1]), clamp01(v[2]), clamp01(v[3])};
        float current[4] = {diffuse[0], diffuse[1], diffuse[2], diffuse[3]};
        for (int s = 0; s < pipe.stageCount; ++s) {
            const PixelPipeline::Stage& st = pipe.stages[s];
            float texel[4] = {1, 1, 1, 1};
            if (st.usesTexture)
                sample(*st.texels, v[4 + 2 * st.coordSet], v[5 + 2 * st.coordSet], planes.linear[s], st.addressU,
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
}

}  // namespace platform::d3d9::ref
