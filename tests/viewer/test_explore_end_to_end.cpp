// The View menu's keys and the mouse on the real program, as a user works
// them, on a virtual X server with a window manager (openbox, started here
// when none runs): modes, animation, a drag, the view's reset and a picture
// saved through the file dialog.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// After everything else: the X headers define words such as None and Bool.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int ClientHeight = 375;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void pause(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

pid_t spawn(const std::function<void()>& child) {
    const pid_t pid = fork();
    if (pid == 0) {
        child();
        _exit(127);
    }
    return pid;
}

void stop(pid_t pid) {
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}

class ExploreEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vl_explore_e2e_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        if (!getenv("DISPLAY") || !(display_ = XOpenDisplay(nullptr)))
            GTEST_SKIP() << "no X display";
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        if (!windowManagerRuns()) {
            windowManager_ = spawn([] {
                execlp("openbox", "openbox", "--sm-disable", static_cast<char*>(nullptr));
            });
            const auto end = Clock::now() + std::chrono::seconds(10);
            while (!windowManagerRuns() && Clock::now() < end)
                pause(20);
            if (!windowManagerRuns())
                GTEST_SKIP() << "no window manager (openbox) could be started";
        }
    }
    void TearDown() override {
        stop(program_);
        stop(windowManager_);
        if (display_)
            XCloseDisplay(display_);
        fs::remove_all(dir_);
    }

    bool windowManagerRuns() {
        const Atom check = XInternAtom(display_, "_NET_SUPPORTING_WM_CHECK", False);
        Atom type;
        int format;
        unsigned long count = 0, after;
        unsigned char* data = nullptr;
        const bool found = XGetWindowProperty(display_, DefaultRootWindow(display_), check, 0, 1, False, XA_WINDOW,
                                              &type, &format, &count, &after, &data) == Success &&
                           count == 1;
        if (data)
            XFree(data);
        return found;
    }

    void startProgram() {
        const std::string dir = dir_;
        program_ = spawn([dir] {
            if (chdir(dir.c_str()) != 0)
                return;
            setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
            unsetenv("QT_QPA_PLATFORM");
            freopen("stdout.txt", "w", stdout);
            freopen("stderr.txt", "w", stderr);
            execl(VL_PROGRAM, VL_PROGRAM, static_cast<char*>(nullptr));
        });
    }
    int waitForExit(double seconds) {
        const auto end = Clock::now() + std::chrono::duration<double>(seconds);
        while (Clock::now() < end) {
            int status = 0;
            if (waitpid(program_, &status, WNOHANG) == program_) {
                program_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            pause(5);
        }
        return -1;
    }

    // The program's own window, below the window manager's frame.
    Window findNamed(Window under, const char* title) {
        Window root, parent, *children = nullptr;
        unsigned count = 0;
        Window found = 0;
        if (!XQueryTree(display_, under, &root, &parent, &children, &count))
            return 0;
        for (unsigned i = 0; i < count && !found; ++i) {
            char* name = nullptr;
            XWindowAttributes a{};
            if (XFetchName(display_, children[i], &name) && name) {
                if (std::strcmp(name, title) == 0 && XGetWindowAttributes(display_, children[i], &a) &&
                    a.map_state == IsViewable && a.height > ClientHeight)
                    found = children[i];
                XFree(name);
            }
            if (!found)
                found = findNamed(children[i], title);
        }
        if (children)
            XFree(children);
        return found;
    }
    Window waitForWindow(double seconds) {
        const auto end = Clock::now() + std::chrono::duration<double>(seconds);
        while (Clock::now() < end) {
            if (Window w = findNamed(DefaultRootWindow(display_), "vibrolane"))
                return w;
            pause(20);
        }
        return 0;
    }

    // The rows of the client area between the overlay's top and bottom
    // lines: the surface only, no text that changes by itself.
    std::vector<unsigned long> band() {
        XWindowAttributes a{};
        if (!XGetWindowAttributes(display_, window_, &a))
            return {};
        const int top = a.height - ClientHeight + 70;
        XImage* image = XGetImage(display_, window_, 0, top, a.width, 200, AllPlanes, ZPixmap);
        if (!image)
            return {};
        std::vector<unsigned long> pixels;
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < a.width; ++x)
                pixels.push_back(XGetPixel(image, x, y) & 0xFFFFFF);
        XDestroyImage(image);
        return pixels;
    }
    bool surfaceShown(const std::vector<unsigned long>& pixels) {
        int surface = 0;
        for (unsigned long c : pixels)
            surface += c != 0x0080FF;
        return surface > 5000;
    }
    bool waitFor(double seconds, const std::function<bool(const std::vector<unsigned long>&)>& seen) {
        const auto end = Clock::now() + std::chrono::duration<double>(seconds);
        while (Clock::now() < end) {
            if (seen(band()))
                return true;
            pause(20);
        }
        return false;
    }

    void focus() {
        XRaiseWindow(display_, window_);
        XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
        XSync(display_, False);
        pause(100);
    }
    // A key, with Control held if asked, to whichever window has the focus.
    void key(KeySym symbol, bool control = false) {
        const KeyCode ctrl = XKeysymToKeycode(display_, XK_Control_L);
        const KeyCode code = XKeysymToKeycode(display_, symbol);
        if (control)
            XTestFakeKeyEvent(display_, ctrl, True, CurrentTime);
        XTestFakeKeyEvent(display_, code, True, CurrentTime);
        XTestFakeKeyEvent(display_, code, False, CurrentTime);
        if (control)
            XTestFakeKeyEvent(display_, ctrl, False, CurrentTime);
        XSync(display_, False);
    }
    void drag(int dx, int dy) {
        int x = 0, y = 0;
        Window child;
        XWindowAttributes a{};
        XGetWindowAttributes(display_, window_, &a);
        XTranslateCoordinates(display_, window_, DefaultRootWindow(display_), a.width / 2, a.height / 2, &x, &y,
                              &child);
        XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
        XTestFakeButtonEvent(display_, 1, True, CurrentTime);
        XSync(display_, False);
        for (int step = 1; step <= 10; ++step) {
            pause(20);
            XTestFakeMotionEvent(display_, -1, x + dx * step / 10, y + dy * step / 10, CurrentTime);
            XSync(display_, False);
        }
        XTestFakeButtonEvent(display_, 1, False, CurrentTime);
        XSync(display_, False);
    }

    std::string dir_;
    Display* display_ = nullptr;
    pid_t windowManager_ = -1;
    pid_t program_ = -1;
    Window window_ = 0;
};

