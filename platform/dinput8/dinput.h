// The action-mapped input of the desktop platform the program was written
// for: the DirectInput 8 object and device, action formats, buffered device
// data, the dead-zone property and the device configuration window, with the
// names, numbers and results the program relies on. Nothing here pulls in Qt
// or SDL; the implementation lives beside this header.
//
// Records that hold pointers (DIACTIONA, DIACTIONFORMATA, DIDEVICEOBJECTDATA,
// DICONFIGUREDEVICESPARAMSA) are larger on a 64-bit build than on the
// original 32-bit one; callers give sizeof of them, never fixed byte counts.
#pragma once

#include "platform/com/objbase.h"
#include "platform/win32/wintypes.h"

#define DIRECTINPUT_VERSION 0x0800

// ---------------------------------------------------------------- result codes
#define MAKE_DIHRESULT(code) MAKE_HRESULT(1, 4, (code))
#define DI_OK S_OK
#define DI_NOEFFECT S_FALSE
#define DI_BUFFEROVERFLOW S_FALSE
#define DI_PROPNOEFFECT S_FALSE
#define DIERR_OLDDIRECTINPUTVERSION ((HRESULT)0x8007047E)
#define DIERR_BETADIRECTINPUTVERSION ((HRESULT)0x80070481)
#define DIERR_INVALIDPARAM E_INVALIDARG
#define DIERR_NOINTERFACE E_NOINTERFACE
#define DIERR_GENERIC E_FAIL
#define DIERR_OUTOFMEMORY E_OUTOFMEMORY
#define DIERR_UNSUPPORTED E_NOTIMPL
#define DIERR_NOTINITIALIZED ((HRESULT)0x80070015)
#define DIERR_ACQUIRED ((HRESULT)0x800700AA)
#define DIERR_NOTACQUIRED ((HRESULT)0x8007000C)
#define DIERR_INPUTLOST ((HRESULT)0x8007001E)
#define DIERR_OTHERAPPHASPRIO E_ACCESSDENIED
#define DIERR_NOTFOUND ((HRESULT)0x80070002)
#define DIERR_OBJECTNOTFOUND ((HRESULT)0x80070002)
#define DIERR_NOTBUFFERED MAKE_DIHRESULT(0x207)
#define DIERR_UNPLUGGED MAKE_DIHRESULT(0x209)

// ---------------------------------------------------------------- device types
#define DI8DEVCLASS_ALL 0
#define DI8DEVTYPE_KEYBOARD 0x13
#define DI8DEVTYPE_GAMEPAD 0x15
#define DI8DEVTYPEKEYBOARD_PCENH 4
#define DI8DEVTYPEGAMEPAD_STANDARD 2
#define GET_DIDEVICE_TYPE(type) LOBYTE(type)
#define GET_DIDEVICE_SUBTYPE(type) ((BYTE)(((type) >> 8) & 0xFF))

// Device objects: the instance number above the type bits.
#define DIDFT_ALL 0x00000000
#define DIDFT_RELAXIS 0x00000001
#define DIDFT_ABSAXIS 0x00000002
#define DIDFT_AXIS 0x00000003
#define DIDFT_PSHBUTTON 0x00000004
#define DIDFT_TGLBUTTON 0x00000008
#define DIDFT_BUTTON 0x0000000C
#define DIDFT_INSTANCEMASK 0x00FFFF00
#define DIDFT_MAKEINSTANCE(n) ((WORD)(n) << 8)
#define DIDFT_GETTYPE(n) LOBYTE(n)
#define DIDFT_GETINSTANCE(n) LOWORD((n) >> 8)

// ---------------------------------------------------------------- action maps
#define DIA_FORCEFEEDBACK 0x00000001
#define DIA_APPMAPPED 0x00000002
#define DIA_APPNOMAP 0x00000004
#define DIA_NORANGE 0x00000008
#define DIA_APPFIXED 0x00000010

#define DIAH_UNMAPPED 0x00000000
#define DIAH_USERCONFIG 0x00000001
#define DIAH_APPREQUESTED 0x00000002
#define DIAH_HWAPP 0x00000004
#define DIAH_HWDEFAULT 0x00000008
#define DIAH_DEFAULT 0x00000020
#define DIAH_ERROR 0x80000000

#define DIDBAM_DEFAULT 0x00000000
#define DIDBAM_PRESERVE 0x00000001
#define DIDBAM_INITIALIZE 0x00000002
#define DIDBAM_HWDEFAULTS 0x00000004

#define DIDSAM_DEFAULT 0x00000000
#define DIDSAM_NOUSER 0x00000001
#define DIDSAM_FORCESAVE 0x00000002

