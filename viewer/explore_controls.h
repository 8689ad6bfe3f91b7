// What the viewer offers beyond the single still picture, as plain
// arithmetic: a mode's vibration in time, the mouse's turn and zoom, and the
// overlay line that compares a computed eigenvalue with the exact one.
#pragma once

#include <cstddef>

#include "mode/computed_modes.h"

// The slowest mode vibrates at half a cycle a second; the others keep their
// physical ratio to it.
inline constexpr double LowestModeFrequency = 0.5;

// A left drag turns the surface by this much per pixel.
inline constexpr float DragRadiansPerPixel = 0.01f;

// The camera looks at the disk's centre from this far, and the wheel moves it
// between the nearest and the farthest.
inline constexpr float DefaultCameraDistance = 5.0f;
inline constexpr float NearestCameraDistance = 2.5f;
inline constexpr float FarthestCameraDistance = 12.0f;

// f_k = f_1 sqrt(lambda_k / lambda_1), in cycles a second; `mode` 1 to the
// number of modes. 0 when there is no such mode.
double ModeFrequency(const ComputedModes& modes, int mode);

// height cos(2 pi frequency seconds): the height `seconds` into the vibration.
float VibratingHeight(float height, double frequency, double seconds);

// A drag of (dx, dy) pixels, x to the right and y down: the surface follows
// the pointer, a horizontal drag turning it about the vertical axis and a
// vertical drag about the horizontal one. The angles are not wrapped, as the
// keys do not wrap them.
void TurnByDrag(float* rotationX, float* rotationY, int dx, int dy);

// The camera distance after a wheel turn of `wheelDelta` (120 a notch,
// positive away from the user, which brings the camera nearer): a tenth
// nearer or farther a notch, kept between the nearest and the farthest.
float ZoomedCameraDistance(float distance, int wheelDelta);

// "Mode 3 of 5: eigenvalue -7.2834 (exact -7.3410, 0.78 % off)". Empty when
// the mode was not computed.
void FormatModeLine(char* text, std::size_t size, const ComputedModes& modes, int mode);
