// The overlay font on the real GDI layer (offscreen) and a REF device behind
// a recording device: the glyph texture, the draw states, batching, line
// feeds and the caller's states.
#include "viewer/bitmap_font.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "platform/win32/commctrl.h"
#include "tests/platform/d3d9/reference_scenes.h"
#include "tests/viewer/recording_device.h"

namespace {

class FontTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitCommonControls(); }
    void SetUp() override {
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d_, nullptr);
        ASSERT_EQ(reference_scenes::createWindowlessDevice(d3d_, D3DDEVTYPE_REF, &real_), D3D_OK);
        recorder_ = std::make_unique<RecordingDevice>(real_);
    }
    void TearDown() override {
        font_.reset();
        recorder_.reset();
        if (real_) {
            EXPECT_EQ(real_->Release(), 0u);  // the font gave back everything it made
        }
        if (d3d_)
            d3d_->Release();
    }
    // The viewer's font, ready to draw.
    void makeFont() {
        font_ = std::make_unique<BitmapFont>("Arial", 12, FontBold);
        ASSERT_EQ(font_->CreateGlyphTexture(recorder_.get()), D3D_OK);
        ASSERT_EQ(font_->RestoreDrawStates(), D3D_OK);
        recorder_->calls.clear();
    }
    std::vector<std::string> draws() const { return recorder_->callsStartingWith("DrawPrimitive"); }
    // The glyph vertices of the last batch.
    std::vector<GlyphVertex> lastBatch(size_t count) {
        IDirect3DVertexBuffer9* real = recorder_->buffers.back()->real();
        GlyphVertex* data = nullptr;
        EXPECT_EQ(real->Lock(0, 0, reinterpret_cast<void**>(&data), D3DLOCK_READONLY), D3D_OK);
        std::vector<GlyphVertex> v(data, data + count);
        real->Unlock();
        return v;
    }

    IDirect3D9* d3d_ = nullptr;
    IDirect3DDevice9* real_ = nullptr;
    std::unique_ptr<RecordingDevice> recorder_;
    std::unique_ptr<BitmapFont> font_;
};

TEST_F(FontTest, GlyphTextureLaysOutEveryPrintableCharacter) {
    font_ = std::make_unique<BitmapFont>("Arial", 12, FontBold);
    ASSERT_EQ(font_->CreateGlyphTexture(recorder_.get()), D3D_OK);
    EXPECT_EQ(recorder_->callsStartingWith("CreateTexture"),
              std::vector<std::string>{"CreateTexture 256 256 1 0 26 1"});
    EXPECT_EQ(font_->TextureWidth(), 256u);
    EXPECT_EQ(font_->TextScale(), 1.0f);

    // The cell height of the space in texels is the font's line height: a
    // 12-point font at 96 dpi is 16 pixels, its cell a little more.
    const float* space = font_->GlyphCoords(' ');
    const float cy = (space[3] - space[1]) * 256;
    EXPECT_GE(cy, 16.0f);
    EXPECT_LE(cy, 24.0f);
    EXPECT_EQ(font_->Spacing(), DWORD(std::ceil(cy * 0.3f)));
    EXPECT_EQ(space[0], 0.0f);
    EXPECT_EQ(space[1], 0.0f);

    // Cells follow each other left to right, each 2 * spacing wider than the
    // character, then wrap to the next row one texel below.
    const float margin = 2.0f * font_->Spacing() / 256;
    float rowTop = 0;
    for (int ch = 33; ch < 127; ++ch) {
        SCOPED_TRACE(ch);
        const float* prev = font_->GlyphCoords(char(ch - 1));
        const float* cur = font_->GlyphCoords(char(ch));
        EXPECT_GT(cur[2] - cur[0], margin);
        EXPECT_FLOAT_EQ(cur[3] - cur[1], cy / 256);
        if (cur[1] == prev[1]) {
            EXPECT_FLOAT_EQ(cur[0], prev[2]);  // the next cell starts where the last ended
        } else {
            EXPECT_FLOAT_EQ(cur[1], prev[1] + (cy + 1) / 256);
            EXPECT_EQ(cur[0], 0.0f);
            rowTop = cur[1];
        }
        EXPECT_LE(cur[2], 1.0f);
    }
    EXPECT_GT(rowTop, 0.0f);  // 95 characters do not fit one row of 256
    EXPECT_LT(font_->GlyphCoords('~')[3], 1.0f);
}

