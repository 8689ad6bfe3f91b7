// The program's one application: shows the computed mode surface, lit and
// coloured by height, lets the user turn it about two axes, prints frame
// statistics and help lines over it, and remembers the window size.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/render_app.h"
#include "viewer/bitmap_font.h"
#include "viewer/input_mapper.h"
#include "viewer/sound_player.h"

// The input of one frame from all devices together; rebuilt every frame by
// the input mapping, which may also raise the two requests. Requests stay
// set until UpdateScene serves them.
struct UserInput {
    float axisUpDown;     // -1 ... 1
    float axisLeftRight;  // -1 ... 1
    BOOL playSoundDown;
    BOOL configureInputRequested;
    BOOL configureDisplayRequested;
};
static_assert(sizeof(UserInput) == 20, "five 32-bit fields");

// The overlay's read-out of the two axes: two decimals each, and a trailing
// blank.
void FormatAxisText(char* text, size_t size, const UserInput& input);

// Input configuration in full-screen presentation draws into an off-screen
// surface of this size, centred in the back buffer.
inline constexpr UINT ConfigSurfaceWidth = 640;
inline constexpr UINT ConfigSurfaceHeight = 480;

class ViewerApp : public RenderApp {
public:
    ViewerApp();
    ~ViewerApp() override;

    HRESULT AcceptDevice(D3DCAPS9* caps, DWORD behaviorFlags, D3DFORMAT backBufferFormat) override;
    HRESULT SceneStartup() override;
    HRESULT CreateDeviceObjects() override;
    HRESULT RestoreVolatileObjects() override;
    HRESULT UpdateScene() override;
    HRESULT RenderScene() override;
    HRESULT ReleaseVolatileObjects() override;
    HRESULT DestroyDeviceObjects() override;
    HRESULT SceneShutdown() override;
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    void Pause(bool pause) override;

    // For the input configuration in full-screen presentation: shows the
    // scene with the configuration surface `target` centred over it.
    // userData is the ViewerApp.
    static BOOL CALLBACK ConfigureDevicesCallback(IUnknown* target, void* userData);

    // Input mapping.
    HRESULT SetUpInput(HWND window);
    HRESULT OnInputDeviceAdded(MappedDevice* record, const DIDEVICEINSTANCEA* instance);
    void PollInput(UserInput* input);
    void ReleaseInput();

protected:
    HRESULT DrawOverlayText();
    // The mapper's DeviceAddedCallback; data is the ViewerApp.
    static HRESULT InputDeviceAdded(MappedDevice* record, const DIDEVICEINSTANCEA* instance, void* data);
    void ReadWindowSize();
    void WriteWindowSize();
    HRESULT SetUpSound(HWND window);

    BOOL loading;
    IDirect3DVertexBuffer9* surfaceVertexBuffer;
    BitmapFont* font;
    InputMapper* inputMapper;
    DIACTIONFORMATA actionFormat;
    IDirect3DSurface9* configSurface;
    UserInput userInput;
    float soundRepeatCountdown;
    SoundPlayer* soundPlayer;
    SoundSegment* bounceSound;
    float rotationX;
    float rotationY;
};
