// The planar point set of the whole computation: a unit disk filled with
// concentric rings whose neighbour relation is a hexagonal triangulation.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

using PlanarPoint = std::pair<double, double>;  // (x, y)

struct DiskMesh {
    std::vector<PlanarPoint> points;
    std::vector<std::uint8_t> boundary;  // 1 on the outermost ring
    std::vector<std::vector<std::int32_t>> neighbours;
};

// Point at ring r, position p of a mesh with n rings and b points per ring step.
PlanarPoint polar_point(int n, int b, int r, int p);

// Interior points are numbered before rim points, so the first
// (number of points - b*n) points are exactly the interior ones.
DiskMesh generate_disk_mesh(int b, int n);
