// What a device type has to provide below the device: a back buffer with an
// optional depth buffer, clearing, drawing triangle lists through the fixed
// function pipeline, reading the result back and presenting it. The device
// (device.cpp) owns every resource and all state and hands a backend a full
// snapshot per draw, so a backend keeps nothing it cannot rebuild from the
// snapshot: REF (ref_rasterizer) and HAL (hal_*, OpenGL) answer to exactly
// the same calls and must draw the same picture.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/d3d9/d3d9.h"

class QRect;

namespace platform {
class RenderSurface;
}

namespace platform::d3d9 {

// a times b in the row-vector convention. Both backends form world-view and
// world-view-projection with these products in this order, so that REF and
// HAL transform every vertex identically.
D3DMATRIX multiplyTransforms(const D3DMATRIX& a, const D3DMATRIX& b);

inline constexpr int kMaxTextureStages = 8;
inline constexpr int kMaxActiveLights = 8;
inline constexpr int kRenderStateCount = 256;  // indexed by D3DRENDERSTATETYPE
inline constexpr int kStageStateCount = 33;    // indexed by D3DTEXTURESTAGESTATETYPE
inline constexpr int kSamplerStateCount = 14;  // indexed by D3DSAMPLERSTATETYPE

// Pixels of one texture level as the application wrote them, in the
// resource's own format (A8R8G8B8, X8R8G8B8, A4R4G4B4, R5G6B5, X1R5G5B5 or
// A1R5G5B5), rows `pitch` bytes apart, top row first. `id` names the
// resource for its whole life and is never reused; `version` grows on every
// unlock, so a backend that keeps a converted copy knows when to refresh it.
struct TextureData {
    UINT width = 0;
    UINT height = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    UINT pitch = 0;
    const BYTE* bits = nullptr;
    std::uint64_t id = 0;
    std::uint64_t version = 0;
};

// The bytes of a vertex buffer, with the same `id`/`version` rule.
struct VertexData {
    const BYTE* bytes = nullptr;
    UINT size = 0;
    std::uint64_t id = 0;
    std::uint64_t version = 0;
};

// Everything that decides how a triangle list is drawn, with the device
// API's own numbers. The device has already resolved two rules so that no
// backend needs to know them:
//  - `lights` holds only the enabled lights, in ascending light index;
//  - the texture stages are cut where the cascade ends: a stage whose
//    COLOROP is D3DTOP_DISABLE, or whose COLORARG1 selects the texture while
//    no texture is set, appears with COLOROP = D3DTOP_DISABLE, and so do all
//    stages after it (the colour and alpha of the stage before pass
//    through; for stage 0 that is the vertex diffuse). An ALPHAARG1 that
//    selects a missing texture is rewritten to D3DTA_CURRENT.
// Stage arguments D3DTA_CURRENT at stage 0 mean the diffuse colour.
struct FixedFunctionState {
    D3DMATRIX world;       // D3DTS_WORLD
    D3DMATRIX view;        // D3DTS_VIEW
    D3DMATRIX projection;  // D3DTS_PROJECTION
    D3DVIEWPORT9 viewport;
    D3DMATERIAL9 material;
    UINT lightCount = 0;
    D3DLIGHT9 lights[kMaxActiveLights];
    DWORD renderState[kRenderStateCount];
    DWORD stageState[kMaxTextureStages][kStageStateCount];
    DWORD samplerState[kMaxTextureStages][kSamplerStateCount];
    const TextureData* texture[kMaxTextureStages];  // level 0; null when none
};

// A D3DPT_TRIANGLELIST draw: `triangleCount` triangles, the first vertex at
// byte `offset` of the buffer (stream offset plus start vertex times stride).
// `fvf` is either D3DFVF_XYZ-based (transformed and lit by the pipeline) or
// D3DFVF_XYZRHW-based (screen pixels, z and 1/w given; no transform, no
// lighting); fields follow each other in the flexible-vertex-format order.
struct TriangleList {
    DWORD fvf = 0;
    const VertexData* vertices = nullptr;
    UINT offset = 0;
    UINT stride = 0;
    UINT triangleCount = 0;
};

struct BufferSetup {
    UINT width = 0;
    UINT height = 0;
    D3DFORMAT colorFormat = D3DFMT_X8R8G8B8;  // A8R8G8B8 or X8R8G8B8
    D3DFORMAT depthFormat = D3DFMT_UNKNOWN;   // UNKNOWN: no depth buffer
    D3DMULTISAMPLE_TYPE multiSampleType = D3DMULTISAMPLE_NONE;
    DWORD multiSampleQuality = 0;
    // Vertical blanks a presented frame waits for: 0 (IMMEDIATE) or 1.
    int swapInterval = 0;
};

// Conventions every backend keeps (they are the device API's):
//  - Row vectors: a position p becomes p * world * view * projection; clip
//    space depth runs 0..1 and is mapped to viewport MinZ..MaxZ.
//  - Screen x = X + (1 + x/w) * Width / 2, y = Y + (1 - y/w) * Height / 2;
//    pixel (i, j) is covered when its centre, the integer point (i, j), is
//    inside (top-left fill rule); attributes are interpolated with
//    perspective correction.
//  - D3DCULL_CCW drops triangles whose screen vertices run counter-clockwise
//    (y down); D3DCULL_CW the clockwise ones.
//  - Lighting (D3DRS_LIGHTING with a D3DFVF_XYZ vertex): per vertex, in view
//    space, with the normal transformed by the world-view matrix (and
//    normalised when D3DRS_NORMALIZENORMALS). Directional lights travel
//    along their Direction. With the default material sources, a vertex
//    diffuse colour replaces the material diffuse; the colour is
//    emissive + ambient * D3DRS_AMBIENT + sum over lights of
//    (ambient * light ambient + diffuse * light diffuse * max(0, N.L)),
//    clamped to 0..1; alpha is the diffuse alpha. Without lighting the
//    vertex diffuse (white when absent) passes through.
//  - Colour bytes become floats as byte / 255 and go back as
//    floor(value * 255 + 0.5) after clamping.
//  - Alpha test compares the 8-bit alpha with D3DRS_ALPHAREF & 0xFF.
class Backend {
public:
    virtual ~Backend() = default;

