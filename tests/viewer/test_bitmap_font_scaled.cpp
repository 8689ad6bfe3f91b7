// The overlay font on a screen with a scale of 2 (the GUI library's offscreen
// platform with QT_SCALE_FACTOR=2): glyphs rasterised twice as tall, in a
// texture that still holds every one of them.
#include <gtest/gtest.h>

#include "platform/win32/commctrl.h"
#include "tests/platform/d3d9/reference_scenes.h"
#include "viewer/bitmap_font.h"

namespace {

TEST(ScaledScreenFont, GlyphsFollowTheScreensResolutionAndAllFitTheTexture) {
    InitCommonControls();
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    IDirect3DDevice9* device = nullptr;
    ASSERT_EQ(reference_scenes::createWindowlessDevice(d3d, D3DDEVTYPE_REF, &device), D3D_OK);
    {
        BitmapFont font("Arial", 12, FontBold);
        ASSERT_EQ(font.CreateGlyphTexture(device), D3D_OK);
        EXPECT_EQ(font.ScreenScale(), 2.0f);
        EXPECT_EQ(font.TextureWidth(), 512u);
        // 12 points at 192 pixels per inch: 32 pixels, the cell a little more.
        const float* space = font.GlyphCoords(' ');
        const float cy = (space[3] - space[1]) * 512;
        EXPECT_GE(cy, 32.0f);
        EXPECT_LE(cy, 48.0f);
        // The last character's row lies inside the texture (at 256 texels
        // the rows would run out halfway through the alphabet).
        EXPECT_LE(font.GlyphCoords('~')[3], 1.0f);
    }
    EXPECT_EQ(device->Release(), 0u);
    d3d->Release();
}

}  // namespace
