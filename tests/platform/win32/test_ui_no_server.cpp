// A DISPLAY naming an X server that is not there: the GUI is unavailable and
// the program goes on, instead of the X library ending the process.
#include <cstdlib>

#include "platform/win32/window_access.h"
#include "ui_test_support.h"

using namespace uitest;

TEST(NoServer, AnUnreachableDisplayMakesTheGuiUnavailableInsteadOfAborting) {
    setenv("DISPLAY", ":987", 1);
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("QT_QPA_PLATFORM");
    InitCommonControls();
    EXPECT_FALSE(platform::guiAvailable());
    WNDCLASSA wc{};
    wc.lpfnWndProc = recordingProc;
    wc.lpszClassName = "D3D Window";
    RegisterClassA(&wc);
    EXPECT_EQ(CreateWindowExA(0, "D3D Window", "vibrolane", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                              nullptr, nullptr),
              nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", MB_OK), IDOK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "caption: text\n");
}
