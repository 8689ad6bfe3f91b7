// The numerical half of start-up, guarded so that a broken kernel check ends
// the program with a message instead of an abort and a core dump.
#pragma once

#include <functional>
#include <ostream>

#include "mode/mode_surface.h"

// Runs computation and publishes its surface. When an mtl::assertion escapes
// the computation, nothing is published, "vibrolane: " and the assertion's
// text go to errors, and the result is false.
bool ComputeAndPublishModeSurface(const std::function<ModeSurface()>& computation, std::ostream& errors);
