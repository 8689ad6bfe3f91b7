// Faults that tests of the layer, and of the programs built on it, force to
// see the 3-D device report them instead of failing silently. The program
// never calls these.
#pragma once

#include "platform/d3d9/d3d9.h"

namespace platform::d3d9::testing {

// While set, creating a HAL device fails (D3DERR_NOTAVAILABLE) although HAL
// is still offered, as when OpenGL goes away between enumeration and use.
void SetHalCreationFails(bool fails);

// While set, the fixed-function programs HAL builds from now on fail to
// compile; draws that need one return D3DERR_DRIVERINTERNALERROR.
void SetHalShadersBroken(bool broken);

// While set, every GL allocation HAL makes (vertex buffers, textures,
// render buffers) asks for an impossible size, so that the driver refuses
// it as it would refuse memory it does not have.
void SetHalAllocationsFail(bool fail);

// The device's OpenGL context goes away as in a GPU reset. False when the
// device is not a HAL device.
bool LoseHalContext(IDirect3DDevice9* device);

// While set, HAL presents as REF does, reading every frame back into the
// window's picture, instead of swapping the window's OpenGL surface; a
// benchmark compares the two with the same binary.
void SetHalPresentsByReadBack(bool readBack);

// While set, a window's OpenGL surface refuses HAL's context, as on a
// platform that has none; HAL then falls back to the read-back.
void SetHalWindowSurfaceFails(bool fails);

// Whether the device's last Present swapped the window's OpenGL surface;
// false for a REF device.
bool HalPresentedDirectly(IDirect3DDevice9* device);

// The swap interval the window's surface asked of the driver at the
// device's last Present that swapped it; -1 when there was none.
int HalSwapInterval(IDirect3DDevice9* device);

// REF's surface spans draw 4 pixels at a time, or 8 or 16 where the
// processor allows (WidestRefSpan), or one where it has no wider loops.
// LimitRefSpans holds them to at most `pixels` (below 4, the one-pixel loop
// alone), so that tests can compare the widths; WidestRefSpan() restores
// the processor's choice.
void LimitRefSpans(int pixels);
int WidestRefSpan();

}  // namespace platform::d3d9::testing
