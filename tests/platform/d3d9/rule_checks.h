// Rules every device type must keep exactly, checked pixel by pixel through
// the public device API, so that REF (always) and HAL (with OpenGL) run the
// very same checks: clipping at the near plane and the depth comparisons on
// equal depths.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/platform/d3d9/reference_scenes.h"

namespace rule_checks {

using namespace reference_scenes;

template <class Vertex>
inline void drawList(IDirect3DDevice9* device, const std::vector<Vertex>& vertices, DWORD fvf) {
    IDirect3DVertexBuffer9* buffer = nullptr;
    const UINT bytes = UINT(vertices.size() * sizeof(Vertex));
    ASSERT_EQ(device->CreateVertexBuffer(bytes, D3DUSAGE_WRITEONLY, 0, D3DPOOL_MANAGED, &buffer, nullptr), D3D_OK);
    void* data = nullptr;
    ASSERT_EQ(buffer->Lock(0, 0, &data, 0), D3D_OK);
    std::memcpy(data, vertices.data(), bytes);
    buffer->Unlock();
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    device->SetFVF(fvf);
    device->SetStreamSource(0, buffer, 0, sizeof(Vertex));
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, UINT(vertices.size() / 3)), D3D_OK);
    device->EndScene();
    device->SetStreamSource(0, nullptr, 0, 0);
    buffer->Release();
}

// The whole viewport in clip space (identity transforms), depth given per
// corner: left edge zLeft, right edge zRight.
inline std::vector<ColorVertex> viewportQuad(float zLeft, float zRight, D3DCOLOR c) {
    return {{-1, -1, zLeft, c}, {-1, 1, zLeft, c}, {1, -1, zRight, c},
            {1, 1, zRight, c},  {1, -1, zRight, c}, {-1, 1, zLeft, c}};
}

// Clip-space depth runs 0..w: whatever lies in front of the near plane
// (z < 0) is cut away, not drawn with a clamped depth.
inline void checkNearPlaneClipping(IDirect3DDevice9* device) {
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    struct Row {
        const char* name;
        float zLeft, zRight;
        UINT drawnFrom;  // first column drawn; kWidth: none
    };
    // With w = 1 depth is linear across the screen: z = 0 in the middle.
    const Row rows[] = {
        {"wholly in front of the near plane", -0.6f, -0.1f, kWidth},
        {"crossing the near plane", -0.6f, 0.6f, kWidth / 2},
        {"wholly between the planes", 0.1f, 0.6f, 0},
    };
    for (const Row& row : rows) {
        ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0), D3D_OK);
        drawList(device, viewportQuad(row.zLeft, row.zRight, 0xFF00FF00), kColorFvf);
        Image image;
        ASSERT_EQ(readBackBuffer(device, &image), D3D_OK);
        for (UINT y = 2; y < kHeight; y += 7)
            for (UINT x = 0; x < kWidth; ++x) {
                // The column at the crossing itself may go either way.
                if (row.drawnFrom > 0 && row.drawnFrom < kWidth && x + 2 >= row.drawnFrom && x <= row.drawnFrom + 1)
                    continue;
                ASSERT_EQ(image.at(x, y) & 0xFFFFFF, x >= row.drawnFrom ? 0x00FF00u : 0u)
                    << row.name << " at " << x << ", " << y;
            }
    }
}

// A second draw at exactly the depth of the first passes or fails by the
// comparison alone.
inline void checkComparisonsOnEqualDepths(IDirect3DDevice9* device) {
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    struct Row {
        D3DCMPFUNC function;
        bool secondDrawn;
    };
    const Row rows[] = {
        {D3DCMP_LESSEQUAL, true}, {D3DCMP_LESS, false},   {D3DCMP_EQUAL, true},      {D3DCMP_GREATER, false},
        {D3DCMP_GREATEREQUAL, true}, {D3DCMP_NOTEQUAL, false}, {D3DCMP_ALWAYS, true}, {D3DCMP_NEVER, false},
    };
    for (const Row& row : rows) {
        ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0), D3D_OK);
        device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
        // Depth varies across the quad, so equality holds pixel by pixel,
        // not only for one plain value.
        drawList(device, viewportQuad(0.25f, 0.75f, 0xFFFF0000), kColorFvf);
        device->SetRenderState(D3DRS_ZFUNC, row.function);
        drawList(device, viewportQuad(0.25f, 0.75f, 0xFF0000FF), kColorFvf);
        Image image;
        ASSERT_EQ(readBackBuffer(device, &image), D3D_OK);
        for (UINT y = 3; y < kHeight; y += 9)
            for (UINT x = 1; x < kWidth; x += 5)
                ASSERT_EQ(image.at(x, y) & 0xFFFFFF, row.secondDrawn ? 0x0000FFu : 0xFF0000u)
                    << "function " << row.function << " at " << x << ", " << y;
    }
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
}

}  // namespace rule_checks
