// HAL's Present: the frame goes from the back buffer's framebuffer into the
// window's own OpenGL surface and is swapped onto the screen, with the
// presentation interval as the driver's swap interval. The read-back into
// the render surface's picture stays for what is not on a screen and for a
// window that has no OpenGL surface.
#include <QRect>
#include <QScreen>
#include <QWindow>
#include <cstdio>

#include "platform/common/render_surface.h"
#include "platform/d3d9/device.h"
#include "platform/d3d9/hal_backend_impl.h"
#include "platform/d3d9/test_hooks.h"

namespace platform::hal {

using d3d9::BufferSetup;

namespace {
// Test hooks (test_hooks.h): never set by the program.
bool presentsByReadBack = false;
bool windowSurfaceFails = false;

// Swaps in a row needed to decide that the driver does not wait.
constexpr int kFastSwapsToDecide = 8;
}  // namespace

HRESULT HalBackend::present(RenderSurface* surface, const BufferSetup& buffers, const QRect& source,
                            const QRect& dest) {
    direct_.lastDirect = false;
    direct_.lastPaced = false;
    HRESULT hr = D3D_OK;
    if (!surface || buffers.width == 0 || buffers.height == 0) {
        hr = D3D_OK;
    } else if (const Route route = presentToWindow(surface, buffers, source, dest); route == Route::Swapped) {
        direct_.lastDirect = true;
        notePacing(surface, buffers.swapInterval);
    } else {
        hr = presentByReadBack(surface, buffers, source, dest, route == Route::StandIn);
        // The window is made once this frame is on screen, so that making
        // it never delays a frame, least of all the first.
        if (route == Route::StandIn && surface->glWindow(windowFormat(buffers)))
            surface->showGlWindow();
    }
    // Once per frame whatever the driver has said since the last one goes to
    // standard error, so that no error stays unseen.
    if (!contextLost() && context_->makeCurrent())
        impl_->sweepErrors();
    return hr;
}

QSurfaceFormat HalBackend::windowFormat(const BufferSetup& buffers) const {
    QSurfaceFormat format = context_->format();
    format.setSwapInterval(buffers.swapInterval);
    return format;
}

HalBackend::Route HalBackend::presentToWindow(RenderSurface* surface, const BufferSetup& buffers, const QRect& source,
                                 const QRect& dest) {
    // A hidden window shows nothing and a lost context has nothing to show;
    // the read-back path says what there is to say about either.
    if (presentsByReadBack || direct_.windowFailed || !surface->isVisible() || contextLost())
        return Route::ReadBack;
    Impl& impl = *impl_;
    if (!impl.width)
        return Route::ReadBack;
    const QSurfaceFormat format = windowFormat(buffers);
    // Until the window system has put the window on screen a swap would go
    // nowhere; the picture beneath stands in for those first frames.
    if (!surface->glWindowShowing(format))
        return Route::StandIn;
    QWindow* window = surface->glWindow(format);
    const QSize client = surface->devicePixelSize();
    const bool resized = client != direct_.windowSize || window != direct_.window;
    direct_.windowSize = client;
    direct_.window = window;
    if (windowSurfaceFails || !context_->makeCurrentOn(window, resized)) {
        direct_.windowFailed = true;
        std::fprintf(stderr,
                     "HAL: the window has no OpenGL surface for the device's context; frames are copied into "
                     "it instead.\n");
        std::fflush(stderr);
        context_->makeCurrent();
        return Route::ReadBack;
    }
    GL& gl = *impl.gl;
    gl.glDisable(GL_SCISSOR_TEST);
    if (impl.samples) {
        gl.glBindFramebuffer(GL_READ_FRAMEBUFFER, impl.frameBuffer);
        gl.glBindFramebuffer(GL_DRAW_FRAMEBUFFER, impl.resolveFrameBuffer);
        gl.glBlitFramebuffer(0, 0, impl.width, impl.height, 0, 0, impl.width, impl.height, GL_COLOR_BUFFER_BIT,
                             GL_NEAREST);
    }
    gl.glBindFramebuffer(GL_READ_FRAMEBUFFER, impl.samples ? impl.resolveFrameBuffer : impl.frameBuffer);
    gl.glBindFramebuffer(GL_DRAW_FRAMEBUFFER, context_->windowFramebuffer());

    const QRect src = source.isEmpty() ? QRect(0, 0, impl.width, impl.height) : source;
    const QRect dst = dest.isEmpty() ? QRect(QPoint(0, 0), client) : dest;
    // Uncovered parts of the window are black, as in the picture path, and
    // the window shows colour only: its alpha is one everywhere. A frame
    // that covers the window needs no clear, which on a software driver
    // costs as much as the copy.
    gl.glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    if (!dst.contains(QRect(QPoint(0, 0), client))) {
        gl.glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        gl.glClear(GL_COLOR_BUFFER_BIT);
    }
    // The back buffer's rows are stored top first, the window's bottom
    // first: the copy turns them over.
    const GLint h = client.height();
    gl.glBlitFramebuffer(src.left(), src.top(), src.left() + src.width(), src.top() + src.height(), dst.left(),
                         h - dst.top(), dst.left() + dst.width(), h - dst.top() - dst.height(), GL_COLOR_BUFFER_BIT,
                         src.size() == dst.size() ? GL_NEAREST : GL_LINEAR);
    if (!impl.opaque && format.alphaBufferSize() > 0) {
        gl.glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_TRUE);
        gl.glClear(GL_COLOR_BUFFER_BIT);
    }
    context_->swapBuffers(window);
    direct_.askedInterval = format.swapInterval();
    direct_.driverInterval = context_->driverSwapInterval();

