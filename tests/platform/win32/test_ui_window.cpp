// A real top-level window on an X display (xvfb-run): creation, the menu,
// sizing, minimising, maximising, closing, the cursor and the loading text.
#include <QApplication>
#include <QMenu>
#include <QScreen>
#include <QMenuBar>
#include <QMessageBox>
#include <QTimer>
#include <QAbstractButton>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <cstdlib>

#include "platform/common/render_surface.h"
#include "platform/win32/window_access.h"
#include "resources/resource.h"
#include "ui_test_support.h"

using namespace uitest;

namespace {

constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW | WS_VISIBLE;

class RealWindow : public ::testing::Test {
protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display)
            GTEST_SKIP() << "needs an X display (run under xvfb-run)";
        InitCommonControls();
        ASSERT_TRUE(platform::guiAvailable());
        module = GetModuleHandleA(nullptr);
        static bool registered = false;
        if (!registered) {
            WNDCLASSA wc{};
            wc.lpfnWndProc = recordingProc;
            wc.hInstance = module;
            wc.hIcon = LoadIconA(module, MAKEINTRESOURCEA(IDI_MAIN_ICON));
            wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
            wc.lpszClassName = "D3D Window";
            registered = RegisterClassA(&wc) != 0;
            ASSERT_TRUE(registered);
        }
        received().clear();
        handler() = [](HWND, UINT m, WPARAM, LPARAM lp, LRESULT* result) {
            if (m == WM_GETMINMAXINFO) {
                reinterpret_cast<MINMAXINFO*>(lp)->ptMinTrackSize = {100, 100};
                *result = 0;
                return true;
            }
            if (m == WM_CLOSE) {  // the window stays until the test destroys it
                *result = 0;
                return true;
            }
            return false;
        };
        menu = LoadMenuA(module, MAKEINTRESOURCEA(IDR_MENU));
        ASSERT_NE(menu, nullptr);
        RECT rect{0, 0, 500, 375};
        AdjustWindowRect(&rect, kStyle, TRUE);
        window = CreateWindowExA(0, "D3D Window", "vibrolane", kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                 rect.right - rect.left, rect.bottom - rect.top, nullptr, menu, module, nullptr);
        ASSERT_NE(window, nullptr);
        settle();
    }
    void TearDown() override {
        if (window && IsWindow(window))
            DestroyWindow(window);
        handler() = nullptr;
        settle();
    }
    // Lets the window system catch up and everything queued be handled.
    void settle() {
        QApplication::processEvents();
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(150);
        pumpUntil([until] { return std::chrono::steady_clock::now() > until; });
    }
    SIZE client() const {
        RECT r{};
        GetClientRect(window, &r);
        return SIZE{r.right - r.left, r.bottom - r.top};
    }
    QWidget* top() const { return platform::topLevelWidgetFor(window); }
    bool sawSize(WPARAM kind) const {
        for (const Received& r : received())
            if (r.message == WM_SIZE && r.wParam == kind)
                return true;
        return false;
    }

    HMODULE module = nullptr;
    HMENU menu = nullptr;
    HWND window = nullptr;
};

}  // namespace

TEST_F(RealWindow, CreationSendsItsMessagesAndTheClientAreaExcludesTheMenuBar) {
    const auto order = messagesOf(received(), {WM_GETMINMAXINFO, WM_NCCREATE, WM_CREATE});
    ASSERT_GE(order.size(), 3u);
    EXPECT_EQ(std::vector<UINT>(order.begin(), order.begin() + 3),
              (std::vector<UINT>{WM_GETMINMAXINFO, WM_NCCREATE, WM_CREATE}));
    EXPECT_EQ(client().cx, 500);
    EXPECT_EQ(client().cy, 375);
    EXPECT_EQ(GetMenu(window), menu);
    EXPECT_TRUE(IsWindowVisible(window));
    const DWORD style = static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE));
    EXPECT_EQ(style & kStyle, kStyle);
    char title[32] = {};
    GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ(title, "vibrolane");
    platform::RenderSurface* surface = platform::renderSurfaceFor(window);
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->size(), QSize(500, 375));
    EXPECT_EQ(GetClassLongA(window, GCL_HCURSOR), static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(
                                                      LoadCursorA(nullptr, IDC_ARROW))));
    EXPECT_FALSE(top()->windowIcon().isNull());

    // WM_GETMINMAXINFO's minimum holds against the program's own requests.
    SetWindowPos(window, nullptr, 0, 0, 20, 20, SWP_NOMOVE | SWP_NOZORDER);
    RECT r{};
    GetWindowRect(window, &r);
    EXPECT_GE(r.right - r.left, 100);
    EXPECT_GE(r.bottom - r.top, 100);
}

