// The frame driven through the demonstration application: on a real window
// with the real 3-D device (HAL where OpenGL 3.3 is there, REF always), under
// an X display (xvfb-run). Message boxes and dialogs are answered at once.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>

#include "framework/frame_timer.h"
#include "framework/render_utils.h"
#include "platform/d3d9/test_hooks.h"
#include "mode/mode_surface.h"
#include "tests/framework/triangle_app.h"
#include "tests/platform/win32/modal_answerer.h"

namespace {

// The frame's clock, moved by the test: by hand, or a fixed step per read.
struct HandClock {
    static inline LONGLONG ticks = 0;
    static inline LONGLONG step = 0;
    static BOOL Frequency(LARGE_INTEGER* f) {
        f->QuadPart = 1000000;
        return TRUE;
    }
    static BOOL Counter(LARGE_INTEGER* c) {
        c->QuadPart = ticks;
        ticks += step;
        return TRUE;
    }
    static DWORD Milliseconds() { return DWORD(ticks / 1000); }
    static void Seconds(double s) { ticks += LONGLONG(s * 1000000.0); }
};
const FrameTimerClock handClock = {HandClock::Frequency, HandClock::Counter, HandClock::Milliseconds};

ModeTriangle surfaceTriangles[1] = {{0, 1, 2}};
ModeVertex surfaceVertices[3] = {};

bool HasDisplay() {
    const char* display = std::getenv("DISPLAY");
    return display && *display;
}

bool HalOffered() {
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DCAPS9 caps;
    const bool offered = d3d && SUCCEEDED(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps));
    if (d3d)
        d3d->Release();
    return offered;
}

