// The message queue: order, sent messages, non-blocking peeks, blocking
// waits that use no processor, quit, paint priority and accelerators.
#include <QApplication>
#include <QKeyEvent>
#include <atomic>
#include <ctime>
#include <thread>

#include "platform/common/render_surface.h"
#include "platform/win32/window_access.h"
#include "resources/resource.h"
#include "ui_test_support.h"

using namespace uitest;

namespace {

HWND makeWindow(DWORD style = WS_OVERLAPPEDWINDOW) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = recordingProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.lpszClassName = "Queue Test";
        registered = RegisterClassA(&wc) != 0;
    }
    return CreateWindowExA(0, "Queue Test", "queue", style, 0, 0, 200, 150, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

void drain() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        if (msg.message != WM_QUIT)
            DispatchMessageA(&msg);
}

double threadSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

class Queue : public ::testing::Test {
protected:
    void SetUp() override {
        InitCommonControls();
        ASSERT_TRUE(platform::guiAvailable());
        window = makeWindow();
        ASSERT_NE(window, nullptr);
        drain();
        received().clear();
        handler() = nullptr;
    }
    void TearDown() override {
        handler() = nullptr;
        DestroyWindow(window);
        drain();
    }
    HWND window = nullptr;
};

}  // namespace

TEST_F(Queue, PostedMessagesArriveInOrderAndPeekingLeavesThem) {
    HWND other = makeWindow();
    ASSERT_NE(other, nullptr);
    received().clear();
    for (UINT i = 0; i < 5; ++i)
        ASSERT_TRUE(PostMessageA(i % 2 ? other : window, WM_APP + i, i, 100 + i));
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, WM_APP + 0u);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, WM_APP + 0u) << "PM_NOREMOVE must leave the message";

    // Filters pick by window and by range without disturbing the rest.
    ASSERT_TRUE(PeekMessageA(&msg, other, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_APP + 1u);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_APP + 4, WM_APP + 4, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_APP + 4u);

    std::vector<UINT> order;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        order.push_back(msg.message);
        EXPECT_EQ(msg.lParam, static_cast<LPARAM>(100 + msg.wParam));
        DispatchMessageA(&msg);
    }
    EXPECT_EQ(order, (std::vector<UINT>{WM_APP + 0, WM_APP + 2, WM_APP + 3}));
    ASSERT_EQ(received().size(), 3u);
    EXPECT_EQ(received()[0].window, window);
    EXPECT_EQ(received()[1].window, window);
    EXPECT_EQ(received()[2].window, other);
    DestroyWindow(other);
}

TEST_F(Queue, PostingToAGoneWindowFailsAndItsQueuedMessagesGoNowhere) {
    HWND other = makeWindow();
    ASSERT_TRUE(PostMessageA(other, WM_APP, 0, 0));
    ASSERT_TRUE(DestroyWindow(other));
    EXPECT_FALSE(IsWindow(other));
    EXPECT_FALSE(PostMessageA(other, WM_APP, 0, 0));
    EXPECT_EQ(SendMessageA(other, WM_APP, 0, 0), 0);
    received().clear();
    drain();
    EXPECT_EQ(countOf(WM_APP), 0);
}

TEST_F(Queue, SendMessageIsSynchronousAndReentrant) {
    std::vector<int> trace;
    handler() = [&](HWND w, UINT m, WPARAM wp, LPARAM, LRESULT* result) {
        if (m != WM_APP)
            return false;
        trace.push_back(static_cast<int>(wp));
        if (wp < 3) {
            // Nested sends run to completion before the outer one goes on.
            const LRESULT inner = SendMessageA(w, WM_APP, wp + 1, 0);
            trace.push_back(-static_cast<int>(inner));
        }
        *result = static_cast<LRESULT>(wp * 10 + 7);
        return true;
    };
    PostMessageA(window, WM_APP + 1, 0, 0);
    EXPECT_EQ(SendMessageA(window, WM_APP, 0, 0), 7);
    EXPECT_EQ(trace, (std::vector<int>{0, 1, 2, 3, -37, -27, -17}));
    EXPECT_EQ(countOf(WM_APP + 1), 0) << "a send must not deliver posted messages";
}

