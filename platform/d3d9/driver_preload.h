// The OpenGL driver's early loading, started by the program's entry point.
#pragma once

namespace platform::hal {

// Starts loading the OpenGL driver on a helper thread so that the first
// context finds it ready; the entry point calls it once it knows there is a
// display. Later calls do nothing; without it the first context loads the
// driver itself.
void startGraphicsDriverPreload();

}  // namespace platform::hal
