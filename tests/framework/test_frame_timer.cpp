#include <gtest/gtest.h>

#include "framework/frame_timer.h"

namespace {

// A clock the test moves by hand.
struct HandClock {
    static inline bool hasCounter = true;
    static inline LONGLONG frequency = 1000000000;
    static inline LONGLONG ticks = 0;
    static inline DWORD milliseconds = 0;
    static inline int frequencyQueries = 0;
    static inline int counterReads = 0;

    static BOOL QueryFrequency(LARGE_INTEGER* f) {
        ++frequencyQueries;
        f->QuadPart = frequency;
        return hasCounter ? TRUE : FALSE;
    }
    static BOOL QueryCounter(LARGE_INTEGER* c) {
        ++counterReads;
        c->QuadPart = ticks;
        return TRUE;
    }
    static DWORD Milliseconds() { return milliseconds; }
};

const FrameTimerClock handClock = {HandClock::QueryFrequency, HandClock::QueryCounter, HandClock::Milliseconds};

class FrameTimerTest : public ::testing::Test {
protected:
    void Install(bool hasCounter, LONGLONG frequency = 1000000000) {
        HandClock::hasCounter = hasCounter;
        HandClock::frequency = frequency;
        HandClock::ticks = 7 * frequency;  // never 0: a stop time of 0 means "not stopped"
        HandClock::milliseconds = 7000;
        HandClock::frequencyQueries = 0;
        HandClock::counterReads = 0;
        SetFrameTimerClock(&handClock);
    }
    void TearDown() override { SetFrameTimerClock(nullptr); }

