#include "core/lu.h"

#include <algorithm>
#include <cmath>

int TriangularView::row_begin(int i) const
{
    switch (kind_) {
    case TriangularKind::lower:
    case TriangularKind::unit_lower:
        return 0;
    case TriangularKind::upper:
        return i;
    case TriangularKind::unit_upper:
        return i + 1;
    }
    return 0;
}

int TriangularView::row_end(int i) const
{
    switch (kind_) {
    case TriangularKind::lower:
        return std::min(i + 1, ncols());
    case TriangularKind::unit_lower:
        return std::min(i, ncols());
    case TriangularKind::upper:
    case TriangularKind::unit_upper:
        break;
    }
    return ncols();
}

int TriangularView::column_begin(int j) const
{
    switch (kind_) {
    case TriangularKind::lower:
        return j;
    case TriangularKind::unit_lower:
        return j + 1;
    case TriangularKind::upper:
    case TriangularKind::unit_upper:
        break;
    }
    return 0;
}

int TriangularView::column_end(int j) const
{
    switch (kind_) {
    case TriangularKind::upper:
        return std::min(j + 1, nrows());
    case TriangularKind::unit_upper:
        return std::min(j, nrows());
    case TriangularKind::lower:
    case TriangularKind::unit_lower:
        break;
    }
    return nrows();
}

int lu_factor(DenseMatrix A, IndexVector pivots)
{
    const int M = A.nrows();
    const int N = A.ncols();
    // An empty matrix has nothing to eliminate; the unsigned bound below
    // would otherwise wrap around and run past the storage.
    if (M <= 0 || N <= 0)
        return 0;

    const TriangularView lower(A, TriangularKind::lower);
    const TriangularView unit_lower(A, TriangularKind::unit_lower);
    const TriangularView unit_upper(A, TriangularKind::unit_upper);
    DenseVector column_buffer(M);
    DenseVector row_buffer(N);

    const unsigned last = std::min(static_cast<unsigned>(M - 1), static_cast<unsigned>(N - 1));
    int info = 0;
    int i = 0;
    for (; static_cast<unsigned>(i) < last; ++i) {
        // Ties keep the earlier row; a NaN never wins and, at row i, is never beaten.
        int p = lower.column_begin(i);
        double largest = std::fabs(A(p, i));
        for (int r = p + 1; r < lower.column_end(i); ++r) {
            const double magnitude = std::fabs(A(r, i));
            if (magnitude > largest) {
                largest = magnitude;
                p = r;
            }
        }
        pivots(i) = p + 1;
        if (A(p, i) == 0.0) {
            info = i + 1;
            break;
        }
        if (p != i)
            mtl::swap(RowView(A, i), RowView(A, p));

        if (i < M - 1) {
            const double g = 1.0 / A(i, i);
            for (int r = unit_lower.column_begin(i); r < unit_lower.column_end(i); ++r)
                A(r, i) = A(r, i) * g;
        }
        if (i < std::min(M - 1, N - 1)) {
            const int below = unit_lower.column_end(i) - unit_lower.column_begin(i);
            const int right = unit_upper.row_end(i) - unit_upper.row_begin(i);
            mtl::copy(ColumnView(A.sub_matrix(i + 1, i, below, 1), 0), column_buffer);
            mtl::copy(RowView(A.sub_matrix(i, i + 1, 1, right), 0), row_buffer);
            mtl::rank_one_update(A.sub_matrix(i + 1, i + 1, below, right),
                                 ScaledVector(column_buffer, -1.0), row_buffer);
        }
    }
    pivots(i) = i + 1;
    return info;
}

void lu_solve(const DenseMatrix& LU, const IndexVector& pivots, const DenseVector& b,
              DenseVector x)
{
    mtl::copy(b, x);
    const int n = pivots.size();
    for (int i = 0; i < n; ++i) {
        const int p = pivots(i) - 1;
        if (p != i) {
            const double xi = x(i);
            const double xp = x(p);
            x(i) = xp;
            x(p) = xi;
        }
    }
    mtl::tri_solve(TriangularView(LU, TriangularKind::unit_lower), x);
    mtl::tri_solve(TriangularView(LU, TriangularKind::upper), x);
}

