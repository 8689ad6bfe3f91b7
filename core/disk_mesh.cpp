#include "core/disk_mesh.h"

#include <cmath>
#include <iostream>
#include <map>

namespace {

using RingPosition = std::pair<int, int>;

// The literal decimal, not the full-precision constant: every coordinate and
// hence every printed digit of the computation depends on it.
constexpr double kPi = 3.14159265358979;

void join(DiskMesh& mesh, int i, int j) {
    mesh.neighbours[i].push_back(j);
    mesh.neighbours[j].push_back(i);
}

int wrap(int position, int ringSize) {
    return ((position % ringSize) + ringSize) % ringSize;
}

}  // namespace

PlanarPoint polar_point(int n, int b, int r, int p) {
    if (r == 0)
        return {0.0, 0.0};
    const double step = (2 * kPi) / b;
    const double angle = (p * step) / r;
    return {std::cos(angle) * r * (1.0 / n), std::sin(angle) * r * (1.0 / n)};
}

DiskMesh generate_disk_mesh(int b, int n) {
    DiskMesh mesh;
    std::map<RingPosition, int> index;

    mesh.points.push_back({0.0, 0.0});
    mesh.boundary.push_back(0);
    index[{0, 0}] = 0;
    int next = 1;
    for (int r = 1; r <= n; ++r) {
        for (int s = 0; s < b; ++s) {
            for (int k = 0; k < r; ++k) {
                const int p = s * r + k;
                mesh.points.push_back(polar_point(n, b, r, p));
                mesh.boundary.push_back(r == n ? 1 : 0);
                index[{r, p}] = next++;
            }
        }
    }

    std::cout << index[{0, 0}] << std::endl;

    mesh.neighbours.assign(mesh.points.size(), {});
    for (int m = 0; m <= n; ++m) {
        for (int l = 0; l < b; ++l) {
            if (m < n)
                join(mesh, index[{m, m * l}], index[{m + 1, wrap(l * (m + 1) - 1, b * (m + 1))}]);
            if (m == 0)
                continue;
            for (int k = 0; k < m; ++k) {
                const int N = k + m * l;
                const int i = index[{m, N}];
                join(mesh, i, index[{m, (N + 1) % (b * m)}]);
                if (m < n) {
                    const int i2 = index[{m + 1, k + l * (m + 1)}];
                    const int i3 = index[{m + 1, k + l * (m + 1) + 1}];
                    mesh.neighbours[i].push_back(i2);
                    mesh.neighbours[i].push_back(i3);
                    mesh.neighbours[i2].push_back(i);
                    mesh.neighbours[i3].push_back(i);
                }
            }
        }
    }
    return mesh;
}
