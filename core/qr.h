// Householder QR factorization of a tall matrix.
#pragma once

#include "core/matrix.h"

class HouseholderQR {
public:
    // Factors an independent copy of A; A is not changed.
    explicit HouseholderQR(const DenseMatrix& A);

    // The m by n factor with orthonormal columns, A = Q R.
    DenseMatrix form_q() const;

    // Householder vectors on and below the diagonal, strict upper R above.
    const DenseMatrix& qr() const { return qr_; }
    // Diagonal of R.
    const DenseVector& rdiag() const { return rdiag_; }
    int nrows() const { return m_; }
    int ncols() const { return n_; }

private:
    DenseMatrix qr_;
    int m_;
    int n_;
    DenseVector rdiag_;
};
