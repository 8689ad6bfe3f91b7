#include "mode/computed_modes.h"

#include <cmath>
#include <limits>
#include <utility>

namespace {

ComputedModes published;

// Which Bessel function's first zero belongs to each mode: one radial mode,
// then the two orientations of the one- and two-diameter modes.
constexpr int kBesselOrder[ComputedModeCount] = {0, 1, 1, 2, 2};

}  // namespace

double RayleighQuotient(const DenseMatrix& K, const DenseVector& v) {
    DenseVector Kv(v.size());
    mtl::mult(K, v, Kv);
    double vKv = 0.0;
    double vv = 0.0;
    for (int i = 0; i < v.size(); ++i) {
        vKv = vKv + v(i) * Kv(i);
        vv = vv + v(i) * v(i);
    }
    return vKv / vv;
}

ComputedMode KeepMode(const DiskMesh& mesh, const DenseMatrix& K, DenseVector v) {
    ComputedMode mode;
    mode.eigenvalue = RayleighQuotient(K, v);
    normalize_max_abs(v);
    mode.heights.resize(mesh.points.size());
    for (std::size_t i = 0; i < mesh.points.size(); ++i)
        mode.heights[i] = mesh.boundary[i] ? 0.0f : static_cast<float>(v(static_cast<int>(i)));
    return mode;
}

double BesselZero(int order) {
    // The first zero of J_n lies beyond n; J_n is positive just after 0.
    const double step = 0.1;
    double low = order > 0 ? order : step;
    double high = low + step;
    while (std::cyl_bessel_j(order, high) > 0.0) {
        low = high;
        high = high + step;
    }
    for (;;) {
        const double middle = 0.5 * (low + high);
        if (middle <= low || middle >= high)
            return middle;
        if (std::cyl_bessel_j(order, middle) > 0.0)
            low = middle;
        else
            high = middle;
    }
}

double ExactEigenvalue(int mode) {
    if (mode < 1 || mode > ComputedModeCount)
        return std::numeric_limits<double>::quiet_NaN();
    const double j = BesselZero(kBesselOrder[mode - 1]);
    return -j * j / 2.0;
}

void PublishComputedModes(ComputedModes modes) { published = std::move(modes); }

const ComputedModes& PublishedComputedModes() { return published; }
