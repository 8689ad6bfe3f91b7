#include "mode/mode_surface.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <map>
#include <new>

#include "core/matrix_text.h"
#include "tests/core/matrix_test_support.h"
#include "tests/mode/owned_surface.h"

// Every array allocation of this program is counted, so that a test can see
// whether a failed build hands back the arrays it had taken. Only the
// surface's two arrays are made with new[] on the way.
namespace {
long liveArrays = 0;
}

void* operator new[](std::size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    ++liveArrays;
    return p;
}
void operator delete[](void* p) noexcept {
    if (p) {
        --liveArrays;
        std::free(p);
    }
}
void operator delete[](void* p, std::size_t) noexcept { operator delete[](p); }

namespace {

// Standard output and the debug log go to memory while alive.
struct QuietOutputs {
    CapturedStdout out;
    CapturedLog log;
};

DiskMesh systemMesh() {
    QuietOutputs quiet;
    return generate_disk_mesh(6, 10);
}

// Heights that tell the vertices apart: 0.001 * (i + 1).
DenseVector rampHeights(int n) {
    DenseVector h(n);
    for (int i = 0; i < n; ++i)
        h(i) = 0.001 * (i + 1);
    return h;
}

double signedArea(const ModeSurface& s, const ModeTriangle& t) {
    const ModeVertex& a = s.vertices[t.apex];
    const ModeVertex& b = s.vertices[t.first];
    const ModeVertex& c = s.vertices[t.second];
    return (double(b.x) - a.x) * (double(c.y) - a.y) - (double(b.y) - a.y) * (double(c.x) - a.x);
}

std::array<int, 3> tri(const ModeTriangle& t) { return {t.apex, t.first, t.second}; }

}  // namespace

TEST(BuildModeSurface, LiftsInteriorPointsAndKeepsTheRimFlat) {
    const DiskMesh mesh = systemMesh();
    const OwnedSurface owned(BuildModeSurface(mesh, rampHeights(271)));
    const ModeSurface& s = *owned;
    ASSERT_EQ(s.vertexCount, 331);
    ASSERT_EQ(s.triangleCount, 1860);
    EXPECT_EQ(s.vertices[0].x, 0.0f);
    EXPECT_EQ(s.vertices[0].y, 0.0f);
    EXPECT_EQ(s.vertices[0].z, 0.001f);
    EXPECT_EQ(s.vertices[1].x, 0.1f);
    EXPECT_EQ(s.vertices[1].y, 0.0f);
    EXPECT_EQ(s.vertices[1].z, 0.002f);
    EXPECT_EQ(s.vertices[270].z, static_cast<float>(0.001 * 271));
    for (int i = 271; i < 331; ++i)
        EXPECT_EQ(s.vertices[i].z, 0.0f) << i;
    for (int i = 0; i < 331; ++i) {
        EXPECT_EQ(s.vertices[i].x, static_cast<float>(mesh.points[i].first));
        EXPECT_EQ(s.vertices[i].y, static_cast<float>(mesh.points[i].second));
    }
}

TEST(BuildModeSurface, FansTurnInTheListedOrder) {
    const OwnedSurface owned(BuildModeSurface(systemMesh(), rampHeights(271)));
    const ModeSurface& s = *owned;
    const std::array<std::array<int, 3>, 12> first{{{0, 5, 6}, {0, 4, 5}, {0, 3, 4}, {0, 2, 3}, {0, 1, 2}, {0, 6, 1},
                                                    {1, 6, 18}, {1, 0, 6}, {1, 2, 0}, {1, 8, 2}, {1, 7, 8}, {1, 18, 7}}};
    for (int k = 0; k < 12; ++k)
        EXPECT_EQ(tri(s.triangles[k]), first[k]) << "triangle " << k;
    // Point 271's fan follows the 271 six-triangle fans of the interior.
    EXPECT_EQ(tri(s.triangles[1626]), (std::array<int, 3>{271, 330, 272}));
    EXPECT_EQ(tri(s.triangles[1627]), (std::array<int, 3>{271, 217, 330}));
    EXPECT_EQ(tri(s.triangles[1628]), (std::array<int, 3>{271, 272, 217}));
    EXPECT_EQ(s.triangles[1629].apex, 272);
}

