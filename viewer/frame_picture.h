// The frame in the back buffer as a picture: read back from the device and
// written as a PNG file, as the screen shows it (overlay included).
#pragma once

#include <string>
#include <vector>

#include "platform/d3d9/d3d9.h"

// The back buffer's pixels, top row first, 0xFFRRGGBB each, and its size.
HRESULT ReadFramePixels(IDirect3DDevice9* device, std::vector<DWORD>* pixels, UINT* width, UINT* height);

// Reads the frame and writes it to `path`. False with a reason a user can
// act on in *why when either fails.
bool SaveFramePicture(IDirect3DDevice9* device, const std::string& path, std::string* why);
