// SPDX-License-Identifier: GPL-3.0-or-later
// The WinSock layer against real loopback sockets: notice order, re-enabling
// rules, close codes, lookups and cancellation.
#include "platform/winsock/WinSock.h"

#include "tests/support/EventLoop.h"
#include "tests/support/LoopbackServer.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <vector>

namespace ws = platform::winsock;
using testsupport::LoopbackPeer;
using testsupport::LoopbackServer;
using testsupport::WaitUntil;

namespace {

constexpr unsigned kSocketMessage = platform::WM_USER + 1;
constexpr unsigned kLookupMessage = platform::WM_USER + 3;

struct Notice {
    unsigned message;
    platform::WPARAM wParam;
    int event;
    int error;
};

// A notification window that records what it is sent.
struct Inbox {
    std::vector<Notice> notices;
    platform::NotifyWindow window{[this](unsigned m, platform::WPARAM w, platform::LPARAM l) {
        notices.push_back({m, w, ws::WSAGETSELECTEVENT(l), ws::WSAGETSELECTERROR(l)});
        return platform::LRESULT{0};
    }};

    int Count(long event) const
    {
        int n = 0;
        for (const Notice& notice : notices)
            n += notice.message == kSocketMessage && notice.event == event;
        return n;
    }
    bool WaitFor(long event, int count = 1)
    {
        return WaitUntil([&] { return Count(event) >= count; });
    }
};

ws::sockaddr_in Loopback(unsigned short port)
{
    ws::sockaddr_in address{};
    address.sin_family = ws::AF_INET;
    address.sin_port = ws::htons(port);
    address.sin_addr.s_addr = ws::inet_addr("127.0.0.1");
    return address;
}

class WinSockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ws::WSADATA data;
        ASSERT_EQ(ws::WSAStartup(0x0101, &data), 0);
    }
    void TearDown() override
    {
        if (socket != ws::INVALID_SOCKET)
            ws::closesocket(socket);
        ws::WSACleanup();
    }

    // Opens a selected, connecting socket; the server side is in `peer` once
    // the connect notice has arrived.
    void ConnectTo(unsigned short port, long events = ws::FD_READ | ws::FD_WRITE | ws::FD_CONNECT | ws::FD_CLOSE)
    {
        socket = ws::socket(ws::AF_INET, ws::SOCK_STREAM, ws::IPPROTO_IP);
        ASSERT_NE(socket, ws::INVALID_SOCKET);
        ASSERT_EQ(ws::WSAAsyncSelect(socket, inbox.window.Handle(), kSocketMessage, events), 0);
        const ws::sockaddr_in address = Loopback(port);
        ASSERT_EQ(ws::connect(socket, reinterpret_cast<const ws::sockaddr*>(&address), sizeof address),
                  ws::SOCKET_ERROR);
        ASSERT_EQ(ws::WSAGetLastError(), ws::WSAEWOULDBLOCK);
    }

    void ConnectToServer()
    {
        ConnectTo(server.Port());
        peer = server.Accept();
        ASSERT_TRUE(peer.Valid());
        ASSERT_TRUE(inbox.WaitFor(ws::FD_CONNECT));
    }

    std::string ReadAll()
    {
        ws::u_long waiting = 0;
        EXPECT_EQ(ws::ioctlsocket(socket, ws::FIONREAD, &waiting), 0);
        std::string data(waiting, '\0');
        const int n = ws::recv(socket, data.data(), static_cast<int>(waiting), 0);
        data.resize(n > 0 ? n : 0);
        return data;
    }

    Inbox inbox;
    LoopbackServer server;
    LoopbackPeer peer;
    ws::SOCKET socket = ws::INVALID_SOCKET;
};

} // namespace

