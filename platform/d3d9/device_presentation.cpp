// The device's presentation: applying presentation parameters, full
// screen and its loss, reset, Present and the device cursor.
#include <QCursor>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <cstring>
#include <thread>

#include "platform/common/render_surface.h"
#include "platform/d3d9/device.h"

namespace platform::d3d9 {

namespace {

// The back buffer and its depth buffer as the presentation parameters ask.
BufferSetup buffersFor(const D3DPRESENT_PARAMETERS& p) {
    BufferSetup setup;
    setup.width = p.BackBufferWidth;
    setup.height = p.BackBufferHeight;
    setup.colorFormat = p.BackBufferFormat;
    setup.depthFormat = p.EnableAutoDepthStencil ? p.AutoDepthStencilFormat : D3DFMT_UNKNOWN;
    setup.multiSampleType = p.MultiSampleType;
    setup.multiSampleQuality = p.MultiSampleQuality;
    setup.swapInterval = p.PresentationInterval == D3DPRESENT_INTERVAL_IMMEDIATE ? 0 : 1;
    return setup;
}

}  // namespace

// ---------------------------------------------------------------- presentation

RenderSurface* Device::targetSurface(HWND override) const {
    HWND window = override ? override : (params_.hDeviceWindow ? params_.hDeviceWindow : focusWindow_);
    return window ? renderSurfaceFor(window) : nullptr;
}

HRESULT Device::applyPresentation(D3DPRESENT_PARAMETERS* params) {
    if (!params)
        return D3DERR_INVALIDCALL;
    D3DPRESENT_PARAMETERS p = *params;
    const Adapter* adapter = d3d_->adapter(adapter_);
    if (p.BackBufferCount == 0)
        p.BackBufferCount = 1;
    if (p.BackBufferCount > 3 || p.SwapEffect < D3DSWAPEFFECT_DISCARD || p.SwapEffect > D3DSWAPEFFECT_COPY)
        return D3DERR_INVALIDCALL;
    const UINT interval = p.PresentationInterval;
    if (interval != D3DPRESENT_INTERVAL_DEFAULT && interval != D3DPRESENT_INTERVAL_ONE &&
        interval != D3DPRESENT_INTERVAL_IMMEDIATE)
        return D3DERR_INVALIDCALL;
    if (p.Windowed) {
        if (p.FullScreen_RefreshRateInHz != 0)
            return D3DERR_INVALIDCALL;
        if (p.BackBufferFormat == D3DFMT_UNKNOWN)
            p.BackBufferFormat = adapter->desktop.Format;
        if (p.BackBufferWidth == 0 || p.BackBufferHeight == 0) {
            // Like the platform, a zero size means "the client area".
            const RenderSurface* surface =
                renderSurfaceFor(p.hDeviceWindow ? p.hDeviceWindow : focusWindow_ ? focusWindow_ : HWND{});
            if (!surface)
                return D3DERR_INVALIDCALL;
            if (p.BackBufferWidth == 0)
                p.BackBufferWidth = UINT(std::max(1, surface->devicePixelSize().width()));
            if (p.BackBufferHeight == 0)
                p.BackBufferHeight = UINT(std::max(1, surface->devicePixelSize().height()));
        }
    } else {
        const bool listed = std::any_of(adapter->modes.begin(), adapter->modes.end(), [&](const D3DDISPLAYMODE& m) {
            return m.Width == p.BackBufferWidth && m.Height == p.BackBufferHeight &&
                   (p.FullScreen_RefreshRateInHz == 0 || p.FullScreen_RefreshRateInHz == m.RefreshRate);
        });
        if (!listed)
            return D3DERR_INVALIDCALL;
    }
    if (p.BackBufferFormat != D3DFMT_A8R8G8B8 && p.BackBufferFormat != D3DFMT_X8R8G8B8)
        return D3DERR_INVALIDCALL;
    if (p.BackBufferWidth > kMaxBackBufferSide || p.BackBufferHeight > kMaxBackBufferSide)
        return D3DERR_INVALIDCALL;
    if (p.EnableAutoDepthStencil && !d3d_->depthFormatSupported(type_, p.AutoDepthStencilFormat))
        return D3DERR_INVALIDCALL;
    if (p.MultiSampleType != D3DMULTISAMPLE_NONE) {
        DWORD levels = 0;
        if (p.SwapEffect != D3DSWAPEFFECT_DISCARD ||
            FAILED(d3d_->CheckDeviceMultiSampleType(adapter_, type_, p.BackBufferFormat, p.Windowed,
                                                    p.MultiSampleType, &levels)) ||
            p.MultiSampleQuality >= levels)
            return D3DERR_INVALIDCALL;
    } else if (p.MultiSampleQuality != 0) {
        return D3DERR_INVALIDCALL;
    }

    const BufferSetup setup = buffersFor(p);
    if (!backBuffer_)
        backBuffer_ = new Surface(this, Surface::Kind::BackBuffer, p.BackBufferWidth, p.BackBufferHeight,
                                  p.BackBufferFormat, D3DPOOL_DEFAULT);
    const HRESULT hr = backend_->resize(setup);
    if (FAILED(hr))
        return hr;
    backBuffer_->setBackBufferDesc(p.BackBufferWidth, p.BackBufferHeight, p.BackBufferFormat, p.MultiSampleType,
                                   p.MultiSampleQuality);
    params_ = p;
    *params = p;
    if (p.Windowed)
        leaveFullscreen();
    else
        enterFullscreen();
    return D3D_OK;
}

void Device::enterFullscreen() {
    RenderSurface* surface = targetSurface(nullptr);
    lost_ = false;
    focused_ = true;
    if (!surface)
        return;  // nothing to cover: render offscreen as if full screen
    QWidget* window = surface->window();
    if (fullscreenWindow_ != window) {
        leaveFullscreen();
        fullscreenWindow_ = window;
        watcher_ = std::make_unique<LossWatcher>(this);
        window->installEventFilter(watcher_.get());
    }
    const Adapter* adapter = d3d_->adapter(adapter_);
    if (QWindow* handle = window->windowHandle()) {
        const auto screens = QGuiApplication::screens();
        if (adapter_ < UINT(screens.size()))
            handle->setScreen(screens[int(adapter_)]);
    }
    window->setGeometry(adapter->geometry);
    window->showFullScreen();
}

void Device::leaveFullscreen() {
    if (!fullscreenWindow_) {
        watcher_.reset();
        return;
    }
    fullscreenWindow_->removeEventFilter(watcher_.get());
    fullscreenWindow_->showNormal();
    fullscreenWindow_ = nullptr;
    watcher_.reset();
}

void Device::focusLost() {
    if (params_.Windowed)
        return;
    lost_ = true;
    focused_ = false;
}

void Device::focusRegained() { focused_ = true; }

HRESULT Device::TestCooperativeLevel() {
    if (!lost_ && backend_->contextLost()) {
        lost_ = true;
        return D3DERR_DEVICELOST;
    }
    if (!lost_)
        return D3D_OK;
    return focused_ ? D3DERR_DEVICENOTRESET : D3DERR_DEVICELOST;
}

HRESULT Device::Reset(D3DPRESENT_PARAMETERS* params) {
    if (!params)
        return D3DERR_INVALIDCALL;
    if (lost_ && !focused_)
        return D3DERR_DEVICELOST;
    // Everything the reset throws away must be gone already.
    if (liveDefaultPool_ > 0 || liveStateBlocks_ > 0 || backBufferHeld_ || recording_)
        return D3DERR_INVALIDCALL;
    inScene_ = false;
    if (backend_->contextLost()) {
        const HRESULT restored = backend_->restoreContext();
        if (FAILED(restored)) {
            lost_ = true;
            return restored;
        }
    }
    const HRESULT hr = outOfMemoryGuard([&] { return applyPresentation(params); });
    if (FAILED(hr)) {
        lost_ = true;  // unusable until a reset succeeds
        return hr;
    }
    resetState();
    lost_ = false;
    applyCursor();
    return D3D_OK;
}

HRESULT Device::Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride, const RGNDATA*) {
    if (!lost_ && backend_->contextLost())
        lost_ = true;  // a GPU reset: TestCooperativeLevel will ask for a reset
    if (lost_)
        return D3DERR_DEVICELOST;
    if (inScene_)
        return D3DERR_INVALIDCALL;
    RenderSurface* surface = targetSurface(destWindowOverride);
    if (!surface)
        return D3D_OK;
    auto toQRect = [](const RECT* r) {
        return r ? QRect(QPoint(r->left, r->top), QPoint(r->right - 1, r->bottom - 1)) : QRect();
    };
    const BufferSetup setup = buffersFor(params_);
    const HRESULT hr =
        outOfMemoryGuard([&] { return backend_->present(surface, setup, toQRect(sourceRect), toQRect(destRect)); });
    if (FAILED(hr))
        return hr;

    // Where the driver did not wait for the vertical blank, waiting becomes
    // pacing to the screen's rate.
    if (params_.PresentationInterval != D3DPRESENT_INTERVAL_IMMEDIATE && surface->isVisible() &&
        !backend_->pacedByDriver()) {
        const D3DDISPLAYMODE& mode = d3d_->adapter(adapter_)->desktop;
        const auto period = std::chrono::microseconds(1000000 / std::max<UINT>(mode.RefreshRate, 1));
        const auto now = std::chrono::steady_clock::now();
        const auto due = lastPresent_ + period;
        if (due > now) {
            std::this_thread::sleep_until(due);
            lastPresent_ = due;
        } else {
            lastPresent_ = now;
        }
    }
    return D3D_OK;
}

