// HAL presenting straight to the window's OpenGL surface: what the screen
// shows agrees with REF in a window, after a resize and through full screen
// and back; the presentation interval becomes the driver's swap interval;
// and a window without an OpenGL surface still shows every frame.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <string>

#include "platform/common/render_surface.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/test_hooks.h"
#include "tests/platform/d3d9/reference_scenes.h"

namespace {

using namespace reference_scenes;
namespace hooks = platform::d3d9::testing;

Image toImage(const QImage& shown) {
    const QImage rgb = shown.convertToFormat(QImage::Format_RGB32);
    Image image{UINT(rgb.width()), UINT(rgb.height()), {}};
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(rgb.constScanLine(y));
        image.pixels.insert(image.pixels.end(), row, row + rgb.width());
    }
    return image;
}

class HalPresent : public ::testing::Test {
protected:
    void SetUp() override {
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d_, nullptr);
        if (FAILED(d3d_->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, TRUE)))
            GTEST_SKIP() << "no OpenGL 3.3 here";
        surface_.resize(int(kWidth), int(kHeight));
        surface_.show();
        platform::registerRenderSurface(window(), &surface_);
        settle();
    }
    void TearDown() override {
        hooks::SetHalWindowSurfaceFails(false);
        if (device_) {
            EXPECT_EQ(device_->Release(), 0u);
        }
        platform::unregisterRenderSurface(window());
        if (d3d_) {
            EXPECT_EQ(d3d_->Release(), 0u);
        }
    }
    HWND window() { return reinterpret_cast<HWND>(&surface_); }
    static void settle() {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 100)
            QApplication::processEvents();
    }
    D3DPRESENT_PARAMETERS params(UINT interval, bool windowed = true) {
        D3DPRESENT_PARAMETERS pp{};
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;  // windowed, zero size: the client area
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.hDeviceWindow = window();
        pp.Windowed = windowed ? TRUE : FALSE;
        pp.EnableAutoDepthStencil = TRUE;
        pp.AutoDepthStencilFormat = D3DFMT_D24X8;
        pp.PresentationInterval = interval;
        if (!windowed) {
            D3DDISPLAYMODE desktop{};
            d3d_->GetAdapterDisplayMode(0, &desktop);
            pp.BackBufferWidth = desktop.Width;
            pp.BackBufferHeight = desktop.Height;
        }
        return pp;
    }
    void create(UINT interval) {
        D3DPRESENT_PARAMETERS pp = params(interval);
        ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, window(), D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device_),
                  D3D_OK);
    }
    // Presents `scene` until a frame has gone straight to the screen (the
    // window system maps the new OpenGL window in its own time), or for a
    // few seconds when it never does.
    bool presentDirectly(Scene scene) {
        QElapsedTimer t;
        t.start();
        do {
            EXPECT_EQ(renderScene(device_, scene), D3D_OK);
            EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
            QApplication::processEvents();
        } while (!hooks::HalPresentedDirectly(device_) && t.elapsed() < 5000);
        return hooks::HalPresentedDirectly(device_);
    }
    Image ref(Scene scene, UINT width, UINT height) {
        D3DPRESENT_PARAMETERS pp = windowedParameters(width, height, D3DFMT_D24X8);
        IDirect3DDevice9* device = nullptr;
        Image image;
        EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_REF, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device),
                  D3D_OK);
        if (!device)
            return image;
        EXPECT_EQ(renderScene(device, scene), D3D_OK);
        EXPECT_EQ(readBackBuffer(device, &image), D3D_OK);
        EXPECT_EQ(device->Release(), 0u);
        return image;
    }
    // The screen against REF drawing the same scene at the client's size.
    void expectScreenShowsRef(Scene scene, const char* when) {
        SCOPED_TRACE(when);
        ASSERT_TRUE(presentDirectly(scene));
        // The window system may still be fitting the window to its new
        // size: one more frame once it has, read once the swap reached it.
        settle();
        ASSERT_TRUE(presentDirectly(scene));
        settle();
        const Image shown = toImage(surface_.grabShown());
        const QSize client = surface_.devicePixelSize();
        ASSERT_EQ(shown.width, UINT(client.width()));
        ASSERT_EQ(shown.height, UINT(client.height()));
        EXPECT_GE(agreement(shown, ref(scene, shown.width, shown.height), kHalTolerance), kHalAgreement);
    }

    IDirect3D9* d3d_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;
    platform::RenderSurface surface_;
};

