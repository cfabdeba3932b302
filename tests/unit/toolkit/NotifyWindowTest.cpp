// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/toolkit/Application.h"
#include "platform/toolkit/Exception.h"
#include "platform/core/NotifyWindow.h"
#include "tests/support/EventLoop.h"

#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

using platform::NotifyWindow;

namespace {

struct Recorder {
    std::vector<std::tuple<unsigned, platform::WPARAM, platform::LPARAM>> seen;
    NotifyWindow::Handler handler()
    {
        return [this](unsigned m, platform::WPARAM w, platform::LPARAM l) {
            seen.emplace_back(m, w, l);
            return platform::LRESULT{0};
        };
    }
};

} // namespace

TEST(NotifyWindow, PostsFromManyThreadsArriveInPerThreadOrderOnGuiThread)
{
    Recorder rec;
    NotifyWindow window(rec.handler());
    const auto guiThread = std::this_thread::get_id();
    std::thread::id handlerThread;
    NotifyWindow probe([&](unsigned, platform::WPARAM, platform::LPARAM) {
        handlerThread = std::this_thread::get_id();
        return platform::LRESULT{0};
    });

    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t)
        posters.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i)
                NotifyWindow::Post(window.Handle(), platform::WM_USER + t, i, 0);
            NotifyWindow::Post(probe.Handle(), 1, 0, 0);
        });
    for (auto& p : posters)
        p.join();

    ASSERT_TRUE(testsupport::WaitUntil([&] { return rec.seen.size() == 2000; }));
    std::vector<int> next(4, 0);
    for (const auto& [m, w, l] : rec.seen) {
        const int t = int(m - platform::WM_USER);
        ASSERT_EQ(int(w), next[t]) << "messages of one poster were reordered";
        ++next[t];
    }
    testsupport::Pump(20);
    EXPECT_EQ(handlerThread, guiThread);
}

TEST(NotifyWindow, MessagesQueuedForADestroyedWindowAreDropped)
{
    Recorder rec;
    auto window = std::make_unique<NotifyWindow>(rec.handler());
    const auto handle = window->Handle();
    EXPECT_TRUE(NotifyWindow::Post(handle, 1, 2, 3));
    window.reset();
    EXPECT_FALSE(NotifyWindow::Post(handle, 1, 2, 3));
    testsupport::Pump(20);
    EXPECT_TRUE(rec.seen.empty());

    // A new window never inherits the dead handle.
    NotifyWindow other(rec.handler());
    EXPECT_NE(other.Handle(), handle);
}

TEST(NotifyWindow, ExceptionFromHandlerReachesErrorBoxAndDeliveryGoesOn)
{
    auto& app = platform::Application::Instance();
    app.SetTitle("Sendolin Client");
    std::vector<std::pair<QString, QString>> boxes;
    app.SetErrorBoxHook([&](const QString& title, const QString& text) { boxes.emplace_back(title, text); });

    int handled = 0;
    NotifyWindow window([&](unsigned m, platform::WPARAM, platform::LPARAM) -> platform::LRESULT {
        ++handled;
        if (m == 1)
            throw platform::Exception("kaputt");
        return 0;
    });
    NotifyWindow::Post(window.Handle(), 1, 0, 0);
    NotifyWindow::Post(window.Handle(), 2, 0, 0);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return handled == 2; }));
    app.SetErrorBoxHook({});

    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].first, "Sendolin Client");
    EXPECT_EQ(boxes[0].second, "kaputt");
}

TEST(Application, DefaultTitleIsFileNameUpToFirstDotWithTailLowered)
{
    using platform::Application;
    EXPECT_EQ(Application::DefaultTitle("/opt/x/SendolinClient"), "Sendolinclient");
    EXPECT_EQ(Application::DefaultTitle("/opt/x.y/SendolinClient.bin.old"), "Sendolinclient");
    EXPECT_EQ(Application::DefaultTitle("/opt/x/.hidden"), "");
}

