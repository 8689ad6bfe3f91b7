#include "core/qr.h"

#include <cmath>

namespace {

// Applies the reflection kept in column k of qr, rows k to m - 1, to column j
// of target. Factor is const or not as the caller holds the factor, so the
// element access is the caller's own.
template <class Factor>
void apply_reflection(Factor& qr, int k, int m, DenseMatrix& target, int j)
{
    double s = 0.0;
    for (int i = k; i < m; ++i)
        s = s + target(i, j) * qr(i, k);
    s = -(s / qr(k, k));
    for (int i = k; i < m; ++i)
        target(i, j) = target(i, j) + s * qr(i, k);
}

}  // namespace

HouseholderQR::HouseholderQR(const DenseMatrix& A)
    : qr_(A.nrows(), A.ncols()), m_(A.nrows()), n_(A.ncols()), rdiag_(A.ncols())
{
    mtl::copy(A, qr_);
    // Local handles keep the loops free of reloads through this.
    DenseMatrix qr = qr_;
    DenseVector rdiag = rdiag_;
    const int m = m_;
    const int n = n_;
    for (int k = 0; k < n; ++k) {
        // hypot keeps the running norm free of overflow and underflow.
        double nrm = 0.0;
        for (int i = k; i < m; ++i)
            nrm = std::hypot(nrm, qr(i, k));
        if (nrm != 0.0) {
            if (qr(k, k) < 0.0)
                nrm = -nrm;
            const double g = 1.0 / nrm;
            for (int i = k; i < m; ++i)
                qr(i, k) = g * qr(i, k);
            qr(k, k) = qr(k, k) + 1.0;
            for (int j = k + 1; j < n; ++j)
                apply_reflection(qr, k, m, qr, j);
        }
        rdiag(k) = -nrm;
    }
}

DenseMatrix HouseholderQR::form_q() const
{
    DenseMatrix result(m_, n_);
    DenseMatrix Q = result;
    const DenseMatrix qr = qr_;
    const int m = m_;
    const int n = n_;
    for (int k = n - 1; k >= 0; --k) {
        for (int i = 0; i < m; ++i)
            Q(i, k) = 0.0;
        // A wide input has no diagonal element beyond row m - 1; such a
        // column has no reflection and stays zero instead of being written
        // past the storage.
        if (k >= m)
            continue;
        Q(k, k) = 1.0;
        for (int j = k; j < n; ++j) {
            if (qr(k, k) != 0.0)
                apply_reflection(qr, k, m, Q, j);
        }
    }
    return result;
}
