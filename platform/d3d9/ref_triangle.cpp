// REF's triangle stage: a screen triangle snapped to the subpixel grid,
// culled, given the planes its values are interpolated on, and walked row by
// row, each row handed to the loop that draws the draw's kind of pixel.
#include "platform/d3d9/ref_pipeline.h"

#include <cmath>

namespace platform::d3d9 {

using namespace ref;

namespace {

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

EdgeWalk edgeWalk(std::int64_t rowStart, std::int64_t absStepX, std::int64_t rowStep) {
    EdgeWalk e;
    e.d = absStepX;
    e.q = floorDiv(rowStart, e.d);
    e.r = rowStart - e.q * e.d;
    e.stepQ = floorDiv(rowStep, e.d);
    e.stepR = rowStep - e.stepQ * e.d;
    return e;
}

// A triangle on the subpixel grid, clockwise on screen, with the pixels it
// may cover (inclusive, within the clip rectangle).
struct GridTriangle {
    const RefRasterizer::ScreenVertex *a, *b, *c;
    std::int64_t ax, ay, bx, by, cx, cy;
    int x0, y0, x1, y1;
};

constexpr std::int64_t kOne = 1 << kSubpixelBits;

// Snaps, culls and bounds the triangle; false when nothing of it is drawn.
bool snap(const PixelPipeline& pipe, const RefRasterizer::ScreenVertex& a0, const RefRasterizer::ScreenVertex& b0,
          const RefRasterizer::ScreenVertex& c0, GridTriangle& t) {
    // Only pretransformed vertices, which are not clipped, can lie this far
    // out or not be numbers at all; their edge products would overflow 64
    // bits. Within 2^21 pixels (2^29 on the subpixel grid) every product
    // below stays under 2^62. Nothing of such a triangle is drawn.
    constexpr float kFarthest = float(1 << 21);
    auto onGrid = [](float v) { return v > -kFarthest && v < kFarthest; };  // false for NaN
    if (!(onGrid(a0.x) && onGrid(a0.y) && onGrid(b0.x) && onGrid(b0.y) && onGrid(c0.x) && onGrid(c0.y)))
        return false;
    // The edge functions are exact from here on.
    auto toGrid = [](float v) { return std::int64_t(std::floor(v * kSubpixelScale + 0.5f)); };
    t.ax = toGrid(a0.x), t.ay = toGrid(a0.y);
    t.bx = toGrid(b0.x), t.by = toGrid(b0.y);
    t.cx = toGrid(c0.x), t.cy = toGrid(c0.y);
    const std::int64_t area = (t.bx - t.ax) * (t.cy - t.ay) - (t.by - t.ay) * (t.cx - t.ax);
    if (area == 0)
        return false;
    // Positive area runs clockwise on screen (y down).
    if (pipe.cull == D3DCULL_CCW && area < 0)
        return false;
    if (pipe.cull == D3DCULL_CW && area > 0)
        return false;
    t.a = &a0;
    t.b = &b0;
    t.c = &c0;
    if (area < 0) {
        std::swap(t.b, t.c);
        std::swap(t.bx, t.cx);
        std::swap(t.by, t.cy);
    }

    const std::int64_t minX = std::min({t.ax, t.bx, t.cx}), maxX = std::max({t.ax, t.bx, t.cx});
    const std::int64_t minY = std::min({t.ay, t.by, t.cy}), maxY = std::max({t.ay, t.by, t.cy});
    t.x0 = std::max(int((minX + kOne - 1) >> kSubpixelBits), pipe.clipX0);  // ceil
    t.y0 = std::max(int((minY + kOne - 1) >> kSubpixelBits), pipe.clipY0);
    t.x1 = std::min(int(maxX >> kSubpixelBits), pipe.clipX1 - 1);  // floor, inclusive
    t.y1 = std::min(int(maxY >> kSubpixelBits), pipe.clipY1 - 1);
    return t.x0 <= t.x1 && t.y0 <= t.y1;
}

// The planes of z, 1/w and attr/w over the snapped positions, and each
// texture stage's filter: magnification or minification, decided once per
// triangle from the ratio of its texel area to its pixel area.
TrianglePlanes planesOf(const PixelPipeline& pipe, const GridTriangle& t) {
    const RefRasterizer::ScreenVertex &va = *t.a, &vb = *t.b, &vc = *t.c;
    const float fx0 = float(t.ax) / kSubpixelScale, fy0 = float(t.ay) / kSubpixelScale;
    const float fx1 = float(t.bx) / kSubpixelScale, fy1 = float(t.by) / kSubpixelScale;
    const float fx2 = float(t.cx) / kSubpixelScale, fy2 = float(t.cy) / kSubpixelScale;
    const float det = (fx1 - fx0) * (fy2 - fy0) - (fx2 - fx0) * (fy1 - fy0);
    const float invDet = 1.0f / det;
    auto plane = [&](float f0, float f1, float f2) {
        Plane p;
        p.dx = ((f1 - f0) * (fy2 - fy0) - (f2 - f0) * (fy1 - fy0)) * invDet;
        p.dy = ((f2 - f0) * (fx1 - fx0) - (f1 - f0) * (fx2 - fx0)) * invDet;
        p.base = f0 + p.dx * (float(t.x0) - fx0) + p.dy * (float(t.y0) - fy0);
        return p;
    };
    TrianglePlanes planes{};
    planes.x0 = t.x0;
    planes.y0 = t.y0;
    planes.z = plane(va.z, vb.z, vc.z);
    planes.w = plane(va.invW, vb.invW, vc.invW);
    planes.attrCount = pipe.stageCount > 0 ? kAttrCount : 4;
    for (int k = 0; k < planes.attrCount; ++k) {
        // Flat shading takes the first vertex's colour (the first as drawn,
        // which the winding never moves).
        if (pipe.flat && k < 4)
            planes.attr[k] = plane(va.attr[k] * va.invW, va.attr[k] * vb.invW, va.attr[k] * vc.invW);
        else
            planes.attr[k] = plane(va.attr[k] * va.invW, vb.attr[k] * vb.invW, vc.attr[k] * vc.invW);
    }

    for (int s = 0; s < pipe.stageCount; ++s) {
        const PixelPipeline::Stage& st = pipe.stages[s];
        if (!st.usesTexture)
            continue;
        const int u = 4 + 2 * st.coordSet;
        const float tw = float(st.texels->width), th = float(st.texels->height);
        const float du1 = (vb.attr[u] - va.attr[u]) * tw, dv1 = (vb.attr[u + 1] - va.attr[u + 1]) * th;
        const float du2 = (vc.attr[u] - va.attr[u]) * tw, dv2 = (vc.attr[u + 1] - va.attr[u + 1]) * th;
        const float texelArea = std::fabs(du1 * dv2 - du2 * dv1);
        const DWORD filter = texelArea <= std::fabs(det) ? st.magFilter : st.minFilter;
        planes.linear[s] = filter != D3DTEXF_POINT && filter != D3DTEXF_NONE;
    }
    return planes;
}

// An edge with stepX > 0 bounds a row's first pixel, one with stepX < 0 its
// last. Without a horizontal edge one side has two edges, meeting at the
// middle vertex: above its row only the upper one can bind, from there on
// only the lower one (the other's bound then takes in the whole closed
// triangle, and the two agree on the top-left rule at the vertex itself), so
// a row walks just two edges. A horizontal edge (there is at most one, the
// area not being zero) leaves one edge on each side and takes or leaves
// whole rows by the sign of its E.
RowWalk rowWalkOf(const GridTriangle& t) {
    // Edge e runs from p to q; inside is E > 0, and pixels exactly on a top
    // or left edge count as inside.
    struct Edge {
        std::int64_t stepX, stepY, rowStart;
    };
    auto makeEdge = [&](std::int64_t px, std::int64_t py, std::int64_t qx, std::int64_t qy) {
        const std::int64_t dx = qx - px, dy = qy - py;
        const bool topLeft = dy < 0 || (dy == 0 && dx > 0);
        Edge e;
        const std::int64_t sx = (std::int64_t(t.x0) << kSubpixelBits), sy = (std::int64_t(t.y0) << kSubpixelBits);
        e.rowStart = dx * (sy - py) - dy * (sx - px) - (topLeft ? 0 : 1);
        e.stepX = -dy * kOne;
        e.stepY = dx * kOne;
        return e;
    };
    const Edge e0 = makeEdge(t.ax, t.ay, t.bx, t.by);
    const Edge e1 = makeEdge(t.bx, t.by, t.cx, t.cy);
    const Edge e2 = makeEdge(t.cx, t.cy, t.ax, t.ay);

    const Edge* edges[3] = {&e0, &e1, &e2};
    auto walkerAt = [](const Edge& e, int row) {
        return edgeWalk(e.rowStart + e.stepY * row, e.stepX > 0 ? e.stepX : -e.stepX, e.stepY);
    };
    const std::int64_t edgeStartY[3] = {t.ay, t.by, t.cy};
    RowWalk walk;
    walk.x0 = t.x0;
    walk.y0 = t.y0;
    walk.x1 = t.x1;
    walk.y1 = t.y1;
    walk.switchRow = t.y1 + 1;
    int lefts = 0, flat = -1;
    for (int i = 0; i < 3; ++i) {
        lefts += edges[i]->stepX > 0 ? 1 : 0;
        if (edges[i]->stepX == 0)
            flat = i;
    }
    if (flat >= 0) {
        walk.flatValue = edges[flat]->rowStart;
        walk.flatStep = edges[flat]->stepY;
        for (int i = 0; i < 3; ++i)
            if (i != flat)
                (edges[i]->stepX > 0 ? walk.left : walk.right) = walkerAt(*edges[i], 0);
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
        const int midRow = int((midY + kOne - 1) >> kSubpixelBits);
        (pairIsLeft ? walk.right : walk.left) = walkerAt(*edges[lone], 0);
        EdgeWalk& pairWalk = pairIsLeft ? walk.left : walk.right;
        if (midRow <= t.y0) {
            pairWalk = walkerAt(lower, 0);
        } else {
            pairWalk = walkerAt(upper, 0);
            if (midRow <= t.y1) {
                walk.switchRow = midRow;
                walk.lower = walkerAt(lower, midRow - t.y0);
                walk.lowerIsLeft = pairIsLeft;
            }
        }
    }
    return walk;
}

// The back buffer and depth buffer, row by row.
struct Buffers {
    std::uint32_t* color;
    float* depth;  // null without one
    size_t pitch;
    std::uint32_t* colorRow(int y) const { return color + size_t(y) * pitch; }
    float* depthRow(int y) const { return depth ? depth + size_t(y) * pitch : nullptr; }
};

#if defined(VL_REF_X86_SPANS)
// A glyph quad: no depth, and 1/w, the colour and v the same along every
// row, so that each row is a case for modulateSpan4 that modulateRow would
// find. Here that is settled once per triangle, and per row only what can
// still differ from row to row: 1/w being zero, and the colour's -0 and NaN
// (for which modulateRow takes the one-pixel loop, as `otherRow` does).
bool isGlyphQuad(const ModulateSpan& m, const TrianglePlanes& planes) {
    return !m.depthTest && !m.depthWrite && m.texelsPow2Wrap && planes.w.dx == 0.0f && planes.attr[0].dx == 0.0f &&
           planes.attr[1].dx == 0.0f && planes.attr[2].dx == 0.0f && planes.attr[3].dx == 0.0f &&
           planes.attr[m.u + 1].dx == 0.0f;
}

template <class OtherRow>
void drawGlyphRows(const ModulateSpan& m, const TrianglePlanes& planes, const RowWalk& walk, const Buffers& buffers,
                   OtherRow&& otherRow) {
    const int u = m.u;
    walkRows(walk, [&](int y, int first, int last) {
        float z, invW, a[kAttrCount];
        startOfRow(planes, y, first, z, invW, a);
        if (invW != 0.0f) {
            const float wv = 1.0f / invW;
            bool still = true;
            for (int k = 0; k < 4; ++k)
                still = still && !(a[k] == 0.0f && std::signbit(a[k])) && !std::isnan(a[k] * wv);
            if (still) {
                if (m.skipsClearRows && clearTexelsOnly(m, last - first, wv, a[u], a[u + 1], planes.attr[u].dx))
                    return;
                modulateSpan4(m, true, buffers.colorRow(y), first, last, wv, a, a[u], a[u + 1], planes.attr[u].dx,
                              planes.attr[u + 1].dx);
                return;
            }
        }
        otherRow(y, first, last);
    });
}
#endif

}  // namespace

void RefRasterizer::rasterize(const PixelPipeline& pipe, const ScreenVertex& a0, const ScreenVertex& b0,
                              const ScreenVertex& c0) {
    GridTriangle triangle;
    if (!snap(pipe, a0, b0, c0, triangle))
        return;
    const TrianglePlanes planes = planesOf(pipe, triangle);
    const RowWalk walk = rowWalkOf(triangle);
    // Copies, not members: the loops' stores could alias them otherwise.
    const Buffers buffers{color_.data(), hasDepth_ ? depth_.data() : nullptr, width_};

    // The loop is chosen once per triangle, not per row: the untextured,
    // unblended surface by the span loops, texture times diffuse by
    // ModulateSpan's, anything else pixel by pixel.
    const bool untextured = pipe.stageCount == 0 && !pipe.alphaTest && !pipe.blend && pipe.writeMask == 0xFFFFFFFFu;
    if (untextured && (!pipe.depthTest || (pipe.zFunc == D3DCMP_LESSEQUAL && pipe.depthWrite))) {
        const SurfaceTriangle surface{walk,
                                      planes.z,
                                      planes.w,
                                      {planes.attr[0], planes.attr[1], planes.attr[2], planes.attr[3]},
                                      buffers.color,
                                      pipe.depthTest ? buffers.depth : nullptr,
                                      buffers.pitch};
        surfaceSpan().draw(surface);
        return;
    }
    if (untextured) {
        walkRows(walk, [&](int y, int first, int last) {
            depthTestedRow(pipe, planes, buffers.colorRow(y), buffers.depthRow(y), y, first, last);
        });
        return;
    }
    ModulateSpan modulate{};
    if (modulateSpanFor(pipe, planes, modulate)) {
        auto modulateRowAt = [&](int y, int first, int last) {
            float z, invW, a[kAttrCount], step[kAttrCount];
            startOfRow(planes, y, first, z, invW, a);
            for (int k = 0; k < kAttrCount; ++k)
                step[k] = planes.attr[k].dx;
            modulateRow(modulate, buffers.colorRow(y), buffers.depthRow(y), first, last, z, planes.z.dx, invW,
                        planes.w.dx, a, step);
        };
#if defined(VL_REF_X86_SPANS)
        if (isGlyphQuad(modulate, planes)) {
            drawGlyphRows(modulate, planes, walk, buffers, modulateRowAt);
            return;
        }
#endif
        walkRows(walk, modulateRowAt);
        return;
    }
    walkRows(walk, [&](int y, int first, int last) {
        shadeRow(pipe, planes, buffers.colorRow(y), buffers.depthRow(y), y, first, last);
    });
}

}  // namespace platform::d3d9
