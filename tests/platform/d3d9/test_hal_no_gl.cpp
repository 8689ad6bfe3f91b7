// Where no OpenGL 3.3 context can be had (no application object yet, or a
// platform plugin without OpenGL), HAL is simply not offered: every question
// about it fails cleanly and REF still works. Qt's "offscreen" platform has
// no OpenGL unless it can reach an X display, so the test hides the display.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <cstdlib>
#include <memory>

#include "platform/d3d9/backend.h"
#include "platform/d3d9/d3d9.h"

namespace {

using platform::d3d9::createHalBackend;
using platform::d3d9::halCapabilities;

// Declared first: gtest runs a file's tests in order, and this one needs the
// process without an application object.
TEST(HalWithoutOpenGl, NoApplicationObjectMeansNoHalButNoCrash) {
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    EXPECT_FALSE(halCapabilities().available);
    EXPECT_TRUE(halCapabilities().renderer.empty());
    EXPECT_EQ(createHalBackend(), nullptr);
}

TEST(HalWithoutOpenGl, OffscreenPlatformFailsEveryHalQueryWithNotAvailable) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    int argc = 1;
    char name[] = "test_hal_no_gl";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    ASSERT_EQ(QGuiApplication::platformName(), "offscreen");

    EXPECT_FALSE(halCapabilities().available);
    EXPECT_EQ(createHalBackend(), nullptr);

    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, TRUE), D3DERR_NOTAVAILABLE);
    D3DCAPS9 caps{};
    EXPECT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), D3DERR_NOTAVAILABLE);

    D3DPRESENT_PARAMETERS pp{};
    pp.BackBufferWidth = 64;
    pp.BackBufferHeight = 48;
    pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.Windowed = TRUE;
    pp.EnableAutoDepthStencil = TRUE;
    pp.AutoDepthStencilFormat = D3DFMT_D24X8;
    IDirect3DDevice9* device = nullptr;
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device),
              D3DERR_NOTAVAILABLE);

    EXPECT_EQ(device, nullptr);

    // REF does not need OpenGL.
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_REF, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &device),
              D3D_OK);
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0), D3D_OK);
    EXPECT_EQ(device->Release(), 0u);
    EXPECT_EQ(d3d->Release(), 0u);
}

}  // namespace
