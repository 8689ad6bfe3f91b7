// The reference device draws the reference scenes exactly like the golden
// images, and the golden images themselves are right where a colour can be
// worked out by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "tests/platform/d3d9/reference_scenes.h"

using namespace reference_scenes;

namespace {

struct Rgb {
    int r, g, b;
};

Rgb rgb(std::uint32_t c) { return {int((c >> 16) & 0xFF), int((c >> 8) & 0xFF), int(c & 0xFF)}; }

::testing::AssertionResult near(std::uint32_t actual, Rgb expected, int tolerance) {
    const Rgb a = rgb(actual);
    if (std::abs(a.r - expected.r) <= tolerance && std::abs(a.g - expected.g) <= tolerance &&
        std::abs(a.b - expected.b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << a.r << ", " << a.g << ", " << a.b << "), expected (" << expected.r
                                         << ", " << expected.g << ", " << expected.b << ") within " << tolerance;
}

class RefScenes : public ::testing::Test {
protected:
    void SetUp() override {
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d_, nullptr);
    }
    void TearDown() override {
        if (d3d_) {
            EXPECT_EQ(d3d_->Release(), 0u);
        }
    }

    Image render(Scene scene) {
        IDirect3DDevice9* device = nullptr;
        Image image;
        EXPECT_EQ(createWindowlessDevice(d3d_, D3DDEVTYPE_REF, &device), D3D_OK);
        if (!device)
            return image;
        EXPECT_EQ(renderScene(device, scene), D3D_OK);
        EXPECT_EQ(readBackBuffer(device, &image), D3D_OK);
        EXPECT_EQ(device->Release(), 0u) << "the scene leaked a device object";
        return image;
    }

    IDirect3D9* d3d_ = nullptr;
};

// Where a world point lands on the kWidth x kHeight back buffer (pixel
// centres at integer coordinates).
struct ScreenPoint {
    float x, y;
    UINT px() const { return UINT(std::lround(x)); }
    UINT py() const { return UINT(std::lround(y)); }
};

ScreenPoint project(const float p[3], const D3DMATRIX& world) {
    auto times = [](const float v[4], const D3DMATRIX& m, float out[4]) {
        for (int j = 0; j < 4; ++j)
            out[j] = v[0] * m.m[0][j] + v[1] * m.m[1][j] + v[2] * m.m[2][j] + v[3] * m.m[3][j];
    };
    const float v[4] = {p[0], p[1], p[2], 1.0f};
    float w[4], e[4], c[4];
    times(v, world, w);
    times(w, sceneView(), e);
    times(e, sceneProjection(), c);
    return {(1.0f + c[0] / c[3]) * kWidth / 2.0f, (1.0f - c[1] / c[3]) * kHeight / 2.0f};
}

// The lit colour of a vertex by the fixed-function formula: the global
// ambient on the white material ambient plus the vertex colour (the
// diffuse material) times the white light's cosine.
Rgb litColor(D3DCOLOR vertexColor, const float normal[3]) {
    const D3DVECTOR d = lightDirection();
    const float cosine = std::max(0.0f, -(normal[0] * d.x + normal[1] * d.y + normal[2] * d.z));
    const float ambient = float(kAmbient & 0xFF) / 255.0f;
    auto channel = [&](int shift) {
        const float c = ambient + float((vertexColor >> shift) & 0xFF) / 255.0f * cosine;
        return std::min(1.0f, c) * 255.0f;
    };
    return {int(std::lround(channel(16))), int(std::lround(channel(8))), int(std::lround(channel(0)))};
}

TEST_F(RefScenes, MatchTheGoldenImages) {
    const bool update = std::getenv("VL_UPDATE_GOLDEN") != nullptr;
    for (Scene scene : allScenes()) {
        SCOPED_TRACE(sceneName(scene));
        const Image image = render(scene);
        const std::string path = std::string(VL_SOURCE_DIR) + "/tests/golden/d3d9/" + sceneName(scene) + ".png";
        if (update) {
            ASSERT_TRUE(savePng(image, path));
            continue;
        }
        Image golden;
        ASSERT_TRUE(loadPng(path, &golden)) << path;
        EXPECT_EQ(agreement(image, golden, 0), 1.0);
    }
}

TEST_F(RefScenes, LitQuadHasTheHandComputedColour) {
    const Image image = render(Scene::LitQuad);
    ASSERT_EQ(image.width, kWidth);
    // Normal (0, 0, -1) towards the camera, light travelling along
    // (-1, -1, 2)/sqrt(6): cosine 2/sqrt(6) = 0.816497. Ambient 15/255.
    //   red   15/255 +  48/255 * 0.816497 = 0.212517 -> 54.19
    //   green 15/255 + 140/255 * 0.816497 = 0.507096 -> 129.31
    //   blue  15/255 + 200/255 * 0.816497 = 0.699213 -> 178.30
    for (UINT x : {50u, 80u, 110u})
        for (UINT y : {35u, 60u, 85u})
            EXPECT_TRUE(near(image.at(x, y), {54, 129, 178}, 0)) << "at " << x << ", " << y;
    // The clear colour where the quad does not reach.
    EXPECT_TRUE(near(image.at(2, 2), {0, 128, 255}, 0));
    EXPECT_TRUE(near(image.at(kWidth - 3, kHeight - 3), {0, 128, 255}, 0));
}

// Picks a large triangle facing the camera near the middle of the picture,
// computes the lit colours of its corners by hand, and expects their mean at
// the projection of its centroid (where perspective-correct interpolation
// gives every corner a third).
void expectMeshCentroidColour(const Image& image, Scene scene) {
    const std::vector<SurfaceVertex> vertices = meshVertices();
    const D3DMATRIX world = meshWorld(scene);
    size_t best = vertices.size();
    float bestDistance = 1e9f;
    for (size_t t = 0; t < vertices.size(); t += 3) {
        float n[3];
        for (int j = 0; j < 3; ++j)
            n[j] = vertices[t].nx * world.m[0][j] + vertices[t].ny * world.m[1][j] + vertices[t].nz * world.m[2][j];
        if (n[2] > -0.6f)
            continue;  // not facing the camera squarely
        const float centroid[3] = {(vertices[t].x + vertices[t + 1].x + vertices[t + 2].x) / 3,
                                   (vertices[t].y + vertices[t + 1].y + vertices[t + 2].y) / 3,
                                   (vertices[t].z + vertices[t + 1].z + vertices[t + 2].z) / 3};
        const ScreenPoint s = project(centroid, world);
        const float distance = std::hypot(s.x - kWidth / 2.0f, s.y - kHeight / 2.0f);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = t;
        }
    }
    ASSERT_LT(best, vertices.size());
    float n[3];
    for (int j = 0; j < 3; ++j)
        n[j] = vertices[best].nx * world.m[0][j] + vertices[best].ny * world.m[1][j] +
               vertices[best].nz * world.m[2][j];
    int sum[3] = {0, 0, 0};
    for (int k = 0; k < 3; ++k) {
        const Rgb c = litColor(vertices[best + k].diffuse, n);
        sum[0] += c.r;
        sum[1] += c.g;
        sum[2] += c.b;
    }
    const float centroid[3] = {(vertices[best].x + vertices[best + 1].x + vertices[best + 2].x) / 3,
                               (vertices[best].y + vertices[best + 1].y + vertices[best + 2].y) / 3,
                               (vertices[best].z + vertices[best + 1].z + vertices[best + 2].z) / 3};
    const ScreenPoint s = project(centroid, world);
    // The pixel centre is up to half a pixel from the centroid; the corner
    // colours of this mesh change by a few levels per pixel at most.
    EXPECT_TRUE(near(image.at(s.px(), s.py()), {sum[0] / 3, sum[1] / 3, sum[2] / 3}, 4))
        << "triangle " << best / 3 << " at pixel " << s.px() << ", " << s.py();
}

TEST_F(RefScenes, LitMeshIsLitPerVertexAndGouraudShaded) {
    const Image image = render(Scene::LitMesh);
    ASSERT_EQ(image.width, kWidth);
    expectMeshCentroidColour(image, Scene::LitMesh);
    EXPECT_TRUE(near(image.at(0, 0), {0, 128, 255}, 0));
}

TEST_F(RefScenes, LitMeshFromBehindShowsTheReversedTriangles) {
    const Image front = render(Scene::LitMesh);
    const Image behind = render(Scene::LitMeshBehind);
    ASSERT_EQ(behind.width, kWidth);
    expectMeshCentroidColour(behind, Scene::LitMeshBehind);
    auto covered = [](const Image& image) {
        return std::count_if(image.pixels.begin(), image.pixels.end(),
                             [](std::uint32_t c) { return (c & 0xFFFFFF) != 0x0080FF; });
    };
    // Turned around, the surface still covers about as much of the picture.
    EXPECT_GT(covered(behind), covered(front) * 8 / 10);
    EXPECT_LT(covered(behind), covered(front) * 12 / 10);
}

TEST_F(RefScenes, OverlayQuadsTexturedTestedBlendedAndMasked) {
    const Image image = render(Scene::Overlay);
    ASSERT_EQ(image.width, kWidth);
    // Quad 1 spans pixels 8..71: 8 pixels per texel. An opaque white texel
    // modulated by yellow.
    EXPECT_TRUE(near(image.at(8 + 8 * 2 + 3, 8 + 8 * 2 + 4), {255, 255, 0}, 0));
    // Texel (1, 1) starts exactly at pixel (16, 16); its left neighbour is
    // transparent and its upper one the blended top row: no half-pixel slip.
    EXPECT_TRUE(near(image.at(16, 16), {255, 255, 0}, 0));
    EXPECT_TRUE(near(image.at(15, 16), {48, 48, 48}, 0));
    EXPECT_TRUE(near(image.at(16, 15), {158, 22, 22}, 0));
    EXPECT_TRUE(near(image.at(71, 71), {255, 255, 0}, 0));     // last pixel of the quad
    // A transparent texel fails the alpha test: the clear colour stays.
    EXPECT_TRUE(near(image.at(8 + 8 * 1 + 3, 8 + 8 * 2 + 4), {48, 48, 48}, 0));
    EXPECT_TRUE(near(image.at(7, 20), {48, 48, 48}, 0));
    EXPECT_TRUE(near(image.at(72, 20), {48, 48, 48}, 0));
    // The top row: red at alpha 8/15 (136) over grey 48:
    //   red 255 * 136/255 + 48 * 119/255 = 158.4, green and blue 48 * 119/255 = 22.4.
    EXPECT_TRUE(near(image.at(20, 10), {158, 22, 22}, 0));
    // Quad 2: corners of a 2 x 2 texture stretched and clamped, blended in between.
    EXPECT_TRUE(near(image.at(92, 12), {255, 0, 0}, 0));
    EXPECT_TRUE(near(image.at(148, 12), {0, 255, 0}, 0));
    EXPECT_TRUE(near(image.at(92, 68), {0, 0, 255}, 0));
    EXPECT_TRUE(near(image.at(148, 68), {255, 255, 255}, 0));
    const Rgb middle = rgb(image.at(120, 12));  // halfway between red and green
    EXPECT_NEAR(middle.r, 128, 6);
    EXPECT_NEAR(middle.g, 128, 6);
    // Quad 3: only green written.
    EXPECT_TRUE(near(image.at(40, 96), {48, 255, 48}, 0));
    // Quad 4: no texture, the diffuse colour passes through unchanged.
    EXPECT_TRUE(near(image.at(120, 96), {0x40, 0xC0, 0x20}, 0));
}

TEST_F(RefScenes, DepthCullingAndNearPlaneClipping) {
    const Image image = render(Scene::DepthCulling);
    ASSERT_EQ(image.width, kWidth);
    const D3DMATRIX identity = {{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}}};
    auto at = [&](float x, float y, float z) {
        const float p[3] = {x, y, z};
        const ScreenPoint s = project(p, identity);
        return image.at(s.px(), s.py());
    };
    // Red is nearer than green although drawn first.
    EXPECT_TRUE(near(at(-1.2f, -0.6f, 0.0f), {255, 0, 0}, 0));
    // Green where red does not reach.
    EXPECT_TRUE(near(at(-2.4f, 0.5f, 2.0f), {0, 255, 0}, 0));
    // The counter-clockwise blue triangle is culled.
    EXPECT_TRUE(near(at(1.3f, 0.6f, 0.0f), {0, 0, 64}, 0));
    // The triangle with a corner behind the camera is clipped, not dropped
    // or smeared: its visible part is there and the clear colour is left
    // where it does not reach.
    EXPECT_TRUE(near(at(1.605f, -1.17f, -1.1f), {255, 255, 0}, 0));
    EXPECT_TRUE(near(image.at(kWidth - 2, 1), {0, 0, 64}, 0));
}

}  // namespace
