// HAL (OpenGL) against REF: both must draw the same pictures through the
// same device API, with and without a window. Runs under Xvfb with Mesa.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/common/render_surface.h"
#include "platform/d3d9/backend.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/hal_backend.h"
#include "platform/d3d9/test_hooks.h"
#include "tests/platform/d3d9/reference_scenes.h"
#include "tests/platform/d3d9/rule_checks.h"

namespace {

using namespace reference_scenes;
using platform::d3d9::BufferSetup;
using platform::d3d9::FixedFunctionState;
using platform::d3d9::TextureData;
using platform::d3d9::TriangleList;
using platform::d3d9::VertexData;

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

// The driver loaded ahead of the first context must be the very one the GL
// library goes on to use, not a second copy beside it.
TEST_F(HalTest, TheOpenGlDriverIsLoadedOnce) {
    IDirect3DDevice9* device = nullptr;
    ASSERT_EQ(createWindowlessDevice(d3d_, D3DDEVTYPE_HAL, &device), D3D_OK);
    std::ifstream maps("/proc/self/maps");
    int loads = 0;
    for (std::string line; std::getline(maps, line);) {
        std::istringstream fields(line);
        std::string range, permissions, offset, deviceId, inode, path;
        fields >> range >> permissions >> offset >> deviceId >> inode >> path;
        const bool driver = path.size() > 7 && path.compare(path.size() - 7, 7, "_dri.so") == 0;
        if (driver && std::stoull(offset, nullptr, 16) == 0)
            ++loads;
    }
    EXPECT_EQ(device->Release(), 0u);
    if (loads == 0)
        GTEST_SKIP() << "OpenGL here does not come from a Mesa driver";
    EXPECT_EQ(loads, 1);
}

TEST_F(HalTest, EverySceneAgreesWithRefWithoutAWindow) {
    for (Scene scene : allScenes()) {
        SCOPED_TRACE(sceneName(scene));
        const Image ref = render(D3DDEVTYPE_REF, scene);
        const Image hal = render(D3DDEVTYPE_HAL, scene);
        ASSERT_EQ(hal.width, ref.width);
        ASSERT_EQ(hal.height, ref.height);
        EXPECT_GE(agreement(hal, ref, kHalTolerance), kHalAgreement);
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
        D3DPRESENT_PARAMETERS pp = windowedParameters(kWidth, kHeight, depth);
        IDirect3DDevice9* device = nullptr;
        ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device),
                  D3D_OK);
        ASSERT_EQ(renderScene(device, Scene::DepthCulling), D3D_OK);
        Image hal;
        ASSERT_EQ(readBackBuffer(device, &hal), D3D_OK);
        EXPECT_GE(agreement(hal, ref, kHalTolerance), kHalAgreement);
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
    D3DPRESENT_PARAMETERS pp = windowedParameters(kWidth, kHeight, D3DFMT_D24X8);
    pp.MultiSampleType = D3DMULTISAMPLE_4_SAMPLES;
    IDirect3DDevice9* device = nullptr;
    ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device),
              D3D_OK);
    ASSERT_EQ(renderScene(device, Scene::LitMesh), D3D_OK);
    Image multi;
    ASSERT_EQ(readBackBuffer(device, &multi), D3D_OK);
    EXPECT_EQ(device->Release(), 0u);
    // Interiors stay as they were; only pixels on the silhouette change.
    const double same = agreement(multi, single, kHalTolerance);
    EXPECT_GE(same, 0.9);
    EXPECT_LT(same, 1.0);
}

TEST_F(HalTest, ResetToAnotherSizeAndDepthKeepsDrawingLikeRef) {
    Image after[2];
    const D3DDEVTYPE types[2] = {D3DDEVTYPE_REF, D3DDEVTYPE_HAL};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(types[i]);
        IDirect3DDevice9* device = nullptr;
        ASSERT_EQ(createWindowlessDevice(d3d_, types[i], &device), D3D_OK);
        ASSERT_EQ(renderScene(device, Scene::LitMesh), D3D_OK);
        D3DPRESENT_PARAMETERS pp{};
        pp.BackBufferWidth = kWidth + 50;
        pp.BackBufferHeight = kHeight - 30;
        pp.BackBufferFormat = D3DFMT_A8R8G8B8;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.Windowed = TRUE;
        pp.EnableAutoDepthStencil = TRUE;
        pp.AutoDepthStencilFormat = D3DFMT_D16;
        ASSERT_EQ(device->Reset(&pp), D3D_OK);
        ASSERT_EQ(renderScene(device, Scene::DepthCulling), D3D_OK);
        ASSERT_EQ(readBackBuffer(device, &after[i]), D3D_OK);
        EXPECT_EQ(device->Release(), 0u);
    }
    ASSERT_EQ(after[1].width, kWidth + 50);
    ASSERT_EQ(after[1].height, kHeight - 30);
    EXPECT_GE(agreement(after[1], after[0], kHalTolerance), kHalAgreement);
}

