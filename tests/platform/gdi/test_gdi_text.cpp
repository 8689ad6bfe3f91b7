#include <gtest/gtest.h>

#include <QFont>
#include <QFontInfo>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "gdi_test_app.h"
#include "platform/gdi/gdi_objects.h"
#include "platform/gdi/wingdi.h"

namespace {

// A memory context with a top-down 32-bit section selected, as the overlay
// font prepares it.
struct Surface {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previousBitmap = nullptr;
    std::uint32_t* bits = nullptr;
    int width, height;

    Surface(int w, int h, bool topDown = true) : width(w), height(h) {
        ensureGuiApplication();
        dc = CreateCompatibleDC(nullptr);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = topDown ? -h : h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* raw = nullptr;
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &raw, nullptr, 0);
        bits = static_cast<std::uint32_t*>(raw);
        previousBitmap = SelectObject(dc, bitmap);
    }
    ~Surface() {
        SelectObject(dc, previousBitmap);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    std::uint32_t at(int x, int y) const { return bits[y * width + x]; }
};

HFONT makeArial(int points, int weight, DWORD quality = ANTIALIASED_QUALITY) {
    HDC screen = CreateCompatibleDC(nullptr);
    int pixels = MulDiv(points, GetDeviceCaps(screen, LOGPIXELSY), 72);
    DeleteDC(screen);
    return CreateFontA(-pixels, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, quality, VARIABLE_PITCH, "Arial");
}

TEST(GdiText, ArialTwelvePointsIsSixteenPixelsFromTheSystemFonts) {
    ensureGuiApplication();
    HDC dc = CreateCompatibleDC(nullptr);
    EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSY), 96);
    EXPECT_EQ(MulDiv(12, GetDeviceCaps(dc, LOGPIXELSY), 72), 16);
    HFONT font = makeArial(12, FW_BOLD);
    ASSERT_NE(font, nullptr);

    LOGFONTA lf{};
    ASSERT_EQ(GetObject(font, sizeof lf, &lf), static_cast<int>(sizeof lf));
    EXPECT_EQ(lf.lfHeight, -16);
    EXPECT_EQ(lf.lfWeight, FW_BOLD);
    EXPECT_STREQ(lf.lfFaceName, "Arial");

    QFont qtFont;
    ASSERT_TRUE(platform::gdi::fontFor(font, &qtFont));
    QFontInfo resolved(qtFont);
    EXPECT_EQ(resolved.pixelSize(), 16);
    EXPECT_TRUE(resolved.bold());
    // fontconfig stands a metric-compatible face in for Arial.
    EXPECT_TRUE(resolved.family().contains("Liberation Sans") || resolved.family().contains("Arial"))
        << resolved.family().toStdString();

    HGDIOBJ previous = SelectObject(dc, font);
    SIZE space{}, w{}, i{}, ab{}, a{}, b{};
    ASSERT_TRUE(GetTextExtentPoint32A(dc, " ", 1, &space));
    // A 16-pixel em: the cell is a little taller (ascent plus descent).
    EXPECT_GE(space.cy, 16);
    EXPECT_LE(space.cy, 22);
    EXPECT_GT(space.cx, 0);
    GetTextExtentPoint32A(dc, "W", 1, &w);
    GetTextExtentPoint32A(dc, "i", 1, &i);
    EXPECT_GT(w.cx, i.cx);
    EXPECT_EQ(w.cy, space.cy);
    GetTextExtentPoint32A(dc, "AV", 2, &ab);
    GetTextExtentPoint32A(dc, "A", 1, &a);
    GetTextExtentPoint32A(dc, "V", 1, &b);
    EXPECT_EQ(ab.cx, a.cx + b.cx);  // no kerning, as in GDI

    // A positive height is the cell height.
    HFONT cell = CreateFontA(space.cy, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, ANTIALIASED_QUALITY,
                             VARIABLE_PITCH, "Arial");
    SelectObject(dc, cell);
    SIZE cellSpace{};
    GetTextExtentPoint32A(dc, " ", 1, &cellSpace);
    EXPECT_EQ(cellSpace.cy, space.cy);

    SelectObject(dc, previous);
    EXPECT_TRUE(DeleteObject(cell));
    EXPECT_TRUE(DeleteObject(font));
    DeleteDC(dc);
}

