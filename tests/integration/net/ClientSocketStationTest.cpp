// SPDX-License-Identifier: GPL-3.0-or-later
// TClientSocket as the stream channel of a real sendolin-station process.
#include "net/ScktComp.h"

#include "StationProcess.h"
#include "tests/support/EventLoop.h"
#include "wire/StreamRecords.h"
#include "tests/support/PackedField.h"

#include <gtest/gtest.h>
#include <cstring>
#include <string>

using testsupport::ByValue;
using testsupport::StationProcess;
using testsupport::WaitUntil;

namespace {

struct StreamClient {
    TClientSocket socket;
    std::string received;
    int greetingResult = 0;
    bool disconnected = false;

    StreamClient()
    {
        socket.OnConnect = [this](QObject*, TCustomWinSocket* s) {
            greetingResult = s->SendString(std::string(wire::StreamGreeting));
        };
        socket.OnRead = [this](QObject*, TCustomWinSocket* s) { received += s->ReceiveString(); };
        socket.OnDisconnect = [this](QObject*, TCustomWinSocket*) { disconnected = true; };
    }

    void Open(unsigned short port)
    {
        socket.SetHost("localhost");
        socket.SetPort(port);
        socket.OpenConnection();
    }
};

} // namespace

TEST(ClientSocketStation, GreetingBringsHeaderThenAudio)
{
    StationProcess station({"--name", "Testfunk"});
    ASSERT_TRUE(station.Start());
    StreamClient client;
    client.Open(station.StreamPort());
    ASSERT_TRUE(WaitUntil([&] { return client.received.size() > sizeof(TStreamHeader) + 1000; }, 10000));
    EXPECT_EQ(client.greetingResult, static_cast<int>(wire::StreamGreeting.size()));

    TStreamHeader header;
    std::memcpy(&header, client.received.data(), sizeof header);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(header.StationName + 1), header.StationName[0]), "Testfunk");
    EXPECT_EQ(ByValue(header.FormatIn.Format.wFormatTag), 0x0055) << "MPEG Layer-3 input";
    const auto audio = static_cast<unsigned char>(client.received[sizeof header]);
    EXPECT_EQ(audio, 0xFF) << "audio starts on an MPEG frame";

    client.socket.CloseConnection();
    EXPECT_TRUE(client.disconnected);
    EXPECT_FALSE(client.socket.Active());
}

TEST(ClientSocketStation, StationEndingTheStreamDisconnectsOnce)
{
    auto station = std::make_unique<StationProcess>();
    ASSERT_TRUE(station->Start());
    StreamClient client;
    int disconnects = 0;
    client.socket.OnDisconnect = [&](QObject*, TCustomWinSocket*) { ++disconnects; };
    client.Open(station->StreamPort());
    ASSERT_TRUE(WaitUntil([&] { return client.received.size() > sizeof(TStreamHeader); }, 10000));
    station->Stop();
    ASSERT_TRUE(WaitUntil([&] { return disconnects > 0; }, 10000));
    testsupport::Pump(100);
    EXPECT_EQ(disconnects, 1);
    EXPECT_FALSE(client.socket.WinSocket()->IsConnected());
}
