// The process-wide frame clock: application time that stands still while the
// application is paused, the time between frames, and an absolute time for
// the frame rate. It reads the performance counter when the system has one
// and the multimedia millisecond clock otherwise.
#pragma once

#include <cstdint>

#include "platform/win32/windows.h"

enum class TimerCommand : std::int32_t {
    Reset = 0,
    Start = 1,
    Stop = 2,
    Advance = 3,
    GetAbsoluteTime = 4,
    GetAppTime = 5,
    GetElapsedTime = 6,
};

// Carries out the command and returns its number of seconds (0 for the
// commands that return nothing, -1 for an unknown command).
float FrameTimer(TimerCommand command);

// The clock the timer reads. Tests install their own; installing (or passing
// null for the platform's clock) also returns the timer to its state at load.
struct FrameTimerClock {
    BOOL (*queryFrequency)(LARGE_INTEGER* frequency);
    BOOL (*queryCounter)(LARGE_INTEGER* count);
    DWORD (*millisecondTime)();
};
void SetFrameTimerClock(const FrameTimerClock* clock);
