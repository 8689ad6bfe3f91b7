#include "viewer/viewer_app.h"

#include <cstdio>
#include <cstring>

#include "math/matrix_functions.h"
#include "platform/win32/winbase.h"
#include "startup/mode_surface.h"
#include "viewer/surface_renderer.h"
#include "viewer/window_size_store.h"

namespace {
constexpr D3DCOLOR OverlayTextColour = 0xFFFFFF00;
constexpr float OverlayLineHeight = 20.0f;
constexpr float SoundRepeatInterval = 0.5f;
}  // namespace

void FormatAxisText(char* text, size_t size, const UserInput& input) {
    std::snprintf(text, size, "Left/Right Axis: %0.2f Up/Down Axis: %0.2f ", static_cast<double>(input.axisLeftRight),
                  static_cast<double>(input.axisUpDown));
}

ViewerApp::ViewerApp() {
    windowTitle = "vibrolane";
    createWidth = 500;
    createHeight = 375;
    catalog.usesDepthBuffer = true;
    startFullscreen = false;
    showCursorWhenFullscreen = false;

    font = new BitmapFont("Arial", 12, FontBold);

    loading = TRUE;
    surfaceVertexBuffer = nullptr;
    inputMapper = nullptr;
    std::memset(&actionFormat, 0, sizeof(actionFormat));
    configSurface = nullptr;
    userInput = {};
    soundRepeatCountdown = 0.0f;
    soundPlayer = nullptr;
    bounceSound = nullptr;
    rotationX = 0.0f;
    rotationY = 0.0f;

    ReadWindowSize();
}

// SceneShutdown and the device hooks free what the viewer owns; an
// application that never came to be closed (Create failed before its window
// existed) would lose it otherwise.
ViewerApp::~ViewerApp() {
    delete font;
    font = nullptr;
    if (configSurface) {
        configSurface->Release();
        configSurface = nullptr;
    }
    if (surfaceVertexBuffer) {
        surfaceVertexBuffer->Release();
        surfaceVertexBuffer = nullptr;
    }
    ReleaseInput();
    // Likewise the sound, should SceneStartup have run without a SceneShutdown:
    // segment before player, and COM balanced by the player.
    delete bounceSound;
    bounceSound = nullptr;
    delete soundPlayer;
    soundPlayer = nullptr;
}

HRESULT ViewerApp::AcceptDevice(D3DCAPS9*, DWORD, D3DFORMAT) { return S_OK; }

HRESULT ViewerApp::SceneStartup() {
    SendMessage(window, WM_PAINT, 0, 0);
    SetUpInput(window);
    SetUpSound(window);
    loading = FALSE;
    return S_OK;
}

// Sound playback: the player, and the bounce from the program's own resources.
HRESULT ViewerApp::SetUpSound(HWND window) {
    soundPlayer = new SoundPlayer;
    HRESULT hr = soundPlayer->Open(window, 128, DMUS_APATH_DYNAMIC_STEREO, nullptr);
    if (FAILED(hr))
        return hr;
    // Zeroed: a current directory too long for the buffer leaves it
    // unwritten, and the loader then gets an empty path rather than garbage.
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, folder);
    soundPlayer->SetMediaFolder(folder);
    soundPlayer->LoadSegmentFromResource(&bounceSound, "BOUNCE", "WAVE", TRUE, FALSE);
    return S_OK;
}

HRESULT ViewerApp::CreateDeviceObjects() {
    if (!font)
        return E_FAIL;  // shut down already
    HRESULT hr = font->CreateGlyphTexture(device);
    if (FAILED(hr))
        return hr;
    return CreateSurfaceVertexBuffer(device, PublishedModeSurface(), &surfaceVertexBuffer);
}

