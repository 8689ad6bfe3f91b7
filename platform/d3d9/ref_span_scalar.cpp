// REF's one-pixel loops: the surface span on any processor (and, on x86-64,
// the reference the span test holds the wider ones to), and ModulateSpan's
// loop for every case its four-pixel loop does not take.
#include "platform/d3d9/ref_pipeline.h"

namespace platform::d3d9::ref {

namespace {

// What cvttps2dq gives: the truncated value, INT_MIN where no int holds it.
inline std::uint32_t truncated(float v) {
    return v >= -2147483648.0f && v < 2147483648.0f ? std::uint32_t(int(v)) : 0x80000000u;
}

// The bytes of one channel: (start + delta * k) * 1/w * 255 + 0.5, capped
// at 255 as minps caps it (NaN becomes 255) and truncated.
inline std::uint32_t channelByte(float start, float delta, float k, float wv) {
    const float scaled = (start + delta * k) * wv * 255.0f + 0.5f;
    return truncated(scaled < 255.0f ? scaled : 255.0f);
}

template <bool kDepth>
void surfaceRows(const SurfaceTriangle& t) {
    walkRows(t.rows, [&](int y, int first, int last) {
        const float rowOffset = float(y - t.rows.y0), colOffset = float(first - t.rows.x0);
        float start[4];
        for (int c = 0; c < 4; ++c)
            start[c] = planeAt(t.attr[c], colOffset, rowOffset);
        const float zStart = planeAt(t.z, colOffset, rowOffset), wStart = planeAt(t.w, colOffset, rowOffset);
        std::uint32_t* const colorRow = t.color + size_t(y) * t.pitch;
        float* const depthRow = kDepth ? t.depth + size_t(y) * t.pitch : nullptr;
        for (int x = first; x <= last; ++x) {
            const float k = float(x - first);
            const float wv = 1.0f / (wStart + t.w.dx * k);
            const std::uint32_t out = (channelByte(start[3], t.attr[3].dx, k, wv) << 24) |
                                      (channelByte(start[0], t.attr[0].dx, k, wv) << 16) |
                                      (channelByte(start[1], t.attr[1].dx, k, wv) << 8) |
                                      channelByte(start[2], t.attr[2].dx, k, wv);
            if (kDepth) {
                const float z = zStart + t.z.dx * k;
                if (z <= depthRow[x]) {
                    colorRow[x] = out;
                    depthRow[x] = z;
                }
            } else {
                colorRow[x] = out;
            }
        }
    });
}

// wrapCoord, with a power-of-two wrap as a mask (`mask` is size - 1 then,
// negative otherwise): two's complement makes i & mask the non-negative
// remainder.
inline int wrapTexel(int i, int size, DWORD mode, int mask) { return mask >= 0 ? (i & mask) : wrapCoord(i, size, mode); }

template <bool kBlend, bool kDepth, bool kSteadyW>
void modulateSpan(const ModulateSpan& m, std::uint32_t* colorRow, float* depthRow, int first, int last, float z,
                  float dz, float invW, float dw, const float start[8], const float step[8]) {
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

}  // namespace

const SurfaceSpan kSurfaceSpan1 = {
    1, [](const SurfaceTriangle& t) { t.depth ? surfaceRows<true>(t) : surfaceRows<false>(t); }};

void modulateSpan1(const ModulateSpan& m, bool steadyW, std::uint32_t* colorRow, float* depthRow, int first,
                   int last, float z, float dz, float invW, float dw, const float start[8], const float step[8]) {
#define VL_MODULATE(blend, depth, steady) \
    modulateSpan<blend, depth, steady>(m, colorRow, depthRow, first, last, z, dz, invW, dw, start, step)
    const bool depth = m.depthTest || m.depthWrite;
    if (m.blend) {
        if (depth)
            steadyW ? VL_MODULATE(true, true, true) : VL_MODULATE(true, true, false);
        else
            steadyW ? VL_MODULATE(true, false, true) : VL_MODULATE(true, false, false);
    } else {
        if (depth)
            steadyW ? VL_MODULATE(false, true, true) : VL_MODULATE(false, true, false);
        else
            steadyW ? VL_MODULATE(false, false, true) : VL_MODULATE(false, false, false);
    }
#undef VL_MODULATE
}

}  // namespace platform::d3d9::ref