TEST_F(ExploreEndToEnd, ModesAnimationDragResetAndASavedPicture) {
    startProgram();
    window_ = waitForWindow(30);
    ASSERT_NE(window_, 0u) << readFile(dir_ + "/stderr.txt");
    ASSERT_TRUE(waitFor(20, [this](const auto& b) { return surfaceShown(b); }));
    pause(500);
    const std::vector<unsigned long> start = band();
    focus();

    key(XK_1);
    EXPECT_TRUE(waitFor(10, [&](const auto& b) { return !b.empty() && b != start; })) << "1 changed nothing";
    key(XK_5);
    EXPECT_TRUE(waitFor(10, [&](const auto& b) { return b == start; })) << "5 did not bring back the start frame";

    key(XK_space);
    pause(200);
    const std::vector<unsigned long> moving = band();
    EXPECT_TRUE(waitFor(5, [&](const auto& b) { return !b.empty() && b != moving; })) << "animated frames stay alike";
    key(XK_space);
    pause(300);
    const std::vector<unsigned long> stopped = band();
    pause(500);
    EXPECT_EQ(band(), stopped) << "the animation went on after Space again";

    drag(80, 0);
    EXPECT_TRUE(waitFor(10, [&](const auto& b) { return !b.empty() && b != stopped; })) << "the drag turned nothing";
    focus();
    key(XK_Home);
    EXPECT_TRUE(waitFor(10, [&](const auto& b) { return b == stopped; })) << "Home did not undo the turn";

    // The dialog takes the focus; Enter accepts the proposed name.
    key(XK_s, true);
    pause(1500);
    key(XK_Return);
    const std::string saved = dir_ + "/vibrolane-mode5.png";
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (!(fs::exists(saved) && fs::file_size(saved) > 33) && Clock::now() < end)
        pause(50);
    pause(200);
    const std::string png = readFile(saved);
    ASSERT_GT(png.size(), 33u) << "no picture was saved; " << readFile(dir_ + "/stderr.txt");
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    // IHDR: the client area's size.
    auto be32 = [&png](std::size_t at) {
        return (unsigned(uint8_t(png[at])) << 24) | (unsigned(uint8_t(png[at + 1])) << 16) |
               (unsigned(uint8_t(png[at + 2])) << 8) | unsigned(uint8_t(png[at + 3]));
    };
    EXPECT_EQ(be32(16), 500u);
    EXPECT_EQ(be32(20), 375u);

    focus();
    key(XK_Escape);
    EXPECT_EQ(waitForExit(20), 0) << readFile(dir_ + "/stderr.txt");
    EXPECT_EQ(readFile(dir_ + "/stdout.txt"), readFile(VL_SOURCE_DIR "/tests/golden/startup-stdout.txt"));
    EXPECT_EQ(readFile(dir_ + "/debug-file.txt"), readFile(VL_SOURCE_DIR "/tests/golden/startup-debug-file.txt"));
}

}  // namespace
