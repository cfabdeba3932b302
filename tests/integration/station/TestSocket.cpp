// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

TestSocket::TestSocket(unsigned short port, int receiveBuffer)
{
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0)
        return;
    if (receiveBuffer > 0)
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
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
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        bytes.remove_prefix(std::size_t(n));
    }
    return true;
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
