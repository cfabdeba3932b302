// SPDX-License-Identifier: GPL-3.0-or-later
#include "Peer.h"

#include <array>

namespace station {

std::string PeerName(const asio::ip::tcp::socket& socket)
{
    asio::error_code ec;
    const auto remote = socket.remote_endpoint(ec);
    return ec ? std::string("?") : remote.address().to_string() + ":" + std::to_string(remote.port());
}

void DrainUntilClosed(asio::ip::tcp::socket& socket, std::function<void(const std::string&)> onClosed)
{
    // Never looked at, so every drained socket may share it.
    static std::array<char, 512> discard;
    socket.async_read_some(asio::buffer(discard),
                           [&socket, onClosed = std::move(onClosed)](asio::error_code ec, std::size_t) mutable {
                               if (!ec)
                                   DrainUntilClosed(socket, std::move(onClosed));
                               else if (ec != asio::error::operation_aborted)
                                   onClosed(ec == asio::error::eof ? "disconnected" : "disconnected: " + ec.message());
                           });
}

Peer::Peer(asio::ip::tcp::socket socket, std::string name)
    : socket_(std::move(socket)), name_(std::move(name))
{
}

void Peer::Start()
{
    DrainUntilClosed(socket_, [self = shared_from_this()](const std::string& reason) { self->Ended(reason); });
}

void Peer::Close()
{
    asio::error_code ignored;
    socket_.close(ignored);
}

bool Peer::Sent(const asio::error_code& ec)
{
    if (ec && ec != asio::error::operation_aborted)
        Ended("send failed: " + ec.message());
    return !ec;
}

} // namespace station