// Lays out the printable characters as the overlay font does and checks that
// every glyph left coverage inside its own cell and nowhere else.
void checkGlyphAtlas(DWORD quality, bool expectGreys) {
    Surface s(256, 256);
    HFONT font = makeArial(12, FW_BOLD, quality);
    ASSERT_NE(font, nullptr);
    SetMapMode(s.dc, MM_TEXT);
    HGDIOBJ previousFont = SelectObject(s.dc, font);
    SetTextColor(s.dc, RGB(255, 255, 255));
    SetBkColor(s.dc, 0);
    SetTextAlign(s.dc, TA_LEFT | TA_TOP);

    SIZE size{};
    GetTextExtentPoint32A(s.dc, " ", 1, &size);
    int spacing = (size.cy * 3 + 9) / 10;
    int x = spacing, y = 0;
    std::vector<RECT> cells;
    for (char ch = 33; ch < 127; ++ch) {
        GetTextExtentPoint32A(s.dc, &ch, 1, &size);
        if (x + size.cx + spacing > s.width) {
            x = spacing;
            y += size.cy + 1;
        }
        ASSERT_TRUE(ExtTextOutA(s.dc, x, y, ETO_OPAQUE, nullptr, &ch, 1, nullptr));
        cells.push_back(RECT{x, y, x + size.cx, y + size.cy});
        x += size.cx + 2 * spacing;
    }
    SelectObject(s.dc, previousFont);
    DeleteObject(font);

    bool greys = false;
    for (int py = 0; py < s.height; ++py)
        for (int px = 0; px < s.width; ++px) {
            std::uint32_t p = s.at(px, py);
            ASSERT_EQ(p >> 24, 0u) << "GDI leaves the top byte clear";
            if (p == 0)
                continue;
            EXPECT_EQ(p & 0xFF, (p >> 8) & 0xFF) << "white text is grey, never coloured";
            std::uint32_t blue = p & 0xFF;
            greys = greys || (blue > 0 && blue < 255);
            bool inside = std::any_of(cells.begin(), cells.end(), [&](const RECT& r) {
                return px >= r.left - 1 && px < r.right + 1 && py >= r.top && py < r.bottom;
            });
            ASSERT_TRUE(inside) << "coverage outside every cell at " << px << "," << py;
        }
    for (std::size_t k = 0; k < cells.size(); ++k) {
        const RECT& r = cells[k];
        int covered = 0;
        for (int py = r.top; py < r.bottom; ++py)
            for (int px = r.left; px < r.right; ++px)
                covered += (s.at(px, py) & 0xFF) != 0;
        EXPECT_GT(covered, 0) << "no coverage for '" << static_cast<char>(33 + k) << "'";
        EXPECT_LT(covered, (r.right - r.left) * (r.bottom - r.top)) << static_cast<char>(33 + k);
    }
    EXPECT_EQ(greys, expectGreys);
}

TEST(GdiText, GlyphsAreAntialiasedAndStayInsideTheirCells) { checkGlyphAtlas(ANTIALIASED_QUALITY, true); }

TEST(GdiText, NonAntialiasedGlyphsArePureBlackAndWhite) { checkGlyphAtlas(NONANTIALIASED_QUALITY, false); }

