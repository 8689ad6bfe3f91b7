// Identifiers of the program's resources: the icon, the menu and its
// commands, the accelerator table and the display settings dialog with its
// controls. Plain numbers, usable from the resource script and the program.
#pragma once

#define IDI_MAIN_ICON 101
#define IDR_MAIN_ACCEL 113
#define IDR_MENU 141
#define IDD_DISPLAY_SETTINGS 144

// Menu and accelerator commands.
#define IDM_CHANGE_DISPLAY 40002
#define IDM_TOGGLE_FULLSCREEN 40003
#define IDM_EXIT 40006
#define IDM_CONFIGURE_INPUT 40011

// The View menu: the mode shown (consecutive ids, mode 1 first), animation,
// the view's reset and the saved picture.
#define IDM_SHOW_MODE_1 40101
#define IDM_SHOW_MODE_5 40105
#define IDM_ANIMATE 40110
#define IDM_RESET_VIEW 40111
#define IDM_SAVE_PICTURE 40112

// Controls of the display settings dialog.
#define IDC_DEVICE_COMBO 1000
#define IDC_ADAPTER_COMBO 1002
#define IDC_ADAPTER_FORMAT_COMBO 1003
#define IDC_RESOLUTION_COMBO 1004
#define IDC_MULTISAMPLE_COMBO 1005
#define IDC_REFRESH_RATE_COMBO 1006
#define IDC_BACK_BUFFER_FORMAT_COMBO 1007
#define IDC_DEPTH_STENCIL_FORMAT_COMBO 1008
#define IDC_VERTEX_PROCESSING_COMBO 1009
#define IDC_PRESENT_INTERVAL_COMBO 1010
#define IDC_MULTISAMPLE_QUALITY_COMBO 1011
#define IDC_WINDOWED_RADIO 1016
#define IDC_FULLSCREEN_RADIO 1018