void lu_inverse(const DenseMatrix& LU, const IndexVector& pivots, DenseMatrix Ainv)
{
    const int n = pivots.size();
    // Column views carry no index check of their own; without this a narrow
    // Ainv would be written past its storage.
    if (!(n <= Ainv.ncols()))
        mtl::throw_assertion("pivots.size() <= Ainv.ncols()", "lu_inverse()");
    DenseVector e(n);
    DenseVector z(n);
    for (int i = 0; i < n; ++i) {
        e(i) = 1.0;
        lu_solve(LU, pivots, e, z);
        mtl::copy(z, ColumnView(Ainv, i));
        e(i) = 0.0;
    }
}

namespace {

// Substitutes R consecutive rows of a triangle, in solving order: rows i,
// i+1, ... going down (forward) or i, i-1, ... going up (back). Each row's
// sum is a chain of dependent subtractions; carrying R rows side by side lets
// the chains overlap. Every row still subtracts its terms in the order of
// the row-by-row substitution, one rounding per step, so the results are
// bit for bit those of the plain loop.
template <int R, bool Forward>
void substitute_rows(const DenseMatrix& A, DenseVector& x, int i, int n, bool unit)
{
    const auto row = [i](int r) { return Forward ? i + r : i - r; };
    double t[R];
#pragma GCC unroll 16
    for (int r = 0; r < R; ++r)
        t[r] = x(row(r));
    // Terms of the rows solved before the block, shared by all R rows.
    const auto subtract = [&](int j) {
        const double xj = x(j);
#pragma GCC unroll 16
        for (int r = 0; r < R; ++r)
            t[r] = t[r] - xj * A(row(r), j);
    };
    if constexpr (Forward) {
        for (int j = 0; j < i; ++j)
            subtract(j);
    } else {
        for (int j = n - 1; j > i; --j)
            subtract(j);
    }
    // The small triangle inside the block.
    double solved[R];
#pragma GCC unroll 16
    for (int r = 0; r < R; ++r) {
#pragma GCC unroll 16
        for (int q = 0; q < r; ++q)
            t[r] = t[r] - solved[q] * A(row(r), row(q));
        solved[r] = unit ? t[r] : t[r] / A(row(r), row(r));
        x(row(r)) = solved[r];
    }
}

}  // namespace

namespace mtl {

void tri_solve(const TriangularView& T, DenseVector x)
{
    if (!(T.nrows() <= x.size()))
        throw_assertion("T.nrows() <= x.size()", "mtl::tri_solve()");
    if (!(T.ncols() <= x.size()))
        throw_assertion("T.ncols() <= x.size()", "mtl::tri_solve()");
    if (!(T.ncols() == T.nrows()))
        throw_assertion("T.ncols() == T.nrows()", "mtl::tri_solve()");

    const int n = T.nrows();
    // A local handle: its fields stay in registers across the writes to x.
    const DenseMatrix A = T.matrix();
    const bool unit = T.unit_diagonal();
    constexpr int block = 8;
    if (T.kind() == TriangularKind::lower || T.kind() == TriangularKind::unit_lower) {
        int i = 0;
        for (; i + block <= n; i += block)
            substitute_rows<block, true>(A, x, i, n, unit);
        for (; i < n; ++i)
            substitute_rows<1, true>(A, x, i, n, unit);
    } else {
        int i = n - 1;
        for (; i - block + 1 >= 0; i -= block)
            substitute_rows<block, false>(A, x, i, n, unit);
        for (; i >= 0; --i)
            substitute_rows<1, false>(A, x, i, n, unit);
    }
}

}  // namespace mtl
