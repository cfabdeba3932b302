// SPDX-License-Identifier: GPL-3.0-or-later
// What a station reads from a peer before it trusts it: the greeting of a new
// connection, fed byte by byte as a slow peer would, and a directory request.
// The greeting verdict may only move from Incomplete to a final one and must
// never change after; a directory answer is always a complete HTTP reply.
#include "DirectoryServer.h"
#include "Station.h"
#include "tests/fuzz/FuzzCheck.h"

#include <cstdint>
#include <string_view>

using station::DirectoryServer;
using station::Station;

namespace {

void CheckGreeting(std::string_view bytes)
{
    Station::Greeting verdict = Station::Greeting::Incomplete;
    for (std::size_t n = 1; n <= bytes.size() && n <= 64; ++n) {
        const Station::Greeting now = Station::Classify(bytes.substr(0, n));
        if (verdict != Station::Greeting::Incomplete)
            FUZZ_CHECK(now == verdict);
        verdict = now;
    }
}

void CheckDirectory(std::string_view bytes)
{
    static const std::vector<station::DirectoryEntry> entries{{"127.0.0.1:6565", "Fuzz Radio"}};
    const std::string_view head = bytes.substr(0, DirectoryServer::MaxRequestBytes);
    const std::size_t end = DirectoryServer::HeadEnd(head);
    if (end == std::string_view::npos)
        return;
    FUZZ_CHECK(end <= head.size());
    const std::string answer = DirectoryServer::Respond(head.substr(0, end), entries);
    FUZZ_CHECK(answer.rfind("HTTP/1.", 0) == 0);
    FUZZ_CHECK(answer.find("\r\n\r\n") != std::string::npos);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CheckGreeting(bytes);
    CheckDirectory(bytes);
    return 0;
}
