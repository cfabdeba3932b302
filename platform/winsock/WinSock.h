// SPDX-License-Identifier: GPL-3.0-or-later
// WinSock-1.1-style TCP sockets over POSIX, with asynchronous notices to a
// platform::NotifyWindow.
//
// Threading: every call is made on the GUI thread, which is also where the
// layer watches its file descriptors (QSocketNotifier) and where selected
// network events are turned into posted messages. Asynchronous name lookups
// run on helper threads inside this layer; they only write the caller's
// buffer and post the answer, and a cancelled lookup does neither.
//
// Socket handles are never reused, so a notice that names a closed socket can
// never be mistaken for one about a newer socket. Error codes are WinSock's
// numbers on every platform; errno and getaddrinfo codes are mapped once.
#pragma once

#include "platform/core/NotifyWindow.h"

#include <cstdint>
#include <string>

namespace platform::winsock {

using SOCKET = std::uintptr_t;
using HANDLE = std::uintptr_t;
using u_long = std::uint32_t;

constexpr SOCKET INVALID_SOCKET = ~SOCKET(0);
constexpr int SOCKET_ERROR = -1;

// Address families, types, protocols.
constexpr int AF_INET = 2;
constexpr int SOCK_STREAM = 1;
constexpr int SOCK_DGRAM = 2;
constexpr int IPPROTO_IP = 0;
constexpr int IPPROTO_TCP = 6;
constexpr int IPPROTO_UDP = 17;

constexpr std::uint32_t INADDR_ANY = 0x00000000;
constexpr std::uint32_t INADDR_LOOPBACK = 0x7f000001;
constexpr std::uint32_t INADDR_NONE = 0xffffffff;

// Socket options.
constexpr int SOL_SOCKET = 0xffff;
constexpr int SO_REUSEADDR = 0x0004;
constexpr int SO_KEEPALIVE = 0x0008;
constexpr int SO_LINGER = 0x0080;
constexpr int SO_SNDBUF = 0x1001;
constexpr int SO_RCVBUF = 0x1002;
constexpr int SO_RCVLOWAT = 0x1004;
constexpr int SO_ERROR = 0x1007;
constexpr int TCP_NODELAY = 0x0001;

// ioctlsocket commands.
constexpr long FIONREAD = 0x4004667F;
constexpr long FIONBIO = static_cast<long>(0x8004667EL);

// shutdown directions.
constexpr int SD_RECEIVE = 0;
constexpr int SD_SEND = 1;
constexpr int SD_BOTH = 2;

// Network events of WSAAsyncSelect.
constexpr long FD_READ = 0x01;
constexpr long FD_WRITE = 0x02;
constexpr long FD_OOB = 0x04;
constexpr long FD_ACCEPT = 0x08;
constexpr long FD_CONNECT = 0x10;
constexpr long FD_CLOSE = 0x20;

constexpr int MAXGETHOSTSTRUCT = 1024;

// Error codes.
constexpr int WSABASEERR = 10000;
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEDESTADDRREQ = 10039;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTOTYPE = 10041;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEPFNOSUPPORT = 10046;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETOOMANYREFS = 10059;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAELOOP = 10062;
constexpr int WSAENAMETOOLONG = 10063;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSAENOTEMPTY = 10066;
constexpr int WSAEPROCLIM = 10067;
constexpr int WSAEUSERS = 10068;
constexpr int WSAEDQUOT = 10069;
constexpr int WSAESTALE = 10070;
constexpr int WSAEREMOTE = 10071;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSATYPE_NOT_FOUND = 10109;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

// Records. Layout follows WinSock where the bytes matter (sockaddr_in is 16
// bytes, multi-byte fields in network order); the lookup records hold native
// pointers into the buffer they were written to.
struct in_addr {
    std::uint32_t s_addr; // network byte order
};

struct sockaddr {
    std::uint16_t sa_family;
    char sa_data[14];
};

struct sockaddr_in {
    std::int16_t sin_family;
    std::uint16_t sin_port; // network byte order
    in_addr sin_addr;
    char sin_zero[8];
};
static_assert(sizeof(sockaddr_in) == 16);

struct linger {
    std::uint16_t l_onoff;
    std::uint16_t l_linger; // seconds
};

struct hostent {
    char* h_name;
    char** h_aliases;
    std::int16_t h_addrtype;
    std::int16_t h_length;
    char** h_addr_list; // each entry points at 4 bytes in network order
};

struct servent {
    char* s_name;
    char** s_aliases;
    std::int16_t s_port; // network byte order
    char* s_proto;
};

struct protoent {
    char* p_name;
    char** p_aliases;
    std::int16_t p_proto;
};

struct WSADATA {
    std::uint16_t wVersion;
    std::uint16_t wHighVersion;
    char szDescription[257];
    char szSystemStatus[129];
    std::uint16_t iMaxSockets;
    std::uint16_t iMaxUdpDg;
    char* lpVendorInfo;
};

// Start and end, last error.
int WSAStartup(std::uint16_t versionRequested, WSADATA* data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

// Sockets. Results and failures as in WinSock: SOCKET_ERROR (or
// INVALID_SOCKET) with the code in WSAGetLastError().
SOCKET socket(int af, int type, int protocol);
int closesocket(SOCKET s);
int connect(SOCKET s, const sockaddr* name, int nameLength);
int bind(SOCKET s, const sockaddr* name, int nameLength);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr* address, int* addressLength);
int send(SOCKET s, const char* buffer, int length, int flags);
int recv(SOCKET s, char* buffer, int length, int flags);
int shutdown(SOCKET s, int how);
int setsockopt(SOCKET s, int level, int name, const char* value, int length);
int getsockopt(SOCKET s, int level, int name, char* value, int* length);
int ioctlsocket(SOCKET s, long command, u_long* argument);
int getpeername(SOCKET s, sockaddr* name, int* nameLength);
int getsockname(SOCKET s, sockaddr* name, int* nameLength);

// Addresses and byte order.
std::uint32_t inet_addr(const char* text);
char* inet_ntoa(in_addr address); // per-thread buffer, overwritten by the next call

constexpr std::uint16_t htons(std::uint16_t v) { return static_cast<std::uint16_t>((v << 8) | (v >> 8)); }
constexpr std::uint16_t ntohs(std::uint16_t v) { return htons(v); }
constexpr std::uint32_t htonl(std::uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0x0000ff00u) | ((v << 8) & 0x00ff0000u) | (v << 24);
}
constexpr std::uint32_t ntohl(std::uint32_t v) { return htonl(v); }

