#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <vector>

#include "gdi_test_app.h"
#include "platform/gdi/gdi_objects.h"
#include "platform/gdi/wingdi.h"

namespace {

BITMAPINFO sectionInfo(int w, int h, WORD bits = 32) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = bits;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

TEST(GdiObjects, MulDivRoundsHalvesAwayFromZeroAndReportsOverflow) {
    EXPECT_EQ(MulDiv(12, 96, 72), 16);
    EXPECT_EQ(MulDiv(6, 96, 72), 8);
    EXPECT_EQ(MulDiv(1, 1, 2), 1);
    EXPECT_EQ(MulDiv(-1, 1, 2), -1);
    EXPECT_EQ(MulDiv(1, 1, -2), -1);
    EXPECT_EQ(MulDiv(1, 1, 3), 0);
    EXPECT_EQ(MulDiv(2, 1, 3), 1);
    EXPECT_EQ(MulDiv(5, 5, 0), -1);
    EXPECT_EQ(MulDiv(INT_MAX, INT_MAX, INT_MAX), INT_MAX);  // the product is kept in 64 bits
    EXPECT_EQ(MulDiv(INT_MAX, 2, 1), -1);
    EXPECT_EQ(MulDiv(INT_MIN, 1, 1), INT_MIN);
}

TEST(GdiObjects, SectionsAreZeroedAndDescribeThemselves) {
    HDC dc = CreateCompatibleDC(nullptr);
    BITMAPINFO info = sectionInfo(5, -3);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(bitmap, nullptr);
    ASSERT_NE(bits, nullptr);
    const auto* pixels = static_cast<const std::uint32_t*>(bits);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(pixels[i], 0u);

    BITMAP bm{};
    EXPECT_EQ(GetObject(bitmap, sizeof bm, &bm), static_cast<int>(sizeof bm));
    EXPECT_EQ(bm.bmWidth, 5);
    EXPECT_EQ(bm.bmHeight, 3);
    EXPECT_EQ(bm.bmBitsPixel, 32);
    EXPECT_EQ(bm.bmWidthBytes, 20);
    EXPECT_EQ(bm.bmBits, bits);
    DIBSECTION ds{};
    EXPECT_EQ(GetObject(bitmap, sizeof ds, &ds), static_cast<int>(sizeof ds));
    EXPECT_EQ(ds.dsBmih.biHeight, -3);
    EXPECT_EQ(GetObject(bitmap, 0, nullptr), static_cast<int>(sizeof(DIBSECTION)));

    // Only 32-bit uncompressed sections.
    BITMAPINFO bad = sectionInfo(5, 3, 24);
    EXPECT_EQ(CreateDIBSection(dc, &bad, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
    EXPECT_EQ(bits, nullptr);
    bad = sectionInfo(0, 3);
    EXPECT_EQ(CreateDIBSection(dc, &bad, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
    bad = sectionInfo(1 << 20, 1 << 20);
    EXPECT_EQ(CreateDIBSection(dc, &bad, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
    EXPECT_EQ(CreateDIBSection(dc, nullptr, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);

    EXPECT_TRUE(DeleteObject(bitmap));
    DeleteDC(dc);
}

TEST(GdiObjects, SelectedObjectsSurviveDeletionUntilDeselected) {
    ensureGuiApplication();
    HDC dc = CreateCompatibleDC(nullptr);
    HDC other = CreateCompatibleDC(nullptr);
    BITMAPINFO info = sectionInfo(4, 4);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HFONT font = CreateFontA(-16, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, ANTIALIASED_QUALITY,
                             VARIABLE_PITCH, "Arial");
    ASSERT_NE(font, nullptr);

    HGDIOBJ stockBitmap = SelectObject(dc, bitmap);
    ASSERT_NE(stockBitmap, nullptr);  // the context's initial 1 x 1 bitmap
    BITMAP bm{};
    GetObject(stockBitmap, sizeof bm, &bm);
    EXPECT_EQ(bm.bmWidth, 1);
    EXPECT_EQ(bm.bmBitsPixel, 1);
    EXPECT_EQ(SelectObject(other, bitmap), nullptr);  // one context at a time
    HGDIOBJ stockFont = SelectObject(dc, font);
    ASSERT_NE(stockFont, nullptr);

    EXPECT_FALSE(DeleteObject(bitmap));
    EXPECT_FALSE(DeleteObject(font));
    EXPECT_EQ(SelectObject(dc, stockBitmap), bitmap);
    EXPECT_EQ(SelectObject(dc, stockFont), font);
    EXPECT_TRUE(DeleteObject(bitmap));
    EXPECT_TRUE(DeleteObject(font));

    // Stale and foreign handles fail instead of being followed.
    EXPECT_FALSE(DeleteObject(bitmap));
    EXPECT_EQ(GetObject(bitmap, sizeof bm, &bm), 0);
    EXPECT_EQ(SelectObject(dc, bitmap), nullptr);
    HDC foreign = reinterpret_cast<HDC>(static_cast<std::uintptr_t>(0x10003));
    EXPECT_EQ(SelectObject(foreign, stockFont), nullptr);
    EXPECT_EQ(SetTextColor(foreign, 0), CLR_INVALID);
    EXPECT_FALSE(DeleteDC(foreign));
    EXPECT_EQ(GetDeviceCaps(foreign, LOGPIXELSY), 96);  // a window context still has a resolution
    SIZE size{};
    EXPECT_FALSE(GetTextExtentPoint32A(foreign, "a", 1, &size));
    EXPECT_FALSE(ExtTextOutA(foreign, 0, 0, 0, nullptr, "a", 1, nullptr));

    EXPECT_TRUE(DeleteDC(dc));
    EXPECT_FALSE(DeleteDC(dc));
    EXPECT_TRUE(DeleteDC(other));
    EXPECT_EQ(SetMapMode(dc, MM_TEXT), 0);
}

TEST(GdiObjects, StockObjects) {
    ensureGuiApplication();
    QColor colour;
    EXPECT_TRUE(platform::gdi::brushColour(static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)), &colour));
    EXPECT_EQ(colour, QColor(255, 255, 255));
    EXPECT_TRUE(platform::gdi::brushColour(static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)), &colour));
    EXPECT_EQ(colour, QColor(0, 0, 0));
    EXPECT_FALSE(platform::gdi::brushColour(static_cast<HBRUSH>(GetStockObject(NULL_BRUSH)), &colour));
    EXPECT_EQ(GetStockObject(WHITE_BRUSH), GetStockObject(WHITE_BRUSH));
    EXPECT_TRUE(DeleteObject(GetStockObject(WHITE_BRUSH)));  // a no-op
    EXPECT_TRUE(platform::gdi::brushColour(static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)), nullptr));
    EXPECT_NE(GetStockObject(DEFAULT_GUI_FONT), nullptr);
    EXPECT_EQ(GetStockObject(999), nullptr);
}

TEST(GdiObjects, DibitsReadRowsInEitherOrder) {
    HDC dc = CreateCompatibleDC(nullptr);
    BITMAPINFO info = sectionInfo(3, -4);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    auto* pixels = static_cast<std::uint32_t*>(bits);
    for (int i = 0; i < 12; ++i)
        pixels[i] = 0x00010203u * static_cast<std::uint32_t>(i + 1);

    BITMAPINFO query{};
    query.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    EXPECT_EQ(GetDIBits(dc, bitmap, 0, 0, nullptr, &query, DIB_RGB_COLORS), 4);
    EXPECT_EQ(query.bmiHeader.biWidth, 3);
    EXPECT_EQ(query.bmiHeader.biHeight, 4);
    EXPECT_EQ(query.bmiHeader.biBitCount, 32);

    BITMAPINFO bottomUp = sectionInfo(3, 4);
    std::vector<std::uint32_t> out(12, 0xDEADBEEF);
    ASSERT_EQ(GetDIBits(dc, bitmap, 0, 4, out.data(), &bottomUp, DIB_RGB_COLORS), 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(out[y * 3 + x], pixels[(3 - y) * 3 + x]);

    // A band of scan lines, and requests past the end.
    std::vector<std::uint32_t> band(6, 0);
    ASSERT_EQ(GetDIBits(dc, bitmap, 3, 5, band.data(), &bottomUp, DIB_RGB_COLORS), 1);
    EXPECT_EQ(band[0], pixels[0]);  // scan line 3 from the bottom is the top row
    EXPECT_EQ(GetDIBits(dc, bitmap, 4, 1, band.data(), &bottomUp, DIB_RGB_COLORS), 0);
    BITMAPINFO wrong = sectionInfo(3, 4, 8);
    EXPECT_EQ(GetDIBits(dc, bitmap, 0, 4, out.data(), &wrong, DIB_RGB_COLORS), 0);
    EXPECT_EQ(GetDIBits(dc, nullptr, 0, 4, out.data(), &bottomUp, DIB_RGB_COLORS), 0);

    DeleteObject(bitmap);
    DeleteDC(dc);
}

}  // namespace
