#include "core/lu.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/core/matrix_test_support.h"

TEST(TriangularView, RowAndColumnRunsOfEachKind)
{
    DenseMatrix A(3, 3);
    const TriangularView lower(A, TriangularKind::lower);
    const TriangularView unit_lower(A, TriangularKind::unit_lower);
    const TriangularView upper(A, TriangularKind::upper);
    const TriangularView unit_upper(A, TriangularKind::unit_upper);
    EXPECT_EQ(lower.row_begin(1), 0);
    EXPECT_EQ(lower.row_end(1), 2);
    EXPECT_EQ(unit_lower.row_end(1), 1);
    EXPECT_EQ(unit_lower.column_begin(1), 2);
    EXPECT_EQ(lower.column_begin(1), 1);
    EXPECT_EQ(lower.column_end(1), 3);
    EXPECT_EQ(upper.row_begin(1), 1);
    EXPECT_EQ(upper.row_end(1), 3);
    EXPECT_EQ(unit_upper.row_begin(1), 2);
    EXPECT_EQ(upper.column_end(1), 2);
    EXPECT_EQ(unit_upper.column_end(1), 1);
    EXPECT_EQ(unit_upper.column_begin(2), 0);
    EXPECT_TRUE(unit_lower.unit_diagonal());
    EXPECT_FALSE(upper.unit_diagonal());

    // The view shares the storage of the matrix.
    A(2, 0) = 5;
    EXPECT_EQ(lower(2, 0), 5);
}

TEST(TriSolve, ForwardAndBackSubstitution)
{
    // Stored diagonal of 10s is ignored by the unit kind.
    DenseMatrix L = mat(3, 3, {10, 0, 0, 2, 10, 0, 1, 3, 10});
    DenseVector x = vec({1, 4, 10});
    mtl::tri_solve(TriangularView(L, TriangularKind::unit_lower), x);
    EXPECT_EQ(values(x), (std::vector<double>{1, 2, 3}));

    DenseMatrix U = mat(3, 3, {2, 1, 1, 99, 4, 2, 99, 99, 5});
    DenseVector y = vec({7, 14, 15});
    mtl::tri_solve(TriangularView(U, TriangularKind::upper), y);
    EXPECT_EQ(values(y), (std::vector<double>{1, 2, 3}));

    DenseVector z = vec({20, 8, 10});
    mtl::tri_solve(TriangularView(L, TriangularKind::lower), z);
    EXPECT_DOUBLE_EQ(z(0), 2);
    EXPECT_DOUBLE_EQ(z(1), 0.4);
    EXPECT_DOUBLE_EQ(z(2), 0.68);

    DenseMatrix zero_diagonal = mat(2, 2, {0, 1, 0, 1});
    DenseVector w = vec({1, 1});
    mtl::tri_solve(TriangularView(zero_diagonal, TriangularKind::upper), w);
    EXPECT_EQ(w(1), 1);
    EXPECT_TRUE(std::isnan(w(0)));  // (1 - 1) / 0
}

// The substitutions as plain row-by-row loops: the solver's printed digits
// depend on every rounding, so the kernel must match them bit for bit.
TEST(TriSolve, BitwiseEqualToRowByRowSubstitution)
{
    for (int n = 1; n <= 27; ++n) {
        DenseMatrix A(n, n);
        std::vector<double> b(n);
        for (int i = 0; i < n; ++i) {
            b[i] = std::sin(0.37 * i + n) * 1e3;
            for (int j = 0; j < n; ++j)
                A(i, j) = std::cos(1.3 * i - 0.71 * j + n) + (i == j ? 3.0 : 0.0);
        }
        for (const TriangularKind kind : {TriangularKind::lower, TriangularKind::unit_lower,
                                          TriangularKind::upper, TriangularKind::unit_upper}) {
            const bool unit =
                kind == TriangularKind::unit_lower || kind == TriangularKind::unit_upper;
            std::vector<double> r = b;
            if (kind == TriangularKind::lower || kind == TriangularKind::unit_lower) {
                for (int i = 0; i < n; ++i) {
                    double t = r[i];
                    for (int j = 0; j < i; ++j)
                        t = t - r[j] * A(i, j);
                    r[i] = unit ? t : t / A(i, i);
                }
            } else {
                for (int i = n - 1; i >= 0; --i) {
                    double t = r[i];
                    for (int j = n - 1; j > i; --j)
                        t = t - r[j] * A(i, j);
                    r[i] = unit ? t : t / A(i, i);
                }
            }
            DenseVector x = vec(b);
            mtl::tri_solve(TriangularView(A, kind), x);
            for (int i = 0; i < n; ++i)
                ASSERT_EQ(x(i), r[i])
                    << "n " << n << " kind " << static_cast<int>(kind) << " row " << i;
        }
    }
}

