// SPDX-License-Identifier: GPL-3.0-or-later
// The directory answer without a window: an answer cut anywhere gives the
// stations of the whole, and the server a query connects to.
#include "app/DirectoryAnswer.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> Addresses(const std::vector<DirectoryAnswer::Station>& stations)
{
    std::vector<std::string> addresses;
    for (const auto& station : stations)
        addresses.push_back(station.address + "=" + station.name);
    return addresses;
}

} // namespace

TEST(DirectoryAnswer, AnAnswerCutAtEveryByteGivesTheStationsOfTheWhole)
{
    // Every kind of line break, one split across a cut, a refused line, and
    // a NUL after which nothing counts.
    const std::string answers[] = {
        "HTTP/1.1 200 OK\r\nX: y\r\n\r\n1.2.3.4:1,One\r\n5.6.7.8:2,Two\n9.9.9.9:3,Three\rbad,Line\r\n",
        "HTTP/1.0 200 OK\n\n1.1.1.1:1,A\r\n2.2.2.2:2,B" + std::string(1, '\0') + "\r\n3.3.3.3:3,C\r\n",
        "no head at all\r\n4.4.4.4:4,D",
    };
    for (const std::string& answer : answers) {
        DirectoryAnswer whole;
        whole.Collect(answer);
        const auto expected = Addresses(whole.Rebuild());
        ASSERT_FALSE(expected.empty()) << answer;
        for (std::size_t cut = 0; cut <= answer.size(); ++cut) {
            DirectoryAnswer pieces;
            pieces.Collect(answer.substr(0, cut));
            pieces.Collect(answer.substr(cut));
            EXPECT_EQ(Addresses(pieces.Rebuild()), expected) << "cut at " << cut << " of " << answer;
        }
    }
}

TEST(DirectoryAnswer, TheServerIsTheHostAfterSevenBytesAndItsOptionalPort)
{
    struct Case {
        const char* url;
        const char* host;
        const char* port;
    };
    const Case cases[] = {
        {"http://dir.example/list/", "dir.example", "80"},
        {"http://127.0.0.1:8080/", "127.0.0.1", "8080"},
        {"http://host:/", "host", "80"},        // an empty port is the default
        {"HTTP://Host/", "Host", "80"},         // the scheme is skipped, not read
        {"http://no-slash", "", "80"},          // no path: no host either
        {"http://", "", "80"},
        {"", "", "80"},
    };
    for (const Case& c : cases) {
        const DirectoryAnswer::Server server = DirectoryAnswer::ServerOf(c.url);
        EXPECT_EQ(server.host, c.host) << c.url;
        EXPECT_EQ(server.port, c.port) << c.url;
    }
}
