// The viewer's frame drawn through its own hooks on HAL (OpenGL) and on REF
// must agree as the layer's own scenes do. Needs an X display with GLX.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>

#include "platform/win32/commctrl.h"
#include "mode/mode_surface.h"
#include "tests/platform/d3d9/reference_scenes.h"
#include "viewer/viewer_app.h"

namespace fs = std::filesystem;
using reference_scenes::Image;

namespace {

class FrameViewer : public ViewerApp {
public:
    // Draws one frame turned by (rx, ry) on a windowless device of `type`.
    HRESULT Draw(IDirect3D9* d3d, D3DDEVTYPE type, float rx, float ry, Image* image) {
        D3DPRESENT_PARAMETERS pp = reference_scenes::windowedParameters(500, 375, D3DFMT_D24X8);
        HRESULT hr = d3d->CreateDevice(0, type, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device);
        if (FAILED(hr))
            return hr;
        backBufferDesc.Width = 500;
        backBufferDesc.Height = 375;
        backBufferDesc.Format = D3DFMT_X8R8G8B8;
        std::strcpy(deviceStatsText, type == D3DDEVTYPE_HAL ? "HAL (hw vp)" : "REF (hw vp)");
        hr = CreateDeviceObjects();
        if (SUCCEEDED(hr))
            hr = RestoreVolatileObjects();
        if (SUCCEEDED(hr)) {
            rotationX = rx;
            rotationY = ry;
            UpdateScene();
            RenderScene();
            hr = reference_scenes::readBackBuffer(device, image);
        }
        ReleaseVolatileObjects();
        DestroyDeviceObjects();
        EXPECT_EQ(device->Release(), 0u);
        device = nullptr;
        return hr;
    }
};

class HalAgreement : public ::testing::Test {
protected:
    void SetUp() override {
        if (!getenv("DISPLAY") || !*getenv("DISPLAY"))
            GTEST_SKIP() << "no X display";
        char pattern[] = "/tmp/vl_viewer_hal_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
        InitCommonControls();
        if (PublishedModeSurface().triangleCount == 0)
            PublishModeSurface(ModeComputation());
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d_, nullptr);
        if (FAILED(d3d_->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, TRUE)))
            GTEST_SKIP() << "no OpenGL 3.3 here";
    }
    void TearDown() override {
        if (d3d_)
            d3d_->Release();
        if (!dir_.empty())
            fs::remove_all(dir_);
    }
    std::string dir_;
    IDirect3D9* d3d_ = nullptr;
};

TEST_F(HalAgreement, FrontAndBehindAgreeWithRef) {
    const struct {
        const char* what;
        float rx, ry;
    } views[] = {{"front", 0, 0}, {"behind", 0, 3.14159265f}, {"tilted", 0.7f, -0.4f}};
    for (const auto& v : views) {
        SCOPED_TRACE(v.what);
        Image ref, hal;
        {
            FrameViewer app;
            ASSERT_EQ(app.Draw(d3d_, D3DDEVTYPE_REF, v.rx, v.ry, &ref), D3D_OK);
        }
        {
            FrameViewer app;
            ASSERT_EQ(app.Draw(d3d_, D3DDEVTYPE_HAL, v.rx, v.ry, &hal), D3D_OK);
        }
        ASSERT_EQ(hal.width, 500u);
        EXPECT_GE(reference_scenes::agreement(hal, ref, reference_scenes::kHalTolerance), reference_scenes::kHalAgreement);
        // Agreement alone would also hold for two empty pictures.
        EXPECT_NE(hal.at(250, 187) & 0xFFFFFF, 0x0080FFu);
        EXPECT_EQ(hal.at(499, 0) & 0xFFFFFF, 0x0080FFu);
    }
}

}  // namespace