#define DIEDBSFL_ATTACHEDONLY 0x00000000
#define DIEDBSFL_THISUSER 0x00000010
#define DIEDBSFL_AVAILABLEDEVICES 0x00001000

#define DIEDBS_MAPPEDPRI1 0x00000001
#define DIEDBS_MAPPEDPRI2 0x00000002
#define DIEDBS_RECENTDEVICE 0x00000010
#define DIEDBS_NEWDEVICE 0x00000020

#define DIENUM_STOP 0
#define DIENUM_CONTINUE 1

#define DICD_DEFAULT 0x00000000
#define DICD_EDIT 0x00000001

// Semantics: genre in the top byte, the control's type in bits 9-10, its
// number in the low byte.
#define DISEM_TYPE_MASK 0x00000600
#define DISEM_TYPE_AXIS 0x00000200
#define DISEM_TYPE_BUTTON 0x00000400
#define DISEM_TYPE_POV 0x00000600
#define DISEM_GENRE_MASK 0xFF000000
#define DISEM_INDEX_MASK 0x000000FF
#define DIVIRTUAL_CAD_3DCONTROL 0x24000000
#define DIAXIS_3DCONTROL_LATERAL 0x24008201
#define DIAXIS_3DCONTROL_MOVE 0x24010202
#define DIBUTTON_3DCONTROL_SPECIAL 0x24000403
#define DIKEYBOARD_PREFIX 0x81000400
#define DIKEYBOARD(dik) (DIKEYBOARD_PREFIX | (dik))

// ---------------------------------------------------------------- key codes
#define DIK_ESCAPE 0x01
#define DIK_1 0x02
#define DIK_2 0x03
#define DIK_3 0x04
#define DIK_4 0x05
#define DIK_5 0x06
#define DIK_6 0x07
#define DIK_7 0x08
#define DIK_8 0x09
#define DIK_9 0x0A
#define DIK_0 0x0B
#define DIK_MINUS 0x0C
#define DIK_EQUALS 0x0D
#define DIK_BACK 0x0E
#define DIK_TAB 0x0F
#define DIK_Q 0x10
#define DIK_W 0x11
#define DIK_E 0x12
#define DIK_R 0x13
#define DIK_T 0x14
#define DIK_Y 0x15
#define DIK_U 0x16
#define DIK_I 0x17
#define DIK_O 0x18
#define DIK_P 0x19
#define DIK_LBRACKET 0x1A
#define DIK_RBRACKET 0x1B
#define DIK_RETURN 0x1C
#define DIK_LCONTROL 0x1D
#define DIK_A 0x1E
#define DIK_S 0x1F
#define DIK_D 0x20
#define DIK_F 0x21
#define DIK_G 0x22
#define DIK_H 0x23
#define DIK_J 0x24
#define DIK_K 0x25
#define DIK_L 0x26
#define DIK_SEMICOLON 0x27
#define DIK_APOSTROPHE 0x28
#define DIK_GRAVE 0x29
#define DIK_LSHIFT 0x2A
#define DIK_BACKSLASH 0x2B
#define DIK_Z 0x2C
#define DIK_X 0x2D
#define DIK_C 0x2E
#define DIK_V 0x2F
#define DIK_B 0x30
#define DIK_N 0x31
#define DIK_M 0x32
#define DIK_COMMA 0x33
#define DIK_PERIOD 0x34
#define DIK_SLASH 0x35
#define DIK_RSHIFT 0x36
#define DIK_MULTIPLY 0x37
#define DIK_LMENU 0x38
#define DIK_SPACE 0x39
#define DIK_CAPITAL 0x3A
#define DIK_F1 0x3B
#define DIK_F2 0x3C
#define DIK_F3 0x3D
#define DIK_F4 0x3E
#define DIK_F5 0x3F
#define DIK_F6 0x40
#define DIK_F7 0x41
#define DIK_F8 0x42
#define DIK_F9 0x43
#define DIK_F10 0x44
#define DIK_NUMLOCK 0x45
#define DIK_SCROLL 0x46
#define DIK_NUMPAD7 0x47
#define DIK_NUMPAD8 0x48
#define DIK_NUMPAD9 0x49
#define DIK_SUBTRACT 0x4A
#define DIK_NUMPAD4 0x4B
#define DIK_NUMPAD5 0x4C
#define DIK_NUMPAD6 0x4D
#define DIK_ADD 0x4E
#define DIK_NUMPAD1 0x4F
#define DIK_NUMPAD2 0x50
#define DIK_NUMPAD3 0x51
#define DIK_NUMPAD0 0x52
#define DIK_DECIMAL 0x53
#define DIK_OEM_102 0x56
#define DIK_F11 0x57
#define DIK_F12 0x58
#define DIK_NUMPADENTER 0x9C
#define DIK_RCONTROL 0x9D
#define DIK_DIVIDE 0xB5
#define DIK_SYSRQ 0xB7
#define DIK_RMENU 0xB8
#define DIK_PAUSE 0xC5
#define DIK_HOME 0xC7
#define DIK_UP 0xC8
#define DIK_PRIOR 0xC9
#define DIK_LEFT 0xCB
#define DIK_RIGHT 0xCD
#define DIK_END 0xCF
#define DIK_DOWN 0xD0
#define DIK_NEXT 0xD1
#define DIK_INSERT 0xD2
#define DIK_DELETE 0xD3
#define DIK_LWIN 0xDB
#define DIK_RWIN 0xDC
#define DIK_APPS 0xDD