    // Human-readable name of what renders, for the adapter identifier.
    virtual std::string description() const = 0;

    // (Re)creates the back buffer and depth buffer; old contents are gone.
    // Fails (D3DERR_NOTAVAILABLE, D3DERR_OUTOFVIDEOMEMORY) when the
    // combination cannot be honoured.
    virtual HRESULT resize(const BufferSetup& setup) = 0;

    // `rects` are already clipped to the viewport and to the back buffer;
    // x2/y2 exclusive. A Clear without rectangles clears the viewport, so
    // the device passes the viewport's rectangle for it; no rectangles at
    // all (rects null, rectCount 0) means the whole back buffer. Flags are
    // D3DCLEAR_*. Fails only when the backend could not do its part.
    virtual HRESULT clear(DWORD flags, const D3DRECT* rects, UINT rectCount, D3DCOLOR color, float z,
                          DWORD stencil) = 0;

    // D3DERR_DRIVERINTERNALERROR when the backend cannot draw this kind of
    // triangle list at all (its cause has gone to standard error once).
    virtual HRESULT drawTriangles(const FixedFunctionState& state, const TriangleList& list) = 0;

    // The back buffer as 32-bit 0xAARRGGBB words, top row first, rows
    // `pitch` bytes apart (multisampled buffers resolved). Fails without
    // touching `pixels` when the back buffer cannot be read.
    virtual HRESULT readBackBuffer(DWORD* pixels, UINT pitch) = 0;

    // Replaces the rectangle (x2/y2 exclusive, inside the back buffer) with
    // 0xAARRGGBB words read from `pixels`, rows `pitch` bytes apart.
    virtual HRESULT writeBackBuffer(const RECT& rect, const DWORD* pixels, UINT pitch) = 0;

    // Shows the `source` part of the back buffer (`buffers` as last given to
    // resize) over `dest` of the surface; empty rects mean "all". The
    // default reads the back buffer back and hands it to
    // RenderSurface::presentImage.
    virtual HRESULT present(RenderSurface* surface, const BufferSetup& buffers, const QRect& source,
                            const QRect& dest);

    // Whether the frame just presented waited for the display in the
    // driver, so that the device need not pace presentation itself.
    virtual bool pacedByDriver() const { return false; }

    // The resource with this id is gone; drop anything cached for it.
    virtual void forget(std::uint64_t id) { (void)id; }

    // True once what the backend draws with has gone (a GPU reset): the
    // device is lost until a Reset, which calls restoreContext first.
    virtual bool contextLost() const { return false; }
    // Makes the drawing context anew; everything cached is rebuilt on use.
    virtual HRESULT restoreContext() { return D3D_OK; }

protected:
    // The default present; `keepGlWindow` leaves the surface's OpenGL window
    // in sight (RenderSurface::presentImage).
    HRESULT presentByReadBack(RenderSurface* surface, const BufferSetup& buffers, const QRect& source,
                              const QRect& dest, bool keepGlWindow);
};

std::unique_ptr<Backend> createRefBackend();

#ifdef VL_HAVE_HAL
// What the OpenGL backend can do here, asked once per process. `available`
// is false when no OpenGL 3.3 core context can be had (no QGuiApplication,
// a platform without OpenGL); HAL is then not offered.
struct HalCapabilities {
    bool available = false;
    std::string renderer;           // e.g. "llvmpipe (LLVM 15.0.6, 256 bits)"
    UINT maxTextureSize = 0;
    UINT maxSamples = 0;            // largest multisample count, 0 or 1: none
    // Depth formats a framebuffer can have here.
    bool supportsD16 = false;
    bool supportsD24X8 = false;
    bool supportsD24S8 = false;
    bool supportsD32 = false;
};
const HalCapabilities& halCapabilities();

// Null when the context cannot be made after all.
std::unique_ptr<Backend> createHalBackend();
#endif

}  // namespace platform::d3d9
