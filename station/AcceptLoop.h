// SPDX-License-Identifier: GPL-3.0-or-later
// Accepts connections on one listening socket for as long as it runs and hands
// each to its owner. Every wake-up takes all the connections already waiting
// (up to a bound, so a crowd connecting at once cannot starve the station's
// other work), instead of one trip through the event loop per connection. A
// failed accept (out of descriptors, usually) is logged and retried a little
// later instead of spinning, so the station keeps serving the connections it
// has. Runs on the station's single Asio thread.
#pragma once

#include <asio.hpp>

#include <functional>
#include <string>

namespace station {

class AcceptLoop {
public:
    using Handler = std::function<void(asio::ip::tcp::socket)>;

    // Binds at once; throws asio's system_error when the address is unusable.
    // logPrefix starts every log line of this loop ("directory: ", say).
    AcceptLoop(asio::io_context& io, const asio::ip::tcp::endpoint& endpoint, std::string logPrefix);

    void Start(Handler handler);
    // Closes the listening socket; no handler call follows, even when the
    // handler itself stops the loop.
    void Stop();

    asio::ip::tcp::endpoint LocalEndpoint() const { return acceptor_.local_endpoint(); }

private:
    void Accept();
    // Hands on what the listen queue holds; false once the loop must not wait
    // again (stopped, or retrying later).
    bool TakeWaiting();
    void RetryLater(const asio::error_code& ec);

    asio::ip::tcp::acceptor acceptor_;
    asio::steady_timer retry_;
    const std::string logPrefix_;
    Handler handler_;
    bool stopped_ = false;
};

} // namespace station
