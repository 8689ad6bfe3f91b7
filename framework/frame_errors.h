// The frame's own failures, each with a fixed text in ErrorText. They are
// reported to the user by code, so a value must never change or repeat.
#pragma once

#include "platform/win32/windows.h"

inline constexpr HRESULT kErrorNoDirect3D = HRESULT(0x82000001);
// No better cause is known, such as a window that could not be made; it has
// the generic text.
inline constexpr HRESULT kErrorGeneric = HRESULT(0x82000002);
inline constexpr HRESULT kErrorNoCompatibleDevices = HRESULT(0x82000003);
inline constexpr HRESULT kErrorNoWindowableDevices = HRESULT(0x82000004);
inline constexpr HRESULT kErrorNoHardwareDevice = HRESULT(0x82000005);
inline constexpr HRESULT kErrorHalNotCompatible = HRESULT(0x82000006);
inline constexpr HRESULT kErrorNoWindowedHal = HRESULT(0x82000007);
inline constexpr HRESULT kErrorNoDesktopHal = HRESULT(0x82000008);
inline constexpr HRESULT kErrorNoHalThisMode = HRESULT(0x82000009);
inline constexpr HRESULT kErrorNonZeroRefCount = HRESULT(0x8200000A);
inline constexpr HRESULT kErrorMediaNotFound = HRESULT(0x8200000B);
inline constexpr HRESULT kErrorResetFailed = HRESULT(0x8200000C);
inline constexpr HRESULT kErrorNullReferenceDevice = HRESULT(0x8200000D);
// The system's "file not found", which also counts as missing media.
inline constexpr HRESULT kErrorFileNotFound = HRESULT(0x80070002);
