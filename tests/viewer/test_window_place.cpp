// The window keeps its place on the screen through everything that makes
// the device again or resets it, under a real window manager: the real
// program on an X server of the test's own, with openbox, driven by keys.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/viewer/program_harness.h"

// After everything else: the X headers define words such as None and Bool.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace fs = std::filesystem;
using namespace program_harness;

namespace {

struct Place {
    int x = 0, y = 0, width = 0, height = 0;  // the client area, on the screen
    int titleTop = 0, titleLeft = 0;          // the window manager's frame
};

// An X server and a window manager of the test's own, so that no other test
// on the shared display sees a window manager it does not expect.
class WindowPlace : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vl_window_place_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        // The first display number nobody holds.
        int number = 70;
        while (fs::exists("/tmp/.X" + std::to_string(number) + "-lock") ||
               fs::exists("/tmp/.X11-unix/X" + std::to_string(number)))
            ++number;
        display_ = ":" + std::to_string(number);
        server_ = start({"Xvfb", display_, "-screen", "0", "1280x1024x24", "+extension", "GLX", "-nolisten", "tcp"},
                        {}, "");
        ASSERT_TRUE(within(20, [this] { return (x_ = XOpenDisplay(display_.c_str())) != nullptr; })) << display_;
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        manager_ = start({"openbox", "--sm-disable"}, {"DISPLAY=" + display_}, "");
        // A window manager owns the screen's WM_S0 selection.
        ASSERT_TRUE(within(20, [this] { return XGetSelectionOwner(x_, XInternAtom(x_, "WM_S0", False)) != 0; }))
            << "openbox did not start";
    }
    void TearDown() override {
        if (program_ > 0)
            stop(program_);
        if (x_)
            XCloseDisplay(x_);
        stop(manager_);
        stop(server_);
        fs::remove_all(dir_);
    }

    void startProgram() {
        program_ = start({VL_PROGRAM}, {"DISPLAY=" + display_, "XDG_CONFIG_HOME=" + dir_ + "/config"}, dir_);
        ASSERT_TRUE(within(40, [this] { return (window_ = find("vibrolane")) != 0; }))
            << readFile(dir_ + "/stderr.txt");
        // The first frames, and the window manager's placing, settle first.
        pause(2.5);
    }
    ::Window find(const char* title) { return findWindow(x_, DefaultRootWindow(x_), title); }

    Place place() {
        Place p;
        XWindowAttributes a{};
        XGetWindowAttributes(x_, window_, &a);
        ::Window child;
        XTranslateCoordinates(x_, window_, DefaultRootWindow(x_), 0, 0, &p.x, &p.y, &child);
        // The client area lies under the menu bar, which keeps its height.
        p.width = a.width;
        p.height = 375;
        p.y += a.height - p.height;
        // The window manager's frame: the ancestor that is the root's child.
        ::Window w = window_, root, up, *children = nullptr;
        unsigned count;
        while (XQueryTree(x_, w, &root, &up, &children, &count) && up != root) {
            if (children)
                XFree(children);
            children = nullptr;
            w = up;
        }
        if (children)
            XFree(children);
        XTranslateCoordinates(x_, w, DefaultRootWindow(x_), 0, 0, &p.titleLeft, &p.titleTop, &child);
        return p;
    }

    void key(KeySym symbol, KeySym modifier = 0) {
        if (modifier)
            XTestFakeKeyEvent(x_, XKeysymToKeycode(x_, modifier), True, CurrentTime);
        XTestFakeKeyEvent(x_, XKeysymToKeycode(x_, symbol), True, CurrentTime);
        XTestFakeKeyEvent(x_, XKeysymToKeycode(x_, symbol), False, CurrentTime);
        if (modifier)
            XTestFakeKeyEvent(x_, XKeysymToKeycode(x_, modifier), False, CurrentTime);
        XSync(x_, False);
        pause(0.3);
    }

    // Keys for the settings dialog once it is on the screen; the window
    // comes back when it has closed and the device is made again.
    void settings(const std::vector<std::pair<KeySym, KeySym>>& keys) {
        key(XK_F2);
        ASSERT_TRUE(within(10, [this] { return find("Direct3D Settings") != 0; }));
        pause(0.5);
        for (auto [k, modifier] : keys)
            key(k, modifier);
        ASSERT_TRUE(within(10, [this] { return find("Direct3D Settings") == 0; }));
        pause(2);
    }

    void fullScreenAndBack(const std::function<void()>& inFullScreen = {}) {
        key(XK_Return, XK_Alt_L);
        pause(2);
        if (inFullScreen)
            inFullScreen();
        key(XK_Return, XK_Alt_L);
        pause(2.5);
        window_ = find("vibrolane");
    }

    void moveTo(int x, int y) {
        XMoveWindow(x_, window_, x, y);
        XSync(x_, False);
        pause(0.8);
    }

    std::string dir_, display_;
    pid_t server_ = -1, manager_ = -1, program_ = -1;
    Display* x_ = nullptr;
    ::Window window_ = 0;
};

