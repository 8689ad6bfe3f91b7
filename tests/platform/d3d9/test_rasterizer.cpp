// Rules of the reference rasterizer that the scenes only touch in passing:
// fill convention, viewport mapping, depth writes, the "both" blend factors,
// flat shading and texture updates after a first draw.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "tests/platform/d3d9/reference_scenes.h"
#include "tests/platform/d3d9/rule_checks.h"

using namespace reference_scenes;

namespace {

class Rasterizer : public ::testing::Test {
protected:
    void SetUp() override {
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d_, nullptr);
        ASSERT_EQ(createWindowlessDevice(d3d_, D3DDEVTYPE_REF, &device_), D3D_OK);
        device_->SetRenderState(D3DRS_LIGHTING, FALSE);
        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    }
    void TearDown() override {
        if (buffer_)
            buffer_->Release();
        if (device_) {
            EXPECT_EQ(device_->Release(), 0u);
        }
        if (d3d_)
            d3d_->Release();
    }

    template <class Vertex>
    void draw(const std::vector<Vertex>& vertices, DWORD fvf) {
        if (buffer_)
            buffer_->Release();
        buffer_ = nullptr;
        const UINT bytes = UINT(vertices.size() * sizeof(Vertex));
        ASSERT_EQ(device_->CreateVertexBuffer(bytes, D3DUSAGE_WRITEONLY, 0, D3DPOOL_MANAGED, &buffer_, nullptr), D3D_OK);
        void* data = nullptr;
        ASSERT_EQ(buffer_->Lock(0, 0, &data, 0), D3D_OK);
        std::memcpy(data, vertices.data(), bytes);
        buffer_->Unlock();
        ASSERT_EQ(device_->BeginScene(), D3D_OK);
        device_->SetFVF(fvf);
        device_->SetStreamSource(0, buffer_, 0, sizeof(Vertex));
        EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, UINT(vertices.size() / 3)), D3D_OK);
        device_->EndScene();
    }

    Image frame() {
        Image image;
        EXPECT_EQ(readBackBuffer(device_, &image), D3D_OK);
        return image;
    }

    IDirect3D9* d3d_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;
    IDirect3DVertexBuffer9* buffer_ = nullptr;
};

void quad(std::vector<OverlayVertex>& out, float x1, float y1, float x2, float y2, D3DCOLOR color, float z = 0.5f) {
    out.push_back({x1, y2, z, 1, color, 0, 1});
    out.push_back({x1, y1, z, 1, color, 0, 0});
    out.push_back({x2, y2, z, 1, color, 1, 1});
    out.push_back({x2, y1, z, 1, color, 1, 0});
    out.push_back({x2, y2, z, 1, color, 1, 1});
    out.push_back({x1, y1, z, 1, color, 0, 0});
}

TEST_F(Rasterizer, PixelCentresSitOnIntegerCoordinatesWithTheTopLeftRule) {
    std::vector<OverlayVertex> v;
    quad(v, 10, 10, 20, 20, 0xFFFFFFFF);
    draw(v, kOverlayFvf);
    const Image image = frame();
    int covered = 0;
    for (UINT y = 0; y < 40; ++y)
        for (UINT x = 0; x < 40; ++x) {
            const bool inside = x >= 10 && x < 20 && y >= 10 && y < 20;
            EXPECT_EQ((image.at(x, y) & 0xFFFFFF) != 0, inside) << x << ", " << y;
            covered += inside;
        }
    EXPECT_EQ(covered, 100);
}