TEST_F(RealWindow, TheProgramsResizeSendsWmSizeWithoutASizeMoveLoop) {
    RECT before{};
    GetWindowRect(window, &before);
    received().clear();
    ASSERT_TRUE(SetWindowPos(window, HWND_NOTOPMOST, before.left, before.top, before.right - before.left + 60,
                             before.bottom - before.top + 40, SWP_SHOWWINDOW));
    ASSERT_TRUE(sawSize(SIZE_RESTORED));
    EXPECT_EQ(client().cx, 560);
    EXPECT_EQ(client().cy, 415);
    const Received& last = [] {
        Received r{};
        for (const Received& x : received())
            if (x.message == WM_SIZE)
                r = x;
        return r;
    }();
    EXPECT_EQ(LOWORD(last.lParam), 560);
    EXPECT_EQ(HIWORD(last.lParam), 415);
    settle();
    EXPECT_EQ(countOf(WM_ENTERSIZEMOVE), 0);
    RECT after{};
    GetWindowRect(window, &after);
    EXPECT_EQ(after.right - after.left, before.right - before.left + 60) << "window rectangles round-trip";
}

TEST_F(RealWindow, AResizeFromOutsideIsWrappedInASizeMoveLoop) {
    received().clear();
    top()->resize(top()->width() + 30, top()->height() + 20);
    top()->resize(top()->width() + 30, top()->height() + 20);
    ASSERT_TRUE(pumpUntil([] { return countOf(WM_EXITSIZEMOVE) > 0; }));
    const auto order = messagesOf(received(), {WM_ENTERSIZEMOVE, WM_SIZE, WM_EXITSIZEMOVE});
    ASSERT_GE(order.size(), 3u);
    EXPECT_EQ(order.front(), static_cast<UINT>(WM_ENTERSIZEMOVE));
    EXPECT_EQ(order.back(), static_cast<UINT>(WM_EXITSIZEMOVE));
    EXPECT_EQ(countOf(WM_ENTERSIZEMOVE), 1) << "one loop for a burst of resizes";
    EXPECT_EQ(client().cx, 560);
    EXPECT_EQ(client().cy, 415);
}

TEST_F(RealWindow, MinimiseRestoreMaximiseRestoreProduceTheirSizeMessages) {
    received().clear();
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(pumpUntil([this] { return sawSize(SIZE_MINIMIZED); }));
    EXPECT_TRUE(IsIconic(window));
    EXPECT_TRUE(GetWindowLongA(window, GWL_STYLE) & WS_MINIMIZE);

    received().clear();
    ShowWindow(window, SW_RESTORE);
    ASSERT_TRUE(pumpUntil([this] { return sawSize(SIZE_RESTORED); }));
    EXPECT_FALSE(IsIconic(window));

    received().clear();
    ShowWindow(window, SW_MAXIMIZE);
    ASSERT_TRUE(pumpUntil([this] { return sawSize(SIZE_MAXIMIZED); }));
    EXPECT_TRUE(IsZoomed(window));

    received().clear();
    ShowWindow(window, SW_RESTORE);
    ASSERT_TRUE(pumpUntil([this] { return sawSize(SIZE_RESTORED); }));
    EXPECT_FALSE(IsZoomed(window));
    EXPECT_FALSE(sawSize(SIZE_MAXIMIZED));
}

