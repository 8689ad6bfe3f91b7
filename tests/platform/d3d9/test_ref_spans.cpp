// REF draws the untextured Gouraud surface four, eight or sixteen pixels at a
// time where the processor allows, and must give the one-pixel span's bits.
//
// REF draws texture-times-diffuse (the text overlay's pass) through spans of
// its own. At stage 0 D3DTA_CURRENT is the diffuse colour, so the same draw
// with CURRENT in place of DIFFUSE takes the general loop and must give the
// very same bits, whatever the blend, alpha test, write mask, texture,
// addressing, depth and 1/w.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "platform/d3d9/backend.h"
#include "platform/d3d9/test_hooks.h"

using namespace platform::d3d9;

namespace {

struct SpanCase {
    const char* name;
    bool blend;
    bool alphaTest;
    DWORD alphaFunc;
    DWORD alphaRef;
    DWORD colorWrite;
    D3DFORMAT target;
    bool depth;
    D3DFORMAT textureFormat;
    UINT textureWidth, textureHeight;
    DWORD addressU, addressV;
    bool steadyW;       // rhw 1 everywhere, as the overlay has it
    bool steadyColour;  // one diffuse colour per triangle
    int coordSet;
    bool glyphQuads = false;  // axis-aligned quads, v steady along each row
};

const SpanCase kCases[] = {
    {"overlay", true, true, D3DCMP_GREATEREQUAL, 8, 0xF, D3DFMT_X8R8G8B8, false, D3DFMT_A4R4G4B4, 64, 32,
     D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, true, true, 0},
    {"overlay_on_alpha_target", true, true, D3DCMP_GREATEREQUAL, 8, 0xF, D3DFMT_A8R8G8B8, false, D3DFMT_A8R8G8B8, 32,
     32, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, true, true, 1},
    {"no_blend_no_test", false, false, D3DCMP_ALWAYS, 0, 0xF, D3DFMT_X8R8G8B8, false, D3DFMT_A8R8G8B8, 16, 16,
     D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, true, true, 0},
    {"test_only_less", false, true, D3DCMP_LESS, 0x80, 0xF, D3DFMT_A8R8G8B8, false, D3DFMT_A1R5G5B5, 8, 64,
     D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, true, true, 0},
    {"write_mask", true, true, D3DCMP_NOTEQUAL, 0, 0x5, D3DFMT_A8R8G8B8, false, D3DFMT_A4R4G4B4, 32, 16,
     D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, true, true, 0},
    {"odd_texture_size", true, true, D3DCMP_GREATER, 3, 0xF, D3DFMT_X8R8G8B8, false, D3DFMT_A8R8G8B8, 13, 7,
     D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, true, true, 0},
    {"clamp_and_mirror", true, false, D3DCMP_ALWAYS, 0, 0xF, D3DFMT_X8R8G8B8, false, D3DFMT_A8R8G8B8, 16, 16,
     D3DTADDRESS_CLAMP, D3DTADDRESS_MIRROR, true, true, 0},
    {"perspective", true, true, D3DCMP_GREATEREQUAL, 8, 0xF, D3DFMT_X8R8G8B8, false, D3DFMT_A4R4G4B4, 32, 32,
     D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, false, true, 0},
    {"gouraud", true, true, D3DCMP_GREATEREQUAL, 8, 0xF, D3DFMT_A8R8G8B8, false, D3DFMT_A8R8G8B8, 32, 32,
     D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, true, false, 0},
    {"depth_tested", true, true, D3DCMP_GREATEREQUAL, 8, 0xF, D3DFMT_X8R8G8B8, true, D3DFMT_A4R4G4B4, 32, 32,
     D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, true, true, 0},
    {"glyph_quads", true, true, D3DCMP_GREATEREQUAL, 8, 0xF, D3DFMT_X8R8G8B8, false, D3DFMT_A4R4G4B4, 64, 32,
     D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, true, true, 0, true},
    {"glyph_quads_alpha_equal", false, true, D3DCMP_EQUAL, 0, 0xF, D3DFMT_A8R8G8B8, false, D3DFMT_A8R8G8B8, 16,
     16, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, true, true, 1, true},
    {"glyph_quads_lessequal", true, true, D3DCMP_LESSEQUAL, 0x40, 0x7, D3DFMT_A8R8G8B8, false, D3DFMT_A4R4G4B4, 32,
     64, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, true, true, 0, true},
    {"glyph_quads_narrow_texture", true, true, D3DCMP_GREATER, 0, 0xF, D3DFMT_X8R8G8B8, false, D3DFMT_A4R4G4B4, 8,
     16, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, true, true, 0, true},
    {"glyph_quads_clear_texels_pass", true, true, D3DCMP_ALWAYS, 0, 0xF, D3DFMT_X8R8G8B8, false, D3DFMT_A8R8G8B8,
     32, 32, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, true, true, 0, true},
};

void PrintTo(const SpanCase& c, std::ostream* os) { *os << c.name; }

struct Vertex {
    float x, y, z, rhw;
    DWORD diffuse;
    float u0, v0, u1, v1;
};

// The vertices as the device hands a pretransformed triangle list down.
struct DrawList {
    VertexData data;
    TriangleList list;
    DrawList(const std::vector<Vertex>& vertices, UINT id) {
        data.bytes = reinterpret_cast<const BYTE*>(vertices.data());
        data.size = UINT(vertices.size() * sizeof(Vertex));
        data.id = id;
        data.version = 1;
        list.fvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX2;
        list.vertices = &data;
        list.stride = sizeof(Vertex);
        list.triangleCount = UINT(vertices.size() / 3);
    }
    DrawList(const DrawList&) = delete;
    DrawList& operator=(const DrawList&) = delete;
};

// Draws the case's triangles with the given colour arguments and returns the
// back buffer; with `earlier`, first with those texels and then with the
// texture rewritten.
std::vector<DWORD> render(const SpanCase& c, DWORD diffuseArg, const std::vector<Vertex>& vertices,
                          const std::vector<BYTE>& texels, const std::vector<BYTE>* earlier = nullptr) {
    constexpr UINT kWidth = 97, kHeight = 61;
    auto ref = createRefBackend();
    BufferSetup setup;
    setup.width = kWidth;
    setup.height = kHeight;
    setup.colorFormat = c.target;
    setup.depthFormat = c.depth ? D3DFMT_D24X8 : D3DFMT_UNKNOWN;
    EXPECT_EQ(ref->resize(setup), D3D_OK);
    ref->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, nullptr, 0, 0x40805020, 0.5f, 0);

