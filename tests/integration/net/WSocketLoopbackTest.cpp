// SPDX-License-Identifier: GPL-3.0-or-later
// The event socket against scripted peers on 127.0.0.1: connecting, the
// request bytes, delivery of everything before a close, the connection-lost
// paths of Send, refused connections and exceptions in handlers.
#include "net/WSocket.h"

#include "platform/winsock/WinSock.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LoopbackServer.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

using namespace net;
using testsupport::LoopbackPeer;
using testsupport::LoopbackServer;
using testsupport::WaitUntil;
namespace ws = platform::winsock;

namespace {

// Records what a socket reports, in order.
struct Recorder {
    std::vector<std::string> events;
    std::vector<TSocketState> states{wsClosed};
    std::string received;
    int errors = 0;
    int closedCount = 0;
    int closedError = -1;
    TSocketState stateWhileClosing = wsInvalidState;
    int connectedError = -1;
    TSocketState stateWhileConnected = wsInvalidState;

    void Attach(TWSocket& socket)
    {
        socket.OnChangeState = [this](QObject*, TSocketState, TSocketState now) { states.push_back(now); };
        socket.OnSessionConnected = [this, &socket](QObject*, std::uint16_t error) {
            events.push_back("connected");
            connectedError = error;
            stateWhileConnected = socket.State();
        };
        socket.OnDataAvailable = [this, &socket](QObject*, std::uint16_t) {
            received += socket.ReceiveString();
        };
        socket.OnSessionClosed = [this, &socket](QObject*, std::uint16_t error) {
            events.push_back("closed");
            ++closedCount;
            closedError = error;
            stateWhileClosing = socket.State();
        };
        socket.OnError = [this](QObject*) {
            events.push_back("error");
            ++errors;
        };
    }
};

void Aim(TWSocket& socket, unsigned short port)
{
    socket.SetAddr("127.0.0.1");
    socket.SetPort(std::to_string(port));
    socket.SetProto("tcp");
}

std::string Pattern(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return bytes;
}

} // namespace

TEST(WSocketLoopback, RequestSentFromOnSessionConnectedArrivesExactlyAndDataSentComesLater)
{
    LoopbackServer server;
    TWSocket socket;
    Recorder rec;
    rec.Attach(socket);
    const std::string request = Pattern(4000); // spans several send blocks
    bool inSend = false;
    int sentEvents = 0;
    bool dataSentInsideSend = false;
    socket.OnSessionConnected = [&](QObject*, std::uint16_t error) {
        rec.connectedError = error;
        inSend = true;
        EXPECT_EQ(socket.SendString(request), static_cast<int>(request.size()));
        inSend = false;
    };
    socket.OnDataSent = [&](QObject*, std::uint16_t) {
        dataSentInsideSend |= inSend;
        ++sentEvents;
    };
    Aim(socket, server.Port());
    socket.Connect();
    LoopbackPeer peer = server.Accept();
    ASSERT_TRUE(peer.Valid());
    EXPECT_EQ(peer.Receive(request.size()), request);
    ASSERT_TRUE(WaitUntil([&] { return sentEvents > 0; }));
    EXPECT_FALSE(dataSentInsideSend) << "OnDataSent fired inside Send";
    EXPECT_EQ(rec.connectedError, 0);
    EXPECT_EQ(rec.states, (std::vector<TSocketState>{wsClosed, wsOpened, wsConnecting, wsConnected}));
    EXPECT_EQ(socket.PeerAddr(), "127.0.0.1");
    EXPECT_EQ(socket.PeerPort(), std::to_string(server.Port()));
}

TEST(WSocketLoopback, PeerCloseWithDataWaitingDeliversEverythingBeforeSessionClosed)
{
    LoopbackServer server;
    TWSocket socket;
    Recorder rec;
    rec.Attach(socket);
    size_t receivedAtClose = 0;
    socket.OnSessionClosed = [&](QObject*, std::uint16_t error) {
        ++rec.closedCount;
        rec.closedError = error;
        rec.stateWhileClosing = socket.State();
        receivedAtClose = rec.received.size();
    };
    Aim(socket, server.Port());
    socket.Connect();
    LoopbackPeer peer = server.Accept();
    ASSERT_TRUE(peer.Valid());
    const std::string answer = Pattern(300000);
    ASSERT_TRUE(peer.Send(answer));
    peer.Close();

    ASSERT_TRUE(WaitUntil([&] { return rec.closedCount > 0; }));
    EXPECT_EQ(receivedAtClose, answer.size()) << "data was still waiting when OnSessionClosed fired";
    EXPECT_EQ(rec.received, answer);
    EXPECT_EQ(rec.closedError, 0);
    EXPECT_EQ(rec.stateWhileClosing, wsConnected);
    EXPECT_EQ(socket.State(), wsClosed);
    testsupport::Pump(50);
    EXPECT_EQ(rec.closedCount, 1) << "OnSessionClosed fired twice for one connection";
    EXPECT_EQ(rec.errors, 0);
}

