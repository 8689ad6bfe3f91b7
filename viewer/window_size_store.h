// The client size of the main window, kept between runs in the current
// user's registry.
#pragma once

#include "platform/win32/windows.h"

inline constexpr char WindowSizeKeyName[] = "Software\\DirectX AppWizard Apps\\vibrolane";

// Sizes outside this range are not sizes a window of ours ever had: a store
// edited by hand or written by a broken build must not make the window
// vanish or exhaust the device.
inline constexpr DWORD MinStoredWindowSize = 100;
inline constexpr DWORD MaxStoredWindowSize = 16384;

// Fills *value from the named value; a missing value, or one larger than 4
// bytes, leaves `defaultValue`. A shorter value replaces only its own
// low-order bytes of the default.
HRESULT ReadDwordValue(HKEY key, const char* name, DWORD* value, DWORD defaultValue);
// REG_DWORD; E_FAIL when the registry refuses.
HRESULT WriteDwordValue(HKEY key, const char* name, DWORD value);

// Replaces *width and *height by the stored "Width" and "Height", each only
// when it is readable and a plausible size. The key is created if missing.
void ReadStoredWindowSize(DWORD* width, DWORD* height);
// Stores both; registry failures leave the stored values as they were.
void WriteStoredWindowSize(DWORD width, DWORD height);
