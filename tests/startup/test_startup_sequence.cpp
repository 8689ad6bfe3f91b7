#include "startup/startup_sequence.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include "core/eigen_solver.h"
#include "core/matrix_text.h"
#include "tests/core/matrix_test_support.h"

static void expectUnchanged(const ModeSurface& before) {
    const ModeSurface& now = PublishedModeSurface();
    EXPECT_EQ(now.triangles, before.triangles);
    EXPECT_EQ(now.vertices, before.vertices);
    EXPECT_EQ(now.triangleCount, before.triangleCount);
    EXPECT_EQ(now.vertexCount, before.vertexCount);
}

TEST(ComputeAndPublishModeSurface, AnEscapingAssertionIsReportedAndPublishesNothing) {
    const ModeSurface before = PublishedModeSurface();
    std::ostringstream errors;
    CapturedLog log;
    const bool ok = ComputeAndPublishModeSurface(
        [] {
            // A singular operator: its first pivot is zero, so the first solve
            // steps outside the right-hand side.
            DenseMatrix K(4, 4);
            K(1, 1) = K(2, 2) = K(3, 3) = 1.0;
            std::vector<DenseVector> modes = inverse_subspace_iteration(K, 3);
            return BuildModeSurface(quietMesh(6, 1), modes[0]);
        },
        errors);

    EXPECT_FALSE(ok);
    EXPECT_EQ(errors.str(), "vibrolane: mtl assertion: i - first < size() failed in dense1D::operator[]\n");
    expectUnchanged(before);
}

TEST(ComputeAndPublishModeSurface, ShortModeVectorIsReportedToo) {
    const ModeSurface before = PublishedModeSurface();
    std::ostringstream errors;
    EXPECT_FALSE(ComputeAndPublishModeSurface(
        [] { return BuildModeSurface(quietMesh(6, 3), DenseVector(5)); }, errors));
    EXPECT_EQ(errors.str(), "vibrolane: mtl assertion: i - first < size() failed in dense1D::operator[]\n");
    expectUnchanged(before);
}

TEST(ComputeAndPublishModeSurface, PublishesTheComputedSurface) {
    std::ostringstream errors;
    ModeSurface computed{};
    const bool ok = ComputeAndPublishModeSurface(
        [&computed] {
            DenseVector heights(7);
            computed = BuildModeSurface(quietMesh(6, 2), heights);
            return computed;
        },
        errors);
    EXPECT_TRUE(ok);
    EXPECT_EQ(errors.str(), "");
    const ModeSurface& published = PublishedModeSurface();
    EXPECT_EQ(published.triangles, computed.triangles);
    EXPECT_EQ(published.vertices, computed.vertices);
    EXPECT_EQ(published.triangleCount, computed.triangleCount);
    EXPECT_EQ(published.vertexCount, 19);
}