TEST_F(FontTest, GlyphTexelsAreWhiteWithCoverageAlpha) {
    makeFont();
    IDirect3DTexture9* texture = recorder_->lastTexture;
    ASSERT_NE(texture, nullptr);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    auto texel = [&](int x, int y) {
        return reinterpret_cast<const WORD*>(static_cast<const BYTE*>(locked.pBits) + y * locked.Pitch)[x];
    };
    int covered = 0, opaque = 0;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const WORD t = texel(x, y);
            if (t == 0)
                continue;
            ++covered;
            EXPECT_EQ(t & 0x0FFF, 0x0FFF) << x << "," << y;  // white under any alpha
            if ((t >> 12) == 0xF)
                ++opaque;
        }
    EXPECT_GT(covered, 500);
    EXPECT_GT(opaque, 100);

    // 'H' has ink inside its cell and none in its margins.
    const float* h = font_->GlyphCoords('H');
    const int left = int(h[0] * 256), top = int(h[1] * 256), right = int(h[2] * 256), bottom = int(h[3] * 256);
    const int spacing = int(font_->Spacing());
    int ink = 0;
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < left + spacing; ++x)
            EXPECT_EQ(texel(x, y), 0) << "left margin " << x << "," << y;
        for (int x = right - spacing; x < right; ++x)
            EXPECT_EQ(texel(x, y), 0) << "right margin " << x << "," << y;
        for (int x = left + spacing; x < right - spacing; ++x)
            ink += texel(x, y) != 0;
    }
    EXPECT_GT(ink, 20);
    texture->UnlockRect(0);
}

TEST_F(FontTest, SmallTextureLimitScalesTheFontDownAndTheQuadsBackUp) {
    recorder_->maxTextureWidth = 128;
    font_ = std::make_unique<BitmapFont>("Arial", 12, FontBold);
    ASSERT_EQ(font_->CreateGlyphTexture(recorder_.get()), D3D_OK);
    EXPECT_EQ(recorder_->callsStartingWith("CreateTexture"),
              std::vector<std::string>{"CreateTexture 128 128 1 0 26 1"});
    EXPECT_EQ(font_->TextScale(), 0.5f);
    const float* space = font_->GlyphCoords(' ');
    const float halfCy = (space[3] - space[1]) * 128;
    EXPECT_GE(halfCy, 8.0f);  // rasterised at 8 pixels, half the 16
    EXPECT_LE(halfCy, 12.0f);

    ASSERT_EQ(font_->RestoreDrawStates(), D3D_OK);
    ASSERT_EQ(font_->DrawString(10, 20, 0xFFFFFF00, "A\nA"), D3D_OK);
    const std::vector<GlyphVertex> v = lastBatch(12);
    const float* a = font_->GlyphCoords('A');
    const float h = (a[3] - a[1]) * 128 / 0.5f;
    const float w = (a[2] - a[0]) * 128 / 0.5f;
    EXPECT_FLOAT_EQ(v[0].y - v[1].y, h);
    EXPECT_FLOAT_EQ(v[2].x - v[0].x, w);
    // The line feed moves by the space's cell in texels, not scaled back.
    EXPECT_FLOAT_EQ(v[7].y - v[1].y, halfCy);
}

