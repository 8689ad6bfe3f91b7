#include "core/qr.h"

#include <cmath>

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
            for (int j = k + 1; j < n; ++j) {
                double s = 0.0;
                for (int i = k; i < m; ++i)
                    s = s + qr(i, j) * qr(i, k);
                s = -(s / qr(k, k));
                for (int i = k; i < m; ++i)
                    qr(i, j) = qr(i, j) + s * qr(i, k);
            }
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
            if (qr(k, k) != 0.0) {
                double s = 0.0;
                for (int i = k; i < m; ++i)
                    s = s + Q(i, j) * qr(i, k);
                s = -(s / qr(k, k));
                for (int i = k; i < m; ++i)
                    Q(i, j) = Q(i, j) + s * qr(i, k);
            }
        }
    }
    return result;
}
