// Every mode the computation found, not only the one the surface shows: the
// five vectors of the solver's final block as heights over the mesh, each
// with its eigenvalue estimate, and the exact eigenvalues of the continuous
// membrane they approximate.
#pragma once

#include <vector>

#include "core/disk_mesh.h"
#include "core/matrix.h"

inline constexpr int ComputedModeCount = 5;

struct ComputedMode {
    // One height per mesh point, at the point's index: rim points 0, the
    // largest magnitude 1, converted to float as the surface's heights are.
    std::vector<float> heights;
    // The Rayleigh quotient v.Kv / v.v of the unscaled vector.
    double eigenvalue = 0.0;
};

// Empty until the start-up computation has published its modes.
struct ComputedModes {
    std::vector<ComputedMode> modes;
};

// Mode `index` (0-based) of the solver's block: v scaled to a largest
// magnitude of 1 (v shares the block's storage and is scaled in place, as the
// surface's mode is), its Rayleigh quotient taken before the scaling.
ComputedMode KeepMode(const DiskMesh& mesh, const DenseMatrix& K, DenseVector v);

// v.Kv / v.v, the products summed in index order.
double RayleighQuotient(const DenseMatrix& K, const DenseVector& v);

// The first positive zero of the Bessel function J_order, found by stepping
// until J changes sign and bisecting to the last bit.
double BesselZero(int order);

// The eigenvalue of half the Laplacian on the unit disk with a fixed rim that
// mode `mode` (1 to 5, in the order the solver finds them) approximates:
// -j^2 / 2 with j the first zero of J_0 (mode 1), J_1 (modes 2 and 3) or J_2
// (modes 4 and 5). NaN for any other mode number.
double ExactEigenvalue(int mode);

// Published once by the start-up computation, before the viewer exists, and
// only read afterwards.
void PublishComputedModes(ComputedModes modes);
const ComputedModes& PublishedComputedModes();