HRESULT ViewerApp::RestoreVolatileObjects() {
    SetSurfaceDrawStates(device, backBufferDesc.Width, backBufferDesc.Height);
    if (font)
        font->RestoreDrawStates();
    if (!windowed) {
        HRESULT hr = device->CreateOffscreenPlainSurface(ConfigSurfaceWidth, ConfigSurfaceHeight,
                                                         backBufferDesc.Format, D3DPOOL_DEFAULT, &configSurface,
                                                         nullptr);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT ViewerApp::UpdateScene() {
    PollInput(&userInput);

    if (userInput.configureInputRequested && windowed) {
        userInput.configureInputRequested = FALSE;
        Pause(true);
        FreeInputDeviceStates(inputMapper);
        // A configuration that failed re-enumerates nothing; without states
        // the devices would deliver nothing for the rest of the run.
        if (inputMapper && FAILED(inputMapper->RunConfiguration(window, nullptr, nullptr, DICD_EDIT, nullptr)))
            RestoreInputDeviceStates(inputMapper);
        Pause(false);
    }

    if (userInput.configureDisplayRequested) {
        userInput.configureDisplayRequested = FALSE;
        Pause(true);
        RunDisplaySettings();
        Pause(false);
    }

    if (userInput.axisLeftRight != 0)
        rotationY = rotationY + elapsedTime * userInput.axisLeftRight;
    if (userInput.axisUpDown != 0)
        rotationX = rotationX + elapsedTime * userInput.axisUpDown;

    D3DXMATRIX rx, ry, world;
    D3DXMatrixRotationX(&rx, rotationX);
    D3DXMatrixRotationY(&ry, rotationY);
    D3DXMatrixMultiply(&world, &rx, &ry);
    // The settings dialog may have failed fatally and closed the window, and
    // the device with it.
    if (device)
        device->SetTransform(D3DTS_WORLD, &world);

    if (userInput.playSoundDown) {
        soundRepeatCountdown = soundRepeatCountdown - elapsedTime;
        if (soundRepeatCountdown <= 0.0f) {
            soundRepeatCountdown = SoundRepeatInterval;
            if (bounceSound)
                bounceSound->Play(DMUS_SEGF_SECONDARY, nullptr);
        }
    } else {
        soundRepeatCountdown = 0.0f;
    }
    return S_OK;
}

HRESULT ViewerApp::RenderScene() {
    if (!device)
        return S_OK;
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, SurfaceClearColor, 1.0f, 0);
    if (FAILED(device->BeginScene()))
        return S_OK;
    device->SetStreamSource(0, surfaceVertexBuffer, 0, sizeof(SurfaceVertex));
    device->SetFVF(SurfaceVertexFvf);
    device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2 * static_cast<UINT>(PublishedModeSurface().triangleCount));
    DrawOverlayText();
    device->EndScene();
    return S_OK;
}

HRESULT ViewerApp::ReleaseVolatileObjects() {
    if (font)
        font->ReleaseDrawStates();
    if (configSurface) {
        configSurface->Release();
        configSurface = nullptr;
    }
    return S_OK;
}

HRESULT ViewerApp::DestroyDeviceObjects() {
    if (font)
        font->ReleaseGlyphTexture();
    if (surfaceVertexBuffer) {
        surfaceVertexBuffer->Release();
        surfaceVertexBuffer = nullptr;
    }
    return S_OK;
}

HRESULT ViewerApp::SceneShutdown() {
    if (font) {
        delete font;
        font = nullptr;
    }
    ReleaseInput();
    // The segment goes first: destroying it uses the player's loader and
    // performance.
    if (bounceSound) {
        delete bounceSound;
        bounceSound = nullptr;
    }
    if (soundPlayer) {
        delete soundPlayer;
        soundPlayer = nullptr;
    }
    WriteWindowSize();
    return S_OK;
}

LRESULT ViewerApp::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        if (loading) {
            HDC context = GetDC(window);
            char text[32];
            wsprintfA(text, "Loading... Please wait");
            RECT rect;
            GetClientRect(window, &rect);
            DrawTextA(context, text, -1, &rect, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
            ReleaseDC(window, context);
        }
    } else if (message == WM_COMMAND) {
        switch (LOWORD(wParam)) {
        case CommandConfigureDisplay:
            // Served by the next frame, outside the menu's own handling.
            userInput.configureDisplayRequested = TRUE;
            return 0;
        case CommandConfigureInput:
            userInput.configureInputRequested = TRUE;
            break;
        }
    }
    return RenderApp::HandleMessage(window, message, wParam, lParam);
}