// Blocking lookups, IPv4 only. The records live in a per-thread buffer that
// the next lookup of the same kind overwrites; nullptr with the last error set
// when nothing was found.
hostent* gethostbyname(const char* name);
servent* getservbyname(const char* name, const char* protocol);
protoent* getprotobyname(const char* name);

// Asynchronous notices: each selected network event arrives as `message` at
// `window` with wParam = the socket and lParam = event | error << 16. An
// empty event set (or window 0) stops the notices; the socket stays
// non-blocking until ioctlsocket(FIONBIO, 0).
//
// Re-enabling follows WinSock: after FD_READ no further FD_READ until the
// next recv; FD_WRITE once after the connect and then only after a send that
// would block; FD_ACCEPT again after accept; one FD_CONNECT carrying the
// connect result; one FD_CLOSE, 0 for an orderly close and the reset or abort
// code otherwise. FD_CLOSE is held back while received data is still waiting,
// so no received byte is ever lost to it.
int WSAAsyncSelect(SOCKET s, HWND window, unsigned message, long events);

// Asynchronous lookups on a helper thread. The answer is written to `buffer`
// (a hostent / servent followed by its data) and posted as `message` with
// wParam = the task handle and lParam = needed buffer length | error << 16.
// The result is a task handle, never 0 on success; 0 with the last error set
// when the request could not be started.
HANDLE WSAAsyncGetHostByName(HWND window, unsigned message, const char* name, char* buffer, int bufferLength);
HANDLE WSAAsyncGetServByName(HWND window, unsigned message, const char* name, const char* protocol, char* buffer,
                             int bufferLength);
// Once this returns 0 the buffer is no longer touched and no answer is
// posted. A request that has already answered can be cancelled harmlessly.
int WSACancelAsyncRequest(HANDLE task);

// Message parameter helpers.
constexpr LPARAM WSAMAKESELECTREPLY(int event, int error) { return static_cast<LPARAM>((event & 0xffff) | (error << 16)); }
constexpr int WSAGETSELECTEVENT(LPARAM lParam) { return static_cast<int>(lParam & 0xffff); }
constexpr int WSAGETSELECTERROR(LPARAM lParam) { return static_cast<int>((lParam >> 16) & 0xffff); }
constexpr int WSAGETASYNCBUFLEN(LPARAM lParam) { return static_cast<int>(lParam & 0xffff); }
constexpr int WSAGETASYNCERROR(LPARAM lParam) { return static_cast<int>((lParam >> 16) & 0xffff); }

// The system's message text for a WinSock code; empty when it has none.
std::string ErrorText(int code);

} // namespace platform::winsock
