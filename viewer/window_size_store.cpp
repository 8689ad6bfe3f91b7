#include "viewer/window_size_store.h"

namespace {

bool OpenWindowSizeKey(HKEY* key) {
    return RegCreateKeyExA(HKEY_CURRENT_USER, WindowSizeKeyName, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                           nullptr, key, nullptr) == ERROR_SUCCESS;
}

void ReadWindowDimension(HKEY key, const char* name, DWORD* dimension) {
    DWORD value = *dimension;
    ReadDwordValue(key, name, &value, *dimension);
    if (value >= MinStoredWindowSize && value <= MaxStoredWindowSize)
        *dimension = value;
}

}  // namespace

HRESULT ReadDwordValue(HKEY key, const char* name, DWORD* value, DWORD defaultValue) {
    DWORD type = 0;
    DWORD size = sizeof(DWORD);
    *value = defaultValue;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS) {
        *value = defaultValue;
        return E_FAIL;
    }
    return S_OK;
}

HRESULT WriteDwordValue(HKEY key, const char* name, DWORD value) {
    if (RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(DWORD)) !=
        ERROR_SUCCESS)
        return E_FAIL;
    return S_OK;
}

void ReadStoredWindowSize(DWORD* width, DWORD* height) {
    HKEY key = nullptr;
    if (!OpenWindowSizeKey(&key))
        return;
    ReadWindowDimension(key, "Width", width);
    ReadWindowDimension(key, "Height", height);
    RegCloseKey(key);
}

void WriteStoredWindowSize(DWORD width, DWORD height) {
    HKEY key = nullptr;
    if (!OpenWindowSizeKey(&key))
        return;
    WriteDwordValue(key, "Width", width);
    WriteDwordValue(key, "Height", height);
    RegCloseKey(key);
}
