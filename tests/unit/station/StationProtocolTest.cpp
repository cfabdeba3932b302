// SPDX-License-Identifier: GPL-3.0-or-later
// What peers send the station: greetings and directory requests, including
// garbage, which must never get more than a refusal.
#include "DirectoryServer.h"
#include "MpegFrame.h"
#include "Station.h"

#include "wire/StreamRecords.h"

#include <gtest/gtest.h>

#include <random>

using station::DirectoryServer;
using station::Station;

namespace {

std::string Status(const std::string& answer)
{
    return answer.substr(0, answer.find("\r\n"));
}

TEST(StationGreetingTest, GreetingsAreRecognisedByteByByte)
{
    const std::string stream(wire::StreamGreeting);
    const std::string info(wire::InfoGreeting);
    for (std::size_t n = 0; n < info.size(); ++n) {
        EXPECT_EQ(Station::Classify(stream.substr(0, n)), Station::Greeting::Incomplete) << n;
        EXPECT_EQ(Station::Classify(info.substr(0, n)), Station::Greeting::Incomplete) << n;
    }
    EXPECT_EQ(Station::Classify(stream.substr(0, 26)), Station::Greeting::Incomplete);
    EXPECT_EQ(Station::Classify(stream), Station::Greeting::Stream);
    EXPECT_EQ(Station::Classify(info), Station::Greeting::Info);
    EXPECT_EQ(Station::Classify(info + "x"), Station::Greeting::Info);

    EXPECT_EQ(Station::Classify("X"), Station::Greeting::Wrong);
    EXPECT_EQ(Station::Classify("KT-SendolinClient v40-I"), Station::Greeting::Incomplete);
    EXPECT_EQ(Station::Classify("KT-SendolinClient v40-X"), Station::Greeting::Wrong);
    EXPECT_EQ(Station::Classify("KT-SendolinClient v40-Datex"), Station::Greeting::Wrong);
    EXPECT_EQ(Station::Classify("kt-sendolinclient v40-daten"), Station::Greeting::Wrong);
}

TEST(StationDirectoryRequestTest, HeadEndsAtTheFirstEmptyLine)
{
    EXPECT_EQ(DirectoryServer::HeadEnd("GET / HTTP/1.0\r\nHost: x\r\n"), std::string::npos);
    EXPECT_EQ(DirectoryServer::HeadEnd("GET / HTTP/1.0\r\n\r\n\r\n"), 18u);
    EXPECT_EQ(DirectoryServer::HeadEnd("GET / HTTP/1.0\n\n"), 16u);
}

TEST(StationDirectoryRequestTest, AnswersDependOnMethodTargetAndVersion)
{
    const std::vector<station::DirectoryEntry> entries = {{"10.0.0.1:6565", "A"}, {"10.0.0.2:6565", "B,C"}};
    const std::string ok = DirectoryServer::Respond(
        "GET http://example.org/radio/index.php?action=queryuser HTTP/1.0\r\n\r\n", entries);
    EXPECT_EQ(Status(ok), "HTTP/1.0 200 OK");
    EXPECT_TRUE(ok.ends_with("\r\n\r\n10.0.0.1:6565,A\r\n10.0.0.2:6565,B,C\r\n"));
    const std::size_t body = ok.find("\r\n\r\n") + 4;
    EXPECT_NE(ok.find("Content-Length: " + std::to_string(ok.size() - body) + "\r\n"), std::string::npos);

    EXPECT_EQ(Status(DirectoryServer::Respond("GET /index.php?action=queryuser HTTP/1.1\n\n", entries)),
              "HTTP/1.0 200 OK");
    EXPECT_EQ(Status(DirectoryServer::Respond("POST /index.php?action=queryuser HTTP/1.0\r\n\r\n", entries)),
              "HTTP/1.0 405 Method Not Allowed");
    EXPECT_EQ(Status(DirectoryServer::Respond("GET /index.php?action=queryusers HTTP/1.0\r\n\r\n", entries)),
              "HTTP/1.0 404 Not Found");
    for (const char* bad : {"\r\n\r\n", "GET\r\n\r\n", "GET  HTTP/1.0\r\n\r\n", " / HTTP/1.0\r\n\r\n",
                            "GET / x HTTP/1.0\r\n\r\n", "GET / FTP/1.0\r\n\r\n"})
        EXPECT_EQ(Status(DirectoryServer::Respond(bad, entries)), "HTTP/1.0 400 Bad Request") << bad;

    // With no stations the body is empty: no empty line may follow the head.
    EXPECT_TRUE(DirectoryServer::Respond("GET /index.php?action=queryuser HTTP/1.0\r\n\r\n", {})
                    .ends_with("Content-Length: 0\r\nConnection: close\r\n\r\n"));
}

TEST(StationRobustnessTest, RandomBytesNeverYieldMoreThanRefusalsOrValidFrames)
{
    std::mt19937 random(1);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 200; ++round) {
        std::string junk(std::size_t(byte(random)) * 8, '\0');
        for (char& c : junk)
            c = char(byte(random) < 40 ? 0xFF : byte(random)); // plenty of sync-like bytes
        const std::string status = Status(DirectoryServer::Respond(junk, {}));
        EXPECT_TRUE(status == "HTTP/1.0 400 Bad Request" || status == "HTTP/1.0 404 Not Found"
                    || status == "HTTP/1.0 405 Method Not Allowed") << status;

        station::FrameSplitter splitter;
        splitter.Push(junk);
        splitter.Finish();
        while (const auto frame = splitter.Next()) {
            ASSERT_EQ(int(frame->bytes.size()), frame->header.frameBytes);
            EXPECT_TRUE(station::ParseFrameHeader(reinterpret_cast<const std::uint8_t*>(frame->bytes.data())));
        }
    }
}

} // namespace
