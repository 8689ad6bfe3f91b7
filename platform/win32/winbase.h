// The desktop platform's base services as the program calls them: code-page
// conversions, formatted text, the last-error value, the performance counter,
// the multimedia millisecond clock and Sleep. No Qt here; the implementation
// uses the standard library only.
//
// The ANSI code page (CP_ACP) is Windows-1252, the code page of the Western
// European systems the program was written on: bytes 0x80-0x9F carry the
// typographic characters (euro sign, curly quotes, dashes), the five bytes
// Windows-1252 leaves undefined map to the C1 controls of the same value, and
// everything else equals Latin-1. Converting to CP_ACP writes the default
// character for what the code page cannot hold; there is no "best fit"
// substitution.
#pragma once

#include <cstdarg>

#include "platform/win32/wintypes.h"

using LPBOOL = BOOL*;
using LPCCH = const char*;
using LPCWCH = const WCHAR*;

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

#define INFINITE 0xFFFFFFFFu

// Last-error codes set by the calls of this layer.
#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MORE_DATA 234L
#define ERROR_INVALID_FLAGS 1004L
#define ERROR_CANTREAD 1012L
#define ERROR_CANTWRITE 1013L
#define ERROR_REGISTRY_IO_FAILED 1016L
#define ERROR_NO_UNICODE_TRANSLATION 1113L

DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD errorCode);

// ---- Code pages ----------------------------------------------------------

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_THREAD_ACP 3
#define CP_UTF8 65001

#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_NO_BEST_FIT_CHARS 0x00000400
#define WC_ERR_INVALID_CHARS 0x00000080

// Code pages understood: CP_ACP, CP_THREAD_ACP and 1252 (Windows-1252),
// 28591 (Latin-1) and CP_UTF8; any other fails with ERROR_INVALID_PARAMETER. A length of -1 means the
// source is zero-terminated and the terminator is converted too. With a
// destination size of 0 the result is the size needed. A destination that
// is too small receives what fits and the call returns 0 with
// ERROR_INSUFFICIENT_BUFFER. Malformed UTF-8 and unpaired surrogates become
// U+FFFD, or fail with ERROR_NO_UNICODE_TRANSLATION under the
// ..._ERR_INVALID_CHARS flags.
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCCH source, int sourceLength, LPWSTR destination,
                               int destinationLength);
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH source, int sourceLength, LPSTR destination,
                               int destinationLength, LPCCH defaultChar, LPBOOL usedDefaultChar);

// ---- Formatted text ------------------------------------------------------

// As on the original platform the output is cut at 1024 characters plus the
// terminator; the result is the number of characters stored.
int wsprintfA(LPSTR buffer, LPCSTR format, ...);
int wvsprintfA(LPSTR buffer, LPCSTR format, va_list arguments);

// ---- Clocks --------------------------------------------------------------

// The performance counter ticks in nanoseconds of a monotonic clock; the
// frequency is therefore always 1e9.
BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* frequency);
BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count);

// Milliseconds of the same monotonic clock, wrapping at 2^32 like the original.
DWORD WINAPI timeGetTime();

void WINAPI Sleep(DWORD milliseconds);

// ---- Files ---------------------------------------------------------------

// The current directory, as the sound loader's search folder wants it.
// Returns the length without the terminator, or the size needed (with the
// terminator) when the buffer is too small, or 0 on failure.
DWORD WINAPI GetCurrentDirectoryA(DWORD bufferLength, LPSTR buffer);