// The saved block and the drawing block must each hold every state the
// overlay needs (whatever the order), and nothing may be set outside them.
TEST_F(FontTest, BothStateBlocksHoldEveryOverlayState) {
    font_ = std::make_unique<BitmapFont>("Arial", 12, 0);
    ASSERT_EQ(font_->CreateGlyphTexture(recorder_.get()), D3D_OK);
    recorder_->calls.clear();
    ASSERT_EQ(font_->RestoreDrawStates(), D3D_OK);

    auto rs = [](D3DRENDERSTATETYPE s, DWORD v) {
        char t[64];
        std::snprintf(t, sizeof t, "SetRenderState %d 0x%lx", int(s), (unsigned long)v);
        return std::string(t);
    };
    auto tss = [](DWORD stage, D3DTEXTURESTAGESTATETYPE s, DWORD v) {
        char t[64];
        std::snprintf(t, sizeof t, "SetTextureStageState %lu %d 0x%lx", (unsigned long)stage, int(s), (unsigned long)v);
        return std::string(t);
    };
    auto ss = [](D3DSAMPLERSTATETYPE s, DWORD v) {
        char t[64];
        std::snprintf(t, sizeof t, "SetSamplerState 0 %d 0x%lx", int(s), (unsigned long)v);
        return std::string(t);
    };
    const std::multiset<std::string> block = {
        "SetTexture 0 texture",
        rs(D3DRS_ZENABLE, FALSE),
        rs(D3DRS_ALPHABLENDENABLE, TRUE),
        rs(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA),
        rs(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA),
        rs(D3DRS_ALPHATESTENABLE, TRUE),
        rs(D3DRS_ALPHAREF, 0x08),
        rs(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL),
        rs(D3DRS_FILLMODE, D3DFILL_SOLID),
        rs(D3DRS_CULLMODE, D3DCULL_CCW),
        rs(D3DRS_STENCILENABLE, FALSE),
        rs(D3DRS_CLIPPING, TRUE),
        rs(D3DRS_CLIPPLANEENABLE, 0),
        rs(D3DRS_VERTEXBLEND, D3DVBF_DISABLE),
        rs(D3DRS_INDEXEDVERTEXBLENDENABLE, FALSE),
        rs(D3DRS_FOGENABLE, FALSE),
        rs(D3DRS_COLORWRITEENABLE, 0x0F),
        tss(0, D3DTSS_COLOROP, D3DTOP_MODULATE),
        tss(0, D3DTSS_COLORARG1, D3DTA_TEXTURE),
        tss(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE),
        tss(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE),
        tss(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE),
        tss(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE),
        tss(0, D3DTSS_TEXCOORDINDEX, 0),
        tss(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE),
        tss(1, D3DTSS_COLOROP, D3DTOP_DISABLE),
        tss(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE),
        ss(D3DSAMP_MINFILTER, D3DTEXF_POINT),
        ss(D3DSAMP_MAGFILTER, D3DTEXF_POINT),
        ss(D3DSAMP_MIPFILTER, D3DTEXF_NONE),
    };
    std::vector<std::string> outside;
    std::vector<std::multiset<std::string>> blocks;
    bool inBlock = false;
    for (const std::string& call : recorder_->calls) {
        if (call == "BeginStateBlock") {
            blocks.emplace_back();
            inBlock = true;
        } else if (call == "EndStateBlock") {
            inBlock = false;
        } else if (inBlock) {
            blocks.back().insert(call);
        } else {
            outside.push_back(call);
        }
    }
    EXPECT_FALSE(inBlock);
    EXPECT_EQ(outside, std::vector<std::string>{"CreateVertexBuffer 9600 0x208 0x0 0"});
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0], block);
    EXPECT_EQ(blocks[1], block);
}

