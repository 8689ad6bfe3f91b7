// The GDI calls the program makes: memory device contexts, 32-bit DIB
// sections, fonts by face name and height, text extents and opaque text
// output, device caps, and reading icon and cursor bitmaps. Implemented with
// QImage, QPainter and QFont; nothing here pulls in Qt.
//
// Text and fonts need the GUI library (InitCommonControls); without it
// CreateFontA returns null. Device contexts made by the window layer
// (GetDC) answer GetDeviceCaps; drawing calls here work on memory contexts.
// The logical resolution is fixed at 96 pixels per inch, as on the systems
// the program was written for, so a 12-point font is 16 pixels high on every
// machine.
#pragma once

#include "platform/win32/wintypes.h"

struct RGBQUAD {
    BYTE rgbBlue, rgbGreen, rgbRed, rgbReserved;
};

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;  // negative: rows stored top-down
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
using LPBITMAPINFOHEADER = BITMAPINFOHEADER*;

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};
using LPBITMAPINFO = BITMAPINFO*;

struct BITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
};
using LPBITMAP = BITMAP*;

struct DIBSECTION {
    BITMAP dsBm;
    BITMAPINFOHEADER dsBmih;
    DWORD dsBitfields[3];
    HANDLE dshSection;
    DWORD dsOffset;
};

#define LF_FACESIZE 32
struct LOGFONTA {
    LONG lfHeight;
    LONG lfWidth;
    LONG lfEscapement;
    LONG lfOrientation;
    LONG lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    CHAR lfFaceName[LF_FACESIZE];
};

struct ICONINFO {
    BOOL fIcon;
    DWORD xHotspot;
    DWORD yHotspot;
    HBITMAP hbmMask;
    HBITMAP hbmColor;
};
using PICONINFO = ICONINFO*;

#define BI_RGB 0L
#define DIB_RGB_COLORS 0

#define MM_TEXT 1

#define HORZRES 8
#define VERTRES 10
#define BITSPIXEL 12
#define PLANES 14
#define LOGPIXELSX 88
#define LOGPIXELSY 90

#define FW_DONTCARE 0
#define FW_THIN 100
#define FW_LIGHT 300
#define FW_NORMAL 400
#define FW_MEDIUM 500
#define FW_SEMIBOLD 600
#define FW_BOLD 700
#define FW_HEAVY 900

#define ANSI_CHARSET 0
#define DEFAULT_CHARSET 1
#define OUT_DEFAULT_PRECIS 0
#define CLIP_DEFAULT_PRECIS 0
#define DEFAULT_QUALITY 0
#define DRAFT_QUALITY 1
#define PROOF_QUALITY 2
#define NONANTIALIASED_QUALITY 3
#define ANTIALIASED_QUALITY 4
#define CLEARTYPE_QUALITY 5
#define DEFAULT_PITCH 0
#define FIXED_PITCH 1
#define VARIABLE_PITCH 2
#define FF_DONTCARE 0x00
#define FF_ROMAN 0x10
#define FF_SWISS 0x20
#define FF_MODERN 0x30

#define ETO_OPAQUE 0x0002
#define ETO_CLIPPED 0x0004

#define TA_NOUPDATECP 0
#define TA_UPDATECP 1
#define TA_LEFT 0
#define TA_RIGHT 2
#define TA_CENTER 6
#define TA_TOP 0
#define TA_BOTTOM 8
#define TA_BASELINE 24

#define TRANSPARENT 1
#define OPAQUE 2

#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define SYSTEM_FONT 13
#define DEFAULT_GUI_FONT 17

#define CLR_INVALID 0xFFFFFFFF
#define GDI_ERROR 0xFFFFFFFFL
#define HGDI_ERROR ((HGDIOBJ)(LONG_PTR)-1)

// Memory contexts start with a 1 x 1 monochrome bitmap and the system font,
// black text on an opaque white background, top-left alignment.
HDC WINAPI CreateCompatibleDC(HDC context);
BOOL WINAPI DeleteDC(HDC context);

// Only 32-bit BI_RGB sections; the bits are zeroed and stay where they are
// for the life of the bitmap.
HBITMAP WINAPI CreateDIBSection(HDC context, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                                DWORD offset);
HGDIOBJ WINAPI SelectObject(HDC context, HGDIOBJ object);
// Objects still selected into a context are not deleted (FALSE).
BOOL WINAPI DeleteObject(HGDIOBJ object);
HGDIOBJ WINAPI GetStockObject(int index);
// A BITMAP (or DIBSECTION for sections) for bitmaps, a LOGFONTA for fonts;
// with no buffer the size needed.
int WINAPI GetObjectA(HGDIOBJ object, int size, LPVOID buffer);
inline int GetObject(HGDIOBJ object, int size, LPVOID buffer) { return GetObjectA(object, size, buffer); }

int WINAPI SetMapMode(HDC context, int mode);
int WINAPI GetMapMode(HDC context);
COLORREF WINAPI SetTextColor(HDC context, COLORREF colour);
COLORREF WINAPI SetBkColor(HDC context, COLORREF colour);
int WINAPI SetBkMode(HDC context, int mode);
UINT WINAPI SetTextAlign(HDC context, UINT align);
int WINAPI GetDeviceCaps(HDC context, int index);

// A negative height is the character (em) height in pixels, a positive one
// the cell height; the width, escapement and orientation are not supported
// and taken as 0. The face is found through the system's font configuration
// ("Arial" resolves to a metric-compatible face). Antialiasing is greyscale.
HFONT WINAPI CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                         DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision,
                         DWORD quality, DWORD pitchAndFamily, LPCSTR faceName);
// Text is in the ANSI code page. cx is the sum of the advance widths, cy the
// cell height (ascent plus descent).
BOOL WINAPI GetTextExtentPoint32A(HDC context, LPCSTR text, int length, LPSIZE size);
BOOL WINAPI ExtTextOutA(HDC context, int x, int y, UINT options, const RECT* rect, LPCSTR text, UINT length,
                        const INT* dx);
BOOL WINAPI TextOutA(HDC context, int x, int y, LPCSTR text, int length);
BOOL WINAPI GdiFlush();

// a × b / c rounded to the nearest integer (halves away from zero); -1 when c
// is 0 or the result does not fit.
int WINAPI MulDiv(int a, int b, int c);

// New bitmaps of the icon's or cursor's pictures, which the caller deletes:
// a monochrome mask (for a monochrome cursor the AND mask above the XOR mask)
// and, for colour ones, a 32-bit colour bitmap.
BOOL WINAPI GetIconInfo(HICON icon, PICONINFO info);
// Rows of the bitmap as a 32-bit BI_RGB DIB (bottom-up for a positive
// height, top-down for a negative one). Monochrome pixels read as black or
// white. With no buffer the header is filled in.
int WINAPI GetDIBits(HDC context, HBITMAP bitmap, UINT start, UINT lines, LPVOID bits, LPBITMAPINFO info, UINT usage);
