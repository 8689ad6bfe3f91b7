#include "viewer/explore_controls.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

double ModeFrequency(const ComputedModes& modes, int mode) {
    if (mode < 1 || mode > int(modes.modes.size()))
        return 0.0;
    return LowestModeFrequency * std::sqrt(modes.modes[mode - 1].eigenvalue / modes.modes[0].eigenvalue);
}

float VibratingHeight(float height, double frequency, double seconds) {
    return static_cast<float>(height * std::cos(2.0 * std::numbers::pi * frequency * seconds));
}

void TurnByDrag(float* rotationX, float* rotationY, int dx, int dy) {
    *rotationY = *rotationY - DragRadiansPerPixel * static_cast<float>(dx);
    *rotationX = *rotationX - DragRadiansPerPixel * static_cast<float>(dy);
}

float ZoomedCameraDistance(float distance, int wheelDelta) {
    const double notches = static_cast<double>(wheelDelta) / 120.0;
    const double zoomed = distance * std::pow(0.9, notches);
    return static_cast<float>(std::clamp(zoomed, double(NearestCameraDistance), double(FarthestCameraDistance)));
}

void FormatModeLine(char* text, std::size_t size, const ComputedModes& modes, int mode) {
    if (size == 0)
        return;
    text[0] = '\0';
    if (mode < 1 || mode > int(modes.modes.size()))
        return;
    // The zeros are found by bisection; once a run is enough.
    static double exact[ComputedModeCount + 1] = {};
    if (mode <= ComputedModeCount && exact[mode] == 0.0)
        exact[mode] = ExactEigenvalue(mode);
    const double computed = modes.modes[mode - 1].eigenvalue;
    const double reference = mode <= ComputedModeCount ? exact[mode] : std::nan("");
    const double percentOff = std::fabs(computed - reference) / std::fabs(reference) * 100.0;
    std::snprintf(text, size, "Mode %d of %d: eigenvalue %.4f (exact %.4f, %.2f %% off)", mode,
                  int(modes.modes.size()), computed, reference, percentOff);
}
