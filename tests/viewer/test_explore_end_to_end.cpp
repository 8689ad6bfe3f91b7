// The View menu's keys and the mouse on the real program, as a user works
// them, on a virtual X server with a window manager (openbox, started here
// when none runs): modes, animation, a drag, the view's reset and a picture
// saved through the file dialog.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Band = std::vector<unsigned long>;

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool within(double seconds, const std::function<bool()>& done) {
    for (const auto end = Clock::now() + std::chrono::duration<double>(seconds); Clock::now() < end; pause(20))
        if (done())
            return true;
    return false;
}

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
            if ((windowManager_ = fork()) == 0) {
                execlp("openbox", "openbox", "--sm-disable", static_cast<char*>(nullptr));
                _exit(127);
            }
            if (!within(10, managed))
                GTEST_SKIP() << "no window manager (openbox) could be started";
        }
    }
    void TearDown() override {
        for (pid_t child : {program_, windowManager_})
            if (child > 0) {
                kill(child, SIGTERM);
                waitpid(child, nullptr, 0);
            }
        if (x_)
            XCloseDisplay(x_);
        fs::remove_all(dir_);
    }

    // The program's own window, below the window manager's frame.
    Window find(Window under) {
        Window root, parent, *children = nullptr, found = 0;
        unsigned count = 0;
        if (!XQueryTree(x_, under, &root, &parent, &children, &count))
            return 0;
        for (unsigned i = 0; i < count && !found; ++i) {
            char* name = nullptr;
            XWindowAttributes a{};
            if (XFetchName(x_, children[i], &name) && name) {
                if (!std::strcmp(name, "vibrolane") && XGetWindowAttributes(x_, children[i], &a) &&
                    a.map_state == IsViewable && a.height > 375)
                    found = children[i];
                XFree(name);
            }
            if (!found)
                found = find(children[i]);
        }
        if (children)
            XFree(children);
        return found;
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
        pause(100);
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
            pause(20);
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
    if ((program_ = fork()) == 0) {
        if (chdir(dir_.c_str()) == 0 && freopen("stdout.txt", "w", stdout) && freopen("stderr.txt", "w", stderr)) {
            setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
            unsetenv("QT_QPA_PLATFORM");
            execl(VL_PROGRAM, VL_PROGRAM, static_cast<char*>(nullptr));
        }
        _exit(127);
    }
    ASSERT_TRUE(within(30, [this] { return (window_ = find(DefaultRootWindow(x_))) != 0; }));
    // The blue background around the disk: a frame has been drawn.
    ASSERT_TRUE(becomes([](const Band& b) {
        const long clear = std::count(b.begin(), b.end(), 0x0080FFul);
        return clear > long(b.size()) / 10 && clear < long(b.size()) / 2;
    })) << "no surface; " << readFile(dir_ + "/stderr.txt");
    // The start frame once the window manager has placed the window for good.
    Band start;
    ASSERT_TRUE(within(10, [&] {
        const Band before = band();
        pause(300);
        return (start = band()) == before;
    }));
    focus();

    key(XK_1);
    EXPECT_TRUE(becomes([&](const Band& b) { return b != start; })) << "1 changed nothing";
    key(XK_5);
    EXPECT_TRUE(becomes([&](const Band& b) { return b == start; })) << "5 did not bring back the start frame";

    key(XK_space);
    pause(200);
    const Band moving = band();
    EXPECT_TRUE(becomes([&](const Band& b) { return b != moving; })) << "animated frames stay alike";
    key(XK_space);
    pause(300);
    const Band stopped = band();
    pause(500);
    EXPECT_EQ(band(), stopped) << "the animation went on after Space again";

    drag(80);
    EXPECT_TRUE(becomes([&](const Band& b) { return b != stopped; })) << "the drag turned nothing";
    focus();
    key(XK_Home);
    EXPECT_TRUE(becomes([&](const Band& b) { return b == stopped; })) << "Home did not undo the turn";

    // The dialog takes the focus; Enter accepts the proposed name.
    key(XK_s, true);
    pause(1500);
    key(XK_Return);
    const std::string saved = dir_ + "/vibrolane-mode5.png";
    within(10, [&] { return fs::exists(saved) && fs::file_size(saved) > 33; });
    pause(200);
    const std::string png = readFile(saved);
    ASSERT_GT(png.size(), 33u) << "nothing saved; " << readFile(dir_ + "/stderr.txt");
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    // IHDR: the client area's size, 500 x 375.
    EXPECT_EQ(png.substr(16, 8), std::string("\0\0\x01\xf4\0\0\x01\x77", 8));

    focus();
    key(XK_Escape);
    int status = -1;
    EXPECT_TRUE(within(20, [&] { return waitpid(program_, &status, WNOHANG) == program_; }));
    program_ = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << readFile(dir_ + "/stderr.txt");
    EXPECT_EQ(readFile(dir_ + "/stdout.txt"), readFile(VL_SOURCE_DIR "/tests/golden/startup-stdout.txt"));
    EXPECT_EQ(readFile(dir_ + "/debug-file.txt"), readFile(VL_SOURCE_DIR "/tests/golden/startup-debug-file.txt"));
}

}  // namespace
