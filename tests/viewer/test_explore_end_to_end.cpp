// The View menu's keys and the mouse on the real program, as a user works
// them, on a virtual X server with a window manager (openbox, started here
// when none runs): modes, animation, a drag, the view's reset and a picture
// saved through the file dialog.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/viewer/program_harness.h"

// After everything else: the X headers define words such as None and Bool.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace fs = std::filesystem;
using namespace program_harness;
using Band = std::vector<unsigned long>;

namespace {

class ExploreEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vl_explore_e2e_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        if (!getenv("DISPLAY") || !(x_ = XOpenDisplay(nullptr)))
            GTEST_SKIP() << "no X display";
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        // A window manager owns the screen's WM_S0 selection.
        auto managed = [this] { return XGetSelectionOwner(x_, XInternAtom(x_, "WM_S0", False)) != 0; };
        if (!managed()) {
            windowManager_ = start({"openbox", "--sm-disable"}, {}, "");
            if (!within(10, managed))
                GTEST_SKIP() << "no window manager (openbox) could be started";
        }
    }
    void TearDown() override {
        for (pid_t child : {program_, windowManager_})
            stop(child);
        if (x_)
            XCloseDisplay(x_);
        fs::remove_all(dir_);
    }

    // The client rows between the overlay's top and bottom lines: the surface
    // and nothing that changes by itself.
    Band band() {
        XWindowAttributes a{};
        XGetWindowAttributes(x_, window_, &a);
        XImage* image = XGetImage(x_, window_, 0, a.height - 375 + 70, a.width, 200, AllPlanes, ZPixmap);
        Band pixels;
        for (int y = 0; image && y < 200; ++y)
            for (int x = 0; x < a.width; ++x)
                pixels.push_back(XGetPixel(image, x, y) & 0xFFFFFF);
        if (image)
            XDestroyImage(image);
        return pixels;
    }
    bool becomes(const std::function<bool(const Band&)>& seen) { return within(10, [&] { return seen(band()); }); }
    void focus() {
        XRaiseWindow(x_, window_);
        XSetInputFocus(x_, window_, RevertToParent, CurrentTime);
        XSync(x_, False);
        pause(0.1);
    }
    // To whichever window has the focus, with Control held if asked.
    void key(KeySym symbol, bool control = false) {
        const KeyCode ctrl = XKeysymToKeycode(x_, XK_Control_L), code = XKeysymToKeycode(x_, symbol);
        if (control)
            XTestFakeKeyEvent(x_, ctrl, True, CurrentTime);
        XTestFakeKeyEvent(x_, code, True, CurrentTime);
        XTestFakeKeyEvent(x_, code, False, CurrentTime);
        if (control)
            XTestFakeKeyEvent(x_, ctrl, False, CurrentTime);
        XSync(x_, False);
    }
    void drag(int dx) {
        int x = 0, y = 0;
        Window child;
        XTranslateCoordinates(x_, window_, DefaultRootWindow(x_), 250, 250, &x, &y, &child);
        XTestFakeMotionEvent(x_, -1, x, y, CurrentTime);
        XTestFakeButtonEvent(x_, 1, True, CurrentTime);
        for (int step = 1; step <= 10; ++step) {
            XSync(x_, False);
            pause(0.02);
            XTestFakeMotionEvent(x_, -1, x + dx * step / 10, y, CurrentTime);
        }
        XTestFakeButtonEvent(x_, 1, False, CurrentTime);
        XSync(x_, False);
    }

    std::string dir_;
    Display* x_ = nullptr;
    pid_t windowManager_ = -1, program_ = -1;
    Window window_ = 0;
};

TEST_F(ExploreEndToEnd, ModesAnimationDragResetAndASavedPicture) {
    program_ = start({VL_PROGRAM}, {"XDG_CONFIG_HOME=" + dir_ + "/config"}, dir_);
    ASSERT_TRUE(within(30, [this] { return (window_ = findWindow(x_, DefaultRootWindow(x_), "vibrolane", 376)) != 0; }));
    // The blue background around the disk: a frame has been drawn.
    ASSERT_TRUE(becomes([](const Band& b) {
        const long clear = std::count(b.begin(), b.end(), 0x0080FFul);
        return clear > long(b.size()) / 10 && clear < long(b.size()) / 2;
    })) << "no surface; " << readFile(dir_ + "/stderr.txt");
    // The start frame once the window manager has placed the window for good.
    Band start;
    ASSERT_TRUE(within(10, [&] {
        const Band before = band();
        pause(0.3);
        return (start = band()) == before;
    }));
    focus();

    key(XK_1);
    EXPECT_TRUE(becomes([&](const Band& b) { return b != start; })) << "1 changed nothing";
    key(XK_5);
    EXPECT_TRUE(becomes([&](const Band& b) { return b == start; })) << "5 did not bring back the start frame";

    key(XK_space);
    pause(0.2);
    const Band moving = band();
    EXPECT_TRUE(becomes([&](const Band& b) { return b != moving; })) << "animated frames stay alike";
    key(XK_space);
    pause(0.3);
    const Band stopped = band();
    pause(0.5);
    EXPECT_EQ(band(), stopped) << "the animation went on after Space again";

    drag(80);
    EXPECT_TRUE(becomes([&](const Band& b) { return b != stopped; })) << "the drag turned nothing";
    focus();
    key(XK_Home);
    EXPECT_TRUE(becomes([&](const Band& b) { return b == stopped; })) << "Home did not undo the turn";

    // The dialog takes the focus; Enter accepts the proposed name.
    key(XK_s, true);
    pause(1.5);
    key(XK_Return);
    const std::string saved = dir_ + "/vibrolane-mode5.png";
    within(10, [&] { return fs::exists(saved) && fs::file_size(saved) > 33; });
    pause(0.2);
    const std::string png = readFile(saved);
    ASSERT_GT(png.size(), 33u) << "nothing saved; " << readFile(dir_ + "/stderr.txt");
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    // IHDR: the client area's size, 500 x 375.
    EXPECT_EQ(png.substr(16, 8), std::string("\0\0\x01\xf4\0\0\x01\x77", 8));

    focus();
    key(XK_Escape);
    EXPECT_EQ(exitStatus(program_, 20), 0) << readFile(dir_ + "/stderr.txt");
    program_ = -1;
    EXPECT_EQ(readFile(dir_ + "/stdout.txt"), readFile(VL_SOURCE_DIR "/tests/golden/startup-stdout.txt"));
    EXPECT_EQ(readFile(dir_ + "/debug-file.txt"), readFile(VL_SOURCE_DIR "/tests/golden/startup-debug-file.txt"));
}

}  // namespace
