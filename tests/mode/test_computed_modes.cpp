// The five modes kept beside the surface, their eigenvalue estimates and the
// exact values they are compared with.
#include "mode/computed_modes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/assembly.h"
#include "mode/mode_surface.h"
#include "tests/core/matrix_test_support.h"
#include "tests/mode/owned_surface.h"

namespace {

std::uint64_t fnv1a(const void* bytes, std::size_t size, std::uint64_t hash) {
    const auto* b = static_cast<const unsigned char*>(bytes);
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= b[i];
        hash *= 1099511628211ull;
    }
    return hash;
}

// The process-wide generator is never reseeded, so the computation runs once
// in this program and every test reads its result.
class ComputedModesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        CapturedStdout out;
        CapturedLog log;
        surface = new OwnedSurface(ModeComputation());
    }
    static void TearDownTestSuite() {
        delete surface;
        surface = nullptr;
    }
    static OwnedSurface* surface;
};
OwnedSurface* ComputedModesTest::surface = nullptr;

TEST_F(ComputedModesTest, EveryModePeaksAtOneAndRestsOnTheRim) {
    const ComputedModes& modes = PublishedComputedModes();
    ASSERT_EQ(modes.modes.size(), 5u);
    for (int k = 0; k < 5; ++k) {
        SCOPED_TRACE(k + 1);
        const std::vector<float>& h = modes.modes[k].heights;
        ASSERT_EQ(h.size(), 331u);
        float peak = 0.0f;
        for (float z : h)
            peak = std::max(peak, std::fabs(z));
        EXPECT_EQ(peak, 1.0f);
        EXPECT_TRUE(std::all_of(h.begin() + 271, h.end(), [](float z) { return z == 0.0f; }));
    }
}

TEST_F(ComputedModesTest, TheShownSurfaceIsTheOneTheProgramAlwaysShowed) {
    // FNV-1a of the vertex and triangle arrays as the program computed them
    // before the other modes were kept.
    std::uint64_t hash = 14695981039346656037ull;
    hash = fnv1a((*surface)->vertices, 12 * std::size_t((*surface)->vertexCount), hash);
    hash = fnv1a((*surface)->triangles, 12 * std::size_t((*surface)->triangleCount), hash);
    EXPECT_EQ(hash, 0xd9c3cd3807e69be9ull);
    const std::vector<float>& fifth = PublishedComputedModes().modes[4].heights;
    for (int i = 0; i < 331; ++i)
        ASSERT_EQ(fifth[i], (*surface)->vertices[i].z) << "vertex " << i;
}

TEST_F(ComputedModesTest, EigenvaluesAreTheRayleighQuotientsOfTheModes) {
    DiskMesh mesh;
    {
        CapturedStdout quiet;
        mesh = generate_disk_mesh(6, 10);
    }
    const DenseMatrix K = assemble_operator(mesh);
    const ComputedModes& modes = PublishedComputedModes();
    for (int k = 0; k < 5; ++k) {
        // Directly: the quotient is the same for the scaled heights.
        double vKv = 0.0, vv = 0.0;
        for (int i = 0; i < 271; ++i) {
            double row = 0.0;
            for (int j = 0; j < 271; ++j)
                row += K(i, j) * modes.modes[k].heights[j];
            vKv += double(modes.modes[k].heights[i]) * row;
            vv += double(modes.modes[k].heights[i]) * modes.modes[k].heights[i];
        }
        // float heights: agreement to their precision, far inside the
        // difference from the exact values (about 1 %).
        EXPECT_NEAR(modes.modes[k].eigenvalue, vKv / vv, 1e-5 * std::fabs(vKv / vv)) << "mode " << k + 1;
        EXPECT_NEAR(modes.modes[k].eigenvalue, ExactEigenvalue(k + 1), 0.03 * std::fabs(ExactEigenvalue(k + 1)));
    }
}

TEST(ExactEigenvalues, BesselZerosAndTheModesTheyBelongTo) {
    const struct {
        int order;
        double zero;
    } zeros[] = {{0, 2.404826}, {1, 3.831706}, {2, 5.135622}};
    for (const auto& z : zeros) {
        EXPECT_NEAR(BesselZero(z.order), z.zero, 5e-7) << "J_" << z.order;
        EXPECT_NEAR(std::cyl_bessel_j(z.order, BesselZero(z.order)), 0.0, 1e-14);
    }
    const int orderOfMode[] = {0, 1, 1, 2, 2};
    for (int mode = 1; mode <= 5; ++mode) {
        const double j = BesselZero(orderOfMode[mode - 1]);
        EXPECT_DOUBLE_EQ(ExactEigenvalue(mode), -j * j / 2) << mode;
    }
    EXPECT_TRUE(std::isnan(ExactEigenvalue(0)));
    EXPECT_TRUE(std::isnan(ExactEigenvalue(6)));
}

}  // namespace
