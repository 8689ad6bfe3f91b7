// ViewerApp's own steps on a recording device in front of a REF device: the
// hooks and their pairing, the frame's drawing, the overlay's lines, the
// per-frame update, the menu requests and shut-down.
#include "viewer/viewer_app.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "math/matrix_functions.h"
#include "platform/win32/commctrl.h"
#include "mode/mode_surface.h"
#include "tests/platform/d3d9/reference_scenes.h"
#include "tests/viewer/recording_device.h"
#include "viewer/window_size_store.h"

namespace fs = std::filesystem;

namespace {

// Two triangles are enough for every step here.
ModeVertex surfaceVertices[4] = {{0, 0, -1}, {0.5f, 0, 0}, {0, 0.5f, 0.5f}, {-0.5f, 0, 0.25f}};
ModeTriangle surfaceTriangles[2] = {{0, 1, 2}, {3, 0, 2}};

class TestViewer : public ViewerApp {
public:
    using ViewerApp::backBufferDesc;
    using ViewerApp::catalog;
    using ViewerApp::clientRect;
    using ViewerApp::configSurface;
    using ViewerApp::createHeight;
    using ViewerApp::createWidth;
    using ViewerApp::device;
    using ViewerApp::deviceStatsText;
    using ViewerApp::DrawOverlayText;
    using ViewerApp::elapsedTime;
    using ViewerApp::font;
    using ViewerApp::frameStatsText;
    using ViewerApp::loading;
    using ViewerApp::rotationX;
    using ViewerApp::rotationY;
    using ViewerApp::showCursorWhenFullscreen;
    using ViewerApp::soundRepeatCountdown;
    using ViewerApp::startFullscreen;
    using ViewerApp::surfaceVertexBuffer;
    using ViewerApp::userInput;
    using ViewerApp::windowed;
    using ViewerApp::windowTitle;
    ~TestViewer() override { device = nullptr; }  // the test owns it
};

class ViewerAppTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        InitCommonControls();
        PublishModeSurface(ModeSurface{surfaceTriangles, surfaceVertices, 2, 4});
    }
    void SetUp() override {
        char pattern[] = "/tmp/vl_viewer_app_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d_, nullptr);
    }
    void TearDown() override {
        app_.reset();
        recorder_.reset();
        if (real_) {
            EXPECT_EQ(real_->Release(), 0u) << "the viewer left device objects behind";
        }
        d3d_->Release();
        fs::remove_all(dir_);
    }
    // A viewer on a windowless REF device of the given size, its device
    // objects created and restored.
    void start(UINT width = reference_scenes::kWidth, UINT height = reference_scenes::kHeight, bool windowed = true) {
        D3DPRESENT_PARAMETERS pp = reference_scenes::windowedParameters(width, height, D3DFMT_D24X8);
        ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_REF, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &real_),
                  D3D_OK);
        recorder_ = std::make_unique<RecordingDevice>(real_);
        app_ = std::make_unique<TestViewer>();
        app_->device = recorder_.get();
        app_->windowed = windowed;
        app_->backBufferDesc.Width = width;
        app_->backBufferDesc.Height = height;
        app_->backBufferDesc.Format = D3DFMT_X8R8G8B8;
        ASSERT_EQ(app_->CreateDeviceObjects(), D3D_OK);
        ASSERT_EQ(app_->RestoreVolatileObjects(), D3D_OK);
    }
    void stop() {
        app_->ReleaseVolatileObjects();
        app_->DestroyDeviceObjects();
    }

    std::string dir_;
    IDirect3D9* d3d_ = nullptr;
    IDirect3DDevice9* real_ = nullptr;
    std::unique_ptr<RecordingDevice> recorder_;
    std::unique_ptr<TestViewer> app_;
};

// What the first frame shows depends on these: the window's title and
// size, a depth buffer for the surface, the loading text, an unturned
// surface.
TEST_F(ViewerAppTest, ConstructorSetsUpTheFirstFrame) {
    TestViewer app;
    EXPECT_STREQ(app.windowTitle, "vibrolane");
    EXPECT_EQ(app.createWidth, 500u);
    EXPECT_EQ(app.createHeight, 375u);
    EXPECT_TRUE(app.catalog.usesDepthBuffer);
    EXPECT_FALSE(app.startFullscreen);
    EXPECT_NE(app.font, nullptr);
    EXPECT_TRUE(app.loading);
    EXPECT_EQ(app.rotationX, 0.0f);
    EXPECT_EQ(app.rotationY, 0.0f);
    // Reading created the key.
    EXPECT_TRUE(fs::exists(dir_ + "/vibrolane/registry.reg"));
}

