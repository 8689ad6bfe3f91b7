// Presenting into a render surface, full-screen presentation with device
// loss on focus changes, adapters as screens and the device cursor.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>
#include <memory>

#include "platform/common/render_surface.h"
#include "tests/platform/d3d9/reference_scenes.h"

using namespace reference_scenes;

namespace {

HWND fakeHandle() { return reinterpret_cast<HWND>(std::uintptr_t(0x5150)); }

class Presentation : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "presentation_test";
        static char* argv[] = {name, nullptr};
        if (!QApplication::instance())
            new QApplication(argc, argv);
    }

    void SetUp() override {
        window_ = std::make_unique<QWidget>();
        surface_ = new platform::RenderSurface(window_.get());
        auto* layout = new QVBoxLayout(window_.get());
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(surface_);
        window_->resize(200, 150);
        window_->show();
        QApplication::processEvents();
        platform::registerRenderSurface(fakeHandle(), surface_);
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d_, nullptr);
    }

    void TearDown() override {
        if (device_) {
            EXPECT_EQ(device_->Release(), 0u);
        }
        if (d3d_)
            d3d_->Release();
        platform::unregisterRenderSurface(fakeHandle());
        window_.reset();
    }

    D3DPRESENT_PARAMETERS params(bool windowed) {
        D3DPRESENT_PARAMETERS p{};
        D3DDISPLAYMODE desktop{};
        d3d_->GetAdapterDisplayMode(0, &desktop);
        p.BackBufferWidth = windowed ? 0 : 640;
        p.BackBufferHeight = windowed ? 0 : 480;
        p.BackBufferFormat = windowed ? D3DFMT_UNKNOWN : D3DFMT_X8R8G8B8;
        p.BackBufferCount = 1;
        p.SwapEffect = D3DSWAPEFFECT_DISCARD;
        p.hDeviceWindow = fakeHandle();
        p.Windowed = windowed;
        p.EnableAutoDepthStencil = TRUE;
        p.AutoDepthStencilFormat = D3DFMT_D16;
        p.FullScreen_RefreshRateInHz = windowed ? 0 : desktop.RefreshRate;
        p.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
        return p;
    }

    void focus(QEvent::Type type) {
        QEvent event(type);
        QApplication::sendEvent(window_.get(), &event);
    }

    std::unique_ptr<QWidget> window_;
    platform::RenderSurface* surface_ = nullptr;
    IDirect3D9* d3d_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;
};

TEST_F(Presentation, AdaptersAreTheScreens) {
    const auto screens = QGuiApplication::screens();
    ASSERT_EQ(d3d_->GetAdapterCount(), UINT(screens.size()));
    D3DDISPLAYMODE desktop{};
    ASSERT_EQ(d3d_->GetAdapterDisplayMode(0, &desktop), D3D_OK);
    const QSize size = screens[0]->geometry().size() * screens[0]->devicePixelRatio();
    EXPECT_EQ(desktop.Width, UINT(size.width()));
    EXPECT_EQ(desktop.Height, UINT(size.height()));
}

TEST_F(Presentation, WindowedPresentShowsTheBackBufferInTheSurface) {
    D3DPRESENT_PARAMETERS p = params(true);
    ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_REF, fakeHandle(), D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &device_),
              D3D_OK);
    // A zero size takes the client area, an unknown format the desktop's.
    EXPECT_EQ(p.BackBufferWidth, UINT(surface_->width()));
    EXPECT_EQ(p.BackBufferHeight, UINT(surface_->height()));
    EXPECT_EQ(p.BackBufferFormat, D3DFMT_X8R8G8B8);
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0x00336699, 1.0f, 0), D3D_OK);
    const D3DRECT corner = {0, 0, 5, 5};
    device_->Clear(1, &corner, D3DCLEAR_TARGET, 0x00FF0000, 1.0f, 0);
    ASSERT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    const QImage& shown = surface_->presentedImage();
    ASSERT_EQ(shown.width(), int(p.BackBufferWidth));
    EXPECT_EQ(shown.pixel(10, 10) & 0xFFFFFF, 0x336699u);
    EXPECT_EQ(shown.pixel(4, 4) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(shown.pixel(5, 5) & 0xFFFFFF, 0x336699u);
    // Losing the focus does not lose a windowed device.
    focus(QEvent::WindowDeactivate);
    EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3D_OK);
}

TEST_F(Presentation, FullScreenLosesTheDeviceWithTheFocus) {
    D3DPRESENT_PARAMETERS p = params(false);
    ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_REF, fakeHandle(), D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device_),
              D3D_OK);
    QApplication::processEvents();
    EXPECT_TRUE(window_->isFullScreen());
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0x0000FF00, 1.0f, 0);
    ASSERT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    // The 640 x 480 back buffer is what was handed over; the surface scales it.
    EXPECT_EQ(surface_->presentedImage().size(), QSize(640, 480));

    focus(QEvent::WindowDeactivate);
    EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICELOST);
    D3DPRESENT_PARAMETERS again = params(false);
    EXPECT_EQ(device_->Reset(&again), D3DERR_DEVICELOST);

    focus(QEvent::WindowActivate);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);

    IDirect3DSurface9* config = nullptr;
    ASSERT_EQ(device_->CreateOffscreenPlainSurface(640, 480, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &config, nullptr),
              D3D_OK);
    EXPECT_EQ(device_->Reset(&again), D3DERR_INVALIDCALL);
    config->Release();
    ASSERT_EQ(device_->Reset(&again), D3D_OK);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3D_OK);
    EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);

    // Back to a window: the window is no longer full screen.
    D3DPRESENT_PARAMETERS windowed = params(true);
    ASSERT_EQ(device_->Reset(&windowed), D3D_OK);
    QApplication::processEvents();
    EXPECT_FALSE(window_->isFullScreen());
}

TEST_F(Presentation, FullScreenNeedsAListedMode) {
    D3DPRESENT_PARAMETERS p = params(false);
    p.BackBufferWidth = 641;
    EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_REF, fakeHandle(), D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device_),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device_, nullptr);
}

TEST_F(Presentation, DeviceCursorBecomesTheSurfaceCursor) {
    D3DPRESENT_PARAMETERS p = params(true);
    ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_REF, fakeHandle(), D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &device_),
              D3D_OK);
    IDirect3DSurface9* bitmap = nullptr;
    ASSERT_EQ(device_->CreateOffscreenPlainSurface(32, 32, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH, &bitmap, nullptr), D3D_OK);
    D3DLOCKED_RECT locked;
    ASSERT_EQ(bitmap->LockRect(&locked, nullptr, 0), D3D_OK);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            reinterpret_cast<DWORD*>(static_cast<BYTE*>(locked.pBits) + y * locked.Pitch)[x] =
                x < 16 ? 0xFFFFFFFF : 0;
    bitmap->UnlockRect();
    EXPECT_EQ(device_->SetCursorProperties(40, 3, bitmap), D3DERR_INVALIDCALL) << "hot spot outside";
    ASSERT_EQ(device_->SetCursorProperties(3, 4, bitmap), D3D_OK);
    bitmap->Release();
    EXPECT_EQ(device_->ShowCursor(TRUE), FALSE);
    EXPECT_EQ(surface_->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(surface_->cursor().hotSpot(), QPoint(3, 4));
    device_->SetCursorPosition(10, 10, 0);
    EXPECT_EQ(device_->ShowCursor(FALSE), TRUE);
    EXPECT_NE(surface_->cursor().shape(), Qt::BitmapCursor);
}

}  // namespace
