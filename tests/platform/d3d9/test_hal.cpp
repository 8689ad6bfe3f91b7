// HAL (OpenGL) against REF: both must draw the same pictures through the
// same device API, with and without a window. Runs under Xvfb with Mesa.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/common/render_surface.h"
#include "platform/d3d9/backend.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/hal_backend.h"
#include "tests/platform/d3d9/reference_scenes.h"

namespace {

using namespace reference_scenes;
using platform::d3d9::BufferSetup;
using platform::d3d9::FixedFunctionState;
using platform::d3d9::TextureData;
using platform::d3d9::TriangleList;
using platform::d3d9::VertexData;

constexpr double kRequiredAgreement = 0.99;
constexpr int kTolerance = 4;

class HalTest : public ::testing::Test {
protected:
    void SetUp() override {
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d_, nullptr);
        if (FAILED(d3d_->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, TRUE)))
            GTEST_SKIP() << "no OpenGL 3.3 here";
    }
    void TearDown() override {
        if (d3d_) {
            EXPECT_EQ(d3d_->Release(), 0u);
        }
    }

    Image render(D3DDEVTYPE type, Scene scene) {
        IDirect3DDevice9* device = nullptr;
        Image image;
        EXPECT_EQ(createWindowlessDevice(d3d_, type, &device), D3D_OK);
        if (!device)
            return image;
        EXPECT_EQ(renderScene(device, scene), D3D_OK);
        EXPECT_EQ(readBackBuffer(device, &image), D3D_OK);
        EXPECT_EQ(device->Release(), 0u);
        return image;
    }

    IDirect3D9* d3d_ = nullptr;
};

TEST_F(HalTest, AdapterNamesTheOpenGlRenderer) {
    D3DADAPTER_IDENTIFIER9 id{};
    ASSERT_EQ(d3d_->GetAdapterIdentifier(0, 0, &id), D3D_OK);
    EXPECT_EQ(std::string(id.Description), platform::d3d9::halCapabilities().renderer);
    EXPECT_FALSE(platform::d3d9::halCapabilities().renderer.empty());
    D3DCAPS9 caps{};
    EXPECT_EQ(d3d_->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), D3D_OK);
    EXPECT_EQ(caps.DeviceType, D3DDEVTYPE_HAL);
}

TEST_F(HalTest, EverySceneAgreesWithRefWithoutAWindow) {
    for (Scene scene : allScenes()) {
        SCOPED_TRACE(sceneName(scene));
        const Image ref = render(D3DDEVTYPE_REF, scene);
        const Image hal = render(D3DDEVTYPE_HAL, scene);
        ASSERT_EQ(hal.width, ref.width);
        ASSERT_EQ(hal.height, ref.height);
        EXPECT_GE(agreement(hal, ref, kTolerance), kRequiredAgreement);
        // Agreement alone would also hold for two blank pictures.
        EXPECT_NE(hal.at(kWidth / 2, kHeight / 2), 0u);
    }
}

TEST_F(HalTest, LitSurfaceKeepsItsColoursFromBothSides) {
    // No texture is set while stage 0 modulates with one: the diffuse colour
    // must pass through, or the surface would come out black or white.
    for (Scene scene : {Scene::LitMesh, Scene::LitMeshBehind}) {
        SCOPED_TRACE(sceneName(scene));
        const Image hal = render(D3DDEVTYPE_HAL, scene);
        int coloured = 0;
        for (std::uint32_t p : hal.pixels) {
            const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
            const bool clear = r == 0 && g == 0x80 && b == 0xFF;
            if (!clear && r != b)
                ++coloured;
        }
        EXPECT_GT(coloured, int(kWidth * kHeight / 20));
    }
}

TEST_F(HalTest, DepthFormatsThatGlHonoursDrawLikeRef) {
    const Image ref = render(D3DDEVTYPE_REF, Scene::DepthCulling);
    int honoured = 0;
    for (D3DFORMAT depth : {D3DFMT_D16, D3DFMT_D24X8, D3DFMT_D24S8, D3DFMT_D32}) {
        SCOPED_TRACE(depth);
        if (FAILED(d3d_->CheckDepthStencilMatch(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, depth)))
            continue;
        ++honoured;
        D3DPRESENT_PARAMETERS pp{};
        pp.BackBufferWidth = kWidth;
        pp.BackBufferHeight = kHeight;
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.Windowed = TRUE;
        pp.EnableAutoDepthStencil = TRUE;
        pp.AutoDepthStencilFormat = depth;
        IDirect3DDevice9* device = nullptr;
        ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device),
                  D3D_OK);
        ASSERT_EQ(renderScene(device, Scene::DepthCulling), D3D_OK);
        Image hal;
        ASSERT_EQ(readBackBuffer(device, &hal), D3D_OK);
        EXPECT_GE(agreement(hal, ref, kTolerance), kRequiredAgreement);
        EXPECT_EQ(device->Release(), 0u);
    }
    EXPECT_GE(honoured, 1);
}

