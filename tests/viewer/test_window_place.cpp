// The window keeps its place on the screen through everything that makes
// the device again or resets it, under a real window manager: the real
// program on an X server of the test's own, with openbox, driven by keys.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
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

void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool waitFor(double seconds, const std::function<bool()>& done) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        if (done())
            return true;
        pause(20);
    }
    return false;
}

pid_t spawn(const std::vector<std::string>& args, const std::string& dir, const std::string& display,
            const std::string& output) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (!dir.empty() && chdir(dir.c_str()) != 0)
            _exit(127);
        if (!display.empty())
            setenv("DISPLAY", display.c_str(), 1);
        unsetenv("WAYLAND_DISPLAY");
        unsetenv("QT_QPA_PLATFORM");
        const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int err = open((output + ".err").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(out, 1);
        dup2(err, 2);
        for (int fd = 3; fd < 256; ++fd)
            close(fd);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

void stop(pid_t pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    if (!waitFor(5, [pid] { return waitpid(pid, nullptr, WNOHANG) == pid; })) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

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
        server_ = spawn({"Xvfb", display_, "-screen", "0", "1280x1024x24", "+extension", "GLX", "-nolisten", "tcp"},
                        "", "", dir_ + "/xvfb.txt");
        ASSERT_TRUE(waitFor(20, [this] { return (x_ = XOpenDisplay(display_.c_str())) != nullptr; }))
            << display_ << ": " << readFile(dir_ + "/xvfb.txt.err");
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        manager_ = spawn({"openbox", "--sm-disable"}, dir_, display_, dir_ + "/openbox.txt");
        const Atom check = XInternAtom(x_, "_NET_SUPPORTING_WM_CHECK", False);
        ASSERT_TRUE(waitFor(20, [&] {
            Atom type;
            int format;
            unsigned long items = 0, left;
            unsigned char* data = nullptr;
            XGetWindowProperty(x_, DefaultRootWindow(x_), check, 0, 1, False, XA_WINDOW, &type, &format, &items,
                               &left, &data);
            if (data)
                XFree(data);
            return items == 1;
        })) << "openbox did not start: " << readFile(dir_ + "/openbox.txt.err");
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
        setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
        program_ = spawn({VL_PROGRAM}, dir_, display_, dir_ + "/program.txt");
        unsetenv("XDG_CONFIG_HOME");
        ASSERT_TRUE(waitFor(40, [this] { return (window_ = find(DefaultRootWindow(x_), "vibrolane")) != 0; }))
            << readFile(dir_ + "/program.txt.err");
        // The first frames, and the window manager's placing, settle first.
        pause(2500);
    }

    // The viewable window named `name`, at any depth (the window manager
    // puts clients inside frames of its own).
    ::Window find(::Window parent, const char* name) {
        ::Window root, up, *children = nullptr;
        unsigned count = 0;
        ::Window found = 0;
        if (!XQueryTree(x_, parent, &root, &up, &children, &count))
            return 0;
        for (unsigned i = 0; i < count && !found; ++i) {
            char* title = nullptr;
            XWindowAttributes a{};
            if (XFetchName(x_, children[i], &title) && title) {
                if (std::strcmp(title, name) == 0 && XGetWindowAttributes(x_, children[i], &a) &&
                    a.map_state == IsViewable && a.width > 50)
                    found = children[i];
                XFree(title);
            }
            if (!found)
                found = find(children[i], name);
        }
        if (children)
            XFree(children);
        return found;
    }

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
        pause(300);
    }

    // Keys for the settings dialog once it is on the screen; the window
    // comes back when it has closed and the device is made again.
    void settings(const std::vector<std::pair<KeySym, KeySym>>& keys) {
        key(XK_F2);
        ASSERT_TRUE(waitFor(10, [this] { return find(DefaultRootWindow(x_), "Direct3D Settings") != 0; }));
        pause(500);
        for (auto [k, modifier] : keys)
            key(k, modifier);
        ASSERT_TRUE(waitFor(10, [this] { return find(DefaultRootWindow(x_), "Direct3D Settings") == 0; }));
        pause(2000);
    }

    void fullScreenAndBack(const std::function<void()>& inFullScreen = {}) {
        key(XK_Return, XK_Alt_L);
        pause(2000);
        if (inFullScreen)
            inFullScreen();
        key(XK_Return, XK_Alt_L);
        pause(2500);
        window_ = find(DefaultRootWindow(x_), "vibrolane");
    }

    void moveTo(int x, int y) {
        XMoveWindow(x_, window_, x, y);
        XSync(x_, False);
        pause(800);
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
                 pause(800);
                 XSetInputFocus(x_, other, RevertToPointerRoot, CurrentTime);
                 XSync(x_, False);
                 pause(1000);
                 XDestroyWindow(x_, other);
                 XSync(x_, False);
                 pause(1000);
                 const ::Window back = find(DefaultRootWindow(x_), "vibrolane");
                 XRaiseWindow(x_, back);
                 XSetInputFocus(x_, back, RevertToPointerRoot, CurrentTime);
                 XSync(x_, False);
                 pause(1500);
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
    EXPECT_TRUE(waitFor(20, [this] {
        int status;
        return waitpid(program_, &status, WNOHANG) == program_ && WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
               (program_ = -1, true);
    })) << readFile(dir_ + "/program.txt.err");
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
        pause(1500);
    });
    ASSERT_NE(window_, 0u);
    const Place after = place();
    EXPECT_GE(after.titleTop, 0);
    EXPECT_GE(after.titleLeft, 0);
    EXPECT_LE(after.x + after.width, 800);
    EXPECT_LE(after.y + after.height, 600);
}

}  // namespace