#define DIKEYBOARD_LEFT DIKEYBOARD(DIK_LEFT)
#define DIKEYBOARD_RIGHT DIKEYBOARD(DIK_RIGHT)
#define DIKEYBOARD_UP DIKEYBOARD(DIK_UP)
#define DIKEYBOARD_DOWN DIKEYBOARD(DIK_DOWN)
#define DIKEYBOARD_F2 DIKEYBOARD(DIK_F2)
#define DIKEYBOARD_F3 DIKEYBOARD(DIK_F3)
#define DIKEYBOARD_F5 DIKEYBOARD(DIK_F5)

// ---------------------------------------------------------------- cooperation
#define DISCL_EXCLUSIVE 0x00000001
#define DISCL_NONEXCLUSIVE 0x00000002
#define DISCL_FOREGROUND 0x00000004
#define DISCL_BACKGROUND 0x00000008
#define DISCL_NOWINKEY 0x00000010

#define DIGDD_PEEK 0x00000001

// ---------------------------------------------------------------- records
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct DIACTIONA {
    UINT_PTR uAppData;
    DWORD dwSemantic;
    DWORD dwFlags;
    union {
        LPCSTR lptszActionName;
        UINT uResIdString;
    };
    GUID guidInstance;
    DWORD dwObjID;
    DWORD dwHow;
};
using LPDIACTIONA = DIACTIONA*;
using LPCDIACTIONA = const DIACTIONA*;

#define MAX_PATH_ACTIONMAP 260
struct DIACTIONFORMATA {
    DWORD dwSize;
    DWORD dwActionSize;
    DWORD dwDataSize;
    DWORD dwNumActions;
    LPDIACTIONA rgoAction;
    GUID guidActionMap;
    DWORD dwGenre;
    DWORD dwBufferSize;
    LONG lAxisMin;
    LONG lAxisMax;
    HINSTANCE hInstString;
    FILETIME ftTimeStamp;
    DWORD dwCRC;
    CHAR tszActionMap[MAX_PATH];
};
using LPDIACTIONFORMATA = DIACTIONFORMATA*;
using LPCDIACTIONFORMATA = const DIACTIONFORMATA*;

struct DIDEVICEINSTANCEA {
    DWORD dwSize;
    GUID guidInstance;
    GUID guidProduct;
    DWORD dwDevType;
    CHAR tszInstanceName[MAX_PATH];
    CHAR tszProductName[MAX_PATH];
    GUID guidFFDriver;
    WORD wUsagePage;
    WORD wUsage;
};
using LPDIDEVICEINSTANCEA = DIDEVICEINSTANCEA*;
using LPCDIDEVICEINSTANCEA = const DIDEVICEINSTANCEA*;

struct DIDEVICEOBJECTDATA {
    DWORD dwOfs;
    DWORD dwData;
    DWORD dwTimeStamp;
    DWORD dwSequence;
    UINT_PTR uAppData;
};
using LPDIDEVICEOBJECTDATA = DIDEVICEOBJECTDATA*;

struct DIPROPHEADER {
    DWORD dwSize;
    DWORD dwHeaderSize;
    DWORD dwObj;
    DWORD dwHow;
};
using LPCDIPROPHEADER = const DIPROPHEADER*;

struct DIPROPDWORD {
    DIPROPHEADER diph;
    DWORD dwData;
};

#define DIPH_DEVICE 0
#define DIPH_BYOFFSET 1
#define DIPH_BYID 2

