#include "framework/render_app.h"

#include <cstdio>
#include <cstring>

#include "framework/frame_timer.h"
#include "framework/render_utils.h"
#include "framework/settings_dialog.h"
#include "startup/mode_surface.h"

namespace {

// The one application of the process, reached by the window procedure and
// the catalog's callback.
RenderApp* application = nullptr;
LONG pauseCount = 0;
bool fatalErrorShown = false;
float lastStatsTime = 0.0f;
DWORD framesSinceStats = 0;

LRESULT CALLBACK ForwardingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!application)
        return DefWindowProc(window, message, wParam, lParam);
    return application->HandleMessage(window, message, wParam, lParam);
}

bool AcceptDeviceThroughApplication(D3DCAPS9* caps, VertexProcessing vertexProcessing, D3DFORMAT backBufferFormat) {
    if (!application)
        return true;
    return application->AcceptDevice(caps, BehaviorFlagsFor(vertexProcessing), backBufferFormat) >= 0;
}

// Appends as much of `text` as fits, always terminated.
void AppendText(char* buffer, std::size_t size, const char* text) {
    std::size_t used = std::strlen(buffer);
    while (*text && used + 1 < size)
        buffer[used++] = *text++;
    buffer[used] = '\0';
}

LONG Width(const RECT& r) { return r.right - r.left; }
LONG Height(const RECT& r) { return r.bottom - r.top; }

}  // namespace

DWORD BehaviorFlagsFor(VertexProcessing vertexProcessing) {
    switch (vertexProcessing) {
    case SOFTWARE_VP: return D3DCREATE_SOFTWARE_VERTEXPROCESSING;
    case MIXED_VP: return D3DCREATE_MIXED_VERTEXPROCESSING;
    case HARDWARE_VP: return D3DCREATE_HARDWARE_VERTEXPROCESSING;
    case PURE_HARDWARE_VP: return D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE;
    default: return 0;
    }
}

const char* ErrorText(HRESULT code) {
    switch (static_cast<DWORD>(code)) {
    case 0x82000001:
        return "Could not initialize Direct3D. You may\nwant to check that the latest version of\nDirectX is correctly "
               "installed on your\nsystem.  Also make sure that this program\nwas compiled with header files that "
               "match\nthe installed DirectX DLLs.";
    case 0x82000003: return "Could not find any compatible Direct3D\ndevices.";
    case 0x82000004:
        return "This sample cannot run in a desktop\nwindow with the current display settings.\nPlease change your "
               "desktop settings to a\n16- or 32-bit display mode and re-run this\nsample.";
    case 0x82000005: return "No hardware-accelerated Direct3D devices\nwere found.";
    case 0x82000006:
        return "This sample requires functionality that is\nnot available on your Direct3D hardware\naccelerator.";
    case 0x82000007:
        return "Your Direct3D hardware accelerator cannot\nrender into a window.\nPress F2 while the app is running to "
               "see a\nlist of available devices and modes.";
    case 0x82000008:
        return "Your Direct3D hardware accelerator cannot\nrender into a window with the current\ndesktop display "
               "settings.\nPress F2 while the app is running to see a\nlist of available devices and modes.";
    case 0x82000009:
        return "This sample requires functionality that is\nnot available on your Direct3D hardware\naccelerator with "
               "the current desktop display\nsettings.\nPress F2 while the app is running to see a\nlist of "
               "available devices and modes.";
    case 0x8200000A:
        return "A D3D object has a non-zero reference\ncount (meaning things were not properly\ncleaned up).";
    case 0x8200000B:
    case 0x80070002: return "Could not load required media.";
    case 0x8200000C: return "Could not reset the Direct3D device.";
    case 0x8200000D:
        return "Warning: Nothing will be rendered.\nThe reference rendering device was selected, but your\ncomputer "
               "only has a reduced-functionality reference device\ninstalled.  Install the DirectX SDK to get the "
               "full\nreference device.\n";
    case 0x8007000E: return "Not enough memory.";
    case 0x8876017C: return "Not enough video memory.";
    default: return "Generic application error. Enable\ndebug output for detailed information.";
    }
}

RenderApp::RenderApp() {
    application = this;
    Pause(true);
    clipCursorWhenFullscreen = true;
}

