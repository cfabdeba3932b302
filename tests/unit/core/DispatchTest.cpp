// SPDX-License-Identifier: GPL-3.0-or-later
// The core's dispatch without the toolkit: what escapes a window's handler
// reaches whatever sink is installed, and neither a handler nor a sink ever
// unwinds into the caller.
#include "platform/core/Dispatch.h"
#include "platform/core/NotifyWindow.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using platform::Dispatch;
using platform::NotifyWindow;

// Restores the log as the sink when a case ends, so no case sees another's.
struct SinkGuard {
    ~SinkGuard() { Dispatch::SetErrorSink({}); }
};

TEST(CoreDispatch, WhatEscapesAHandlerReachesTheSinkAndTheCallerGoesOn)
{
    struct Case {
        const char* name;
        void (*raise)();
        const char* seen; // what the sink is handed; null: the sink itself throws
    };
    const Case cases[] = {
        {"a standard exception keeps its text", [] { throw std::runtime_error("kaputt"); }, "kaputt"},
        {"anything else is an unknown exception", [] { throw 42; }, "Unknown exception"},
        {"a throwing sink is caught as well", [] { throw std::logic_error("first"); }, nullptr},
    };
    const SinkGuard guard;
    for (const Case& c : cases) {
        std::vector<std::string> seen;
        Dispatch::SetErrorSink([&](const std::exception& error) {
            if (!c.seen)
                throw std::runtime_error("the sink failed");
            seen.emplace_back(error.what());
        });
        NotifyWindow window([&](unsigned message, platform::WPARAM, platform::LPARAM) -> platform::LRESULT {
            if (message == platform::WM_USER)
                c.raise();
            return 7;
        });
        EXPECT_NO_THROW(window.Send(platform::WM_USER, 0, 0)) << c.name;
        EXPECT_EQ(window.Send(platform::WM_USER + 1, 0, 0), 7) << c.name << ": the window still answers";
        if (c.seen)
            EXPECT_EQ(seen, std::vector<std::string>{c.seen}) << c.name;
    }
}

TEST(CoreDispatch, WithoutASinkTheErrorIsLoggedInsteadOfUnwinding)
{
    Dispatch::SetErrorSink({});
    bool after = false;
    EXPECT_NO_THROW(Dispatch::Run([] { throw std::runtime_error("nobody listens"); }));
    Dispatch::Run([&] { after = true; });
    EXPECT_TRUE(after);
}

} // namespace
