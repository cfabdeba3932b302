#include "platform/toolkit/Application.h"
#include "platform/toolkit/Exception.h"
#include "platform/toolkit/TTimer.h"
#include "tests/support/EventLoop.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

using platform::TTimer;

TEST(TTimer, DefaultsAreEnabledWithOneSecondInterval)
{
    TTimer timer;
    EXPECT_EQ(timer.Interval(), 1000);
    EXPECT_TRUE(timer.Enabled());
}

TEST(TTimer, IntervalZeroNeverTicks)
{
    TTimer timer;
    int ticks = 0;
    timer.OnTimer = [&](QObject*) { ++ticks; };
    timer.SetInterval(0);
    testsupport::Pump(150);
    EXPECT_EQ(ticks, 0);
}

TEST(TTimer, DisabledTimerDoesNotTickAndReenablingStartsAFullInterval)
{
    TTimer timer;
    timer.SetInterval(200);
    int ticks = 0;
    qint64 firstTickAt = -1;
    QElapsedTimer clock;
    timer.OnTimer = [&](QObject* sender) {
        EXPECT_EQ(sender, &timer);
        if (ticks++ == 0)
            firstTickAt = clock.elapsed();
    };
    testsupport::Pump(150); // most of an interval passes
    timer.SetEnabled(false);
    testsupport::Pump(250);
    EXPECT_EQ(ticks, 0) << "a disabled timer ticked";

    clock.start();
    timer.SetEnabled(true);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return ticks > 0; }));
    // A coarse timer may fire up to 5 % of its interval early; a timer that
    // kept its old phase would tick some 50 ms after re-enabling.
    EXPECT_GE(firstTickAt, 180) << "re-enabling did not start a full interval";
}

TEST(TTimer, ExceptionInOnTimerGoesToErrorBoxAndTimerKeepsTicking)
{
    auto& app = platform::Application::Instance();
    int boxes = 0;
    app.SetErrorBoxHook([&](const QString&, const QString& text) {
        EXPECT_EQ(text, "tick failed");
        ++boxes;
    });
    TTimer timer;
    timer.SetInterval(10);
    timer.OnTimer = [&](QObject*) { throw platform::Exception("tick failed"); };
    EXPECT_TRUE(testsupport::WaitUntil([&] { return boxes >= 3; }));
    app.SetErrorBoxHook({});
}
