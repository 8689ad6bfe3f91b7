#include "core/matrix.h"

#include <cmath>

namespace mtl {

assertion::assertion(const std::string& condition, const std::string& operation)
    : message_("mtl assertion: " + condition + " failed in " + operation)
{
}

const char* assertion::what() const noexcept { return message_.c_str(); }

void throw_assertion(const char* condition, const char* operation)
{
    throw assertion(condition, operation);
}

void rank_one_update(DenseMatrix A, const ScaledVector& x, const DenseVector& y)
{
    const int rows = A.nrows();
    const int cols = A.ncols();
    if (!(rows <= x.size()))
        throw_assertion("A.nrows() <= x.size()", "mtl::rank_one_update()");
    if (!(cols <= y.size()))
        throw_assertion("A.ncols() <= y.size()", "mtl::rank_one_update()");
    DenseMatrix a = A;
    const DenseVector xv = x.vector();
    const DenseVector yv = y;
    const double alpha = x.alpha();
    // Every element is updated once from its own value, so taking four rows
    // per pass over y changes no result; it reads and checks y(j) once for
    // all four.
    int i = 0;
    for (; i + 4 <= rows; i += 4) {
        const double t0 = xv(i) * alpha;
        const double t1 = xv(i + 1) * alpha;
        const double t2 = xv(i + 2) * alpha;
        const double t3 = xv(i + 3) * alpha;
        for (int j = 0; j < cols; ++j) {
            const double yj = yv(j);
            a(i, j) = a(i, j) + yj * t0;
            a(i + 1, j) = a(i + 1, j) + yj * t1;
            a(i + 2, j) = a(i + 2, j) + yj * t2;
            a(i + 3, j) = a(i + 3, j) + yj * t3;
        }
    }
    for (; i < rows; ++i) {
        const double t = xv(i) * alpha;
        for (int j = 0; j < cols; ++j)
            a(i, j) = a(i, j) + yv(j) * t;
    }
}

void copy(const DenseMatrix& A, DenseMatrix B)
{
    const int rows = A.nrows();
    const int cols = A.ncols();
    if (!(rows <= B.nrows()))
        throw_assertion("A.nrows() <= B.nrows()", "copy(A, B, twod_tag)");
    if (!(cols <= B.ncols()))
        throw_assertion("A.ncols() <= B.ncols()", "copy(A, B, twod_tag)");
    const DenseMatrix a = A;
    DenseMatrix b = B;
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
            b(i, j) = a(i, j);
}

void copy(const DenseMatrix& A, DenseMatrix B, twod_tag) { copy(A, B); }

}  // namespace mtl

DenseMatrix::DenseMatrix(int rows, int cols)
    : storage_(new std::vector<double>(static_cast<std::size_t>(rows) * cols, 0.0)),
      data_(storage_->data()),
      nrows_(rows),
      ncols_(cols),
      stride_(cols)
{
}

DenseMatrix DenseMatrix::sub_matrix(int row0, int col0, int rows, int cols) const
{
    DenseMatrix block(*this);
    block.data_ = data_ + static_cast<std::ptrdiff_t>(row0) * stride_ + col0;
    block.nrows_ = rows;
    block.ncols_ = cols;
    return block;
}

namespace matmat {

void mult(const DenseMatrix& A, const DenseMatrix& B, DenseMatrix C)
{
    const int rows = A.nrows();
    const int inner = A.ncols();
    const int cols = B.ncols();
    const DenseMatrix a = A;
    const DenseMatrix b = B;
    DenseMatrix c = C;
    for (int r = 0; r < rows; ++r)
        for (int s = 0; s < cols; ++s)
            for (int k = 0; k < inner; ++k)
                c(r, s) = c(r, s) + a(r, k) * b(k, s);
}

void transpose(const DenseMatrix& A, DenseMatrix B)
{
    const int rows = A.nrows();
    const int cols = A.ncols();
    if (!(rows <= B.ncols()))
        mtl::throw_assertion("A.nrows() <= B.ncols()", "matmat::transpose()");
    if (!(cols <= B.nrows()))
        mtl::throw_assertion("A.ncols() <= B.nrows()", "matmat::transpose()");
    const DenseMatrix a = A;
    DenseMatrix b = B;
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
            b(j, i) = a(i, j);
}

}  // namespace matmat

void normalize_max_abs(DenseVector v)
{
    const int n = v.size();
    double m = 0.0;
    for (int i = 0; i < n; ++i)
        if (std::fabs(v(i)) > m)
            m = std::fabs(v(i));
    for (int i = 0; i < n; ++i)
        v(i) = v(i) / m;
}

void normalize_unit_signed(DenseVector v)
{
    const int n = v.size();
    double s = 0.0;
    for (int i = 0; i < n; ++i)
        s = s + v(i) * v(i);
    const double root = std::sqrt(s);
    const double f = v(0) > 0.0 ? 1.0 / root : -1.0 / root;
    for (int i = 0; i < n; ++i)
        v(i) = v(i) * f;
}
