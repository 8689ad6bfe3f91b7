// Faults injected into the real program on a virtual X server with a window
// manager, each for about ten seconds: the OpenGL context lost every 2 s,
// the sound device gone while F5 is held, a controller unplugged with its
// stick pushed, 200 resizes in 2 s. Afterwards the program still draws, has
// grown by less than 5 MB, and Esc ends it with 0.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
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

namespace {

long residentKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

struct Fault {
    const char* name;
    const char* shimFault;  // VL_FAULT for the preloaded shim, or none
    // What the test does while the fault runs (the program's window given).
    std::function<void(Display*, Window)> during;
    const char* saidOnStderr;  // what the program says of it, or none
};

class Faults : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY") || !(display_ = XOpenDisplay(nullptr)))
            GTEST_SKIP() << "no X display";
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        char pattern[] = "/tmp/vl_faults_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        // A window manager, as a desktop has, when one is installed.
        if (access("/usr/bin/openbox", X_OK) == 0)
            manager_ = start({"/usr/bin/openbox", "--sm-disable"}, {}, "");
        pause(0.5);
    }
    void TearDown() override {
        for (pid_t pid : {program_, manager_})
            stop(pid);
        if (display_)
            XCloseDisplay(display_);
        if (!dir_.empty())
            fs::remove_all(dir_);
    }

    Window programWindow(double seconds) {
        Window found = 0;
        within(seconds, [&] { return (found = findWindow(display_, DefaultRootWindow(display_), "vibrolane")) != 0; });
        return found;
    }
    // The middle of the client area, below the text lines at the top and
    // above those at the bottom, as 0xRRGGBB words.
    std::vector<unsigned long> middle(Window window) {
        XWindowAttributes a{};
        std::vector<unsigned long> pixels;
        if (!XGetWindowAttributes(display_, window, &a))
            return pixels;
        const int x0 = a.width / 4, y0 = a.height / 3, w = a.width / 2, h = a.height / 3;
        XImage* image = XGetImage(display_, window, x0, y0, unsigned(w), unsigned(h), AllPlanes, ZPixmap);
        if (!image)
            return pixels;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                pixels.push_back(XGetPixel(image, x, y) & 0xFFFFFF);
        XDestroyImage(image);
        return pixels;
    }
    // Red and blue of the surface, not just the blue background.
    static bool showsTheSurface(const std::vector<unsigned long>& pixels) {
        int red = 0, blue = 0;
        for (unsigned long c : pixels) {
            const int r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
            red += r >= 96 && g <= 64 && b <= 32;
            blue += b >= 96 && r <= 32 && g <= 64 && c != 0x0080FF;
        }
        return red > 200 && blue > 200;
    }
    bool drawsTheSurface(Window window, double seconds) {
        return within(seconds, [&] { return showsTheSurface(middle(window)); });
    }
    void focus(Window window) {
        XRaiseWindow(display_, window);
        XSetInputFocus(display_, window, RevertToParent, CurrentTime);
        XSync(display_, False);
        pause(0.2);
    }
    void key(Window window, KeySym symbol, bool down) {
        focus(window);
        XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, symbol), down, CurrentTime);
        XSync(display_, False);
    }

    Display* display_ = nullptr;
    std::string dir_;
    pid_t manager_ = -1;
    pid_t program_ = -1;
};

std::vector<Fault> faults() {
    return {
        {"the OpenGL context lost every 2 s", "gl-loss", [](Display*, Window) { pause(10); },
         "OpenGL context was lost"},
        {"the sound device gone while F5 is held", "sound-loss",
         [](Display* display, Window) {
             XTestFakeKeyEvent(display, XKeysymToKeycode(display, XK_F5), True, CurrentTime);
             XSync(display, False);
             pause(10);
             XTestFakeKeyEvent(display, XKeysymToKeycode(display, XK_F5), False, CurrentTime);
             XSync(display, False);
         },
         "the audio device has gone away"},
        {"a controller unplugged with its stick pushed", "controller-unplug", [](Display*, Window) { pause(10); },
         nullptr},
        {"200 resizes in 2 s", nullptr,
         [](Display* display, Window window) {
             for (int i = 0; i < 200; ++i) {
                 XResizeWindow(display, window, unsigned(400 + (i * 37) % 300), unsigned(300 + (i * 53) % 250));
                 XSync(display, False);
                 pause(0.01);
             }
             XResizeWindow(display, window, 500, 420);
             XSync(display, False);
             pause(8);
         },
         nullptr},
    };
}

TEST_P(Faults, TheProgramDrawsOnStaysSmallAndEndsWithEsc) {
    const Fault fault = faults()[std::size_t(GetParam())];
    SCOPED_TRACE(fault.name);
    std::vector<std::string> environment = {"XDG_CONFIG_HOME=" + dir_ + "/config", "SDL_AUDIODRIVER=dummy",
                                            "QT_QPA_PLATFORM=xcb",
                                            // The shim comes after the sanitizer's runtime, when there is one.
                                            "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"};
    if (fault.shimFault) {
        environment.push_back(std::string("LD_PRELOAD=") + VL_FAULT_SHIM);
        environment.push_back(std::string("VL_FAULT=") + fault.shimFault);
        environment.push_back("VL_FAULT_AFTER=4000");
    }
    program_ = start({VL_PROGRAM}, environment, dir_);
    const Window window = programWindow(60);
    ASSERT_NE(window, 0u) << readFile(dir_ + "/stderr.txt");
    focus(window);
    ASSERT_TRUE(drawsTheSurface(window, 30)) << readFile(dir_ + "/stderr.txt");
    const long before = residentKb(program_);
    const bool controller = fault.shimFault && std::strcmp(fault.shimFault, "controller-unplug") == 0;
    if (controller) {
        // Plugged, the pushed stick turns the surface.
        const std::vector<unsigned long> first = middle(window);
        pause(0.5);
        EXPECT_NE(middle(window), first) << "the pushed stick does not turn the surface";
    }

    fault.during(display_, window);

    if (controller) {
        // Unplugged, the stick lets go: the surface stops turning.
        const std::vector<unsigned long> first = middle(window);
        pause(1);
        EXPECT_EQ(middle(window), first) << "the surface still turns: an axis stayed pushed";
    }
    EXPECT_TRUE(drawsTheSurface(window, 20)) << "the program no longer draws";
    const long after = residentKb(program_);
    EXPECT_LT(after - before, 5 * 1024) << "resident memory " << before << " kB before, " << after << " kB after";
    key(window, XK_Escape, true);
    key(window, XK_Escape, false);
    EXPECT_EQ(exitStatus(program_, 30), 0) << readFile(dir_ + "/stderr.txt");
    program_ = -1;
    if (fault.saidOnStderr) {
        EXPECT_NE(readFile(dir_ + "/stderr.txt").find(fault.saidOnStderr), std::string::npos)
            << readFile(dir_ + "/stderr.txt");
    }
}

INSTANTIATE_TEST_SUITE_P(Injected, Faults, ::testing::Range(0, 4));

}  // namespace