TEST_F(HalTest, TwoDevicesKeepTheirOwnPictures) {
    // Each device has its own GL context; every call must land in the right one.
    IDirect3DDevice9* first = nullptr;
    IDirect3DDevice9* second = nullptr;
    ASSERT_EQ(createWindowlessDevice(d3d_, D3DDEVTYPE_HAL, &first), D3D_OK);
    ASSERT_EQ(createWindowlessDevice(d3d_, D3DDEVTYPE_HAL, &second), D3D_OK);
    ASSERT_EQ(renderScene(first, Scene::Overlay), D3D_OK);
    ASSERT_EQ(renderScene(second, Scene::LitQuad), D3D_OK);
    Image a, b;
    ASSERT_EQ(readBackBuffer(first, &a), D3D_OK);
    ASSERT_EQ(readBackBuffer(second, &b), D3D_OK);
    EXPECT_EQ(second->Release(), 0u);
    EXPECT_GE(agreement(a, render(D3DDEVTYPE_REF, Scene::Overlay), kHalTolerance), kHalAgreement);
    EXPECT_GE(agreement(b, render(D3DDEVTYPE_REF, Scene::LitQuad), kHalTolerance), kHalAgreement);
    // Still drawing after its sibling (and that one's context) is gone.
    ASSERT_EQ(renderScene(first, Scene::DepthCulling), D3D_OK);
    ASSERT_EQ(readBackBuffer(first, &a), D3D_OK);
    EXPECT_GE(agreement(a, render(D3DDEVTYPE_REF, Scene::DepthCulling), kHalTolerance), kHalAgreement);
    EXPECT_EQ(first->Release(), 0u);
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
        EXPECT_GE(agreement(presented, render(D3DDEVTYPE_REF, Scene::Overlay), kHalTolerance), kHalAgreement);
        EXPECT_EQ(device->Release(), 0u);
    }
    platform::unregisterRenderSurface(window);
}