TEST_F(Queue, PeekMessageReturnsAtOnceOnAnEmptyQueue) {
    MSG msg;
    for (int i = 0; i < 100; ++i)
        ASSERT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(Queue, GetMessageSleepsUntilAnotherThreadPosts) {
    std::atomic<bool> posted{false};
    const auto wallStart = std::chrono::steady_clock::now();
    const double cpuStart = threadSeconds();
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        posted = true;
        PostMessageA(window, WM_APP + 9, 9, 0);
    });
    MSG msg;
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    const double cpu = threadSeconds() - cpuStart;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    poster.join();
    ASSERT_TRUE(got);
    EXPECT_TRUE(posted.load()) << "GetMessage returned before anything was posted";
    EXPECT_EQ(msg.message, WM_APP + 9u);
    EXPECT_EQ(msg.hwnd, window);
    // A busy wait would use about as much processor time as it waited.
    EXPECT_LT(cpu, wall * 0.25) << "cpu " << cpu << " s over " << wall << " s";
}

TEST_F(Queue, QuitComesAfterThePostedMessagesAndOnlyOnce) {
    PostMessageA(window, WM_APP, 1, 0);
    PostQuitMessage(42);
    PostMessageA(window, WM_APP, 2, 0);
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.wParam, 1u);
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.wParam, 2u);
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 42u);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(Queue, PaintWaitsForEverythingElseAndStopsOnceValidated) {
    ShowWindow(window, SW_SHOW);
    drain();
    received().clear();
    InvalidateRect(window, nullptr, FALSE);
    PostMessageA(window, WM_APP, 0, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_APP));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_PAINT));
    // Not validated yet: it comes again.
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_PAINT));
    DispatchMessageA(&msg);  // DefWindowProc validates
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(Queue, AcceleratorTableTurnsTheFrameKeysIntoCommands) {
    HACCEL table = LoadAcceleratorsA(nullptr, MAKEINTRESOURCEA(IDR_MAIN_ACCEL));
    ASSERT_NE(table, nullptr);
    const LPARAM altContext = LPARAM{1} << 29;
    struct Case {
        UINT message;
        WPARAM key;
        LPARAM lParam;
        int command;  // 0: not translated
    } cases[] = {
        {WM_KEYDOWN, VK_ESCAPE, 1, IDM_EXIT},
        {WM_SYSKEYDOWN, VK_RETURN, 1 | altContext, IDM_TOGGLE_FULLSCREEN},
        {WM_SYSKEYDOWN, 'X', 1 | altContext, IDM_EXIT},
        {WM_KEYDOWN, '1', 1, IDM_SHOW_MODE_1},
        {WM_KEYDOWN, '5', 1, IDM_SHOW_MODE_5},
        {WM_KEYDOWN, '6', 1, 0},
        {WM_KEYDOWN, VK_SPACE, 1, IDM_ANIMATE},
        {WM_KEYDOWN, VK_HOME, 1, IDM_RESET_VIEW},
        {WM_KEYDOWN, 'S', 1, 0},  // Ctrl+S only
        {WM_KEYDOWN, VK_RETURN, 1, 0},
        {WM_KEYDOWN, 'X', 1, 0},
        {WM_KEYUP, VK_ESCAPE, 1, 0},
        {WM_SYSKEYDOWN, VK_ESCAPE, 1 | altContext, 0},
    };
    for (const Case& c : cases) {
        received().clear();
        MSG msg{window, c.message, c.key, c.lParam, 0, {0, 0}};
        const int translated = TranslateAcceleratorA(window, table, &msg);
        EXPECT_EQ(translated != 0, c.command != 0) << "key " << c.key;
        if (c.command) {
            ASSERT_EQ(received().size(), 1u);
            EXPECT_EQ(received()[0].message, static_cast<UINT>(WM_COMMAND));
            EXPECT_EQ(LOWORD(received()[0].wParam), c.command);
            EXPECT_EQ(HIWORD(received()[0].wParam), 1);
        } else {
            EXPECT_TRUE(received().empty());
        }
    }
    EXPECT_TRUE(DestroyAcceleratorTable(table));
    EXPECT_FALSE(DestroyAcceleratorTable(table));
    MSG msg{window, WM_KEYDOWN, VK_ESCAPE, 1, 0, {0, 0}};
    EXPECT_EQ(TranslateAcceleratorA(window, table, &msg), 0);
}