TEST(GdiText, BackgroundModesAlignmentAndOpaqueRectangle) {
    Surface s(64, 32);
    HFONT font = makeArial(12, FW_NORMAL);
    SelectObject(s.dc, font);
    EXPECT_EQ(SetTextColor(s.dc, RGB(255, 0, 0)), RGB(0, 0, 0));
    EXPECT_EQ(SetBkColor(s.dc, RGB(0, 0, 255)), RGB(255, 255, 255));

    // The opaque rectangle takes the background colour, stored as 0x00RRGGBB.
    RECT r{0, 0, 64, 32};
    ASSERT_TRUE(ExtTextOutA(s.dc, 0, 0, ETO_OPAQUE, &r, "", 0, nullptr));
    EXPECT_EQ(s.at(63, 31), 0x000000FFu);

    // Transparent mode keeps what is there around the glyph strokes.
    SetBkColor(s.dc, RGB(0, 255, 0));
    EXPECT_EQ(SetBkMode(s.dc, TRANSPARENT), OPAQUE);
    ASSERT_TRUE(ExtTextOutA(s.dc, 2, 2, 0, nullptr, "l", 1, nullptr));
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(s.at(x, y) & 0x0000FF00u, 0u);  // no green anywhere

    // Right and bottom alignment put the cell to the left of and above the point.
    r = {0, 0, 64, 32};
    SetBkColor(s.dc, 0);
    ExtTextOutA(s.dc, 0, 0, ETO_OPAQUE, &r, "", 0, nullptr);
    SetTextColor(s.dc, RGB(255, 255, 255));
    SetTextAlign(s.dc, TA_RIGHT | TA_BOTTOM);
    ASSERT_TRUE(ExtTextOutA(s.dc, 40, 30, 0, nullptr, "MM", 2, nullptr));
    int lit = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x)
            if (s.at(x, y) != 0) {
                ++lit;
                EXPECT_LE(x, 40);
                EXPECT_LT(y, 30);
            }
    EXPECT_GT(lit, 0);

    // A clipping rectangle keeps the text inside it.
    r = {0, 0, 64, 32};
    ExtTextOutA(s.dc, 0, 0, ETO_OPAQUE, &r, "", 0, nullptr);
    SetTextAlign(s.dc, TA_LEFT | TA_TOP);
    RECT clip{4, 4, 12, 10};
    ASSERT_TRUE(ExtTextOutA(s.dc, 0, 0, ETO_CLIPPED, &clip, "WWWW", 4, nullptr));
    lit = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x)
            if (s.at(x, y) != 0) {
                ++lit;
                EXPECT_TRUE(x >= 4 && x < 12 && y >= 4 && y < 10) << x << "," << y;
            }
    EXPECT_GT(lit, 0);
    SelectObject(s.dc, GetStockObject(SYSTEM_FONT));
    DeleteObject(font);
}

TEST(GdiText, BottomUpSectionsKeepTheirRowOrder) {
    Surface s(32, 32, false);
    SetTextColor(s.dc, RGB(255, 255, 255));
    SetBkColor(s.dc, 0);
    HFONT font = makeArial(12, FW_BOLD);
    SelectObject(s.dc, font);
    ASSERT_TRUE(ExtTextOutA(s.dc, 0, 0, 0, nullptr, "H", 1, nullptr));
    // Drawn at the top, so it lives in the last rows of memory.
    int topHalf = 0, bottomHalf = 0;
    for (int memRow = 0; memRow < 32; ++memRow)
        for (int x = 0; x < 32; ++x)
            (memRow < 16 ? bottomHalf : topHalf) += (s.at(x, memRow) & 0xFF) > 128;
    EXPECT_GT(topHalf, 0);
    EXPECT_EQ(bottomHalf, 0);

    // Reading it back top-down gives the picture the right way up.
    std::vector<std::uint32_t> rows(32 * 32);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = 32;
    info.bmiHeader.biHeight = -32;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    SelectObject(s.dc, GetStockObject(SYSTEM_FONT));
    DeleteObject(font);
    EXPECT_EQ(GetDIBits(s.dc, s.bitmap, 0, 32, rows.data(), &info, DIB_RGB_COLORS), 32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            ASSERT_EQ(rows[y * 32 + x], s.at(x, 31 - y));
}

}  // namespace
