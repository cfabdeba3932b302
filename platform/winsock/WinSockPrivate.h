// SPDX-License-Identifier: GPL-3.0-or-later
// Shared by the layer's implementation files only.
//
// WinSock and POSIX use many of the same constant names, and POSIX defines
// them as macros. This header takes our values under private names first and
// only then brings in the system headers, so the implementation can use both.
#pragma once

#include "platform/winsock/WinSock.h"

namespace platform::winsock::detail {

constexpr int kAfInet = AF_INET;
constexpr int kSockStream = SOCK_STREAM;
constexpr int kSockDgram = SOCK_DGRAM;
constexpr int kIpprotoIp = IPPROTO_IP;
constexpr int kIpprotoTcp = IPPROTO_TCP;
constexpr int kIpprotoUdp = IPPROTO_UDP;
constexpr int kSolSocket = SOL_SOCKET;
constexpr int kSoReuseAddr = SO_REUSEADDR;
constexpr int kSoKeepAlive = SO_KEEPALIVE;
constexpr int kSoLinger = SO_LINGER;
constexpr int kSoSndBuf = SO_SNDBUF;
constexpr int kSoRcvBuf = SO_RCVBUF;
constexpr int kSoRcvLowAt = SO_RCVLOWAT;
constexpr int kSoError = SO_ERROR;
constexpr int kTcpNoDelay = TCP_NODELAY;
constexpr long kFionRead = FIONREAD;
constexpr long kFionBio = FIONBIO;
constexpr std::uint32_t kInaddrNone = INADDR_NONE;

// errno and getaddrinfo results as WinSock codes (one table, in ErrorMap.cpp).
int FromErrno(int error);
int FromEai(int error, int savedErrno);

// Sets the calling thread's last error from errno and returns SOCKET_ERROR.
int FailFromErrno();
int Fail(int wsaError);

// Writes a hostent for one name and its IPv4 addresses (network order) into
// buffer; returns the bytes needed (more than length when it did not fit).
int PackHostEnt(char* buffer, int length, const std::string& name, const std::uint32_t* addresses, int count);
int PackServEnt(char* buffer, int length, const std::string& name, std::uint16_t portNetOrder,
                const std::string& protocol);

} // namespace platform::winsock::detail

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