TEST_F(RealWindow, TheCloseBoxAsksAndTheWindowStaysUntilDestroyed) {
    received().clear();
    top()->close();
    EXPECT_EQ(countOf(WM_CLOSE), 1);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(countOf(WM_DESTROY), 0);

    // Without the test's handler the default procedure destroys the window.
    handler() = nullptr;
    top()->close();
    EXPECT_EQ(countOf(WM_CLOSE), 2);
    EXPECT_EQ(countOf(WM_DESTROY), 1);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(platform::renderSurfaceFor(window), nullptr);
    EXPECT_EQ(GetMenu(window), nullptr);
    EXPECT_EQ(GetMenuItemCount(menu), -1) << "the window's menu goes with it";
    settle();
    EXPECT_FALSE(DestroyWindow(window));
}

TEST_F(RealWindow, TheMenuBarsItemsPostTheirCommandsAroundAMenuLoop) {
    QMenuBar* bar = top()->findChild<QMenuBar*>();
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(bar->actions().size(), 2);
    EXPECT_EQ(bar->actions()[0]->text().toStdString(), "&File");
    EXPECT_EQ(bar->actions()[1]->text().toStdString(), "&View");
    QMenu* file = bar->actions()[0]->menu();
    ASSERT_NE(file, nullptr);
    std::vector<std::string> texts;
    for (QAction* a : file->actions())
        texts.push_back(a->isSeparator() ? "-" : a->text().toStdString());
    EXPECT_EQ(texts, (std::vector<std::string>{"Config &display...\tF2", "Configure &input...\tF3", "-",
                                               "E&xit\tESC"}));

    received().clear();
    file->popup(top()->mapToGlobal(QPoint(10, 10)));
    ASSERT_TRUE(pumpUntil([] { return countOf(WM_ENTERMENULOOP) == 1; }));
    file->actions()[0]->trigger();
    file->hide();
    ASSERT_TRUE(pumpUntil([] { return countOf(WM_COMMAND) == 1; }));
    for (QAction* a : file->actions())
        if (!a->isSeparator() && a != file->actions()[0])
            a->trigger();
    ASSERT_TRUE(pumpUntil([] { return countOf(WM_COMMAND) == 3; }));
    std::vector<int> commands;
    for (const Received& r : received())
        if (r.message == WM_COMMAND) {
            commands.push_back(LOWORD(r.wParam));
            EXPECT_EQ(HIWORD(r.wParam), 0) << "menu commands have notification 0";
        }
    EXPECT_EQ(commands, (std::vector<int>{IDM_CHANGE_DISPLAY, IDM_CONFIGURE_INPUT, IDM_EXIT}));
    const auto loop = messagesOf(received(), {WM_ENTERMENULOOP, WM_EXITMENULOOP, WM_COMMAND});
    ASSERT_GE(loop.size(), 3u);
    EXPECT_EQ(std::vector<UINT>(loop.begin(), loop.begin() + 3),
              (std::vector<UINT>{WM_ENTERMENULOOP, WM_EXITMENULOOP, WM_COMMAND}))
        << "the command is handled after the menu loop";
}

TEST_F(RealWindow, DestroyingTheAttachedMenuEmptiesTheBarWithoutResizing) {
    const SIZE before = client();
    received().clear();
    ASSERT_TRUE(DestroyMenu(GetMenu(window)));
    EXPECT_EQ(GetMenu(window), nullptr);
    EXPECT_TRUE(top()->findChild<QMenuBar*>()->actions().isEmpty());
    settle();
    EXPECT_EQ(client().cy, before.cy);
    EXPECT_EQ(countOf(WM_SIZE), 0);
}

TEST_F(RealWindow, TakingTheMenuAwayGrowsTheClientArea) {
    const SIZE withMenu = client();
    received().clear();
    ASSERT_TRUE(SetMenu(window, nullptr));
    EXPECT_EQ(GetMenu(window), nullptr);
    const SIZE without = client();
    EXPECT_EQ(without.cx, withMenu.cx);
    EXPECT_GT(without.cy, withMenu.cy);
    EXPECT_TRUE(sawSize(SIZE_RESTORED));
    ASSERT_TRUE(SetMenu(window, menu));
    EXPECT_EQ(client().cy, withMenu.cy);
    settle();
    EXPECT_EQ(countOf(WM_ENTERSIZEMOVE), 0);
}

