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

// REF's surface spans draw 4 pixels at a time, or 8 or 16 where the
// processor allows (WidestRefSpan). LimitRefSpans holds them to at most
// `pixels`, so that tests can compare the widths; WidestRefSpan() restores
// the processor's choice.
void LimitRefSpans(int pixels);
int WidestRefSpan();

}  // namespace platform::d3d9::testing