    TextureData texture;
    texture.width = c.textureWidth;
    texture.height = c.textureHeight;
    texture.format = c.textureFormat;
    texture.pitch = UINT(texels.size() / c.textureHeight);
    texture.bits = texels.data();
    texture.id = 1;
    texture.version = 1;

    FixedFunctionState state{};
    for (D3DMATRIX* m : {&state.world, &state.view, &state.projection})
        for (int i = 0; i < 4; ++i)
            m->m[i][i] = 1.0f;
    state.viewport = {0, 0, kWidth, kHeight, 0.0f, 1.0f};
    DWORD* rs = state.renderState;
    rs[D3DRS_ZENABLE] = c.depth;
    rs[D3DRS_ZWRITEENABLE] = c.depth;
    rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    rs[D3DRS_ALPHATESTENABLE] = c.alphaTest;
    rs[D3DRS_ALPHAFUNC] = c.alphaFunc;
    rs[D3DRS_ALPHAREF] = c.alphaRef;
    rs[D3DRS_ALPHABLENDENABLE] = c.blend;
    rs[D3DRS_SRCBLEND] = D3DBLEND_SRCALPHA;
    rs[D3DRS_DESTBLEND] = D3DBLEND_INVSRCALPHA;
    rs[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
    rs[D3DRS_COLORWRITEENABLE] = c.colorWrite;
    rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    rs[D3DRS_CULLMODE] = D3DCULL_NONE;
    DWORD* ts = state.stageState[0];
    ts[D3DTSS_COLOROP] = ts[D3DTSS_ALPHAOP] = D3DTOP_MODULATE;
    ts[D3DTSS_COLORARG1] = ts[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
    ts[D3DTSS_COLORARG2] = ts[D3DTSS_ALPHAARG2] = diffuseArg;
    ts[D3DTSS_TEXCOORDINDEX] = DWORD(c.coordSet);
    for (int s = 1; s < kMaxTextureStages; ++s)
        state.stageState[s][D3DTSS_COLOROP] = state.stageState[s][D3DTSS_ALPHAOP] = D3DTOP_DISABLE;
    DWORD* ss = state.samplerState[0];
    ss[D3DSAMP_MINFILTER] = ss[D3DSAMP_MAGFILTER] = D3DTEXF_POINT;
    ss[D3DSAMP_ADDRESSU] = c.addressU;
    ss[D3DSAMP_ADDRESSV] = c.addressV;
    state.texture[0] = &texture;

    DrawList draw(vertices, 2);
    const TriangleList& list = draw.list;
    if (earlier) {
        texture.bits = earlier->data();
        EXPECT_EQ(ref->drawTriangles(state, list), D3D_OK);
        texture.bits = texels.data();
        texture.version = 2;
    }
    EXPECT_EQ(ref->drawTriangles(state, list), D3D_OK);

    std::vector<DWORD> pixels(size_t(kWidth) * kHeight);
    ref->readBackBuffer(pixels.data(), kWidth * 4);
    return pixels;
}

class RefSpans : public ::testing::TestWithParam<SpanCase> {};

TEST_P(RefSpans, TextureTimesDiffuseMatchesTheGeneralLoop) {
    const SpanCase& c = GetParam();
    std::mt19937 rng(7);
    auto uniform = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };

    const UINT bytesPerTexel = c.textureFormat == D3DFMT_A8R8G8B8 ? 4 : 2;
    std::vector<BYTE> texels(size_t(c.textureWidth) * c.textureHeight * bytesPerTexel);
    // A third clear texels, as in a glyph sheet.
    for (BYTE& b : texels)
        b = rng() % 3 == 0 ? 0 : BYTE(rng());

    // Glyph-like quads and stray triangles reaching past the edges, with
    // texture coordinates beyond 0..1 so that the addressing matters.
    std::vector<Vertex> vertices;
    // Text: glyph rectangles, edges on and off pixel centres, texture
    // rectangles of any size and sign, some v coordinates -0.
    for (int q = 0; c.glyphQuads && q < 30; ++q) {
        const DWORD colour = rng() % 4 == 0 ? (DWORD(rng()) & 0xFF00FF00u) : DWORD(rng());
        const float x = float(int(rng() % 100) - 5) + (rng() % 2 ? -0.5f : uniform(-1.0f, 1.0f));
        const float y = float(int(rng() % 64) - 5) + (rng() % 2 ? -0.5f : uniform(-1.0f, 1.0f));
        const float w = float(1 + rng() % 24), h = float(1 + rng() % 20);
        const float u = uniform(-1.5f, 2.5f), v = rng() % 5 == 0 ? -0.0f : uniform(-1.5f, 2.5f);
        const float du = rng() % 2 ? w / float(c.textureWidth) : uniform(-1.0f, 1.0f);
        const float dv = rng() % 2 ? h / float(c.textureHeight) : uniform(-1.0f, 1.0f);
        const Vertex corners[4] = {{x, y, 0.5f, 1.0f, colour, u, v, u, v},
                                   {x + w, y, 0.5f, 1.0f, colour, u + du, v, u + du, v},
                                   {x + w, y + h, 0.5f, 1.0f, colour, u + du, v + dv, u + du, v + dv},
                                   {x, y + h, 0.5f, 1.0f, colour, u, v + dv, u, v + dv}};
        for (int k : {0, 1, 2, 0, 2, 3})
            vertices.push_back(corners[k]);
    }
    for (int t = 0; t < (c.glyphQuads ? 0 : 40); ++t) {
        const DWORD colour = rng() % 4 == 0 ? (DWORD(rng()) & 0xFF00FF00u) : DWORD(rng());
        for (int k = 0; k < 3; ++k) {
            Vertex v;
            v.x = uniform(-10.0f, 107.0f);
            v.y = uniform(-10.0f, 71.0f);
            v.z = uniform(0.0f, 1.0f);
            v.rhw = c.steadyW ? 1.0f : uniform(0.25f, 4.0f);
            v.diffuse = c.steadyColour ? colour : DWORD(rng());
            v.u0 = uniform(-1.5f, 2.5f);
            v.v0 = uniform(-1.5f, 2.5f);
            v.u1 = uniform(0.0f, 1.0f);
            v.v1 = uniform(0.0f, 1.0f);
            vertices.push_back(v);
        }
    }

    const std::vector<DWORD> general = render(c, D3DTA_CURRENT, vertices, texels);
    const std::vector<DWORD> span = render(c, D3DTA_DIFFUSE, vertices, texels);
    ASSERT_EQ(general.size(), span.size());
    size_t differing = 0, drawn = 0;
    const DWORD cleared = render(c, D3DTA_DIFFUSE, {}, texels).front();
    for (size_t i = 0; i < span.size(); ++i) {
        differing += span[i] != general[i] ? 1 : 0;
        drawn += general[i] != cleared ? 1 : 0;
    }
    EXPECT_EQ(differing, 0u) << c.name;
    // The comparison means something only if the draw changed pixels.
    EXPECT_GT(drawn, span.size() / 10) << c.name;

    // Drawn first from a clear texture, the texture then rewritten: what
    // REF keeps of the texture (its clear rows among it) must follow. Where
    // the alpha test lets clear texels through, the first draw shows, and
    // there is nothing to compare.
    const std::vector<BYTE> clear(texels.size(), 0);
    const std::vector<DWORD> clearOnly = render(c, D3DTA_DIFFUSE, vertices, clear);
    if (std::all_of(clearOnly.begin(), clearOnly.end(), [&](DWORD pixel) { return pixel == cleared; })) {
        const std::vector<DWORD> afterRewrite = render(c, D3DTA_DIFFUSE, vertices, texels, &clear);
        EXPECT_EQ(afterRewrite, span) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RefSpans, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<SpanCase>& info) { return std::string(info.param.name); });

// Gouraud triangles of every size with and without depth, each drawn a
// second time in other colours so that equal depths are compared too;
// depths include -0 and NaN.
std::vector<DWORD> renderSurface(bool depth, std::uint32_t seed) {
    constexpr UINT kWidth = 83, kHeight = 57;
    auto ref = createRefBackend();
    BufferSetup setup;
    setup.width = kWidth;
    setup.height = kHeight;
    setup.depthFormat = depth ? D3DFMT_D24X8 : D3DFMT_UNKNOWN;
    EXPECT_EQ(ref->resize(setup), D3D_OK);
    ref->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, nullptr, 0, 0x203040, 1.0f, 0);