TEST(TriSolve, ChecksInOrderAndChangesNothingOnFailure)
{
    DenseMatrix tall(3, 2);
    DenseVector x3 = vec({1, 2, 3});
    EXPECT_EQ(failure_of([&] { mtl::tri_solve(TriangularView(tall, TriangularKind::upper), x3); }),
              message("T.ncols() == T.nrows()", "mtl::tri_solve()"));
    DenseVector x2 = vec({1, 2});
    EXPECT_EQ(failure_of([&] { mtl::tri_solve(TriangularView(tall, TriangularKind::upper), x2); }),
              message("T.nrows() <= x.size()", "mtl::tri_solve()"));
    DenseMatrix wide(2, 3);
    EXPECT_EQ(failure_of([&] {
                  mtl::tri_solve(TriangularView(wide, TriangularKind::unit_lower), x2);
              }),
              message("T.ncols() <= x.size()", "mtl::tri_solve()"));
    EXPECT_EQ(values(x2), (std::vector<double>{1, 2}));
    EXPECT_EQ(values(x3), (std::vector<double>{1, 2, 3}));
}

TEST(LuFactor, OneByOne)
{
    DenseMatrix A = mat(1, 1, {4});
    IndexVector pivots(1, 0);
    EXPECT_EQ(lu_factor(A, pivots), 0);
    EXPECT_EQ(values(pivots), (std::vector<int>{1}));
    EXPECT_EQ(values(A), (std::vector<double>{4}));
    DenseVector x(1);
    lu_solve(A, pivots, vec({2}), x);
    EXPECT_EQ(x(0), 0.5);
}

TEST(LuFactor, ExchangeToLargerPivot)
{
    DenseMatrix A = mat(2, 2, {0, 1, 1, 1});
    IndexVector pivots(2, 0);
    EXPECT_EQ(lu_factor(A, pivots), 0);
    EXPECT_EQ(values(pivots), (std::vector<int>{2, 2}));
    EXPECT_EQ(values(A), (std::vector<double>{1, 1, 0, 1}));
    DenseVector b = vec({1, 2});
    DenseVector x(2);
    lu_solve(A, pivots, b, x);
    EXPECT_EQ(values(x), (std::vector<double>{1, 1}));
    EXPECT_EQ(values(b), (std::vector<double>{1, 2}));
}

TEST(LuFactor, PivotSearchTiesAndFractions)
{
    DenseMatrix tie = mat(2, 2, {2, 1, -2, 3});
    IndexVector p1(2, 0);
    EXPECT_EQ(lu_factor(tie, p1), 0);
    EXPECT_EQ(p1(0), 1);
    EXPECT_EQ(values(tie), (std::vector<double>{2, 1, -1, 4}));

    DenseMatrix fractional = mat(2, 2, {0.25, 1, 0.5, 1});
    IndexVector p2(2, 0);
    EXPECT_EQ(lu_factor(fractional, p2), 0);
    EXPECT_EQ(p2(0), 2);
    EXPECT_EQ(values(fractional), (std::vector<double>{0.5, 1, 0.5, 0.5}));

    // Of three equal magnitudes below the first, the earliest wins.
    DenseMatrix three = mat(4, 4, {1, 0, 0, 0, -3, 1, 0, 0, 3, 0, 1, 0, 3, 0, 0, 1});
    IndexVector p3(4, 0);
    EXPECT_EQ(lu_factor(three, p3), 0);
    EXPECT_EQ(p3(0), 2);
}

