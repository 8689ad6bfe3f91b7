#include <cstdio>

#include "platform/dinput8/dinput_internal.h"
#include "platform/win32/winreg.h"

namespace platform::dinput8 {

namespace {

// The user's choices live beside the other per-user settings, one key per
// action map and kind of device.
std::string keyPath(const DIACTIONFORMATA& format, const std::string& deviceKey) {
    return "Software\\DirectInput\\Action Maps\\" + guidText(format.guidActionMap) + "\\" + deviceKey;
}

}  // namespace

std::string mappingValueName(const DIACTIONA& action) {
    char name[40];
    std::snprintf(name, sizeof(name), "%08X-%lu", action.dwSemantic, static_cast<unsigned long>(action.uAppData));
    return name;
}

StoredMapping readStoredMapping(const DIACTIONFORMATA& format, const std::string& deviceKey) {
    StoredMapping stored;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath(format, deviceKey).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return stored;
    for (DWORD i = 0; i < format.dwNumActions; ++i) {
        DWORD type = 0;
        DWORD value = 0;
        DWORD size = sizeof(value);
        const std::string name = mappingValueName(format.rgoAction[i]);
        if (RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
                ERROR_SUCCESS &&
            type == REG_DWORD && size == sizeof(value))
            stored[i] = value;
    }
    RegCloseKey(key);
    return stored;
}

bool writeStoredMapping(const DIACTIONFORMATA& format, const std::string& deviceKey, const StoredMapping& choices) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, keyPath(format, deviceKey).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    bool written = true;
    for (DWORD i = 0; i < format.dwNumActions; ++i) {
        const std::string name = mappingValueName(format.rgoAction[i]);
        const auto choice = choices.find(i);
        if (choice != choices.end()) {
            const DWORD value = choice->second;
            written = RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                     sizeof(value)) == ERROR_SUCCESS &&
                      written;
        } else {
            const LSTATUS status = RegDeleteValueA(key, name.c_str());
            written = (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) && written;
        }
    }
    RegCloseKey(key);
    return written;
}

}  // namespace platform::dinput8