TEST_F(ViewerAppTest, ConstructorTakesTheStoredSize) {
    WriteStoredWindowSize(800, 50);  // a height no window of ours had
    TestViewer app;
    EXPECT_EQ(app.createWidth, 800u);
    EXPECT_EQ(app.createHeight, 375u);
}

TEST_F(ViewerAppTest, DeviceHooksPairUpThroughResetsAndGiveEverythingBack) {
    start();
    const std::vector<std::string> created = {"GetDeviceCaps", "CreateTexture 256 256 1 0 26 1",
                                              "CreateVertexBuffer 336 0x0 0x52 1", "Lock 0 0 0x0", "Unlock"};
    EXPECT_EQ(std::vector<std::string>(recorder_->calls.begin(), recorder_->calls.begin() + 5), created);
    EXPECT_EQ(recorder_->liveBuffers, 2);  // the surface's and the font's
    EXPECT_TRUE(recorder_->callsStartingWith("CreateOffscreenPlainSurface").empty());

    // Resets: the volatile half goes and comes back, the managed surface stays.
    for (int reset = 0; reset < 3; ++reset) {
        EXPECT_EQ(app_->ReleaseVolatileObjects(), D3D_OK);
        EXPECT_EQ(recorder_->liveBuffers, 1);
        EXPECT_NE(app_->surfaceVertexBuffer, nullptr);
        EXPECT_EQ(app_->RestoreVolatileObjects(), D3D_OK);
        EXPECT_EQ(recorder_->liveBuffers, 2);
    }
    EXPECT_EQ(recorder_->callsStartingWith("CreateVertexBuffer 336").size(), 1u);
    stop();
    EXPECT_EQ(recorder_->liveBuffers, 0);
    EXPECT_EQ(app_->surfaceVertexBuffer, nullptr);
    // TearDown checks that the device has no references left.
}

TEST_F(ViewerAppTest, FullScreenKeepsAConfigurationSurface) {
    start(800, 600, false);
    EXPECT_EQ(recorder_->callsStartingWith("CreateOffscreenPlainSurface"),
              std::vector<std::string>{"CreateOffscreenPlainSurface 640 480 22 0"});
    ASSERT_NE(app_->configSurface, nullptr);

    recorder_->calls.clear();
    EXPECT_TRUE(ViewerApp::ConfigureDevicesCallback(app_->configSurface, app_.get()));
    EXPECT_EQ(recorder_->callsStartingWith("Clear").size(), 1u);
    EXPECT_EQ(recorder_->callsStartingWith("UpdateSurface"),
              std::vector<std::string>{"UpdateSurface 0 0 640 480 -> 80 60"});
    EXPECT_EQ(recorder_->calls.back(), "Present");

    app_->ReleaseVolatileObjects();
    EXPECT_EQ(app_->configSurface, nullptr);
    // A surface that cannot be made fails the hook.
    recorder_->createSurfaceResult = D3DERR_OUTOFVIDEOMEMORY;
    EXPECT_EQ(app_->RestoreVolatileObjects(), D3DERR_OUTOFVIDEOMEMORY);
    app_->ReleaseVolatileObjects();
    app_->DestroyDeviceObjects();
}

TEST_F(ViewerAppTest, FailingCreationIsReturnedAndStillUndone) {
    const struct {
        const char* what;
        HRESULT RecordingDevice::*knob;
    } cases[] = {{"texture", &RecordingDevice::createTextureResult},
                 {"vertex buffer", &RecordingDevice::createVertexBufferResult},
                 {"lock", &RecordingDevice::lockResult}};
    D3DPRESENT_PARAMETERS pp = reference_scenes::windowedParameters(160, 120, D3DFMT_D24X8);
    ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_REF, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &real_), D3D_OK);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingDevice recorder(real_);
        recorder.*c.knob = E_OUTOFMEMORY;
        TestViewer app;
        app.device = &recorder;
        EXPECT_EQ(app.CreateDeviceObjects(), E_OUTOFMEMORY);
        EXPECT_EQ(app.DestroyDeviceObjects(), D3D_OK);
        EXPECT_EQ(recorder.liveBuffers, 0);
    }
}

