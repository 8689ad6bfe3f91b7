#include "mode/mode_surface.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <memory>
#include <utility>
#include <vector>

#include "core/assembly.h"
#include "core/eigen_solver.h"
#include "core/matrix_text.h"
#include "mode/computed_modes.h"

namespace {

// b = 6 points per ring step and 10 rings: 331 points, 271 of them interior.
constexpr int kPointsPerRingStep = 6;
constexpr int kRings = 10;
constexpr int kBlockWidth = 5;
constexpr int kDisplayedMode = 4;

ModeSurface published{nullptr, nullptr, 0, 0};

}  // namespace

ModeSurface BuildModeSurface(const DiskMesh& mesh, DenseVector heights) {
    const int vertexCount = static_cast<int>(mesh.points.size());
    int triangleCount = 0;
    for (const auto& list : mesh.neighbours)
        triangleCount += static_cast<int>(list.size());

    // Owned here until the surface is complete: a failed element check below
    // must not strand the arrays, only a finished surface lives for good.
    std::unique_ptr<ModeVertex[]> vertices(new ModeVertex[vertexCount]);
    std::unique_ptr<ModeTriangle[]> triangles(new ModeTriangle[triangleCount]);
    ModeTriangle* cursor = triangles.get();

    std::vector<std::pair<double, std::int32_t>> fan;
    for (int i = 0; i < vertexCount; ++i) {
        const auto [xi, yi] = mesh.points[i];
        const float z = mesh.boundary[i] ? 0.0f : static_cast<float>(heights(i));
        vertices[i] = {static_cast<float>(xi), static_cast<float>(yi), z};

        // Angles from +y towards +x (atan2 of dx over dy), so ascending order
        // turns clockwise from -y and every fan inside the disk winds
        // counter-clockwise; ties go to the smaller neighbour index.
        fan.clear();
        for (std::int32_t p : mesh.neighbours[i]) {
            const double dx = mesh.points[p].first - xi;
            const double dy = mesh.points[p].second - yi;
            fan.emplace_back(std::atan2(dx, dy), p);
        }
        std::sort(fan.begin(), fan.end());
        const int d = static_cast<int>(fan.size());
        for (int k = 0; k < d; ++k)
            *cursor++ = {i, fan[k].second, fan[(d + k - 1) % d].second};
    }
    return {triangles.release(), vertices.release(), triangleCount, vertexCount};
}

ModeSurface ModeComputation() {
    const DiskMesh mesh = generate_disk_mesh(kPointsPerRingStep, kRings);
    const DenseMatrix K = assemble_operator(mesh);
    print_matrix(K, std::cout);
    std::vector<DenseVector> modes = inverse_subspace_iteration(K, kBlockWidth);
    DenseVector v = modes[kDisplayedMode];
    normalize_max_abs(v);
    const ModeSurface surface = BuildModeSurface(mesh, v);

    // Beside the surface, every mode of the block for the viewer to choose
    // from. The fifth is scaled already; dividing by its peak of 1 again
    // leaves it bit for bit as the surface has it.
    ComputedModes kept;
    for (DenseVector& mode : modes)
        kept.modes.push_back(KeepMode(mesh, K, mode));
    PublishComputedModes(std::move(kept));
    return surface;
}

void PublishModeSurface(const ModeSurface& surface) {
    published.triangles = surface.triangles;
    published.vertices = surface.vertices;
    published.triangleCount = surface.triangleCount;
    published.vertexCount = surface.vertexCount;
}

const ModeSurface& PublishedModeSurface() {
    return published;
}
