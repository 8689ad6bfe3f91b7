#include "core/matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/core/matrix_test_support.h"

namespace {

struct Tracked {
    explicit Tracked(int* deaths) : deaths(deaths) {}
    ~Tracked() { ++*deaths; }
    int* deaths;
};

}  // namespace

TEST(Assertion, MessageJoinsConditionAndOperation)
{
    const mtl::assertion a("i - first < size()", "dense1D::operator[]");
    EXPECT_STREQ(a.what(), "mtl assertion: i - first < size() failed in dense1D::operator[]");
    const mtl::assertion copy = a;
    EXPECT_STREQ(copy.what(), a.what());
    const std::exception& base = copy;
    EXPECT_STREQ(base.what(), a.what());
}

TEST(RefcntPtr, UnboundHandleFailsEveryAccessForm)
{
    refcnt_ptr<int> p;
    const refcnt_ptr<int>& cp = p;
    EXPECT_EQ(failure_of([&] { *p; }), message("count != 0", "refcnt_ptr::operator*()"));
    EXPECT_EQ(failure_of([&] { *cp; }), message("count != 0", "const refcnt_ptr::operator*()"));
    EXPECT_EQ(failure_of([&] { p.operator->(); }),
              message("count != 0", "refcnt_ptr::operator->()"));
    EXPECT_EQ(failure_of([&] { cp.operator->(); }),
              message("count != 0", "const refcnt_ptr::operator->()"));
    EXPECT_EQ(p.use_count(), 0);
}

TEST(RefcntPtr, CorruptCounterFailsEveryAccessForm)
{
    // Joining a counter at -2 leaves it at -1, as a corrupted count would be.
    int deaths = 0;
    {
        refcnt_ptr<Tracked> p(new Tracked(&deaths), new int(-2));
        const refcnt_ptr<Tracked>& cp = p;
        EXPECT_EQ(p.use_count(), -1);
        EXPECT_EQ(failure_of([&] { *p; }), message("*count >= 0", "refcnt_ptr::operator*()"));
        EXPECT_EQ(failure_of([&] { *cp; }),
                  message("*count >= 0", "const refcnt_ptr::operator*()"));
        EXPECT_EQ(failure_of([&] { p.operator->(); }),
                  message("*count >= 0", "refcnt_ptr::operator->()"));
        EXPECT_EQ(failure_of([&] { cp.operator->(); }),
                  message("*count >= 0", "const refcnt_ptr::operator->()"));
    }
    EXPECT_EQ(deaths, 1);
}

TEST(RefcntPtr, LastHandleReleasesTheObjectOnce)
{
    int deaths = 0;
    {
        refcnt_ptr<Tracked> a(new Tracked(&deaths));
        EXPECT_EQ(a.use_count(), 1);
        {
            refcnt_ptr<Tracked> b = a;
            refcnt_ptr<Tracked> c;
            c = b;
            EXPECT_EQ(a.use_count(), 3);
            refcnt_ptr<Tracked>& same = c;  // through a reference: the compiler would flag c = c
            c = same;
            EXPECT_EQ(a.use_count(), 3);
            EXPECT_EQ(&*a, &*c);
        }
        EXPECT_EQ(a.use_count(), 1);
        EXPECT_EQ(deaths, 0);
        refcnt_ptr<Tracked> other(new Tracked(&deaths));
        a = other;  // the first object loses its last handle here
        EXPECT_EQ(deaths, 1);
        EXPECT_EQ(other.use_count(), 2);
    }
    EXPECT_EQ(deaths, 2);
}

