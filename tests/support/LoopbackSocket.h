// SPDX-License-Identifier: GPL-3.0-or-later
// Plain sockets on 127.0.0.1 for tests and benchmarks that drive them
// themselves: a client connection, a blocking TCP socket whose descriptor the
// caller owns (close-on-exec, so the servers the test starts do not inherit
// it) with what must be set before connecting set here, and whole sends on
// any connected descriptor. Any thread.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string_view>

namespace testsupport {

struct ConnectOptions {
    int receiveBuffer = 0;     // > 0: the kernel's receive buffer, so that a slow reader backs up at once
    bool arrivalTimes = false; // the kernel stamps what arrives (SO_TIMESTAMPNS)
    std::string_view greeting; // sent whole once connected

    ConnectOptions& ReceiveBuffer(int bytes) { receiveBuffer = bytes; return *this; }
    ConnectOptions& ArrivalTimes() { arrivalTimes = true; return *this; }
    ConnectOptions& Greeting(std::string_view bytes) { greeting = bytes; return *this; }
};

// The connected descriptor, or -1 when the socket, an option, the connect or
// the greeting failed.
inline int ConnectLoopback(unsigned short port, const ConnectOptions& options = {})
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok =
        (options.receiveBuffer <= 0
         || ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &options.receiveBuffer, sizeof options.receiveBuffer) == 0)
        && (!options.arrivalTimes || ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) == 0)
        && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0
        && (options.greeting.empty()
            || ::send(fd, options.greeting.data(), options.greeting.size(), MSG_NOSIGNAL)
                   == ssize_t(options.greeting.size()));
    if (!ok) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Sends all of `bytes` on a blocking descriptor; false once the peer is gone.
inline bool SendAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        bytes.remove_prefix(std::size_t(n));
    }
    return true;
}

} // namespace testsupport
