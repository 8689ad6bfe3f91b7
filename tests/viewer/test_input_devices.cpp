// The whole road of input on a real X display: key events made by the X
// server (XTest) and SDL virtual game controllers, through the input layer
// and the InputMapper, to the UserInput that turns the surface.
#include "tests/platform/dinput8/input_test_support.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <memory>

#include "viewer/input_mapper.h"
#include "viewer/viewer_app.h"

using namespace inputtest;

namespace {

HRESULT added(MappedDevice* record, const DIDEVICEINSTANCEA* instance, void*) {
    return OnInputDeviceAdded(record, instance);
}

class RealInput : public ::testing::Test {
protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display)
            GTEST_SKIP() << "needs an X display (run under xvfb-run)";
        x = XOpenDisplay(nullptr);
        ASSERT_NE(x, nullptr);
        window = createRenderWindow();
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(windowActive(window));
        FillActionFormat(&format);
    }
    void TearDown() override {
        ReleaseInput(mapper);
        if (window)
            DestroyWindow(window);
        if (x)
            XCloseDisplay(x);
        settle(20);
    }
    void connect() {
        mapper = new InputMapper();
        ASSERT_EQ(mapper->Connect(window, nullptr, &format, added, nullptr), S_OK);
    }
    DWORD deviceCount() {
        MappedDevice* devices = nullptr;
        DWORD count = 0;
        mapper->ListDevices(&devices, &count);
        return count;
    }
    void key(KeySym symbol, bool down) {
        XTestFakeKeyEvent(x, XKeysymToKeycode(x, symbol), down ? True : False, CurrentTime);
        XFlush(x);
        XSync(x, False);
        settle(60);
    }
    // One frame: what the viewer's UpdateScene reads first.
    UserInput frame() {
        QApplication::processEvents();
        PollInput(mapper, &input);
        return input;
    }

    Display* x = nullptr;
    HWND window = nullptr;
    InputMapper* mapper = nullptr;
    DIACTIONFORMATA format;
    UserInput input{};
};

TEST_F(RealInput, ArrowKeysTurnAndTheirReleaseStops) {
    connect();
    ASSERT_GE(deviceCount(), 1u);
    struct Step {
        KeySym key;
        bool down;
        float leftRight;
        float upDown;
    };
    const Step steps[] = {
        {XK_Left, true, 1.0f, 0.0f},  {XK_Up, true, 1.0f, 1.0f},    {XK_Left, false, 0.0f, 1.0f},
        {XK_Right, true, -1.0f, 1.0f}, {XK_Up, false, -1.0f, 0.0f}, {XK_Down, true, -1.0f, -1.0f},
        {XK_Right, false, 0.0f, -1.0f}, {XK_Down, false, 0.0f, 0.0f},
    };
    frame();
    for (const Step& s : steps) {
        SCOPED_TRACE(XKeysymToString(s.key) + std::string(s.down ? " down" : " up"));
        key(s.key, s.down);
        const UserInput now = frame();
        EXPECT_EQ(now.axisLeftRight, s.leftRight);
        EXPECT_EQ(now.axisUpDown, s.upDown);
    }
}

TEST_F(RealInput, AHeldF3RepeatedByTheServerAsksForTheConfigurationOnce) {
    connect();
    int repeats = 0;
    const int listener = platform::addKeyboardListener([&repeats](HWND, const platform::KeyboardNotification& n) {
        repeats += n.kind == platform::KeyboardNotification::KeyDown && n.autoRepeat;
    });
    XkbSetAutoRepeatRate(x, XkbUseCoreKbd, 100, 20);
    XAutoRepeatOn(x);
    frame();
    int requests = 0;
    XTestFakeKeyEvent(x, XKeysymToKeycode(x, XK_F3), True, CurrentTime);
    XFlush(x);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(700);
    while (std::chrono::steady_clock::now() < until) {
        settle(10);
        requests += frame().configureInputRequested ? 1 : 0;
        input.configureInputRequested = FALSE;  // served, as UpdateScene does
    }
    XTestFakeKeyEvent(x, XKeysymToKeycode(x, XK_F3), False, CurrentTime);
    XFlush(x);
    settle(60);
    requests += frame().configureInputRequested ? 1 : 0;
    platform::removeKeyboardListener(listener);
    ASSERT_GT(repeats, 0) << "the X server did not repeat the key; nothing was tested";
    EXPECT_EQ(requests, 1);
}

