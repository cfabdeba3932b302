// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/LoopbackServer.h"

#include "tests/support/EventLoop.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace testsupport {

namespace {

bool PollPumping(int fd, short events, int timeoutMs = 5000)
{
    return WaitUntil([&] {
        pollfd p{fd, events, 0};
        return ::poll(&p, 1, 0) > 0;
    }, timeoutMs);
}

} // namespace

LoopbackPeer& LoopbackPeer::operator=(LoopbackPeer&& other) noexcept
{
    std::swap(m_fd, other.m_fd);
    return *this;
}

bool LoopbackPeer::Send(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EAGAIN && PollPumping(m_fd, POLLOUT))
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

size_t LoopbackPeer::Waiting() const
{
    int waiting = 0;
    return ::ioctl(m_fd, FIONREAD, &waiting) == 0 && waiting > 0 ? static_cast<size_t>(waiting) : 0;
}

std::string LoopbackPeer::Receive(size_t count, int timeoutMs)
{
    std::string got;
    while (got.size() < count && PollPumping(m_fd, POLLIN, timeoutMs)) {
        char buffer[65536];
        const ssize_t n = ::recv(m_fd, buffer, std::min(sizeof buffer, count - got.size()), MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN))
            break;
        if (n > 0)
            got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

bool LoopbackPeer::WaitForClose(int timeoutMs)
{
    return WaitUntil([&] {
        char buffer[4096];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        return n == 0 || (n < 0 && errno != EAGAIN);
    }, timeoutMs);
}

void LoopbackPeer::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void LoopbackPeer::Reset()
{
    const linger hard{1, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    Close();
}

LoopbackServer::LoopbackServer()
{
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(m_fd, 8);
    socklen_t length = sizeof address;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
}

LoopbackServer::~LoopbackServer() { ::close(m_fd); }

LoopbackPeer LoopbackServer::Accept(int timeoutMs)
{
    if (!PollPumping(m_fd, POLLIN, timeoutMs))
        return LoopbackPeer();
    return LoopbackPeer(::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
}

unsigned short LoopbackServer::ClosedPort()
{
    LoopbackServer probe;
    return probe.Port();
}

} // namespace testsupport