// A batch wakes the GUI thread once but must read like single posts: in
// order, behind what was posted before, and not overtaken by a later post
// when a handler in the middle of the batch runs an event loop of its own.
TEST(NotifyWindow, ABatchKeepsItsOrderEvenWhenAHandlerRunsAnEventLoop)
{
    std::vector<platform::LPARAM> seen;
    NotifyWindow window([&](unsigned, platform::WPARAM, platform::LPARAM l) {
        seen.push_back(l);
        if (l == 11)
            testsupport::Pump(30); // as a modal box would
        return platform::LRESULT{0};
    });
    const platform::LPARAM batch[] = {10, 11, 12, 13};
    ASSERT_TRUE(NotifyWindow::Post(window.Handle(), platform::WM_USER, 0, 1));
    ASSERT_TRUE(NotifyWindow::PostBatch(window.Handle(), platform::WM_USER, 0, batch, 4));
    ASSERT_TRUE(NotifyWindow::Post(window.Handle(), platform::WM_USER, 0, 20));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return seen.size() == 6; }));
    testsupport::Pump(20);
    EXPECT_EQ(seen, (std::vector<platform::LPARAM>{1, 10, 11, 12, 13, 20}));

    const platform::HWND gone = [] {
        NotifyWindow temporary([](unsigned, platform::WPARAM, platform::LPARAM) { return platform::LRESULT{0}; });
        return temporary.Handle();
    }();
    EXPECT_FALSE(NotifyWindow::PostBatch(gone, platform::WM_USER, 0, batch, 4));
}

namespace {

// Runs the GUI thread's event loop for ms with nothing to wake it.
void SleepInEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Waits as the program's own loop does, sleeping between events.
bool WaitInEventLoop(const std::function<bool()>& done)
{
    for (int i = 0; i < 200 && !done(); ++i)
        SleepInEventLoop(10);
    return done();
}

} // namespace

// Done notices ride on the GUI thread's own wake-ups. The faults guarded: a
// when-awake batch that wakes the sleeping GUI thread anyway, one that is
// never delivered, one overtaken by a message posted after it, and a bound
// that does not wake the GUI thread.
TEST(NotifyWindow, AWhenAwakeBatchWaitsForTheGuiThreadToWakeAndNothingOvertakesIt)
{
    std::atomic<int> delivered{0};
    std::vector<platform::LPARAM> order;
    NotifyWindow window([&](unsigned, platform::WPARAM, platform::LPARAM l) {
        order.push_back(l);
        ++delivered;
        return platform::LRESULT{0};
    });
    const platform::LPARAM first[] = {1, 2, 3};
    int seenWhileAsleep = -1;
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        NotifyWindow::PostBatchWhenAwake(window.Handle(), platform::WM_USER, 0, first, 3);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        seenWhileAsleep = delivered.load();
    });
    SleepInEventLoop(400);
    poster.join();
    EXPECT_EQ(seenWhileAsleep, 0) << "the batch woke the sleeping GUI thread";
    ASSERT_TRUE(WaitInEventLoop([&] { return delivered == 3; })) << "the batch never came once awake";

    const platform::LPARAM second[] = {4, 5};
    std::thread([&] {
        NotifyWindow::PostBatchWhenAwake(window.Handle(), platform::WM_USER, 0, second, 2);
        NotifyWindow::Post(window.Handle(), platform::WM_USER, 0, 6);
    }).join();
    ASSERT_TRUE(WaitInEventLoop([&] { return delivered == 6; }));
    EXPECT_EQ(order, (std::vector<platform::LPARAM>{1, 2, 3, 4, 5, 6}));

    // The poster's bound wakes the GUI thread for a batch that waited long enough.
    const platform::LPARAM third[] = {7};
    int seenAfterBound = -1;
    std::thread bounded([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        NotifyWindow::PostBatchWhenAwake(window.Handle(), platform::WM_USER, 0, third, 1);
        NotifyWindow::WakeForBatchesOlderThan(std::chrono::milliseconds(100)); // not yet due
        std::this_thread::sleep_for(std::chrono::milliseconds(120));
        NotifyWindow::WakeForBatchesOlderThan(std::chrono::milliseconds(100));
        for (int i = 0; i < 400 && delivered < 7; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        seenAfterBound = delivered.load();
    });
    SleepInEventLoop(1500);
    bounded.join();
    EXPECT_EQ(seenAfterBound, 7) << "a batch past its bound did not wake the GUI thread";
}