TEST_F(ViewerAppTest, FrameClearsDrawsTheSurfaceInOneCallThenTheOverlay) {
    start();
    recorder_->calls.clear();
    EXPECT_EQ(app_->RenderScene(), D3D_OK);
    const std::vector<std::string> head = {"Clear 0 3 0x000080ff 1 0", "BeginScene", "SetStreamSource 0 buffer 0 28",
                                           "SetFVF 0x52", "DrawPrimitive 4 0 4"};
    ASSERT_GE(recorder_->calls.size(), head.size());
    EXPECT_EQ(std::vector<std::string>(recorder_->calls.begin(), recorder_->calls.begin() + 5), head);
    EXPECT_EQ(recorder_->calls.back(), "EndScene");
    EXPECT_EQ(recorder_->callsStartingWith("SetFVF 0x144").size(), 7u);  // one DrawString per line

    // A scene that cannot begin draws nothing and is not ended.
    recorder_->calls.clear();
    recorder_->beginSceneResult = D3DERR_INVALIDCALL;
    EXPECT_EQ(app_->RenderScene(), D3D_OK);
    EXPECT_EQ(recorder_->calls, (std::vector<std::string>{"Clear 0 3 0x000080ff 1 0", "BeginScene"}));
    stop();
}

TEST_F(ViewerAppTest, OverlayLinesTheirPlacesAndTheirText) {
    start();
    std::strcpy(app_->deviceStatsText, "REF (sw vp)");
    std::strcpy(app_->frameStatsText, "60.00 fps (500x375)");
    app_->userInput.axisLeftRight = 1.0f;
    app_->backBufferDesc.Height = 375;
    char readout[260];
    FormatAxisText(readout, sizeof readout, app_->userInput);
    const struct {
        float y;
        std::string text;
    } lines[] = {
        {20, "REF (sw vp)"},
        {0, "60.00 fps (500x375)"},
        {355, readout},
        {335, "Use arrow keys or joystick to rotate object"},
        {315, "Hold 'F5' down to play and repeat a sound"},
        {295, "Press 'F3' to configure input"},
        {275, "Press 'F2' to configure display"},
    };
    recorder_->overlayDraws.clear();
    ASSERT_EQ(real_->BeginScene(), D3D_OK);
    app_->DrawOverlayText();
    real_->EndScene();
    ASSERT_EQ(recorder_->overlayDraws.size(), 7u);
    const BitmapFont& font = *app_->font;
    for (size_t i = 0; i < 7; ++i) {
        SCOPED_TRACE(lines[i].text);
        const auto& v = recorder_->overlayDraws[i];
        std::string ink;
        for (char c : lines[i].text)
            if (c != ' ')
                ink += c;
        ASSERT_EQ(v.size(), ink.size() * 6);
        for (size_t q = 0; q < ink.size(); ++q) {
            const RecordingDevice::OverlayVertex& topLeft = v[6 * q + 1];
            EXPECT_EQ(topLeft.u, font.GlyphCoords(ink[q])[0]) << "character " << q;
            EXPECT_EQ(topLeft.v, font.GlyphCoords(ink[q])[1]) << "character " << q;
            EXPECT_FLOAT_EQ(topLeft.y, lines[i].y - 0.5f);
            EXPECT_EQ(topLeft.colour, 0xFFFFFF00u);
        }
        EXPECT_FLOAT_EQ(v[1].x, 2.0f - font.Spacing() - 0.5f);
    }
    stop();
}

TEST_F(ViewerAppTest, AxisReadoutHasTwoDecimalsAndATrailingBlank) {
    const struct {
        float leftRight, upDown;
        const char* text;
    } cases[] = {
        {1.0f, 0.0f, "Left/Right Axis: 1.00 Up/Down Axis: 0.00 "},
        {0.0f, -1.0f, "Left/Right Axis: 0.00 Up/Down Axis: -1.00 "},
        {-0.5f, 0.257f, "Left/Right Axis: -0.50 Up/Down Axis: 0.26 "},
        {0.004f, -0.004f, "Left/Right Axis: 0.00 Up/Down Axis: -0.00 "},
    };
    for (const auto& c : cases) {
        char text[260];
        UserInput input{};
        input.axisLeftRight = c.leftRight;
        input.axisUpDown = c.upDown;
        FormatAxisText(text, sizeof text, input);
        EXPECT_STREQ(text, c.text);
    }
}

