#include <gtest/gtest.h>

#include "platform/gdi/wingdi.h"

// Without the GUI library there is no font database: fonts cannot be made and
// text calls fail, but nothing crashes and bitmaps still work.
TEST(GdiHeadless, FontsFailCleanlyWithoutTheGuiLibrary) {
    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(CreateFontA(-16, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, ANTIALIASED_QUALITY, VARIABLE_PITCH,
                          "Arial"),
              nullptr);
    SIZE size{};
    EXPECT_FALSE(GetTextExtentPoint32A(dc, " ", 1, &size));
    EXPECT_FALSE(ExtTextOutA(dc, 0, 0, ETO_OPAQUE, nullptr, "a", 1, nullptr));
    EXPECT_EQ(GetStockObject(SYSTEM_FONT), nullptr);

    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 8, -8, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_NE(SelectObject(dc, bitmap), nullptr);
    EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSY), 96);
    DeleteDC(dc);
    EXPECT_TRUE(DeleteObject(bitmap));
}
