// The program's GUI entry. Everything numerical happens first, before any
// window exists; then the viewer shows the published surface.
#include <iostream>

#include "core/matrix_text.h"
#include "platform/win32/commctrl.h"
#include "platform/win32/windows.h"
#include "startup/mode_surface.h"
#include "startup/startup_sequence.h"
#include "viewer/viewer_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // The log's writes are lost without a word otherwise; the computation
    // and its standard output do not need it.
    if (!debug_log.is_open())
        std::cerr << "vibrolane: cannot create debug-file.txt in the working folder; the check of the modes is not "
                     "written\n";
    if (!ComputeAndPublishModeSurface(ModeComputation, std::cerr))
        return 1;

    ViewerApp app;
    InitCommonControls();
    // The frame has already shown why; a program that could not start must
    // not report success to whoever started it.
    if (FAILED(app.Create(instance)))
        return 1;
    return app.Run();
}
