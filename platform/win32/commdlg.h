// The common dialog the program uses: choosing a file name to save to.
#pragma once

#include "platform/win32/windows.h"

#define OFN_OVERWRITEPROMPT 0x00000002
#define OFN_HIDEREADONLY 0x00000004
#define OFN_NOCHANGEDIR 0x00000008
#define OFN_PATHMUSTEXIST 0x00000800

#define CDERR_STRUCTSIZE 0x0001
#define CDERR_INITIALIZATION 0x0002
#define FNERR_INVALIDFILENAME 0x3002
#define FNERR_BUFFERTOOSMALL 0x3003

using LPOFNHOOKPROC = UINT_PTR(CALLBACK*)(HWND, UINT, WPARAM, LPARAM);

struct OPENFILENAMEA {
    DWORD lStructSize;
    HWND hwndOwner;
    HINSTANCE hInstance;
    // Pairs of a description and its patterns ("*.png;*.PNG"), each text ended
    // by a zero and the list by a second one.
    LPCSTR lpstrFilter;
    LPSTR lpstrCustomFilter;
    DWORD nMaxCustFilter;
    DWORD nFilterIndex;
    // In: the name proposed (a bare name or a path). Out: the chosen path.
    LPSTR lpstrFile;
    DWORD nMaxFile;
    LPSTR lpstrFileTitle;
    DWORD nMaxFileTitle;
    LPCSTR lpstrInitialDir;
    LPCSTR lpstrTitle;
    DWORD Flags;
    WORD nFileOffset;
    WORD nFileExtension;
    LPCSTR lpstrDefExt;
    LPARAM lCustData;
    LPOFNHOOKPROC lpfnHook;
    LPCSTR lpTemplateName;
};
using OPENFILENAME = OPENFILENAMEA;
using LPOPENFILENAMEA = OPENFILENAMEA*;

// Runs the save-file dialog modally; posted messages keep flowing meanwhile.
// TRUE with the chosen path in lpstrFile; FALSE when the user cancels
// (CommDlgExtendedError then gives 0) or the dialog could not do its work
// (no display, a bad structure, a path that does not fit lpstrFile or cannot
// be written in the program's code page: CommDlgExtendedError says which).
BOOL WINAPI GetSaveFileNameA(LPOPENFILENAMEA dialog);
inline BOOL GetSaveFileName(LPOPENFILENAMEA d) { return GetSaveFileNameA(d); }
DWORD WINAPI CommDlgExtendedError();