TEST_F(FontTest, BatchesOfFiftyCharactersSpacesAddNothing) {
    makeFont();
    const struct {
        std::string text;
        std::vector<std::string> draws;
        int locks;
    } cases[] = {
        {std::string(60, 'x'), {"DrawPrimitive 4 0 100", "DrawPrimitive 4 0 20"}, 2},
        {std::string(50, 'x'), {"DrawPrimitive 4 0 100"}, 2},  // the full batch goes at once; nothing is left
        {std::string(49, 'x'), {"DrawPrimitive 4 0 98"}, 1},
        {"a b", {"DrawPrimitive 4 0 4"}, 1},
        {"   ", {}, 1},
        {"a\tb\x7f\xe9", {"DrawPrimitive 4 0 4"}, 1},  // no glyph, no quad
        {std::string(120, 'y') + " z", {"DrawPrimitive 4 0 100", "DrawPrimitive 4 0 100", "DrawPrimitive 4 0 42"}, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        recorder_->calls.clear();
        EXPECT_EQ(font_->DrawString(2, 2, 0xFFFFFF00, c.text.c_str()), D3D_OK);
        EXPECT_EQ(draws(), c.draws);
        const std::vector<std::string> locks = recorder_->callsStartingWith("Lock");
        EXPECT_EQ(int(locks.size()), c.locks);
        for (const std::string& l : locks)
            EXPECT_EQ(l, "Lock 0 0 0x2000");
        EXPECT_EQ(recorder_->callsStartingWith("Unlock").size(), locks.size());
        EXPECT_EQ(recorder_->callsStartingWith("SetFVF"), std::vector<std::string>{"SetFVF 0x144"});
        EXPECT_EQ(recorder_->callsStartingWith("SetStreamSource"),
                  std::vector<std::string>{"SetStreamSource 0 buffer 0 28"});
    }
}

TEST_F(FontTest, QuadsLineFeedsAndAdvance) {
    makeFont();
    const DWORD spacing = font_->Spacing();
    ASSERT_EQ(font_->DrawString(10, 20, 0xFF102030, "ab\nc"), D3D_OK);
    const std::vector<GlyphVertex> v = lastBatch(18);

    const float* a = font_->GlyphCoords('a');
    const float* b = font_->GlyphCoords('b');
    const float* c = font_->GlyphCoords('c');
    const float* space = font_->GlyphCoords(' ');
    const float wa = (a[2] - a[0]) * 256, ha = (a[3] - a[1]) * 256;
    const float x0 = 10.0f - spacing;
    // The six corners of 'a': two triangles, both clockwise.
    const float expected[6][4] = {{x0 - 0.5f, 20 + ha - 0.5f, a[0], a[3]}, {x0 - 0.5f, 20 - 0.5f, a[0], a[1]},
                                  {x0 + wa - 0.5f, 20 + ha - 0.5f, a[2], a[3]}, {x0 + wa - 0.5f, 20 - 0.5f, a[2], a[1]},
                                  {x0 + wa - 0.5f, 20 + ha - 0.5f, a[2], a[3]}, {x0 - 0.5f, 20 - 0.5f, a[0], a[1]}};
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_FLOAT_EQ(v[i].x, expected[i][0]);
        EXPECT_FLOAT_EQ(v[i].y, expected[i][1]);
        EXPECT_FLOAT_EQ(v[i].u, expected[i][2]);
        EXPECT_FLOAT_EQ(v[i].v, expected[i][3]);
        EXPECT_EQ(v[i].z, 0.9f);
        EXPECT_EQ(v[i].rhw, 1.0f);
        EXPECT_EQ(v[i].colour, 0xFF102030u);
    }
    // 'b' starts one character width on, so the cells' margins overlap.
    EXPECT_FLOAT_EQ(v[7].x, x0 + wa - 2.0f * spacing - 0.5f);
    EXPECT_FLOAT_EQ(v[7].u, b[0]);
    // The line feed goes back to the start and down by the space's cell.
    EXPECT_FLOAT_EQ(v[13].x, x0 - 0.5f);
    EXPECT_FLOAT_EQ(v[13].y, 20 + (space[3] - space[1]) * 256 - 0.5f);
    EXPECT_FLOAT_EQ(v[13].u, c[0]);
}