TEST_F(HalPresent, TheScreenShowsWhatRefDrawsThroughAResizeAndFullScreen) {
    create(D3DPRESENT_INTERVAL_IMMEDIATE);
    expectScreenShowsRef(Scene::Overlay, "windowed");

    surface_.resize(int(kWidth) * 3 / 2, int(kHeight) * 3 / 2);
    settle();
    D3DPRESENT_PARAMETERS pp = params(D3DPRESENT_INTERVAL_IMMEDIATE);
    ASSERT_EQ(device_->Reset(&pp), D3D_OK);
    expectScreenShowsRef(Scene::LitMesh, "resized");

    // Alt+Enter: full screen at the desktop's mode, then back to the window.
    pp = params(D3DPRESENT_INTERVAL_DEFAULT, false);
    ASSERT_EQ(device_->Reset(&pp), D3D_OK);
    const QSize screen = surface_.screen()->geometry().size() * surface_.devicePixelRatioF();
    for (int i = 0; i < 30 && surface_.devicePixelSize() != screen; ++i)
        settle();
    expectScreenShowsRef(Scene::DepthCulling, "full screen");

    pp = params(D3DPRESENT_INTERVAL_IMMEDIATE);
    ASSERT_EQ(device_->Reset(&pp), D3D_OK);
    settle();
    expectScreenShowsRef(Scene::LitQuad, "windowed again");
}

TEST_F(HalPresent, ThePresentationIntervalIsTheDriversSwapInterval) {
    const struct {
        UINT interval;
        int swapInterval;
    } cases[] = {
        {D3DPRESENT_INTERVAL_IMMEDIATE, 0},
        {D3DPRESENT_INTERVAL_ONE, 1},
        {D3DPRESENT_INTERVAL_DEFAULT, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.interval);
        create(c.interval);
        ASSERT_TRUE(presentDirectly(Scene::LitQuad));
        EXPECT_EQ(hooks::HalSwapInterval(device_), c.swapInterval);
        // A Reset to another interval asks the driver anew.
        D3DPRESENT_PARAMETERS pp = params(c.interval == D3DPRESENT_INTERVAL_IMMEDIATE ? D3DPRESENT_INTERVAL_ONE
                                                                                      : D3DPRESENT_INTERVAL_IMMEDIATE);
        ASSERT_EQ(device_->Reset(&pp), D3D_OK);
        ASSERT_TRUE(presentDirectly(Scene::LitQuad));
        EXPECT_EQ(hooks::HalSwapInterval(device_), 1 - c.swapInterval);
        EXPECT_EQ(device_->Release(), 0u);
        device_ = nullptr;
    }
}

TEST_F(HalPresent, AWindowWithoutAnOpenGlSurfaceIsSaidOnceAndStillShowsEveryFrame) {
    hooks::SetHalWindowSurfaceFails(true);
    create(D3DPRESENT_INTERVAL_IMMEDIATE);
    ::testing::internal::CaptureStderr();
    for (Scene scene : {Scene::Overlay, Scene::LitMesh, Scene::Overlay, Scene::LitMesh}) {
        ASSERT_EQ(renderScene(device_, scene), D3D_OK);
        ASSERT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
        EXPECT_FALSE(hooks::HalPresentedDirectly(device_));
        settle();
    }
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.find("no OpenGL surface"), said.rfind("no OpenGL surface")) << said;
    EXPECT_NE(said.find("no OpenGL surface"), std::string::npos) << said;
    // The last frame is in the picture and on the screen.
    EXPECT_GE(agreement(toImage(surface_.presentedImage()), ref(Scene::LitMesh, kWidth, kHeight), kHalTolerance),
              kHalAgreement);
    EXPECT_GE(agreement(toImage(surface_.grabShown()), ref(Scene::LitMesh, kWidth, kHeight), kHalTolerance),
              kHalAgreement);
}

}  // namespace
