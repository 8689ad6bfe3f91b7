// Writing a picture as a PNG file, for tools that render without a display.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Rows of 0x??RRGGBB pixels, `pitch` bytes apart, top row first; the alpha
// byte is ignored. False, with the reason in *error, when the file cannot be
// written.
bool writePngFile(const std::string& path, int width, int height, const void* pixels, int pitch,
                  std::string* error);

}  // namespace platform
