// Accepts connections on one listening socket for as long as it runs and hands
// each to its owner. A failed accept (out of descriptors, usually) is logged
// and retried a little later instead of spinning, so the station keeps serving
// the connections it has. Runs on the station's single Asio thread.
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
    // Closes the listening socket; no handler call follows.
    void Stop();

    asio::ip::tcp::endpoint LocalEndpoint() const { return acceptor_.local_endpoint(); }

private:
    void Accept();

    asio::ip::tcp::acceptor acceptor_;
    asio::steady_timer retry_;
    const std::string logPrefix_;
    Handler handler_;
};

} // namespace station