TEST_F(HalTest, MultisamplingSmoothsEdgesAndKeepsTheRest) {
    DWORD levels = 0;
    if (FAILED(d3d_->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, TRUE, D3DMULTISAMPLE_4_SAMPLES,
                                                &levels)))
        GTEST_SKIP() << "GL offers no 4x multisampling here";
    const Image single = render(D3DDEVTYPE_HAL, Scene::LitMesh);
    D3DPRESENT_PARAMETERS pp{};
    pp.BackBufferWidth = kWidth;
    pp.BackBufferHeight = kHeight;
    pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.Windowed = TRUE;
    pp.EnableAutoDepthStencil = TRUE;
    pp.AutoDepthStencilFormat = D3DFMT_D24X8;
    pp.MultiSampleType = D3DMULTISAMPLE_4_SAMPLES;
    IDirect3DDevice9* device = nullptr;
    ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device),
              D3D_OK);
    ASSERT_EQ(renderScene(device, Scene::LitMesh), D3D_OK);
    Image multi;
    ASSERT_EQ(readBackBuffer(device, &multi), D3D_OK);
    EXPECT_EQ(device->Release(), 0u);
    // Interiors stay as they were; only pixels on the silhouette change.
    const double same = agreement(multi, single, kTolerance);
    EXPECT_GE(same, 0.9);
    EXPECT_LT(same, 1.0);
}

TEST_F(HalTest, PresentShowsTheFrameInTheWindow) {
    platform::RenderSurface surface;
    surface.resize(int(kWidth), int(kHeight));
    surface.show();
    const HWND window = reinterpret_cast<HWND>(&surface);
    platform::registerRenderSurface(window, &surface);

    for (DWORD interval : {D3DPRESENT_INTERVAL_IMMEDIATE, D3DPRESENT_INTERVAL_ONE}) {
        D3DPRESENT_PARAMETERS pp{};
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;  // zero size: the client area
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.hDeviceWindow = window;
        pp.Windowed = TRUE;
        pp.EnableAutoDepthStencil = TRUE;
        pp.AutoDepthStencilFormat = D3DFMT_D24X8;
        pp.PresentationInterval = interval;
        IDirect3DDevice9* device = nullptr;
        ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device),
                  D3D_OK);
        ASSERT_EQ(renderScene(device, Scene::Overlay), D3D_OK);
        Image back;
        ASSERT_EQ(readBackBuffer(device, &back), D3D_OK);
        ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);

        const QImage shown = surface.presentedImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(UINT(shown.width()), kWidth);
        ASSERT_EQ(UINT(shown.height()), kHeight);
        Image presented{kWidth, kHeight, {}};
        for (UINT y = 0; y < kHeight; ++y) {
            const auto* row = reinterpret_cast<const std::uint32_t*>(shown.constScanLine(int(y)));
            presented.pixels.insert(presented.pixels.end(), row, row + kWidth);
        }
        EXPECT_EQ(agreement(presented, back, 0), 1.0);
        EXPECT_GE(agreement(presented, render(D3DDEVTYPE_REF, Scene::Overlay), kTolerance), kRequiredAgreement);
        EXPECT_EQ(device->Release(), 0u);
    }
    platform::unregisterRenderSurface(window);
}