TEST_F(ViewerAppTest, UpdateTurnsXFirstThenYAndSetsTheWorldEveryFrame) {
    start();
    recorder_->calls.clear();
    const float halfPi = 1.5707964f;
    app_->elapsedTime = halfPi;
    app_->userInput.axisLeftRight = 1.0f;
    app_->userInput.axisUpDown = 1.0f;
    EXPECT_EQ(app_->UpdateScene(), D3D_OK);
    EXPECT_FLOAT_EQ(app_->rotationX, halfPi);
    EXPECT_FLOAT_EQ(app_->rotationY, halfPi);
    // (0, 1, 0) turned about x by pi/2 is (0, 0, 1); about y after that, (1, 0, 0).
    const D3DMATRIX& world = recorder_->transforms[D3DTS_WORLD];
    EXPECT_NEAR(world._21, 1.0f, 1e-6);
    EXPECT_NEAR(world._22, 0.0f, 1e-6);
    EXPECT_NEAR(world._23, 0.0f, 1e-6);

    // Half input turns at half the rate; nothing wraps the angles.
    app_->userInput.axisLeftRight = -0.5f;
    app_->userInput.axisUpDown = 0.0f;
    app_->elapsedTime = 20.0f;
    app_->UpdateScene();
    EXPECT_FLOAT_EQ(app_->rotationY, halfPi - 10.0f);
    EXPECT_FLOAT_EQ(app_->rotationX, halfPi);
    // Set again although nothing moves.
    app_->userInput.axisLeftRight = 0.0f;
    app_->UpdateScene();
    EXPECT_EQ(recorder_->callsStartingWith("SetTransform 256").size(), 3u);
    stop();
}

TEST_F(ViewerAppTest, HeldSoundControlRepeatsEveryHalfSecondFromEachPlay) {
    start();
    struct Frame {
        float elapsed;
        BOOL held;
        float countdown;  // after the frame; 0.5 means it played
    };
    const Frame frames[] = {
        {0.3f, TRUE, 0.5f},   {0.3f, TRUE, 0.2f},  {0.3f, TRUE, 0.5f},  // plays at once, then at the third frame
        {0.05f, FALSE, 0.0f},                                          // released
        {0.01f, TRUE, 0.5f},                                           // pressed again: plays at once
        {0.7f, TRUE, 0.5f},                                            // the overshoot is dropped
        {0.49f, TRUE, 0.01f},
    };
    for (size_t i = 0; i < sizeof frames / sizeof frames[0]; ++i) {
        SCOPED_TRACE(i);
        app_->elapsedTime = frames[i].elapsed;
        app_->userInput.playSoundDown = frames[i].held;
        app_->UpdateScene();
        EXPECT_NEAR(app_->soundRepeatCountdown, frames[i].countdown, 1e-6);
    }
    stop();
}

TEST_F(ViewerAppTest, InputRequestWaitsForWindowedPresentation) {
    start();
    app_->windowed = false;
    app_->userInput.configureInputRequested = TRUE;
    app_->UpdateScene();
    app_->UpdateScene();
    EXPECT_TRUE(app_->userInput.configureInputRequested);
    app_->windowed = true;
    app_->UpdateScene();
    EXPECT_FALSE(app_->userInput.configureInputRequested);
    stop();
}

TEST_F(ViewerAppTest, MenuCommandsRaiseTheRequests) {
    TestViewer app;
    EXPECT_EQ(app.HandleMessage(nullptr, WM_COMMAND, IDM_CHANGE_DISPLAY, 0), 0);
    EXPECT_TRUE(app.userInput.configureDisplayRequested);
    EXPECT_FALSE(app.userInput.configureInputRequested);
    app.HandleMessage(nullptr, WM_COMMAND, IDM_CONFIGURE_INPUT | (1u << 16), 0);  // from an accelerator
    EXPECT_TRUE(app.userInput.configureInputRequested);
}

TEST_F(ViewerAppTest, StartupEndsLoadingAndShutdownStoresTheSize) {
    TestViewer app;
    EXPECT_EQ(app.SceneStartup(), D3D_OK);
    EXPECT_FALSE(app.loading);
    app.clientRect = {0, 0, 640, 480};
    EXPECT_EQ(app.SceneShutdown(), D3D_OK);
    EXPECT_EQ(app.font, nullptr);
    DWORD width = 500, height = 375;
    ReadStoredWindowSize(&width, &height);
    EXPECT_EQ(width, 640u);
    EXPECT_EQ(height, 480u);
    // A second shut-down (the frame's fatal path) finds nothing to free.
    EXPECT_EQ(app.SceneShutdown(), D3D_OK);
}

}  // namespace