void ViewerApp::Pause(bool pause) {
    // A key held when the focus goes is not held afterwards.
    ClearInputDeviceStates(inputMapper);
    RenderApp::Pause(pause);
}

BOOL CALLBACK ViewerApp::ConfigureDevicesCallback(IUnknown* target, void* userData) {
    ViewerApp* app = static_cast<ViewerApp*>(userData);
    IDirect3DSurface9* source = static_cast<IDirect3DSurface9*>(target);
    app->RenderScene();
    IDirect3DSurface9* backBuffer = nullptr;
    if (SUCCEEDED(app->device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer))) {
        const RECT rect = {0, 0, LONG(ConfigSurfaceWidth), LONG(ConfigSurfaceHeight)};
        const POINT point = {(LONG(app->backBufferDesc.Width) - LONG(ConfigSurfaceWidth)) / 2,
                             (LONG(app->backBufferDesc.Height) - LONG(ConfigSurfaceHeight)) / 2};
        app->device->UpdateSurface(source, &rect, backBuffer, &point);
        backBuffer->Release();
    }
    app->device->Present(nullptr, nullptr, nullptr, nullptr);
    return TRUE;
}

HRESULT ViewerApp::DrawOverlayText() {
    if (!font)
        return S_OK;
    // On a scaled screen the back buffer has the screen's own pixels and the
    // glyphs grow with them; so do the margins and the lines' distances.
    const float scale = font->ScreenScale();
    const float x = 2 * scale;
    font->DrawString(x, 20 * scale, OverlayTextColour, deviceStatsText);
    font->DrawString(x, 0, OverlayTextColour, frameStatsText);

    float lineY = static_cast<float>(backBufferDesc.Height);
    char text[260];
    lineY -= OverlayLineHeight * scale;
    FormatAxisText(text, sizeof text, userInput);
    font->DrawString(x, lineY, OverlayTextColour, text);
    for (const char* help : {"Use arrow keys or joystick to rotate object", "Hold 'F5' down to play and repeat a sound",
                             "Press 'F3' to configure input", "Press 'F2' to configure display"}) {
        lineY -= OverlayLineHeight * scale;
        font->DrawString(x, lineY, OverlayTextColour, help);
    }
    return S_OK;
}

void ViewerApp::ReadWindowSize() { ReadStoredWindowSize(&createWidth, &createHeight); }

void ViewerApp::WriteWindowSize() {
    // The client area counts device pixels; the stored size counts logical
    // ones, as the window is made with, so that the window opens at the same
    // size on the screen whatever the screen's scale.
    POINT size = {clientRect.right, clientRect.bottom};
    PhysicalToLogicalPointForPerMonitorDPI(window, &size);
    WriteStoredWindowSize(static_cast<DWORD>(size.x), static_cast<DWORD>(size.y));
}

// ---- Input mapping ---------------------------------------------------------------------

HRESULT ViewerApp::SetUpInput(HWND window) {
    FillActionFormat(&actionFormat);
    inputMapper = new InputMapper();
    const HRESULT hr = inputMapper->Connect(window, nullptr, &actionFormat, InputDeviceAdded, this);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT ViewerApp::InputDeviceAdded(MappedDevice* record, const DIDEVICEINSTANCEA* instance, void* data) {
    return static_cast<ViewerApp*>(data)->OnInputDeviceAdded(record, instance);
}

HRESULT ViewerApp::OnInputDeviceAdded(MappedDevice* record, const DIDEVICEINSTANCEA* instance) {
    return ::OnInputDeviceAdded(record, instance);
}

void ViewerApp::PollInput(UserInput* input) { ::PollInput(inputMapper, input); }

void ViewerApp::ReleaseInput() { ::ReleaseInput(inputMapper); }