// Below the device: what the backend does with the snapshots it is given.
class HalBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!platform::d3d9::halCapabilities().available)
            GTEST_SKIP() << "no OpenGL 3.3 here";
        backend_ = platform::hal::HalBackend::create();
        ASSERT_NE(backend_, nullptr);
        BufferSetup setup;
        setup.width = 8;
        setup.height = 8;
        setup.colorFormat = D3DFMT_A8R8G8B8;
        setup.depthFormat = D3DFMT_D24X8;
        ASSERT_EQ(backend_->resize(setup), D3D_OK);
        state_ = screenSpaceState();
    }

    static FixedFunctionState screenSpaceState() {
        FixedFunctionState s{};
        s.viewport = {0, 0, 8, 8, 0.0f, 1.0f};
        DWORD* rs = s.renderState;
        rs[D3DRS_ZENABLE] = D3DZB_TRUE;
        rs[D3DRS_ZWRITEENABLE] = TRUE;
        rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
        rs[D3DRS_CULLMODE] = D3DCULL_CCW;
        rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
        rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
        rs[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
        rs[D3DRS_COLORWRITEENABLE] = 0xF;
        rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
        rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
        for (auto& stage : s.stageState) {
            stage[D3DTSS_COLOROP] = D3DTOP_DISABLE;
            stage[D3DTSS_ALPHAOP] = D3DTOP_DISABLE;
        }
        for (auto& sampler : s.samplerState) {
            sampler[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
            sampler[D3DSAMP_MAGFILTER] = D3DTEXF_POINT;
            sampler[D3DSAMP_ADDRESSU] = D3DTADDRESS_WRAP;
            sampler[D3DSAMP_ADDRESSV] = D3DTADDRESS_WRAP;
        }
        return s;
    }

    struct ScreenVertex {
        float x, y, z, rhw;
        D3DCOLOR color;
        float u, v;
    };
    // Two triangles covering pixels x0..x1-1, y0..y1-1, texels on pixels.
    static std::vector<ScreenVertex> quad(float x0, float y0, float x1, float y1, D3DCOLOR c, float z = 0.5f) {
        const ScreenVertex a{x0 - 0.5f, y1 - 0.5f, z, 1, c, 0, 1}, b{x0 - 0.5f, y0 - 0.5f, z, 1, c, 0, 0};
        const ScreenVertex d{x1 - 0.5f, y1 - 0.5f, z, 1, c, 1, 1}, e{x1 - 0.5f, y0 - 0.5f, z, 1, c, 1, 0};
        return {a, b, d, e, d, b};
    }

    void draw(const std::vector<ScreenVertex>& vertices, std::uint64_t id, std::uint64_t version) {
        data_.bytes = reinterpret_cast<const BYTE*>(vertices.data());
        data_.size = UINT(vertices.size() * sizeof(ScreenVertex));
        data_.id = id;
        data_.version = version;
        TriangleList list;
        list.fvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;
        list.vertices = &data_;
        list.stride = sizeof(ScreenVertex);
        list.triangleCount = UINT(vertices.size() / 3);
        backend_->drawTriangles(state_, list);
    }

    std::vector<DWORD> pixels() {
        std::vector<DWORD> p(64);
        backend_->readBackBuffer(p.data(), 32);
        return p;
    }

    std::unique_ptr<platform::hal::HalBackend> backend_;
    FixedFunctionState state_{};
    VertexData data_;
};

TEST_F(HalBackendTest, ScreenSpaceQuadsCoverExactlyTheirPixels) {
    backend_->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, nullptr, 0, 0xFF000000, 1.0f, 0);
    draw(quad(2, 3, 6, 5, 0xFFFF0000), 1, 1);
    const std::vector<DWORD> p = pixels();
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            SCOPED_TRACE(testing::Message() << x << "," << y);
            const bool inside = x >= 2 && x < 6 && y >= 3 && y < 5;
            EXPECT_EQ(p[y * 8 + x], inside ? 0xFFFF0000u : 0xFF000000u);
        }
}

TEST_F(HalBackendTest, VertexBuffersAreRefreshedOnlyForANewVersion) {
    backend_->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, nullptr, 0, 0xFF000000, 1.0f, 0);
    std::vector<ScreenVertex> v = quad(0, 0, 8, 8, 0xFF00FF00);
    draw(v, 7, 1);
    EXPECT_EQ(pixels()[0], 0xFF00FF00u);
    // The same version means the same bytes: what GL holds is drawn.
    for (ScreenVertex& vertex : v)
        vertex.color = 0xFF0000FF;
    state_.renderState[D3DRS_ZFUNC] = D3DCMP_ALWAYS;
    draw(v, 7, 1);
    EXPECT_EQ(pixels()[0], 0xFF00FF00u);
    draw(v, 7, 2);
    EXPECT_EQ(pixels()[0], 0xFF0000FFu);
    // A forgotten buffer is uploaded afresh under the same id.
    backend_->forget(7);
    for (ScreenVertex& vertex : v)
        vertex.color = 0xFFFFFFFF;
    draw(v, 7, 2);
    EXPECT_EQ(pixels()[0], 0xFFFFFFFFu);
}

TEST_F(HalBackendTest, RepeatedFramesReuseTheirPrograms) {
    for (int frame = 0; frame < 3; ++frame) {
        backend_->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, nullptr, 0, 0xFF000000, 1.0f, 0);
        draw(quad(0, 0, 4, 4, 0xFF102030 + frame), 1, 1 + frame);
        state_.renderState[D3DRS_ALPHATESTENABLE] = TRUE;
        draw(quad(4, 4, 8, 8, 0xFF405060), 2, 1);
        state_.renderState[D3DRS_ALPHATESTENABLE] = FALSE;
    }
    EXPECT_EQ(backend_->programCount(), 2u);
}