TEST_F(WinSockTest, ConnectNoticeCarriesHandleAndIsFollowedByOneWriteNotice)
{
    ConnectToServer();
    ASSERT_TRUE(inbox.WaitFor(ws::FD_WRITE));
    testsupport::Pump(50);
    ASSERT_GE(inbox.notices.size(), 2u);
    EXPECT_EQ(inbox.notices[0].event, ws::FD_CONNECT);
    EXPECT_EQ(inbox.notices[0].error, 0);
    EXPECT_EQ(inbox.notices[0].wParam, socket);
    EXPECT_EQ(inbox.notices[1].event, ws::FD_WRITE);
    EXPECT_EQ(inbox.Count(ws::FD_CONNECT), 1);
    EXPECT_EQ(inbox.Count(ws::FD_WRITE), 1);

    ws::sockaddr_in seen{};
    int length = sizeof seen;
    ASSERT_EQ(ws::getpeername(socket, reinterpret_cast<ws::sockaddr*>(&seen), &length), 0);
    EXPECT_EQ(ws::ntohs(seen.sin_port), server.Port());
    EXPECT_STREQ(ws::inet_ntoa(seen.sin_addr), "127.0.0.1");
}

TEST_F(WinSockTest, RefusedConnectIsReportedByNoticeNotByConnect)
{
    ConnectTo(LoopbackServer::ClosedPort());
    ASSERT_TRUE(inbox.WaitFor(ws::FD_CONNECT));
    testsupport::Pump(50);
    EXPECT_EQ(inbox.notices.front().error, ws::WSAECONNREFUSED);
    EXPECT_EQ(inbox.Count(ws::FD_WRITE), 0);
    EXPECT_EQ(inbox.Count(ws::FD_CLOSE), 0);
    EXPECT_FALSE(ws::ErrorText(ws::WSAECONNREFUSED).empty());
}

TEST_F(WinSockTest, ReadNoticeIsNotRepeatedUntilRecvAndRepeatedWhileDataRemains)
{
    ConnectToServer();
    ASSERT_TRUE(peer.Send(std::string(100, 'a')));
    ASSERT_TRUE(inbox.WaitFor(ws::FD_READ));
    ASSERT_TRUE(peer.Send(std::string(100, 'b')));
    testsupport::Pump(100);
    EXPECT_EQ(inbox.Count(ws::FD_READ), 1);

    char part[30];
    ASSERT_EQ(ws::recv(socket, part, sizeof part, 0), 30);
    ASSERT_TRUE(inbox.WaitFor(ws::FD_READ, 2));
    const std::string rest = ReadAll();
    EXPECT_EQ(rest.size(), 170u);
    EXPECT_EQ(rest.back(), 'b');
}

TEST_F(WinSockTest, OrderlyCloseIsNoticedOnlyAfterEveryReceivedByteWasRead)
{
    ConnectToServer();
    ASSERT_TRUE(peer.Send("last words"));
    peer.Close();
    ASSERT_TRUE(inbox.WaitFor(ws::FD_READ));
    testsupport::Pump(100);
    EXPECT_EQ(inbox.Count(ws::FD_CLOSE), 0) << "close would overtake unread data";

    EXPECT_EQ(ReadAll(), "last words");
    ASSERT_TRUE(inbox.WaitFor(ws::FD_CLOSE));
    testsupport::Pump(50);
    EXPECT_EQ(inbox.Count(ws::FD_CLOSE), 1);
    EXPECT_EQ(inbox.notices.back().error, 0);
}