TEST(LuFactor, ZeroColumnStopsAndLeavesTheRest)
{
    DenseMatrix A = mat(3, 3, {0, 1, 0, 0, 2, 1, 0, 0, 3});
    IndexVector pivots(3, 0);
    pivots(2) = 9;
    EXPECT_EQ(lu_factor(A, pivots), 1);
    EXPECT_EQ(values(pivots), (std::vector<int>{1, 0, 9}));
    EXPECT_EQ(values(A), (std::vector<double>{0, 1, 0, 0, 2, 1, 0, 0, 3}));

    // Solving anyway reaches the untouched 0 entry: x(-1).
    DenseVector x(3);
    EXPECT_EQ(failure_of([&] { lu_solve(A, pivots, vec({1, 2, 3}), x); }),
              message("i - first < size()", "dense1D::operator[]"));
}

TEST(LuFactor, ZeroInLaterColumn)
{
    DenseMatrix A = mat(3, 3, {1, 2, 3, 2, 4, 7, 0, 0, 1});
    IndexVector pivots(3, 0);
    EXPECT_EQ(lu_factor(A, pivots), 2);
    EXPECT_EQ(values(pivots), (std::vector<int>{2, 2, 0}));
}

TEST(LuFactor, TwoExchanges)
{
    DenseMatrix A = mat(3, 3, {0, 1, 0, 0, 0, 1, 1, 0, 0});
    IndexVector pivots(3, 0);
    EXPECT_EQ(lu_factor(A, pivots), 0);
    EXPECT_EQ(values(pivots), (std::vector<int>{3, 3, 3}));
    EXPECT_EQ(values(A), (std::vector<double>{1, 0, 0, 0, 1, 0, 0, 0, 1}));
    DenseVector x(3);
    lu_solve(A, pivots, vec({1, 2, 3}), x);
    EXPECT_EQ(values(x), (std::vector<double>{3, 1, 2}));
}

TEST(LuFactor, LastPivotIsNotTested)
{
    DenseMatrix A = mat(2, 2, {1, 1, 1, 1});
    IndexVector pivots(2, 0);
    EXPECT_EQ(lu_factor(A, pivots), 0);
    EXPECT_EQ(values(pivots), (std::vector<int>{1, 2}));
    DenseVector x(2);
    lu_solve(A, pivots, vec({1, 2}), x);
    EXPECT_TRUE(std::isinf(x(1)));
}

TEST(LuFactor, EmptyMatrixIsLeftAlone)
{
    DenseMatrix A(0, 0);
    IndexVector pivots(0, 0);
    EXPECT_EQ(lu_factor(A, pivots), 0);
}

TEST(LuFactor, ShortPivotVectorThrows)
{
    DenseMatrix A = mat(2, 2, {1, 2, 3, 4});
    IndexVector pivots(1, 0);
    EXPECT_EQ(failure_of([&] { lu_factor(A, pivots); }),
              message("i - first < size()", "dense1D::operator[]"));
}

