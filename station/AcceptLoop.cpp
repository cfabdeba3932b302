#include "AcceptLoop.h"

#include "Log.h"

#include <chrono>

namespace station {

namespace {

constexpr std::chrono::milliseconds RetryDelay{200};

} // namespace

AcceptLoop::AcceptLoop(asio::io_context& io, const asio::ip::tcp::endpoint& endpoint, std::string logPrefix)
    : acceptor_(io, endpoint)
    , retry_(io)
    , logPrefix_(std::move(logPrefix))
{
}

void AcceptLoop::Start(Handler handler)
{
    handler_ = std::move(handler);
    Accept();
}

void AcceptLoop::Stop()
{
    asio::error_code ignored;
    acceptor_.close(ignored);
    retry_.cancel();
}

void AcceptLoop::Accept()
{
    acceptor_.async_accept([this](asio::error_code ec, asio::ip::tcp::socket socket) {
        if (ec == asio::error::operation_aborted)
            return;
        if (ec) {
            LogLine(logPrefix_ + "accept failed: " + ec.message());
            retry_.expires_after(RetryDelay);
            retry_.async_wait([this](asio::error_code waited) {
                if (!waited)
                    Accept();
            });
            return;
        }
        handler_(std::move(socket));
        Accept();
    });
}

} // namespace station
