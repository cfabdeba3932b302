// SPDX-License-Identifier: GPL-3.0-or-later
// The station's accept loop: a crowd arriving at once and a handler that
// stops the loop it is called from.
#include "AcceptLoop.h"

#include <gtest/gtest.h>

#include <vector>

using station::AcceptLoop;

namespace {

const asio::ip::tcp::endpoint AnyLoopbackPort(asio::ip::address_v4::loopback(), 0);

std::vector<asio::ip::tcp::socket> ConnectMany(asio::io_context& io, const asio::ip::tcp::endpoint& to, int count)
{
    std::vector<asio::ip::tcp::socket> peers;
    for (int i = 0; i < count; ++i) {
        peers.emplace_back(io);
        peers.back().connect(to); // the kernel completes it into the listen queue
    }
    return peers;
}

// One event-loop turn per connection made a crowd of thousands wait behind
// each other's turns and the stream's ticks: the first completion takes
// everything already queued.
TEST(AcceptLoopTest, OneWakeUpTakesTheConnectionsAlreadyWaiting)
{
    asio::io_context io;
    AcceptLoop loop(io, AnyLoopbackPort, "");
    const auto peers = ConnectMany(io, loop.LocalEndpoint(), 40);
    std::vector<asio::ip::tcp::socket> taken;
    loop.Start([&](asio::ip::tcp::socket socket) { taken.push_back(std::move(socket)); });

    io.run_one();
    EXPECT_EQ(taken.size(), peers.size());
    for (const auto& socket : taken)
        EXPECT_FALSE(socket.non_blocking()) << "an accepted socket must not inherit the listener's mode";
}

TEST(AcceptLoopTest, ACrowdLargerThanOneTurnIsTakenOverSeveralTurns)
{
    asio::io_context io;
    AcceptLoop loop(io, AnyLoopbackPort, "");
    const auto peers = ConnectMany(io, loop.LocalEndpoint(), 200);
    std::size_t taken = 0;
    loop.Start([&](asio::ip::tcp::socket) { ++taken; });

    io.run_one();
    EXPECT_GT(taken, 1u);
    EXPECT_LT(taken, peers.size()) << "one turn must leave the station's other work its turn";
    while (taken < peers.size() && io.run_one() > 0) {
    }
    EXPECT_EQ(taken, peers.size());
}

// A handler that stopped the loop (the station shutting down on a listener's
// request, say) used to have the loop wait on the closed acceptor again: the
// wait failed, was logged and retried every 200 ms for as long as the
// process ran, and io_context::run never returned.
TEST(AcceptLoopTest, StoppedFromItsOwnHandlerItLeavesNoWorkBehind)
{
    for (const int crowd : {1, 5}) {
        asio::io_context io;
        AcceptLoop loop(io, AnyLoopbackPort, "");
        const auto peers = ConnectMany(io, loop.LocalEndpoint(), crowd);
        int calls = 0;
        loop.Start([&](asio::ip::tcp::socket) {
            ++calls;
            loop.Stop();
        });

        io.run_for(std::chrono::seconds(2));
        EXPECT_TRUE(io.stopped()) << "work was left queued after the stop; crowd " << crowd;
        EXPECT_EQ(calls, 1) << "crowd " << crowd;
    }
}

} // namespace