TEST(WSocketLoopback, RemoteEndCannotChangeWhileInUseButTheSameValueIsAccepted)
{
    LoopbackServer server;
    TWSocket socket;
    Aim(socket, server.Port());
    socket.Connect();
    LoopbackPeer peer = server.Accept();
    ASSERT_TRUE(WaitUntil([&] { return socket.State() == wsConnected; }));

    EXPECT_NO_THROW(socket.SetAddr("127.0.0.1"));
    EXPECT_NO_THROW(socket.SetPort(std::to_string(server.Port())));
    try {
        socket.SetAddr("127.0.0.2");
        ADD_FAILURE() << "changing Addr while connected was accepted";
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Cannot change Addr if not closed"));
    }
    EXPECT_EQ(socket.Addr(), "127.0.0.1");

    // A second query while the first is still open is refused.
    try {
        socket.Connect();
        ADD_FAILURE() << "Connect on a socket in use was accepted";
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Connect: Socket already in use"));
    }
}

TEST(WSocketLoopback, RefusedConnectionIsReportedAsFailedSessionThenClosed)
{
    TWSocket socket;
    Recorder rec;
    rec.Attach(socket);
    Aim(socket, LoopbackServer::ClosedPort());
    socket.Connect();
    ASSERT_TRUE(WaitUntil([&] { return rec.closedCount > 0; }));
    EXPECT_EQ(rec.events, (std::vector<std::string>{"connected", "closed"}));
    EXPECT_EQ(rec.connectedError, ws::WSAECONNREFUSED);
    EXPECT_EQ(rec.stateWhileConnected, wsConnected);
    EXPECT_EQ(rec.closedError, 0);
    EXPECT_EQ(socket.State(), wsClosed);
}

TEST(WSocketLoopback, SendWhileConnectingClosesTheAttemptWithNotConnected)
{
    LoopbackServer server;
    TWSocket socket;
    Recorder rec;
    rec.Attach(socket);
    Aim(socket, server.Port());
    socket.Connect();
    ASSERT_EQ(socket.State(), wsConnecting);
    EXPECT_EQ(socket.SendString("early"), -1);
    EXPECT_EQ(socket.LastError(), ws::WSAENOTCONN);
    EXPECT_EQ(rec.events, (std::vector<std::string>{"closed", "error"}));
    EXPECT_EQ(rec.closedError, ws::WSAENOTCONN);
    EXPECT_EQ(socket.State(), wsClosed);
    testsupport::Pump(100);
    EXPECT_EQ(rec.events.size(), 2u) << "a notice of the abandoned attempt got through";
}

TEST(WSocketLoopback, SendOnAClosedSocketReportsNotConnectedWithoutACloseEvent)
{
    TWSocket socket;
    Recorder rec;
    rec.Attach(socket);
    EXPECT_EQ(socket.SendString("x"), -1);
    EXPECT_EQ(rec.events, (std::vector<std::string>{"error"}));
    EXPECT_EQ(socket.LastError(), ws::WSAENOTCONN);

    socket.OnError = nullptr;
    try {
        socket.SendString("x");
        ADD_FAILURE() << "no exception without OnError";
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Error 10057 in function Send\r\nSocket is not connected"));
    }
    EXPECT_EQ(socket.SendString(""), 0);
}

TEST(WSocketLoopback, LargeSendIsQueuedAndWrittenCompletelyInOrder)
{
    LoopbackServer server;
    TWSocket socket;
    Recorder rec;
    rec.Attach(socket);
    int dataSent = 0;
    socket.OnDataSent = [&](QObject*, std::uint16_t) { ++dataSent; };
    Aim(socket, server.Port());
    socket.Connect();
    LoopbackPeer peer = server.Accept();
    ASSERT_TRUE(WaitUntil([&] { return socket.State() == wsConnected; }));

    const std::string payload = Pattern(4 * 1024 * 1024); // more than the socket buffers take at once
    EXPECT_EQ(socket.Send(payload.data(), static_cast<int>(payload.size())), static_cast<int>(payload.size()));
    const std::string got = peer.Receive(payload.size(), 20000);
    EXPECT_EQ(got.size(), payload.size());
    EXPECT_TRUE(got == payload) << "bytes arrived changed or out of order";
    EXPECT_TRUE(WaitUntil([&] { return dataSent > 0; }));
    EXPECT_EQ(rec.errors, 0);
}

TEST(WSocketLoopback, ExceptionInAHandlerNeverEscapesAndAbortsTheConnection)
{
    LoopbackServer server;
    TWSocket socket;
    std::vector<std::string> caught;
    socket.OnSessionConnected = [](QObject*, std::uint16_t) { throw std::runtime_error("handler failed"); };
    socket.OnBgException = [&](QObject*, const std::exception& e, bool& canClose) {
        EXPECT_TRUE(canClose);
        caught.push_back(e.what());
    };
    Aim(socket, server.Port());
    socket.Connect();
    LoopbackPeer peer = server.Accept();
    ASSERT_TRUE(WaitUntil([&] { return !caught.empty(); }));
    EXPECT_EQ(caught.front(), "handler failed");
    EXPECT_TRUE(peer.WaitForClose());
    EXPECT_EQ(socket.State(), wsClosed);
}