HRESULT Device::GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE, IDirect3DSurface9** surface) {
    if (!surface)
        return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (swapChain != 0 || index >= params_.BackBufferCount || !backBuffer_)
        return D3DERR_INVALIDCALL;
    // Every back buffer of the chain is the one we draw into; nothing can
    // tell them apart without a flip.
    backBuffer_->AddRef();
    *surface = backBuffer_;
    return D3D_OK;
}

HRESULT Device::GetDirect3D(IDirect3D9** d3d) {
    if (!d3d)
        return D3DERR_INVALIDCALL;
    d3d_->AddRef();
    *d3d = d3d_;
    return D3D_OK;
}

HRESULT Device::GetDeviceCaps(D3DCAPS9* caps) {
    if (!caps)
        return D3DERR_INVALIDCALL;
    d3d_->fillCaps(adapter_, type_, caps);
    return D3D_OK;
}

HRESULT Device::GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) {
    if (!mode || swapChain != 0)
        return D3DERR_INVALIDCALL;
    const Adapter* adapter = d3d_->adapter(adapter_);
    if (params_.Windowed) {
        *mode = adapter->desktop;
    } else {
        *mode = {params_.BackBufferWidth, params_.BackBufferHeight,
                 params_.FullScreen_RefreshRateInHz ? params_.FullScreen_RefreshRateInHz : adapter->desktop.RefreshRate,
                 D3DFMT_X8R8G8B8};
    }
    return D3D_OK;
}

