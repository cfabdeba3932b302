// SPDX-License-Identifier: GPL-3.0-or-later
// TClientSocket against real loopback peers: event order, error reports and
// their exceptions, property rules and the send/receive calls.
#include "net/ScktComp.h"

#include "platform/toolkit/Application.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LoopbackServer.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using testsupport::LoopbackPeer;
using testsupport::LoopbackServer;
using testsupport::WaitUntil;

namespace {

struct ErrorReport {
    TErrorEvent kind;
    int code;
};

class ClientSocketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::Application::Instance().SetErrorBoxHook(
            [this](const QString&, const QString& text) { errorBoxes.push_back(text); });
        socket = std::make_unique<TClientSocket>();
        const auto record = [this](const char* name) {
            return [this, name](QObject* sender, TCustomWinSocket* s) {
                EXPECT_EQ(sender, socket.get());
                EXPECT_EQ(s, socket->WinSocket());
                events.push_back(name);
            };
        };
        socket->OnLookup = record("lookup");
        socket->OnConnecting = record("connecting");
        socket->OnConnect = record("connect");
        socket->OnRead = record("read");
        socket->OnWrite = record("write");
        socket->OnDisconnect = record("disconnect");
        socket->OnError = [this](QObject*, TCustomWinSocket*, TErrorEvent kind, int& code) {
            events.push_back("error");
            errors.push_back({kind, code});
            if (suppressErrors)
                code = 0;
        };
    }
    void TearDown() override { platform::Application::Instance().SetErrorBoxHook(nullptr); }

    void Open(const std::string& host, int port)
    {
        socket->SetHost(host);
        socket->SetPort(port);
        socket->OpenConnection();
    }

    bool Saw(const std::string& name) const { return std::find(events.begin(), events.end(), name) != events.end(); }
    bool WaitFor(const std::string& name) { return WaitUntil([&] { return Saw(name); }); }

    void ConnectToServer()
    {
        Open("127.0.0.1", server.Port());
        peer = server.Accept();
        ASSERT_TRUE(peer.Valid());
        ASSERT_TRUE(WaitFor("connect"));
    }

    LoopbackServer server;
    LoopbackPeer peer;
    std::unique_ptr<TClientSocket> socket;
    std::vector<std::string> events;
    std::vector<ErrorReport> errors;
    std::vector<QString> errorBoxes;
    bool suppressErrors = true;
};

} // namespace

TEST_F(ClientSocketTest, EventsFollowLookupConnectingConnectWriteReadDisconnect)
{
    Open("127.0.0.1", server.Port());
    EXPECT_EQ(events, std::vector<std::string>{"lookup"}) << "a dotted address is still looked up asynchronously";
    EXPECT_FALSE(socket->Active());
    peer = server.Accept();
    ASSERT_TRUE(WaitFor("connect"));
    EXPECT_TRUE(socket->Active());
    EXPECT_TRUE(socket->WinSocket()->IsConnected());

    ASSERT_TRUE(peer.Send("stream"));
    ASSERT_TRUE(WaitFor("read"));
    EXPECT_EQ(socket->WinSocket()->ReceiveString(), "stream");
    peer.Close();
    ASSERT_TRUE(WaitFor("disconnect"));
    EXPECT_EQ(events, (std::vector<std::string>{"lookup", "connecting", "connect", "write", "read", "disconnect"}));
    EXPECT_FALSE(socket->Active());
    EXPECT_FALSE(socket->WinSocket()->IsConnected());
    EXPECT_EQ(socket->WinSocket()->SocketHandle(), platform::winsock::INVALID_SOCKET);
}

TEST_F(ClientSocketTest, DataSentBeforeServerCloseIsReadBeforeDisconnect)
{
    ConnectToServer();
    std::string received;
    socket->OnRead = [&](QObject*, TCustomWinSocket* s) { received += s->ReceiveString(); };
    ASSERT_TRUE(peer.Send(std::string(3000, 'q')));
    peer.Close();
    ASSERT_TRUE(WaitFor("disconnect"));
    EXPECT_EQ(received.size(), 3000u);
}

TEST_F(ClientSocketTest, DisconnectHandlerStillSeesOpenConnectionAndHandleClosesAfterIt)
{
    ConnectToServer();
    bool connectedInside = false;
    platform::winsock::SOCKET handleInside = platform::winsock::INVALID_SOCKET;
    socket->OnDisconnect = [&](QObject*, TCustomWinSocket* s) {
        connectedInside = s->IsConnected();
        handleInside = s->SocketHandle();
        events.push_back("disconnect");
    };
    const auto handle = socket->WinSocket()->SocketHandle();
    socket->CloseConnection();
    EXPECT_TRUE(Saw("disconnect")) << "CloseConnection fires OnDisconnect before it returns";
    EXPECT_TRUE(connectedInside);
    EXPECT_EQ(handleInside, handle);
    EXPECT_TRUE(peer.WaitForClose());
}