// Guards a low-water mark that loses or strands data: bytes below the mark
// must still be read once more arrive, and a close must never wait for it.
TEST_F(WinSockTest, LowWaterMarkHoldsReadNoticeUntilThatManyBytesButNeverTheClose)
{
    ConnectToServer();
    const int mark = 1000;
    ASSERT_EQ(ws::setsockopt(socket, ws::SOL_SOCKET, ws::SO_RCVLOWAT, reinterpret_cast<const char*>(&mark), sizeof mark), 0);
    int seen = 0;
    int length = sizeof seen;
    ASSERT_EQ(ws::getsockopt(socket, ws::SOL_SOCKET, ws::SO_RCVLOWAT, reinterpret_cast<char*>(&seen), &length), 0);
    EXPECT_EQ(seen, mark);

    ASSERT_TRUE(peer.Send(std::string(600, 'a')));
    testsupport::Pump(150);
    EXPECT_EQ(inbox.Count(ws::FD_READ), 0) << "read notice came before the mark was reached";
    ASSERT_TRUE(peer.Send(std::string(600, 'b')));
    ASSERT_TRUE(inbox.WaitFor(ws::FD_READ));
    const std::string first = ReadAll();
    ASSERT_EQ(first.size(), 1200u);
    EXPECT_EQ(first.front(), 'a');
    EXPECT_EQ(first.back(), 'b');

    ASSERT_TRUE(peer.Send("tail below the mark"));
    peer.Close();
    ASSERT_TRUE(inbox.WaitFor(ws::FD_READ, 2)) << "bytes below the mark were stranded by the close";
    EXPECT_EQ(ReadAll(), "tail below the mark");
    ASSERT_TRUE(inbox.WaitFor(ws::FD_CLOSE));
}

TEST_F(WinSockTest, ResetByPeerIsCloseNoticeWithResetCode)
{
    ConnectToServer();
    peer.Reset();
    ASSERT_TRUE(inbox.WaitFor(ws::FD_CLOSE));
    testsupport::Pump(50);
    EXPECT_EQ(inbox.Count(ws::FD_CLOSE), 1);
    EXPECT_EQ(inbox.notices.back().error, ws::WSAECONNRESET);
}

TEST_F(WinSockTest, WriteNoticeFollowsSendThatWouldBlock)
{
    ConnectToServer();
    ASSERT_TRUE(inbox.WaitFor(ws::FD_WRITE));
    const std::string chunk(65536, 'x');
    size_t queued = 0;
    int result = 0;
    while ((result = ws::send(socket, chunk.data(), static_cast<int>(chunk.size()), 0)) > 0)
        queued += static_cast<size_t>(result);
    ASSERT_EQ(ws::WSAGetLastError(), ws::WSAEWOULDBLOCK);
    EXPECT_EQ(inbox.Count(ws::FD_WRITE), 1);

    EXPECT_EQ(peer.Receive(queued).size(), queued);
    ASSERT_TRUE(inbox.WaitFor(ws::FD_WRITE, 2));
}

TEST_F(WinSockTest, CancelledSelectionPostsNothingAndBlocksAgainOnlyWhenAsked)
{
    ConnectToServer();
    ws::u_long blocking = 0;
    EXPECT_EQ(ws::ioctlsocket(socket, ws::FIONBIO, &blocking), ws::SOCKET_ERROR) << "selected sockets stay non-blocking";
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEINVAL);
    ASSERT_EQ(ws::WSAAsyncSelect(socket, 0, 0, 0), 0);
    const size_t before = inbox.notices.size();
    ASSERT_TRUE(peer.Send("ignored"));
    testsupport::Pump(100);
    EXPECT_EQ(inbox.notices.size(), before);
    EXPECT_EQ(ws::ioctlsocket(socket, ws::FIONBIO, &blocking), 0);
}

TEST_F(WinSockTest, HandlesAreNeverReusedAndClosedHandlesAreRejected)
{
    const ws::SOCKET first = ws::socket(ws::AF_INET, ws::SOCK_STREAM, ws::IPPROTO_IP);
    ASSERT_EQ(ws::closesocket(first), 0);
    const ws::SOCKET second = ws::socket(ws::AF_INET, ws::SOCK_STREAM, ws::IPPROTO_IP);
    EXPECT_NE(first, second);
    char byte;
    EXPECT_EQ(ws::recv(first, &byte, 1, 0), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOTSOCK);
    EXPECT_EQ(ws::closesocket(first), ws::SOCKET_ERROR);
    ws::closesocket(second);
    EXPECT_EQ(ws::socket(99, ws::SOCK_STREAM, 0), ws::INVALID_SOCKET);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEAFNOSUPPORT);
}