TEST(DenseVector, ConstructionAndSharing)
{
    const DenseVector empty;
    EXPECT_EQ(empty.size(), 0);
    DenseVector v(3);
    EXPECT_EQ(values(v), (std::vector<double>{0, 0, 0}));
    DenseVector w = v;
    w(1) = 7.5;
    EXPECT_EQ(v(1), 7.5);
    EXPECT_EQ(v.use_count(), 2);
    IndexVector p(4, -3);
    EXPECT_EQ(p.size(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(p(i), -3);
}

TEST(DenseVector, ElementAccessOutsideThrows)
{
    const std::string expected = message("i - first < size()", "dense1D::operator[]");
    DenseVector v(3);
    const DenseVector& cv = v;
    IndexVector p(2, 0);
    const DenseVector empty;
    EXPECT_EQ(failure_of([&] { v(3) = 1.0; }), expected);
    EXPECT_EQ(failure_of([&] { (void)cv(3); }), expected);
    EXPECT_EQ(failure_of([&] { (void)v(-1); }), expected);  // unsigned compare
    EXPECT_EQ(failure_of([&] { (void)v[5]; }), expected);
    EXPECT_EQ(failure_of([&] { p(2) = 1; }), expected);
    EXPECT_EQ(failure_of([&] { (void)p(-1); }), expected);
    EXPECT_EQ(failure_of([&] { (void)empty(0); }), expected);
    EXPECT_NO_THROW(v(2) = 1.0);
}

TEST(DenseMatrix, CopiesShareStorageAndReleaseIt)
{
    DenseMatrix A(2, 3);
    EXPECT_EQ(values(A), std::vector<double>(6, 0.0));
    {
        DenseMatrix B = A;
        B(1, 2) = 4.0;
        EXPECT_EQ(A(1, 2), 4.0);
        EXPECT_EQ(A.use_count(), 2);
    }
    EXPECT_EQ(A.use_count(), 1);
}

TEST(DenseMatrix, ViewsWriteThroughToTheMatrix)
{
    DenseMatrix A = mat(3, 2, {1, 2, 3, 4, 5, 6});
    RowView r(A, 1);
    ColumnView c(A, 1);
    EXPECT_EQ(r.size(), 2);
    EXPECT_EQ(c.size(), 3);
    EXPECT_EQ(r(0), 3);
    EXPECT_EQ(c(2), 6);
    r(1) = 40;
    c(0) = 20;
    EXPECT_EQ(values(A), (std::vector<double>{1, 20, 3, 40, 5, 6}));

    DenseMatrix S = A.sub_matrix(1, 1, 2, 1);
    EXPECT_EQ(S.nrows(), 2);
    EXPECT_EQ(S.ncols(), 1);
    EXPECT_EQ(S(1, 0), 6);
    ColumnView sc(S, 0);
    EXPECT_EQ(sc.size(), 2);
    sc(0) = -1;
    EXPECT_EQ(A(1, 1), -1);
}

TEST(VectorCopy, ShorterSourceFillsOnlyItsPrefix)
{
    DenseVector x = vec({1, 2, 3});
    DenseVector y = vec({9, 9, 9, 9, 9});
    mtl::copy(x, y);
    EXPECT_EQ(values(y), (std::vector<double>{1, 2, 3, 9, 9}));

    mtl::copy(ScaledVector(x, -2.0), y);
    EXPECT_EQ(values(y), (std::vector<double>{-2, -4, -6, 9, 9}));
}

TEST(VectorCopy, IntoShorterDestinationThrowsAndChangesNothing)
{
    DenseVector x = vec({1, 2, 3, 4, 5});
    DenseVector y = vec({7, 8, 9});
    DenseMatrix A = mat(2, 2, {1, 2, 3, 4});
    const std::string expected = message("x.size() <= y.size()", "mtl::copy()");
    EXPECT_EQ(failure_of([&] { mtl::copy(x, y); }), expected);
    EXPECT_EQ(failure_of([&] { mtl::copy(ScaledVector(x, 2.0), y); }), expected);
    EXPECT_EQ(failure_of([&] { mtl::copy(x, RowView(A, 0)); }), expected);
    EXPECT_EQ(failure_of([&] { mtl::copy(y, ColumnView(A, 1)); }), expected);
    EXPECT_EQ(values(y), (std::vector<double>{7, 8, 9}));
    EXPECT_EQ(values(x), (std::vector<double>{1, 2, 3, 4, 5}));
    EXPECT_EQ(values(A), (std::vector<double>{1, 2, 3, 4}));
}

TEST(VectorCopy, BetweenRowsAndColumns)
{
    DenseMatrix A = mat(2, 2, {1, 2, 3, 4});
    // Overlapping views: the copy runs element by element in index order, so
    // A(1, 1) receives the A(0, 1) that was just written.
    mtl::copy(RowView(A, 0), ColumnView(A, 1));
    EXPECT_EQ(values(A), (std::vector<double>{1, 1, 3, 1}));
    DenseVector v(2);
    mtl::copy(ColumnView(A, 0), v);
    EXPECT_EQ(values(v), (std::vector<double>{1, 3}));
}

TEST(VectorSwap, ExchangesAndChecksLength)
{
    DenseMatrix A = mat(2, 3, {1, 2, 3, 4, 5, 6});
    mtl::swap(RowView(A, 0), RowView(A, 1));
    EXPECT_EQ(values(A), (std::vector<double>{4, 5, 6, 1, 2, 3}));

    DenseVector x = vec({1, 2});
    DenseVector y = vec({3, 4, 5});
    mtl::swap(x, y);
    EXPECT_EQ(values(x), (std::vector<double>{3, 4}));
    EXPECT_EQ(values(y), (std::vector<double>{1, 2, 5}));

    EXPECT_EQ(failure_of([&] { mtl::swap(y, x); }), message("x.size() <= y.size()", "mtl::swap()"));
    EXPECT_EQ(failure_of([&] { mtl::swap(RowView(A, 0), x); }),
              message("x.size() <= y.size()", "mtl::swap()"));
    EXPECT_EQ(values(x), (std::vector<double>{3, 4}));
    EXPECT_EQ(values(y), (std::vector<double>{1, 2, 5}));
    EXPECT_EQ(values(A), (std::vector<double>{4, 5, 6, 1, 2, 3}));
}

TEST(MatrixVectorProduct, AddsToTheResult)
{
    DenseMatrix A = mat(2, 3, {1, 2, 3, 4, 5, 6});
    DenseVector x = vec({1, 0, -1});
    DenseVector y = vec({10, 20});
    mtl::mult(A, x, y);
    EXPECT_EQ(values(y), (std::vector<double>{8, 18}));
}

TEST(MatrixVectorProduct, AccumulatesFromTheResultInColumnOrder)
{
    // Starting from y and adding column by column loses the 1 to rounding;
    // summing the row first would keep it.
    DenseMatrix A = mat(1, 2, {1e16, -1e16});
    DenseVector x = vec({1, 1});
    DenseVector y = vec({1});
    mtl::mult(A, x, y);
    EXPECT_EQ(y(0), 0.0);
}

TEST(MatrixVectorProduct, ShortVectorsThrowAndChangeNothing)
{
    DenseMatrix A = mat(3, 2, {1, 2, 3, 4, 5, 6});
    DenseVector x = vec({1, 1});
    DenseVector short_y = vec({5, 6});
    EXPECT_EQ(failure_of([&] { mtl::mult(A, x, short_y); }),
              message("A.nrows() <= zz.size()", "mtl::mult()"));
    EXPECT_EQ(values(short_y), (std::vector<double>{5, 6}));

    DenseVector short_x = vec({1});
    DenseVector y = vec({1, 2, 3});
    EXPECT_EQ(failure_of([&] { mtl::mult(A, short_x, y); }),
              message("A.ncols() <= xx.size()", "mtl::mult()"));
    EXPECT_EQ(values(y), (std::vector<double>{1, 2, 3}));
    // Both too short: the result vector is checked first.
    EXPECT_EQ(failure_of([&] { mtl::mult(A, short_x, short_y); }),
              message("A.nrows() <= zz.size()", "mtl::mult()"));
}

TEST(MatrixProduct, AccumulatesIntoC)
{
    DenseMatrix A = mat(2, 3, {1, 2, 3, 4, 5, 6});
    DenseMatrix B = mat(3, 2, {1, 0, 0, 1, 1, 1});
    DenseMatrix C = mat(2, 2, {100, 0, 0, 100});
    matmat::mult(A, B, C);
    EXPECT_EQ(values(C), (std::vector<double>{104, 5, 10, 111}));
}

TEST(RankOneUpdate, AddsScaledOuterProduct)
{
    DenseMatrix A = mat(2, 2, {1, 1, 1, 1});
    DenseVector x = vec({1, 2, 99});
    DenseVector y = vec({3, 4});
    mtl::rank_one_update(A, ScaledVector(x, -1.0), y);
    EXPECT_EQ(values(A), (std::vector<double>{-2, -3, -5, -7}));
}

TEST(RankOneUpdate, BitwiseEqualToElementByElementUpdate)
{
    for (int rows = 1; rows <= 9; ++rows) {
        const int cols = 7;
        DenseMatrix A(rows, cols);
        std::vector<double> expected;
        DenseVector x(rows + 1);
        DenseVector y(cols);
        for (int j = 0; j < cols; ++j)
            y(j) = std::sin(0.3 * j + rows) * 1e-3;
        for (int i = 0; i < rows; ++i) {
            x(i) = std::cos(1.7 * i) * 3.0;
            for (int j = 0; j < cols; ++j) {
                A(i, j) = std::sin(i * 0.9 - j * 0.4);
                expected.push_back(A(i, j) + y(j) * (x(i) * -0.7));
            }
        }
        mtl::rank_one_update(A, ScaledVector(x, -0.7), y);
        const std::vector<double> got = values(A);
        for (std::size_t k = 0; k < got.size(); ++k)
            ASSERT_EQ(got[k], expected[k]) << rows << " rows, element " << k;
    }
}

TEST(RankOneUpdate, ShortVectorsThrowAndChangeNothing)
{
    DenseMatrix A = mat(2, 3, {1, 2, 3, 4, 5, 6});
    DenseVector x1 = vec({1});
    DenseVector x2 = vec({1, 1});
    DenseVector y2 = vec({1, 1});
    DenseVector y3 = vec({1, 1, 1});
    EXPECT_EQ(failure_of([&] { mtl::rank_one_update(A, ScaledVector(x1, 1.0), y3); }),
              message("A.nrows() <= x.size()", "mtl::rank_one_update()"));
    EXPECT_EQ(failure_of([&] { mtl::rank_one_update(A, ScaledVector(x2, 1.0), y2); }),
              message("A.ncols() <= y.size()", "mtl::rank_one_update()"));
    EXPECT_EQ(values(A), (std::vector<double>{1, 2, 3, 4, 5, 6}));
}

TEST(Transpose, WritesTheTransposedBlockOnly)
{
    DenseMatrix A = mat(2, 3, {1, 2, 3, 4, 5, 6});
    DenseMatrix B = mat(4, 3, std::vector<double>(12, -1.0));
    matmat::transpose(A, B);
    EXPECT_EQ(values(B), (std::vector<double>{1, 4, -1, 2, 5, -1, 3, 6, -1, -1, -1, -1}));
}

TEST(Transpose, SmallDestinationThrowsAndChangesNothing)
{
    DenseMatrix A = mat(2, 3, {1, 2, 3, 4, 5, 6});
    DenseMatrix narrow(3, 1);
    DenseMatrix flat(2, 2);
    EXPECT_EQ(failure_of([&] { matmat::transpose(A, narrow); }),
              message("A.nrows() <= B.ncols()", "matmat::transpose()"));
    EXPECT_EQ(failure_of([&] { matmat::transpose(A, flat); }),
              message("A.ncols() <= B.nrows()", "matmat::transpose()"));
    EXPECT_EQ(values(narrow), std::vector<double>(3, 0.0));
    EXPECT_EQ(values(flat), std::vector<double>(4, 0.0));
}

TEST(MatrixCopy, IntoLargerMatrixWritesTopLeftBlock)
{
    DenseMatrix A = mat(2, 2, {1, 2, 3, 4});
    DenseMatrix B = mat(3, 3, std::vector<double>(9, 7.0));
    mtl::copy(A, B, mtl::twod_tag());
    EXPECT_EQ(values(B), (std::vector<double>{1, 2, 7, 3, 4, 7, 7, 7, 7}));

    DenseMatrix C(2, 2);
    mtl::copy(A, C);
    C(0, 0) = 50;
    EXPECT_EQ(A(0, 0), 1);  // an independent copy
}

TEST(MatrixCopy, SmallDestinationThrowsAndChangesNothing)
{
    DenseMatrix A = mat(2, 3, {1, 2, 3, 4, 5, 6});
    DenseMatrix short_rows(1, 3);
    DenseMatrix short_cols(2, 2);
    EXPECT_EQ(failure_of([&] { mtl::copy(A, short_rows); }),
              message("A.nrows() <= B.nrows()", "copy(A, B, twod_tag)"));
    EXPECT_EQ(failure_of([&] { mtl::copy(A, short_cols, mtl::twod_tag()); }),
              message("A.ncols() <= B.ncols()", "copy(A, B, twod_tag)"));
    EXPECT_EQ(values(short_rows), std::vector<double>(3, 0.0));
    EXPECT_EQ(values(short_cols), std::vector<double>(4, 0.0));
}

TEST(Normalize, MaxAbs)
{
    DenseVector v = vec({1, -4, 2});
    normalize_max_abs(v);
    EXPECT_EQ(values(v), (std::vector<double>{0.25, -1, 0.5}));

    DenseVector zero(2);
    normalize_max_abs(zero);
    EXPECT_TRUE(std::isnan(zero(0)));
    EXPECT_TRUE(std::isnan(zero(1)));
}

TEST(Normalize, UnitSigned)
{
    DenseVector a = vec({0, 3, 4});
    normalize_unit_signed(a);
    EXPECT_EQ(a(0), 0.0);
    EXPECT_DOUBLE_EQ(a(1), -0.6);
    EXPECT_DOUBLE_EQ(a(2), -0.8);
    EXPECT_TRUE(std::signbit(a(0)));  // 0 times a negative factor

    DenseVector b = vec({1, 0});
    normalize_unit_signed(b);
    EXPECT_EQ(values(b), (std::vector<double>{1, 0}));

    DenseVector c = vec({-2, 0});
    normalize_unit_signed(c);
    EXPECT_EQ(values(c), (std::vector<double>{1, 0}));

    DenseVector zero(3);
    normalize_unit_signed(zero);
    EXPECT_TRUE(std::isnan(zero(1)));

    DenseVector empty;
    EXPECT_EQ(failure_of([&] { normalize_unit_signed(empty); }),
              message("i - first < size()", "dense1D::operator[]"));
}