TEST_F(HalBackendTest, TextureFormatsDecodeLikeTheDevice) {
    // One texel per pixel, point sampled, selected as is.
    FixedFunctionState& s = state_;
    s.stageState[0][D3DTSS_COLOROP] = D3DTOP_SELECTARG1;
    s.stageState[0][D3DTSS_COLORARG1] = D3DTA_TEXTURE;
    s.stageState[0][D3DTSS_ALPHAOP] = D3DTOP_SELECTARG1;
    s.stageState[0][D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
    s.renderState[D3DRS_ZENABLE] = D3DZB_FALSE;

    const std::uint16_t argb4444[4] = {0xF800, 0x80F0, 0x000F, 0x1234};
    const std::uint32_t argb8888[4] = {0x80FF0000, 0x0000FF00, 0xFF0000FF, 0x12345678};
    struct Case {
        D3DFORMAT format;
        const void* texels;
        UINT pitch;
        DWORD expected[4];
    } cases[] = {
        {D3DFMT_A4R4G4B4, argb4444, 4, {0xFF880000, 0x8800FF00, 0x000000FF, 0x11223344}},
        {D3DFMT_A8R8G8B8, argb8888, 8, {0x80FF0000, 0x0000FF00, 0xFF0000FF, 0x12345678}},
        {D3DFMT_X8R8G8B8, argb8888, 8, {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFF345678}},
    };
    std::uint64_t id = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        TextureData texture;
        texture.width = 2;
        texture.height = 2;
        texture.format = c.format;
        texture.pitch = c.pitch;
        texture.bits = static_cast<const BYTE*>(c.texels);
        texture.id = ++id;
        texture.version = 1;
        s.texture[0] = &texture;
        backend_->clear(D3DCLEAR_TARGET, nullptr, 0, 0, 1.0f, 0);
        draw(quad(0, 0, 2, 2, 0xFFFFFFFF), 1, 1);
        const std::vector<DWORD> p = pixels();
        EXPECT_EQ(p[0], c.expected[0]);
        EXPECT_EQ(p[1], c.expected[1]);
        EXPECT_EQ(p[8], c.expected[2]);
        EXPECT_EQ(p[9], c.expected[3]);
    }
    s.texture[0] = nullptr;
}

TEST_F(HalBackendTest, ClearRectanglesAndWritesLandWhereTheDeviceSaysTopRowFirst) {
    backend_->clear(D3DCLEAR_TARGET, nullptr, 0, 0xFF000000, 1.0f, 0);
    const D3DRECT rect{1, 0, 3, 2};
    backend_->clear(D3DCLEAR_TARGET, &rect, 1, 0xFF0000FF, 1.0f, 0);
    const DWORD block[4] = {0x11223344, 0x55667788, 0x99AABBCC, 0xDDEEFF00};
    backend_->writeBackBuffer(RECT{5, 6, 7, 8}, block, 8);
    const std::vector<DWORD> p = pixels();
    EXPECT_EQ(p[0], 0xFF000000u);
    EXPECT_EQ(p[1], 0xFF0000FFu);
    EXPECT_EQ(p[8 + 2], 0xFF0000FFu);
    EXPECT_EQ(p[2 * 8 + 1], 0xFF000000u);
    EXPECT_EQ(p[6 * 8 + 5], block[0]);
    EXPECT_EQ(p[6 * 8 + 6], block[1]);
    EXPECT_EQ(p[7 * 8 + 5], block[2]);
    EXPECT_EQ(p[7 * 8 + 6], block[3]);
    EXPECT_EQ(p[5 * 8 + 5], 0xFF000000u);
}

TEST_F(HalBackendTest, ImpossibleBackBuffersAreRefused) {
    BufferSetup setup;
    setup.width = 8;
    setup.height = 8;
    setup.colorFormat = D3DFMT_R5G6B5;
    EXPECT_EQ(backend_->resize(setup), D3DERR_NOTAVAILABLE);
    setup.colorFormat = D3DFMT_X8R8G8B8;
    setup.depthFormat = D3DFMT_D15S1;
    EXPECT_EQ(backend_->resize(setup), D3DERR_NOTAVAILABLE);
    setup.depthFormat = D3DFMT_UNKNOWN;
    setup.multiSampleType = D3DMULTISAMPLE_16_SAMPLES;
    if (platform::d3d9::halCapabilities().maxSamples < 16) {
        EXPECT_EQ(backend_->resize(setup), D3DERR_NOTAVAILABLE);
    }
    setup.multiSampleType = D3DMULTISAMPLE_NONE;
    setup.width = 0;
    EXPECT_EQ(backend_->resize(setup), D3DERR_INVALIDCALL);
    // After refusals a good setup still works, and an X8 buffer reads opaque.
    setup.width = 8;
    ASSERT_EQ(backend_->resize(setup), D3D_OK);
    backend_->clear(D3DCLEAR_TARGET, nullptr, 0, 0x00123456, 1.0f, 0);
    EXPECT_EQ(pixels()[63], 0xFF123456u);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
