#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_device.h"
#include "framework/render_utils.h"

namespace {

TEST(InitMaterial, SetsDiffuseAndAmbientOnly) {
    D3DMATERIAL9 material;
    std::memset(&material, 0x7F, sizeof material);
    InitMaterial(material, 0.1f, 0.2f, 0.3f, 0.4f);
    for (const D3DCOLORVALUE& c : {material.Diffuse, material.Ambient}) {
        EXPECT_EQ(c.r, 0.1f);
        EXPECT_EQ(c.g, 0.2f);
        EXPECT_EQ(c.b, 0.3f);
        EXPECT_EQ(c.a, 0.4f);
    }
    for (const D3DCOLORVALUE& c : {material.Specular, material.Emissive})
        EXPECT_TRUE(c.r == 0 && c.g == 0 && c.b == 0 && c.a == 0);
    EXPECT_EQ(material.Power, 0.0f);
}

TEST(InitLight, WhiteLightPointingAlongItsNormalisedPosition) {
    D3DLIGHT9 light;
    std::memset(&light, 0x7F, sizeof light);
    InitLight(light, D3DLIGHT_DIRECTIONAL, 3.0f, 0.0f, -4.0f);
    EXPECT_EQ(light.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_EQ(light.Diffuse.r, 1.0f);
    EXPECT_EQ(light.Diffuse.g, 1.0f);
    EXPECT_EQ(light.Diffuse.b, 1.0f);
    EXPECT_EQ(light.Diffuse.a, 0.0f);
    EXPECT_EQ(light.Position.x, 3.0f);
    EXPECT_EQ(light.Position.z, -4.0f);
    EXPECT_FLOAT_EQ(light.Direction.x, 0.6f);
    EXPECT_EQ(light.Direction.y, 0.0f);
    EXPECT_FLOAT_EQ(light.Direction.z, -0.8f);
    EXPECT_EQ(light.Range, 1000.0f);
    for (float f : {light.Specular.r, light.Specular.a, light.Ambient.r, light.Ambient.a, light.Falloff,
                    light.Attenuation0, light.Attenuation1, light.Attenuation2, light.Theta, light.Phi})
        EXPECT_EQ(f, 0.0f);

    InitLight(light, D3DLIGHT_POINT, 0.0f, 0.0f, 0.0f);  // no direction to be had
    EXPECT_EQ(light.Direction.x, 0.0f);
    EXPECT_EQ(light.Direction.y, 0.0f);
    EXPECT_EQ(light.Direction.z, 0.0f);
}

TEST(FormatName, LongAndShortNames) {
    EXPECT_STREQ(FormatName(D3DFMT_X8R8G8B8, true), "D3DFMT_X8R8G8B8");
    EXPECT_STREQ(FormatName(D3DFMT_X8R8G8B8, false), "X8R8G8B8");
    EXPECT_STREQ(FormatName(D3DFMT_UNKNOWN, false), "UNKNOWN");
    EXPECT_STREQ(FormatName(D3DFMT_DXT5, true), "D3DFMT_DXT5");
    EXPECT_STREQ(FormatName(D3DFMT_MULTI2_ARGB8, false), "MULTI2_ARGB8");
    EXPECT_STREQ(FormatName(D3DFMT_D24S8, false), "D24S8");
    EXPECT_STREQ(FormatName(D3DFMT_CxV8U8, true), "D3DFMT_CxV8U8");
    // Every value from 20 to 36 has its name.
    for (int f = 20; f <= 36; ++f)
        EXPECT_EQ(std::string(FormatName(static_cast<D3DFORMAT>(f), true)).rfind("D3DFMT_", 0), 0u) << f;

    for (D3DFORMAT unlisted : {static_cast<D3DFORMAT>(37), static_cast<D3DFORMAT>(999), D3DFMT_D32F_LOCKABLE,
                               D3DFMT_D24FS8, D3DFMT_R8G8_B8G8, D3DFMT_G8R8_G8B8}) {
        EXPECT_STREQ(FormatName(unlisted, true), "Unknown format");
        EXPECT_STREQ(FormatName(unlisted, false), "Unknown format");
    }
}

TEST(CopyText, BoundedAndAlwaysTerminated) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(CopyText(buffer, "abc", 1), S_OK);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(buffer[1], 'x');

    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(CopyText(buffer, "abc", 8), S_OK);
    EXPECT_STREQ(buffer, "abc");
    for (int i = 3; i < 8; ++i)
        EXPECT_EQ(buffer[i], '\0');  // the rest is zero-filled

    EXPECT_EQ(CopyText(buffer, "abcdefghijk", 8), S_OK);
    EXPECT_STREQ(buffer, "abcdefg");

    EXPECT_EQ(CopyText(nullptr, "a", 8), E_INVALIDARG);
    EXPECT_EQ(CopyText(buffer, nullptr, 8), E_INVALIDARG);
    EXPECT_EQ(CopyText(buffer, "a", 0), E_INVALIDARG);
    EXPECT_EQ(CopyText(buffer, "a", -5), E_INVALIDARG);
}

TEST(TextConversion, WideAndNarrowThroughTheAnsiCodePage) {
    WCHAR wide[16];
    EXPECT_EQ(ToWide(wide, "caf\xe9 \x80", 16), S_OK);
    EXPECT_EQ(std::u16string(wide), u"caf\u00e9 \u20ac");

    char narrow[16];
    EXPECT_EQ(ToNarrow(narrow, u"caf\u00e9 \u20ac", 16), S_OK);
    EXPECT_STREQ(narrow, "caf\xe9 \x80");
    EXPECT_EQ(ToNarrow(narrow, u"\u2603!", 16), S_OK);  // no such character: the default one
    EXPECT_STREQ(narrow, "?!");

    // Too long: what fits, terminated, reported as a failure.
    EXPECT_EQ(ToWide(wide, "abcdef", 4), E_FAIL);
    EXPECT_EQ(std::u16string(wide), u"abc");
    EXPECT_EQ(ToNarrow(narrow, u"abcdef", 4), E_FAIL);
    EXPECT_STREQ(narrow, "abc");
    EXPECT_EQ(ToWide(wide, "", 1), S_OK);
    EXPECT_EQ(wide[0], 0);

    // The byte-sized variant passes half the size.
    EXPECT_EQ(ToWideBytes(wide, "abcdef", 8), E_FAIL);
    EXPECT_EQ(std::u16string(wide), u"abc");
    EXPECT_EQ(ToWideBytes(wide, "abc", sizeof wide), S_OK);
    EXPECT_EQ(ToWideBytes(wide, "abc", 1), E_INVALIDARG);

    EXPECT_EQ(ToWide(nullptr, "a", 4), E_INVALIDARG);
    EXPECT_EQ(ToWide(wide, nullptr, 4), E_INVALIDARG);
    EXPECT_EQ(ToWide(wide, "a", 0), E_INVALIDARG);
    EXPECT_EQ(ToNarrow(nullptr, u"a", 4), E_INVALIDARG);
    EXPECT_EQ(ToNarrow(narrow, nullptr, 4), E_INVALIDARG);
    EXPECT_EQ(ToNarrow(narrow, u"a", 0), E_INVALIDARG);
}

// ---- SetDeviceCursor ----------------------------------------------------------

const WORD kMark[5] = {0xCCC0, 0xA2A0, 0xA4A0, 0xA2A0, 0xCCC0};

bool InMark(UINT x, UINT y) { return x < 12 && y < 5 && (kMark[y] & (1u << (15 - x))) != 0; }

// The AND mask of a cursor, top row first, read independently of the code
// under test (a top-down read rather than its bottom-up one).
std::vector<std::uint32_t> AndMask(HCURSOR cursor, LONG* width, LONG* height) {
    ICONINFO info{};
    EXPECT_TRUE(GetIconInfo(cursor, &info));
    BITMAP bm{};
    GetObject(info.hbmMask, sizeof bm, &bm);
    *width = bm.bmWidth;
    *height = info.hbmColor == nullptr ? bm.bmHeight / 2 : bm.bmHeight;
    std::vector<std::uint32_t> rows(static_cast<std::size_t>(bm.bmWidth) * bm.bmHeight);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), bm.bmWidth, -bm.bmHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    HDC dc = CreateCompatibleDC(nullptr);
    GetDIBits(dc, info.hbmMask, 0, static_cast<UINT>(bm.bmHeight), rows.data(), &bi, DIB_RGB_COLORS);
    DeleteDC(dc);
    DeleteObject(info.hbmMask);
    DeleteObject(info.hbmColor);
    rows.resize(static_cast<std::size_t>(*width) * *height);
    return rows;
}