// Property identifiers are small numbers on the original; here they are real
// constants so that passing one by reference never touches a bogus address.
inline constexpr GUID DIPROP_BUFFERSIZE = {1, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr GUID DIPROP_RANGE = {4, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr GUID DIPROP_DEADZONE = {5, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

using D3DCOLOR_DI = DWORD;
struct DICOLORSET {
    DWORD dwSize;
    D3DCOLOR_DI cTextFore, cTextHighlight, cCalloutLine, cCalloutHighlight, cBorder, cControlFill,
        cHighlightFill, cAreaFill;
};

struct DICONFIGUREDEVICESPARAMSA {
    DWORD dwSize;
    DWORD dwcUsers;
    LPSTR lptszUserNames;
    DWORD dwcFormats;
    LPDIACTIONFORMATA lprgFormats;
    HWND hwnd;
    DICOLORSET dics;
    IUnknown* lpUnkDDSTarget;
};
using LPDICONFIGUREDEVICESPARAMSA = DICONFIGUREDEVICESPARAMSA*;

inline constexpr IID IID_IDirectInput8A = {0xBF798030, 0x483A, 0x4DA2, {0xAA, 0x99, 0x5D, 0x64, 0xED, 0x36, 0x97, 0x00}};
inline constexpr IID IID_IDirectInputDevice8A = {0x54D41080, 0xDC15, 0x4833, {0xA4, 0x1B, 0x74, 0x8F, 0x73, 0xA3, 0x81, 0x79}};
inline constexpr GUID GUID_SysKeyboard = {0x6F1D2B61, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

// ---------------------------------------------------------------- interfaces
struct IDirectInputDevice8A : IUnknown {
    // Starts delivering data. DIERR_OTHERAPPHASPRIO while a foreground
    // device's window is inactive; DIERR_INPUTLOST once the device is gone.
    virtual HRESULT Acquire() = 0;
    // DI_NOEFFECT when the device was not acquired.
    virtual HRESULT Unacquire() = 0;
    // DIPROP_DEADZONE (DIPH_DEVICE: every axis) and DIPROP_BUFFERSIZE.
    virtual HRESULT SetProperty(REFGUID property, LPCDIPROPHEADER header) = 0;
    // Takes up to *inOut buffered events, oldest first. DI_BUFFEROVERFLOW when
    // events were dropped since the last read because the buffer was full.
    virtual HRESULT GetDeviceData(DWORD objectDataSize, LPDIDEVICEOBJECTDATA data, LPDWORD inOut, DWORD flags) = 0;
    virtual HRESULT SetCooperativeLevel(HWND window, DWORD flags) = 0;
    virtual HRESULT Poll() = 0;
    // Fills guidInstance, dwObjID and dwHow of every action this device can
    // serve; DI_NOEFFECT when it serves none.
    virtual HRESULT BuildActionMap(LPDIACTIONFORMATA format, LPCSTR userName, DWORD flags) = 0;
    // Takes the actions built for this device, the buffer size and the axis
    // range of the format. DIERR_ACQUIRED while acquired.
    virtual HRESULT SetActionMap(LPDIACTIONFORMATA format, LPCSTR userName, DWORD flags) = 0;
};
using LPDIRECTINPUTDEVICE8A = IDirectInputDevice8A*;

using LPDIENUMDEVICESBYSEMANTICSCBA = BOOL (*)(LPCDIDEVICEINSTANCEA instance, LPDIRECTINPUTDEVICE8A device,
                                               DWORD flags, DWORD remaining, LPVOID reference);
using LPDICONFIGUREDEVICESCALLBACK = BOOL (*)(IUnknown* target, LPVOID reference);

struct IDirectInput8A : IUnknown {
    // Offers the keyboard and every attached game controller with a standard
    // layout. The device is lent for the callback; AddRef it to keep it.
    virtual HRESULT EnumDevicesBySemantics(LPCSTR userName, LPDIACTIONFORMATA format,
                                           LPDIENUMDEVICESBYSEMANTICSCBA callback, LPVOID reference,
                                           DWORD flags) = 0;
    // The modal configuration window. With DICD_EDIT the user may remap the
    // actions that are not DIA_APPFIXED; OK stores the mapping per user and
    // device, Cancel drops it. Both return DI_OK.
    virtual HRESULT ConfigureDevices(LPDICONFIGUREDEVICESCALLBACK callback, LPDICONFIGUREDEVICESPARAMSA params,
                                     DWORD flags, LPVOID reference) = 0;
};
using LPDIRECTINPUT8A = IDirectInput8A*;

HRESULT WINAPI DirectInput8Create(HINSTANCE instance, DWORD version, REFIID iid, LPVOID* out, LPUNKNOWN outer);
