// Helpers of the input tests: a private settings store, a render window in
// front, a message loop that runs until a condition holds, and SDL virtual
// game controllers that stand in for plugged-in pads.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <SDL.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "platform/dinput8/dinput.h"
#include "platform/win32/window_access.h"
#include "platform/win32/windows.h"

namespace inputtest {

// Every test program keeps its settings in a folder of its own, removed at
// the end, so that stored mappings never leak between runs or into the user's.
class PrivateConfigEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        char pattern[] = "/tmp/vl-input-XXXXXX";
        const char* made = mkdtemp(pattern);
        ASSERT_NE(made, nullptr);
        folder_ = made;
        setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    static std::string storeFile() {
        return std::string(std::getenv("XDG_CONFIG_HOME")) + "/vibrolane/registry.reg";
    }

private:
    std::string folder_;
};

inline bool pumpUntil(const std::function<bool()>& done, int milliseconds = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    MSG msg;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QApplication::processEvents();
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    return true;
}

inline void settle(int milliseconds = 100) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    pumpUntil([until] { return std::chrono::steady_clock::now() > until; }, milliseconds + 1000);
}

inline bool windowActive(HWND window) {
    QWidget* widget = platform::topLevelWidgetFor(window);
    return widget && widget->isActiveWindow();
}

// A visible render window with the keyboard focus.
inline HWND createRenderWindow() {
    if (!platform::guiAvailable())
        return nullptr;
    HINSTANCE module = GetModuleHandleA(nullptr);
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = module;
        wc.lpszClassName = "Input Test Window";
        registered = RegisterClassA(&wc) != 0;
    }
    HWND window = CreateWindowExA(0, "Input Test Window", "vibrolane", WS_OVERLAPPEDWINDOW, 0, 0, 500, 375, nullptr,
                                  nullptr, module, nullptr);
    if (!window)
        return nullptr;
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    SetFocus(window);
    pumpUntil([window] { return windowActive(window); });
    settle();
    return window;
}

// Another top-level window, to take the focus away from the render window.
inline QWidget* createOtherWindow() {
    auto* other = new QWidget();
    other->setWindowTitle("other");
    other->resize(200, 100);
    other->move(600, 0);
    other->show();
    other->activateWindow();
    other->raise();
    return other;
}

// An SDL virtual pad with the standard layout, or (standard = false) a
// stick SDL has no mapping for.
struct VirtualPad {
    int index = -1;
    SDL_Joystick* joystick = nullptr;

    explicit VirtualPad(bool standard = true, const char* name = "Virtual pad") {
        SDL_InitSubSystem(SDL_INIT_JOYSTICK);
        SDL_VirtualJoystickDesc desc{};
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = standard ? SDL_JOYSTICK_TYPE_GAMECONTROLLER : SDL_JOYSTICK_TYPE_UNKNOWN;
        desc.naxes = standard ? SDL_CONTROLLER_AXIS_MAX : 3;
        desc.nbuttons = standard ? SDL_CONTROLLER_BUTTON_MAX : 2;
        desc.name = name;
        index = SDL_JoystickAttachVirtualEx(&desc);
        if (index >= 0)
            joystick = SDL_JoystickOpen(index);
    }
    ~VirtualPad() {
        detach();
        SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    }
    void axis(int axis, Sint16 value) { SDL_JoystickSetVirtualAxis(joystick, axis, value); }
    void button(int button, bool down) { SDL_JoystickSetVirtualButton(joystick, button, down ? 1 : 0); }
    void detach() {
        if (!joystick)
            return;
        const SDL_JoystickID id = SDL_JoystickInstanceID(joystick);
        SDL_JoystickClose(joystick);
        joystick = nullptr;
        for (int i = 0; i < SDL_NumJoysticks(); ++i) {
            if (SDL_JoystickGetDeviceInstanceID(i) == id) {
                SDL_JoystickDetachVirtual(i);
                break;
            }
        }
    }
};

}  // namespace inputtest