RenderApp::~RenderApp() {
    // Only an application that was never closed still holds these; the hooks
    // of a derived part that is already gone cannot run any more.
    if (device)
        device->Release();
    if (d3d)
        d3d->Release();
    if (window && IsWindow(window)) {
        if (HMENU menu = GetMenu(window))
            DestroyMenu(menu);
        DestroyWindow(window);
    }
    if (savedMenu)
        DestroyMenu(savedMenu);
    if (application == this) {
        // The process-wide state belongs to the one instance; a later one
        // (in tests) starts as at load.
        application = nullptr;
        pauseCount = 0;
        fatalErrorShown = false;
        lastStatsTime = 0.0f;
        framesSinceStats = 0;
    }
}

HRESULT RenderApp::AcceptDevice(D3DCAPS9*, DWORD, D3DFORMAT) { return S_OK; }

// ---------------------------------------------------------------- display settings

HRESULT RenderApp::ChooseInitialSettings() {
    return ::ChooseInitialSettings(catalog, d3d, clientRect, startFullscreen, settings);
}

bool RenderApp::FindBestWindowedSettings(bool requireHal, bool requireRef) {
    return ::FindBestWindowedSettings(catalog, d3d, clientRect, requireHal, requireRef, settings);
}

bool RenderApp::FindBestFullscreenSettings(bool requireHal, bool requireRef) {
    return ::FindBestFullscreenSettings(catalog, d3d, requireHal, requireRef, settings);
}

void RenderApp::BuildPresentParameters() {
    ::BuildPresentParameters(settings, catalog.usesDepthBuffer, windowed, clientRect, window, presentParams);
}

// ---------------------------------------------------------------- creation

HRESULT RenderApp::Create(HINSTANCE instance) {
    d3d = Direct3DCreate9(31);
    if (!d3d)
        return ReportError(kErrorNoDirect3D, kFatal);

    catalog.d3d = d3d;
    catalog.acceptDevice = AcceptDeviceThroughApplication;
    HRESULT hr = catalog.Enumerate();
    if (FAILED(hr)) {
        d3d->Release();
        d3d = nullptr;
        return ReportError(hr, kFatal);
    }

    if (!window) {
        WNDCLASS windowClass = {0,
                                ForwardingWindowProc,
                                0,
                                0,
                                instance,
                                LoadIcon(instance, MAKEINTRESOURCE(IDI_MAIN_ICON)),
                                LoadCursor(nullptr, IDC_ARROW),
                                static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)),
                                nullptr,
                                "D3D Window"};
        RegisterClass(&windowClass);
        windowStyle = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
        HMENU menu = LoadMenu(instance, MAKEINTRESOURCE(IDR_MENU));
        RECT rect = {0, 0, LONG(createWidth), LONG(createHeight)};
        AdjustWindowRect(&rect, windowStyle, menu ? TRUE : FALSE);
        window = CreateWindowEx(0, "D3D Window", windowTitle, windowStyle, CW_USEDEFAULT, CW_USEDEFAULT, Width(rect),
                                Height(rect), nullptr, menu, instance, nullptr);
        if (!window) {
            // Without a window (no display) nothing can be shown: say so now
            // rather than fail later in less clear ways.
            if (menu)
                DestroyMenu(menu);
            d3d->Release();
            d3d = nullptr;
            return ReportError(HRESULT(0x82000002), kFatal);
        }
    }
    if (!focusWindow)
        focusWindow = window;
    windowStyle = DWORD(GetWindowLong(window, GWL_STYLE));
    GetWindowRect(window, &windowBounds);
    GetClientRect(window, &clientRect);

    hr = ChooseInitialSettings();
    if (SUCCEEDED(hr)) {
        FrameTimer(TimerCommand::Start);
        hr = SceneStartup();
        if (FAILED(hr)) {
            if (d3d) {
                d3d->Release();
                d3d = nullptr;
            }
            return ReportError(hr, kFatal);
        }
        hr = InitializeEnvironment();
        if (SUCCEEDED(hr)) {
            Pause(false);
            return S_OK;
        }
    }
    if (d3d) {
        d3d->Release();
        d3d = nullptr;
    }
    return ReportError(hr, kFatal);
}