TEST_F(Queue, KeyEventsOfTheWindowReachTheAcceleratorsThroughTheQueue) {
    HACCEL table = LoadAcceleratorsA(nullptr, MAKEINTRESOURCEA(IDR_MAIN_ACCEL));
    platform::RenderSurface* surface = platform::renderSurfaceFor(window);
    ASSERT_NE(surface, nullptr);
    std::vector<int> commands;
    handler() = [&](HWND, UINT m, WPARAM wp, LPARAM, LRESULT*) {
        if (m == WM_COMMAND)
            commands.push_back(LOWORD(wp));
        return false;
    };
    QKeyEvent altDown(QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::AltModifier);
    QKeyEvent altUp(QEvent::KeyRelease, Qt::Key_Alt, Qt::NoModifier);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QKeyEvent shiftDown(QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier);
    QKeyEvent shiftedEscape(QEvent::KeyPress, Qt::Key_Escape, Qt::ShiftModifier);
    for (QKeyEvent* e : {&altDown, &enter, &altUp, &escape, &shiftDown, &shiftedEscape})
        QApplication::sendEvent(surface, e);
    auto sawShiftedEscape = [] {
        for (const Received& r : received())
            if (r.message == WM_KEYDOWN && r.wParam == VK_ESCAPE)
                return true;
        return false;
    };
    ASSERT_TRUE(pumpUntil([&] { return commands.size() >= 2 && sawShiftedEscape(); }, table, window, 10));
    // Alt+Enter and Esc are commands; Shift+Esc matches no entry and stays a key.
    EXPECT_EQ(commands, (std::vector<int>{IDM_TOGGLE_FULLSCREEN, IDM_EXIT}));
    EXPECT_GE(countOf(WM_SYSKEYDOWN), 1) << "the Alt key itself is a system key";
    DestroyAcceleratorTable(table);
}

TEST_F(Queue, TranslateMessageAddsTheCharacterOfALetter) {
    MSG msg;
    PostMessageA(window, WM_KEYUP, VK_SHIFT, 0);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_GE(GetKeyState(VK_SHIFT), 0) << "the key state follows the keys taken from the queue";
    MSG key{window, WM_KEYDOWN, 'Q', 1, 0, {0, 0}};
    EXPECT_TRUE(TranslateMessage(&key));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_CHAR));
    EXPECT_EQ(msg.wParam, static_cast<WPARAM>('q'));
    MSG notKey{window, WM_APP, 0, 0, 0, {0, 0}};
    EXPECT_FALSE(TranslateMessage(&notKey));
}

TEST_F(Queue, ACharacterFollowsItsOwnKeyBeforeAnythingQueuedAfterIt) {
    // Two keys typed quickly: all four key messages wait before the first is
    // translated. Each character must sit right behind its own key-down.
    const LPARAM aFlags = 0x001E0001, bFlags = 0x00300001;
    PostMessageA(window, WM_KEYDOWN, 'A', aFlags);
    PostMessageA(window, WM_KEYUP, 'A', aFlags | LPARAM(0xC0000000));
    PostMessageA(window, WM_SYSKEYDOWN, 'B', bFlags | 0x20000000);
    PostMessageA(window, WM_SYSKEYUP, 'B', bFlags | LPARAM(0xE0000000));
    received().clear();
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    struct Expected {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    const Expected expected[] = {
        {WM_KEYDOWN, 'A', aFlags},
        {WM_CHAR, 'a', aFlags},
        {WM_KEYUP, 'A', aFlags | LPARAM(0xC0000000)},
        {WM_SYSKEYDOWN, 'B', bFlags | 0x20000000},
        {WM_SYSCHAR, 'b', bFlags | 0x20000000},
        {WM_SYSKEYUP, 'B', bFlags | LPARAM(0xE0000000)},
    };
    std::vector<Received> keys;
    for (const Received& r : received())
        if (r.message >= WM_KEYFIRST && r.message <= WM_KEYLAST)
            keys.push_back(r);
    ASSERT_EQ(keys.size(), std::size(expected));
    for (std::size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(keys[i].message, expected[i].message) << i;
        EXPECT_EQ(keys[i].wParam, expected[i].wParam) << i;
        EXPECT_EQ(keys[i].lParam, expected[i].lParam) << i << ": the character keeps its key's flags";
    }
}

TEST_F(Queue, AModalLoopDispatchesUntilDoneAndHandsAQuitOutward) {
    bool done = false;
    handler() = [&](HWND, UINT m, WPARAM wp, LPARAM, LRESULT*) {
        if (m == WM_APP && wp == 2)
            done = true;
        return false;
    };
    PostMessageA(window, WM_APP, 1, 0);
    PostMessageA(window, WM_APP, 2, 0);
    PostMessageA(window, WM_APP, 3, 0);
    platform::runModalLoop([&] { return done; });
    EXPECT_EQ(countOf(WM_APP), 2) << "the loop stops once done holds";

    PostQuitMessage(9);
    platform::runModalLoop([] { return false; });
    EXPECT_EQ(countOf(WM_APP), 3) << "messages before the quit are still dispatched";
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 9u);
}
