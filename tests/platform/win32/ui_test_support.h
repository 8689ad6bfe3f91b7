// Helpers of the window-layer tests: a window procedure that records what it
// receives, and a message loop that runs until a condition holds.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "platform/win32/windows.h"

namespace uitest {

struct Received {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

inline std::vector<Received>& received() {
    static std::vector<Received> log;
    return log;
}

// Per-message overrides of the recording procedure; unset means DefWindowProc.
inline std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT*)>& handler() {
    static std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT*)> h;
    return h;
}

inline LRESULT CALLBACK recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    received().push_back({window, message, wParam, lParam});
    LRESULT result = 0;
    if (handler() && handler()(window, message, wParam, lParam, &result))
        return result;
    return DefWindowProcA(window, message, wParam, lParam);
}

inline std::vector<UINT> messagesOf(const std::vector<Received>& log, std::initializer_list<UINT> wanted) {
    std::vector<UINT> out;
    for (const Received& r : log)
        for (UINT w : wanted)
            if (r.message == w)
                out.push_back(r.message);
    return out;
}

inline int countOf(UINT message) {
    int n = 0;
    for (const Received& r : received())
        n += r.message == message;
    return n;
}

// Runs a message loop (PeekMessage, never blocking for long) until `done`
// holds; false when it never does within a generous while.
inline bool pumpUntil(const std::function<bool()>& done, HACCEL accelerators = nullptr, HWND window = nullptr,
                      int seconds = 20) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    MSG msg;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                continue;
            if (accelerators && window && TranslateAcceleratorA(window, accelerators, &msg))
                continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    return true;
}

}  // namespace uitest