class DeviceCursor : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitCommonControls(); }
};

TEST_F(DeviceCursor, MonochromeArrowBecomesA32By32SurfaceWithTransparentMaskPixels) {
    HCURSOR arrow = LoadCursor(nullptr, IDC_ARROW);
    ASSERT_NE(arrow, nullptr);
    LONG width = 0, height = 0;
    std::vector<std::uint32_t> andMask = AndMask(arrow, &width, &height);
    ASSERT_EQ(width, 32);
    ASSERT_EQ(height, 32);  // from a 32 x 64 mask bitmap

    FakeDevice device;
    ASSERT_EQ(SetDeviceCursor(&device, arrow, false), S_OK);
    ASSERT_EQ(device.surfaces.size(), 1u);
    FakeSurface& s = *device.surfaces[0];
    EXPECT_EQ(s.width_, 32u);
    EXPECT_EQ(s.height_, 32u);
    EXPECT_EQ(s.format_, D3DFMT_A8R8G8B8);
    EXPECT_EQ(s.pool_, D3DPOOL_SCRATCH);
    EXPECT_EQ(device.cursorSurface, &s);
    EXPECT_EQ(device.hotSpotX, 0u);
    EXPECT_EQ(device.hotSpotY, 0u);
    EXPECT_EQ(s.locks, 1);
    EXPECT_EQ(s.unlocks, 1);
    EXPECT_EQ(s.references_, 0u);  // released

    int white = 0, black = 0;
    for (UINT y = 0; y < 32; ++y)
        for (UINT x = 0; x < 32; ++x) {
            std::uint32_t p = s.pixel(x, y);
            if (andMask[y * 32 + x] != 0) {
                ASSERT_EQ(p, 0u) << x << "," << y;
            } else {
                ASSERT_TRUE(p == 0xFF000000u || p == 0xFFFFFFFFu) << std::hex << p;  // opaque black or white
                (p == 0xFFFFFFFFu ? white : black)++;
            }
        }
    EXPECT_GT(white, 0);
    EXPECT_GT(black, 0);
    // The arrow's tip is drawn at the hot spot, its far corner is clear.
    EXPECT_NE(s.pixel(0, 0), 0u);
    EXPECT_EQ(s.pixel(31, 31), 0u);
}

