// HAL: the backend that draws with OpenGL 3.3 core. It renders into its own
// framebuffer objects on an offscreen surface, so it needs no window; a
// frame reaches the window by being read back and handed to the render
// surface, like REF's. Vertex buffers and textures live in GL memory and are
// refreshed only when the device reports a new version of them.
#pragma once

#include <memory>
#include <unordered_map>

#include "platform/d3d9/backend.h"
#include "platform/d3d9/hal_context.h"

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
    void forget(std::uint64_t id) override;
    bool contextLost() const override;
    HRESULT restoreContext() override;

    // Throws the context away as a GPU reset would (a test fault).
    void loseContext();

    // Samples per pixel of the current back buffer (0 when not multisampled).
    int samples() const;
    // Programs built so far; one per pipeline shape that was drawn.
    std::size_t programCount() const;

private:
    HalBackend() = default;
    bool makeContext();
    struct Impl;
    std::unique_ptr<HalContext> context_;
    std::unique_ptr<Impl> impl_;
    mutable bool lossReported_ = false;
};

}  // namespace platform::hal
