// The last-error value, wsprintfA and the current directory.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/win32/winbase.h"

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;

// The original stops at 1024 characters whatever the buffer holds.
constexpr int kWsprintfLimit = 1024;
}  // namespace

DWORD WINAPI GetLastError() { return lastError; }

void WINAPI SetLastError(DWORD errorCode) { lastError = errorCode; }

int wvsprintfA(LPSTR buffer, LPCSTR format, va_list arguments) {
    if (buffer == nullptr || format == nullptr)
        return 0;
    int n = std::vsnprintf(buffer, kWsprintfLimit + 1, format, arguments);
    if (n < 0) {
        buffer[0] = '\0';
        return 0;
    }
    return n > kWsprintfLimit ? kWsprintfLimit : n;
}

int wsprintfA(LPSTR buffer, LPCSTR format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int n = wvsprintfA(buffer, format, arguments);
    va_end(arguments);
    return n;
}

DWORD WINAPI GetCurrentDirectoryA(DWORD bufferLength, LPSTR buffer) {
    std::string path(256, '\0');
    while (::getcwd(path.data(), path.size()) == nullptr) {
        if (errno != ERANGE || path.size() > (1u << 20)) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return 0;
        }
        path.resize(path.size() * 2);
    }
    path.resize(std::strlen(path.c_str()));
    DWORD length = static_cast<DWORD>(path.size());
    if (buffer == nullptr || bufferLength <= length)
        return length + 1;
    std::memcpy(buffer, path.c_str(), length + 1);
    return length;
}