TEST_F(Rasterizer, PretransformedVerticesOffTheGridDrawNothing) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    struct Case {
        const char* what;
        float x, y;       // the one vertex moved
        bool fillsFrame;  // else nothing at all is drawn
    } cases[] = {
        {"not a number", nan, 5.0f, false},
        {"infinite", -inf, 5.0f, false},
        {"far beyond any viewport", 1e30f, -1e30f, false},
        {"just past the grid", 2097152.0f, 5.0f, false},
        {"far out but on the grid", -2000000.0f, -2000000.0f, true},
    };
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    for (const Case& c : cases) {
        device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
        // With the moved vertex up and left, the other two far down and
        // right take in the whole frame.
        draw(std::vector<OverlayVertex>{{c.x, c.y, 0.5f, 1, 0xFFFFFFFF, 0, 0},
                                        {1.5e6f, -1e5f, 0.5f, 1, 0xFFFFFFFF, 0, 0},
                                        {-1e5f, 1.5e6f, 0.5f, 1, 0xFFFFFFFF, 0, 0}},
             kOverlayFvf);
        const Image image = frame();
        const auto lit = std::count_if(image.pixels.begin(), image.pixels.end(),
                                       [](std::uint32_t p) { return (p & 0xFFFFFF) != 0; });
        EXPECT_EQ(std::size_t(lit), c.fillsFrame ? image.pixels.size() : 0u) << c.what;
    }
}

TEST_F(Rasterizer, SharedEdgesCoverEveryPixelExactlyOnce) {
    // A fan of triangles around an off-grid centre, added on top of each
    // other: a pixel drawn twice would show 128 instead of 64.
    std::vector<OverlayVertex> v;
    const float cx = 80.37f, cy = 59.61f;
    const float ring[][2] = {{3.3f, 2.1f}, {80.5f, 1.0f}, {157.25f, 4.75f}, {158.0f, 60.0f}, {150.5f, 117.125f},
                             {79.0f, 118.0f}, {2.0f, 116.5f}, {1.5f, 60.5f}};
    const int n = sizeof ring / sizeof ring[0];
    for (int i = 0; i < n; ++i) {
        const float* a = ring[i];
        const float* b = ring[(i + 1) % n];
        v.push_back({cx, cy, 0.5f, 1, 0xFF000040, 0, 0});
        v.push_back({a[0], a[1], 0.5f, 1, 0xFF000040, 0, 0});
        v.push_back({b[0], b[1], 0.5f, 1, 0xFF000040, 0, 0});
    }
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    draw(v, kOverlayFvf);
    const Image image = frame();
    int once = 0;
    for (std::uint32_t c : image.pixels) {
        const std::uint32_t blue = c & 0xFF;
        EXPECT_TRUE(blue == 0 || blue == 64) << "blue " << blue;
        once += blue == 64;
    }
    EXPECT_GT(once, 15000);
    // Deep inside the fan everything is covered.
    for (UINT y = 20; y < 100; y += 7)
        for (UINT x = 20; x < 140; x += 7)
            EXPECT_EQ(image.at(x, y) & 0xFF, 64u) << x << ", " << y;
}

