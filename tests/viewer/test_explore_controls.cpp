// The arithmetic behind the View menu and the mouse: a mode's vibration in
// time, the drag and the wheel with their limits, and the eigenvalue line.
#include "viewer/explore_controls.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

ComputedModes withEigenvalues(std::initializer_list<double> eigenvalues) {
    ComputedModes modes;
    for (double e : eigenvalues)
        modes.modes.push_back({{}, e});
    return modes;
}

TEST(Vibration, HeightsAtTheStartAQuarterAndHalfAPeriod) {
    // f_k = 0.5 sqrt(lambda_k / lambda_1): 0.5, 1, 1, 1.5, 1.5 cycles a second.
    const ComputedModes modes = withEigenvalues({-2.0, -8.0, -8.0, -18.0, -18.0});
    const double frequencies[] = {0.5, 1.0, 1.0, 1.5, 1.5};
    for (int mode = 1; mode <= 5; ++mode) {
        const double f = ModeFrequency(modes, mode);
        EXPECT_DOUBLE_EQ(f, frequencies[mode - 1]) << mode;
        const double period = 1.0 / f;
        EXPECT_EQ(VibratingHeight(-0.123456789f, f, 0.0), -0.123456789f) << "the mode's own height, to the bit";
        EXPECT_NEAR(VibratingHeight(0.75f, f, period / 4), 0.0f, 1e-6f) << mode;
        EXPECT_NEAR(VibratingHeight(0.75f, f, period / 2), -0.75f, 1e-6f) << mode;
    }
    EXPECT_EQ(ModeFrequency(modes, 0), 0.0);
    EXPECT_EQ(ModeFrequency(modes, 6), 0.0);
}

TEST(Mouse, DragTurnsAHundredthOfARadianAPixelAndTheWheelStaysWithinItsLimits) {
    const struct {
        int dx, dy;
        float x, y;
    } drags[] = {
        {100, 0, 0.0f, -1.0f},  // right: the near side follows to the right
        {0, 100, -1.0f, 0.0f},  // down: the near side follows downwards
        {30, -20, 0.2f, -0.3f},
        {1000, 0, 0.0f, -10.0f},  // no wrap at 2 pi, as with the keys
    };
    for (const auto& d : drags) {
        float x = 0.0f, y = 0.0f;
        TurnByDrag(&x, &y, d.dx, d.dy);
        EXPECT_NEAR(x, d.x, 1e-5f) << d.dx << "," << d.dy;
        EXPECT_NEAR(y, d.y, 1e-5f) << d.dx << "," << d.dy;
    }
    const struct {
        float from;
        int delta;
        float to;
    } turns[] = {
        {5.0f, 120, 4.5f},  // a notch away from the user: nearer
        {5.0f, -120, 5.0f / 0.9f},
        {5.0f, 60, 5.0f * std::sqrt(0.9f)},  // fine-grained wheels
        {2.6f, 120, 2.5f},
        {2.5f, 1200, 2.5f},
        {11.5f, -120, 12.0f},
        {12.0f, -12000, 12.0f},
    };
    for (const auto& t : turns)
        EXPECT_NEAR(ZoomedCameraDistance(t.from, t.delta), t.to, 1e-5f) << t.from << " by " << t.delta;
}

TEST(ModeLine, ShowsTheModeBothValuesAndTheRelativeError) {
    const ComputedModes modes = withEigenvalues({-2.8719, -7.2834, -7.2834, -12.8612, -12.8612});
    char text[100];
    FormatModeLine(text, sizeof text, modes, 3);
    EXPECT_STREQ(text, "Mode 3 of 5: eigenvalue -7.2834 (exact -7.3410, 0.78 % off)");
    FormatModeLine(text, sizeof text, modes, 6);
    EXPECT_STREQ(text, "");
    FormatModeLine(text, sizeof text, ComputedModes{}, 1);
    EXPECT_STREQ(text, "");
}

}  // namespace
