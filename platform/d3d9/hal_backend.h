// HAL: the backend that draws with OpenGL 3.3 core. It renders into its own
// framebuffer objects on an offscreen surface, so it needs no window. A
// frame reaches a window that is on screen by a copy into the window's own
// OpenGL surface and a buffer swap, without leaving the GPU; where no such
// surface can be had it is read back and handed to the render surface, like
// REF's. Vertex buffers and textures live in GL memory and are refreshed
// only when the device reports a new version of them.
#pragma once

#include <chrono>
#include <memory>
#include <QSize>
#include <QSurfaceFormat>
#include <unordered_map>

#include "platform/d3d9/backend.h"
#include "platform/d3d9/hal_context.h"

class QWindow;

namespace platform::hal {

class HalBackend : public d3d9::Backend {
public:
    // Null when no OpenGL 3.3 core context can be made here.
    static std::unique_ptr<HalBackend> create();
    ~HalBackend() override;

    std::string description() const override;
    HRESULT resize(const d3d9::BufferSetup& setup) override;
    HRESULT clear(DWORD flags, const D3DRECT* rects, UINT rectCount, D3DCOLOR color, float z, DWORD stencil) override;
    HRESULT drawTriangles(const d3d9::FixedFunctionState& state, const d3d9::TriangleList& list) override;
    HRESULT readBackBuffer(DWORD* pixels, UINT pitch) override;
    HRESULT writeBackBuffer(const RECT& rect, const DWORD* pixels, UINT pitch) override;
    HRESULT present(RenderSurface* surface, const d3d9::BufferSetup& buffers, const QRect& source,
                    const QRect& dest) override;
    bool pacedByDriver() const override;
    void forget(std::uint64_t id) override;
    bool contextLost() const override;
    HRESULT restoreContext() override;

    // Throws the context away as a GPU reset would (a test fault).
    void loseContext();

    // Samples per pixel of the current back buffer (0 when not multisampled).
    int samples() const;
    // Programs built so far; one per pipeline shape that was drawn.
    std::size_t programCount() const;
    // Whether the last frame went straight to the window's OpenGL surface.
    bool presentedDirectly() const { return direct_.lastDirect; }
    // The swap interval the window's surface asked of the driver for the
    // last such frame.
    int askedSwapInterval() const { return direct_.askedInterval; }

    // How a frame reached the window: swapped onto its OpenGL window, read
    // back as a stand-in while that window is not yet on screen, or read
    // back because it cannot have one.
    enum class Route { Swapped, StandIn, ReadBack };

private:
    HalBackend() = default;
    bool makeContext();
    Route presentToWindow(RenderSurface* surface, const d3d9::BufferSetup& buffers, const QRect& source,
                         const QRect& dest);
    void notePacing(RenderSurface* surface, int swapInterval);
    // The context's format with the frame's swap interval: what the
    // window's surface is made with.
    QSurfaceFormat windowFormat(const d3d9::BufferSetup& buffers) const;
    struct Impl;
    std::unique_ptr<HalContext> context_;
    std::unique_ptr<Impl> impl_;
    mutable bool lossReported_ = false;

    struct DirectPresent {
        bool lastDirect = false;
        bool lastPaced = false;
        // Set once the window's surface refused the context: said once,
        // never tried again on this device.
        bool windowFailed = false;
        // A driver that lets swaps with interval 1 follow each other much
        // faster than the display refreshes does not wait for it (a
        // virtual display has no vertical blank); then the device paces.
        bool driverIgnoresInterval = false;
        int fastSwaps = 0;
        int askedInterval = -1;
        // What the driver says it took, -1 where it cannot say.
        int driverInterval = -1;
        std::chrono::steady_clock::time_point lastSwap;
        // The window and its size at the last swap.
        const QWindow* window = nullptr;
        QSize windowSize;
    } direct_;
};

}  // namespace platform::hal