    gl.glBindFramebuffer(GL_FRAMEBUFFER, impl.frameBuffer);
    gl.glEnable(GL_SCISSOR_TEST);
    impl.forgetGlState();
    return Route::Swapped;
}

void HalBackend::notePacing(RenderSurface* surface, int swapInterval) {
    const auto now = std::chrono::steady_clock::now();
    const auto since = now - direct_.lastSwap;
    direct_.lastSwap = now;
    if (swapInterval == 0 || direct_.driverIgnoresInterval)
        return;
    // A driver that says it took another interval has told us already.
    if (direct_.driverInterval >= 0 && direct_.driverInterval != swapInterval) {
        direct_.driverIgnoresInterval = true;
        return;
    }
    const QScreen* screen = surface->screen();
    const double hz = screen && screen->refreshRate() > 1.0 ? screen->refreshRate() : 60.0;
    const auto halfPeriod = std::chrono::duration<double>(0.5 / hz);
    direct_.fastSwaps = since < halfPeriod ? direct_.fastSwaps + 1 : 0;
    if (direct_.fastSwaps >= kFastSwapsToDecide)
        direct_.driverIgnoresInterval = true;
    direct_.lastPaced = !direct_.driverIgnoresInterval;
}

bool HalBackend::pacedByDriver() const { return direct_.lastPaced; }

}  // namespace platform::hal

namespace platform::d3d9::testing {

void SetHalPresentsByReadBack(bool readBack) { hal::presentsByReadBack = readBack; }

void SetHalWindowSurfaceFails(bool fails) { hal::windowSurfaceFails = fails; }

int HalSwapInterval(IDirect3DDevice9* device) {
    auto* hal = device ? dynamic_cast<hal::HalBackend*>(&static_cast<Device*>(device)->backend()) : nullptr;
    return hal && hal->presentedDirectly() ? hal->askedSwapInterval() : -1;
}

bool HalPresentedDirectly(IDirect3DDevice9* device) {
    auto* hal = device ? dynamic_cast<hal::HalBackend*>(&static_cast<Device*>(device)->backend()) : nullptr;
    return hal && hal->presentedDirectly();
}

}  // namespace platform::d3d9::testing
