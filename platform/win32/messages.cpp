// The message queue: posted messages in order, sent messages straight to the
// window procedure, input and paint requests from the GUI library's events,
// and the waiting of GetMessage inside the GUI library's event loop.
#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QThread>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/win32/ui_internal.h"

namespace platform::win32 {

namespace {

struct QueuedMessage {
    MSG msg;
    // The modifier keys (VK_SHIFT, VK_CONTROL, VK_MENU bits 0-2) when a
    // keyboard message was made, so that the key state read while handling
    // it is the state of that moment.
    unsigned modifiers = 0;
    bool input = false;  // from the GUI library's events, not posted by the program
};

std::mutex queueMutex;
std::condition_variable queueChanged;
std::deque<QueuedMessage> queue;
bool quitPosted = false;
WPARAM quitCode = 0;
DWORD lastMessageTime = 0;

BYTE keyState[256];

const auto clockStart = std::chrono::steady_clock::now();

void wakeGui() {
    queueChanged.notify_all();
    if (QCoreApplication* app = QCoreApplication::instance())
        if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(app->thread()))
            dispatcher->wakeUp();
}

bool inRange(UINT message, UINT low, UINT high) {
    if (low == 0 && high == 0)
        return true;
    return message >= low && message <= high;
}

bool matchesWindow(HWND wanted, HWND actual) {
    if (!wanted)
        return true;
    if (wanted == reinterpret_cast<HWND>(-1))
        return actual == nullptr;
    return wanted == actual;
}

void rememberKeys(const QueuedMessage& entry) {
    const UINT m = entry.msg.message;
    if (m != WM_KEYDOWN && m != WM_SYSKEYDOWN && m != WM_KEYUP && m != WM_SYSKEYUP)
        return;
    const bool down = (m == WM_KEYDOWN || m == WM_SYSKEYDOWN);
    const unsigned vk = static_cast<unsigned>(entry.msg.wParam) & 0xFF;
    keyState[vk] = down ? 0x80 : 0;
    if (!entry.input)
        return;
    keyState[VK_SHIFT] = (entry.modifiers & 1) ? 0x80 : 0;
    keyState[VK_CONTROL] = (entry.modifiers & 2) ? 0x80 : 0;
    keyState[VK_MENU] = (entry.modifiers & 4) ? 0x80 : 0;
    if (vk == VK_SHIFT || vk == VK_CONTROL || vk == VK_MENU)
        keyState[vk] = down ? 0x80 : 0;
}

// Looks for a message the way the original does: posted messages first,
// then the quit request, then windows that want painting.
bool takeMessage(MSG* out, HWND window, UINT low, UINT high, bool remove) {
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        for (auto it = queue.begin(); it != queue.end(); ++it) {
            if (!matchesWindow(window, it->msg.hwnd) || !inRange(it->msg.message, low, high))
                continue;
            *out = it->msg;
            if (remove) {
                rememberKeys(*it);
                lastMessageTime = it->msg.time;
                queue.erase(it);
            }
            return true;
        }
        if (quitPosted) {
            *out = MSG{nullptr, WM_QUIT, quitCode, 0, messageClock(), {0, 0}};
            if (remove)
                quitPosted = false;
            return true;
        }
    }
    if (!inRange(WM_PAINT, low, high))
        return false;
    for (HWND handle : allWindows()) {
        Window* w = findWindow(handle);
        if (w && w->needsPaint && matchesWindow(window, handle) && w->widget && w->widget->isVisible()) {
            *out = MSG{handle, WM_PAINT, 0, 0, messageClock(), {0, 0}};
            return true;
        }
    }
    return false;
}

bool onGuiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// Lets the GUI library turn what it has pending into messages, without waiting.
void pumpGui() {
    if (!onGuiThread())
        return;
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    deleteRetiredWidgets();
}

void waitForEvents() {
    if (onGuiThread()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        return;
    }
    std::unique_lock<std::mutex> lock(queueMutex);
    queueChanged.wait(lock, [] { return !queue.empty() || quitPosted; });
}

// 1: a message, 0: WM_QUIT, 2: `stop` became true first.
int waitMessage(MSG* out, HWND window, UINT low, UINT high, const std::function<bool()>& stop) {
    for (;;) {
        pumpGui();
        if (stop && stop())
            return 2;
        if (takeMessage(out, window, low, high, true))
            return out->message == WM_QUIT ? 0 : 1;
        waitForEvents();
    }
}

}  // namespace