TEST_F(ClientSocketTest, GreetingIsSentWholeFromConnectAndNothingBeforeIt)
{
    int beforeConnect = -2;
    int inConnect = -2;
    socket->OnConnect = [&](QObject*, TCustomWinSocket* s) { inConnect = s->SendString("KT-SendolinClient v40-Daten"); };
    Open("127.0.0.1", server.Port());
    beforeConnect = socket->WinSocket()->SendString("early");
    peer = server.Accept();
    ASSERT_TRUE(WaitUntil([&] { return inConnect != -2; }));
    EXPECT_EQ(beforeConnect, 0);
    EXPECT_EQ(inConnect, 27);
    EXPECT_EQ(peer.Receive(100, 300), "KT-SendolinClient v40-Daten");
}

TEST_F(ClientSocketTest, RefusedConnectReportsOnlyTheErrorAndLeavesSocketInactive)
{
    Open("127.0.0.1", LoopbackServer::ClosedPort());
    ASSERT_TRUE(WaitFor("error"));
    testsupport::Pump(50);
    EXPECT_EQ(events, (std::vector<std::string>{"lookup", "connecting", "error"}));
    EXPECT_EQ(errors[0].kind, eeConnect);
    EXPECT_EQ(errors[0].code, platform::winsock::WSAECONNREFUSED);
    EXPECT_FALSE(socket->Active());
    socket->CloseConnection();
    EXPECT_FALSE(Saw("disconnect"));
    EXPECT_TRUE(errorBoxes.empty());
}

TEST_F(ClientSocketTest, UnsuppressedAsyncErrorsReachTheErrorBox)
{
    suppressErrors = false;
    Open("127.0.0.1", LoopbackServer::ClosedPort());
    ASSERT_TRUE(WaitUntil([&] { return !errorBoxes.empty(); }));
    EXPECT_EQ(errorBoxes[0], QStringLiteral("Asynchronous socket error 10061"));

    socket->SetHost("no-such-host.invalid");
    socket->OpenConnection();
    ASSERT_TRUE(WaitUntil([&] { return errorBoxes.size() == 2; }, 15000));
    const int code = errors.back().code;
    EXPECT_TRUE(errorBoxes[1].startsWith(QStringLiteral("Windows socket error: ")));
    EXPECT_TRUE(errorBoxes[1].endsWith(QStringLiteral(" (%1), on API 'ASync Lookup'").arg(code)));
}

TEST_F(ClientSocketTest, UnknownHostReportsLookupErrorThenDisconnect)
{
    Open("no-such-host.invalid", server.Port());
    ASSERT_TRUE(WaitUntil([&] { return Saw("disconnect"); }, 15000));
    EXPECT_EQ(events, (std::vector<std::string>{"lookup", "error", "disconnect"}));
    EXPECT_EQ(errors[0].kind, eeLookup);
    EXPECT_GE(errors[0].code, platform::winsock::WSAHOST_NOT_FOUND);
    EXPECT_LE(errors[0].code, platform::winsock::WSANO_DATA);
}

TEST_F(ClientSocketTest, MissingHostAndAddressIsErrorCode1110AndRaisesUnlessSuppressed)
{
    Open("", server.Port());
    EXPECT_EQ(events, (std::vector<std::string>{"lookup", "error", "disconnect"}));
    EXPECT_EQ(errors[0].kind, eeLookup);
    EXPECT_EQ(errors[0].code, 1110);

    suppressErrors = false;
    events.clear();
    try {
        socket->OpenConnection();
        ADD_FAILURE() << "no exception";
    } catch (const ESocketError& error) {
        EXPECT_EQ(error.Message(), QStringLiteral("No address specified"));
    }
    EXPECT_EQ(events, (std::vector<std::string>{"lookup", "error", "disconnect"}));
}

TEST_F(ClientSocketTest, PropertiesRefuseChangesWhileActiveExceptSameValue)
{
    ConnectToServer();
    EXPECT_NO_THROW(socket->SetHost("127.0.0.1"));
    EXPECT_NO_THROW(socket->SetPort(server.Port()));
    socket->SetService("");
    try {
        socket->SetHost("localhost");
        ADD_FAILURE() << "host changed while active";
    } catch (const ESocketError& error) {
        EXPECT_EQ(error.Message(), QStringLiteral("Can't change value while socket is active"));
    }
    EXPECT_EQ(socket->Host(), "127.0.0.1");
    EXPECT_THROW(socket->SetPort(1), ESocketError);
    EXPECT_THROW(socket->SetClientType(ctBlocking), ESocketError);
    EXPECT_THROW(socket->WinSocket()->StartConnect("127.0.0.1", "", "", 1, false), ESocketError);
}

TEST_F(ClientSocketTest, HostComparisonIgnoresLetterCaseWhileActive)
{
    Open("LocalHost", server.Port());
    peer = server.Accept();
    ASSERT_TRUE(WaitFor("connect"));
    EXPECT_NO_THROW(socket->SetHost("LOCALHOST"));
    EXPECT_EQ(socket->Host(), "LocalHost");
}

