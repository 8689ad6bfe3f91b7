// The program's GUI entry. Everything numerical happens here, before any
// window exists; the viewer will follow the published surface.
#include <iostream>

#include "platform/win32/windows.h"
#include "startup/mode_surface.h"
#include "startup/startup_sequence.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (!ComputeAndPublishModeSurface(ModeComputation, std::cerr))
        return 1;
    return 0;
}