TEST(BuildModeSurface, InsideTrianglesRepeatPerCornerAndRimTrianglesWindTheOtherWay) {
    const OwnedSurface owned(BuildModeSurface(systemMesh(), rampHeights(271)));
    const ModeSurface& s = *owned;
    int counterClockwise = 0, clockwise = 0;
    std::map<std::array<int, 3>, int> distinct;
    for (int k = 0; k < s.triangleCount; ++k) {
        const ModeTriangle& t = s.triangles[k];
        const double area = signedArea(s, t);
        if (area > 0) {
            ++counterClockwise;
            std::array<int, 3> key = tri(t);
            std::rotate(key.begin(), std::min_element(key.begin(), key.end()), key.end());
            ++distinct[key];
        } else {
            ++clockwise;
            EXPECT_GE(t.apex, 271);
            EXPECT_GE(t.first, 271);
            EXPECT_GE(t.second, 271);
        }
    }
    EXPECT_EQ(counterClockwise, 1800);
    EXPECT_EQ(clockwise, 60);
    EXPECT_EQ(distinct.size(), 600u);
    for (const auto& [key, count] : distinct)
        EXPECT_EQ(count, 3) << key[0] << " " << key[1] << " " << key[2];
}

TEST(BuildModeSurface, DegenerateFans) {
    DiskMesh mesh;
    mesh.points = {{0.0, 0.0}, {1.0, 0.0}, {0.0, 1.0}};
    mesh.boundary = {0, 0, 0};
    mesh.neighbours = {{1}, {0}, {}};
    const OwnedSurface owned(BuildModeSurface(mesh, rampHeights(3)));
    const ModeSurface& s = *owned;
    ASSERT_EQ(s.triangleCount, 2);
    EXPECT_EQ(tri(s.triangles[0]), (std::array<int, 3>{0, 1, 1}));
    EXPECT_EQ(tri(s.triangles[1]), (std::array<int, 3>{1, 0, 0}));
}

// The element check may fail at the first interior point or at the last; in
// both cases the arrays already taken go back before the assertion leaves.
TEST(BuildModeSurface, HeightsShorterThanTheInteriorFailTheElementCheckAndKeepNothing) {
    struct Case {
        const char* what;
        DiskMesh mesh;
        int heights;
    };
    const Case cases[] = {
        {"one short of the system's interior", systemMesh(), 270},
        {"no heights at all", systemMesh(), 0},
        {"a small disk, five heights for nineteen interior points", quietMesh(6, 3), 5},
    };
    for (const Case& c : cases) {
        const DenseVector heights = rampHeights(c.heights);
        const long before = liveArrays;
        EXPECT_EQ(failure_of([&] { BuildModeSurface(c.mesh, heights); }),
                  message("i - first < size()", "dense1D::operator[]"))
            << c.what;
        EXPECT_EQ(liveArrays, before) << c.what;
    }
    // The counter sees the surface's arrays at all: a finished build holds two.
    const long before = liveArrays;
    {
        const OwnedSurface owned(BuildModeSurface(quietMesh(6, 3), rampHeights(19)));
        EXPECT_EQ(liveArrays, before + 2);
    }
    EXPECT_EQ(liveArrays, before);
}

TEST(ModeComputation, ScalesTheFifthModeToAPeakOfOne) {
    OwnedSurface owned;
    {
        QuietOutputs quiet;
        owned.surface = ModeComputation();
        EXPECT_EQ(quiet.out.text.str().rfind("0\n271 columns by 271rows\n", 0), 0u);
        EXPECT_EQ(quiet.log.str().rfind("The V matrix is 5 columns by 271rows\n", 0), 0u);
    }
    const ModeSurface& s = *owned;
    ASSERT_EQ(s.vertexCount, 331);
    ASSERT_EQ(s.triangleCount, 1860);
    float peak = 0.0f;
    for (int i = 0; i < 331; ++i) {
        EXPECT_LE(std::fabs(s.vertices[i].z), 1.0f);
        peak = std::max(peak, std::fabs(s.vertices[i].z));
        if (i >= 271) {
            EXPECT_EQ(s.vertices[i].z, 0.0f);
        }
    }
    EXPECT_EQ(peak, 1.0f);
    EXPECT_EQ(tri(s.triangles[0]), (std::array<int, 3>{0, 5, 6}));
}
