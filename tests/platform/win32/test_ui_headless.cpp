// Without a display: the GUI is marked unavailable instead of aborting, the
// queue still works, and messages boxes go to standard error. Also the
// program's resources, which need no display at all.
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/win32/commdlg.h"
#include "platform/win32/window_access.h"
#include "resources/resource.h"
#include "ui_test_support.h"

using namespace uitest;

namespace {

class Headless : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        unsetenv("QT_QPA_PLATFORM");
        InitCommonControls();
    }
};

INT_PTR CALLBACK neverCalled(HWND, UINT, WPARAM, LPARAM) {
    ADD_FAILURE() << "a dialog procedure ran without a display";
    return FALSE;
}

}  // namespace

TEST_F(Headless, TheGuiIsUnavailableAndWindowsFailCleanly) {
    EXPECT_FALSE(platform::guiAvailable());
    WNDCLASSA wc{};
    wc.lpfnWndProc = recordingProc;
    wc.lpszClassName = "D3D Window";
    ASSERT_NE(RegisterClassA(&wc), 0);
    EXPECT_EQ(RegisterClassA(&wc), 0) << "a class name is registered once";
    received().clear();
    EXPECT_EQ(CreateWindowExA(0, "D3D Window", "vibrolane", WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT,
                              CW_USEDEFAULT, 500, 375, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr),
              nullptr);
    EXPECT_TRUE(received().empty()) << "no window, no messages";
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_DISPLAY_SETTINGS), nullptr, neverCalled, 0), -1);
    EXPECT_EQ(GetDC(reinterpret_cast<HWND>(0x12345)), nullptr);
}

TEST_F(Headless, MessageBoxesGoToStandardError) {
    testing::internal::CaptureStderr();
    const int result = MessageBoxA(nullptr, "Could not find any compatible Direct3D\ndevices.", "vibrolane",
                                   MB_ICONERROR);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, IDOK);
    EXPECT_NE(printed.find("vibrolane"), std::string::npos);
    EXPECT_NE(printed.find("Could not find any compatible Direct3D\ndevices."), std::string::npos);
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "?", "q", MB_YESNO), IDYES);
    testing::internal::GetCapturedStderr();
}

TEST_F(Headless, TheQueueWorksWithoutTheGuiLibrary) {
    PostMessageA(nullptr, WM_APP, 1, 2);
    PostQuitMessage(3);
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_APP));
    EXPECT_EQ(msg.lParam, 2);
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(GetMessageA(nullptr, nullptr, 0, 0), -1);
}

TEST(Resources, TheModuleIsTheProgramsOwn) {
    HMODULE module = GetModuleHandleA(nullptr);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(GetModuleHandleA("d3d9.dll"), nullptr);
    EXPECT_NE(FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_MENU), RT_MENU), nullptr);
    EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_MENU), RT_DIALOG), nullptr) << "types must match";
    EXPECT_EQ(FindResourceA(reinterpret_cast<HMODULE>(0x1234), MAKEINTRESOURCEA(IDR_MENU), RT_MENU), nullptr);
    EXPECT_EQ(FindResourceA(nullptr, "#141", RT_MENU), FindResourceA(module, MAKEINTRESOURCEA(141), RT_MENU));
    EXPECT_EQ(FindResourceA(nullptr, "NOSUCH", "WAVE"), nullptr);
    EXPECT_EQ(LoadResource(nullptr, nullptr), nullptr);
    EXPECT_EQ(SizeofResource(nullptr, reinterpret_cast<HRSRC>(&module)), 0u) << "only found resources are followed";
}

TEST(Resources, BounceIsTheCommittedWave) {
    std::ifstream file(VL_SOURCE_DIR "/resources/bounce.wav", std::ios::binary);
    HRSRC found = FindResourceA(nullptr, "BOUNCE", "WAVE");
    if (!file) {
        EXPECT_EQ(found, nullptr);
        GTEST_SKIP() << "resources/bounce.wav is not there yet";
    }
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(FindResourceA(GetModuleHandleA(nullptr), "bounce", "wave"), found) << "names ignore case";
    const DWORD size = SizeofResource(nullptr, found);
    const void* data = LockResource(LoadResource(nullptr, found));
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(size, bytes.size());
    EXPECT_EQ(std::memcmp(data, bytes.data(), size), 0);
    EXPECT_EQ(std::memcmp(data, "RIFF", 4), 0);
}