TEST_F(ClientSocketTest, PortUsesOnlyItsLow16Bits)
{
    Open("127.0.0.1", server.Port() + 65536);
    peer = server.Accept();
    EXPECT_TRUE(peer.Valid());
    EXPECT_TRUE(WaitFor("connect"));
}

TEST_F(ClientSocketTest, CloseWhileConnectingLetsTheAttemptFinish)
{
    Open("127.0.0.1", server.Port());
    socket->CloseConnection();
    peer = server.Accept();
    ASSERT_TRUE(WaitFor("connect"));
    EXPECT_FALSE(Saw("disconnect"));
    EXPECT_TRUE(socket->Active());
}

TEST_F(ClientSocketTest, ReopenAfterRefusalUsesNewHandleAndConnects)
{
    Open("127.0.0.1", LoopbackServer::ClosedPort());
    ASSERT_TRUE(WaitFor("error"));
    const auto failedHandle = socket->WinSocket()->SocketHandle();
    socket->SetPort(server.Port());
    socket->OpenConnection();
    peer = server.Accept();
    ASSERT_TRUE(WaitFor("connect"));
    EXPECT_NE(socket->WinSocket()->SocketHandle(), failedHandle);
}

TEST_F(ClientSocketTest, DestroyingConnectedSocketClosesWithoutDisconnectEvent)
{
    ConnectToServer();
    socket.reset();
    EXPECT_FALSE(Saw("disconnect"));
    EXPECT_TRUE(peer.WaitForClose());
}

TEST_F(ClientSocketTest, PeerResetIsReportedButConnectionStaysUntilClosed)
{
    ConnectToServer();
    peer.Reset();
    ASSERT_TRUE(WaitFor("error"));
    EXPECT_EQ(errors[0].kind, eeDisconnect);
    EXPECT_EQ(errors[0].code, platform::winsock::WSAECONNRESET);
    EXPECT_TRUE(socket->Active());
    EXPECT_TRUE(socket->WinSocket()->IsConnected());
    EXPECT_FALSE(Saw("disconnect"));

    // Sending into the reset connection reports, then drops it, under the lock.
    EXPECT_EQ(socket->WinSocket()->SendString("late"), -1);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[1].kind, eeSend);
    EXPECT_TRUE(Saw("disconnect"));
    EXPECT_FALSE(socket->Active());
}

TEST_F(ClientSocketTest, ReadCallsOnIdleSocketTouchNothing)
{
    char buffer[8];
    EXPECT_EQ(socket->WinSocket()->BytesWaiting(), 0);
    EXPECT_EQ(socket->WinSocket()->ReceiveBytes(buffer, sizeof buffer), 0);
    EXPECT_EQ(socket->WinSocket()->ReceiveString(), "");

    ConnectToServer();
    EXPECT_EQ(socket->WinSocket()->ReceiveString(), "");
    ASSERT_TRUE(peer.Send("12345"));
    ASSERT_TRUE(WaitFor("read"));
    EXPECT_EQ(socket->WinSocket()->ReceiveBytes(nullptr, -1), 5);
    EXPECT_EQ(socket->WinSocket()->BytesWaiting(), 5) << "a count of -1 reads nothing";
}

TEST_F(ClientSocketTest, SendThatWouldBlockReturnsMinusOneQuietly)
{
    ConnectToServer();
    const std::string chunk(1 << 20, 'z');
    int result = 0;
    for (int i = 0; i < 64 && result != -1; ++i)
        result = socket->WinSocket()->SendString(chunk);
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(errors.empty());
    EXPECT_TRUE(socket->Active());
}

TEST_F(ClientSocketTest, QueuedOutcomeOfAnAbandonedAttemptDoesNotPassForTheNewOne)
{
    Open("127.0.0.1", LoopbackServer::ClosedPort());
    ASSERT_TRUE(WaitFor("error"));
    const auto abandoned = socket->WinSocket()->SocketHandle();
    socket->SetPort(server.Port());
    socket->OpenConnection();
    namespace ws = platform::winsock;
    const auto handle = socket->WinSocket()->Handle();
    platform::NotifyWindow::Post(handle, WM_SOCKET_EVENT, abandoned, ws::WSAMAKESELECTREPLY(ws::FD_CONNECT, 0));
    platform::NotifyWindow::Post(handle, WM_SOCKET_EVENT, abandoned,
                                 ws::WSAMAKESELECTREPLY(ws::FD_CONNECT, ws::WSAECONNREFUSED));
    peer = server.Accept();
    ASSERT_TRUE(WaitFor("connect"));
    testsupport::Pump(50);
    EXPECT_EQ(std::count(events.begin(), events.end(), "connect"), 1);
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_TRUE(socket->WinSocket()->IsConnected());
}
