// The real program, started as a user starts it, on a virtual X server: the
// loading text, a frame with the surface, Esc, the exit status and the
// stored size; and without any display server, a clear failure.
#include <fcntl.h>
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
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The program in a folder of its own, its registry under it.
class Program {
public:
    Program(const std::string& dir, bool withDisplay, const char* screenScale = nullptr) {
        pid_ = fork();
        if (pid_ == 0) {
            if (chdir(dir.c_str()) != 0)
                _exit(127);
            setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
            if (!withDisplay) {
                unsetenv("DISPLAY");
                unsetenv("WAYLAND_DISPLAY");
            }
            unsetenv("QT_QPA_PLATFORM");
            if (screenScale)
                setenv("QT_SCALE_FACTOR", screenScale, 1);
            else
                unsetenv("QT_SCALE_FACTOR");
            const int out = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(err, 2);
            execl(VL_PROGRAM, VL_PROGRAM, static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Program() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // The exit status, or -1 when the program is still running after `seconds`.
    int wait(double seconds) {
        const auto end = Clock::now() + std::chrono::duration<double>(seconds);
        while (Clock::now() < end) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return -1;
    }
    bool running() { return wait(0) == -1 && !exited_; }

private:
    pid_t pid_ = -1;
    bool exited_ = false;
};

struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned long> pixels;  // 0xRRGGBB
    unsigned long at(int x, int y) const { return pixels[size_t(y) * width + x]; }
};

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vl_viewer_e2e_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        if (display_)
            XCloseDisplay(display_);
        fs::remove_all(dir_);
    }
    void openDisplay() {
        const char* name = getenv("DISPLAY");
        if (!name || !*name || !(display_ = XOpenDisplay(nullptr)))
            GTEST_SKIP() << "no X display";
        // The program makes and destroys windows of its own while the test
        // walks the tree; a window gone between the listing and the question
        // is no failure, but Xlib's default handler would end the test.
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    }
    // The program's top-level window, once it is mapped.
    Window findWindow(double seconds) {
        const auto end = Clock::now() + std::chrono::duration<double>(seconds);
        while (Clock::now() < end) {
            Window root = DefaultRootWindow(display_), parent, *children = nullptr;
            unsigned count = 0;
            Window found = 0;
            if (XQueryTree(display_, root, &root, &parent, &children, &count)) {
                for (unsigned i = 0; i < count && !found; ++i) {
                    char* name = nullptr;
                    XWindowAttributes a{};
                    if (XFetchName(display_, children[i], &name) && name) {
                        if (std::strcmp(name, "vibrolane") == 0 && XGetWindowAttributes(display_, children[i], &a) &&
                            a.map_state == IsViewable && a.width > 50)
                            found = children[i];
                        XFree(name);
                    }
                }
                if (children)
                    XFree(children);
            }
            if (found)
                return found;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return 0;
    }
    bool grab(Window window, Picture* picture) {
        XWindowAttributes a{};
        if (!XGetWindowAttributes(display_, window, &a))
            return false;
        XImage* image = XGetImage(display_, window, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
        if (!image)
            return false;
        picture->width = a.width;
        picture->height = a.height;
        picture->pixels.resize(size_t(a.width) * a.height);
        for (int y = 0; y < a.height; ++y)
            for (int x = 0; x < a.width; ++x)
                picture->pixels[size_t(y) * a.width + x] = XGetPixel(image, x, y) & 0xFFFFFF;
        XDestroyImage(image);
        return true;
    }
    // Grabs the window until `seen` holds for the client area (the bottom
    // clientHeight rows), or the time is up.
    bool watch(Window window, int clientHeight, double seconds, const std::function<bool(const Picture&, int)>& seen) {
        const auto end = Clock::now() + std::chrono::duration<double>(seconds);
        Picture p;
        while (Clock::now() < end) {
            if (grab(window, &p) && p.height >= clientHeight && seen(p, p.height - clientHeight))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
    void press(Window window, KeySym key) {
        XRaiseWindow(display_, window);
        XSetInputFocus(display_, window, RevertToParent, CurrentTime);
        XSync(display_, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const KeyCode code = XKeysymToKeycode(display_, key);
        XTestFakeKeyEvent(display_, code, True, CurrentTime);
        XTestFakeKeyEvent(display_, code, False, CurrentTime);
        XSync(display_, False);
    }
    std::string store() const { return readFile(dir_ + "/config/vibrolane/registry.reg"); }

    std::string dir_;
    Display* display_ = nullptr;
};

// Dark text on the white window background, in the middle rows only.
bool showsLoadingText(const Picture& p, int top) {
    const int h = p.height - top;
    int white = 0, darkMiddle = 0, darkElsewhere = 0;
    for (int y = top; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const unsigned long c = p.at(x, y);
            const bool dark = ((c >> 16) & 0xFF) < 110 && ((c >> 8) & 0xFF) < 110 && (c & 0xFF) < 110;
            white += c == 0xFFFFFF;
            const bool middle = y - top > h * 2 / 5 && y - top < h * 3 / 5 && x > p.width / 4 && x < p.width * 3 / 4;
            if (dark && middle)
                ++darkMiddle;
            else if (dark)
                ++darkElsewhere;
        }
    return white > (p.width * h) * 9 / 10 && darkMiddle > 40 && darkElsewhere == 0;
}

// The blue clear colour in the client's corners, red and blue surface in the middle.
bool showsTheSurface(const Picture& p, int top) {
    const int h = p.height - top;
    const int w = p.width;
    for (auto [x, y] : {std::pair{w - 1, top}, {w - 1, p.height - 1}})
        if (p.at(x, y) != 0x0080FF)
            return false;
    int red = 0, blue = 0;
    for (int y = top + h / 5; y < top + h * 4 / 5; ++y)
        for (int x = w / 5; x < w * 4 / 5; ++x) {
            const unsigned long c = p.at(x, y);
            const int r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
            red += r >= 96 && g <= 64 && b <= 32;
            blue += b >= 96 && r <= 32 && g <= 64;
        }
    return red > 500 && blue > 500;
}

TEST_F(EndToEnd, LoadsShowsTheSurfaceAndClosesWithEscStoringTheSize) {
    openDisplay();
    Program program(dir_, true);
    const Window window = findWindow(30);
    ASSERT_NE(window, 0u) << readFile(dir_ + "/stderr.txt");
    // The first run opens at 500 x 375; the menu bar sits above the client.
    XWindowAttributes a{};
    XGetWindowAttributes(display_, window, &a);
    EXPECT_EQ(a.width, 500);
    bool loadingSeen = false;
    watch(window, 375, 10, [&loadingSeen](const Picture& p, int top) {
        loadingSeen = showsLoadingText(p, top);
        return loadingSeen || showsTheSurface(p, top);
    });
    EXPECT_TRUE(loadingSeen) << "\"Loading... Please wait\" was not seen before the first frame";
    EXPECT_TRUE(watch(window, 375, 20, showsTheSurface)) << "no frame with the surface";
    EXPECT_NE(store().find("[HKEY_CURRENT_USER\\Software\\DirectX AppWizard Apps\\vibrolane]"), std::string::npos);

    press(window, XK_Escape);
    EXPECT_EQ(program.wait(20), 0) << readFile(dir_ + "/stderr.txt");
    EXPECT_NE(store().find("\"Width\"=dword:000001f4"), std::string::npos) << store();
    EXPECT_NE(store().find("\"Height\"=dword:00000177"), std::string::npos) << store();
    EXPECT_EQ(readFile(dir_ + "/stdout.txt"), readFile(VL_SOURCE_DIR "/tests/golden/startup-stdout.txt"));
    EXPECT_EQ(readFile(dir_ + "/debug-file.txt"), readFile(VL_SOURCE_DIR "/tests/golden/startup-debug-file.txt"));
}

TEST_F(EndToEnd, TheStoredSizeIsTheWindowsSize) {
    openDisplay();
    fs::create_directories(dir_ + "/config/vibrolane");
    std::ofstream(dir_ + "/config/vibrolane/registry.reg")
        << "Windows Registry Editor Version 5.00\n\n"
           "[HKEY_CURRENT_USER\\Software\\DirectX AppWizard Apps\\vibrolane]\n"
           "\"Width\"=dword:00000280\n\"Height\"=dword:000001e0\n";
    Program program(dir_, true);
    const Window window = findWindow(30);
    ASSERT_NE(window, 0u) << readFile(dir_ + "/stderr.txt");
    XWindowAttributes a{};
    XGetWindowAttributes(display_, window, &a);
    EXPECT_EQ(a.width, 640);
    EXPECT_GT(a.height, 480);
    EXPECT_TRUE(watch(window, 480, 20, [](const Picture& p, int top) { return showsTheSurface(p, top); }));
    press(window, XK_Escape);
    EXPECT_EQ(program.wait(20), 0);
    EXPECT_NE(store().find("\"Width\"=dword:00000280"), std::string::npos) << store();
    EXPECT_NE(store().find("\"Height\"=dword:000001e0"), std::string::npos) << store();
}

TEST_F(EndToEnd, AResizeIsRememberedForTheNextRun) {
    openDisplay();
    Program program(dir_, true);
    const Window window = findWindow(30);
    ASSERT_NE(window, 0u) << readFile(dir_ + "/stderr.txt");
    XWindowAttributes a{};
    XGetWindowAttributes(display_, window, &a);
    const int menuBar = a.height - 375;
    ASSERT_TRUE(watch(window, 375, 20, showsTheSurface));
    // Sizing as a window manager does it; the frame takes the new size once
    // the sizing has been quiet for a moment (a fraction of a second), so the
    // program is left alone well beyond that before it is closed.
    XResizeWindow(display_, window, 640, 480 + menuBar);
    XSync(display_, False);
    EXPECT_TRUE(watch(window, 480, 20, showsTheSurface));
    // With no key or mouse touched since, frames must go on coming (the
    // statistics line changes): the last frame before the sizing, stretched
    // over the new size, also shows the surface.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    Picture settled;
    ASSERT_TRUE(grab(window, &settled));
    EXPECT_TRUE(watch(window, 480, 10, [&settled](const Picture& p, int) { return p.pixels != settled.pixels; }))
        << "the window stopped drawing after the resize";
    std::this_thread::sleep_for(std::chrono::seconds(2));
    press(window, XK_Escape);
    EXPECT_EQ(program.wait(20), 0);
    EXPECT_NE(store().find("\"Width\"=dword:00000280"), std::string::npos) << store();
    EXPECT_NE(store().find("\"Height\"=dword:000001e0"), std::string::npos) << store();
}

// Edges between the clear colour and full yellow, one device pixel apart,
// counted by the parity of the column they lie at. A frame of half the size
// stretched smoothly has no such edge (each step is at most half of one),
// one stretched blockily has them at even columns only.
std::pair<int, int> sharpTextEdges(const Picture& p, int top, int bottom) {
    auto yellow = [](unsigned long c) { return (c >> 16) >= 200 && ((c >> 8) & 0xFF) >= 200 && (c & 0xFF) <= 96; };
    int even = 0, odd = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = 1; x < p.width; ++x) {
            const unsigned long a = p.at(x - 1, y), b = p.at(x, y);
            if ((a == 0x0080FF && yellow(b)) || (yellow(a) && b == 0x0080FF))
                ++(x % 2 ? odd : even);
        }
    return {even, odd};
}

TEST_F(EndToEnd, AtAScreenScaleOfTwoTheFrameHasTheScreensPixelsAndTheWindowKeepsItsSize) {
    openDisplay();
    for (int run = 1; run <= 3; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        Program program(dir_, true, "2");
        const Window window = findWindow(30);
        ASSERT_NE(window, 0u) << readFile(dir_ + "/stderr.txt");
        XWindowAttributes a{};
        XGetWindowAttributes(display_, window, &a);
        EXPECT_EQ(a.width, 1000);  // 500 logical pixels, each two on this screen
        ASSERT_TRUE(watch(window, 750, 20, showsTheSurface));
        if (run == 1) {
            Picture frame;
            ASSERT_TRUE(grab(window, &frame));
            const int top = frame.height - 750;
            // The help lines and the read-out: glyphs 32 pixels high, five
            // lines 40 apart, at the bottom of a 750-pixel back buffer.
            const auto [even, odd] = sharpTextEdges(frame, top + 540, frame.height);
            EXPECT_GT(even, 40);
            EXPECT_GT(odd, 40);
            EXPECT_GT(sharpTextEdges(frame, top + 700, frame.height).first, 10) << "no read-out at the bottom";
        }
        press(window, XK_Escape);
        EXPECT_EQ(program.wait(20), 0);
        // The stored size is logical, as the window was opened with.
        EXPECT_NE(store().find("\"Width\"=dword:000001f4"), std::string::npos) << store();
        EXPECT_NE(store().find("\"Height\"=dword:00000177"), std::string::npos) << store();
    }
}

TEST_F(EndToEnd, WithoutADisplayServerCreateFailsWithExitOneAndAMessage) {
    Program program(dir_, false);
    EXPECT_EQ(program.wait(60), 1);
    const std::string err = readFile(dir_ + "/stderr.txt");
    EXPECT_NE(err.find("This sample will now exit."), std::string::npos) << err;
    // The cause comes first, in one line.
    const std::size_t cause = err.find("vibrolane: no display: DISPLAY and WAYLAND_DISPLAY are not set\n");
    EXPECT_LT(cause, err.find("This sample will now exit.")) << err;
    EXPECT_EQ(err.find("no display", cause + 1), std::string::npos) << "said once: " << err;
    // The computation ran to the end before any window was asked for.
    EXPECT_EQ(readFile(dir_ + "/debug-file.txt"), readFile(VL_SOURCE_DIR "/tests/golden/startup-debug-file.txt"));
    // No window, so no size was written.
    EXPECT_EQ(store().find("Width"), std::string::npos);
}

}  // namespace
