#include "core/assembly.h"

#include <vector>

#include "core/lu.h"

namespace {

// Columns of the local design matrix: the monomials 1, dx, dy, dx dx, dy dx, dy dy.
constexpr int kMonomials = 6;
constexpr int kDxDx = 3;
constexpr int kDyDy = 5;

}  // namespace

DenseMatrix assemble_operator(const DiskMesh& mesh) {
    std::vector<int> interior;
    for (std::size_t i = 0; i < mesh.boundary.size(); ++i)
        if (mesh.boundary[i] == 0)
            interior.push_back(static_cast<int>(i));
    const int N = static_cast<int>(interior.size());

    DenseMatrix K(N, N);
    for (int i = 0; i < N; ++i) {
        const auto [xi, yi] = mesh.points[i];
        const std::vector<std::int32_t>& L = mesh.neighbours[i];
        const int m = 1 + static_cast<int>(L.size());

        DenseMatrix V(m, kMonomials);
        V(0, 0) = 1.0;
        for (int j = 1; j < m; ++j) {
            const auto [xp, yp] = mesh.points[L[j - 1]];
            const double dx = xp - xi;
            const double dy = yp - yi;
            V(j, 0) = 1.0;
            V(j, 1) = dx;
            V(j, 2) = dy;
            V(j, 3) = dx * dx;
            V(j, 4) = dy * dx;
            V(j, 5) = dy * dy;
        }

        DenseMatrix VT(kMonomials, m);
        DenseMatrix G(kMonomials, kMonomials);
        DenseMatrix Ginv(kMonomials, kMonomials);
        DenseMatrix Wt(m, kMonomials);
        matmat::transpose(V, VT);
        matmat::mult(VT, V, G);
        IndexVector pivots(kMonomials, 0);
        // Not examined: the mesh's neighbourhoods never give a singular
        // normal matrix.
        lu_factor(G, pivots);
        lu_inverse(G, pivots, Ginv);
        matmat::mult(V, Ginv, Wt);

        K(i, i) = K(i, i) + Wt(0, kDxDx) + Wt(0, kDyDy);
        for (int j = 1; j < m; ++j) {
            const int p = L[j - 1];
            if (mesh.boundary[p] == 1)
                continue;
            K(i, p) = Wt(j, kDyDy) + Wt(j, kDxDx) + K(i, p);
        }
    }
    return K;
}
