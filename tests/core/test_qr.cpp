#include "core/qr.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/core/matrix_test_support.h"

TEST(HouseholderQR, PositiveDiagonal)
{
    const DenseMatrix A = mat(2, 1, {3, 4});
    const HouseholderQR f(A);
    EXPECT_DOUBLE_EQ(f.qr()(0, 0), 1.6);
    EXPECT_DOUBLE_EQ(f.qr()(1, 0), 0.8);
    EXPECT_EQ(f.rdiag()(0), -5.0);
    const DenseMatrix Q = f.form_q();
    EXPECT_EQ(Q.nrows(), 2);
    EXPECT_EQ(Q.ncols(), 1);
    EXPECT_NEAR(Q(0, 0), -0.6, 1e-15);
    EXPECT_NEAR(Q(1, 0), -0.8, 1e-15);
    EXPECT_EQ(values(A), (std::vector<double>{3, 4}));
}

TEST(HouseholderQR, NegativeDiagonalFlipsTheSign)
{
    const HouseholderQR f(mat(2, 1, {-3, 4}));
    EXPECT_DOUBLE_EQ(f.qr()(0, 0), 1.6);
    EXPECT_DOUBLE_EQ(f.qr()(1, 0), -0.8);
    EXPECT_EQ(f.rdiag()(0), 5.0);
    const DenseMatrix Q = f.form_q();
    EXPECT_NEAR(Q(0, 0), -0.6, 1e-15);
    EXPECT_NEAR(Q(1, 0), 0.8, 1e-15);
}

TEST(HouseholderQR, ZeroFirstColumnIsSkipped)
{
    const HouseholderQR f(mat(2, 2, {0, 1, 0, 1}));
    EXPECT_EQ(values(f.qr()), (std::vector<double>{0, 1, 0, 2}));
    EXPECT_EQ(f.rdiag()(0), 0.0);
    EXPECT_TRUE(std::signbit(f.rdiag()(0)));
    EXPECT_EQ(f.rdiag()(1), -1.0);
    EXPECT_EQ(values(f.form_q()), (std::vector<double>{1, 0, 0, -1}));
}

TEST(HouseholderQR, OrthonormalFactorReproducesTheMatrix)
{
    const int m = 9;
    const int n = 4;
    DenseMatrix A(m, n);
    for (int i = 0; i < m; ++i)
        for (int j = 0; j < n; ++j)
            A(i, j) = std::cos(0.7 * i * (j + 1) + j) * (j == 2 ? 1e-3 : 1.0);
    const std::vector<double> before = values(A);
    const HouseholderQR f(A);
    const DenseMatrix Q = f.form_q();
    EXPECT_EQ(values(A), before);

    DenseMatrix QT(n, m);
    matmat::transpose(Q, QT);
    DenseMatrix QTQ(n, n);
    matmat::mult(QT, Q, QTQ);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            EXPECT_NEAR(QTQ(i, j), i == j ? 1.0 : 0.0, 1e-14) << i << "," << j;

    // R: rdiag on the diagonal, the strict upper part of qr above it.
    DenseMatrix R(n, n);
    for (int i = 0; i < n; ++i) {
        R(i, i) = f.rdiag()(i);
        for (int j = i + 1; j < n; ++j)
            R(i, j) = f.qr()(i, j);
    }
    DenseMatrix QR(m, n);
    matmat::mult(Q, R, QR);
    for (int i = 0; i < m; ++i)
        for (int j = 0; j < n; ++j)
            EXPECT_NEAR(QR(i, j), A(i, j), 1e-14) << i << "," << j;
}

TEST(HouseholderQR, NaNPropagatesWithoutFailure)
{
    const HouseholderQR f(mat(2, 1, {std::nan(""), 1}));
    const DenseMatrix Q = f.form_q();
    EXPECT_TRUE(std::isnan(Q(0, 0)) || std::isnan(Q(1, 0)));
}

TEST(HouseholderQR, WideInputLeavesTheExtraColumnZero)
{
    const HouseholderQR f(mat(2, 3, {1, 2, 3, 4, 5, 6}));
    const DenseMatrix Q = f.form_q();
    EXPECT_EQ(Q(0, 2), 0.0);
    EXPECT_EQ(Q(1, 2), 0.0);
    EXPECT_NEAR(Q(0, 0) * Q(0, 1) + Q(1, 0) * Q(1, 1), 0.0, 1e-15);
}
