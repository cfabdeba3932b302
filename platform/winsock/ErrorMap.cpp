// SPDX-License-Identifier: GPL-3.0-or-later
// The one translation between system error numbers and WinSock codes, and the
// per-thread last error. Pure functions; any thread.
#include "platform/winsock/WinSockPrivate.h"

#include <cstring>
#include <iterator>

namespace platform::winsock {

namespace {

enum class Source { Errno, Eai };

struct Mapping {
    Source source;
    int system;
    int wsa;
};

// The first entry for a WinSock code is the one whose text describes it.
// Several system codes share a WinSock code: a non-blocking connect reports
// EINPROGRESS where WinSock reports WSAEWOULDBLOCK, and a send into a closed
// connection (EPIPE) is a reset to a WinSock caller.
constexpr Mapping kMappings[] = {
    {Source::Errno, EINTR, WSAEINTR},
    {Source::Errno, EBADF, WSAEBADF},
    {Source::Errno, EACCES, WSAEACCES},
    {Source::Errno, EFAULT, WSAEFAULT},
    {Source::Errno, EINVAL, WSAEINVAL},
    {Source::Errno, EMFILE, WSAEMFILE},
    {Source::Errno, ENFILE, WSAEMFILE},
    {Source::Errno, EWOULDBLOCK, WSAEWOULDBLOCK},
    {Source::Errno, EAGAIN, WSAEWOULDBLOCK},
    {Source::Errno, EINPROGRESS, WSAEWOULDBLOCK},
    {Source::Errno, EALREADY, WSAEALREADY},
    {Source::Errno, ENOTSOCK, WSAENOTSOCK},
    {Source::Errno, EDESTADDRREQ, WSAEDESTADDRREQ},
    {Source::Errno, EMSGSIZE, WSAEMSGSIZE},
    {Source::Errno, EPROTOTYPE, WSAEPROTOTYPE},
    {Source::Errno, ENOPROTOOPT, WSAENOPROTOOPT},
    {Source::Errno, EPROTONOSUPPORT, WSAEPROTONOSUPPORT},
    {Source::Errno, ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
    {Source::Errno, EOPNOTSUPP, WSAEOPNOTSUPP},
    {Source::Errno, EPFNOSUPPORT, WSAEPFNOSUPPORT},
    {Source::Errno, EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {Source::Errno, EADDRINUSE, WSAEADDRINUSE},
    {Source::Errno, EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
    {Source::Errno, ENETDOWN, WSAENETDOWN},
    {Source::Errno, ENETUNREACH, WSAENETUNREACH},
    {Source::Errno, ENETRESET, WSAENETRESET},
    {Source::Errno, ECONNABORTED, WSAECONNABORTED},
    {Source::Errno, ECONNRESET, WSAECONNRESET},
    {Source::Errno, EPIPE, WSAECONNRESET},
    {Source::Errno, ENOBUFS, WSAENOBUFS},
    {Source::Errno, ENOMEM, WSAENOBUFS},
    {Source::Errno, EISCONN, WSAEISCONN},
    {Source::Errno, ENOTCONN, WSAENOTCONN},
    {Source::Errno, ESHUTDOWN, WSAESHUTDOWN},
    {Source::Errno, ETOOMANYREFS, WSAETOOMANYREFS},
    {Source::Errno, ETIMEDOUT, WSAETIMEDOUT},
    {Source::Errno, ECONNREFUSED, WSAECONNREFUSED},
    {Source::Errno, ELOOP, WSAELOOP},
    {Source::Errno, ENAMETOOLONG, WSAENAMETOOLONG},
    {Source::Errno, EHOSTDOWN, WSAEHOSTDOWN},
    {Source::Errno, EHOSTUNREACH, WSAEHOSTUNREACH},
    {Source::Errno, ENOTEMPTY, WSAENOTEMPTY},
    {Source::Errno, EUSERS, WSAEUSERS},
    {Source::Errno, EDQUOT, WSAEDQUOT},
    {Source::Errno, ESTALE, WSAESTALE},
    {Source::Errno, EREMOTE, WSAEREMOTE},
    {Source::Eai, EAI_NONAME, WSAHOST_NOT_FOUND},
    {Source::Eai, EAI_AGAIN, WSATRY_AGAIN},
    {Source::Eai, EAI_FAIL, WSANO_RECOVERY},
#ifdef EAI_NODATA
    {Source::Eai, EAI_NODATA, WSANO_DATA},
#endif
#ifdef EAI_ADDRFAMILY
    {Source::Eai, EAI_ADDRFAMILY, WSANO_DATA},
#endif
    {Source::Eai, EAI_SERVICE, WSATYPE_NOT_FOUND},
    {Source::Eai, EAI_MEMORY, WSAENOBUFS},
};

thread_local int t_lastError = 0;

} // namespace

int WSAGetLastError() { return t_lastError; }
void WSASetLastError(int error) { t_lastError = error; }

std::string ErrorText(int code)
{
    for (const Mapping& m : kMappings) {
        if (m.wsa != code)
            continue;
        return m.source == Source::Errno ? std::strerror(m.system) : gai_strerror(m.system);
    }
    return {};
}

namespace detail {

int FromErrno(int error)
{
    for (const Mapping& m : kMappings)
        if (m.source == Source::Errno && m.system == error)
            return m.wsa;
    return WSAEINVAL;
}

int FromEai(int error, int savedErrno)
{
    if (error == EAI_SYSTEM)
        return FromErrno(savedErrno);
    for (const Mapping& m : kMappings)
        if (m.source == Source::Eai && m.system == error)
            return m.wsa;
    return WSANO_RECOVERY;
}

int FailFromErrno() { return Fail(FromErrno(errno)); }

int Fail(int wsaError)
{
    t_lastError = wsaError;
    return SOCKET_ERROR;
}

} // namespace detail

} // namespace platform::winsock
