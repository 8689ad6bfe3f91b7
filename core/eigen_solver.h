// Block inverse iteration: the orthonormal block spanning the eigenvectors of
// smallest eigenvalue magnitude, with its check written to the debug log.
#pragma once

#include <cstdint>
#include <vector>

#include "core/matrix.h"

// The solver's random source. One process-wide instance, never reseeded, so
// every run starts from the same block and writes the same log.
class RandomGenerator {
public:
    // A value from 0 to 32767.
    int next()
    {
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int>((state_ >> 16) & 0x7FFFu);
    }

private:
    std::uint32_t state_ = 1;
};

RandomGenerator& process_random_generator();

// One random start column before normalisation: three draws per entry,
// entries in [-1, about 1.00006].
void random_start_column(RandomGenerator& generator, DenseVector start);

// One step of the iteration: W = A^-1 V column by column through the factors
// (LU, pivots), then V = the orthonormal factor of W. rhs and sol are the
// reused solve vectors.
void inverse_iteration_step(const DenseMatrix& LU, const IndexVector& pivots, DenseMatrix& V,
                            DenseMatrix W, DenseVector rhs, DenseVector sol);

// k orthonormal vectors of length A.nrows() (independent copies of the final
// block's columns); A is only read. Writes the block and a check of its first
// three columns to the debug log. A k below 3 or above A.nrows() throws
// mtl::assertion before anything is written.
std::vector<DenseVector> inverse_subspace_iteration(const DenseMatrix& A, int k);
