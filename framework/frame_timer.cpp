#include "framework/frame_timer.h"

namespace {

BOOL PlatformFrequency(LARGE_INTEGER* frequency) { return QueryPerformanceFrequency(frequency); }
BOOL PlatformCounter(LARGE_INTEGER* count) { return QueryPerformanceCounter(count); }
DWORD PlatformMilliseconds() { return timeGetTime(); }

const FrameTimerClock platformClock = {PlatformFrequency, PlatformCounter, PlatformMilliseconds};

struct TimerState {
    bool probed = false;
    bool useCounter = false;
    LONGLONG frequency = 0;
    LONGLONG counterStopTime = 0;
    LONGLONG counterLastElapsedTime = 0;
    LONGLONG counterBaseTime = 0;
    double fallbackStopTime = 0.0;
    double fallbackLastElapsedTime = 0.0;
    double fallbackBaseTime = 0.0;
    bool stopped = true;
};

TimerState state;
const FrameTimerClock* clock = &platformClock;

bool Freezes(TimerCommand command) {
    return command != TimerCommand::Start && command != TimerCommand::GetAbsoluteTime;
}

bool Known(TimerCommand command) {
    auto value = static_cast<std::int32_t>(command);
    return value >= 0 && value <= 6;
}

double RunWithCounter(TimerCommand command) {
    LONGLONG now;
    if (state.counterStopTime != 0 && Freezes(command)) {
        now = state.counterStopTime;
    } else {
        LARGE_INTEGER reading{};
        clock->queryCounter(&reading);
        now = reading.QuadPart;
    }
    const double frequency = static_cast<double>(state.frequency);

    switch (command) {
    case TimerCommand::Reset:
        state.counterBaseTime = now;
        state.counterLastElapsedTime = now;
        state.counterStopTime = 0;
        state.stopped = false;
        return 0.0;
    case TimerCommand::Start:
        if (state.stopped)
            state.counterBaseTime += now - state.counterStopTime;
        state.counterStopTime = 0;
        state.counterLastElapsedTime = now;
        state.stopped = false;
        return 0.0;
    case TimerCommand::Stop:
        if (!state.stopped) {
            state.counterStopTime = now;
            state.counterLastElapsedTime = now;
            state.stopped = true;
        }
        return 0.0;
    case TimerCommand::Advance:
        state.counterStopTime += state.frequency / 10;
        return 0.0;
    case TimerCommand::GetAbsoluteTime:
        return static_cast<double>(now) / frequency;
    case TimerCommand::GetAppTime:
        return static_cast<double>(now - state.counterBaseTime) / frequency;
    case TimerCommand::GetElapsedTime: {
        double elapsed = static_cast<double>(now - state.counterLastElapsedTime) / frequency;
        state.counterLastElapsedTime = now;
        return elapsed;
    }
    }
    return -1.0;
}

double RunWithMilliseconds(TimerCommand command) {
    double now;
    if (state.fallbackStopTime != 0.0 && Freezes(command))
        now = state.fallbackStopTime;
    else
        now = clock->millisecondTime() * 0.001;

    switch (command) {
    case TimerCommand::Reset:
        state.fallbackBaseTime = now;
        state.fallbackLastElapsedTime = now;
        state.fallbackStopTime = 0.0;
        state.stopped = false;
        return 0.0;
    case TimerCommand::Start:
        if (state.stopped)
            state.fallbackBaseTime += now - state.fallbackStopTime;
        state.fallbackStopTime = 0.0;
        state.fallbackLastElapsedTime = now;
        state.stopped = false;
        return 0.0;
    case TimerCommand::Stop:
        if (!state.stopped) {
            state.fallbackStopTime = now;
            state.fallbackLastElapsedTime = now;
            state.stopped = true;
        }
        return 0.0;
    case TimerCommand::Advance:
        state.fallbackStopTime += 0.1f;
        return 0.0;
    case TimerCommand::GetAbsoluteTime:
        return now;
    case TimerCommand::GetAppTime:
        return now - state.fallbackBaseTime;
    case TimerCommand::GetElapsedTime: {
        double elapsed = now - state.fallbackLastElapsedTime;
        state.fallbackLastElapsedTime = now;
        return elapsed;
    }
    }
    return -1.0;
}

}  // namespace

float FrameTimer(TimerCommand command) {
    if (!state.probed) {
        state.probed = true;
        LARGE_INTEGER frequency{};
        // A counter that claims no ticks per second cannot measure anything.
        state.useCounter = clock->queryFrequency(&frequency) != FALSE && frequency.QuadPart > 0;
        if (state.useCounter)
            state.frequency = frequency.QuadPart;
    }
    if (!Known(command))
        return -1.0f;
    double seconds = state.useCounter ? RunWithCounter(command) : RunWithMilliseconds(command);
    return static_cast<float>(seconds);
}

void SetFrameTimerClock(const FrameTimerClock* replacement) {
    clock = replacement != nullptr ? replacement : &platformClock;
    state = TimerState{};
}
