// SPDX-License-Identifier: GPL-3.0-or-later
// Reading side of a connection that only ever sends: listeners and info readers
// have nothing more to say after their greeting, but what they send anyway is
// read and thrown away so it never backs up, and their close is noticed.
// Runs on the station's one io_context thread.
#pragma once

#include <asio.hpp>

#include <array>
#include <functional>
#include <string>

namespace station {

// Reads and discards until the peer closes or the socket fails, then calls
// onClosed with the reason for the log. onClosed must keep the socket's owner
// alive (capture its shared_ptr); a cancelled read (socket closed by us)
// calls nothing.
inline void DrainUntilClosed(asio::ip::tcp::socket& socket, std::function<void(const std::string&)> onClosed)
{
    static std::array<char, 512> discard;
    socket.async_read_some(asio::buffer(discard),
                           [&socket, onClosed = std::move(onClosed)](asio::error_code ec, std::size_t) mutable {
                               if (!ec)
                                   DrainUntilClosed(socket, std::move(onClosed));
                               else if (ec != asio::error::operation_aborted)
                                   onClosed(ec == asio::error::eof ? "disconnected" : "disconnected: " + ec.message());
                           });
}

} // namespace station