    FixedFunctionState state{};
    state.viewport = {0, 0, kWidth, kHeight, 0.0f, 1.0f};
    DWORD* rs = state.renderState;
    rs[D3DRS_ZENABLE] = depth;
    rs[D3DRS_ZWRITEENABLE] = TRUE;
    rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    rs[D3DRS_COLORWRITEENABLE] = 0xF;
    rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    rs[D3DRS_CULLMODE] = D3DCULL_NONE;
    for (auto& stage : state.stageState)
        stage[D3DTSS_COLOROP] = stage[D3DTSS_ALPHAOP] = D3DTOP_DISABLE;

    std::mt19937 rng(seed);
    auto uniform = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };
    std::vector<Vertex> vertices;
    for (int t = 0; t < 60; ++t) {
        const float size = t % 3 == 0 ? 4.0f : t % 3 == 1 ? 20.0f : 90.0f;
        const float cx = uniform(-5.0f, 88.0f), cy = uniform(-5.0f, 62.0f);
        for (int k = 0; k < 3; ++k) {
            Vertex v{};
            v.x = cx + uniform(-size, size);
            v.y = cy + uniform(-size, size);
            const std::uint32_t pick = rng() % 20;
            v.z = pick == 0 ? -0.0f : pick == 1 ? std::numeric_limits<float>::quiet_NaN() : uniform(0.0f, 1.0f);
            v.rhw = uniform(0.25f, 4.0f);
            v.diffuse = DWORD(rng());
            vertices.push_back(v);
        }
    }
    DrawList draw(vertices, 3);
    EXPECT_EQ(ref->drawTriangles(state, draw.list), D3D_OK);
    for (Vertex& v : vertices)
        v.diffuse = ~v.diffuse;
    draw.data.version = 2;
    EXPECT_EQ(ref->drawTriangles(state, draw.list), D3D_OK);

    std::vector<DWORD> pixels(size_t(kWidth) * kHeight);
    ref->readBackBuffer(pixels.data(), kWidth * 4);
    return pixels;
}

TEST(RefWideSpans, SurfaceMatchesTheOnePixelSpan) {
    namespace hooks = platform::d3d9::testing;
    const int widest = hooks::WidestRefSpan();
    for (int width = 4; width <= widest; width *= 2) {
        for (bool depth : {true, false}) {
            for (std::uint32_t seed = 1; seed <= 20; ++seed) {
                hooks::LimitRefSpans(1);
                const std::vector<DWORD> narrow = renderSurface(depth, seed);
                hooks::LimitRefSpans(width);
                const std::vector<DWORD> wide = renderSurface(depth, seed);
                size_t differing = 0;
                for (size_t i = 0; i < wide.size(); ++i)
                    differing += wide[i] != narrow[i] ? 1 : 0;
                EXPECT_EQ(differing, 0u) << width << " pixels, depth " << depth << ", seed " << seed;
            }
        }
    }
    hooks::LimitRefSpans(widest);
}

}  // namespace