TEST_F(RealWindow, StylesRoundTripForTheFullScreenSwitch) {
    const LONG windowed = GetWindowLongA(window, GWL_STYLE);
    SetWindowLongA(window, GWL_STYLE, static_cast<LONG>(WS_POPUP | WS_SYSMENU | WS_VISIBLE));
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)), static_cast<DWORD>(WS_POPUP | WS_SYSMENU | WS_VISIBLE));
    SetWindowLongA(window, GWL_STYLE, windowed);
    EXPECT_EQ(GetWindowLongA(window, GWL_STYLE), windowed);
    SetWindowLongA(window, GWL_STYLE, static_cast<LONG>(WS_OVERLAPPEDWINDOW));
    EXPECT_FALSE(IsWindowVisible(window)) << "WS_VISIBLE is the window's visibility";
    SetWindowLongA(window, GWL_STYLE, windowed);
    EXPECT_TRUE(IsWindowVisible(window));
}

TEST_F(RealWindow, TheDevicesFullScreenGeometrySendsNoSizeMessages) {
    RECT bounds{};
    GetWindowRect(window, &bounds);
    received().clear();
    // What the 3-D device does when it takes the screen, and gives it back.
    top()->setGeometry(QGuiApplication::primaryScreen()->geometry());
    top()->showFullScreen();
    settle();
    EXPECT_EQ(countOf(WM_SIZE), 0);
    EXPECT_EQ(countOf(WM_ENTERSIZEMOVE), 0);
    top()->showNormal();
    settle();
    EXPECT_EQ(countOf(WM_SIZE), 0);
    EXPECT_EQ(countOf(WM_ENTERSIZEMOVE), 0);
    // The program then puts its window back, which it hears about.
    SetWindowPos(window, HWND_NOTOPMOST, bounds.left, bounds.top, bounds.right - bounds.left,
                 bounds.bottom - bounds.top, SWP_SHOWWINDOW);
    settle();
    EXPECT_EQ(client().cx, 500);
    EXPECT_EQ(client().cy, 375);
    EXPECT_EQ(countOf(WM_ENTERSIZEMOVE), 0);
}

TEST_F(RealWindow, MouseMovesAskForTheCursorThenQueueAMove) {
    platform::RenderSurface* surface = platform::renderSurfaceFor(window);
    received().clear();
    const QPointF local(40, 30);
    QMouseEvent move(QEvent::MouseMove, local, surface->mapToGlobal(local), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(surface, &move);
    EXPECT_EQ(countOf(WM_SETCURSOR), 1) << "sent at once";
    EXPECT_EQ(countOf(WM_MOUSEMOVE), 0) << "posted";
    EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, IDC_ARROW)) << "the default procedure shows the class cursor";
    ASSERT_TRUE(pumpUntil([] { return countOf(WM_MOUSEMOVE) == 1; }));
    for (const Received& r : received())
        if (r.message == WM_MOUSEMOVE) {
            EXPECT_EQ(LOWORD(r.lParam), 40);
            EXPECT_EQ(HIWORD(r.lParam), 30);
        }
    POINT p{40, 30};
    ClientToScreen(window, &p);
    ScreenToClient(window, &p);
    EXPECT_EQ(p.x, 40);
    EXPECT_EQ(p.y, 30);
    EXPECT_EQ(surface->cursor().shape(), Qt::ArrowCursor);

    // The full-screen frame hides the pointer and answers TRUE itself.
    handler() = [](HWND, UINT m, WPARAM, LPARAM, LRESULT* result) {
        if (m != WM_SETCURSOR)
            return false;
        SetCursor(nullptr);
        *result = TRUE;
        return true;
    };
    QApplication::sendEvent(surface, &move);
    EXPECT_EQ(GetCursor(), nullptr);
    EXPECT_EQ(surface->cursor().shape(), Qt::BlankCursor);
    handler() = nullptr;
    QApplication::sendEvent(surface, &move);
    EXPECT_EQ(surface->cursor().shape(), Qt::ArrowCursor);

    RECT clip{10, 10, 60, 60};
    EXPECT_TRUE(ClipCursor(&clip));
    RECT read{};
    GetClipCursor(&read);
    EXPECT_EQ(read.right, 60);
    EXPECT_TRUE(ClipCursor(nullptr));
}