TEST_F(DeviceCursor, WatermarkStampsOnlyItsTwelveByFiveCorner) {
    HCURSOR arrow = LoadCursor(nullptr, IDC_ARROW);
    FakeDevice plain, marked;
    ASSERT_EQ(SetDeviceCursor(&plain, arrow, false), S_OK);
    ASSERT_EQ(SetDeviceCursor(&marked, arrow, true), S_OK);
    const FakeSurface& a = *plain.surfaces[0];
    const FakeSurface& b = *marked.surfaces[0];
    int stamped = 0;
    for (UINT y = 0; y < 32; ++y)
        for (UINT x = 0; x < 32; ++x) {
            if (InMark(x, y)) {
                EXPECT_EQ(b.pixel(x, y), a.pixel(x, y) | 0xFF808080u);
                ++stamped;
            } else {
                EXPECT_EQ(b.pixel(x, y), a.pixel(x, y)) << x << "," << y;
            }
        }
    EXPECT_EQ(stamped, 27);
}

TEST_F(DeviceCursor, RowsFollowTheLockedPitch) {
    HCURSOR arrow = LoadCursor(nullptr, IDC_ARROW);
    FakeDevice tight, padded;
    padded.extraPitch = 24;
    ASSERT_EQ(SetDeviceCursor(&tight, arrow, true), S_OK);
    ASSERT_EQ(SetDeviceCursor(&padded, arrow, true), S_OK);
    for (UINT y = 0; y < 32; ++y)
        for (UINT x = 0; x < 32; ++x)
            ASSERT_EQ(padded.surfaces[0]->pixel(x, y), tight.surfaces[0]->pixel(x, y));
    // The padding between rows is left alone.
    EXPECT_EQ(padded.surfaces[0]->bytes()[32 * 4], 0xCD);
}

TEST_F(DeviceCursor, ColourIconKeepsItsColoursAndTransparency) {
    HICON icon = LoadIcon(nullptr, IDI_APPLICATION);
    ASSERT_NE(icon, nullptr);
    LONG width = 0, height = 0;
    std::vector<std::uint32_t> andMask = AndMask(icon, &width, &height);
    ASSERT_GT(width, 0);

    FakeDevice device;
    ASSERT_EQ(SetDeviceCursor(&device, icon, false), S_OK);
    const FakeSurface& s = *device.surfaces[0];
    EXPECT_EQ(s.width_, static_cast<UINT>(width));
    EXPECT_EQ(s.height_, static_cast<UINT>(height));
    int opaque = 0;
    for (UINT y = 0; y < s.height_; ++y)
        for (UINT x = 0; x < s.width_; ++x) {
            std::uint32_t p = s.pixel(x, y);
            if (andMask[y * width + x] != 0) {
                ASSERT_EQ(p, 0u);
            } else {
                ASSERT_EQ(p >> 24, 0xFFu);
                ++opaque;
            }
        }
    EXPECT_GT(opaque, 0);
}

TEST_F(DeviceCursor, FailuresAreReturnedAndNothingLeaks) {
    HCURSOR arrow = LoadCursor(nullptr, IDC_ARROW);

    FakeDevice noSurface;
    noSurface.failCreate = D3DERR_OUTOFVIDEOMEMORY;
    EXPECT_EQ(SetDeviceCursor(&noSurface, arrow, true), D3DERR_OUTOFVIDEOMEMORY);

    FakeDevice noLock;
    noLock.failLock = true;
    EXPECT_EQ(SetDeviceCursor(&noLock, arrow, true), E_FAIL);
    EXPECT_EQ(noLock.cursorSurface, nullptr);
    EXPECT_EQ(noLock.surfaces[0]->references_, 0u);

    FakeDevice refuses;
    refuses.cursorResult = D3DERR_INVALIDCALL;
    EXPECT_EQ(SetDeviceCursor(&refuses, arrow, false), D3DERR_INVALIDCALL);
    EXPECT_EQ(refuses.surfaces[0]->references_, 0u);

    FakeDevice device;
    EXPECT_EQ(SetDeviceCursor(&device, reinterpret_cast<HCURSOR>(static_cast<std::uintptr_t>(0x7777)), true), E_FAIL);
    EXPECT_EQ(SetDeviceCursor(&device, nullptr, true), E_FAIL);
    EXPECT_TRUE(device.surfaces.empty());
    EXPECT_EQ(SetDeviceCursor(nullptr, arrow, true), E_INVALIDARG);
}

}  // namespace
