// The operator whose eigenvectors are the membrane's modes: row i estimates
// half the Laplacian at interior point i from a least-squares quadratic fit
// over the point and its neighbours.
#pragma once

#include "core/disk_mesh.h"
#include "core/matrix.h"

// N by N, N the number of interior points; row and column i belong to point
// i. Rim points are held at zero, so their weights are dropped.
DenseMatrix assemble_operator(const DiskMesh& mesh);