TEST_F(HalTest, NearPlaneClippingAndEqualDepthsFollowTheDeviceRules) {
    IDirect3DDevice9* device = nullptr;
    ASSERT_EQ(createWindowlessDevice(d3d_, D3DDEVTYPE_HAL, &device), D3D_OK);
    rule_checks::checkNearPlaneClipping(device);
    rule_checks::checkComparisonsOnEqualDepths(device);
    EXPECT_EQ(device->Release(), 0u);
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

TEST_F(HalTest, AProgramThatDoesNotBuildIsReportedOnceAndFailsItsDraws) {
    IDirect3DDevice9* device = nullptr;
    ASSERT_EQ(createWindowlessDevice(d3d_, D3DDEVTYPE_HAL, &device), D3D_OK);
    platform::d3d9::testing::SetHalShadersBroken(true);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(renderScene(device, Scene::LitQuad), D3DERR_DRIVERINTERNALERROR);
    EXPECT_EQ(renderScene(device, Scene::LitQuad), D3DERR_DRIVERINTERNALERROR) << "the same shape fails again";
    const std::string log = ::testing::internal::GetCapturedStderr();
    platform::d3d9::testing::SetHalShadersBroken(false);
    EXPECT_EQ(occurrences(log, "HAL: a fixed-function program could not be built"), 1u) << log;
    EXPECT_NE(log.find("broken on purpose"), std::string::npos) << "the compiler's own words: " << log;
    // Other shapes, built now, draw as before.
    EXPECT_EQ(renderScene(device, Scene::Overlay), D3D_OK);
    Image image;
    ASSERT_EQ(readBackBuffer(device, &image), D3D_OK);
    EXPECT_GE(agreement(image, render(D3DDEVTYPE_REF, Scene::Overlay), kHalTolerance), kHalAgreement);
    EXPECT_EQ(device->Release(), 0u);
}

TEST_F(HalTest, ALostContextLosesTheDeviceUntilAResetMakesANewOne) {
    IDirect3DDevice9* device = nullptr;
    ASSERT_EQ(createWindowlessDevice(d3d_, D3DDEVTYPE_HAL, &device), D3D_OK);
    ASSERT_EQ(renderScene(device, Scene::LitMesh), D3D_OK);
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);

    ASSERT_TRUE(platform::d3d9::testing::LoseHalContext(device));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(renderScene(device, Scene::LitMesh), D3D_OK) << "drawing on a lost device is no error";
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(occurrences(log, "OpenGL context was lost"), 1u) << log;

    D3DPRESENT_PARAMETERS pp = windowedParameters(kWidth, kHeight, D3DFMT_D24X8);
    ASSERT_EQ(device->Reset(&pp), D3D_OK);
    EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
    ASSERT_EQ(renderScene(device, Scene::LitMesh), D3D_OK);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    Image image;
    ASSERT_EQ(readBackBuffer(device, &image), D3D_OK);
    EXPECT_GE(agreement(image, render(D3DDEVTYPE_REF, Scene::LitMesh), kHalTolerance), kHalAgreement)
        << "the managed vertex buffer reached the new context";
    EXPECT_EQ(device->Release(), 0u);

    // Only HAL has a context to lose; asking first is a loss too.
    IDirect3DDevice9* ref = nullptr;
    ASSERT_EQ(createWindowlessDevice(d3d_, D3DDEVTYPE_REF, &ref), D3D_OK);
    EXPECT_FALSE(platform::d3d9::testing::LoseHalContext(ref));
    EXPECT_EQ(ref->Release(), 0u);
    ASSERT_EQ(createWindowlessDevice(d3d_, D3DDEVTYPE_HAL, &device), D3D_OK);
    ASSERT_TRUE(platform::d3d9::testing::LoseHalContext(device));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(device->Release(), 0u);
}