TEST_F(RealWindow, LosingAndGainingTheFocusDeactivatesAndActivatesTheApplication) {
    auto saw = [](WPARAM active) {
        return [active] {
            for (const Received& r : received())
                if (r.message == WM_ACTIVATEAPP && r.wParam == active)
                    return true;
            return false;
        };
    };
    SetForegroundWindow(window);
    settle();
    received().clear();
    ShowWindow(window, SW_HIDE);
    ASSERT_TRUE(pumpUntil(saw(FALSE), nullptr, nullptr, 5)) << "no WM_ACTIVATEAPP when the focus went";
    received().clear();
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    ASSERT_TRUE(pumpUntil(saw(TRUE), nullptr, nullptr, 5)) << "no WM_ACTIVATEAPP when the focus came back";
    EXPECT_EQ(GetActiveWindow(), window);
}

TEST_F(RealWindow, TheLoadingTextIsDrawnCentredOnTheClientArea) {
    HDC dc = GetDC(window);
    ASSERT_NE(dc, nullptr);
    RECT rect{};
    GetClientRect(window, &rect);
    const int height = DrawTextA(dc, "Loading... Please wait", -1, &rect, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    EXPECT_GT(height, 0);
    EXPECT_EQ(ReleaseDC(window, dc), 1);
    const QImage image = platform::renderSurfaceFor(window)->presentedImage();
    ASSERT_EQ(image.size(), QSize(500, 375));
    int left = image.width(), right = -1, topRow = image.height(), bottom = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 128) {
                left = std::min(left, x);
                right = std::max(right, x);
                topRow = std::min(topRow, y);
                bottom = std::max(bottom, y);
            }
    ASSERT_GE(right, 0) << "no text drawn";
    EXPECT_EQ(qGray(image.pixel(0, 0)), 255) << "the background is the white class background";
    EXPECT_NEAR((left + right) / 2.0, 250, 6);
    EXPECT_NEAR((topRow + bottom) / 2.0, 187, 8);
    EXPECT_LT(bottom - topRow, height + 2);
}

namespace {

// The frame's main loop in miniature: peek while active, wait while paused,
// accelerators first; IDM_CHANGE_DISPLAY runs the settings dialog and
// reports in a message box, the exit command closes the window and ends the
// loop.
struct MiniFrame {
    HWND window = nullptr;
    bool active = true;
    int dialogResult = 0;
    int boxResult = 0;
    int frames = 0;
};
MiniFrame* frame = nullptr;

INT_PTR CALLBACK okAtOnce(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        SendDlgItemMessageA(dialog, IDC_ADAPTER_COMBO, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("adapter"));
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

void clickBoxWhenItShows() {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
        box->button(QMessageBox::Ok)->click();
    else
        QTimer::singleShot(10, clickBoxWhenItShows);
}

LRESULT CALLBACK miniFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDM_CHANGE_DISPLAY) {
            frame->active = false;
            frame->dialogResult = static_cast<int>(
                DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_DISPLAY_SETTINGS), window, okAtOnce, 0));
            QTimer::singleShot(0, clickBoxWhenItShows);
            frame->boxResult = MessageBoxA(window, "settings changed", "vibrolane", MB_ICONWARNING);
            frame->active = true;
            // Back in the loop, Esc is pressed on the window.
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(platform::renderSurfaceFor(window), &escape);
            return 0;
        }
        if (LOWORD(wParam) == IDM_EXIT) {
            SendMessageA(window, WM_CLOSE, 0, 0);
            return 0;
        }
        break;
    case WM_CLOSE:
        DestroyMenu(GetMenu(window));
        DestroyWindow(window);
        PostQuitMessage(5);
        return 0;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

