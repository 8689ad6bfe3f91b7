// REF: the software rasterizer behind the reference device. It draws into its
// own 32-bit back buffer and float depth buffer, so it needs no window and no
// OpenGL; presenting blits the back buffer into the render surface.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "platform/d3d9/backend.h"

namespace platform::d3d9 {

class RefRasterizer : public Backend {
public:
    std::string description() const override;
    HRESULT resize(const BufferSetup& setup) override;
    HRESULT clear(DWORD flags, const D3DRECT* rects, UINT rectCount, D3DCOLOR color, float z, DWORD stencil) override;
    HRESULT drawTriangles(const FixedFunctionState& state, const TriangleList& list) override;
    HRESULT readBackBuffer(DWORD* pixels, UINT pitch) override;
    HRESULT writeBackBuffer(const RECT& rect, const DWORD* pixels, UINT pitch) override;
    void forget(std::uint64_t id) override;

    // A vertex after transform and lighting, in clip space; `attr` holds
    // r, g, b, a and two sets of texture coordinates.
    struct Vertex {
        float x, y, z, w;
        float attr[8];
    };
    // The same vertex on screen: pixel position, depth and 1/w.
    struct ScreenVertex {
        float x, y, z, invW;
        float attr[8];
    };

    // A texture converted once to 0xAARRGGBB words.
    struct Texels {
        std::uint64_t version = ~std::uint64_t(0);
        UINT width = 0, height = 0;
        std::vector<std::uint32_t> argb;
        // Per row, how many texels before each column have a non-zero
        // alpha (width + 1 counts a row), so that a run of clear texels is
        // found without reading it; empty for rows too wide to count so.
        std::vector<std::uint16_t> opaqueBefore;
    };

private:
    struct PixelPipeline;

    void processVertices(const FixedFunctionState& state, const TriangleList& list);
    void drawClipped(const PixelPipeline& pipe, const Vertex* polygon, int count);
    void rasterize(const PixelPipeline& pipe, const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c);
    const Texels* texelsFor(const TextureData* texture);

    UINT width_ = 0, height_ = 0;
    D3DFORMAT colorFormat_ = D3DFMT_X8R8G8B8;
    bool hasDepth_ = false;
    std::vector<std::uint32_t> color_;
    std::vector<float> depth_;

    // Reused between draws so that drawing allocates nothing once warm.
    std::vector<Vertex> vertices_;
    bool pretransformed_ = false;
    std::vector<std::uint8_t> visible_;  // per triangle: survived early culling
    std::unordered_map<std::uint64_t, Texels> textures_;
};

}  // namespace platform::d3d9
