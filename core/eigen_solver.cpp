#include "core/eigen_solver.h"

#include <ostream>

#include "core/lu.h"
#include "core/matrix_text.h"
#include "core/qr.h"

namespace {

constexpr int kSteps = 100;
constexpr int kReportedColumns = 3;

// The log must be complete up to the last line even if the process dies
// later, so every line end the solver writes itself is flushed.
void end_line(std::ostream& out) {
    out << '\n';
    out.flush();
}

void report_column(std::ostream& out, const DenseMatrix& A, const DenseMatrix& V, int i,
                   DenseVector v, DenseVector Av) {
    const int N = V.nrows();
    for (int r = 0; r < N; ++r)
        v(r) = V(r, i);
    // Cleared by multiplying, not assigning: the sums start from what that
    // leaves (-0.0 for a negative entry).
    for (int r = 0; r < N; ++r)
        Av(r) = Av(r) * 0.0;
    mtl::mult(A, v, Av);

    out << i << "th 'eigen'vector is ";
    for (int r = 0; r < N; ++r) {
        out << v(r);
        end_line(out);
    }
    end_line(out);
    out << "transformed is ";
    for (int r = 0; r < N; ++r) {
        out << Av(r);
        end_line(out);
    }
    end_line(out);
    end_line(out);

    // Finite starting values: ratios that all lie beyond them leave them
    // standing in the log.
    double lo = 10000.0;
    double hi = -10000.0;
    for (int r = 0; r < N; ++r) {
        const double q = Av(r) / v(r);
        if (q > hi)
            hi = q;
        if (q < lo)
            lo = q;
    }
    out << lo << " " << hi;
    end_line(out);
}

}  // namespace

RandomGenerator& process_random_generator() {
    static RandomGenerator generator;
    return generator;
}

void random_start_column(RandomGenerator& generator, DenseVector start) {
    const double u = 1.0 / 32767;
    for (int r = 0; r < start.size(); ++r) {
        const int g1 = generator.next();
        const int g2 = generator.next();
        const int g3 = generator.next();
        const double t = ((g1 * u + g2) * u + g3) * u;
        start(r) = t + t - 1.0;
    }
}

void inverse_iteration_step(const DenseMatrix& LU, const IndexVector& pivots, DenseMatrix& V,
                            DenseMatrix W, DenseVector rhs, DenseVector sol) {
    const int N = V.nrows();
    for (int j = 0; j < V.ncols(); ++j) {
        for (int r = 0; r < N; ++r)
            rhs(r) = V(r, j);
        lu_solve(LU, pivots, rhs, sol);
        for (int r = 0; r < N; ++r)
            W(r, j) = sol(r);
    }
    V = HouseholderQR(W).form_q();
}

std::vector<DenseVector> inverse_subspace_iteration(const DenseMatrix& A, int k) {
    const int N = A.nrows();
    // Matrix element access is unchecked: a block narrower than the report's
    // three columns, or wider than it is tall, would read and write past its
    // storage.
    if (!(3 <= k))
        mtl::throw_assertion("3 <= k", "inverse_subspace_iteration()");
    if (!(k <= N))
        mtl::throw_assertion("k <= A.nrows()", "inverse_subspace_iteration()");
    DenseMatrix V(N, k);
    DenseVector start(N);

    RandomGenerator& generator = process_random_generator();
    for (int j = 0; j < k; ++j) {
        random_start_column(generator, start);
        normalize_unit_signed(start);
        for (int r = 0; r < N; ++r)
            V(r, j) = start(r);
    }
    mtl::copy(HouseholderQR(V).form_q(), V, mtl::twod_tag());

    DenseMatrix B(N, N);
    mtl::copy(A, B, mtl::twod_tag());
    IndexVector pivots(N, 0);
    // Not examined: a singular operator shows up in the solves instead.
    lu_factor(B, pivots);

    DenseMatrix W(N, k);
    DenseVector rhs(N);
    DenseVector sol(N);
    for (int step = 0; step < kSteps; ++step)
        inverse_iteration_step(B, pivots, V, W, rhs, sol);

    std::ostream& log = debug_log;
    log << "The V matrix is ";
    print_matrix(V, log);
    end_line(log);
    for (int i = 0; i < kReportedColumns; ++i)
        report_column(log, A, V, i, rhs, sol);

    std::vector<DenseVector> result(k);
    for (int j = 0; j < k; ++j) {
        for (int r = 0; r < N; ++r)
            start(r) = V(r, j);
        result[j] = DenseVector(N);
        mtl::copy(start, result[j]);
    }
    return result;
}
