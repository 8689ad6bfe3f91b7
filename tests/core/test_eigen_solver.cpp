#include "core/eigen_solver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "core/matrix_text.h"
#include "tests/core/matrix_test_support.h"

namespace {

DenseMatrix diagonal(int n, double (*entry)(int)) {
    DenseMatrix A(n, n);
    for (int i = 0; i < n; ++i)
        A(i, i) = entry(i);
    return A;
}

void expectOrthonormal(const std::vector<DenseVector>& columns) {
    for (std::size_t a = 0; a < columns.size(); ++a) {
        for (std::size_t b = 0; b < columns.size(); ++b) {
            double dot = 0.0;
            for (int r = 0; r < columns[a].size(); ++r)
                dot += columns[a](r) * columns[b](r);
            EXPECT_NEAR(dot, a == b ? 1.0 : 0.0, 1e-12) << a << "," << b;
        }
    }
}

}  // namespace

TEST(RandomGenerator, DrawsTheFixedSequenceFromStateOne) {
    RandomGenerator generator;
    EXPECT_EQ(generator.next(), 41);
    EXPECT_EQ(generator.next(), 18467);
    EXPECT_EQ(generator.next(), 6334);
    for (int i = 0; i < 100000; ++i) {
        const int value = generator.next();
        ASSERT_GE(value, 0);
        ASSERT_LE(value, 32767);
    }
    EXPECT_EQ(&process_random_generator(), &process_random_generator());
}

TEST(RandomStart, FirstEntryComesFromTheFirstThreeDraws) {
    RandomGenerator generator;
    DenseVector start(4);
    random_start_column(generator, start);
    EXPECT_NEAR(start(0), -0.613357, 5e-7);
    const double u = 1.0 / 32767;
    const double t = ((41 * u + 18467) * u + 6334) * u;
    EXPECT_EQ(start(0), t + t - 1.0);
    RandomGenerator fresh;
    for (int i = 0; i < 12; ++i)
        fresh.next();
    EXPECT_EQ(generator.next(), fresh.next()) << "three draws per entry";
}

TEST(InverseSubspaceIteration, OnTheIdentityEveryCheckIsExact) {
    const int N = 8;
    DenseMatrix A = diagonal(N, [](int) { return 1.0; });
    CapturedLog log;
    const std::vector<DenseVector> modes = inverse_subspace_iteration(A, 5);

    ASSERT_EQ(modes.size(), 5u);
    for (const DenseVector& v : modes)
        EXPECT_EQ(v.size(), N);
    expectOrthonormal(modes);

    const std::vector<std::string> text = lines(log.str());
    ASSERT_NO_FATAL_FAILURE(expectReportFrame(text, N, 5));
    for (int i = 0; i < 3; ++i) {
        const std::size_t at = reportedVectorLine(N, i);
        // A v = v exactly: both lists print the same text.
        EXPECT_EQ(text[at].substr(reportedVectorHeading(i).size()), text[at + N + 1].substr(15));
        for (int r = 1; r < N; ++r)
            EXPECT_EQ(text[at + r], text[at + N + 1 + r]);
        EXPECT_EQ(text[at + 2 * N + 3], "1 1");
        for (int r = 0; r < N; ++r) {
            std::ostringstream expected;
            expected << modes[i](r);
            EXPECT_NE(text[at + r].find(expected.str()), std::string::npos);
        }
    }
    // One flush per line end the solver writes itself; the printer adds none.
    EXPECT_EQ(log.flushes, 1 + 3 * (2 * N + 4));
}

TEST(InverseSubspaceIteration, FindsTheSmallestEigenvectorsOfADiagonal) {
    const int N = 10;
    DenseMatrix A = diagonal(N, [](int i) { return i + 1.0; });
    CapturedLog log;
    const std::vector<DenseVector> modes = inverse_subspace_iteration(A, 5);
    expectOrthonormal(modes);
    // Column c converges like ((c + 1) / 6)^100: about 1e-8 for column 4.
    for (int c : {0, 4}) {
        for (int r = 0; r < N; ++r)
            EXPECT_NEAR(std::fabs(modes[c](r)), r == c ? 1.0 : 0.0, 1e-6) << "column " << c << " row " << r;
    }
    for (int i = 0; i < N; ++i)
        for (int j = 0; j < N; ++j)
            EXPECT_EQ(A(i, j), i == j ? i + 1.0 : 0.0) << "the input stays as it was";
}

TEST(InverseSubspaceIteration, RatioRangeKeepsItsFiniteStartingValues) {
    {
        DenseMatrix A = diagonal(6, [](int) { return 20000.0; });
        CapturedLog log;
        inverse_subspace_iteration(A, 3);
        const std::vector<std::string> text = lines(log.str());
        EXPECT_EQ(text.back(), "10000 20000");
    }
    {
        DenseMatrix A = diagonal(6, [](int) { return -20000.0; });
        CapturedLog log;
        inverse_subspace_iteration(A, 3);
        const std::vector<std::string> text = lines(log.str());
        EXPECT_EQ(text.back(), "-20000 -10000");
    }
}

TEST(InverseSubspaceIteration, SingularInputFailsInTheFirstSolve) {
    DenseMatrix A = diagonal(5, [](int i) { return i + 1.0; });
    A(0, 0) = 0.0;
    CapturedLog log;
    EXPECT_EQ(failure_of([&] { inverse_subspace_iteration(A, 3); }),
              message("i - first < size()", "dense1D::operator[]"));
    EXPECT_EQ(log.str(), "");
}

TEST(InverseSubspaceIteration, BlockWidthOutsideTheReportOrTheMatrixIsRefused) {
    DenseMatrix A = diagonal(4, [](int i) { return i + 1.0; });
    CapturedLog log;
    EXPECT_EQ(failure_of([&] { inverse_subspace_iteration(A, 2); }),
              message("3 <= k", "inverse_subspace_iteration()"));
    EXPECT_EQ(failure_of([&] { inverse_subspace_iteration(A, 5); }),
              message("k <= A.nrows()", "inverse_subspace_iteration()"));
    EXPECT_EQ(log.str(), "");
    EXPECT_EQ(inverse_subspace_iteration(A, 4).size(), 4u);
}
