// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/toolkit/Application.h"
#include "platform/toolkit/Exception.h"
#include "platform/toolkit/TTimer.h"
#include "tests/support/EventLoop.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>
#include <vector>

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

// Guards the shared wake-up of whole-second timers: started 300 ms apart,
// the rate readout and the counter would otherwise wake the program twice a
// second where once does.
TEST(TTimer, WholeSecondTimersStartedApartTickTogether)
{
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> first, second;
    TTimer a;
    a.SetEnabled(false);
    a.SetInterval(1000);
    a.OnTimer = [&](QObject*) { first.push_back(clock.elapsed()); };
    TTimer b;
    b.SetEnabled(false);
    b.SetInterval(1000);
    b.OnTimer = [&](QObject*) { second.push_back(clock.elapsed()); };
    a.SetEnabled(true);
    testsupport::Pump(300);
    b.SetEnabled(true);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return first.size() >= 3 && second.size() >= 2; }, 6000));
    // Every tick of the later timer comes with one of the earlier's.
    for (const qint64 at : second) {
        const auto nearest = std::min_element(first.begin(), first.end(), [&](qint64 x, qint64 y) {
            return std::abs(x - at) < std::abs(y - at);
        });
        EXPECT_LE(std::abs(*nearest - at), 60) << "a tick at " << at << " ms came alone";
    }
}
