// The resource script: what the program carries inside its executable.
#include "platform/win32/windows.h"
#include "resources/resource.h"
#include "resources/resource_script.h"

namespace resources {

// The "BOUNCE" wave, embedded from bounce.wav at build time; empty while the
// file does not exist yet, in which case the resource is simply absent.
extern const unsigned char bounceWave[];
extern const std::uint32_t bounceWaveSize;

namespace {

const MenuItemTemplate mainMenu[] = {
    {MF_POPUP, 0, "&File"},
    {MF_STRING, IDM_CHANGE_DISPLAY, "Config &display...\tF2"},
    {MF_STRING, IDM_CONFIGURE_INPUT, "Configure &input...\tF3"},
    {MF_SEPARATOR, 0, ""},
    {MF_STRING | MF_END, IDM_EXIT, "E&xit\tESC"},
    {MF_POPUP | MF_END, 0, "&View"},
    {MF_STRING | MFT_RADIOCHECK, IDM_SHOW_MODE_1, "Mode &1\t1"},
    {MF_STRING | MFT_RADIOCHECK, IDM_SHOW_MODE_1 + 1, "Mode &2\t2"},
    {MF_STRING | MFT_RADIOCHECK, IDM_SHOW_MODE_1 + 2, "Mode &3\t3"},
    {MF_STRING | MFT_RADIOCHECK, IDM_SHOW_MODE_1 + 3, "Mode &4\t4"},
    {MF_STRING | MFT_RADIOCHECK | MF_CHECKED, IDM_SHOW_MODE_5, "Mode &5\t5"},
    {MF_SEPARATOR, 0, ""},
    {MF_STRING, IDM_ANIMATE, "&Animate\tSpace"},
    {MF_STRING, IDM_RESET_VIEW, "&Reset view\tHome"},
    {MF_SEPARATOR, 0, ""},
    {MF_STRING | MF_END, IDM_SAVE_PICTURE, "&Save picture...\tCtrl+S"},
};

const ACCEL mainAccelerators[] = {
    {FVIRTKEY | FNOINVERT, VK_ESCAPE, IDM_EXIT},
    {FVIRTKEY | FALT | FNOINVERT, VK_RETURN, IDM_TOGGLE_FULLSCREEN},
    {FVIRTKEY | FALT | FNOINVERT, 'X', IDM_EXIT},
    {FVIRTKEY | FNOINVERT, '1', IDM_SHOW_MODE_1},
    {FVIRTKEY | FNOINVERT, '2', IDM_SHOW_MODE_1 + 1},
    {FVIRTKEY | FNOINVERT, '3', IDM_SHOW_MODE_1 + 2},
    {FVIRTKEY | FNOINVERT, '4', IDM_SHOW_MODE_1 + 3},
    {FVIRTKEY | FNOINVERT, '5', IDM_SHOW_MODE_5},
    {FVIRTKEY | FNOINVERT, VK_SPACE, IDM_ANIMATE},
    {FVIRTKEY | FNOINVERT, VK_HOME, IDM_RESET_VIEW},
    {FVIRTKEY | FCONTROL | FNOINVERT | 0x80, 'S', IDM_SAVE_PICTURE},
};

constexpr std::uint32_t kLabel = SS_LEFT;
constexpr std::uint32_t kCombo = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
constexpr std::uint32_t kGroup = BS_GROUPBOX;

const DialogItemTemplate displaySettingsItems[] = {
    {"BUTTON", "Adapter and device", IDC_STATIC, kGroup, 7, 7, 275, 52},
    {"STATIC", "Display &Adapter:", IDC_STATIC, kLabel, 17, 21, 105, 8},
    {"COMBOBOX", "", IDC_ADAPTER_COMBO, kCombo, 127, 19, 145, 100},
    {"STATIC", "Render &Device:", IDC_STATIC, kLabel, 17, 38, 105, 8},
    {"COMBOBOX", "", IDC_DEVICE_COMBO, kCombo, 127, 36, 145, 100},

    {"BUTTON", "Display mode settings", IDC_STATIC, kGroup, 7, 64, 275, 96},
    {"BUTTON", "&Windowed", IDC_WINDOWED_RADIO, BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP, 17, 77, 100, 10},
    {"BUTTON", "&Fullscreen", IDC_FULLSCREEN_RADIO, BS_AUTORADIOBUTTON, 17, 90, 100, 10},
    {"STATIC", "Adapter F&ormat:", IDC_STATIC, kLabel, 27, 107, 95, 8},
    {"COMBOBOX", "", IDC_ADAPTER_FORMAT_COMBO, kCombo | WS_GROUP, 127, 105, 145, 100},
    {"STATIC", "&Resolution:", IDC_STATIC, kLabel, 27, 124, 95, 8},
    {"COMBOBOX", "", IDC_RESOLUTION_COMBO, kCombo, 127, 122, 145, 100},
    {"STATIC", "R&efresh Rate:", IDC_STATIC, kLabel, 27, 141, 95, 8},
    {"COMBOBOX", "", IDC_REFRESH_RATE_COMBO, kCombo, 127, 139, 145, 100},

    {"BUTTON", "Device settings", IDC_STATIC, kGroup, 7, 165, 275, 112},
    {"STATIC", "&Back Buffer Format:", IDC_STATIC, kLabel, 17, 179, 108, 8},
    {"COMBOBOX", "", IDC_BACK_BUFFER_FORMAT_COMBO, kCombo, 127, 177, 145, 100},
    {"STATIC", "De&pth/Stencil Buffer Format:", IDC_STATIC, kLabel, 17, 196, 108, 8},
    {"COMBOBOX", "", IDC_DEPTH_STENCIL_FORMAT_COMBO, kCombo, 127, 194, 145, 100},
    {"STATIC", "&Multisample Type:", IDC_STATIC, kLabel, 17, 213, 108, 8},
    {"COMBOBOX", "", IDC_MULTISAMPLE_COMBO, kCombo, 127, 211, 145, 100},
    {"STATIC", "Multisample &Quality:", IDC_STATIC, kLabel, 17, 230, 108, 8},
    {"COMBOBOX", "", IDC_MULTISAMPLE_QUALITY_COMBO, kCombo, 127, 228, 145, 100},
    {"STATIC", "&Vertex Processing:", IDC_STATIC, kLabel, 17, 247, 108, 8},
    {"COMBOBOX", "", IDC_VERTEX_PROCESSING_COMBO, kCombo, 127, 245, 145, 100},
    {"STATIC", "Present &Interval:", IDC_STATIC, kLabel, 17, 264, 108, 8},
    {"COMBOBOX", "", IDC_PRESENT_INTERVAL_COMBO, kCombo, 127, 262, 145, 100},

    {"BUTTON", "OK", IDOK, BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 175, 283, 50, 14},
    {"BUTTON", "Cancel", IDCANCEL, BS_PUSHBUTTON | WS_TABSTOP, 232, 283, 50, 14},
};

const DialogTemplate displaySettingsDialog = {
    DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU,
    "Direct3D Settings",
    "MS Shell Dlg",
    8,
    289,
    302,
    displaySettingsItems,
    static_cast<int>(sizeof displaySettingsItems / sizeof displaySettingsItems[0]),
};

// The vibrating disk: crests above the rest plane in blue, troughs in red.
const char* const mainIconRows[] = {
    "................",
    "......kkkk......",
    "....kkbbbbkk....",
    "...kbbbBBbbbk...",
    "..kbbBBBBBBbbk..",
    "..kbBBBBBBBBbk..",
    ".kbbBBBBBBBBbbk.",
    ".kwwwwwwwwwwwwk.",
    ".krrRRRRRRRRrrk.",
    "..krRRRRRRRRrk..",
    "..krrRRRRRRrrk..",
    "...krrrRRrrrk...",
    "....kkrrrrkk....",
    "......kkkk......",
    "................",
    "................",
};

const IconPaletteEntry mainIconPalette[] = {
    {'.', 0x00000000u}, {'k', 0xFF202020u}, {'b', 0xFF3050C0u}, {'B', 0xFF5C8CFFu},
    {'w', 0xFFF0F0F0u}, {'r', 0xFFC03030u}, {'R', 0xFFFF5A5Au},
};

const IconTemplate mainIcon = {16, 16, mainIconRows, mainIconPalette,
                               static_cast<int>(sizeof mainIconPalette / sizeof mainIconPalette[0])};

constexpr std::uint16_t kEnglishUS = 1033;

const ResourceEntry table[] = {
    {RT_GROUP_ICON, MAKEINTRESOURCEA(IDI_MAIN_ICON), kEnglishUS, &mainIcon, sizeof mainIcon},
    {RT_MENU, MAKEINTRESOURCEA(IDR_MENU), kEnglishUS, mainMenu, sizeof mainMenu},
    {RT_ACCELERATOR, MAKEINTRESOURCEA(IDR_MAIN_ACCEL), kEnglishUS, mainAccelerators, sizeof mainAccelerators},
    {RT_DIALOG, MAKEINTRESOURCEA(IDD_DISPLAY_SETTINGS), kEnglishUS, &displaySettingsDialog,
     sizeof displaySettingsDialog},
    {"WAVE", "BOUNCE", kEnglishUS, bounceWave, 0},
};

}  // namespace

const ResourceEntry* resourceTable(std::size_t* count) {
    static ResourceEntry entries[sizeof table / sizeof table[0]];
    static std::size_t used = 0;
    if (used == 0) {
        for (const ResourceEntry& entry : table) {
            ResourceEntry copy = entry;
            if (copy.data == bounceWave) {
                if (bounceWaveSize == 0)
                    continue;
                copy.size = bounceWaveSize;
            }
            entries[used++] = copy;
        }
    }
    *count = used;
    return entries;
}

}  // namespace resources

const platform::win32::ResourceEntry* platform::win32::programResources(std::size_t* count) {
    return resources::resourceTable(count);
}