void RenderApp::PlaceWindow() {
    // Unless full screen kept the place to come back to, the window goes
    // where it stands now: the window manager placed it after it was created
    // and the user may have moved it since, and neither tells the frame.
    if (!returnPlaceKept)
        GetWindowRect(window, &windowBounds);
    returnPlaceKept = false;
    SetWindowPos(window, HWND_NOTOPMOST, windowBounds.left, windowBounds.top, Width(windowBounds),
                 Height(windowBounds), SWP_SHOWWINDOW);
}

void RenderApp::AdoptBackBuffer() {
    IDirect3DSurface9* backBuffer = nullptr;
    if (SUCCEEDED(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer))) {
        backBuffer->GetDesc(&backBufferDesc);
        backBuffer->Release();
    }

    if (showCursorWhenFullscreen && !windowed) {
        const HCURSOR cursor = reinterpret_cast<HCURSOR>(static_cast<ULONG_PTR>(GetClassLong(window, GCL_HCURSOR)));
        SetDeviceCursor(device, cursor, true);
        device->ShowCursor(TRUE);
    }
    if (clipCursorWhenFullscreen) {
        if (!windowed) {
            RECT bounds;
            GetWindowRect(window, &bounds);
            ClipCursor(&bounds);
        } else {
            ClipCursor(nullptr);
        }
    }
}

HRESULT RenderApp::InitializeEnvironment() {
    DeviceEntry* deviceInfo = settings.CurrentDevice();
    windowed = settings.isWindowed;
    AdjustWindowForMode();
    BuildPresentParameters();

    if (deviceInfo->caps.PrimitiveMiscCaps & D3DPMISCCAPS_NULLREFERENCE)
        ReportError(kErrorNullReferenceDevice, kWarning);

    const DWORD flags = BehaviorFlagsFor(settings.CurrentVertexProcessing());
    HRESULT hr = d3d->CreateDevice(settings.CurrentAdapterOrdinal(), deviceInfo->deviceType, focusWindow, flags,
                                   &presentParams, &device);
    if (SUCCEEDED(hr)) {
        if (windowed)
            PlaceWindow();
        device->GetDeviceCaps(&caps);
        behaviorFlags = flags;

        const bool hal = deviceInfo->deviceType == D3DDEVTYPE_HAL;
        std::snprintf(deviceStatsText, sizeof deviceStatsText, "%s",
                      hal ? "HAL" : deviceInfo->deviceType == D3DDEVTYPE_REF ? "REF" : "SW");
        const char* processing = "";
        if ((flags & D3DCREATE_HARDWARE_VERTEXPROCESSING) && (flags & D3DCREATE_PUREDEVICE))
            processing = hal ? " (pure hw vp)" : " (simulated pure hw vp)";
        else if (flags & D3DCREATE_HARDWARE_VERTEXPROCESSING)
            processing = hal ? " (hw vp)" : " (simulated hw vp)";
        else if (flags & D3DCREATE_MIXED_VERTEXPROCESSING)
            processing = hal ? " (mixed vp)" : " (simulated mixed vp)";
        else if (flags & D3DCREATE_SOFTWARE_VERTEXPROCESSING)
            processing = " (sw vp)";
        AppendText(deviceStatsText, sizeof deviceStatsText, processing);
        if (hal) {
            char description[MAX_DEVICE_IDENTIFIER_STRING + 1];
            std::snprintf(description, sizeof description, "%.*s", MAX_DEVICE_IDENTIFIER_STRING,
                          settings.CurrentAdapter()->identifier.Description);
            AppendText(deviceStatsText, sizeof deviceStatsText, ": ");
            AppendText(deviceStatsText, sizeof deviceStatsText, description);
        }

        AdoptBackBuffer();

        hr = CreateDeviceObjects();
        if (FAILED(hr)) {
            DestroyDeviceObjects();
        } else {
            deviceObjectsCreated = true;
            hr = RestoreVolatileObjects();
            if (FAILED(hr)) {
                ReleaseVolatileObjects();
            } else {
                volatileObjectsRestored = true;
                return S_OK;
            }
        }
        CleanupEnvironment();
    }

    // A HAL that cannot be had falls back once to the reference device in a
    // window; missing media would be missing there too.
    if (hr != kErrorMediaNotFound && hr != kErrorFileNotFound && deviceInfo->deviceType == D3DDEVTYPE_HAL) {
        if (FindBestWindowedSettings(false, true)) {
            windowed = true;
            AdjustWindowForMode();
            PlaceWindow();
            ReportError(hr, kSwitchedToReference);
            return InitializeEnvironment();
        }
    }
    return hr;
}

