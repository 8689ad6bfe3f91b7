#include "core/assembly.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/disk_mesh.h"
#include "tests/core/matrix_test_support.h"

namespace {

class SystemOperator : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        mesh_ = new DiskMesh(quietMesh(6, 10));
        K_ = new DenseMatrix(assemble_operator(*mesh_));
    }
    static void TearDownTestSuite() {
        delete K_;
        delete mesh_;
    }
    static DiskMesh* mesh_;
    static DenseMatrix* K_;
};
DiskMesh* SystemOperator::mesh_ = nullptr;
DenseMatrix* SystemOperator::K_ = nullptr;

bool hasRimNeighbour(const DiskMesh& mesh, int i) {
    for (int p : mesh.neighbours[i])
        if (mesh.boundary[p])
            return true;
    return false;
}

void expectRelative(double actual, double expected, const char* what) {
    EXPECT_LE(std::fabs(actual - expected), 1e-9 * std::fabs(expected)) << what << ": " << actual;
}

}  // namespace

TEST_F(SystemOperator, CoversTheInteriorPointsOnly) {
    EXPECT_EQ(K_->nrows(), 271);
    EXPECT_EQ(K_->ncols(), 271);
}

TEST_F(SystemOperator, ReproducesTheListedEntries) {
    const DenseMatrix& K = *K_;
    expectRelative(K(0, 0), -200.0, "K(0,0)");
    for (int j = 1; j <= 6; ++j)
        expectRelative(K(0, j), 100.0 / 3.0, "K(0,j)");
    for (int j = 7; j < 271; ++j)
        EXPECT_EQ(K(0, j), 0.0) << j;

    // Known to six decimals beforehand; the fuller digits come from an
    // independent evaluation of the same fit.
    expectRelative(K(1, 0), 55.77502903421889, "K(1,0)");
    expectRelative(K(1, 1), -150.02351304451832, "K(1,1)");
    expectRelative(K(1, 2), 4.49507049944674, "K(1,2)");
    expectRelative(K(1, 6), 4.495070499446449, "K(1,6)");
    expectRelative(K(1, 7), -7.999051239422926, "K(1,7)");
    expectRelative(K(1, 8), 46.628697125414696, "K(1,8)");
    expectRelative(K(1, 18), 46.62869712541443, "K(1,18)");
    EXPECT_NEAR(K(1, 0), 55.775029, 5e-7);
    EXPECT_NEAR(K(1, 1), -150.023513, 5e-7);
    EXPECT_NEAR(K(1, 7), -7.999051, 5e-7);
    EXPECT_NEAR(K(1, 8), 46.628697, 5e-7);
    EXPECT_NE(K(1, 0), K(0, 1));
}

TEST_F(SystemOperator, RowsHoldThePointAndItsInteriorNeighboursOnly) {
    const DenseMatrix& K = *K_;
    for (int i = 0; i < 271; ++i) {
        int expected = 1;
        for (int p : mesh_->neighbours[i]) {
            if (mesh_->boundary[p])
                continue;
            ++expected;
            EXPECT_NE(K(i, p), 0.0) << i << "," << p;
        }
        int nonzero = 0;
        for (int j = 0; j < 271; ++j)
            nonzero += K(i, j) != 0.0;
        EXPECT_EQ(nonzero, expected) << "row " << i;
    }
}

TEST_F(SystemOperator, RowsWithoutRimNeighboursAnnihilateConstants) {
    int ringNine = 0;
    for (int i = 0; i < 271; ++i) {
        double sum = 0.0, scale = 0.0;
        for (int j = 0; j < 271; ++j) {
            sum += (*K_)(i, j);
            scale += std::fabs((*K_)(i, j));
        }
        if (hasRimNeighbour(*mesh_, i)) {
            ++ringNine;
            EXPECT_GT(std::fabs(sum), 1e-6 * scale) << "row " << i;
        } else {
            EXPECT_LT(std::fabs(sum), 1e-12 * scale) << "row " << i;
        }
    }
    EXPECT_EQ(ringNine, 54);
}

// 1 - x^2 - y^2 vanishes on the rim and has c_xx + c_yy = -2, so every row
// gives -2 only if the rim samples took part in the fit with value zero.
TEST_F(SystemOperator, ReproducesHalfTheLaplacianOfAQuadraticHeldAtZeroOnTheRim) {
    for (int i = 0; i < 271; ++i) {
        double sum = 0.0;
        for (int j = 0; j < 271; ++j) {
            const auto [x, y] = mesh_->points[j];
            sum += (*K_)(i, j) * (1.0 - x * x - y * y);
        }
        EXPECT_NEAR(sum, -2.0, 1e-6) << "row " << i;
    }
}

TEST(OperatorAssembly, ScalesWithTheInverseSquareOfTheSpacing) {
    const DiskMesh mesh = quietMesh(6, 2);
    const DenseMatrix K = assemble_operator(mesh);
    ASSERT_EQ(K.nrows(), 7);
    ASSERT_EQ(K.ncols(), 7);
    EXPECT_NEAR(K(0, 0), -8.0, 1e-12);
    for (int j = 1; j <= 6; ++j)
        EXPECT_NEAR(K(0, j), 4.0 / 3.0, 1e-12);
}
