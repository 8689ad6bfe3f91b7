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

// The process-wide generator is never reseeded, so the computation runs once
// in this program and both tests read its result.
const ModeSurface& computed() {
    static OwnedSurface* surface = [] {
        CapturedStdout out;
        CapturedLog log;
        return new OwnedSurface(ModeComputation());
    }();
    return **surface;
}

TEST(ComputedModes, EveryModePeaksAtOneOnAFlatRimAndTheShownSurfaceIsUnchanged) {
    const ModeSurface& s = computed();
    const ComputedModes& modes = PublishedComputedModes();
    ASSERT_EQ(modes.modes.size(), 5u);
    for (const ComputedMode& mode : modes.modes) {
        ASSERT_EQ(mode.heights.size(), 331u);
        float peak = 0.0f;
        for (float z : mode.heights)
            peak = std::max(peak, std::fabs(z));
        EXPECT_EQ(peak, 1.0f);
        EXPECT_TRUE(std::all_of(mode.heights.begin() + 271, mode.heights.end(), [](float z) { return z == 0.0f; }));
    }
    for (int i = 0; i < 331; ++i)
        ASSERT_EQ(modes.modes[4].heights[i], s.vertices[i].z) << "vertex " << i;
    // FNV-1a of both arrays as the program computed them before the other
    // modes were kept: the surface is the same to the byte.
    std::uint64_t hash = 14695981039346656037ull;
    auto add = [&hash](const void* bytes, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i)
            hash = (hash ^ static_cast<const unsigned char*>(bytes)[i]) * 1099511628211ull;
    };
    add(s.vertices, 12 * std::size_t(s.vertexCount));
    add(s.triangles, 12 * std::size_t(s.triangleCount));
    EXPECT_EQ(hash, 0xd9c3cd3807e69be9ull);
}

TEST(ComputedModes, EigenvaluesAreTheRayleighQuotientsOfTheModes) {
    computed();
    DiskMesh mesh;
    {
        CapturedStdout quiet;
        mesh = generate_disk_mesh(6, 10);
    }
    const DenseMatrix K = assemble_operator(mesh);
    for (int k = 0; k < 5; ++k) {
        // The quotient of the scaled float heights, summed directly.
        const std::vector<float>& v = PublishedComputedModes().modes[k].heights;
        double vKv = 0.0, vv = 0.0;
        for (int i = 0; i < 271; ++i) {
            double row = 0.0;
            for (int j = 0; j < 271; ++j)
                row += K(i, j) * v[j];
            vKv += v[i] * row;
            vv += double(v[i]) * v[i];
        }
        const double eigenvalue = PublishedComputedModes().modes[k].eigenvalue;
        EXPECT_NEAR(eigenvalue, vKv / vv, 1e-5 * std::fabs(eigenvalue)) << "mode " << k + 1;
        EXPECT_NEAR(eigenvalue, ExactEigenvalue(k + 1), 0.03 * std::fabs(eigenvalue)) << "mode " << k + 1;
    }
}

TEST(ExactEigenvalues, BesselZerosAndTheModesTheyBelongTo) {
    const double zeros[] = {2.404826, 3.831706, 5.135622};
    for (int order = 0; order < 3; ++order) {
        EXPECT_NEAR(BesselZero(order), zeros[order], 5e-7) << "J_" << order;
        EXPECT_NEAR(std::cyl_bessel_j(order, BesselZero(order)), 0.0, 1e-14);
    }
    const int orderOfMode[] = {0, 1, 1, 2, 2};
    for (int mode = 1; mode <= 5; ++mode)
        EXPECT_DOUBLE_EQ(ExactEigenvalue(mode), -std::pow(BesselZero(orderOfMode[mode - 1]), 2) / 2) << mode;
    EXPECT_TRUE(std::isnan(ExactEigenvalue(0)));
    EXPECT_TRUE(std::isnan(ExactEigenvalue(6)));
}

}  // namespace