TEST_F(Rasterizer, CoverageIsExactlyTheEdgeFunctionsWithTheTopLeftRule) {
    // Vertices on a quarter-pixel grid make every edge function an exact
    // integer, so each pixel can be decided here without any rounding:
    // many vertices and edges land on pixel centres, and some edges are
    // horizontal or vertical, which is where a row walker slips by one.
    std::mt19937 random(20261208);
    auto coordinate = [&](int limit) { return int(random() % unsigned(limit)); };
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    int checked = 0;
    for (int n = 0; n < 300; ++n) {
        int q[3][2];
        const int size = n % 3 == 0 ? 4 * 150 : 4 * 24;  // large ones, then many small ones
        const int cx = coordinate(4 * int(kWidth) - size), cy = coordinate(4 * int(kHeight) - std::min(size, 4 * 110));
        for (auto& v : q) {
            v[0] = cx + coordinate(size);
            v[1] = cy + coordinate(std::min(size, 4 * 110));
            if (random() % 3 == 0) {  // onto a pixel centre
                v[0] &= ~3;
                v[1] &= ~3;
            }
        }
        if (n % 5 == 1)
            q[1][1] = q[0][1];  // a horizontal edge
        if (n % 7 == 2)
            q[2][0] = q[1][0];  // a vertical edge
        std::vector<OverlayVertex> v;
        for (auto& p : q)
            v.push_back({float(p[0]) / 4, float(p[1]) / 4, 0.5f, 1, 0xFFFFFFFF, 0, 0});
        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        draw(v, kOverlayFvf);
        const Image image = frame();

        // Screen y runs down: a positive area is clockwise, inside is E > 0,
        // and E == 0 counts on a top edge (horizontal, running right) or a
        // left edge (running up).
        std::int64_t a[2] = {q[0][0], q[0][1]}, b[2] = {q[1][0], q[1][1]}, c[2] = {q[2][0], q[2][1]};
        const std::int64_t area = (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]);
        if (area < 0)
            std::swap(b, c);
        auto covers = [&](const std::int64_t* p, const std::int64_t* r, std::int64_t x, std::int64_t y) {
            const std::int64_t dx = r[0] - p[0], dy = r[1] - p[1];
            const std::int64_t e = dx * (y - p[1]) - dy * (x - p[0]);
            return e > 0 || (e == 0 && (dy < 0 || (dy == 0 && dx > 0)));
        };
        int wrong = 0;
        for (UINT y = 0; y < kHeight; ++y)
            for (UINT x = 0; x < kWidth; ++x) {
                const std::int64_t px = 4 * std::int64_t(x), py = 4 * std::int64_t(y);
                const bool inside =
                    area != 0 && covers(a, b, px, py) && covers(b, c, px, py) && covers(c, a, px, py);
                const bool drawn = (image.at(x, y) & 0xFFFFFF) != 0;
                if (inside != drawn && wrong++ == 0)
                    ADD_FAILURE() << "triangle " << n << " (" << q[0][0] << ", " << q[0][1] << ") (" << q[1][0] << ", "
                                  << q[1][1] << ") (" << q[2][0] << ", " << q[2][1] << ") in quarter pixels: pixel "
                                  << x << ", " << y << (inside ? " missed" : " drawn outside");
                checked += inside;
            }
        if (wrong > 0)
            break;
    }
    EXPECT_GT(checked, 100000);  // the triangles did cover pixels
}

TEST_F(Rasterizer, ClipSpaceFillsExactlyTheViewport) {
    D3DVIEWPORT9 viewport = {30, 20, 50, 40, 0.0f, 1.0f};
    ASSERT_EQ(device_->SetViewport(&viewport), D3D_OK);
    // Identity transforms: the square -1..1 is the whole viewport.
    const D3DCOLOR c = 0xFF00FF00;
    draw(std::vector<ColorVertex>{{-1, -1, 0.5f, c}, {-1, 1, 0.5f, c}, {1, -1, 0.5f, c},
                                 {1, 1, 0.5f, c}, {1, -1, 0.5f, c}, {-1, 1, 0.5f, c}},
         kColorFvf);
    const Image image = frame();
    for (UINT y = 15; y < 65; ++y)
        for (UINT x = 25; x < 85; ++x) {
            const bool inside = x >= 30 && x < 80 && y >= 20 && y < 60;
            EXPECT_EQ(image.at(x, y) & 0xFFFFFF, inside ? 0x00FF00u : 0u) << x << ", " << y;
        }
}

TEST_F(Rasterizer, TrianglesAreClippedAtTheNearPlane) { rule_checks::checkNearPlaneClipping(device_); }

TEST_F(Rasterizer, DepthComparisonsOnEqualDepths) { rule_checks::checkComparisonsOnEqualDepths(device_); }