HRESULT RenderApp::ResetEnvironment() {
    if (volatileObjectsRestored) {
        volatileObjectsRestored = false;
        ReleaseVolatileObjects();
    }
    HRESULT hr = device->Reset(&presentParams);
    if (FAILED(hr))
        return hr;

    AdoptBackBuffer();

    hr = RestoreVolatileObjects();
    if (FAILED(hr)) {
        ReleaseVolatileObjects();
        return hr;
    }
    volatileObjectsRestored = true;

    // A paused scene is brought up to date once with the new device.
    if (!frameMoving) {
        singleStep = true;
        FrameTimer(TimerCommand::Start);
        FrameTimer(TimerCommand::Stop);
    }
    return S_OK;
}

void RenderApp::CleanupEnvironment() {
    if (!device)
        return;
    if (volatileObjectsRestored) {
        volatileObjectsRestored = false;
        ReleaseVolatileObjects();
    }
    if (deviceObjectsCreated) {
        deviceObjectsCreated = false;
        DestroyDeviceObjects();
    }
    // The device is forgotten before the report: its close message cleans
    // up again and must not release it a second time.
    const ULONG remaining = device->Release();
    device = nullptr;
    if (remaining > 0)
        ReportError(kErrorNonZeroRefCount, kFatal);
}

// ---------------------------------------------------------------- the loop

INT RenderApp::Run() {
    HACCEL accelerators = LoadAccelerators(nullptr, MAKEINTRESOURCE(IDR_MAIN_ACCEL));
    HRESULT stepFailure = S_OK;

    MSG message;
    std::memset(&message, 0, sizeof message);
    message.message = WM_NULL;
    PeekMessage(&message, nullptr, 0U, 0U, PM_NOREMOVE);

    while (message.message != WM_QUIT) {
        const BOOL gotMessage =
            active ? PeekMessage(&message, nullptr, 0U, 0U, PM_REMOVE) : GetMessage(&message, nullptr, 0U, 0U);
        if (gotMessage > 0) {
            if (!(accelerators && window && TranslateAccelerator(window, accelerators, &message))) {
                TranslateMessage(&message);
                DispatchMessage(&message);
            }
        } else {
            if (deviceLost)
                Sleep(100);
            if (active) {
                const HRESULT hr = StepFrame();
                if (FAILED(hr) && window) {
                    stepFailure = hr;
                    SendMessage(window, WM_CLOSE, 0, 0);
                }
            }
        }
    }
    if (accelerators)
        DestroyAcceleratorTable(accelerators);

    // A run that ended in an error must not look like a successful one.
    if (FAILED(stepFailure) && !fatalErrorShown) {
        std::fprintf(stderr, "%s: a frame could not be drawn (error 0x%08X); the window was closed.\n", windowTitle,
                     static_cast<unsigned>(static_cast<DWORD>(stepFailure)));
        std::fflush(stderr);
    }
    if (fatalErrorShown || FAILED(stepFailure))
        return 1;
    return static_cast<INT>(message.wParam);
}

