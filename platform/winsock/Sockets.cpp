// SPDX-License-Identifier: GPL-3.0-or-later
// The socket table and the event selection.
//
// Threading: GUI thread only. Every socket handle maps to one file descriptor
// and the state that WinSock keeps for its notices. The layer watches the
// descriptor with QSocketNotifiers, enabled only while a notice could follow:
// a read notifier while another FD_READ / FD_CLOSE / FD_ACCEPT may be posted,
// a write notifier while a connect is completing or after a send that would
// block. Level-triggered watching never spins, because each notifier is
// switched off as soon as its notice has been posted and only the matching
// call (recv, accept, send) switches it on again.
#include "platform/winsock/WinSockPrivate.h"

#include "platform/core/HandleTable.h"

#include <QSocketNotifier>
#include <atomic>
#include <cstring>
#include <memory>

namespace platform::winsock {

using namespace detail;

namespace {

enum class Phase { Fresh, Connecting, Connected, Failed, Listening };

struct Entry {
    int fd = -1;
    bool nonBlocking = false;
    Phase phase = Phase::Fresh;
    HWND window = 0;
    unsigned message = 0;
    long events = 0;
    bool readArmed = true;   // a further FD_READ / FD_ACCEPT may be posted
    bool writeWanted = false; // post FD_WRITE when the socket can take data
    bool closeNotified = false;
    std::unique_ptr<QSocketNotifier> readNotifier;
    std::unique_ptr<QSocketNotifier> writeNotifier;
};

using Table = HandleTable<SOCKET, std::unique_ptr<Entry>>;

Table& table()
{
    static Table instance{0x100};
    return instance;
}

std::atomic<int> g_startups{0};

Entry* Find(SOCKET s)
{
    const auto* found = table().Find(s);
    return found ? found->get() : nullptr;
}

bool Selected(const Entry& e) { return e.window != 0 && e.events != 0; }

void PostEvent(SOCKET s, const Entry& e, long event, int error)
{
    if (e.window != 0 && (e.events & event) != 0)
        NotifyWindow::Post(e.window, e.message, s, WSAMAKESELECTREPLY(static_cast<int>(event), error));
}

void OnReadable(SOCKET s);
void OnWritable(SOCKET s);

// Switches the notifiers to what the socket's state and selection need.
void Update(SOCKET s, Entry& e)
{
    bool wantRead = false;
    bool wantWrite = false;
    if (Selected(e)) {
        switch (e.phase) {
        case Phase::Connecting:
            wantWrite = true;
            break;
        case Phase::Connected:
            wantRead = e.readArmed && !e.closeNotified && (e.events & (FD_READ | FD_CLOSE)) != 0;
            wantWrite = e.writeWanted && (e.events & FD_WRITE) != 0;
            break;
        case Phase::Listening:
            wantRead = e.readArmed && (e.events & FD_ACCEPT) != 0;
            break;
        case Phase::Fresh:
        case Phase::Failed:
            break;
        }
    }
    if (wantRead && !e.readNotifier) {
        e.readNotifier = std::make_unique<QSocketNotifier>(e.fd, QSocketNotifier::Read);
        QObject::connect(e.readNotifier.get(), &QSocketNotifier::activated, [s] { OnReadable(s); });
    }
    if (wantWrite && !e.writeNotifier) {
        e.writeNotifier = std::make_unique<QSocketNotifier>(e.fd, QSocketNotifier::Write);
        QObject::connect(e.writeNotifier.get(), &QSocketNotifier::activated, [s] { OnWritable(s); });
    }
    if (e.readNotifier)
        e.readNotifier->setEnabled(wantRead);
    if (e.writeNotifier)
        e.writeNotifier->setEnabled(wantWrite);
}

void NotifyClose(SOCKET s, Entry& e, int error)
{
    e.closeNotified = true;
    PostEvent(s, e, FD_CLOSE, error);
    Update(s, e);
}

// Data waiting gives one FD_READ; with nothing waiting, readability means the
// peer closed (orderly or not), which is reported only now, after every
// received byte has been read.
void OnReadable(SOCKET s)
{
    Entry* e = Find(s);
    if (!e)
        return;
    if (e->phase == Phase::Listening) {
        e->readArmed = false;
        PostEvent(s, *e, FD_ACCEPT, 0);
        Update(s, *e);
        return;
    }
    if (e->phase != Phase::Connected || e->closeNotified)
        return Update(s, *e);
    int waiting = 0;
    if (::ioctl(e->fd, FIONREAD, &waiting) != 0)
        waiting = 0;
    char probe = 0;
    const ssize_t peeked = waiting > 0 ? 1 : ::recv(e->fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked > 0) {
        e->readArmed = false;
        PostEvent(s, *e, FD_READ, 0);
        Update(s, *e);
        return;
    }
    if (peeked < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    NotifyClose(s, *e, peeked == 0 ? 0 : FromErrno(errno));
}

void CompleteConnect(SOCKET s, Entry& e)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(e.fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    if (error != 0) {
        e.phase = Phase::Failed;
        PostEvent(s, e, FD_CONNECT, FromErrno(error));
        Update(s, e);
        return;
    }
    e.phase = Phase::Connected;
    e.readArmed = true;
    e.writeWanted = false;
    PostEvent(s, e, FD_CONNECT, 0);
    PostEvent(s, e, FD_WRITE, 0);
    Update(s, e);
}

void OnWritable(SOCKET s)
{
    Entry* e = Find(s);
    if (!e)
        return;
    if (e->phase == Phase::Connecting)
        return CompleteConnect(s, *e);
    if (e->phase == Phase::Connected && e->writeWanted) {
        e->writeWanted = false;
        PostEvent(s, *e, FD_WRITE, 0);
    }
    Update(s, *e);
}

bool SetNonBlocking(int fd, bool on)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0)
        return false;
    return ::fcntl(fd, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) == 0;
}

// WinSock addresses are 16-byte sockaddr_in records with the same byte order
// as POSIX; only the family field's position and width differ.
bool ToSystem(const sockaddr* name, int length, ::sockaddr_in& out, int& error)
{
    if (name == nullptr || length < static_cast<int>(sizeof(sockaddr_in))) {
        error = WSAEFAULT;
        return false;
    }
    sockaddr_in in;
    std::memcpy(&in, name, sizeof in);
    if (in.sin_family != kAfInet) {
        error = WSAEAFNOSUPPORT;
        return false;
    }
    out = {};
    out.sin_family = AF_INET;
    out.sin_port = in.sin_port;
    out.sin_addr.s_addr = in.sin_addr.s_addr;
    return true;
}

int FromSystem(const ::sockaddr_in& in, sockaddr* name, int* length)
{
    if (name == nullptr || length == nullptr || *length < static_cast<int>(sizeof(sockaddr_in)))
        return Fail(WSAEFAULT);
    sockaddr_in out{};
    out.sin_family = kAfInet;
    out.sin_port = in.sin_port;
    out.sin_addr.s_addr = in.sin_addr.s_addr;
    std::memcpy(name, &out, sizeof out);
    *length = sizeof out;
    return 0;
}

SOCKET Adopt(int fd, Phase phase)
{
    auto entry = std::make_unique<Entry>();
    entry->fd = fd;
    entry->phase = phase;
    return table().Insert(std::move(entry));
}

} // namespace