class Frame : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HasDisplay())
            GTEST_SKIP() << "needs an X display (run under xvfb-run)";
        InitCommonControls();
        // The statistics multiply by the published surface's triangle count.
        PublishModeSurface({surfaceTriangles, surfaceVertices, 1860, 3});
        HandClock::ticks = 10 * 1000000LL;
        HandClock::step = 0;
        SetFrameTimerClock(&handClock);
        testsupport::AnswerModals(&boxes, "OK");
        app = std::make_unique<TriangleApp>();
    }
    void TearDown() override {
        if (app && app->Window())
            SendMessage(app->Window(), WM_CLOSE, 0, 0);
        app.reset();
        DrainQueue();
        testsupport::AnswerModals(nullptr);
        platform::d3d9::testing::SetHalCreationFails(false);
        platform::d3d9::testing::SetHalShadersBroken(false);
        SetFrameTimerClock(nullptr);
    }

    // Lets the window system's answers to a show or hide arrive.
    static void Settle() {
        MSG message;
        for (int i = 0; i < 50; ++i) {
            while (PeekMessage(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessage(&message);
            Sleep(2);
        }
    }

    // Whatever quit a close posted is taken, so that the next modal loop or
    // application does not end at once.
    static void DrainQueue() {
        MSG message;
        while (PeekMessage(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    HRESULT CreateOn(D3DDEVTYPE type) {
        if (type == D3DDEVTYPE_HAL && !HalOffered())
            return E_NOTIMPL;
        app->acceptHal = type == D3DDEVTYPE_HAL;
        return app->Create(GetModuleHandleA(nullptr));
    }

    // One frame step with time moving on.
    HRESULT Step(double seconds = 0.02) {
        HandClock::Seconds(seconds);
        return app->StepFrame();
    }

    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return SendMessage(app->Window(), message, wParam, lParam);
    }

    // Resizes the client area as a user's drag would: inside a size-move loop.
    void DragClientTo(int width, int height) {
        RECT window, client;
        GetWindowRect(app->Window(), &window);
        GetClientRect(app->Window(), &client);
        const int extraW = (window.right - window.left) - (client.right - client.left);
        const int extraH = (window.bottom - window.top) - (client.bottom - client.top);
        Send(WM_ENTERSIZEMOVE);
        SetWindowPos(app->Window(), nullptr, window.left, window.top, width + extraW, height + extraH,
                     SWP_NOZORDER);
        Send(WM_EXITSIZEMOVE);
    }

    void ExpectHooksPaired() {
        const TriangleApp::Counts& c = app->counts;
        EXPECT_EQ(c.createDeviceObjects, c.destroyDeviceObjects) << "every create is matched by one destroy";
        EXPECT_EQ(c.restoreVolatileObjects, c.releaseVolatileObjects) << "every restore is matched by one release";
    }

    std::vector<testsupport::ShownMessageBox> boxes;
    std::unique_ptr<TriangleApp> app;
};

class FrameOnEachDevice : public Frame, public ::testing::WithParamInterface<D3DDEVTYPE> {
protected:
    void SetUp() override {
        Frame::SetUp();
        if (IsSkipped())
            return;
        const HRESULT hr = CreateOn(GetParam());
        if (hr == E_NOTIMPL)
            GTEST_SKIP() << "no HAL here";
        ASSERT_EQ(hr, S_OK);
        ASSERT_EQ(app->Settings().CurrentDeviceType(), GetParam());
    }
};

std::string DeviceName(const ::testing::TestParamInfo<D3DDEVTYPE>& info) {
    return info.param == D3DDEVTYPE_HAL ? "HAL" : "REF";
}

// ---------------------------------------------------------------- pause and timer

TEST(FramePause, NestsAndStopsTheTimerAtTheFirstPauseOnly) {
    HandClock::ticks = 10 * 1000000LL;
    HandClock::step = 0;
    SetFrameTimerClock(&handClock);
    // 1 s running, 2 s paused (twice over), 1 s running: a still scene's
    // clock is never touched by pauses.
    struct Row {
        bool frameMoving;
        float appTimeAfterNestedPause;
        float appTimeAtEnd;
    };
    for (const Row row : {Row{true, 1.0f, 2.0f}, Row{false, 3.0f, 4.0f}}) {
        SetFrameTimerClock(&handClock);
        TriangleApp app;
        app.FrameMoving() = row.frameMoving;
        EXPECT_FALSE(app.IsActive()) << "a new application starts paused";
        app.Pause(false);
        EXPECT_TRUE(app.IsActive());
        const float start = FrameTimer(TimerCommand::GetAppTime);
        HandClock::Seconds(1.0);
        app.Pause(true);
        app.Pause(true);
        HandClock::Seconds(1.0);
        app.Pause(false);
        EXPECT_FALSE(app.IsActive()) << "two pauses need two resumes";
        HandClock::Seconds(1.0);
        EXPECT_EQ(FrameTimer(TimerCommand::GetAppTime) - start, row.appTimeAfterNestedPause) << row.frameMoving;
        app.Pause(false);
        EXPECT_TRUE(app.IsActive());
        HandClock::Seconds(1.0);
        EXPECT_EQ(FrameTimer(TimerCommand::GetAppTime) - start, row.appTimeAtEnd) << row.frameMoving;
    }
    SetFrameTimerClock(nullptr);
}

// ---------------------------------------------------------------- frame step

TEST_P(FrameOnEachDevice, AFrameWithoutElapsedTimeIsSkippedUnlessTimeStandsStill) {
    struct Row {
        bool frameMoving;
        double seconds;
        int updates, renders;
    };
    const Row rows[] = {
        {true, 0.0, 0, 0},   // nothing happened since the last frame
        {true, 0.05, 1, 1},  // an ordinary frame
        {false, 0.0, 0, 1},  // a still scene is still drawn, but not updated
        {false, 0.05, 0, 1},
    };
    for (const Row& row : rows) {
        app->FrameMoving() = row.frameMoving;
        const TriangleApp::Counts before = app->counts;
        ASSERT_EQ(Step(row.seconds), S_OK);
        EXPECT_EQ(app->counts.updateScene - before.updateScene, row.updates) << row.frameMoving << row.seconds;
        EXPECT_EQ(app->counts.renderScene - before.renderScene, row.renders) << row.frameMoving << row.seconds;
        EXPECT_EQ(app->counts.frameStats - before.frameStats, row.renders) << row.frameMoving << row.seconds;
    }
    // With time standing still, a reset brings the scene up to date once.
    DragClientTo(300, 200);
    const int updates = app->counts.updateScene;
    ASSERT_EQ(Step(0.05), S_OK);
    ASSERT_EQ(Step(0.05), S_OK);
    EXPECT_EQ(app->counts.updateScene, updates + 1);
}

TEST_P(FrameOnEachDevice, StatisticsNameTheBuffersAndCountTrianglesOncePerSecond) {
    ASSERT_EQ(Step(0.25), S_OK);  // the first frame already measures, from the clock's origin
    EXPECT_NEAR(app->Fps(), 1.0f / 10.25f, 1e-6f);
    const std::string first = app->FrameStats();
    for (int frame = 2; frame <= 5; ++frame) {
        ASSERT_EQ(Step(0.25), S_OK);
        EXPECT_EQ(app->FrameStats(), first) << "exactly one second is not above one second";
    }
    ASSERT_EQ(Step(0.25), S_OK);  // 5 frames in 1.25 s
    // HAL prefers a back buffer in the desktop's format; REF takes the
    // first it offers, which has alpha.
    EXPECT_EQ(std::string(app->FrameStats()),
              GetParam() == D3DDEVTYPE_HAL ? "4.00 fps (320x240), X8R8G8B8 (D16); 7440.00 TPS"
                                           : "4.00 fps (320x240), backbuf A8R8G8B8, adapter X8R8G8B8 (D16); "
                                             "7440.00 TPS");
    const std::string device = app->DeviceStats();
    if (GetParam() == D3DDEVTYPE_HAL) {
        EXPECT_EQ(device.substr(0, 18), "HAL (pure hw vp): ") << device;
        EXPECT_LE(device.size(), 89u);
    } else {
        EXPECT_EQ(device, "REF (simulated pure hw vp)");
    }
}

// ---------------------------------------------------------------- messages

TEST_P(FrameOnEachDevice, MessageTablePausesResumesAndAnswers) {
    struct Row {
        const char* name;
        UINT message;
        WPARAM wParam;
        bool activeAfter;
        bool minimizedAfter;
        int renders;
    };
    const Row rows[] = {
        {"paint while running: the loop draws anyway", WM_PAINT, 0, true, false, 0},
        {"menu opens", WM_ENTERMENULOOP, 0, false, false, 0},
        {"paint while paused draws the scene", WM_PAINT, 0, false, false, 1},
        {"menu closes", WM_EXITMENULOOP, 0, true, false, 0},
        {"size-move begins", WM_ENTERSIZEMOVE, 0, false, false, 0},
        {"size-move ends, same size", WM_EXITSIZEMOVE, 0, true, false, 0},
        {"minimised", WM_SIZE, SIZE_MINIMIZED, false, true, 0},
        {"restored from minimised", WM_SIZE, SIZE_RESTORED, true, false, 0},
        {"plain restore", WM_SIZE, SIZE_RESTORED, true, false, 0},
    };
    for (const Row& row : rows) {
        const TriangleApp::Counts before = app->counts;
        Send(row.message, row.wParam, 0);
        EXPECT_EQ(app->IsActive(), row.activeAfter) << row.name;
        EXPECT_EQ(app->IsMinimized(), row.minimizedAfter) << row.name;
        EXPECT_EQ(app->counts.renderScene - before.renderScene, row.renders) << row.name;
        EXPECT_EQ(app->counts.restoreVolatileObjects, before.restoreVolatileObjects) << row.name << ": no reset";
    }

    MINMAXINFO limits{};
    Send(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    EXPECT_EQ(limits.ptMinTrackSize.x, 100);
    EXPECT_EQ(limits.ptMinTrackSize.y, 100);
    EXPECT_EQ(Send(WM_POWERBROADCAST, PBT_APMQUERYSUSPEND), TRUE);
    EXPECT_EQ(Send(WM_POWERBROADCAST, PBT_APMRESUMESUSPEND), TRUE);
}

TEST_P(FrameOnEachDevice, SizeChangesResetTheDeviceToTheNewClientSize) {
    DragClientTo(280, 190);
    EXPECT_EQ(app->counts.releaseVolatileObjects, 1);
    EXPECT_EQ(app->counts.restoreVolatileObjects, 2);
    EXPECT_EQ(app->BackBuffer().Width, 280u);
    EXPECT_EQ(app->BackBuffer().Height, 190u);
    EXPECT_TRUE(app->IsActive());
    ASSERT_EQ(Step(), S_OK);

    // Maximising checks the size at once; restoring from it checks again.
    RECT window;
    GetWindowRect(app->Window(), &window);
    SetWindowPos(app->Window(), nullptr, window.left, window.top, 360, 300, SWP_NOZORDER);
    EXPECT_EQ(app->counts.restoreVolatileObjects, 2) << "a plain WM_SIZE waits for the end of the size-move loop";
    Send(WM_SIZE, SIZE_MAXIMIZED);
    EXPECT_EQ(app->counts.restoreVolatileObjects, 3);
    RECT client;
    GetClientRect(app->Window(), &client);
    EXPECT_EQ(LONG(app->BackBuffer().Width), client.right);
    Send(WM_SIZE, SIZE_RESTORED);
    EXPECT_EQ(app->counts.restoreVolatileObjects, 3) << "the size did not change again";
    ASSERT_EQ(Step(), S_OK);
    Send(WM_CLOSE);
    ExpectHooksPaired();
    EXPECT_EQ(app->counts.createDeviceObjects, 1);
}

TEST_P(FrameOnEachDevice, AltEnterGoesFullScreenAndBack) {
    RECT client;
    GetClientRect(app->Window(), &client);
    const HMENU menu = GetMenu(app->Window());
    ASSERT_NE(menu, nullptr);

    Send(WM_COMMAND, MAKEWPARAM(IDM_TOGGLE_FULLSCREEN, 1));
    ASSERT_FALSE(app->IsWindowed());
    EXPECT_TRUE(app->IsActive());
    const D3DDISPLAYMODE mode = app->Settings().CurrentDisplayMode();
    EXPECT_EQ(app->BackBuffer().Width, mode.Width);
    EXPECT_EQ(app->BackBuffer().Height, mode.Height);
    EXPECT_EQ(GetMenu(app->Window()), nullptr) << "no menu bar in full screen";
    EXPECT_EQ(DWORD(GetWindowLong(app->Window(), GWL_STYLE)), DWORD(WS_POPUP | WS_SYSMENU | WS_VISIBLE));
    EXPECT_EQ(Send(WM_NCHITTEST), HTCLIENT);
    for (WPARAM command : {SC_SIZE, SC_MOVE, SC_MAXIMIZE, SC_KEYMENU, SC_MONITORPOWER})
        EXPECT_EQ(Send(WM_SYSCOMMAND, command), 1) << std::hex << command << " is swallowed in full screen";
    ASSERT_EQ(Step(), S_OK);

    Send(WM_COMMAND, MAKEWPARAM(IDM_TOGGLE_FULLSCREEN, 1));
    ASSERT_TRUE(app->IsWindowed());
    EXPECT_EQ(GetMenu(app->Window()), menu) << "the menu comes back";
    EXPECT_EQ(LONG(app->BackBuffer().Width), client.right);
    EXPECT_EQ(LONG(app->BackBuffer().Height), client.bottom);
    ASSERT_EQ(Step(), S_OK);

    // Same adapter and device type both ways: resets, never a new device.
    EXPECT_EQ(app->counts.createDeviceObjects, 1);
    EXPECT_EQ(app->counts.destroyDeviceObjects, 0);
    EXPECT_EQ(app->counts.restoreVolatileObjects, 3);
    EXPECT_EQ(app->counts.releaseVolatileObjects, 2);
    EXPECT_TRUE(boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Devices, FrameOnEachDevice, ::testing::Values(D3DDEVTYPE_HAL, D3DDEVTYPE_REF), DeviceName);

// ---------------------------------------------------------------- loss, errors, pairing

TEST_F(Frame, ALostDeviceInFullScreenIsResetAndDrawsAgain) {
    const HRESULT hr = CreateOn(D3DDEVTYPE_HAL);
    if (hr == E_NOTIMPL)
        GTEST_SKIP() << "no HAL here";
    ASSERT_EQ(hr, S_OK);
    Send(WM_COMMAND, MAKEWPARAM(IDM_TOGGLE_FULLSCREEN, 1));
    ASSERT_FALSE(app->IsWindowed());
    ASSERT_EQ(Step(), S_OK);
    const TriangleApp::Counts before = app->counts;

    ASSERT_TRUE(platform::d3d9::testing::LoseHalContext(app->Device()));
    ASSERT_EQ(Step(), S_OK);
    EXPECT_TRUE(app->IsDeviceLost()) << "Present reported the loss";
    ASSERT_EQ(Step(), S_OK);  // the device can be reset: the frame does so
    EXPECT_EQ(app->counts.releaseVolatileObjects, before.releaseVolatileObjects + 1);
    EXPECT_EQ(app->counts.restoreVolatileObjects, before.restoreVolatileObjects + 1);
    ASSERT_EQ(Step(), S_OK);
    EXPECT_FALSE(app->IsDeviceLost());
    const int renders = app->counts.renderScene;
    ASSERT_EQ(Step(), S_OK);
    EXPECT_EQ(app->counts.renderScene, renders + 1);
    EXPECT_FALSE(app->IsDeviceLost()) << "the new context presents";
    EXPECT_FALSE(app->IsWindowed());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(Frame, MinimisingAFullScreenReferenceDeviceLosesItUntilItIsBack) {
    ASSERT_EQ(CreateOn(D3DDEVTYPE_REF), S_OK);
    Send(WM_COMMAND, MAKEWPARAM(IDM_TOGGLE_FULLSCREEN, 1));
    ASSERT_FALSE(app->IsWindowed());
    ASSERT_EQ(Step(), S_OK);
    const TriangleApp::Counts before = app->counts;
    // The window goes away as it would for another application.
    ShowWindow(app->Window(), SW_MINIMIZE);
    Settle();
    ASSERT_EQ(Step(), S_OK);
    ASSERT_TRUE(app->IsDeviceLost()) << "Present reported the loss";

    // Back again (without a window manager the focus may return before
    // that): the frame resets the device once and draws on.
    ShowWindow(app->Window(), SW_RESTORE);
    Settle();
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(Step(), S_OK);
    EXPECT_FALSE(app->IsDeviceLost());
    EXPECT_EQ(app->counts.releaseVolatileObjects, before.releaseVolatileObjects + 1);
    EXPECT_EQ(app->counts.restoreVolatileObjects, before.restoreVolatileObjects + 1);
    EXPECT_FALSE(app->IsWindowed());
    EXPECT_EQ(app->counts.createDeviceObjects, 1) << "reset, never re-created";
}

TEST_F(Frame, AFatalErrorIsShownOnceClosesTheWindowAndRunReturnsOne) {
    app->failRestoreFromCall = 2;  // the first reset cannot restore
    ASSERT_EQ(CreateOn(D3DDEVTYPE_REF), S_OK);
    HandClock::step = 1000;
    int frames = 0;
    app->onFrame = [&](TriangleApp& a) {
        if (++frames == 2)
            DragClientTo(250, 180);
        // Later reports are silent.
        if (frames == 2)
            a.ReportError(E_OUTOFMEMORY, kFatal);
    };
    const HWND window = app->Window();
    EXPECT_EQ(app->Run(), 1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Could not reset the Direct3D device.\n\nThis sample will now exit.");
    EXPECT_EQ(boxes[0].caption, "vibrolane frame");
    EXPECT_EQ(boxes[0].icon, unsigned(MB_ICONERROR));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(app->Window(), nullptr);
    EXPECT_EQ(frames, 2);
    EXPECT_EQ(app->counts.sceneShutdown, 1);
    // The failing restore was still followed by its release.
    EXPECT_EQ(app->counts.restoreVolatileObjects, 2);
    EXPECT_EQ(app->counts.releaseVolatileObjects, 2);
    ExpectHooksPaired();
}

TEST_F(Frame, ANormalCloseReturnsTheQuitCodeAfterRunningFrames) {
    ASSERT_EQ(CreateOn(D3DDEVTYPE_REF), S_OK);
    HandClock::step = 1000;
    int frames = 0, framesWhilePaused = 0;
    app->onFrame = [&](TriangleApp& a) {
        ++frames;
        if (!a.IsActive())
            ++framesWhilePaused;
        if (frames == 3) {
            // A menu loop: the loop waits for messages instead of drawing.
            SendMessage(a.Window(), WM_ENTERMENULOOP, 0, 0);
            PostMessage(a.Window(), WM_APP, 0, 0);
            PostMessage(a.Window(), WM_EXITMENULOOP, 0, 0);
        }
        if (frames == 4)
            PostMessage(a.Window(), WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), 0);
    };
    EXPECT_EQ(app->Run(), 0);
    EXPECT_EQ(frames, 4);
    EXPECT_EQ(framesWhilePaused, 0);
    EXPECT_TRUE(boxes.empty());
    ExpectHooksPaired();
    EXPECT_EQ(app->counts.sceneShutdown, 1);
}

TEST_F(Frame, HooksPairAcrossCreateResetModeSwitchSettingsAndClose) {
    ASSERT_EQ(CreateOn(D3DDEVTYPE_REF), S_OK);
    DragClientTo(300, 220);
    app->SwitchWindowMode();
    app->SwitchWindowMode();
    ASSERT_TRUE(app->IsWindowed());
    Send(WM_COMMAND, MAKEWPARAM(IDM_CHANGE_DISPLAY, 0));  // answered with OK: a new device
    EXPECT_EQ(testsupport::AnsweredDialogs(), 1);
    ASSERT_EQ(Step(), S_OK);
    Send(WM_CLOSE);
    const TriangleApp::Counts& c = app->counts;
    EXPECT_EQ(c.createDeviceObjects, 2);
    EXPECT_EQ(c.destroyDeviceObjects, 2);
    EXPECT_EQ(c.restoreVolatileObjects, 5);
    EXPECT_EQ(c.releaseVolatileObjects, 5);
    EXPECT_EQ(c.sceneStartup, 1);
    EXPECT_EQ(c.sceneShutdown, 1);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(Frame, CancelledSettingsChangeNothingButTheWayBackFromFullScreen) {
    ASSERT_EQ(CreateOn(D3DDEVTYPE_REF), S_OK);
    testsupport::AnswerModals(&boxes, "Cancel");
    const DisplaySettings before = app->Settings();
    const TriangleApp::Counts counts = app->counts;
    EXPECT_EQ(app->RunDisplaySettings(), S_OK);
    EXPECT_EQ(testsupport::AnsweredDialogs(), 1);
    EXPECT_EQ(app->Settings().CurrentCombination(), before.CurrentCombination());
    EXPECT_EQ(app->counts.createDeviceObjects, counts.createDeviceObjects);
    EXPECT_EQ(app->counts.restoreVolatileObjects, counts.restoreVolatileObjects);

    // The dialog is never shown over a full-screen device: the window comes back first.
    ASSERT_EQ(app->SwitchWindowMode(), S_OK);
    ASSERT_FALSE(app->IsWindowed());
    EXPECT_EQ(app->RunDisplaySettings(), S_OK);
    EXPECT_EQ(testsupport::AnsweredDialogs(), 2);
    EXPECT_TRUE(app->IsWindowed());
    EXPECT_EQ(app->counts.createDeviceObjects, counts.createDeviceObjects);
    EXPECT_EQ(app->counts.restoreVolatileObjects, counts.restoreVolatileObjects + 2);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(Frame, AFrameThatCannotBeDrawnClosesTheWindowAndSaysWhyOnce) {
    const HRESULT hr = CreateOn(D3DDEVTYPE_HAL);
    if (hr == E_NOTIMPL)
        GTEST_SKIP() << "no HAL here";
    ASSERT_EQ(hr, S_OK);
    HandClock::step = 1000;
    // The triangle's program will not build: its draw fails, and with it the frame.
    platform::d3d9::testing::SetHalShadersBroken(true);
    ::testing::internal::CaptureStderr();
    const int status = app->Run();
    const std::string log = ::testing::internal::GetCapturedStderr();
    platform::d3d9::testing::SetHalShadersBroken(false);
    EXPECT_EQ(status, 1) << "a run that ended in an error does not look successful";
    EXPECT_EQ(app->counts.renderScene, 1);
    EXPECT_EQ(app->Window(), nullptr);
    EXPECT_NE(log.find("HAL: a fixed-function program could not be built"), std::string::npos) << log;
    EXPECT_NE(log.find("vibrolane frame: a frame could not be drawn (error 0x88760827)"), std::string::npos) << log;
    EXPECT_TRUE(boxes.empty()) << "the frame step itself shows no message box";
    ExpectHooksPaired();
}

TEST_F(Frame, FailuresInsideCreateCloseTheWindowAtOnce) {
    struct Row {
        const char* name;
        bool acceptAnything;
        HRESULT sceneStartup;
        HRESULT expected;
        const char* text;
        int sceneStartups;
    };
    const Row rows[] = {
        {"no usable device", false, S_OK, HRESULT(0x82000003), "Could not find any compatible Direct3D\ndevices.", 0},
        {"media missing", true, HRESULT(0x8200000B), HRESULT(0x8200000B), "Could not load required media.", 1},
    };
    for (const Row& row : rows) {
        boxes.clear();
        app.reset();  // the one application of the process goes before the next
        app = std::make_unique<TriangleApp>();
        app->acceptHal = app->acceptRef = row.acceptAnything;
        app->sceneStartupResult = row.sceneStartup;
        EXPECT_EQ(app->Create(GetModuleHandleA(nullptr)), row.expected) << row.name;
        EXPECT_EQ(app->Window(), nullptr) << row.name;
        EXPECT_EQ(app->counts.sceneStartup, row.sceneStartups) << row.name;
        EXPECT_EQ(app->counts.sceneShutdown, 1) << row.name << ": runs even without a start-up";
        ASSERT_EQ(boxes.size(), 1u) << row.name;
        EXPECT_EQ(boxes[0].text, std::string(row.text) + "\n\nThis sample will now exit.");
        EXPECT_EQ(app->Run(), 1) << row.name;
        DrainQueue();
    }
}

TEST_F(Frame, AHalThatCannotBeHadFallsBackToTheReferenceDeviceOnce) {
    if (!HalOffered())
        GTEST_SKIP() << "no HAL here";
    const std::string switching =
        "\n\nSwitching to the reference rasterizer,\na software device that implements the entire\nDirect3D "
        "feature set, but runs very slowly.";
    struct Row {
        const char* name;
        bool halCreationFails;
        HRESULT createOnHal;
        HRESULT expected;
        const char* text;
        unsigned icon;
        int creates;
    };
    const Row rows[] = {
        {"HAL device not created", true, S_OK, S_OK, "Generic application error. Enable\ndebug output for detailed "
                                                     "information.", MB_ICONWARNING, 1},
        {"HAL objects fail", false, E_OUTOFMEMORY, S_OK, "Not enough memory.", MB_ICONWARNING, 2},
        {"media missing on HAL", false, HRESULT(0x80070002), HRESULT(0x80070002), "Could not load required media.",
         MB_ICONERROR, 1},
    };
    for (const Row& row : rows) {
        boxes.clear();
        app.reset();
        app = std::make_unique<TriangleApp>();
        platform::d3d9::testing::SetHalCreationFails(row.halCreationFails);
        app->createResultOnHal = row.createOnHal;
        EXPECT_EQ(app->Create(GetModuleHandleA(nullptr)), row.expected) << row.name;
        platform::d3d9::testing::SetHalCreationFails(false);
        ASSERT_EQ(boxes.size(), 1u) << row.name;
        EXPECT_EQ(boxes[0].icon, row.icon) << row.name;
        EXPECT_EQ(app->counts.createDeviceObjects, row.creates) << row.name;
        if (row.expected == S_OK) {
            EXPECT_EQ(boxes[0].text, row.text + switching) << row.name;
            EXPECT_EQ(std::string(app->DeviceStats()), "REF (simulated pure hw vp)") << row.name;
            EXPECT_TRUE(app->IsWindowed());
            ASSERT_EQ(Step(), S_OK) << row.name;
            Send(WM_CLOSE);
        } else {
            EXPECT_EQ(boxes[0].text, std::string(row.text) + "\n\nThis sample will now exit.") << row.name;
        }
        ExpectHooksPaired();
        DrainQueue();
    }
}

TEST_F(Frame, EveryCodeHasItsTextAndEveryKindItsEnding) {
    // Each row's text must be its own: a distinctive piece of it is enough
    // to tell the rows apart.
    struct Row {
        DWORD code;
        const char* piece;
    };
    const Row rows[] = {
        {0x82000001, "Could not initialize Direct3D. You may\nwant to check"},
        {0x82000003, "Could not find any compatible Direct3D\ndevices."},
        {0x82000004, "16- or 32-bit display mode and re-run this\nsample."},
        {0x82000005, "No hardware-accelerated Direct3D devices\nwere found."},
        {0x82000006, "not available on your Direct3D hardware\naccelerator."},
        {0x82000007, "cannot\nrender into a window.\nPress F2"},
        {0x82000008, "render into a window with the current\ndesktop display settings."},
        {0x82000009, "accelerator with the current desktop display\nsettings."},
        {0x8200000A, "A D3D object has a non-zero reference\ncount"},
        {0x8200000B, "Could not load required media."},
        {0x80070002, "Could not load required media."},
        {0x8200000C, "Could not reset the Direct3D device."},
        {0x8200000D, "Warning: Nothing will be rendered."},
        {0x8007000E, "Not enough memory."},
        {0x8876017C, "Not enough video memory."},
        {0x82000002, "Generic application error. Enable\ndebug output for detailed information."},
        {0x80004005, "Generic application error."},
    };
    for (const Row& row : rows) {
        boxes.clear();
        EXPECT_EQ(app->ReportError(HRESULT(row.code), kWarning), HRESULT(row.code));
        ASSERT_EQ(boxes.size(), 1u) << std::hex << row.code;
        EXPECT_NE(boxes[0].text.find(row.piece), std::string::npos) << std::hex << row.code << ": " << boxes[0].text;
        EXPECT_EQ(boxes[0].text, ErrorText(HRESULT(row.code))) << "a warning is the text alone";
        EXPECT_EQ(boxes[0].icon, unsigned(MB_ICONWARNING));
        EXPECT_EQ(boxes[0].caption, "vibrolane frame");
    }
    EXPECT_EQ(std::string(ErrorText(HRESULT(0x8200000D))),
              "Warning: Nothing will be rendered.\nThe reference rendering device was selected, but your\ncomputer "
              "only has a reduced-functionality reference device\ninstalled.  Install the DirectX SDK to get the "
              "full\nreference device.\n");

    boxes.clear();
    app->ReportError(E_OUTOFMEMORY, kSwitchedToReference);
    app->ReportError(E_OUTOFMEMORY, kFatal);
    app->ReportError(HRESULT(0x8200000C), kFatal);
    app->ReportError(HRESULT(0x8200000C), kWarning);
    ASSERT_EQ(boxes.size(), 2u) << "nothing at all after the first fatal report";
    EXPECT_EQ(boxes[0].text,
              "Not enough memory.\n\nSwitching to the reference rasterizer,\na software device that implements the "
              "entire\nDirect3D feature set, but runs very slowly.");
    EXPECT_EQ(boxes[0].icon, unsigned(MB_ICONWARNING));
    EXPECT_EQ(boxes[1].text, "Not enough memory.\n\nThis sample will now exit.");
    EXPECT_EQ(boxes[1].icon, unsigned(MB_ICONERROR));
}

// ---------------------------------------------------------------- the program's exit status

TEST(FrameProgram, ExitsWithOneWhenItCannotStart) {
    // Without a display no window can be made: the error goes to standard
    // error and the process must not report success.
    const std::string command =
        std::string("env DISPLAY= WAYLAND_DISPLAY= QT_QPA_PLATFORM= ") + VL_TRIANGLE_PROGRAM + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    const int status = pclose(pipe);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(output.find("vibrolane frame: Generic application error."), std::string::npos) << output;
    EXPECT_NE(output.find("This sample will now exit."), std::string::npos) << output;
}

}  // namespace