TEST_F(WindowPlace, EveryPathThatMakesTheDeviceAgainKeepsTheWindowWhereItIs) {
    startProgram();
    // The user moves the window first: its place is not the one it was created at.
    moveTo(210, 160);

    const struct {
        const char* path;
        std::function<void()> act;
    } rows[] = {
        {"settings, OK with no change", [this] { settings({{XK_Return, 0}}); }},
        {"settings, Cancel", [this] { settings({{XK_Escape, 0}}); }},
        // The adapter list has the focus; the device list follows it.
        {"settings, another device type", [this] { settings({{XK_Tab, 0}, {XK_Down, 0}, {XK_Return, 0}}); }},
        {"settings, the device type back", [this] { settings({{XK_Tab, 0}, {XK_Up, 0}, {XK_Return, 0}}); }},
        {"settings, another back-buffer format",
         [this] { settings({{XK_b, XK_Alt_L}, {XK_Down, 0}, {XK_Return, 0}}); }},
        {"Alt+Enter to full screen and back", [this] { fullScreenAndBack(); }},
        // Another window takes the focus from full screen: the device is
        // lost, then reset when the program has the focus again.
        {"a reset after the device was lost",
         [this] {
             fullScreenAndBack([this] {
                 const ::Window other = XCreateSimpleWindow(x_, DefaultRootWindow(x_), 0, 0, 50, 50, 0, 0, 0);
                 XMapRaised(x_, other);
                 XSync(x_, False);
                 pause(0.8);
                 XSetInputFocus(x_, other, RevertToPointerRoot, CurrentTime);
                 XSync(x_, False);
                 pause(1);
                 XDestroyWindow(x_, other);
                 XSync(x_, False);
                 pause(1);
                 const ::Window back = find("vibrolane");
                 XRaiseWindow(x_, back);
                 XSetInputFocus(x_, back, RevertToPointerRoot, CurrentTime);
                 XSync(x_, False);
                 pause(1.5);
             });
         }},
    };
    for (const auto& row : rows) {
        const Place before = place();
        row.act();
        ASSERT_NE(window_, 0u) << row.path << ": the window is gone";
        const Place after = place();
        EXPECT_NEAR(after.x, before.x, 2) << row.path;
        EXPECT_NEAR(after.y, before.y, 2) << row.path;
        EXPECT_EQ(after.width, before.width) << row.path;
        EXPECT_GE(after.titleTop, 0) << row.path << ": the title bar is off the screen";
        EXPECT_GE(after.titleLeft, 0) << row.path;
    }
    key(XK_Escape);
    EXPECT_EQ(exitStatus(program_, 20), 0) << readFile(dir_ + "/stderr.txt");
    program_ = -1;
}

TEST_F(WindowPlace, AWindowWhosePlaceIsOffEveryScreenComesBackOnTheNearest) {
    startProgram();
    moveTo(900, 700);
    // The resolution is lowered while the program has the screen: the place
    // it comes back to is off the screen.
    const std::string xrandr = "DISPLAY=" + display_ + " xrandr";
    fullScreenAndBack([&] {
        ASSERT_EQ(std::system((xrandr + " --newmode 800x600 40 800 840 968 1056 600 601 605 628 && " + xrandr +
                               " --addmode screen 800x600 && " + xrandr + " --output screen --mode 800x600")
                                  .c_str()),
                  0);
        pause(1.5);
    });
    ASSERT_NE(window_, 0u);
    const Place after = place();
    EXPECT_GE(after.titleTop, 0);
    EXPECT_GE(after.titleLeft, 0);
    EXPECT_LE(after.x + after.width, 800);
    EXPECT_LE(after.y + after.height, 600);
}

}  // namespace
