// The surface span sixteen pixels at a time. This file alone is compiled
// with -mavx512f; REF calls it only where the processor has AVX-512.
#include "platform/d3d9/ref_spans.h"

#include <immintrin.h>

namespace platform::d3d9::ref {

namespace {

// The zero-masked forms of the intrinsics, all lanes on: GCC 12's plain
// forms start from an "undefined" vector that -Wuninitialized reports.
constexpr __mmask16 kAllLanes = 0xFFFF;

// The bytes of one channel: (start + delta * k) * 1/w * 255 + 0.5, capped
// at 255 and truncated.
inline __m512i channelBytes(__m512 start, __m512 delta, __m512 k, __m512 wv) {
    const __m512 k255 = _mm512_set1_ps(255.0f);
    const __m512 v = _mm512_add_ps(start, _mm512_mul_ps(delta, k));
    const __m512 scaled = _mm512_add_ps(_mm512_mul_ps(_mm512_mul_ps(v, wv), k255), _mm512_set1_ps(0.5f));
    return _mm512_maskz_cvttps_epi32(kAllLanes, _mm512_maskz_min_ps(kAllLanes, scaled, k255));
}

// The last group's lanes past the span are masked off, neither read nor
// written.
template <bool kDepth>
void surfaceRows(const SurfaceTriangle& t) {
    const __m512 one = _mm512_set1_ps(1.0f);
    const __m512 dr = _mm512_set1_ps(t.attr[0].dx), dg = _mm512_set1_ps(t.attr[1].dx),
                 db = _mm512_set1_ps(t.attr[2].dx), da = _mm512_set1_ps(t.attr[3].dx), dz = _mm512_set1_ps(t.z.dx),
                 dw = _mm512_set1_ps(t.w.dx);
    walkRows(t.rows, [&](int y, int first, int last) {
        const float rowOffset = float(y - t.rows.y0), colOffset = float(first - t.rows.x0);
        const __m512 r = _mm512_set1_ps(planeAt(t.attr[0], colOffset, rowOffset)),
                     g = _mm512_set1_ps(planeAt(t.attr[1], colOffset, rowOffset)),
                     b = _mm512_set1_ps(planeAt(t.attr[2], colOffset, rowOffset)),
                     al = _mm512_set1_ps(planeAt(t.attr[3], colOffset, rowOffset));
        const __m512 zStart = _mm512_set1_ps(planeAt(t.z, colOffset, rowOffset)),
                     wStart = _mm512_set1_ps(planeAt(t.w, colOffset, rowOffset));
        std::uint32_t* const colorRow = t.color + size_t(y) * t.pitch;
        float* const depthRow = kDepth ? t.depth + size_t(y) * t.pitch : nullptr;
        const __m512i count = _mm512_set1_epi32(last - first + 1);
        __m512 k = _mm512_setr_ps(0.0f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f, 8.0f, 9.0f, 10.0f, 11.0f, 12.0f,
                                  13.0f, 14.0f, 15.0f);
        __m512i lane = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
        for (int x = first; x <= last; x += 16) {
            const __m512 wv = _mm512_div_ps(one, _mm512_add_ps(wStart, _mm512_mul_ps(dw, k)));
            const __m512i out = _mm512_or_si512(
                _mm512_or_si512(_mm512_maskz_slli_epi32(kAllLanes, channelBytes(al, da, k, wv), 24),
                                _mm512_maskz_slli_epi32(kAllLanes, channelBytes(r, dr, k, wv), 16)),
                _mm512_or_si512(_mm512_maskz_slli_epi32(kAllLanes, channelBytes(g, dg, k, wv), 8),
                                channelBytes(b, db, k, wv)));
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
    });
}

}  // namespace

const SurfaceSpan kSurfaceSpan16 = {
    16, [](const SurfaceTriangle& t) { t.depth ? surfaceRows<true>(t) : surfaceRows<false>(t); }};

}  // namespace platform::d3d9::ref