HRESULT RenderApp::StepFrame() {
    if (deviceLost) {
        const HRESULT hr = device->TestCooperativeLevel();
        if (FAILED(hr)) {
            if (hr == D3DERR_DEVICELOST)
                return S_OK;  // not yet: try again later
            if (hr != D3DERR_DEVICENOTRESET)
                return hr;
            if (windowed) {
                // The desktop may have changed its mode while the device was away.
                d3d->GetAdapterDisplayMode(settings.CurrentAdapterOrdinal(), &settings.windowedDisplayMode);
                presentParams.BackBufferFormat = settings.windowedDisplayMode.Format;
            }
            return ResetEnvironment();
        }
        deviceLost = false;
    }

    const float time = FrameTimer(TimerCommand::GetAppTime);
    const float elapsed = FrameTimer(TimerCommand::GetElapsedTime);
    if (elapsed == 0.0f && frameMoving)
        return S_OK;

    if (frameMoving || singleStep) {
        appTime = time;
        elapsedTime = elapsed;
        const HRESULT hr = UpdateScene();
        if (FAILED(hr))
            return hr;
        singleStep = false;
        // A dialog the scene opened may have ended the application.
        if (!device)
            return S_OK;
    }

    HRESULT hr = RenderScene();
    if (FAILED(hr))
        return hr;
    UpdateFrameStats();
    hr = device->Present(nullptr, nullptr, nullptr, nullptr);
    if (hr == D3DERR_DEVICELOST) {
        deviceLost = true;
    } else if (FAILED(hr)) {
        // A frame that could not be shown is not worth ending the program
        // for, the next may well be; but it is said, once.
        static bool reported = false;
        if (!reported) {
            reported = true;
            std::fprintf(stderr, "%s: a frame could not be shown (error 0x%08X).\n", windowTitle,
                         static_cast<unsigned>(static_cast<DWORD>(hr)));
            std::fflush(stderr);
        }
    }
    return S_OK;
}

void RenderApp::UpdateFrameStats() {
    const float now = FrameTimer(TimerCommand::GetAbsoluteTime);
    ++framesSinceStats;
    if (now - lastStatsTime <= 1.0f)
        return;
    fps = float(framesSinceStats) / (now - lastStatsTime);
    framesSinceStats = 0;
    lastStatsTime = now;

    char formats[100];
    const D3DDISPLAYMODE mode = settings.CurrentDisplayMode();
    if (mode.Format == backBufferDesc.Format)
        std::snprintf(formats, sizeof formats, "%s", FormatName(mode.Format, false));
    else
        std::snprintf(formats, sizeof formats, "backbuf %s, adapter %s", FormatName(backBufferDesc.Format, false),
                      FormatName(mode.Format, false));

    char depth[100] = "";
    if (catalog.usesDepthBuffer)
        std::snprintf(depth, sizeof depth, " (%s)", FormatName(settings.CurrentDepthStencilFormat(), false));

    char multisample[40] = "";
    const D3DMULTISAMPLE_TYPE samples = settings.CurrentMultisampleType();
    if (samples == D3DMULTISAMPLE_NONMASKABLE)
        std::snprintf(multisample, sizeof multisample, " (Nonmaskable Multisample)");
    else if (samples >= D3DMULTISAMPLE_2_SAMPLES && samples <= D3DMULTISAMPLE_16_SAMPLES)
        std::snprintf(multisample, sizeof multisample, " (%dx Multisample)", int(samples));

    char line[400];
    std::snprintf(line, sizeof line, "%.02f fps (%dx%d), %s%s%s; %.02f TPS", double(fps), int(backBufferDesc.Width),
                  int(backBufferDesc.Height), formats, depth, multisample,
                  double(fps * float(PublishedModeSurface().triangleCount)));
    CopyText(frameStatsText, line, int(sizeof frameStatsText));
}

void RenderApp::Pause(bool pause) {
    pauseCount += pause ? 1 : -1;
    active = pauseCount == 0;
    if (pause && pauseCount == 1) {
        if (frameMoving)
            FrameTimer(TimerCommand::Stop);
    }
    if (pauseCount == 0) {
        if (frameMoving)
            FrameTimer(TimerCommand::Start);
    }
}

// ---------------------------------------------------------------- window and mode changes

HRESULT RenderApp::AdjustWindowForMode() {
    if (windowed) {
        SetWindowLong(window, GWL_STYLE, LONG(windowStyle));
        if (savedMenu) {
            SetMenu(window, savedMenu);
            savedMenu = nullptr;
        }
    } else {
        // The window's place as it stands when it leaves the desktop, so
        // that coming back puts it there with its title bar on the screen.
        if (!returnPlaceKept) {
            GetWindowRect(window, &windowBounds);
            returnPlaceKept = true;
        }
        SetWindowLong(window, GWL_STYLE, LONG(WS_POPUP | WS_SYSMENU | WS_VISIBLE));
        if (!savedMenu) {
            savedMenu = GetMenu(window);
            SetMenu(window, nullptr);
        }
    }
    return S_OK;
}

