// The mode surface as the fixed-function pipeline draws it: every triangle
// twice, once per side, coloured by height and lit through the normal of the
// side that faces the viewer, under one white directional light.
#pragma once

#include "platform/d3d9/d3d9.h"
#include "mode/mode_surface.h"

struct SurfaceVertex {
    float x, y, z;     // model space: the surface point, doubled
    float nx, ny, nz;  // unit normal of the triangle side
    D3DCOLOR diffuse;  // HeightColor of the undoubled height
};
static_assert(sizeof(SurfaceVertex) == 28, "the vertex buffer's stride is 28 bytes");

inline constexpr DWORD SurfaceVertexFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE;
inline constexpr UINT SurfaceVerticesPerTriangle = 6;
inline constexpr D3DCOLOR SurfaceClearColor = 0x000080FF;

// Blue above zero, red below, brightness by magnitude; green stays 0x20 so
// that the zero line is not black.
D3DCOLOR HeightColor(float h);

// Writes the six vertices of every triangle of `surface`, in triangle order:
// the front triangle, then the same triangle reversed with the opposite
// normal. `vertices` holds triangleCount * 6 entries.
void FillSurfaceVertices(const ModeSurface& surface, SurfaceVertex* vertices);

// The managed vertex buffer of the whole surface (CreateDeviceObjects): a
// failing creation or lock is returned; a buffer that could be created is
// left in *buffer even when its lock fails, for the caller to release.
HRESULT CreateSurfaceVertexBuffer(IDirect3DDevice9* device, const ModeSurface& surface,
                                  IDirect3DVertexBuffer9** buffer);

// Material, texture stage and sampler, render states, world, view and
// projection, and the light: everything a reset device forgets, so it runs
// on every restore. The projection's aspect is that of the back buffer; the
// camera stands cameraDistance in front of the disk's centre.
void SetSurfaceDrawStates(IDirect3DDevice9* device, UINT backBufferWidth, UINT backBufferHeight,
                          float cameraDistance = 5.0f);

// The view transform: a left-handed camera `distance` in front of the disk's
// centre, looking at it along +z.
void SetSurfaceView(IDirect3DDevice9* device, float distance);