    static void Seconds(double s) { HandClock::ticks += static_cast<LONGLONG>(s * HandClock::frequency); }
};

TEST_F(FrameTimerTest, FirstStartMakesApplicationTimeZero) {
    Install(true);
    EXPECT_EQ(FrameTimer(TimerCommand::Start), 0.0f);
    EXPECT_EQ(FrameTimer(TimerCommand::GetAppTime), 0.0f);
    Seconds(2.5);
    EXPECT_EQ(FrameTimer(TimerCommand::GetAppTime), 2.5f);
    EXPECT_EQ(FrameTimer(TimerCommand::GetAbsoluteTime), 9.5f);
    EXPECT_EQ(HandClock::frequencyQueries, 1);  // asked once, remembered
}

TEST_F(FrameTimerTest, TwoStopsAndOneStartCutOutOneInterval) {
    Install(true);
    FrameTimer(TimerCommand::Start);
    Seconds(1.0);
    FrameTimer(TimerCommand::Stop);
    Seconds(1.0);
    FrameTimer(TimerCommand::Stop);  // changes nothing
    Seconds(1.0);
    FrameTimer(TimerCommand::Start);
    Seconds(0.5);
    EXPECT_EQ(FrameTimer(TimerCommand::GetAppTime), 1.5f);
}

TEST_F(FrameTimerTest, StoppedTimeIsFrozenButAbsoluteTimeRuns) {
    Install(true);
    FrameTimer(TimerCommand::Start);
    Seconds(3.0);
    EXPECT_EQ(FrameTimer(TimerCommand::GetElapsedTime), 3.0f);
    Seconds(0.25);
    FrameTimer(TimerCommand::Stop);
    Seconds(4.0);
    EXPECT_EQ(FrameTimer(TimerCommand::GetAppTime), 3.25f);
    EXPECT_EQ(FrameTimer(TimerCommand::GetElapsedTime), 0.0f);  // Stop restarted the interval
    EXPECT_EQ(FrameTimer(TimerCommand::GetAbsoluteTime), 14.25f);
    Seconds(1.0);
    EXPECT_EQ(FrameTimer(TimerCommand::GetAppTime), 3.25f);

    // Start then Stop with no time between: one frame of zero elapsed time.
    FrameTimer(TimerCommand::Start);
    FrameTimer(TimerCommand::Stop);
    EXPECT_EQ(FrameTimer(TimerCommand::GetElapsedTime), 0.0f);
    EXPECT_EQ(FrameTimer(TimerCommand::GetAppTime), 3.25f);
}

TEST_F(FrameTimerTest, ElapsedTimeCountsFromTheLastReadingStartOrReset) {
    Install(true);
    FrameTimer(TimerCommand::Start);
    Seconds(0.5);
    EXPECT_EQ(FrameTimer(TimerCommand::GetElapsedTime), 0.5f);
    Seconds(0.25);
    EXPECT_EQ(FrameTimer(TimerCommand::GetElapsedTime), 0.25f);
    Seconds(1.0);
    EXPECT_EQ(FrameTimer(TimerCommand::Reset), 0.0f);
    EXPECT_EQ(FrameTimer(TimerCommand::GetAppTime), 0.0f);
    Seconds(0.125);
    EXPECT_EQ(FrameTimer(TimerCommand::GetElapsedTime), 0.125f);
    EXPECT_EQ(FrameTimer(TimerCommand::GetAppTime), 0.125f);
}

TEST_F(FrameTimerTest, UnknownCommandsReturnMinusOneAndChangeNothing) {
    Install(true);
    FrameTimer(TimerCommand::Start);
    Seconds(1.0);
    EXPECT_EQ(FrameTimer(static_cast<TimerCommand>(7)), -1.0f);
    EXPECT_EQ(FrameTimer(static_cast<TimerCommand>(-1)), -1.0f);
    EXPECT_EQ(FrameTimer(TimerCommand::GetElapsedTime), 1.0f);
    EXPECT_EQ(FrameTimer(TimerCommand::GetAppTime), 1.0f);
}

TEST_F(FrameTimerTest, AdvanceMovesFrozenTimeByATenthInWholeTicks) {
    Install(true, 1000003);  // a tenth is 100000 ticks, not 100000.3
    FrameTimer(TimerCommand::Start);
    Seconds(1.0);
    FrameTimer(TimerCommand::Stop);
    const LONGLONG stopped = HandClock::ticks - 7 * 1000003;
    FrameTimer(TimerCommand::Advance);
    FrameTimer(TimerCommand::Advance);
    EXPECT_EQ(FrameTimer(TimerCommand::GetAppTime), static_cast<float>((stopped + 200000) / 1000003.0));
    EXPECT_EQ(FrameTimer(TimerCommand::GetElapsedTime), static_cast<float>(200000 / 1000003.0));
}

TEST_F(FrameTimerTest, WithoutACounterTheMillisecondClockIsUsed) {
    Install(false);
    FrameTimer(TimerCommand::Start);
    EXPECT_EQ(HandClock::counterReads, 0);
    HandClock::milliseconds += 1234;
    EXPECT_EQ(FrameTimer(TimerCommand::GetAppTime), static_cast<float>(8.234 - 7.0));
    EXPECT_EQ(FrameTimer(TimerCommand::GetAbsoluteTime), static_cast<float>(8234 * 0.001));
    HandClock::milliseconds += 1;  // one millisecond is the finest step
    EXPECT_EQ(FrameTimer(TimerCommand::GetElapsedTime), static_cast<float>(8235 * 0.001 - 7000 * 0.001));

    FrameTimer(TimerCommand::Stop);
    const double frozen = 8235 * 0.001 - 7000 * 0.001;
    FrameTimer(TimerCommand::Advance);
    HandClock::milliseconds += 5000;
    EXPECT_EQ(FrameTimer(TimerCommand::GetAppTime), static_cast<float>(frozen + 0.1f));
    FrameTimer(TimerCommand::Start);
    EXPECT_EQ(FrameTimer(TimerCommand::GetAppTime), static_cast<float>(frozen + 0.1f));
}

TEST_F(FrameTimerTest, ACounterWithoutTicksFallsBackToMilliseconds) {
    Install(true, 0);
    FrameTimer(TimerCommand::Start);
    HandClock::milliseconds += 500;
    EXPECT_EQ(FrameTimer(TimerCommand::GetAppTime), 0.5f);
    EXPECT_EQ(HandClock::counterReads, 0);
}

TEST_F(FrameTimerTest, ThePlatformClockNeverRunsBackwards) {
    SetFrameTimerClock(nullptr);
    FrameTimer(TimerCommand::Start);
    float last = FrameTimer(TimerCommand::GetAppTime);
    for (int i = 0; i < 1000; ++i) {
        float now = FrameTimer(TimerCommand::GetAppTime);
        ASSERT_GE(now, last);
        ASSERT_GE(FrameTimer(TimerCommand::GetElapsedTime), 0.0f);
        last = now;
    }
}

}  // namespace