int WSAStartup(std::uint16_t versionRequested, WSADATA* data)
{
    if ((versionRequested & 0xff) < 1)
        return WSAVERNOTSUPPORTED;
    if (data == nullptr)
        return WSAEFAULT;
    *data = {};
    data->wVersion = versionRequested < 0x0202 ? versionRequested : 0x0202;
    data->wHighVersion = 0x0202;
    std::strcpy(data->szDescription, "WinSock over POSIX sockets");
    std::strcpy(data->szSystemStatus, "Running");
    data->iMaxSockets = 0xffff;
    ++g_startups;
    return 0;
}

int WSACleanup()
{
    int users = g_startups.load();
    while (users > 0 && !g_startups.compare_exchange_weak(users, users - 1)) {
    }
    return users > 0 ? 0 : Fail(WSANOTINITIALISED);
}

SOCKET socket(int af, int type, int protocol)
{
    if (af != kAfInet)
        return Fail(WSAEAFNOSUPPORT), INVALID_SOCKET;
    if (type != kSockStream && type != kSockDgram)
        return Fail(WSAESOCKTNOSUPPORT), INVALID_SOCKET;
    if (protocol != kIpprotoIp && protocol != kIpprotoTcp && protocol != kIpprotoUdp)
        return Fail(WSAEPROTONOSUPPORT), INVALID_SOCKET;
    const int fd = ::socket(AF_INET, (type == kSockStream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, protocol);
    if (fd < 0)
        return FailFromErrno(), INVALID_SOCKET;
    return Adopt(fd, Phase::Fresh);
}

int closesocket(SOCKET s)
{
    std::unique_ptr<Entry> entry = table().Take(s);
    if (!entry)
        return Fail(WSAENOTSOCK);
    const int fd = entry->fd;
    entry.reset(); // the notifiers go before the descriptor they watch
    if (::close(fd) != 0 && errno != EINTR)
        return FailFromErrno();
    return 0;
}

int connect(SOCKET s, const sockaddr* name, int nameLength)
{
    Entry* e = Find(s);
    if (!e)
        return Fail(WSAENOTSOCK);
    if (e->phase == Phase::Connected)
        return Fail(WSAEISCONN);
    if (e->phase == Phase::Connecting)
        return Fail(WSAEALREADY);
    ::sockaddr_in peer;
    int error = 0;
    if (!ToSystem(name, nameLength, peer, error))
        return Fail(error);
    if (::connect(e->fd, reinterpret_cast<const ::sockaddr*>(&peer), sizeof peer) == 0) {
        e->phase = Phase::Connected;
        if (!e->nonBlocking)
            return 0;
        // A non-blocking connect always completes by notice, as in WinSock.
        e->phase = Phase::Connecting;
        Update(s, *e);
        return Fail(WSAEWOULDBLOCK);
    }
    error = errno;
    if (e->nonBlocking && error == EINPROGRESS) {
        e->phase = Phase::Connecting;
        Update(s, *e);
        return Fail(WSAEWOULDBLOCK);
    }
    // Loopback connects can fail at once where WinSock would report the
    // outcome by FD_CONNECT; keep the notice path for selected sockets.
    const bool outcome = error == ECONNREFUSED || error == ETIMEDOUT || error == ENETUNREACH || error == EHOSTUNREACH;
    if (e->nonBlocking && Selected(*e) && outcome) {
        e->phase = Phase::Failed;
        PostEvent(s, *e, FD_CONNECT, FromErrno(error));
        return Fail(WSAEWOULDBLOCK);
    }
    return Fail(FromErrno(error));
}

int bind(SOCKET s, const sockaddr* name, int nameLength)
{
    Entry* e = Find(s);
    if (!e)
        return Fail(WSAENOTSOCK);
    ::sockaddr_in local;
    int error = 0;
    if (!ToSystem(name, nameLength, local, error))
        return Fail(error);
    if (::bind(e->fd, reinterpret_cast<const ::sockaddr*>(&local), sizeof local) != 0)
        return FailFromErrno();
    return 0;
}

int listen(SOCKET s, int backlog)
{
    Entry* e = Find(s);
    if (!e)
        return Fail(WSAENOTSOCK);
    if (::listen(e->fd, backlog) != 0)
        return FailFromErrno();
    e->phase = Phase::Listening;
    e->readArmed = true;
    Update(s, *e);
    return 0;
}

SOCKET accept(SOCKET s, sockaddr* address, int* addressLength)
{
    Entry* e = Find(s);
    if (!e)
        return Fail(WSAENOTSOCK), INVALID_SOCKET;
    ::sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const int fd = ::accept4(e->fd, reinterpret_cast<::sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    e->readArmed = true;
    Update(s, *e);
    if (fd < 0)
        return FailFromErrno(), INVALID_SOCKET;
    if (address != nullptr && FromSystem(peer, address, addressLength) != 0) {
        ::close(fd);
        return INVALID_SOCKET;
    }
    // The accepted socket inherits the listener's selection, as in WinSock.
    const SOCKET accepted = Adopt(fd, Phase::Connected);
    Entry& a = *Find(accepted);
    a.nonBlocking = e->nonBlocking;
    a.window = e->window;
    a.message = e->message;
    a.events = e->events;
    a.writeWanted = true;
    if (a.nonBlocking)
        SetNonBlocking(fd, true);
    Update(accepted, a);
    return accepted;
}

int send(SOCKET s, const char* buffer, int length, int flags)
{
    Entry* e = Find(s);
    if (!e)
        return Fail(WSAENOTSOCK);
    if (length < 0)
        return Fail(WSAEFAULT);
    const ssize_t sent = ::send(e->fd, buffer, static_cast<size_t>(length), MSG_NOSIGNAL | ((flags & 1) ? MSG_OOB : 0));
    if (sent >= 0)
        return static_cast<int>(sent);
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
        e->writeWanted = true;
        Update(s, *e);
    }
    return FailFromErrno();
}

int recv(SOCKET s, char* buffer, int length, int flags)
{
    Entry* e = Find(s);
    if (!e)
        return Fail(WSAENOTSOCK);
    if (length < 0)
        return Fail(WSAEFAULT);
    const int systemFlags = ((flags & 1) ? MSG_OOB : 0) | ((flags & 2) ? MSG_PEEK : 0);
    const ssize_t received = ::recv(e->fd, buffer, static_cast<size_t>(length), systemFlags);
    const int savedErrno = errno;
    e->readArmed = true;
    Update(s, *e);
    if (received >= 0)
        return static_cast<int>(received);
    return Fail(FromErrno(savedErrno));
}

int shutdown(SOCKET s, int how)
{
    Entry* e = Find(s);
    if (!e)
        return Fail(WSAENOTSOCK);
    const int systemHow = how == SD_RECEIVE ? SHUT_RD : how == SD_SEND ? SHUT_WR : how == SD_BOTH ? SHUT_RDWR : -1;
    if (systemHow < 0)
        return Fail(WSAEINVAL);
    if (::shutdown(e->fd, systemHow) != 0)
        return FailFromErrno();
    return 0;
}

namespace {

struct SystemOption {
    int level = -1;
    int name = -1;
};

SystemOption MapOption(int level, int name)
{
    if (level == kSolSocket) {
        if (name == kSoReuseAddr)
            return {SOL_SOCKET, SO_REUSEADDR};
        if (name == kSoKeepAlive)
            return {SOL_SOCKET, SO_KEEPALIVE};
        if (name == kSoLinger)
            return {SOL_SOCKET, SO_LINGER};
        if (name == kSoSndBuf)
            return {SOL_SOCKET, SO_SNDBUF};
        if (name == kSoRcvBuf)
            return {SOL_SOCKET, SO_RCVBUF};
        // Readability, and so FD_READ, waits until this many bytes are there
        // (or the peer closes): a reader that wants large reads wakes less.
        if (name == kSoRcvLowAt)
            return {SOL_SOCKET, SO_RCVLOWAT};
        if (name == kSoError)
            return {SOL_SOCKET, SO_ERROR};
    }
    if (level == kIpprotoTcp && name == kTcpNoDelay)
        return {IPPROTO_TCP, TCP_NODELAY};
    return {};
}

} // namespace

int setsockopt(SOCKET s, int level, int name, const char* value, int length)
{
    Entry* e = Find(s);
    if (!e)
        return Fail(WSAENOTSOCK);
    const SystemOption option = MapOption(level, name);
    if (option.level < 0)
        return Fail(WSAENOPROTOOPT);
    if (value == nullptr || length < 1)
        return Fail(WSAEFAULT);
    int result = 0;
    if (option.name == SO_LINGER) {
        if (length < static_cast<int>(sizeof(linger)))
            return Fail(WSAEFAULT);
        linger in;
        std::memcpy(&in, value, sizeof in);
        const ::linger out{in.l_onoff != 0 ? 1 : 0, in.l_linger};
        result = ::setsockopt(e->fd, option.level, option.name, &out, sizeof out);
    } else {
        int number = 0;
        if (length >= static_cast<int>(sizeof number))
            std::memcpy(&number, value, sizeof number);
        else
            number = static_cast<unsigned char>(value[0]);
        result = ::setsockopt(e->fd, option.level, option.name, &number, sizeof number);
    }
    return result == 0 ? 0 : FailFromErrno();
}

int getsockopt(SOCKET s, int level, int name, char* value, int* length)
{
    Entry* e = Find(s);
    if (!e)
        return Fail(WSAENOTSOCK);
    const SystemOption option = MapOption(level, name);
    if (option.level < 0)
        return Fail(WSAENOPROTOOPT);
    if (value == nullptr || length == nullptr)
        return Fail(WSAEFAULT);
    if (option.name == SO_LINGER) {
        ::linger in{};
        socklen_t size = sizeof in;
        if (*length < static_cast<int>(sizeof(linger)))
            return Fail(WSAEFAULT);
        if (::getsockopt(e->fd, option.level, option.name, &in, &size) != 0)
            return FailFromErrno();
        const linger out{static_cast<std::uint16_t>(in.l_onoff), static_cast<std::uint16_t>(in.l_linger)};
        std::memcpy(value, &out, sizeof out);
        *length = sizeof out;
        return 0;
    }
    int number = 0;
    socklen_t size = sizeof number;
    if (*length < static_cast<int>(sizeof number))
        return Fail(WSAEFAULT);
    if (::getsockopt(e->fd, option.level, option.name, &number, &size) != 0)
        return FailFromErrno();
    if (option.name == SO_ERROR && number != 0)
        number = FromErrno(number);
    std::memcpy(value, &number, sizeof number);
    *length = sizeof number;
    return 0;
}

int ioctlsocket(SOCKET s, long command, u_long* argument)
{
    Entry* e = Find(s);
    if (!e)
        return Fail(WSAENOTSOCK);
    if (argument == nullptr)
        return Fail(WSAEFAULT);
    if (command == kFionRead) {
        int waiting = 0;
        if (::ioctl(e->fd, FIONREAD, &waiting) != 0)
            return FailFromErrno();
        *argument = static_cast<u_long>(waiting);
        return 0;
    }
    if (command == kFionBio) {
        // WinSock refuses to make a socket blocking while notices are selected.
        if (*argument == 0 && Selected(*e))
            return Fail(WSAEINVAL);
        if (!SetNonBlocking(e->fd, *argument != 0))
            return FailFromErrno();
        e->nonBlocking = *argument != 0;
        return 0;
    }
    return Fail(WSAEINVAL);
}

namespace {

// getpeername and getsockname differ only in the system call that fills the address.
using AddressQuery = int (*)(int, ::sockaddr*, socklen_t*);

int AddressOf(SOCKET s, AddressQuery query, sockaddr* name, int* nameLength)
{
    Entry* e = Find(s);
    if (!e)
        return Fail(WSAENOTSOCK);
    ::sockaddr_in address{};
    socklen_t length = sizeof address;
    if (query(e->fd, reinterpret_cast<::sockaddr*>(&address), &length) != 0)
        return FailFromErrno();
    return FromSystem(address, name, nameLength);
}

} // namespace

int getpeername(SOCKET s, sockaddr* name, int* nameLength)
{
    return AddressOf(s, ::getpeername, name, nameLength);
}

int getsockname(SOCKET s, sockaddr* name, int* nameLength)
{
    return AddressOf(s, ::getsockname, name, nameLength);
}

int WSAAsyncSelect(SOCKET s, HWND window, unsigned message, long events)
{
    Entry* e = Find(s);
    if (!e)
        return Fail(WSAENOTSOCK);
    e->window = events != 0 ? window : 0;
    e->message = message;
    e->events = e->window != 0 ? events : 0;
    if (Selected(*e)) {
        if (!SetNonBlocking(e->fd, true))
            return FailFromErrno();
        e->nonBlocking = true;
        // Conditions that already hold are reported at once, as in WinSock.
        e->readArmed = true;
        if (e->phase == Phase::Connected)
            e->writeWanted = true;
    }
    Update(s, *e);
    return 0;
}

} // namespace platform::winsock
