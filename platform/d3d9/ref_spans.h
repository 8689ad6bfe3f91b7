// REF's span loops for the untextured Gouraud surface, one file per
// instruction set, each compiled with that set's flags. Each draws all the
// rows of a triangle, so that the walk from row to row stays in registers
// beside the loop. This header is what those files share with the rest of
// REF: plain data, and the row walk in an unnamed namespace, so that every
// file that includes it compiles a copy of its own for its own instruction
// set (an ordinary inline function compiled into the AVX2 file could become
// the copy the linker keeps for every caller, and fault on a processor
// without AVX2).
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform::d3d9::ref {

// A value over a triangle: base at the first pixel of its bounding box, and
// its change per pixel across and down.
struct Plane {
    float base, dx, dy;
};

// Where a sloped triangle edge crosses the pixel rows: floor(E / |stepX|)
// pixels from the row's first column, carried from row to row as an exact
// quotient and remainder, so that a row costs a few additions instead of a
// division per edge, and no branch.
struct EdgeWalk {
    std::int64_t q = std::int64_t(1) << 60, r = 0, d = 1, stepQ = 0, stepR = 0;  // bounds nothing
};

// Where each row of a triangle starts and ends: two edges, the second of a
// pair taking over at the middle vertex's row, and a horizontal edge that
// takes or leaves whole rows by the sign of its E (ref_triangle.cpp).
struct RowWalk {
    int x0, y0, x1, y1;  // the bounding box within the clip rectangle, inclusive
    EdgeWalk left, right, lower;
    int switchRow;
    bool lowerIsLeft = false;
    std::int64_t flatValue = 0, flatStep = 0;
};

// A triangle of the untextured, unblended surface: its rows, the planes of
// z, 1/w and r, g, b, a over w, and the buffers.
struct SurfaceTriangle {
    RowWalk rows;
    Plane z, w;
    Plane attr[4];
    std::uint32_t* color;
    float* depth;  // null: no depth test
    std::size_t pitch;
};

// Draws the triangle: depth test LESSEQUAL with writes when it has a depth
// buffer. Every value is formed as start + step * k for pixel k of a row,
// and every loop does the one-pixel loop's arithmetic lane by lane, so the
// picture does not depend on which one ran.
struct SurfaceSpan {
    int pixels;  // per group
    void (*draw)(const SurfaceTriangle& triangle);
};

extern const SurfaceSpan kSurfaceSpan1;  // ref_span_scalar.cpp
#if defined(VL_REF_X86_SPANS)
extern const SurfaceSpan kSurfaceSpan4;   // ref_span_sse2.cpp
extern const SurfaceSpan kSurfaceSpan8;   // ref_span_avx2.cpp
extern const SurfaceSpan kSurfaceSpan16;  // ref_span_avx512.cpp

// The 8-pixel loop reads and rewrites up to seven pixels past a row's last
// unchanged (the 16-pixel one masks its loads and stores), so the buffers
// carry as many more.
inline constexpr int kSpanOverrun = 7;
#else
inline constexpr int kSpanOverrun = 0;
#endif

namespace {

inline void nextRow(EdgeWalk& e) {
    e.r += e.stepR;
    const std::int64_t carry = e.r >= e.d ? 1 : 0;
    e.r -= e.d & -carry;
    e.q += e.stepQ + carry;
}

// Calls row(y, first, last) for every row of the triangle that has pixels.
template <class Row>
inline void walkRows(const RowWalk& walk, Row&& row) {
    // Fresh copies that nothing takes the address of stay in registers.
    EdgeWalk left = walk.left, right = walk.right;
    std::int64_t flatE = walk.flatValue;
    const std::int64_t width = walk.x1 - walk.x0;
    for (int y = walk.y0; y <= walk.y1; ++y) {
        if (y == walk.switchRow) {
            if (walk.lowerIsLeft)
                left = walk.lower;
            else
                right = walk.lower;
        }
        const std::int64_t from = left.q < 0 ? -left.q : 0;
        std::int64_t to = right.q < width ? right.q : width;
        if (flatE < 0)
            to = from - 1;
        nextRow(left);
        nextRow(right);
        flatE += walk.flatStep;
        if (from <= to)
            row(y, walk.x0 + int(from), walk.x0 + int(to));
    }
}

// A row's start on a plane.
inline float planeAt(const Plane& p, float colOffset, float rowOffset) {
    return p.base + p.dx * colOffset + p.dy * rowOffset;
}

}  // namespace

}  // namespace platform::d3d9::ref