TEST_F(Rasterizer, DepthWritesCanBeTurnedOffAndTheTestChanged) {
    std::vector<OverlayVertex> near, far;
    quad(near, 10, 10, 50, 50, 0xFFFF0000, 0.2f);
    quad(far, 30, 30, 70, 70, 0xFF0000FF, 0.8f);
    device_->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    draw(near, kOverlayFvf);
    device_->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    draw(far, kOverlayFvf);
    Image image = frame();
    EXPECT_EQ(image.at(40, 40) & 0xFFFFFF, 0x0000FFu) << "the near quad left no depth behind";
    EXPECT_EQ(image.at(20, 20) & 0xFFFFFF, 0xFF0000u);

    // Now red again, but only where it is farther than what is there.
    device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_GREATER);
    std::vector<OverlayVertex> farther;
    quad(farther, 0, 0, 160, 120, 0xFFFF0000, 0.9f);
    draw(farther, kOverlayFvf);
    image = frame();
    EXPECT_EQ(image.at(40, 40) & 0xFFFFFF, 0xFF0000u);  // 0.9 > 0.8
    EXPECT_EQ(image.at(100, 100) & 0xFFFFFF, 0x000000u) << "1.0 from the clear is not exceeded";
}

TEST_F(Rasterizer, BothSourceAlphaFactorsOverrideTheDestinationFactor) {
    // Red with alpha 0x40 over blue; D3DRS_DESTBLEND says ZERO, which the
    // "both" factors replace.
    struct Case {
        DWORD srcBlend;
        std::uint32_t expected;
    };
    const Case cases[] = {{D3DBLEND_BOTHSRCALPHA, 0x4000BFu}, {D3DBLEND_BOTHINVSRCALPHA, 0xBF0040u}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.srcBlend);
        device_->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        std::vector<OverlayVertex> background, front;
        quad(background, 0, 0, 160, 120, 0xFF0000FF);
        draw(background, kOverlayFvf);
        device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
        device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device_->SetRenderState(D3DRS_SRCBLEND, c.srcBlend);
        device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
        quad(front, 20, 20, 60, 60, 0x40FF0000);
        draw(front, kOverlayFvf);
        const Image image = frame();
        EXPECT_EQ(image.at(40, 40) & 0xFFFFFF, c.expected);
        EXPECT_EQ(image.at(80, 80) & 0xFFFFFF, 0x0000FFu);
        DWORD dest = 0;
        device_->GetRenderState(D3DRS_DESTBLEND, &dest);
        EXPECT_EQ(dest, DWORD(D3DBLEND_ZERO)) << "the device keeps the state as it was set";
    }
}

TEST_F(Rasterizer, FlatShadingTakesTheFirstVertexColour) {
    device_->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
    draw(std::vector<OverlayVertex>{{10, 100, 0.5f, 1, 0xFF102030, 0, 0},
                                   {10, 10, 0.5f, 1, 0xFFFFFFFF, 0, 0},
                                   {140, 100, 0.5f, 1, 0xFF000000, 0, 0}},
         kOverlayFvf);
    const Image image = frame();
    EXPECT_EQ(image.at(20, 90) & 0xFFFFFF, 0x102030u);
    EXPECT_EQ(image.at(40, 60) & 0xFFFFFF, 0x102030u);
}

TEST_F(Rasterizer, TextureChangesAfterAFirstDrawAreSeen) {
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device_->CreateTexture(1, 1, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    auto fill = [&](DWORD color) {
        D3DLOCKED_RECT locked;
        ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
        *static_cast<DWORD*>(locked.pBits) = color;
        texture->UnlockRect(0);
    };
    fill(0xFF00FF00);
    device_->SetTexture(0, texture);
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    std::vector<OverlayVertex> v;
    quad(v, 0, 0, 160, 120, 0xFFFFFFFF);
    draw(v, kOverlayFvf);
    EXPECT_EQ(frame().at(80, 60) & 0xFFFFFF, 0x00FF00u);
    fill(0xFFFF00FF);
    draw(v, kOverlayFvf);
    EXPECT_EQ(frame().at(80, 60) & 0xFFFFFF, 0xFF00FFu);
    device_->SetTexture(0, nullptr);
    texture->Release();
}

}  // namespace
