// A small application on the frame: it clears the back buffer and draws one
// lit triangle. It counts every hook, can be told to fail a hook, and lets a
// test act once per frame, so the frame can be exercised without the viewer.
#pragma once

#include <functional>

#include "framework/render_app.h"

class TriangleApp : public RenderApp {
public:
    TriangleApp();
    ~TriangleApp() override;

    struct Counts {
        int acceptDevice = 0;
        int sceneStartup = 0;
        int createDeviceObjects = 0;
        int restoreVolatileObjects = 0;
        int updateScene = 0;
        int renderScene = 0;
        int frameStats = 0;
        int releaseVolatileObjects = 0;
        int destroyDeviceObjects = 0;
        int sceneShutdown = 0;
        // Successful creates and restores, so that pairing can be checked
        // when a hook is made to fail.
        int deviceObjectsMade = 0;
        int volatileObjectsMade = 0;
    };
    Counts counts;

    // Which devices AcceptDevice takes.
    bool acceptHal = true;
    bool acceptRef = true;
    // Results the hooks give instead of their own; S_OK lets them work.
    HRESULT sceneStartupResult = S_OK;
    HRESULT createResultOnHal = S_OK;
    // RestoreVolatileObjects fails from its n-th call on (1-based; 0: never).
    int failRestoreFromCall = 0;
    // Called at the start of every UpdateScene.
    std::function<void(TriangleApp&)> onFrame;

    HRESULT SceneStartup() override;
    HRESULT CreateDeviceObjects() override;
    HRESULT RestoreVolatileObjects() override;
    HRESULT UpdateScene() override;
    HRESULT RenderScene() override;
    HRESULT ReleaseVolatileObjects() override;
    HRESULT DestroyDeviceObjects() override;
    HRESULT SceneShutdown() override;
    HRESULT AcceptDevice(D3DCAPS9* caps, DWORD behaviorFlags, D3DFORMAT backBufferFormat) override;
    void UpdateFrameStats() override;

    // The window's client size at creation, and whether to start full screen.
    void SetStart(DWORD width, DWORD height, bool fullscreen) {
        createWidth = width;
        createHeight = height;
        startFullscreen = fullscreen;
    }

    // What tests look at and drive directly.
    using RenderApp::StepFrame;
    using RenderApp::SwitchWindowMode;
    bool IsActive() const { return active; }
    bool IsWindowed() const { return windowed; }
    bool IsMinimized() const { return minimized; }
    bool IsDeviceLost() const { return deviceLost; }
    bool& FrameMoving() { return frameMoving; }
    HWND Window() const { return window; }
    IDirect3DDevice9* Device() const { return device; }
    const D3DSURFACE_DESC& BackBuffer() const { return backBufferDesc; }
    const DisplaySettings& Settings() const { return settings; }
    const char* DeviceStats() const { return deviceStatsText; }
    const char* FrameStats() const { return frameStatsText; }
    float Fps() const { return fps; }
    float ElapsedTime() const { return elapsedTime; }

    // The colour the triangle is cleared against and the lit triangle's
    // colour at the centre of the back buffer.
    static constexpr D3DCOLOR kBackground = D3DCOLOR_XRGB(0, 0, 64);

private:
    IDirect3DVertexBuffer9* triangle = nullptr;  // managed: survives resets
    IDirect3DStateBlock9* drawState = nullptr;   // volatile: gone before every reset
};

// The demonstration program's body: 1 when Create fails, else what Run gives.
int RunTriangleApp(TriangleApp& app, HINSTANCE instance);