TEST_F(RealInput, AKeyReleasedWhileAnotherWindowHasTheFocusIsNotHeldAfterwards) {
    connect();
    frame();
    key(XK_Left, true);
    EXPECT_EQ(frame().axisLeftRight, 1.0f);
    std::unique_ptr<QWidget> other(createOtherWindow());
    ASSERT_TRUE(pumpUntil([this] { return !windowActive(window); }));
    key(XK_Left, false);
    frame();
    other.reset();
    SetForegroundWindow(window);
    ASSERT_TRUE(pumpUntil([this] { return windowActive(window); }));
    settle(60);
    EXPECT_EQ(frame().axisLeftRight, 0.0f);
    // And the keyboard works as before.
    key(XK_Right, true);
    EXPECT_EQ(frame().axisLeftRight, -1.0f);
    key(XK_Right, false);
    EXPECT_EQ(frame().axisLeftRight, 0.0f);
}

TEST_F(RealInput, AControllersLeftStickAndSouthButtonReachTheViewer) {
    VirtualPad pad;
    ASSERT_GE(pad.index, 0);
    connect();
    ASSERT_EQ(deviceCount(), 2u);
    struct Step {
        const char* name;
        int axis;  // -1: the south button
        Sint16 value;
        float leftRight;
        float upDown;
        BOOL sound;
    };
    const Step steps[] = {
        {"stick full right", SDL_CONTROLLER_AXIS_LEFTX, 32767, -1.0f, 0.0f, FALSE},
        {"stick full up", SDL_CONTROLLER_AXIS_LEFTY, -32768, -1.0f, 1.0f, FALSE},
        {"stick back inside the dead zone", SDL_CONTROLLER_AXIS_LEFTX, 1200, 0.0f, 1.0f, FALSE},
        {"half down", SDL_CONTROLLER_AXIS_LEFTY, 16384, 0.0f, -0.47f, FALSE},
        {"south button", -1, 1, 0.0f, -0.47f, TRUE},
        {"south button released", -1, 0, 0.0f, -0.47f, FALSE},
    };
    frame();
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        if (s.axis >= 0)
            pad.axis(s.axis, s.value);
        else
            pad.button(SDL_CONTROLLER_BUTTON_A, s.value != 0);
        const UserInput now = frame();
        EXPECT_FLOAT_EQ(now.axisLeftRight, s.leftRight);
        EXPECT_FLOAT_EQ(now.axisUpDown, s.upDown);
        EXPECT_EQ(now.playSoundDown, s.sound);
    }
}

TEST_F(RealInput, ControllersPluggedInJoinAtTheNextEnumerationAndPulledOnesStopQuietly) {
    auto first = std::make_unique<VirtualPad>(true, "First pad");
    connect();
    ASSERT_EQ(deviceCount(), 2u);
    first->axis(SDL_CONTROLLER_AXIS_LEFTX, 32767);
    EXPECT_FLOAT_EQ(frame().axisLeftRight, -1.0f);
    first.reset();
    // The pulled pad cannot report its stick's return: it lets go at once,
    // and the keyboard still works.
    EXPECT_FLOAT_EQ(frame().axisLeftRight, 0.0f);
    key(XK_Left, true);
    EXPECT_EQ(frame().axisLeftRight, 1.0f);
    key(XK_Left, false);

    VirtualPad second(true, "Second pad");
    FreeInputDeviceStates(mapper);
    ASSERT_EQ(mapper->ApplyActionFormat(&format, true), S_OK);
    ASSERT_EQ(deviceCount(), 2u) << "the keyboard and the new pad";
    EXPECT_FLOAT_EQ(frame().axisLeftRight, 0.0f);
    second.axis(SDL_CONTROLLER_AXIS_LEFTX, -32768);
    EXPECT_FLOAT_EQ(frame().axisLeftRight, 1.0f);
}

}  // namespace

[[maybe_unused]] ::testing::Environment* const privateConfig =
    ::testing::AddGlobalTestEnvironment(new PrivateConfigEnvironment());
