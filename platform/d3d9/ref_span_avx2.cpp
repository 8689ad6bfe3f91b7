// The surface span eight pixels at a time. This file alone is compiled with
// -mavx2; REF calls it only where the processor has AVX2.
#include "platform/d3d9/ref_spans.h"

#include <immintrin.h>

namespace platform::d3d9::ref {

namespace {

// The bytes of one channel: (start + delta * k) * 1/w * 255 + 0.5, capped
// at 255 and truncated.
inline __m256i channelBytes(__m256 start, __m256 delta, __m256 k, __m256 wv) {
    const __m256 k255 = _mm256_set1_ps(255.0f);
    const __m256 v = _mm256_add_ps(start, _mm256_mul_ps(delta, k));
    const __m256 scaled = _mm256_add_ps(_mm256_mul_ps(_mm256_mul_ps(v, wv), k255), _mm256_set1_ps(0.5f));
    return _mm256_cvttps_epi32(_mm256_min_ps(scaled, k255));
}

// The last group is masked; it reads and rewrites up to seven pixels past
// the span unchanged (kSpanOverrun), which the buffers' padding keeps in
// bounds. _CMP_LE_OS is the 4-pixel span's cmpleps.
template <bool kDepth>
void surfaceRows(const SurfaceTriangle& t) {
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 dr = _mm256_set1_ps(t.attr[0].dx), dg = _mm256_set1_ps(t.attr[1].dx),
                 db = _mm256_set1_ps(t.attr[2].dx), da = _mm256_set1_ps(t.attr[3].dx), dz = _mm256_set1_ps(t.z.dx),
                 dw = _mm256_set1_ps(t.w.dx);
    walkRows(t.rows, [&](int y, int first, int last) {
        const float rowOffset = float(y - t.rows.y0), colOffset = float(first - t.rows.x0);
        const __m256 r = _mm256_set1_ps(planeAt(t.attr[0], colOffset, rowOffset)),
                     g = _mm256_set1_ps(planeAt(t.attr[1], colOffset, rowOffset)),
                     b = _mm256_set1_ps(planeAt(t.attr[2], colOffset, rowOffset)),
                     al = _mm256_set1_ps(planeAt(t.attr[3], colOffset, rowOffset));
        const __m256 zStart = _mm256_set1_ps(planeAt(t.z, colOffset, rowOffset)),
                     wStart = _mm256_set1_ps(planeAt(t.w, colOffset, rowOffset));
        std::uint32_t* const colorRow = t.color + size_t(y) * t.pitch;
        float* const depthRow = kDepth ? t.depth + size_t(y) * t.pitch : nullptr;
        const __m256i count = _mm256_set1_epi32(last - first + 1);
        __m256 k = _mm256_setr_ps(0.0f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f);
        __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
        for (int x = first; x <= last; x += 8) {
            const __m256 wv = _mm256_div_ps(one, _mm256_add_ps(wStart, _mm256_mul_ps(dw, k)));
            const __m256i out = _mm256_or_si256(
                _mm256_or_si256(_mm256_slli_epi32(channelBytes(al, da, k, wv), 24),
                                _mm256_slli_epi32(channelBytes(r, dr, k, wv), 16)),
                _mm256_or_si256(_mm256_slli_epi32(channelBytes(g, dg, k, wv), 8), channelBytes(b, db, k, wv)));
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
            _mm256_storeu_si256(colors,
                                _mm256_or_si256(_mm256_and_si256(mask, out), _mm256_andnot_si256(mask, oldColors)));
            k = _mm256_add_ps(k, _mm256_set1_ps(8.0f));
            lane = _mm256_add_epi32(lane, _mm256_set1_epi32(8));
        }
    });
}

}  // namespace

const SurfaceSpan kSurfaceSpan8 = {
    8, [](const SurfaceTriangle& t) { t.depth ? surfaceRows<true>(t) : surfaceRows<false>(t); }};

}  // namespace platform::d3d9::ref
