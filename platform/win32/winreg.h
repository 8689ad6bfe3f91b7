// The registry calls of the desktop platform on a per-user text store:
// $XDG_CONFIG_HOME/vibrolane/registry.reg (~/.config/vibrolane/registry.reg
// when XDG_CONFIG_HOME is unset or not absolute), in the registry editor's
// export form. Every call reads the file afresh and every change rewrites it
// whole through a temporary file and a rename, so two programs sharing the
// store lose only on a true race, and a crash never leaves half a file.
// Lines that do not parse are skipped; a file that cannot be read at all (too
// large, unreadable) makes values read as missing and refuses changes, so
// what it holds is never overwritten.
#pragma once

#include "platform/win32/winbase.h"
#include "platform/win32/wintypes.h"

using LSTATUS = LONG;
using REGSAM = DWORD;

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define HKEY_USERS ((HKEY)(ULONG_PTR)((LONG)0x80000003))

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_LITTLE_ENDIAN 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define REG_OPTION_NON_VOLATILE 0x00000000L
#define REG_OPTION_VOLATILE 0x00000001L

#define REG_CREATED_NEW_KEY 0x00000001L
#define REG_OPENED_EXISTING_KEY 0x00000002L

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

// Opens the key, creating it and any missing parent first. Results are
// ERROR_SUCCESS or an error code; the store is the platform's, so access
// masks and options are accepted but not enforced.
LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                               REGSAM access, LPSECURITY_ATTRIBUTES security, HKEY* result, LPDWORD disposition);
// Opens an existing key; ERROR_FILE_NOT_FOUND when there is none.
LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, HKEY* result);
// With no data buffer only the type and size are returned; a buffer smaller
// than the value gives ERROR_MORE_DATA with the size needed.
LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                LPDWORD dataSize);
LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                              DWORD dataSize);
LSTATUS WINAPI RegDeleteValueA(HKEY key, LPCSTR valueName);
LSTATUS WINAPI RegCloseKey(HKEY key);
