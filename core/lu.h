// LU factorization with row pivoting and the triangular solves behind it.
#pragma once

#include "core/matrix.h"

enum class TriangularKind { lower, unit_lower, upper, unit_upper };

// One triangle of a matrix, sharing its storage. Row i covers the columns
// row_begin(i) to row_end(i) - 1, column j the rows column_begin(j) to
// column_end(j) - 1; a unit kind leaves the diagonal out and takes it as 1.
class TriangularView {
public:
    TriangularView(const DenseMatrix& A, TriangularKind kind) : A_(A), kind_(kind) {}

    int nrows() const { return A_.nrows(); }
    int ncols() const { return A_.ncols(); }
    TriangularKind kind() const { return kind_; }
    bool unit_diagonal() const
    {
        return kind_ == TriangularKind::unit_lower || kind_ == TriangularKind::unit_upper;
    }

    int row_begin(int i) const;
    int row_end(int i) const;
    int column_begin(int j) const;
    int column_end(int j) const;

    // The stored element (i, j); meaningful for covered positions only.
    double operator()(int i, int j) const { return A_(i, j); }
    const DenseMatrix& matrix() const { return A_; }

private:
    DenseMatrix A_;
    TriangularKind kind_;
};

// Factors A in place into unit lower L (strictly below the diagonal) and U.
// pivots(i) receives the 1-based row exchanged with row i at step i. Returns
// 0, or the 1-based column whose pivot was exactly 0.0 (the factorization
// stops there and later pivot entries keep their values).
int lu_factor(DenseMatrix A, IndexVector pivots);

// x = solution of A x = b from the factors; LU, pivots and b are only read.
void lu_solve(const DenseMatrix& LU, const IndexVector& pivots, const DenseVector& b,
              DenseVector x);

// Column i of Ainv = solution of A z = e_i, for i below pivots.size().
void lu_inverse(const DenseMatrix& LU, const IndexVector& pivots, DenseMatrix Ainv);

namespace mtl {

// Solves T z = x in place.
void tri_solve(const TriangularView& T, DenseVector x);

}  // namespace mtl