DWORD messageClock() {
    return static_cast<DWORD>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - clockStart).count());
}

void postInput(HWND window, UINT message, WPARAM wParam, LPARAM lParam, unsigned modifiers) {
    QueuedMessage entry;
    entry.msg = MSG{window, message, wParam, lParam, messageClock(), {0, 0}};
    entry.input = true;
    const Qt::KeyboardModifiers mods = Qt::KeyboardModifiers::fromInt(static_cast<int>(modifiers));
    entry.modifiers = ((mods & Qt::ShiftModifier) ? 1u : 0u) | ((mods & Qt::ControlModifier) ? 2u : 0u) |
                      ((mods & Qt::AltModifier) ? 4u : 0u);
    GetCursorPos(&entry.msg.pt);
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        if (message == WM_MOUSEMOVE && !queue.empty() && queue.back().msg.message == WM_MOUSEMOVE &&
            queue.back().msg.hwnd == window) {
            queue.back() = entry;
        } else {
            queue.push_back(entry);
        }
    }
    wakeGui();
}

void runModalLoop(const std::function<bool()>& done) {
    MSG msg;
    for (;;) {
        const int got = waitMessage(&msg, nullptr, 0, 0, done);
        if (got == 2)
            return;
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void wakeMessageLoop() { wakeGui(); }

}  // namespace platform::win32

using namespace platform::win32;

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window && !findWindow(window))
        return FALSE;
    QueuedMessage entry;
    entry.msg = MSG{window, message, wParam, lParam, messageClock(), {0, 0}};
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        queue.push_back(entry);
    }
    wakeGui();
    return TRUE;
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = findWindow(window);
    if (!w || !w->procedure)
        return 0;
    return w->procedure(window, message, wParam, lParam);
}

BOOL WINAPI PeekMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
    if (!message)
        return FALSE;
    pumpGui();
    return takeMessage(message, window, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL WINAPI GetMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax) {
    if (!message)
        return -1;
    if (window && window != reinterpret_cast<HWND>(-1) && !findWindow(window))
        return -1;
    return waitMessage(message, window, filterMin, filterMax, nullptr) == 1 ? TRUE : FALSE;
}

BOOL WINAPI TranslateMessage(const MSG* message) {
    if (!message || (message->message != WM_KEYDOWN && message->message != WM_SYSKEYDOWN))
        return FALSE;
    const unsigned vk = static_cast<unsigned>(message->wParam);
    const bool shift = GetKeyState(VK_SHIFT) < 0;
    char ch = 0;
    if (vk >= 'A' && vk <= 'Z')
        ch = static_cast<char>(shift ? vk : vk - 'A' + 'a');
    else if (vk >= '0' && vk <= '9' && !shift)
        ch = static_cast<char>(vk);
    else if (vk == VK_SPACE || vk == VK_RETURN || vk == VK_ESCAPE || vk == VK_BACK || vk == VK_TAB)
        ch = static_cast<char>(vk);
    if (ch == 0)
        return TRUE;
    const UINT charMessage = message->message == WM_SYSKEYDOWN ? WM_SYSCHAR : WM_CHAR;
    QueuedMessage entry;
    entry.msg = MSG{message->hwnd, charMessage, static_cast<WPARAM>(static_cast<unsigned char>(ch)), message->lParam,
                    message->time, message->pt};
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        // The character comes before anything posted after the key, as on the original.
        queue.push_front(entry);
    }
    return TRUE;
}

LRESULT WINAPI DispatchMessageA(const MSG* message) {
    if (!message || !message->hwnd)
        return 0;
    return SendMessageA(message->hwnd, message->message, message->wParam, message->lParam);
}

void WINAPI PostQuitMessage(int exitCode) {
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        quitPosted = true;
        quitCode = static_cast<WPARAM>(exitCode);
    }
    wakeGui();
}

DWORD WINAPI GetMessageTime() { return lastMessageTime; }

SHORT WINAPI GetKeyState(int virtualKey) {
    if (virtualKey < 0 || virtualKey > 255)
        return 0;
    return (keyState[virtualKey] & 0x80) ? static_cast<SHORT>(0xFF80) : 0;
}