HRESULT RenderApp::CheckForSizeChange() {
    if (ignoreSizeChange)
        return S_OK;
    const RECT oldClient = clientRect;
    if (!returnPlaceKept)
        GetWindowRect(window, &windowBounds);
    GetClientRect(window, &clientRect);
    if (Width(oldClient) == Width(clientRect) && Height(oldClient) == Height(clientRect))
        return S_OK;

    Pause(true);
    presentParams.BackBufferWidth = UINT(Width(clientRect));
    presentParams.BackBufferHeight = UINT(Height(clientRect));
    HRESULT hr = S_OK;
    if (device) {
        hr = ResetEnvironment();
        if (FAILED(hr)) {
            if (hr != D3DERR_OUTOFVIDEOMEMORY)
                hr = kErrorResetFailed;
            ReportError(hr, kFatal);
        }
    }
    Pause(false);
    return hr;
}

HRESULT RenderApp::SwitchWindowMode() {
    // Without a combination for the other presentation there is nothing to
    // switch to, and the window stays as it is.
    if ((windowed ? settings.fullscreenCombination : settings.windowedCombination) == nullptr)
        return S_OK;

    const UINT oldOrdinal = settings.CurrentAdapterOrdinal();
    const D3DDEVTYPE oldType = settings.CurrentDeviceType();
    Pause(true);
    ignoreSizeChange = true;

    windowed = !windowed;
    settings.isWindowed = windowed;
    AdjustWindowForMode();

    HRESULT hr;
    if (settings.CurrentAdapterOrdinal() == oldOrdinal && settings.CurrentDeviceType() == oldType) {
        BuildPresentParameters();
        hr = ResetEnvironment();
    } else {
        CleanupEnvironment();
        hr = InitializeEnvironment();
    }
    if (FAILED(hr)) {
        ignoreSizeChange = false;
        // The pause stays: the application is closing.
        return ReportEnvironmentFailure(hr);
    }
    ignoreSizeChange = false;
    if (windowed)
        PlaceWindow();
    Pause(false);
    return S_OK;
}

HRESULT RenderApp::ReportEnvironmentFailure(HRESULT hr) {
    // The message must be readable: a full-screen presentation that failed
    // gives the desktop back first.
    if (!windowed) {
        windowed = true;
        settings.isWindowed = true;
        AdjustWindowForMode();
        PlaceWindow();
    }
    return ReportError(hr == D3DERR_OUTOFVIDEOMEMORY ? hr : kErrorResetFailed, kFatal);
}

HRESULT RenderApp::RunDisplaySettings() {
    if (!windowed) {
        if (FAILED(SwitchWindowMode())) {
            ReportError(kErrorResetFailed, kFatal);
            return E_FAIL;
        }
    }

    DisplaySettingsDialog dialog(&catalog, settings);
    const INT_PTR answer = dialog.Show(window);
    if (answer == -1) {
        std::fprintf(stderr, "%s: the display settings dialog could not be shown.\n", windowTitle);
        std::fflush(stderr);
    }
    if (answer != IDOK)
        return S_OK;

    settings = dialog.Result();
    windowed = settings.isWindowed;
    CleanupEnvironment();
    const HRESULT hr = InitializeEnvironment();
    if (FAILED(hr)) {
        return ReportEnvironmentFailure(hr);
    }
    if (!frameMoving) {
        singleStep = true;
        FrameTimer(TimerCommand::Start);
        FrameTimer(TimerCommand::Stop);
    }
    return S_OK;
}

// ---------------------------------------------------------------- messages

