// Shared between the files of this module only.
#pragma once

#include <cstdint>

#include "platform/win32/wintypes.h"

namespace platform::gdi {

// A new device-dependent bitmap holding a copy of the given pixels
// (0x00RRGGBB, rows from the top); bitsPerPixel is what GetObject reports.
HBITMAP adoptPixels(int width, int height, int bitsPerPixel, const std::uint32_t* topDownPixels);

}  // namespace platform::gdi