// ---------------------------------------------------------------- cursor

HRESULT Device::SetCursorProperties(UINT hotX, UINT hotY, IDirect3DSurface9* bitmap) {
    auto* surface = dynamic_cast<Surface*>(bitmap);
    if (!surface || surface->device() != this)
        return D3DERR_INVALIDCALL;
    PixelStore* store = surface->store();
    if (!store || store->format != D3DFMT_A8R8G8B8 || hotX >= store->width || hotY >= store->height)
        return D3DERR_INVALIDCALL;
    QImage image(int(store->width), int(store->height), QImage::Format_ARGB32);
    for (UINT y = 0; y < store->height; ++y)
        std::memcpy(image.scanLine(int(y)), store->bytes.data() + size_t(y) * store->pitch, store->width * 4);
    cursorImage_ = image;
    cursorHotSpot_ = QPoint(int(hotX), int(hotY));
    applyCursor();
    return D3D_OK;
}

void Device::SetCursorPosition(int, int, DWORD) {
    // The window system moves the pointer itself; the device cursor follows
    // it as the widget's cursor, so there is nothing to move by hand.
}

BOOL Device::ShowCursor(BOOL show) {
    const BOOL previous = cursorShown_ ? TRUE : FALSE;
    cursorShown_ = show != FALSE;
    applyCursor();
    return previous;
}

void Device::applyCursor() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    RenderSurface* surface = targetSurface(nullptr);
    if (cursorWidget_ && cursorWidget_ != surface)
        cursorWidget_->unsetCursor();
    cursorWidget_ = surface;
    if (!surface)
        return;
    if (cursorShown_ && !cursorImage_.isNull())
        surface->setCursor(QCursor(QPixmap::fromImage(cursorImage_), cursorHotSpot_.x(), cursorHotSpot_.y()));
    else
        surface->unsetCursor();
}

}  // namespace platform::d3d9