TEST(Program, OpensAWindowWithTheMenuRunsTheDialogShowsAMessageBoxAndQuits) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    InitCommonControls();
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA wc{};
    wc.lpfnWndProc = miniFrameProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN_ICON));
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = "Mini Frame";
    ASSERT_NE(RegisterClassA(&wc), 0);
    MiniFrame state;
    frame = &state;
    state.window = CreateWindowExA(0, "Mini Frame", "vibrolane", kStyle, CW_USEDEFAULT, CW_USEDEFAULT, 400, 300,
                                   nullptr, LoadMenuA(instance, MAKEINTRESOURCEA(IDR_MENU)), instance, nullptr);
    ASSERT_NE(state.window, nullptr);
    HACCEL accelerators = LoadAcceleratorsA(nullptr, MAKEINTRESOURCEA(IDR_MAIN_ACCEL));
    ASSERT_NE(accelerators, nullptr);

    // The user picks "Config display..." from the menu.
    QMenuBar* bar = platform::topLevelWidgetFor(state.window)->findChild<QMenuBar*>();
    ASSERT_NE(bar, nullptr);
    bar->actions()[0]->menu()->actions()[0]->trigger();

    MSG msg{};
    const HWND window = state.window;
    while (msg.message != WM_QUIT) {
        const BOOL got = state.active ? PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)
                                      : GetMessageA(&msg, nullptr, 0, 0);
        if (got) {
            if (!(IsWindow(window) && TranslateAcceleratorA(window, accelerators, &msg))) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        } else if (state.active) {
            ++state.frames;  // a frame would render here
            ASSERT_LT(state.frames, 10000000) << "the loop never ended";
        }
    }
    DestroyAcceleratorTable(accelerators);
    EXPECT_EQ(msg.wParam, 5u) << "the quit code ends the loop";
    EXPECT_EQ(state.dialogResult, IDOK);
    EXPECT_EQ(state.boxResult, IDOK);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(RealWindow, DoubleClicksAsTheClassAsksAndTheWheelWithItsTurn) {
    static const bool registered = [this] {
        WNDCLASSA wc{CS_DBLCLKS, recordingProc, 0, 0, module, nullptr, nullptr, nullptr, nullptr, "Double Clicks"};
        return RegisterClassA(&wc) != 0;
    }();
    ASSERT_TRUE(registered);
    HWND doubleClicking = CreateWindowExA(0, "Double Clicks", "clicks", kStyle, 0, 0, 300, 200, nullptr, nullptr,
                                          module, nullptr);
    ASSERT_NE(doubleClicking, nullptr);
    settle();
    const QPointF at(40, 30);
    for (auto [target, expected] : {std::pair{window, WM_LBUTTONDOWN}, {doubleClicking, WM_LBUTTONDBLCLK}}) {
        platform::RenderSurface* surface = platform::renderSurfaceFor(target);
        received().clear();
        QMouseEvent second(QEvent::MouseButtonDblClick, at, surface->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                           Qt::NoModifier);
        QApplication::sendEvent(surface, &second);
        EXPECT_TRUE(pumpUntil([expected = expected] { return countOf(expected) == 1; })) << expected;
    }
    DestroyWindow(doubleClicking);

    platform::RenderSurface* surface = platform::renderSurfaceFor(window);
    const QPoint global = surface->mapToGlobal(at).toPoint();
    received().clear();
    QWheelEvent wheel(at, global, QPoint(), QPoint(0, -240), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(surface, &wheel);
    ASSERT_TRUE(pumpUntil([] { return countOf(WM_MOUSEWHEEL) == 1; }));
    for (const Received& r : received())
        if (r.message == WM_MOUSEWHEEL) {
            EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(r.wParam), -240);
            EXPECT_EQ(GET_X_LPARAM(r.lParam), global.x()) << "screen coordinates";
            EXPECT_EQ(GET_Y_LPARAM(r.lParam), global.y());
        }
}
