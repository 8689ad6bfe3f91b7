// The surface's vertex buffer and draw states, checked on a recording device
// in front of a real REF device.
#include "viewer/surface_renderer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "tests/platform/d3d9/reference_scenes.h"
#include "tests/viewer/recording_device.h"

namespace {

TEST(HeightColor, BlueAboveZeroRedBelowGreenAlways) {
    const struct {
        float h;
        D3DCOLOR colour;
    } cases[] = {
        {-1.0f, 0x00FF2000}, {-0.5f, 0x007F2000}, {0.0f, 0x00002000},  {0.5f, 0x0000207F},
        {1.0f, 0x000020FF},  {0.25f, 0x0000203F}, {-0.01f, 0x00022000}, {-0.001f, 0x00002000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.h);
        EXPECT_EQ(HeightColor(c.h), c.colour);
    }
}

// Two triangles over four points; the second lists its indices in another
// order, so that following the index array (not the vertex order) matters.
struct SmallSurface {
    ModeVertex vertices[4] = {{0, 0, -1}, {1, 0, 0}, {0, 1, 0.5f}, {-1, 0, 0.25f}};
    ModeTriangle triangles[2] = {{0, 1, 2}, {3, 0, 2}};
    ModeSurface surface{triangles, vertices, 2, 4};
};

void expectVertex(const SurfaceVertex& v, float x, float y, float z, float nx, float ny, float nz, D3DCOLOR c) {
    EXPECT_FLOAT_EQ(v.x, x);
    EXPECT_FLOAT_EQ(v.y, y);
    EXPECT_FLOAT_EQ(v.z, z);
    EXPECT_NEAR(v.nx, nx, 1e-6);
    EXPECT_NEAR(v.ny, ny, 1e-6);
    EXPECT_NEAR(v.nz, nz, 1e-6);
    EXPECT_EQ(v.diffuse, c);
}

TEST(FillSurfaceVertices, SixVerticesPerTriangleDoubledWithTheReversedCopyBehind) {
    SmallSurface s;
    std::vector<SurfaceVertex> v(12);
    FillSurfaceVertices(s.surface, v.data());

    // Triangle 0: P = (0,0,-2), (2,0,0), (0,2,1); edges (2,0,2) and (0,2,3);
    // cross (-4,-6,4), length sqrt(68).
    const float l0 = std::sqrt(68.0f);
    const float n0[3] = {-4 / l0, -6 / l0, 4 / l0};
    SCOPED_TRACE("triangle 0");
    expectVertex(v[0], 0, 0, -2, n0[0], n0[1], n0[2], 0x00FF2000);
    expectVertex(v[1], 2, 0, 0, n0[0], n0[1], n0[2], 0x00002000);
    expectVertex(v[2], 0, 2, 1, n0[0], n0[1], n0[2], 0x0000207F);
    expectVertex(v[3], 0, 2, 1, -n0[0], -n0[1], -n0[2], 0x0000207F);
    expectVertex(v[4], 2, 0, 0, -n0[0], -n0[1], -n0[2], 0x00002000);
    expectVertex(v[5], 0, 0, -2, -n0[0], -n0[1], -n0[2], 0x00FF2000);

    // Triangle 1: P = (-2,0,0.5), (0,0,-2), (0,2,1); edges (2,0,-2.5) and
    // (2,2,0.5); cross (5,-6,4), length sqrt(77).
    const float l1 = std::sqrt(77.0f);
    const float n1[3] = {5 / l1, -6 / l1, 4 / l1};
    SCOPED_TRACE("triangle 1");
    expectVertex(v[6], -2, 0, 0.5f, n1[0], n1[1], n1[2], 0x0000203F);
    expectVertex(v[7], 0, 0, -2, n1[0], n1[1], n1[2], 0x00FF2000);
    expectVertex(v[8], 0, 2, 1, n1[0], n1[1], n1[2], 0x0000207F);
    expectVertex(v[9], 0, 2, 1, -n1[0], -n1[1], -n1[2], 0x0000207F);
    expectVertex(v[10], 0, 0, -2, -n1[0], -n1[1], -n1[2], 0x00FF2000);
    expectVertex(v[11], -2, 0, 0.5f, -n1[0], -n1[1], -n1[2], 0x0000203F);
}

class SurfaceDevice : public ::testing::Test {
protected:
    void SetUp() override {
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d_, nullptr);
        ASSERT_EQ(reference_scenes::createWindowlessDevice(d3d_, D3DDEVTYPE_REF, &real_), D3D_OK);
        recorder_ = std::make_unique<RecordingDevice>(real_);
    }
    void TearDown() override {
        recorder_.reset();
        if (real_) {
            EXPECT_EQ(real_->Release(), 0u);
        }
        if (d3d_)
            d3d_->Release();
    }
    IDirect3D9* d3d_ = nullptr;
    IDirect3DDevice9* real_ = nullptr;
    std::unique_ptr<RecordingDevice> recorder_;
};

