// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/toolkit/TTimer.h"
#include "tests/support/EventLoop.h"
#include "widgets/Tcascont.h"

#include <gtest/gtest.h>

namespace {

void Ticks(TCasseteContador& counter, int n)
{
    for (int i = 0; i < n; ++i)
        counter.Tick();
}

// h:m:s as seconds, for positioning a counter by counting up to it.
constexpr int At(int h, int m, int s) { return h * 3600 + m * 60 + s; }

} // namespace

TEST(TCasseteContador, NewCounterShowsZeroAndDoesNotMove)
{
    TCasseteContador counter;
    EXPECT_EQ(counter.Caption(), "00:00:00");
    EXPECT_EQ(counter.CountLimit(), 3);
    EXPECT_EQ(counter.FastSpeed(), 10);
    EXPECT_FALSE(counter.StepTimer().Enabled());
    counter.Tick();
    EXPECT_EQ(counter.Caption(), "00:00:00") << "a stopped counter counted";
}

TEST(TCasseteContador, FormatPadsMinutesSecondsAndHoursToTwoDigits)
{
    EXPECT_EQ(TCasseteContador::FormatTime(0, 5, 7), "00:05:07");
    EXPECT_EQ(TCasseteContador::FormatTime(12, 0, 0), "12:00:00");
    EXPECT_EQ(TCasseteContador::FormatTime(3, 59, 59), "03:59:59");
    EXPECT_EQ(TCasseteContador::FormatTime(100, 1, 10), "100:01:10");
    EXPECT_EQ(TCasseteContador::FormatTime(12345, 10, 0), "12345:10:00");
}

TEST(TCasseteContador, CountingUpCarriesSecondsIntoMinutesAndHours)
{
    TCasseteContador counter;
    counter.SetCountLimit(12);
    counter.SetRunMode(TCasseteContador::rmRealTime);
    Ticks(counter, 61);
    EXPECT_EQ(counter.Caption(), "00:01:01");
    Ticks(counter, At(1, 0, 0) - 61);
    EXPECT_EQ(counter.Caption(), "01:00:00");
    Ticks(counter, At(11, 0, 0));
    EXPECT_EQ(counter.Caption(), "12:00:00");
}

TEST(TCasseteContador, HoursClampAtCountLimitSoTheLastHourRepeats)
{
    TCasseteContador counter;
    counter.SetRunMode(TCasseteContador::rmFastForward);
    Ticks(counter, At(3, 59, 59));
    EXPECT_EQ(counter.Caption(), "03:59:59");
    counter.Tick();
    EXPECT_EQ(counter.Caption(), "03:00:00");
    Ticks(counter, At(0, 59, 59));
    EXPECT_EQ(counter.Caption(), "03:59:59");
    counter.Tick();
    EXPECT_EQ(counter.Caption(), "03:00:00");
}

TEST(TCasseteContador, CountingDownBorrowsAndStopsAtZeroForGood)
{
    TCasseteContador counter;
    counter.SetRunMode(TCasseteContador::rmRealTime);
    Ticks(counter, At(1, 0, 0));
    counter.SetRunMode(TCasseteContador::rmFastRewind);
    counter.Tick();
    EXPECT_EQ(counter.Caption(), "00:59:59");

    counter.ResetCount();
    counter.SetRunMode(TCasseteContador::rmRealTime);
    Ticks(counter, 2);
    counter.SetRunMode(TCasseteContador::rmFastRewind);
    counter.Tick();
    EXPECT_EQ(counter.Caption(), "00:00:01");
    counter.Tick();
    EXPECT_EQ(counter.Caption(), "00:00:00");
    for (int i = 0; i < 5; ++i) {
        counter.Tick();
        EXPECT_EQ(counter.Caption(), "00:00:00") << "counted below zero on tick " << i;
    }
    EXPECT_TRUE(counter.StepTimer().Enabled()) << "reaching zero must not stop the timer";
    // After resting at zero the counter still counts up from a clean state.
    counter.SetRunMode(TCasseteContador::rmRealTime);
    counter.Tick();
    EXPECT_EQ(counter.Caption(), "00:00:01");
}

TEST(TCasseteContador, ResetWhileRunningContinuesFromZero)
{
    TCasseteContador counter;
    counter.SetRunMode(TCasseteContador::rmRealTime);
    Ticks(counter, 42);
    counter.ResetCount();
    EXPECT_EQ(counter.Caption(), "00:00:00");
    EXPECT_TRUE(counter.StepTimer().Enabled());
    counter.Tick();
    EXPECT_EQ(counter.Caption(), "00:00:01");
}

TEST(TCasseteContador, StoppingKeepsTheLastValueVisible)
{
    TCasseteContador counter;
    counter.SetRunMode(TCasseteContador::rmRealTime);
    Ticks(counter, At(0, 5, 7));
    counter.SetRunMode(TCasseteContador::rmStopped);
    EXPECT_FALSE(counter.StepTimer().Enabled());
    counter.Tick();
    EXPECT_EQ(counter.Caption(), "00:05:07");
}

TEST(TCasseteContador, UnknownModeLeavesTimerAloneAndIgnoresTicks)
{
    TCasseteContador counter;
    counter.SetRunMode(TCasseteContador::rmRealTime);
    counter.Tick();
    counter.SetRunMode(7);
    EXPECT_EQ(counter.RunMode(), 7);
    EXPECT_TRUE(counter.StepTimer().Enabled());
    EXPECT_EQ(counter.StepTimer().Interval(), 1000);
    counter.Tick();
    EXPECT_EQ(counter.Caption(), "00:00:01");
}

TEST(TCasseteContador, OwnTimerDrivesFastModeAndFastSpeedZeroNeverTicks)
{
    TCasseteContador counter;
    counter.SetFastSpeed(5);
    counter.SetRunMode(TCasseteContador::rmFastForward);
    EXPECT_EQ(counter.StepTimer().Interval(), 5) << "fast mode ignored FastSpeed";
    EXPECT_TRUE(testsupport::WaitUntil([&] { return counter.Caption() >= "00:00:03"; }))
        << "the step timer did not advance the counter";

    TCasseteContador still;
    still.SetFastSpeed(0);
    still.SetRunMode(TCasseteContador::rmFastForward);
    testsupport::Pump(60);
    EXPECT_EQ(still.Caption(), "00:00:00");
}
