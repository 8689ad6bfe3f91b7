// The performance counter, the millisecond clock and Sleep, all on one
// monotonic clock so that readings taken through either API agree.
#include <chrono>
#include <thread>

#include "platform/win32/winbase.h"

namespace {

std::chrono::nanoseconds sinceClockOrigin() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

}  // namespace

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    if (frequency == nullptr)
        return FALSE;
    frequency->QuadPart = 1000000000LL;
    return TRUE;
}

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count) {
    if (count == nullptr)
        return FALSE;
    count->QuadPart = static_cast<LONGLONG>(sinceClockOrigin().count());
    return TRUE;
}

DWORD WINAPI timeGetTime() {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceClockOrigin()).count();
    return static_cast<DWORD>(static_cast<std::uint64_t>(ms));
}

void WINAPI Sleep(DWORD milliseconds) {
    if (milliseconds == INFINITE) {
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(24));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
