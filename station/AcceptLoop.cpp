// SPDX-License-Identifier: GPL-3.0-or-later
#include "AcceptLoop.h"

#include "Log.h"

#include <chrono>

namespace station {

namespace {

constexpr std::chrono::milliseconds RetryDelay{200};
// Connections taken per wake-up beyond the first: a thousand listeners
// arriving together are taken in a few turns, and the stream ticks between them.
constexpr int MostTakenAtOnce = 64;

} // namespace

AcceptLoop::AcceptLoop(asio::io_context& io, const asio::ip::tcp::endpoint& endpoint, std::string logPrefix)
    : acceptor_(io, endpoint)
    , retry_(io)
    , logPrefix_(std::move(logPrefix))
{
    // The waiting connections are taken with plain accepts that must not block.
    acceptor_.non_blocking(true);
}

void AcceptLoop::Start(Handler handler)
{
    handler_ = std::move(handler);
    Accept();
}

void AcceptLoop::Stop()
{
    stopped_ = true;
    asio::error_code ignored;
    acceptor_.close(ignored);
    retry_.cancel();
}

void AcceptLoop::Accept()
{
    acceptor_.async_accept([this](asio::error_code ec, asio::ip::tcp::socket socket) {
        if (stopped_ || ec == asio::error::operation_aborted)
            return;
        if (ec) {
            RetryLater(ec);
            return;
        }
        handler_(std::move(socket));
        if (TakeWaiting())
            Accept();
    });
}

bool AcceptLoop::TakeWaiting()
{
    for (int taken = 0; taken < MostTakenAtOnce && !stopped_; ++taken) {
        asio::error_code ec;
        asio::ip::tcp::socket socket = acceptor_.accept(ec);
        if (ec == asio::error::would_block || ec == asio::error::try_again)
            return true;
        if (ec) {
            RetryLater(ec);
            return false;
        }
        handler_(std::move(socket));
    }
    // A handler that stopped the loop closed the acceptor: waiting on it again
    // would fail and retry for ever.
    return !stopped_;
}

void AcceptLoop::RetryLater(const asio::error_code& ec)
{
    LogLine(Severity::Warning, logPrefix_ + "accept failed: " + ec.message());
    retry_.expires_after(RetryDelay);
    retry_.async_wait([this](asio::error_code waited) {
        if (!waited && !stopped_)
            Accept();
    });
}

} // namespace station
