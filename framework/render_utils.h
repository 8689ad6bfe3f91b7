// Small stateless helpers shared by the frame, the settings dialog and the
// viewer: default material and light, the device's hardware cursor from a
// Windows cursor, names of surface formats, and bounded text copies and
// conversions between ANSI and wide text.
#pragma once

#include "platform/d3d9/d3d9.h"
#include "platform/win32/windows.h"

// Diffuse and ambient (r, g, b, a); everything else zero.
void InitMaterial(D3DMATERIAL9& material, float r, float g, float b, float a);

// White diffuse light of the given type at (x, y, z), pointing along the unit
// vector of (x, y, z), with a range of 1000; everything else zero.
void InitLight(D3DLIGHT9& light, D3DLIGHTTYPE type, float x, float y, float z);

// Copies the cursor's picture into the device's hardware cursor, optionally
// stamping a small mark in its top-left corner so that it can be told from
// the system's own cursor.
HRESULT SetDeviceCursor(IDirect3DDevice9* device, HCURSOR cursor, bool addWatermark);

// "D3DFMT_X8R8G8B8", or "X8R8G8B8" without the prefix; "Unknown format" for
// a format without a name here.
const char* FormatName(D3DFORMAT format, bool withPrefix);

// Sizes are of the destination, in its own characters; the result is always
// terminated within them.
HRESULT CopyText(char* destination, const char* source, int destinationSize);
HRESULT ToWide(WCHAR* destination, const char* source, int destinationSize);
HRESULT ToWideBytes(WCHAR* destination, const char* source, int destinationBytes);
HRESULT ToNarrow(char* destination, const WCHAR* source, int destinationSize);
