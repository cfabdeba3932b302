// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestSocket.h"

#include "tests/support/LoopbackSocket.h"
#include "wire/StreamRecords.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

TestSocket::TestSocket(unsigned short port, int receiveBuffer)
    : fd_(testsupport::ConnectLoopback(port, testsupport::ConnectOptions().ReceiveBuffer(receiveBuffer)))
{
}

TestSocket::~TestSocket()
{
    if (fd_ >= 0)
        ::close(fd_);
}

TestSocket::TestSocket(TestSocket&& other) noexcept
    : fd_(other.fd_), closedByPeer_(other.closedByPeer_)
{
    other.fd_ = -1;
}

bool TestSocket::Send(std::string_view bytes)
{
    return testsupport::SendAll(fd_, bytes);
}

bool TestSocket::ListenForStream(std::string& header, std::chrono::milliseconds timeout)
{
    return Send(wire::StreamGreeting) && ReceiveExactly(header, sizeof(TStreamHeader), timeout) == sizeof(TStreamHeader);
}

long TestSocket::ReceiveSome(std::string& out, std::size_t max, Clock::time_point deadline)
{
    if (fd_ < 0 || closedByPeer_)
        return 0;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{fd_, POLLIN, 0};
    if (left <= 0 || ::poll(&p, 1, int(left)) <= 0)
        return -1;
    char chunk[65536];
    const ssize_t n = ::recv(fd_, chunk, std::min(max, sizeof chunk), 0);
    if (n <= 0) {
        closedByPeer_ = true;
        return 0;
    }
    out.append(chunk, std::size_t(n));
    return n;
}

std::size_t TestSocket::ReceiveExactly(std::string& out, std::size_t count, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    std::size_t got = 0;
    while (got < count) {
        const long n = ReceiveSome(out, count - got, deadline);
        if (n <= 0)
            break;
        got += std::size_t(n);
    }
    return got;
}

std::size_t TestSocket::ReceiveFor(std::string& out, std::chrono::milliseconds duration)
{
    const auto deadline = Clock::now() + duration;
    std::size_t got = 0;
    for (long n; (n = ReceiveSome(out, 65536, deadline)) > 0;)
        got += std::size_t(n);
    return got;
}

bool TestSocket::WaitForClose(std::chrono::milliseconds timeout)
{
    std::string ignored;
    const auto deadline = Clock::now() + timeout;
    while (!closedByPeer_) {
        ignored.clear();
        if (ReceiveSome(ignored, 65536, deadline) < 0)
            return false;
    }
    return true;
}

std::string TestSocket::ReceiveAll(std::chrono::milliseconds timeout)
{
    std::string out;
    const auto deadline = Clock::now() + timeout;
    while (ReceiveSome(out, 65536, deadline) > 0) {
    }
    return out;
}