TEST_F(HalTest, CreationFailsWhileForcedAndWorksAgainAfter) {
    IDirect3DDevice9* device = nullptr;
    platform::d3d9::testing::SetHalCreationFails(true);
    EXPECT_EQ(createWindowlessDevice(d3d_, D3DDEVTYPE_HAL, &device), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(device, nullptr);
    platform::d3d9::testing::SetHalCreationFails(false);
    ASSERT_EQ(createWindowlessDevice(d3d_, D3DDEVTYPE_HAL, &device), D3D_OK);
    EXPECT_EQ(device->Release(), 0u);
}

// The device's defaults for everything these tests touch.
FixedFunctionState deviceDefaults() {
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
        state_ = deviceDefaults();
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

    HRESULT draw(const std::vector<ScreenVertex>& vertices, std::uint64_t id, std::uint64_t version) {
        data_.bytes = reinterpret_cast<const BYTE*>(vertices.data());
        data_.size = UINT(vertices.size() * sizeof(ScreenVertex));
        data_.id = id;
        data_.version = version;
        TriangleList list;
        list.fvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;
        list.vertices = &data_;
        list.stride = sizeof(ScreenVertex);
        list.triangleCount = UINT(vertices.size() / 3);
        return backend_->drawTriangles(state_, list);
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

// The driver refuses what it is asked to allocate: each call says so, the
// cause reaches standard error once, and nothing refused is taken for
// uploaded, so the same data draws once the driver gives the memory.
TEST_F(HalBackendTest, AllocationsTheDriverRefusesFailTheirCallsAndAreRetried) {
    using platform::d3d9::testing::SetHalAllocationsFail;
    ASSERT_EQ(backend_->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, nullptr, 0, 0xFF000000, 1.0f, 0), D3D_OK);
    const std::vector<ScreenVertex> v = quad(0, 0, 8, 8, 0xFF00FF00);
    std::vector<DWORD> white(64, 0xFFFFFFFF);
    std::vector<BYTE> texels(16, 0xFF);
    TextureData texture{2, 2, D3DFMT_A8R8G8B8, 8, texels.data(), 9, 1};
    state_.texture[0] = &texture;
    state_.stageState[0][D3DTSS_COLOROP] = D3DTOP_SELECTARG2;
    state_.stageState[0][D3DTSS_COLORARG2] = D3DTA_DIFFUSE;
    BufferSetup bigger;
    bigger.width = bigger.height = 16;

    SetHalAllocationsFail(true);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(draw(v, 5, 1), D3DERR_OUTOFVIDEOMEMORY) << "the texture";
    state_.texture[0] = nullptr;
    EXPECT_EQ(draw(v, 5, 1), D3DERR_OUTOFVIDEOMEMORY) << "the vertex buffer";
    EXPECT_EQ(draw(v, 5, 1), D3DERR_OUTOFVIDEOMEMORY) << "and again: it was not marked uploaded";
    EXPECT_EQ(backend_->writeBackBuffer(RECT{0, 0, 8, 8}, white.data(), 32), D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(backend_->resize(bigger), D3DERR_OUTOFVIDEOMEMORY);
    SetHalAllocationsFail(false);
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(occurrences(log, "HAL: OpenGL reported GL_INVALID_VALUE"), 1u) << "each error code once: " << log;
    EXPECT_EQ(occurrences(log, "\n"), 1u) << log;

    BufferSetup setup;
    setup.width = setup.height = 8;
    setup.colorFormat = D3DFMT_A8R8G8B8;
    ASSERT_EQ(backend_->resize(setup), D3D_OK);
    EXPECT_EQ(draw(v, 5, 1), D3D_OK);
    EXPECT_EQ(pixels()[0], 0xFF00FF00u);
    state_.texture[0] = &texture;
    EXPECT_EQ(draw(v, 5, 1), D3D_OK);
    EXPECT_EQ(backend_->writeBackBuffer(RECT{0, 0, 8, 8}, white.data(), 32), D3D_OK);
    EXPECT_EQ(pixels()[63], 0xFFFFFFFFu);
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
    backend_->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, nullptr, 0, 0x00123456, 1.0f, 0);
    EXPECT_EQ(pixels()[63], 0xFF123456u);
    // Drawing transparent colour keeps it so, and blending sees an alpha of one.
    draw(quad(0, 0, 4, 8, 0x00FF0000), 1, 1);
    state_.renderState[D3DRS_ALPHABLENDENABLE] = TRUE;
    state_.renderState[D3DRS_SRCBLEND] = D3DBLEND_INVDESTALPHA;
    state_.renderState[D3DRS_DESTBLEND] = D3DBLEND_DESTALPHA;
    draw(quad(4, 0, 8, 8, 0x0000FF00), 2, 1);
    EXPECT_EQ(pixels()[0], 0xFFFF0000u);
    EXPECT_EQ(pixels()[63], 0xFF123456u);
}

// The same snapshots through REF and HAL, one pipeline variation at a time:
// a lit, textured, coloured fan in perspective under a screen-space overlay.
class HalMatchesRefTest : public ::testing::Test {
protected:
    static constexpr UINT kSide = 64;

    struct MeshVertex {
        float x, y, z, nx, ny, nz;
        D3DCOLOR color;
        float u, v;
    };
    struct OverlayVertex {
        float x, y, z, rhw;
        D3DCOLOR color;
        float u, v;
    };

    void SetUp() override {
        if (!platform::d3d9::halCapabilities().available)
            GTEST_SKIP() << "no OpenGL 3.3 here";
        // A fan of triangles around a raised centre, both windings, so that
        // either cull mode leaves something to draw.
        const int kSlices = 12;
        for (int i = 0; i < kSlices; ++i) {
            const float a0 = 6.2831853f * float(i) / kSlices, a1 = 6.2831853f * float(i + 1) / kSlices;
            const MeshVertex c{0, 0, -0.6f, 0, 0.3f, -1, 0xFFFFFFFF, 0.5f, 0.5f};
            const MeshVertex p{1.8f * std::cos(a0), 1.8f * std::sin(a0), 0.4f, std::cos(a0), std::sin(a0), -0.5f,
                               D3DCOLOR(0x80000000u | (i * 20u) << 16 | 0x2000u | (255u - i * 20u)),
                               0.5f + std::cos(a0), 0.5f + std::sin(a0)};
            const MeshVertex q{1.8f * std::cos(a1), 1.8f * std::sin(a1), 0.4f, std::cos(a1), std::sin(a1), -0.5f,
                               0xFF40C020, 0.5f + std::cos(a1), 0.5f + std::sin(a1)};
            if (i % 3 == 0)
                mesh_.insert(mesh_.end(), {c, p, q});
            else
                mesh_.insert(mesh_.end(), {c, q, p});
        }
        const OverlayVertex o[6] = {{3.5f, 40.5f, 0.2f, 1, 0xC0FFFFFF, 0, 1}, {3.5f, 3.5f, 0.2f, 1, 0xC0FFFFFF, 0, 0},
                                    {27.5f, 40.5f, 0.2f, 1, 0x40FF8000, 1, 1}, {27.5f, 3.5f, 0.2f, 1, 0x40FF8000, 1, 0},
                                    {27.5f, 40.5f, 0.2f, 1, 0x40FF8000, 1, 1}, {3.5f, 3.5f, 0.2f, 1, 0xC0FFFFFF, 0, 0}};
        overlay_.assign(o, o + 6);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                texels_[y * 8 + x] = std::uint16_t(((x + y) % 8) << 12 | (x * 2) << 8 | (y * 2) << 4 | 0x9);
        texture_ = {8, 8, D3DFMT_A4R4G4B4, 16, reinterpret_cast<const BYTE*>(texels_), 500, 1};

        state_ = deviceDefaults();
        D3DMATRIX& view = state_.view;
        view = {};
        view._11 = view._22 = view._33 = view._44 = 1.0f;
        view._43 = 4.0f;
        state_.world = view;
        state_.world._43 = 0.0f;
        state_.world._21 = 0.25f;  // a shear, so normals need the inverse transpose
        D3DMATRIX& proj = state_.projection;
        proj = {};
        proj._11 = proj._22 = 2.4142137f;
        proj._33 = 100.0f / 99.0f;
        proj._34 = 1.0f;
        proj._43 = -100.0f / 99.0f;
        state_.viewport = {0, 0, kSide, kSide, 0.0f, 1.0f};
        state_.material.Diffuse = {1, 1, 1, 1};
        state_.material.Ambient = {0.5f, 0.7f, 1, 1};
        state_.material.Emissive = {0.05f, 0, 0, 0};
        state_.lightCount = 2;
        state_.lights[0].Type = D3DLIGHT_DIRECTIONAL;
        state_.lights[0].Diffuse = {1, 0.9f, 0.8f, 1};
        state_.lights[0].Direction = {-0.4082483f, -0.4082483f, 0.8164966f};
        state_.lights[1].Type = D3DLIGHT_DIRECTIONAL;
        state_.lights[1].Diffuse = {0.2f, 0.2f, 0.5f, 1};
        state_.lights[1].Ambient = {0.1f, 0.1f, 0.1f, 1};
        state_.lights[1].Direction = {1, 0, 0};
        DWORD* rs = state_.renderState;
        rs[D3DRS_LIGHTING] = TRUE;
        rs[D3DRS_AMBIENT] = 0x000F0F0F;
        rs[D3DRS_COLORVERTEX] = TRUE;
        rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
        rs[D3DRS_AMBIENTMATERIALSOURCE] = D3DMCS_MATERIAL;
        rs[D3DRS_EMISSIVEMATERIALSOURCE] = D3DMCS_MATERIAL;
        rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
        rs[D3DRS_BLENDFACTOR] = 0xFF808080;
        state_.stageState[0][D3DTSS_COLOROP] = D3DTOP_MODULATE;
        state_.stageState[0][D3DTSS_COLORARG1] = D3DTA_TEXTURE;
        state_.stageState[0][D3DTSS_COLORARG2] = D3DTA_DIFFUSE;
        state_.stageState[0][D3DTSS_ALPHAOP] = D3DTOP_MODULATE;
        state_.stageState[0][D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        state_.stageState[0][D3DTSS_ALPHAARG2] = D3DTA_DIFFUSE;
        state_.texture[0] = &texture_;
        overlayState_ = state_;
        overlayState_.renderState[D3DRS_ZENABLE] = D3DZB_FALSE;
        overlayState_.renderState[D3DRS_ALPHABLENDENABLE] = TRUE;
        overlayState_.renderState[D3DRS_SRCBLEND] = D3DBLEND_SRCALPHA;
        overlayState_.renderState[D3DRS_DESTBLEND] = D3DBLEND_INVSRCALPHA;
    }

    Image draw(platform::d3d9::Backend& backend, D3DFORMAT colorFormat = D3DFMT_X8R8G8B8) {
        BufferSetup setup;
        setup.width = kSide;
        setup.height = kSide;
        setup.colorFormat = colorFormat;
        setup.depthFormat = D3DFMT_D24X8;
        EXPECT_EQ(backend.resize(setup), D3D_OK);
        backend.clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, nullptr, 0, 0x80204060, 1.0f, 0);
        const VertexData meshData{reinterpret_cast<const BYTE*>(mesh_.data()), UINT(mesh_.size() * sizeof(MeshVertex)),
                                  900, 1};
        const VertexData overlayData{reinterpret_cast<const BYTE*>(overlay_.data()),
                                     UINT(overlay_.size() * sizeof(OverlayVertex)), 901, 1};
        TriangleList mesh{D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1, &meshData, 0,
                          sizeof(MeshVertex), UINT(mesh_.size() / 3)};
        TriangleList overlay{D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1, &overlayData, 0, sizeof(OverlayVertex), 2};
        backend.drawTriangles(state_, mesh);
        backend.drawTriangles(overlayState_, overlay);
        Image image{kSide, kSide, std::vector<std::uint32_t>(kSide * kSide)};
        backend.readBackBuffer(reinterpret_cast<DWORD*>(image.pixels.data()), kSide * 4);
        return image;
    }

    void expectSamePicture(D3DFORMAT colorFormat = D3DFMT_X8R8G8B8) {
        auto ref = platform::d3d9::createRefBackend();
        auto hal = platform::hal::HalBackend::create();
        ASSERT_NE(hal, nullptr);
        const Image a = draw(*ref, colorFormat), b = draw(*hal, colorFormat);
        EXPECT_GE(agreement(a, b, kHalTolerance), kHalAgreement);
        // Alpha too, which agreement() leaves out.
        int alphaOff = 0;
        for (std::size_t i = 0; i < a.pixels.size(); ++i)
            alphaOff += std::abs(int(a.pixels[i] >> 24) - int(b.pixels[i] >> 24)) > kHalTolerance;
        EXPECT_LE(alphaOff, int(a.pixels.size() / 100));
    }

    std::vector<MeshVertex> mesh_;
    std::vector<OverlayVertex> overlay_;
    std::uint16_t texels_[64];
    TextureData texture_;
    FixedFunctionState state_{}, overlayState_{};
};

TEST_F(HalMatchesRefTest, DefaultsOfTheProgram) { expectSamePicture(); }

TEST_F(HalMatchesRefTest, CullingAndShading) {
    for (DWORD cull : {D3DCULL_NONE, D3DCULL_CW}) {
        SCOPED_TRACE(cull);
        state_.renderState[D3DRS_CULLMODE] = cull;
        expectSamePicture();
    }
    state_.renderState[D3DRS_SHADEMODE] = D3DSHADE_FLAT;
    state_.renderState[D3DRS_NORMALIZENORMALS] = TRUE;
    expectSamePicture();
    state_.renderState[D3DRS_LIGHTING] = FALSE;
    expectSamePicture();
}

TEST_F(HalMatchesRefTest, MaterialSourcesAndNoTexture) {
    state_.renderState[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_MATERIAL;
    state_.renderState[D3DRS_AMBIENTMATERIALSOURCE] = D3DMCS_COLOR1;
    expectSamePicture();
    state_.renderState[D3DRS_COLORVERTEX] = FALSE;
    state_.stageState[0][D3DTSS_COLOROP] = D3DTOP_DISABLE;
    state_.texture[0] = nullptr;
    expectSamePicture();
}

TEST_F(HalMatchesRefTest, TextureStageOperations) {
    const DWORD ops[] = {D3DTOP_SELECTARG1, D3DTOP_SELECTARG2, D3DTOP_MODULATE2X, D3DTOP_ADD, D3DTOP_ADDSIGNED,
                         D3DTOP_SUBTRACT,   D3DTOP_ADDSMOOTH,  D3DTOP_BLENDDIFFUSEALPHA, D3DTOP_BLENDTEXTUREALPHA};
    for (DWORD op : ops) {
        SCOPED_TRACE(op);
        overlayState_.stageState[0][D3DTSS_COLOROP] = op;
        state_.stageState[0][D3DTSS_COLOROP] = op;
        state_.stageState[0][D3DTSS_COLORARG2] = D3DTA_DIFFUSE | D3DTA_COMPLEMENT;
        state_.stageState[0][D3DTSS_ALPHAARG1] = D3DTA_TFACTOR;
        state_.renderState[D3DRS_TEXTUREFACTOR] = 0x9080FF40;
        expectSamePicture(D3DFMT_A8R8G8B8);
    }
    // A second stage that adds the texture's alpha to what the first made.
    state_.stageState[1][D3DTSS_COLOROP] = D3DTOP_ADD;
    state_.stageState[1][D3DTSS_COLORARG1] = D3DTA_CURRENT;
    state_.stageState[1][D3DTSS_COLORARG2] = D3DTA_TEXTURE | D3DTA_ALPHAREPLICATE;
    state_.stageState[1][D3DTSS_ALPHAOP] = D3DTOP_DISABLE;
    state_.texture[1] = &texture_;
    expectSamePicture(D3DFMT_A8R8G8B8);
}

TEST_F(HalMatchesRefTest, FilteringAndAddressing) {
    for (DWORD address : {D3DTADDRESS_MIRROR, D3DTADDRESS_CLAMP, D3DTADDRESS_BORDER}) {
        SCOPED_TRACE(address);
        state_.samplerState[0][D3DSAMP_ADDRESSU] = address;
        state_.samplerState[0][D3DSAMP_ADDRESSV] = address;
        state_.samplerState[0][D3DSAMP_MINFILTER] = D3DTEXF_LINEAR;
        state_.samplerState[0][D3DSAMP_MAGFILTER] = D3DTEXF_LINEAR;
        overlayState_.samplerState[0][D3DSAMP_MAGFILTER] = D3DTEXF_LINEAR;
        overlayState_.samplerState[0][D3DSAMP_MINFILTER] = D3DTEXF_LINEAR;
        expectSamePicture();
    }
}

TEST_F(HalMatchesRefTest, AlphaTestBlendingAndWriteMask) {
    for (DWORD func : {D3DCMP_LESS, D3DCMP_GREATEREQUAL, D3DCMP_NOTEQUAL, D3DCMP_NEVER}) {
        SCOPED_TRACE(func);
        overlayState_.renderState[D3DRS_ALPHATESTENABLE] = TRUE;
        overlayState_.renderState[D3DRS_ALPHAFUNC] = func;
        overlayState_.renderState[D3DRS_ALPHAREF] = 0x60;
        expectSamePicture();
    }
    const DWORD blends[][3] = {{D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_SUBTRACT},
                               {D3DBLEND_DESTCOLOR, D3DBLEND_ZERO, D3DBLENDOP_ADD},
                               {D3DBLEND_INVDESTCOLOR, D3DBLEND_SRCCOLOR, D3DBLENDOP_ADD},
                               {D3DBLEND_BLENDFACTOR, D3DBLEND_INVDESTALPHA, D3DBLENDOP_REVSUBTRACT},
                               {D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_MAX},
                               // The "both" factors replace the destination factor given.
                               {D3DBLEND_BOTHSRCALPHA, D3DBLEND_ZERO, D3DBLENDOP_ADD},
                               {D3DBLEND_BOTHINVSRCALPHA, D3DBLEND_ONE, D3DBLENDOP_ADD}};
    for (const auto& b : blends) {
        SCOPED_TRACE(testing::Message() << b[0] << " " << b[1] << " " << b[2]);
        state_.renderState[D3DRS_ALPHABLENDENABLE] = TRUE;
        state_.renderState[D3DRS_SRCBLEND] = b[0];
        state_.renderState[D3DRS_DESTBLEND] = b[1];
        state_.renderState[D3DRS_BLENDOP] = b[2];
        expectSamePicture(D3DFMT_A8R8G8B8);
    }
    overlayState_.renderState[D3DRS_COLORWRITEENABLE] = D3DCOLORWRITEENABLE_RED | D3DCOLORWRITEENABLE_ALPHA;
    expectSamePicture(D3DFMT_A8R8G8B8);
}

TEST_F(HalMatchesRefTest, ViewportAndDepth) {
    state_.viewport = {8, 4, 40, 48, 0.25f, 0.75f};
    overlayState_.viewport = {16, 16, 32, 32, 0.0f, 1.0f};
    expectSamePicture();
    state_.renderState[D3DRS_ZFUNC] = D3DCMP_GREATER;
    expectSamePicture();
    state_.renderState[D3DRS_ZFUNC] = D3DCMP_LESS;
    state_.renderState[D3DRS_ZWRITEENABLE] = FALSE;
    expectSamePicture();
}

}  // namespace
