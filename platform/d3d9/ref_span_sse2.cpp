// The four-pixel loops: the surface span, and ModulateSpan's rows where
// four at a time is exact. SSE2 is part of x86-64, so this file needs no
// flags of its own.
#include "platform/d3d9/ref_pipeline.h"

#include <emmintrin.h>

namespace platform::d3d9::ref {

namespace {

// The last group is masked: it reads and rewrites up to three pixels past
// the span unchanged, which the buffers' padding (kSpanOverrun) keeps in
// bounds.
template <bool kDepth>
void surfaceRows(const SurfaceTriangle& t) {
    const __m128 k255 = _mm_set1_ps(255.0f), half = _mm_set1_ps(0.5f), one = _mm_set1_ps(1.0f);
    const __m128 dr = _mm_set1_ps(t.attr[0].dx), dg = _mm_set1_ps(t.attr[1].dx), db = _mm_set1_ps(t.attr[2].dx),
                 da = _mm_set1_ps(t.attr[3].dx), dz = _mm_set1_ps(t.z.dx), dw = _mm_set1_ps(t.w.dx);
    walkRows(t.rows, [&](int y, int first, int last) {
        const float rowOffset = float(y - t.rows.y0), colOffset = float(first - t.rows.x0);
        const __m128 r = _mm_set1_ps(planeAt(t.attr[0], colOffset, rowOffset)),
                     g = _mm_set1_ps(planeAt(t.attr[1], colOffset, rowOffset)),
                     b = _mm_set1_ps(planeAt(t.attr[2], colOffset, rowOffset)),
                     al = _mm_set1_ps(planeAt(t.attr[3], colOffset, rowOffset));
        const __m128 zStart = _mm_set1_ps(planeAt(t.z, colOffset, rowOffset)),
                     wStart = _mm_set1_ps(planeAt(t.w, colOffset, rowOffset));
        std::uint32_t* const colorRow = t.color + size_t(y) * t.pitch;
        float* const depthRow = kDepth ? t.depth + size_t(y) * t.pitch : nullptr;
        const __m128i count = _mm_set1_epi32(last - first + 1);
        __m128 k = _mm_set_ps(3.0f, 2.0f, 1.0f, 0.0f);
        __m128i lane = _mm_set_epi32(3, 2, 1, 0);
        for (int x = first; x <= last; x += 4) {
            const __m128 wv = _mm_div_ps(one, _mm_add_ps(wStart, _mm_mul_ps(dw, k)));
            auto bytes = [&](__m128 begin, __m128 delta) {
                const __m128 v = _mm_add_ps(begin, _mm_mul_ps(delta, k));
                const __m128 scaled = _mm_add_ps(_mm_mul_ps(_mm_mul_ps(v, wv), k255), half);
                return _mm_cvttps_epi32(_mm_min_ps(scaled, k255));
            };
            const __m128i out =
                _mm_or_si128(_mm_or_si128(_mm_slli_epi32(bytes(al, da), 24), _mm_slli_epi32(bytes(r, dr), 16)),
                             _mm_or_si128(_mm_slli_epi32(bytes(g, dg), 8), bytes(b, db)));
            __m128i mask = _mm_cmplt_epi32(lane, count);
            auto* colors = reinterpret_cast<__m128i*>(colorRow + x);
            const __m128i oldColors = _mm_loadu_si128(colors);
            if (kDepth) {
                const __m128 zv = _mm_add_ps(zStart, _mm_mul_ps(dz, k));
                const __m128 old = _mm_loadu_ps(depthRow + x);
                mask = _mm_and_si128(mask, _mm_castps_si128(_mm_cmple_ps(zv, old)));
                const __m128 pass = _mm_castsi128_ps(mask);
                _mm_storeu_ps(depthRow + x, _mm_or_ps(_mm_and_ps(pass, zv), _mm_andnot_ps(pass, old)));
            }
            _mm_storeu_si128(colors, _mm_or_si128(_mm_and_si128(mask, out), _mm_andnot_si128(mask, oldColors)));
            k = _mm_add_ps(k, _mm_set1_ps(4.0f));
            lane = _mm_add_epi32(lane, _mm_set1_epi32(4));
        }
    });
}

// ModulateSpan four pixels at a time, for the rows where that is exact: no
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
void modulateGroups(const ModulateSpan& m, std::uint32_t* colorRow, int first, int last, float wv,
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
}  // namespace

const SurfaceSpan kSurfaceSpan4 = {
    4, [](const SurfaceTriangle& t) { t.depth ? surfaceRows<true>(t) : surfaceRows<false>(t); }};

void modulateSpan4(const ModulateSpan& m, bool steadyV, std::uint32_t* colorRow, int first, int last, float wv,
                   const float colour[4], float tu, float tv, float dtu, float dtv) {
    if (m.blend)
        steadyV ? modulateGroups<true, true>(m, colorRow, first, last, wv, colour, tu, tv, dtu, dtv)
                : modulateGroups<true, false>(m, colorRow, first, last, wv, colour, tu, tv, dtu, dtv);
    else
        steadyV ? modulateGroups<false, true>(m, colorRow, first, last, wv, colour, tu, tv, dtu, dtv)
                : modulateGroups<false, false>(m, colorRow, first, last, wv, colour, tu, tv, dtu, dtv);
}

}  // namespace platform::d3d9::ref