LRESULT RenderApp::HandleMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        if (device && !active && deviceObjectsCreated && volatileObjectsRestored) {
            RenderScene();
            device->Present(nullptr, nullptr, nullptr, nullptr);
        }
        break;

    case WM_SIZE:
        if (windowed && window)
            windowStyle = DWORD(GetWindowLong(window, GWL_STYLE));
        if (wParam == SIZE_MINIMIZED) {
            if (clipCursorWhenFullscreen && !windowed)
                ClipCursor(nullptr);
            Pause(true);
            minimized = true;
            maximized = false;
        } else if (wParam == SIZE_MAXIMIZED) {
            if (minimized)
                Pause(false);
            minimized = false;
            maximized = true;
            CheckForSizeChange();
        } else if (wParam == SIZE_RESTORED) {
            if (maximized) {
                maximized = false;
                CheckForSizeChange();
            } else if (minimized) {
                Pause(false);
                minimized = false;
                CheckForSizeChange();
            }
            // Otherwise the user is dragging the frame: WM_EXITSIZEMOVE acts.
        }
        break;

    case WM_ENTERSIZEMOVE:
    case WM_ENTERMENULOOP:
        Pause(true);
        break;

    case WM_EXITMENULOOP:
        Pause(false);
        break;

    case WM_EXITSIZEMOVE:
        Pause(false);
        CheckForSizeChange();
        break;

    case WM_SETCURSOR:
        if (active && !windowed) {
            SetCursor(nullptr);
            if (showCursorWhenFullscreen && device)
                device->ShowCursor(TRUE);
            return TRUE;
        }
        break;

    case WM_MOUSEMOVE:
        if (active && device) {
            POINT cursor;
            GetCursorPos(&cursor);
            if (!windowed)
                ScreenToClient(window, &cursor);
            device->SetCursorPosition(cursor.x, cursor.y, 0);
        }
        break;

    case WM_GETMINMAXINFO:
        if (lParam) {
            reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize.x = 100;
            reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize.y = 100;
        }
        break;

    case WM_NCHITTEST:
        if (!windowed)
            return HTCLIENT;
        break;

    case WM_POWERBROADCAST:
        if (wParam == PBT_APMQUERYSUSPEND || wParam == PBT_APMRESUMESUSPEND)
            return TRUE;
        break;

    case WM_SYSCOMMAND:
        if (wParam == SC_SIZE || wParam == SC_MOVE || wParam == SC_MAXIMIZE || wParam == SC_KEYMENU ||
            wParam == SC_MONITORPOWER) {
            if (!windowed)
                return 1;
        }
        break;

    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDM_CHANGE_DISPLAY:
            Pause(true);
            RunDisplaySettings();
            Pause(false);
            return 0;
        case IDM_TOGGLE_FULLSCREEN:
            Pause(true);
            if (FAILED(SwitchWindowMode()))
                ReportError(kErrorResetFailed, kFatal);
            Pause(false);
            return 0;
        case IDM_EXIT:
            SendMessage(hWnd, WM_CLOSE, 0, 0);
            return 0;
        default:
            break;
        }
        break;

    case WM_CLOSE: {
        CleanupEnvironment();
        if (d3d) {
            d3d->Release();
            d3d = nullptr;
        }
        SceneShutdown();
        if (HMENU menu = GetMenu(hWnd))
            DestroyMenu(menu);
        // In full screen the menu is detached and kept aside.
        if (savedMenu) {
            DestroyMenu(savedMenu);
            savedMenu = nullptr;
        }
        DestroyWindow(hWnd);
        PostQuitMessage(0);
        window = nullptr;
        return 0;
    }

    default:
        break;
    }
    return DefWindowProc(hWnd, message, wParam, lParam);
}

// ---------------------------------------------------------------- errors

HRESULT RenderApp::ReportError(HRESULT code, int kind) {
    if (fatalErrorShown)
        return code;

    char text[512];
    CopyText(text, ErrorText(code), sizeof text);

    if (kind == kFatal) {
        fatalErrorShown = true;
        AppendText(text, sizeof text, "\n\nThis sample will now exit.");
        MessageBox(nullptr, text, windowTitle, MB_ICONERROR);
        // Sent, not posted: the whole clean-up has run when this returns.
        if (window)
            SendMessage(window, WM_CLOSE, 0, 0);
    } else if (kind == kSwitchedToReference) {
        AppendText(text, sizeof text,
                   "\n\nSwitching to the reference rasterizer,\na software device that implements the entire\n"
                   "Direct3D feature set, but runs very slowly.");
        MessageBox(nullptr, text, windowTitle, MB_ICONWARNING);
    } else {
        MessageBox(nullptr, text, windowTitle, MB_ICONWARNING);
    }
    return code;
}
