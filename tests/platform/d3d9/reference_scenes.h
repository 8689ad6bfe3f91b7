// The reference scenes of the 3-D device, drawn through the public device
// API only, so that every device type can draw them and be compared: with
// the golden images (REF) or with each other (HAL against REF).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/d3d9/d3d9.h"

namespace reference_scenes {

enum class Scene {
    LitMesh,       // two-sided, height-coloured, lit surface like the program's
    LitMeshBehind, // the same turned by pi about y: the back faces take over
    LitQuad,       // one flat two-sided lit square, for hand-computed colours
    Overlay,       // pre-transformed quads: textured, alpha-tested, blended, masked
    DepthCulling,  // depth order, culling and a triangle through the near plane
};

inline constexpr UINT kWidth = 160;
inline constexpr UINT kHeight = 120;

std::vector<Scene> allScenes();
const char* sceneName(Scene scene);

struct Image {
    UINT width = 0;
    UINT height = 0;
    std::vector<std::uint32_t> pixels;  // 0xAARRGGBB, top row first
    std::uint32_t at(UINT x, UINT y) const { return pixels[size_t(y) * width + x]; }
};

// Pre-transformed, coloured and textured, like the overlay's text.
struct OverlayVertex {
    float x, y, z, rhw;
    D3DCOLOR color;
    float u, v;
};
inline constexpr DWORD kOverlayFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// Untransformed and unlit, coloured per vertex.
struct ColorVertex {
    float x, y, z;
    D3DCOLOR color;
};
inline constexpr DWORD kColorFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;

// Windowed, no window: a width x height X8R8G8B8 back buffer with a depth
// buffer of `depth`, presented at once.
D3DPRESENT_PARAMETERS windowedParameters(UINT width, UINT height, D3DFORMAT depth);

// A device of `type` with a kWidth x kHeight X8R8G8B8 back buffer, a D24X8
// depth buffer and no window at all.
HRESULT createWindowlessDevice(IDirect3D9* d3d, D3DDEVTYPE type, IDirect3DDevice9** device);

// Clears, draws the scene between BeginScene and EndScene and leaves the
// frame in the back buffer. Resets no state beyond what the scene sets, so
// give it a fresh device (or one whose state the caller knows).
HRESULT renderScene(IDirect3DDevice9* device, Scene scene);

// The back buffer through GetRenderTargetData.
HRESULT readBackBuffer(IDirect3DDevice9* device, Image* image);

// Share of pixels whose red, green and blue each differ by at most
// `tolerance` levels.
double agreement(const Image& a, const Image& b, int tolerance);

// How closely HAL must draw what REF draws: the two round and filter
// differently, so a level or four apart in almost every pixel is the same
// picture, while a wrong state or a shifted row fails many more pixels.
inline constexpr int kHalTolerance = 4;
inline constexpr double kHalAgreement = 0.99;

bool savePng(const Image& image, const std::string& path);
bool loadPng(const std::string& path, Image* image);

// The program's height colouring: blue above zero, red below.
D3DCOLOR heightColor(float h);

// Geometry of the mesh scenes, exposed so that tests can compute expected
// colours by hand.
struct SurfaceVertex {
    float x, y, z;
    float nx, ny, nz;
    D3DCOLOR diffuse;
};
std::vector<SurfaceVertex> meshVertices();
// World rotation of the two mesh scenes.
D3DMATRIX meshWorld(Scene scene);
D3DMATRIX sceneView();
D3DMATRIX sceneProjection();
// The scenes' light travels along this unit vector.
D3DVECTOR lightDirection();
inline constexpr D3DCOLOR kAmbient = 0x000F0F0F;
inline constexpr D3DCOLOR kQuadColor = 0x00308CC8;

}  // namespace reference_scenes
