#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/win32/windows.h"

// The window layer keeps the cursor's pictures; GetIconInfo hands out copies.
TEST(GdiIcons, MonochromeArrowHasADoubleHeightMaskAndNoColour) {
    HCURSOR arrow = LoadCursor(nullptr, IDC_ARROW);
    ASSERT_NE(arrow, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(arrow, &info));
    EXPECT_FALSE(info.fIcon);
    EXPECT_EQ(info.hbmColor, nullptr);
    BITMAP bm{};
    ASSERT_EQ(GetObject(info.hbmMask, sizeof bm, &bm), static_cast<int>(sizeof bm));
    EXPECT_EQ(bm.bmWidth, 32);
    EXPECT_EQ(bm.bmHeight, 64);
    EXPECT_EQ(bm.bmBitsPixel, 1);
    EXPECT_EQ(bm.bmWidthBytes, 4);

    // Black and white only; the AND half is mostly set (transparent), and the
    // XOR half draws something.
    std::vector<std::uint32_t> rows(32 * 64);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 32, -64, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_EQ(GetDIBits(dc, info.hbmMask, 0, 64, rows.data(), &bi, DIB_RGB_COLORS), 64);
    int andSet = 0, xorSet = 0;
    for (int i = 0; i < 32 * 64; ++i) {
        ASSERT_TRUE(rows[i] == 0 || rows[i] == 0x00FFFFFFu);
        (i < 32 * 32 ? andSet : xorSet) += rows[i] != 0;
    }
    EXPECT_GT(andSet, 32 * 32 / 2);
    EXPECT_GT(xorSet, 0);

    // The copies are the caller's to delete; a second call gives fresh ones.
    ICONINFO again{};
    ASSERT_TRUE(GetIconInfo(arrow, &again));
    EXPECT_NE(again.hbmMask, info.hbmMask);
    EXPECT_TRUE(DeleteObject(info.hbmMask));
    EXPECT_TRUE(DeleteObject(again.hbmMask));
    DeleteDC(dc);

    EXPECT_FALSE(GetIconInfo(nullptr, &info));
    EXPECT_FALSE(GetIconInfo(arrow, nullptr));
}