TEST(Resources, MenuAndAcceleratorsLoadWithoutADisplay) {
    HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MENU));
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 2);
    char text[64];
    GetMenuStringA(menu, 0, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&File");
    GetMenuStringA(menu, 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&View");
    // The View menu's modes carry radio marks, the fifth checked; checking
    // another moves the mark.
    HMENU view = GetSubMenu(menu, 1);
    ASSERT_EQ(GetMenuItemCount(view), 10);
    for (UINT id = IDM_SHOW_MODE_1; id <= IDM_SHOW_MODE_5; ++id)
        EXPECT_EQ(GetMenuState(view, id, MF_BYCOMMAND) & (MFT_RADIOCHECK | MF_CHECKED),
                  id == IDM_SHOW_MODE_5 ? UINT(MFT_RADIOCHECK | MF_CHECKED) : UINT(MFT_RADIOCHECK));
    EXPECT_TRUE(CheckMenuRadioItem(menu, IDM_SHOW_MODE_1, IDM_SHOW_MODE_5, IDM_SHOW_MODE_1 + 1, MF_BYCOMMAND));
    for (UINT id = IDM_SHOW_MODE_1; id <= IDM_SHOW_MODE_5; ++id)
        EXPECT_EQ((GetMenuState(menu, id, MF_BYCOMMAND) & MF_CHECKED) != 0, id == IDM_SHOW_MODE_1 + 1) << id;
    EXPECT_FALSE(CheckMenuRadioItem(menu, IDM_SHOW_MODE_1, IDM_SHOW_MODE_5 + 1, IDM_SHOW_MODE_1, MF_BYCOMMAND))
        << "an item of the range is missing";
    HMENU file = GetSubMenu(menu, 0);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(GetMenuItemCount(file), 4);
    const UINT ids[] = {IDM_CHANGE_DISPLAY, IDM_CONFIGURE_INPUT, 0, IDM_EXIT};
    const char* texts[] = {"Config &display...\tF2", "Configure &input...\tF3", "", "E&xit\tESC"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(GetMenuItemID(file, i), ids[i]);
        GetMenuStringA(file, i, text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ(text, texts[i]);
    }
    EXPECT_TRUE(GetMenuState(file, 2, MF_BYPOSITION) & MF_SEPARATOR);
    EXPECT_EQ(GetMenuItemID(menu, 0), 0xFFFFFFFFu) << "a popup has no command";
    GetMenuStringA(menu, IDM_EXIT, text, sizeof text, MF_BYCOMMAND);
    EXPECT_STREQ(text, "E&xit\tESC") << "commands are found inside popups";
    EXPECT_TRUE(DestroyMenu(menu));
    EXPECT_FALSE(DestroyMenu(menu));
    EXPECT_EQ(GetMenuItemCount(file), -1) << "popups go with their menu";
    EXPECT_EQ(LoadMenuA(nullptr, MAKEINTRESOURCEA(999)), nullptr);

    HACCEL table = LoadAcceleratorsA(nullptr, MAKEINTRESOURCEA(IDR_MAIN_ACCEL));
    EXPECT_NE(table, nullptr);
    EXPECT_TRUE(DestroyAcceleratorTable(table));
    EXPECT_EQ(LoadAcceleratorsA(nullptr, MAKEINTRESOURCEA(IDR_MENU)), nullptr);
}

TEST(Resources, TheIconIsTheDrawnDiskAndTheArrowHasAMonochromePicture) {
    HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_MAIN_ICON));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_MAIN_ICON)), icon) << "loaded icons are shared";
    EXPECT_EQ(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(102)), nullptr);
    platform::IconPictures pictures;
    ASSERT_TRUE(platform::iconPicturesFor(icon, &pictures));
    EXPECT_TRUE(pictures.isIcon);
    ASSERT_EQ(pictures.colour.size(), QSize(16, 16));
    const QRgb top = pictures.colour.pixel(8, 4);
    const QRgb bottom = pictures.colour.pixel(8, 10);
    EXPECT_GT(qBlue(top), qRed(top)) << "crests are blue";
    EXPECT_GT(qRed(bottom), qBlue(bottom)) << "troughs are red";
    EXPECT_EQ(pictures.mask.pixelIndex(0, 0), 1) << "the corner is transparent";
    EXPECT_EQ(pictures.mask.pixelIndex(8, 8), 0);

    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    ASSERT_NE(arrow, nullptr);
    ASSERT_TRUE(platform::iconPicturesFor(arrow, &pictures));
    EXPECT_FALSE(pictures.isIcon);
    EXPECT_TRUE(pictures.colour.isNull());
    ASSERT_EQ(pictures.mask.size(), QSize(32, 64)) << "AND mask above XOR mask";
    EXPECT_EQ(pictures.mask.pixelIndex(0, 0), 0) << "the tip is drawn";
    EXPECT_EQ(pictures.mask.pixelIndex(31, 31), 1) << "far corner transparent";
    EXPECT_EQ(pictures.mask.pixelIndex(1, 32 + 2), 1) << "white inside the arrow";
    EXPECT_EQ(LoadCursorA(nullptr, MAKEINTRESOURCEA(1)), nullptr);
    EXPECT_FALSE(platform::iconPicturesFor(reinterpret_cast<HICON>(0x99), &pictures));
}

TEST(SaveFileDialog, ABadRequestFailsWithItsReasonInsteadOfOpening) {
    char file[16] = "x.png";
    const struct {
        DWORD size;
        LPSTR buffer;
        DWORD room;
        DWORD error;
    } cases[] = {{8, file, 16, CDERR_STRUCTSIZE}, {sizeof(OPENFILENAMEA), nullptr, 16, CDERR_INITIALIZATION},
                 {sizeof(OPENFILENAMEA), file, 0, CDERR_INITIALIZATION}};
    for (const auto& c : cases) {
        OPENFILENAMEA dialog{};
        dialog.lStructSize = c.size;
        dialog.lpstrFile = c.buffer;
        dialog.nMaxFile = c.room;
        EXPECT_FALSE(GetSaveFileNameA(&dialog));
        EXPECT_EQ(CommDlgExtendedError(), c.error);
    }
    EXPECT_STREQ(file, "x.png");
}
