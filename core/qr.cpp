#include "core/qr.h"

#include <cmath>

HouseholderQR::HouseholderQR(const DenseMatrix& A)
    : qr_(A.nrows(), A.ncols()), m_(A.nrows()), n_(A.ncols()), rdiag_(A.ncols())
{
    mtl::copy(A, qr_);
    for (int k = 0; k < n_; ++k) {
        // hypot keeps the running norm free of overflow and underflow.
        double nrm = 0.0;
        for (int i = k; i < m_; ++i)
            nrm = std::hypot(nrm, qr_(i, k));
        if (nrm != 0.0) {
            if (qr_(k, k) < 0.0)
                nrm = -nrm;
            const double g = 1.0 / nrm;
            for (int i = k; i < m_; ++i)
                qr_(i, k) = g * qr_(i, k);
            qr_(k, k) = qr_(k, k) + 1.0;
            for (int j = k + 1; j < n_; ++j) {
                double s = 0.0;
                for (int i = k; i < m_; ++i)
                    s = s + qr_(i, j) * qr_(i, k);
                s = -(s / qr_(k, k));
                for (int i = k; i < m_; ++i)
                    qr_(i, j) = qr_(i, j) + s * qr_(i, k);
            }
        }
        rdiag_(k) = -nrm;
    }
}

DenseMatrix HouseholderQR::form_q() const
{
    DenseMatrix Q(m_, n_);
    for (int k = n_ - 1; k >= 0; --k) {
        for (int i = 0; i < m_; ++i)
            Q(i, k) = 0.0;
        // A wide input has no diagonal element beyond row m - 1; such a
        // column has no reflection and stays zero instead of being written
        // past the storage.
        if (k >= m_)
            continue;
        Q(k, k) = 1.0;
        for (int j = k; j < n_; ++j) {
            if (qr_(k, k) != 0.0) {
                double s = 0.0;
                for (int i = k; i < m_; ++i)
                    s = s + Q(i, j) * qr_(i, k);
                s = -(s / qr_(k, k));
                for (int i = k; i < m_; ++i)
                    Q(i, j) = Q(i, j) + s * qr_(i, k);
            }
        }
    }
    return Q;
}
