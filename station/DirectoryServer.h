// SPDX-License-Identifier: GPL-3.0-or-later
// The station directory: a minimal HTTP/1.0 server that answers
// GET …index.php?action=queryuser with one "address,name" line per station and
// closes the connection after every answer. Requests are bounded in size and
// time. Runs on the station's single Asio thread.
#pragma once

#include "AcceptLoop.h"

#include <asio.hpp>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace station {

struct DirectoryEntry {
    std::string address; // "host:port"
    std::string name;    // Windows-1252
};

class DirectoryServer {
public:
    static constexpr std::size_t MaxRequestBytes = 8192;

    DirectoryServer(asio::io_context& io, const asio::ip::tcp::endpoint& endpoint, std::vector<DirectoryEntry> entries);

    void Start();
    void Stop();
    asio::ip::tcp::endpoint LocalEndpoint() const { return acceptor_.LocalEndpoint(); }

    // Where the head of a request ends (just past its empty line), or npos.
    static std::size_t HeadEnd(std::string_view received);
    // The whole answer to one request head.
    static std::string Respond(std::string_view head, const std::vector<DirectoryEntry>& entries);
    // The answer for a request that outgrew MaxRequestBytes.
    static std::string Oversized();

private:
    AcceptLoop acceptor_;
    const std::vector<DirectoryEntry> entries_;
};

} // namespace station
