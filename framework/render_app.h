// The reusable application frame: the main window, the 3-D object and
// device, the chosen display settings, the message loop and the frame step.
// A concrete application derives from RenderApp, fills in the scene hooks and
// is driven by the entry point in two calls: Create, then Run.
//
// There is one RenderApp per process; the window procedure and the catalog's
// device-acceptance callback reach it through a process-wide pointer.
#pragma once

#include "framework/device_catalog.h"
#include "framework/display_settings.h"
#include "framework/frame_errors.h"
#include "platform/d3d9/d3d9.h"
#include "platform/win32/windows.h"
#include "resources/resource.h"

// How a reported error goes on.
enum ErrorKind : int {
    kWarning = 0,              // shown, and the program carries on
    kFatal = 1,                // shown once, then the window closes
    kSwitchedToReference = 2,  // shown, then the reference device takes over
};

class RenderApp {
public:
    // Starts paused (pause count 1); Create unpauses once everything exists.
    RenderApp();
    virtual ~RenderApp();

    RenderApp(const RenderApp&) = delete;
    RenderApp& operator=(const RenderApp&) = delete;

    // What a concrete application may override. The scene hooks follow a
    // scene's life: started, its device objects created and restored,
    // updated and rendered each frame, then released, destroyed and shut down.
    virtual HRESULT AdjustWindowForMode();
    virtual void UpdateFrameStats();
    virtual HRESULT AcceptDevice(D3DCAPS9* caps, DWORD behaviorFlags, D3DFORMAT backBufferFormat);
    virtual HRESULT SceneStartup() { return S_OK; }
    virtual HRESULT CreateDeviceObjects() { return S_OK; }
    virtual HRESULT RestoreVolatileObjects() { return S_OK; }
    virtual HRESULT UpdateScene() { return S_OK; }
    virtual HRESULT RenderScene() { return S_OK; }
    virtual HRESULT ReleaseVolatileObjects() { return S_OK; }
    virtual HRESULT DestroyDeviceObjects() { return S_OK; }
    virtual HRESULT SceneShutdown() { return S_OK; }
    virtual HRESULT Create(HINSTANCE instance);
    // Returns the quit message's code, or 1 once a fatal error has been
    // reported: a program that could not carry on must not look successful.
    virtual INT Run();
    virtual LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    virtual void Pause(bool pause);

    // Shows the text of `code` as `kind` says (fatal errors once only, later
    // reports are silent) and returns `code`.
    HRESULT ReportError(HRESULT code, int kind);

    // Re-creates the device with the settings the user picks in the display
    // settings dialog; Cancel changes nothing.
    HRESULT RunDisplaySettings();

protected:
    // Part of display-settings selection: fill `settings` from the catalog and
    // derive presentParams from it.
    HRESULT ChooseInitialSettings();
    bool FindBestWindowedSettings(bool requireHal, bool requireRef);
    bool FindBestFullscreenSettings(bool requireHal, bool requireRef);
    void BuildPresentParameters();

    HRESULT InitializeEnvironment();
    HRESULT ResetEnvironment();
    void CleanupEnvironment();
    HRESULT StepFrame();
    HRESULT CheckForSizeChange();
    HRESULT SwitchWindowMode();

    // Puts the window into windowed presentation where it stands, or where
    // it stood before full screen.
    void PlaceWindow();
    // A device that could not be made again after a switch or a settings
    // change: back to a window, then the fatal report.
    HRESULT ReportEnvironmentFailure(HRESULT hr);
    // The back-buffer description, the device cursor and the cursor clip after a create or reset.
    void AdoptBackBuffer();

    DeviceCatalog catalog;
    DisplaySettings settings{};
    bool windowed = true;
    bool active = false;
    bool deviceLost = false;
    bool minimized = false;
    bool maximized = false;
    bool ignoreSizeChange = false;
    bool deviceObjectsCreated = false;
    bool volatileObjectsRestored = false;
    bool frameMoving = true;
    bool singleStep = false;
    D3DPRESENT_PARAMETERS presentParams{};
    HWND window = nullptr;
    HWND focusWindow = nullptr;
    HMENU savedMenu = nullptr;
    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;
    D3DCAPS9 caps{};
    D3DSURFACE_DESC backBufferDesc{};
    DWORD behaviorFlags = 0;
    DWORD windowStyle = 0;
    RECT windowBounds{};
    // windowBounds holds the place to come back to from full screen; while
    // it does not, the window's place is read whenever it is needed.
    bool returnPlaceKept = false;
    RECT clientRect{};
    float appTime = 0.0f;
    float elapsedTime = 0.0f;
    float fps = 0.0f;
    char deviceStatsText[90] = {};
    char frameStatsText[90] = {};
    const char* windowTitle = "D3D9 Application";
    DWORD createWidth = 400;
    DWORD createHeight = 300;
    bool showCursorWhenFullscreen = false;
    bool clipCursorWhenFullscreen = true;
    bool startFullscreen = false;
};

// The behaviour flags CreateDevice gets for a kind of vertex processing.
DWORD BehaviorFlagsFor(VertexProcessing vertexProcessing);

// The text ReportError shows for a code, before any kind-specific addition.
const char* ErrorText(HRESULT code);