TEST_F(FontTest, CallersStatesComeBackAfterDrawing) {
    makeFont();
    const D3DRENDERSTATETYPE states[] = {D3DRS_ZENABLE, D3DRS_ALPHABLENDENABLE, D3DRS_ALPHATESTENABLE,
                                         D3DRS_CULLMODE, D3DRS_LIGHTING, D3DRS_SRCBLEND, D3DRS_DESTBLEND};
    real_->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    real_->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    real_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    real_->SetRenderState(D3DRS_LIGHTING, TRUE);
    real_->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    real_->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    real_->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    DWORD before[7];
    for (int i = 0; i < 7; ++i)
        real_->GetRenderState(states[i], &before[i]);

    ASSERT_EQ(real_->BeginScene(), D3D_OK);
    ASSERT_EQ(font_->DrawString(2, 2, 0xFFFFFF00, "states"), D3D_OK);
    real_->EndScene();

    for (int i = 0; i < 7; ++i) {
        DWORD after = 0;
        real_->GetRenderState(states[i], &after);
        EXPECT_EQ(after, before[i]) << "render state " << states[i];
    }
    DWORD value = 0;
    real_->GetSamplerState(0, D3DSAMP_MINFILTER, &value);
    EXPECT_EQ(value, DWORD(D3DTEXF_LINEAR));
    real_->GetSamplerState(0, D3DSAMP_MAGFILTER, &value);
    EXPECT_EQ(value, DWORD(D3DTEXF_LINEAR));
    real_->GetTextureStageState(1, D3DTSS_COLOROP, &value);
    EXPECT_EQ(value, DWORD(D3DTOP_MODULATE));
    IDirect3DBaseTexture9* texture = reinterpret_cast<IDirect3DBaseTexture9*>(1);
    real_->GetTexture(0, &texture);
    EXPECT_EQ(texture, nullptr);
}

TEST_F(FontTest, RefusesWithoutDeviceOrDrawStates) {
    BitmapFont font("Arial", 12, FontBold);
    EXPECT_EQ(font.DrawString(0, 0, 0xFFFFFFFF, "x"), E_FAIL);  // no device at all
    ASSERT_EQ(font.CreateGlyphTexture(recorder_.get()), D3D_OK);
    recorder_->calls.clear();
    // The draw states' creation failed (the viewer ignores that): nothing to
    // draw with, and no crash.
    recorder_->createVertexBufferResult = E_OUTOFMEMORY;
    EXPECT_EQ(font.RestoreDrawStates(), E_OUTOFMEMORY);
    EXPECT_EQ(font.DrawString(0, 0, 0xFFFFFFFF, "x"), E_FAIL);
    EXPECT_TRUE(draws().empty());
    font.ReleaseGlyphTexture();
    EXPECT_EQ(font.DrawString(0, 0, 0xFFFFFFFF, "x"), E_FAIL);
}

TEST_F(FontTest, TextureFailuresAreReturned) {
    BitmapFont font("Arial", 12, FontBold);
    recorder_->createTextureResult = D3DERR_OUTOFVIDEOMEMORY;
    EXPECT_EQ(font.CreateGlyphTexture(recorder_.get()), D3DERR_OUTOFVIDEOMEMORY);
    const struct {
        DWORD height;
        UINT side;
    } sizes[] = {{12, 256}, {15, 256}, {16, 512}, {30, 512}, {31, 1024}, {60, 1024}, {61, 2048}};
    for (const auto& s : sizes) {
        SCOPED_TRACE(s.height);
        recorder_->calls.clear();
        BitmapFont sized("Arial", s.height, 0);
        sized.CreateGlyphTexture(recorder_.get());
        const std::string expected = "CreateTexture " + std::to_string(s.side) + " " + std::to_string(s.side) + " 1 0 26 1";
        EXPECT_EQ(recorder_->callsStartingWith("CreateTexture"), std::vector<std::string>{expected});
    }
}

}  // namespace
