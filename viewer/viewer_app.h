// The program's one application: shows the computed mode surface, lit and
// coloured by height, lets the user turn it about two axes, prints frame
// statistics and help lines over it, and remembers the window size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "framework/render_app.h"
#include "mode/mode_surface.h"
#include "viewer/explore_controls.h"
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

    // Beyond the still fifth mode: the mode shown (1 to 5), its vibration,
    // and the view's reset. A mode that was not computed is ignored.
    void ShowMode(int mode);
    void ToggleAnimation();
    // Shows the vibration `seconds` in, still (the snapshot's --time).
    void ShowVibrationAt(double seconds);
    void ResetView();

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

    // The surface as it is shown now: the published one until a mode is
    // chosen or animated, then the same triangles over shownVertices.
    ModeSurface ShownSurface() const;
    // Recomputes the shown heights from the mode and the time and refills
    // the vertex buffer with them.
    void UpdateShownSurface();
    // Served once per frame after the turn: the animation clock, a pending
    // picture.
    void UpdateExploration();
    // The View menu's commands and the mouse; true when the message was one.
    bool HandleExploreMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void CheckViewMenu();
    void SavePicture();

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

    int shownMode = 5;
    bool modeLineShown = false;  // after a mode was chosen or animated
    bool animating = false;
    double animationTime = 0.0;  // seconds of frame time spent animating
    float cameraDistance = DefaultCameraDistance;
    bool dragging = false;
    int dragX = 0;
    int dragY = 0;
    bool savePictureRequested = false;
    std::vector<ModeVertex> shownVertices;
};