TEST_F(WinSockTest, LingerAndNoDelayOptionsRoundTrip)
{
    socket = ws::socket(ws::AF_INET, ws::SOCK_STREAM, ws::IPPROTO_IP);
    const ws::linger hard{1, 0};
    ASSERT_EQ(ws::setsockopt(socket, ws::SOL_SOCKET, ws::SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard), 0);
    ws::linger seen{};
    int length = sizeof seen;
    ASSERT_EQ(ws::getsockopt(socket, ws::SOL_SOCKET, ws::SO_LINGER, reinterpret_cast<char*>(&seen), &length), 0);
    EXPECT_EQ(seen.l_onoff, 1);
    EXPECT_EQ(seen.l_linger, 0);
    const int on = 1;
    EXPECT_EQ(ws::setsockopt(socket, ws::IPPROTO_TCP, ws::TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on), 0);
    EXPECT_EQ(ws::setsockopt(socket, 12345, 1, reinterpret_cast<const char*>(&on), sizeof on), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOPROTOOPT);
}

TEST(WinSockAddress, DottedTextAndByteOrder)
{
    EXPECT_EQ(ws::inet_addr("1.2.3.4"), 0x04030201u);
    EXPECT_EQ(ws::inet_addr("1.2.3.256"), ws::INADDR_NONE);
    EXPECT_EQ(ws::inet_addr("host"), ws::INADDR_NONE);
    EXPECT_EQ(ws::htons(0x1234), 0x3412);
    EXPECT_EQ(ws::WSAMAKESELECTREPLY(ws::FD_CLOSE, ws::WSAECONNRESET) >> 16, ws::WSAECONNRESET);
}

TEST(WinSockErrors, SystemCodesMapToWinSockNumbers)
{
    EXPECT_FALSE(ws::ErrorText(ws::WSAHOST_NOT_FOUND).empty());
    EXPECT_TRUE(ws::ErrorText(1110).empty());
    EXPECT_EQ(ws::WSACleanup(), ws::SOCKET_ERROR) << "cleanup without startup";
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSANOTINITIALISED);
}

// Lookups ---------------------------------------------------------------------

namespace {

struct LookupAnswer {
    ws::HANDLE task = 0;
    int error = -1;
    int length = 0;
};

struct LookupInbox {
    std::vector<LookupAnswer> answers;
    platform::NotifyWindow window{[this](unsigned, platform::WPARAM w, platform::LPARAM l) {
        answers.push_back({w, ws::WSAGETASYNCERROR(l), ws::WSAGETASYNCBUFLEN(l)});
        return platform::LRESULT{0};
    }};
    const LookupAnswer* For(ws::HANDLE task) const
    {
        for (const LookupAnswer& a : answers)
            if (a.task == task)
                return &a;
        return nullptr;
    }
};

} // namespace

TEST(WinSockLookup, HostAnswerIsWrittenToBufferAndPosted)
{
    LookupInbox inbox;
    alignas(ws::hostent) char buffer[ws::MAXGETHOSTSTRUCT] = {};
    const ws::HANDLE task = ws::WSAAsyncGetHostByName(inbox.window.Handle(), kLookupMessage, "127.0.0.1", buffer, sizeof buffer);
    ASSERT_NE(task, 0u);
    ASSERT_TRUE(WaitUntil([&] { return inbox.For(task) != nullptr; }));
    EXPECT_EQ(inbox.For(task)->error, 0);
    const auto* host = reinterpret_cast<const ws::hostent*>(buffer);
    EXPECT_EQ(host->h_length, 4);
    ASSERT_NE(host->h_addr_list[0], nullptr);
    std::uint32_t address;
    std::memcpy(&address, host->h_addr_list[0], 4);
    EXPECT_EQ(address, ws::inet_addr("127.0.0.1"));
    EXPECT_LE(inbox.For(task)->length, static_cast<int>(sizeof buffer));
}

