// The demonstration program: the frame with one lit triangle.
#include "mode/mode_surface.h"
#include "tests/framework/triangle_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // Its statistics count one triangle a frame.
    static ModeTriangle triangle = {0, 1, 2};
    static ModeVertex vertices[3] = {{-1.0f, -1.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, {1.0f, -1.0f, 0.0f}};
    PublishModeSurface({&triangle, vertices, 1, 3});
    InitCommonControls();
    TriangleApp app;
    return RunTriangleApp(app, instance);
}