TEST_F(SurfaceDevice, VertexBufferIsManagedAndHoldsTheFilledVertices) {
    SmallSurface s;
    IDirect3DVertexBuffer9* buffer = nullptr;
    ASSERT_EQ(CreateSurfaceVertexBuffer(recorder_.get(), s.surface, &buffer), D3D_OK);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(recorder_->calls,
              (std::vector<std::string>{"CreateVertexBuffer 336 0x0 0x52 1", "Lock 0 0 0x0", "Unlock"}));

    std::vector<SurfaceVertex> expected(12);
    FillSurfaceVertices(s.surface, expected.data());
    IDirect3DVertexBuffer9* real = static_cast<RecordingVertexBuffer*>(buffer)->real();
    void* data = nullptr;
    ASSERT_EQ(real->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(std::memcmp(data, expected.data(), 336), 0);
    real->Unlock();
    buffer->Release();
    EXPECT_EQ(recorder_->liveBuffers, 0);
}

TEST_F(SurfaceDevice, VertexBufferFailuresAreReturned) {
    SmallSurface s;
    IDirect3DVertexBuffer9* buffer = nullptr;
    recorder_->createVertexBufferResult = E_OUTOFMEMORY;
    EXPECT_EQ(CreateSurfaceVertexBuffer(recorder_.get(), s.surface, &buffer), E_OUTOFMEMORY);
    EXPECT_EQ(buffer, nullptr);

    // A buffer whose lock fails stays with the caller, who releases it.
    recorder_->createVertexBufferResult = D3D_OK;
    recorder_->lockResult = D3DERR_INVALIDCALL;
    EXPECT_EQ(CreateSurfaceVertexBuffer(recorder_.get(), s.surface, &buffer), D3DERR_INVALIDCALL);
    ASSERT_NE(buffer, nullptr);
    EXPECT_TRUE(recorder_->callsStartingWith("Unlock").empty());
    buffer->Release();
    EXPECT_EQ(recorder_->liveBuffers, 0);
}

std::string rs(D3DRENDERSTATETYPE state, DWORD value) {
    char text[64];
    std::snprintf(text, sizeof text, "SetRenderState %d 0x%lx", int(state), (unsigned long)value);
    return text;
}
std::string tss(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    char text[64];
    std::snprintf(text, sizeof text, "SetTextureStageState %lu %d 0x%lx", (unsigned long)stage, int(type),
                  (unsigned long)value);
    return text;
}
std::string ss(D3DSAMPLERSTATETYPE type, DWORD value) {
    char text[64];
    std::snprintf(text, sizeof text, "SetSamplerState 0 %d 0x%lx", int(type), (unsigned long)value);
    return text;
}
std::string transform(D3DTRANSFORMSTATETYPE state) { return "SetTransform " + std::to_string(int(state)); }

// Each state the surface needs is set, once, whatever the order.
TEST_F(SurfaceDevice, EverySurfaceStateIsSetOnce) {
    SetSurfaceDrawStates(recorder_.get(), 500, 375);
    const std::multiset<std::string> expected = {
        "SetMaterial",
        tss(0, D3DTSS_COLOROP, D3DTOP_MODULATE),
        tss(0, D3DTSS_COLORARG1, D3DTA_TEXTURE),
        tss(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE),
        tss(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE),
        tss(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE),
        tss(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE),
        ss(D3DSAMP_MINFILTER, D3DTEXF_LINEAR),
        ss(D3DSAMP_MAGFILTER, D3DTEXF_LINEAR),
        rs(D3DRS_DITHERENABLE, FALSE),
        rs(D3DRS_SPECULARENABLE, FALSE),
        rs(D3DRS_ZENABLE, D3DZB_TRUE),
        rs(D3DRS_AMBIENT, 0x000F0F0F),
        transform(D3DTS_WORLD),
        transform(D3DTS_VIEW),
        transform(D3DTS_PROJECTION),
        "SetLight 0",
        "LightEnable 0 1",
        rs(D3DRS_LIGHTING, TRUE),
    };
    EXPECT_EQ(std::multiset<std::string>(recorder_->calls.begin(), recorder_->calls.end()), expected);
}

TEST_F(SurfaceDevice, MaterialLightAndTransforms) {
    SetSurfaceDrawStates(recorder_.get(), 500, 375);

    const D3DMATERIAL9& m = recorder_->material;
    for (const D3DCOLORVALUE& c : {m.Diffuse, m.Ambient}) {
        EXPECT_EQ(c.r, 1.0f);
        EXPECT_EQ(c.g, 1.0f);
        EXPECT_EQ(c.b, 1.0f);
        EXPECT_EQ(c.a, 1.0f);
    }
    for (const D3DCOLORVALUE& c : {m.Specular, m.Emissive})
        EXPECT_TRUE(c.r == 0 && c.g == 0 && c.b == 0 && c.a == 0);
    EXPECT_EQ(m.Power, 0.0f);

    const D3DLIGHT9& l = recorder_->light;
    EXPECT_EQ(l.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_EQ(l.Diffuse.r, 1.0f);
    EXPECT_EQ(l.Diffuse.g, 1.0f);
    EXPECT_EQ(l.Diffuse.b, 1.0f);
    EXPECT_NEAR(l.Direction.x, -0.4082f, 1e-4);
    EXPECT_NEAR(l.Direction.y, -0.4082f, 1e-4);
    EXPECT_NEAR(l.Direction.z, 0.8165f, 1e-4);
    EXPECT_EQ(l.Position.x, -1.0f);
    EXPECT_EQ(l.Position.y, -1.0f);
    EXPECT_EQ(l.Position.z, 2.0f);
    EXPECT_EQ(l.Range, 1000.0f);
    EXPECT_EQ(l.Specular.r + l.Ambient.r + l.Attenuation0 + l.Falloff + l.Theta + l.Phi, 0.0f);

    const float identity[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    const float view[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 5, 1}};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(recorder_->transforms[D3DTS_WORLD].m[r][c], identity[r][c]);
            EXPECT_NEAR(recorder_->transforms[D3DTS_VIEW].m[r][c], view[r][c], 1e-6);
        }
}

TEST_F(SurfaceDevice, ProjectionFollowsTheBackBuffersAspect) {
    const struct {
        UINT width, height;
        float aspect;
    } cases[] = {{500, 375, 1.3333334f}, {640, 480, 1.3333334f}, {1280, 1024, 1.25f}, {300, 600, 0.5f}};
    const float h = 2.4142137f;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        recorder_->transforms.clear();
        SetSurfaceDrawStates(recorder_.get(), c.width, c.height);
        const D3DMATRIX& p = recorder_->transforms[D3DTS_PROJECTION];
        EXPECT_NEAR(p._11, h / c.aspect, 1e-5);
        EXPECT_NEAR(p._22, h, 1e-5);
        EXPECT_NEAR(p._33, 100.0f / 99.0f, 1e-6);
        EXPECT_EQ(p._34, 1.0f);
        EXPECT_NEAR(p._43, -100.0f / 99.0f, 1e-6);
        EXPECT_EQ(p._44, 0.0f);
    }
}

}  // namespace