TEST(WinSockLookup, UnknownHostAndTooSmallBufferAreErrors)
{
    LookupInbox inbox;
    char buffer[ws::MAXGETHOSTSTRUCT];
    const ws::HANDLE unknown = ws::WSAAsyncGetHostByName(inbox.window.Handle(), kLookupMessage, "no-such-host.invalid", buffer, sizeof buffer);
    char tiny[8];
    const ws::HANDLE small = ws::WSAAsyncGetHostByName(inbox.window.Handle(), kLookupMessage, "127.0.0.1", tiny, sizeof tiny);
    ASSERT_TRUE(WaitUntil([&] { return inbox.For(unknown) && inbox.For(small); }, 15000));
    EXPECT_GE(inbox.For(unknown)->error, ws::WSAHOST_NOT_FOUND);
    EXPECT_LE(inbox.For(unknown)->error, ws::WSANO_DATA);
    EXPECT_EQ(inbox.For(small)->error, ws::WSAENOBUFS);
    EXPECT_GT(inbox.For(small)->length, static_cast<int>(sizeof tiny));
}

// A cancel races the lookup's helper thread, so a request may already be
// answered when its cancel comes; that is no fault. What must hold: once the
// cancel returns the buffer is never written again, and a request is answered
// exactly when its buffer was written. Many requests make sure that some are
// still pending when cancelled, however the threads are scheduled.
TEST(WinSockLookup, CancelledRequestNeitherWritesBufferNorAnswers)
{
    constexpr int kRequests = 50;
    LookupInbox inbox;
    std::vector<std::vector<char>> buffers(kRequests, std::vector<char>(ws::MAXGETHOSTSTRUCT, '\x5a'));
    std::vector<std::vector<char>> atCancel;
    std::vector<ws::HANDLE> tasks;
    for (std::vector<char>& b : buffers) {
        const ws::HANDLE task = ws::WSAAsyncGetHostByName(inbox.window.Handle(), kLookupMessage, "127.0.0.1",
                                                          b.data(), ws::MAXGETHOSTSTRUCT);
        ASSERT_EQ(ws::WSACancelAsyncRequest(task), 0);
        tasks.push_back(task);
        atCancel.push_back(b);
    }
    char buffer[ws::MAXGETHOSTSTRUCT];
    const ws::HANDLE later = ws::WSAAsyncGetHostByName(inbox.window.Handle(), kLookupMessage, "127.0.0.1", buffer, sizeof buffer);
    ASSERT_TRUE(WaitUntil([&] { return inbox.For(later) != nullptr; }));
    testsupport::Pump(100);

    int cancelledInTime = 0;
    for (int i = 0; i < kRequests; ++i) {
        const bool untouched = std::count(atCancel[i].begin(), atCancel[i].end(), '\x5a') == ws::MAXGETHOSTSTRUCT;
        EXPECT_EQ(buffers[i], atCancel[i]) << "request " << i << " was written after its cancel returned";
        EXPECT_EQ(inbox.For(tasks[i]) != nullptr, !untouched) << "request " << i;
        cancelledInTime += untouched;
    }
    EXPECT_GT(cancelledInTime, 0) << "no request was still pending when cancelled";
    EXPECT_EQ(ws::WSACancelAsyncRequest(later), 0) << "cancelling an answered request is harmless";
    EXPECT_EQ(ws::WSACancelAsyncRequest(~ws::HANDLE(0)), ws::SOCKET_ERROR);
}

TEST(WinSockLookup, BlockingLookupsFindLoopbackAndServices)
{
    const ws::hostent* host = ws::gethostbyname("127.0.0.1");
    ASSERT_NE(host, nullptr);
    std::uint32_t address;
    std::memcpy(&address, host->h_addr_list[0], 4);
    EXPECT_EQ(address, ws::inet_addr("127.0.0.1"));
    const ws::protoent* tcp = ws::getprotobyname("tcp");
    ASSERT_NE(tcp, nullptr);
    EXPECT_EQ(tcp->p_proto, ws::IPPROTO_TCP);
    EXPECT_EQ(ws::getservbyname("no-such-service", "tcp"), nullptr);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSANO_DATA);
}