TEST(LuFactor, FactorsReproducePermutedMatrix)
{
    const int n = 6;
    DenseMatrix A(n, n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            A(i, j) = std::sin(1.0 + 3 * i + 7 * j) + (i == j ? 0.5 : 0.0);
    const DenseMatrix original = clone(A);
    IndexVector pivots(n, 0);
    ASSERT_EQ(lu_factor(A, pivots), 0);

    // P A: apply the exchanges in ascending order to a copy of A.
    DenseMatrix PA = clone(original);
    for (int i = 0; i < n; ++i)
        if (pivots(i) - 1 != i)
            mtl::swap(RowView(PA, i), RowView(PA, pivots(i) - 1));
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            double sum = 0.0;
            for (int k = 0; k <= std::min(i, j); ++k)
                sum += (k == i ? 1.0 : A(i, k)) * A(k, j);
            EXPECT_NEAR(sum, PA(i, j), 1e-12);
        }
        for (int k = 0; k < i; ++k)
            EXPECT_LE(std::fabs(A(i, k)), 1.0);  // partial pivoting bounds the multipliers
    }

    DenseVector b(n);
    for (int i = 0; i < n; ++i)
        b(i) = i - 2.5;
    DenseVector x(n);
    lu_solve(A, pivots, b, x);
    DenseVector r(n);
    mtl::mult(original, x, r);
    for (int i = 0; i < n; ++i)
        EXPECT_NEAR(r(i), b(i), 1e-12);
}

TEST(LuSolve, DestinationAndPivotLength)
{
    DenseMatrix A = mat(2, 2, {0, 1, 1, 1});
    IndexVector pivots(2, 0);
    lu_factor(A, pivots);
    DenseVector short_x(1);
    EXPECT_EQ(failure_of([&] { lu_solve(A, pivots, vec({1, 2}), short_x); }),
              message("x.size() <= y.size()", "mtl::copy()"));

    // Only as many exchanges as the pivot vector has entries.
    IndexVector first_only(1, 2);
    DenseVector x(2);
    lu_solve(A, first_only, vec({1, 2}), x);
    EXPECT_EQ(values(x), (std::vector<double>{1, 1}));
    IndexVector none(0, 0);
    lu_solve(A, none, vec({1, 2}), x);
    EXPECT_EQ(values(x), (std::vector<double>{-1, 2}));
}

TEST(LuInverse, IdentityAndDiagonal)
{
    DenseMatrix I = mat(3, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1});
    IndexVector p(3, 0);
    lu_factor(I, p);
    DenseMatrix Iinv(3, 3);
    lu_inverse(I, p, Iinv);
    EXPECT_EQ(values(Iinv), values(I));

    DenseMatrix D = mat(2, 2, {2, 0, 0, 4});
    IndexVector q(2, 0);
    lu_factor(D, q);
    DenseMatrix Dinv(2, 2);
    lu_inverse(D, q, Dinv);
    EXPECT_EQ(values(Dinv), (std::vector<double>{0.5, 0, 0, 0.25}));
    EXPECT_EQ(values(D), (std::vector<double>{2, 0, 0, 4}));
}

TEST(LuInverse, InverseTimesMatrixIsIdentity)
{
    DenseMatrix A = mat(3, 3, {0, 2, 1, 1, 1, 1, 4, 0, 3});
    const DenseMatrix original = clone(A);
    IndexVector p(3, 0);
    ASSERT_EQ(lu_factor(A, p), 0);
    DenseMatrix Ainv(3, 3);
    lu_inverse(A, p, Ainv);
    DenseMatrix product(3, 3);
    matmat::mult(Ainv, original, product);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_NEAR(product(i, j), i == j ? 1.0 : 0.0, 1e-14);
}

TEST(LuInverse, TooSmallDestinationThrows)
{
    DenseMatrix A = mat(2, 2, {2, 0, 0, 4});
    IndexVector p(2, 0);
    lu_factor(A, p);
    DenseMatrix short_rows(1, 2);
    EXPECT_EQ(failure_of([&] { lu_inverse(A, p, short_rows); }),
              message("x.size() <= y.size()", "mtl::copy()"));
    DenseMatrix narrow(2, 1);
    EXPECT_EQ(failure_of([&] { lu_inverse(A, p, narrow); }),
              message("pivots.size() <= Ainv.ncols()", "lu_inverse()"));
    EXPECT_EQ(values(narrow), (std::vector<double>{0, 0}));
}
