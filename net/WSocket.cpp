// SPDX-License-Identifier: GPL-3.0-or-later
// Threading: GUI thread only. The component's notices, the FD_WRITE that Send
// posts and the delayed close all arrive through its NotifyWindow, so event
// handlers never run inside Send and may call back into the component.
#include "net/WSocket.h"

#include "platform/toolkit/Application.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

namespace net {

namespace ws = platform::winsock;

namespace {

// WinSock needs no loading here; only the number of live components is kept,
// so the layer is started by the first one and cleaned up after the last.
int g_winsockUsers = 0;

void AddWinsockUser()
{
    if (g_winsockUsers++ == 0) {
        ws::WSADATA data;
        ws::WSAStartup(0x0101, &data);
    }
}

void RemoveWinsockUser()
{
    if (g_winsockUsers > 0 && --g_winsockUsers == 0)
        ws::WSACleanup();
}

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The decimal value of the leading digits; saturates instead of wrapping so
// an absurdly long number is still "too big" rather than some small value.
long long LeadingNumber(const std::string& text)
{
    long long value = 0;
    for (char c : text) {
        if (!IsDigit(c))
            break;
        value = std::min(value * 10 + (c - '0'), 1LL << 40);
    }
    return value;
}

std::string Format(const char* pattern, const std::string& text, int number)
{
    std::vector<char> buffer(text.size() + std::strlen(pattern) + 16);
    std::snprintf(buffer.data(), buffer.size(), pattern, text.c_str(), number);
    return buffer.data();
}

// Raised where the runtime's range check would refuse a value.
class ERangeError : public platform::Exception {
public:
    ERangeError() : platform::Exception("Range check error") {}
};

} // namespace

// ---------------------------------------------------------------------------
// Name resolution

bool WSocketIsDottedIP(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    if (i < text.size() && text[i] == '.')
        return false;
    int dots = 0;
    long long part = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (IsDigit(c)) {
            part = std::min(part * 10 + (c - '0'), 1000LL);
        } else if (c == '.') {
            if (++dots > 3 || part > 255)
                return false;
            if (i + 1 == text.size() || !IsDigit(text[i + 1]))
                return false;
            part = 0;
        } else {
            // Whatever ends the number, only blanks may come after it.
            while (++i < text.size())
                if (text[i] != ' ')
                    return false;
            break;
        }
    }
    return dots == 3 && part <= 255;
}

std::uint32_t WSocketResolveHost(const std::string& host)
{
    if (host.empty() || host.size() > 256)
        throw ESocketException("WSocketResolveHost: '" + host + "' Invalid Hostname.");
    const std::string name = Trim(host);
    if (WSocketIsDottedIP(host)) {
        const std::uint32_t address = ws::inet_addr(name.c_str());
        if (address == ws::INADDR_NONE && name != "255.255.255.255")
            throw ESocketException("WSocketResolveHost: '" + host + "' Invalid IP address.");
        return address;
    }
    const ws::hostent* entry = ws::gethostbyname(name.c_str());
    if (entry == nullptr || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr)
        throw ESocketException(
            Format("WSocketResolveHost: Cannot convert host address '%s', Error #%d", host, ws::WSAGetLastError()));
    std::uint32_t address = 0;
    std::memcpy(&address, entry->h_addr_list[0], sizeof address);
    return address;
}

int WSocketResolvePort(const std::string& port, const std::string& proto)
{
    if (port.empty() || port.size() >= 32)
        throw ESocketException("WSocketResolvePort: Invalid Port.");
    if (proto.empty() || proto.size() >= 32)
        throw ESocketException("WSocketResolvePort: Invalid Proto.");
    if (IsDigit(port[0])) {
        const long long number = LeadingNumber(port);
        if (number > 65535)
            throw ERangeError();
        return static_cast<int>(number);
    }
    const ws::servent* entry = ws::getservbyname(Trim(port).c_str(), Trim(proto).c_str());
    if (entry == nullptr)
        throw ESocketException(
            Format("WSocketResolvePort: Cannot convert port '%s', Error #%d", port, ws::WSAGetLastError()));
    return ws::ntohs(static_cast<std::uint16_t>(entry->s_port));
}

int WSocketResolveProto(const std::string& proto)
{
    if (proto.empty() || proto.size() >= 32)
        throw ESocketException("WSocketResolveProto: Invalid Protocol.");
    const std::string name = Trim(proto);
    if (!name.empty() && IsDigit(name[0]))
        return static_cast<int>(std::min(LeadingNumber(name), 0x7fffffffLL));
    const ws::protoent* entry = ws::getprotobyname(name.c_str());
    if (entry == nullptr)
        throw ESocketException(
            Format("WSocketResolveProto: Cannot convert protocol '%s', Error #%d", proto, ws::WSAGetLastError()));
    return entry->p_proto;
}

std::string ErrorDescription(int code)
{
    struct Entry {
        int code;
        const char* text;
    };
    static constexpr Entry kTexts[] = {
        {0, "No Error"},
        {10004, "Interrupted system call"},
        {10009, "Bad file number"},
        {10013, "Permission denied"},
        {10014, "Bad address"},
        {10022, "Invalid argument"},
        {10024, "Too many open files"},
        {10035, "Operation would block"},
        {10036, "Operation now in progress"},
        {10037, "Operation already in progress"},
        {10038, "Socket operation on non-socket"},
        {10039, "Destination address required"},
        {10040, "Message too long"},
        {10041, "Protocol wrong type for socket"},
        {10042, "Protocol not available"},
        {10043, "Protocol not supported"},
        {10044, "Socket type not supported"},
        {10045, "Operation not supported on socket"},
        {10046, "Protocol family not supported"},
        {10047, "Address family not supported by protocol family"},
        {10048, "Address already in use"},
        {10049, "Address not available"},
        {10050, "Network is down"},
        {10051, "Network is unreachable"},
        {10052, "Network dropped connection on reset"},
        {10053, "Connection aborted"},
        {10054, "Connection reset by peer"},
        {10055, "No buffer space available"},
        {10056, "Socket is already connected"},
        {10057, "Socket is not connected"},
        {10058, "Can't send after socket shutdown"},
        {10059, "Too many references: can't splice"},
        {10060, "Connection timed out"},
        {10061, "Connection refused"},
        {10062, "Too many levels of symbolic links"},
        {10063, "File name too long"},
        {10064, "Host is down"},
        {10065, "No route to host"},
        {10066, "Directory not empty"},
        {10067, "Too many processes"},
        {10068, "Too many users"},
        {10069, "Disc quota exceeded"},
        {10070, "Stale NFS file handle"},
        {10071, "Too many levels of remote in path"},
        {10091, "Network sub-system is unusable"},
        {10092, "WinSock DLL cannot support this application"},
        {10093, "WinSock not initialized"},
        {11001, "Host not found"},
        {11002, "Non-authoritative host not found"},
        {11003, "Non-recoverable error"},
        {11004, "No Data"},
    };
    static_assert(std::size(kTexts) == 51);
    for (const Entry& entry : kTexts)
        if (entry.code == code)
            return entry.text;
    return "Not a WinSock error";
}

// ---------------------------------------------------------------------------
// Life cycle and properties

TCustomWSocket::TCustomWSocket(QObject* owner) : QObject(owner)
{
    MessageWindow = std::make_unique<platform::NotifyWindow>(
        [this](unsigned message, platform::WPARAM wParam, platform::LPARAM lParam) {
            return HandleWindowMessage(message, wParam, lParam);
        });
    ResetToDefaults();
    AddWinsockUser();
}

TCustomWSocket::~TCustomWSocket()
{
    m_destroying = true;
    // An owner frees its components after its own members are gone, so no
    // event may call back into it from here.
    OnChangeState = nullptr;
    OnSessionClosed = nullptr;
    OnError = nullptr;
    OnBgException = nullptr;
    try {
        if (m_state != wsClosed)
            Close();
    } catch (...) {
        // A failing close must not stop the component from going away.
    }
    RemoveWinsockUser();
    DeleteBufferedData();
    MessageWindow.reset();
}

platform::HWND TCustomWSocket::Handle() const { return MessageWindow->Handle(); }

void TCustomWSocket::ResetToDefaults()
{
    RemoteAddress = {};
    RemoteAddress.sin_family = ws::AF_INET;
    AddressFamily = ws::AF_INET;
    HasPort = HasAddr = false;
    AddrReady = PortReady = ProtoReady = LocalPortReady = false;
    HasProto = true;
    m_protoStr = "tcp";
    ProtoNumber = ws::IPPROTO_TCP;
    SocketKind = ws::SOCK_STREAM;
    m_localPortStr = "0";
    m_localAddr = "0.0.0.0";
    m_lingerOnOff = wsLingerOn;
    m_lingerTimeout = 0;
    SocketHandle = ws::INVALID_SOCKET;
    EventMask = 0;
    m_state = wsClosed;
    AllSent = true;
    Paused = false;
    m_readCount = 0;
    CloseNotified = false;
    m_flushTimeout = 60;
}

// Addr, Port and Proto change alike: only while closed, and a new value is
// looked up again before the next connect or listen.
void TCustomWSocket::SetLookedUp(const char* name, const std::string& value, std::string& field, bool& has,
                                 bool& ready)
{
    if (has && value == field)
        return;
    if (m_state != wsClosed) {
        ReportError(std::string("Cannot change ") + name + " if not closed");
        return;
    }
    field = Trim(value);
    has = !field.empty();
    if (has)
        ready = false;
}

void TCustomWSocket::SetAddr(const std::string& value)
{
    SetLookedUp("Addr", value, m_addrStr, HasAddr, AddrReady);
}

void TCustomWSocket::SetPort(const std::string& value)
{
    SetLookedUp("Port", value, m_portStr, HasPort, PortReady);
}

void TCustomWSocket::SetProto(const std::string& value)
{
    SetLookedUp("Proto", value, m_protoStr, HasProto, ProtoReady);
}

void TCustomWSocket::SetLocalAddr(const std::string& value)
{
    if (m_state != wsClosed) {
        ReportError("Cannot change LocalAddr if not closed");
        return;
    }
    const std::string address = value.empty() ? "0.0.0.0" : value;
    if (ws::inet_addr(address.c_str()) == ws::INADDR_NONE && address != "255.255.255.255") {
        ReportError("SetLocalAddr(): Invalid IP address");
        return;
    }
    m_localAddr = address;
}

void TCustomWSocket::SetLocalPort(const std::string& value)
{
    if (m_state != wsClosed) {
        ReportError("Cannot change LocalPort if not closed");
        return;
    }
    m_localPortStr = value;
    LocalPortReady = false;
}

TCustomWSocket::TSocketSendFlags TCustomWSocket::SendFlags() const
{
    if (m_sendFlags == 0)
        return wsSendNormal;
    return wsSendUrgent;
}

void TCustomWSocket::SetSendFlags(int value)
{
    switch (value) {
    case wsSendNormal:
        m_sendFlags = 0;
        break;
    case wsSendUrgent:
        m_sendFlags = 1; // out-of-band data
        break;
    default:
        ReportError("Invalid SendFlags");
    }
}

void TCustomWSocket::SetState(TSocketState newState)
{
    const TSocketState oldState = m_state;
    m_state = newState;
    FireChangeState(oldState, newState);
}

std::string TCustomWSocket::PeerAddr()
{
    if (m_state != wsConnected)
        return "error";
    ws::sockaddr_in peer{};
    int length = sizeof peer;
    if (ws::getpeername(SocketHandle, reinterpret_cast<ws::sockaddr*>(&peer), &length) != 0) {
        ReportSocketError("GetPeerName");
        return "error";
    }
    return ws::inet_ntoa(peer.sin_addr);
}

std::string TCustomWSocket::PeerPort()
{
    if (m_state != wsConnected)
        return "error";
    ws::sockaddr_in peer{};
    int length = sizeof peer;
    if (ws::getpeername(SocketHandle, reinterpret_cast<ws::sockaddr*>(&peer), &length) != 0) {
        ReportSocketError("GetPeerPort");
        return "error";
    }
    return std::to_string(ws::ntohs(peer.sin_port));
}

// ---------------------------------------------------------------------------
// Connecting

void TCustomWSocket::ResolveForConnect()
{
    if (!ProtoReady) {
        ProtoNumber = WSocketResolveProto(m_protoStr);
        SocketKind = ProtoNumber == ws::IPPROTO_UDP ? ws::SOCK_DGRAM : ws::SOCK_STREAM;
        ProtoReady = true;
    }
    if (!PortReady) {
        PortNumber = WSocketResolvePort(m_portStr, m_protoStr);
        RemoteAddress.sin_port = ws::htons(static_cast<std::uint16_t>(PortNumber));
        PortReady = true;
    }
    if (!LocalPortReady) {
        LocalPortNumber = WSocketResolvePort(m_localPortStr, m_protoStr);
        LocalPortReady = true;
    }
    if (!AddrReady) {
        RemoteAddress.sin_addr.s_addr = WSocketResolveHost(m_addrStr);
        AddrReady = true;
    }
}

void TCustomWSocket::Connect()
{
    if (SocketHandle != ws::INVALID_SOCKET && m_state != wsClosed) {
        ReportError("Connect: Socket already in use");
        return;
    }
    if (!HasPort)
        return ReportError("Connect: No Port Specified");
    if (!HasAddr)
        return ReportError("Connect: No IP Address Specified");
    if (!HasProto)
        return ReportError("Connect: No Protocol Specified");
    try {
        ResolveForConnect();
    } catch (const platform::Exception& e) {
        ReportError("connect: " + e.Message().toStdString());
        return;
    }
    DeleteBufferedData();

    SocketHandle = ws::socket(AddressFamily, SocketKind, ProtoNumber);
    if (SocketHandle == ws::INVALID_SOCKET)
        return ReportSocketError("Connect (socket)");
    SetState(wsOpened);

    if (SocketKind == ws::SOCK_STREAM) {
        const int on = 1;
        const char* value = reinterpret_cast<const char*>(&on);
        if (ws::setsockopt(SocketHandle, ws::SOL_SOCKET, ws::SO_REUSEADDR, value, sizeof on) != 0)
            return ReportSocketError("setsockopt(SO_REUSEADDR)");
        if ((m_options & OptionBit(wsoTcpNoDelay))
            && ws::setsockopt(SocketHandle, ws::IPPROTO_TCP, ws::TCP_NODELAY, value, sizeof on) != 0)
            return ReportSocketError("setsockopt(IPPROTO_TCP, TCP_NODELAY)");
        if (!ApplyLinger())
            return;
        if (ws::setsockopt(SocketHandle, ws::SOL_SOCKET, ws::SO_KEEPALIVE, value, sizeof on) != 0)
            return ReportSocketError("setsockopt(SO_KEEPALIVE)");
        if ((LocalPortNumber != 0 || m_localAddr != "0.0.0.0") && !BindLocal())
            return;
    }

    EventMask = ws::FD_READ | ws::FD_WRITE | ws::FD_ACCEPT | ws::FD_CONNECT | ws::FD_CLOSE;
    if (ws::WSAAsyncSelect(SocketHandle, MessageWindow->Handle(), WM_ASYNCSELECT, EventMask) != 0)
        return ReportSocketError("WSAAsyncSelect");

    const int result = ws::connect(SocketHandle, reinterpret_cast<const ws::sockaddr*>(&RemoteAddress),
                                   sizeof RemoteAddress);
    if (result == 0 || ws::WSAGetLastError() == ws::WSAEWOULDBLOCK) {
        SetState(wsConnecting);
        return;
    }
    m_lastError = ws::WSAGetLastError();
    ReportSocketError("Connect");
}

bool TCustomWSocket::BindLocal()
{
    ws::sockaddr_in local{};
    local.sin_family = ws::AF_INET;
    local.sin_port = ws::htons(static_cast<std::uint16_t>(LocalPortNumber));
    local.sin_addr.s_addr = ws::inet_addr(m_localAddr.c_str());
    if (ws::bind(SocketHandle, reinterpret_cast<const ws::sockaddr*>(&local), sizeof local) == 0)
        return true;
    ReportSocketError("bind");
    return false;
}

bool TCustomWSocket::ApplyLinger()
{
    if (m_lingerOnOff == wsLingerNoSet)
        return true;
    if (SocketHandle == ws::INVALID_SOCKET) {
        ReportError("Cannot set linger option at this time");
        return false;
    }
    ws::linger value{static_cast<std::uint16_t>(m_lingerOnOff == wsLingerOn ? 1 : 0),
                     static_cast<std::uint16_t>(m_lingerTimeout)};
    if (ws::setsockopt(SocketHandle, ws::SOL_SOCKET, ws::SO_LINGER, reinterpret_cast<const char*>(&value),
                       sizeof value) == 0)
        return true;
    ReportSocketError("setsockopt(SO_LINGER)");
    return false;
}

// ---------------------------------------------------------------------------
// Notices

platform::LRESULT TCustomWSocket::HandleWindowMessage(unsigned message, platform::WPARAM wParam,
                                                      platform::LPARAM lParam)
{
    try {
        switch (message) {
        case WM_ASYNCSELECT:
            HandleSocketNotice(wParam, ws::WSAGETSELECTEVENT(lParam),
                               static_cast<std::uint16_t>(ws::WSAGETSELECTERROR(lParam)));
            break;
        case WM_ASYNCGETHOSTBYNAME:
        case WM_ASYNCGETHOSTBYADDR:
            break; // this component starts no asynchronous lookups
        case WM_CLOSE_DELAYED:
            Close();
            break;
        case WM_FREE_DELAYED:
            deleteLater();
            break;
        case WM_WSOCKET_TEST:
            throw ESocketException("Test exception in WSocket");
        default:
            break;
        }
    } catch (const std::exception& e) {
        HandleEventException(e);
    } catch (...) {
        HandleEventException(ESocketException("Unknown exception"));
    }
    return 0;
}

void TCustomWSocket::HandleEventException(const std::exception& e)
{
    bool canClose = true;
    if (OnBgException) {
        try {
            OnBgException(this, e, canClose);
        } catch (...) {
        }
    }
    if (!canClose)
        return;
    try {
        AbortConnection();
    } catch (...) {
    }
}

void TCustomWSocket::HandleSocketNotice(platform::WPARAM socket, int event, std::uint16_t error)
{
    if (socket != SocketHandle || Paused)
        return;
    if ((event & ws::FD_CONNECT) && m_state != wsConnected) {
        SetState(wsConnected);
        FireSessionConnected(error);
        if (error != 0 && m_state != wsClosed)
            Close();
    }
    if (event & ws::FD_READ) {
        if (m_state != wsConnected) {
            SetState(wsConnected);
            FireSessionConnected(error);
        }
        ReceiveLoop(error, m_options);
    }
    if (event & ws::FD_WRITE) {
        TryToSend();
        if (AllSent)
            FireDataSent(error);
    }
    if (event & ws::FD_ACCEPT)
        FireSessionAvailable(error);
    if (event & ws::FD_CLOSE) {
        if (m_state == wsConnecting)
            return;
        // Deliver everything still waiting before the close is reported.
        ReceiveLoop(0, m_options & ~OptionBit(wsoNoReceiveLoop));
        if (!CloseNotified) {
            CloseNotified = true;
            FireSessionClosed(error);
        }
        if (m_state != wsClosed)
            Close();
    }
}

void TCustomWSocket::ReceiveLoop(std::uint16_t error, TWSocketOptions options)
{
    try {
        for (;;) {
            m_lastError = 0;
            if (!FireDataAvailable(error)) {
                char scratch[1024];
                if (Receive(scratch, sizeof scratch) < 0 && m_lastError == ws::WSAEWOULDBLOCK) {
                    m_lastError = 0;
                    return;
                }
            }
            if (options & OptionBit(wsoNoReceiveLoop))
                return;
            if (m_lastError != 0)
                return;
            ws::u_long waiting = 0;
            if (ws::ioctlsocket(SocketHandle, ws::FIONREAD, &waiting) != 0) {
                m_lastError = ws::WSAGetLastError();
                return;
            }
            if (waiting == 0)
                return;
        }
    } catch (...) {
        // A failing pass ends the loop; the notice itself has been handled.
    }
}

// ---------------------------------------------------------------------------
// Receiving

int TCustomWSocket::RawReceive(void* buffer, int len)
{
    return ws::recv(SocketHandle, static_cast<char*>(buffer), len, 0);
}

int TCustomWSocket::Receive(void* buffer, int len)
{
    const int count = RawReceive(buffer, len);
    if (count < 0)
        m_lastError = ws::WSAGetLastError();
    else
        m_readCount += count;
    return count;
}

int TCustomWSocket::RcvdCount()
{
    ws::u_long waiting = 0;
    if (ws::ioctlsocket(SocketHandle, ws::FIONREAD, &waiting) != 0) {
        ReportSocketError("ioctlSocket");
        return -1;
    }
    return static_cast<int>(waiting);
}

std::string TCustomWSocket::ReceiveString()
{
    int count = RcvdCount();
    if (count < 0)
        return {};
    if (count == 0)
        count = 255;
    std::string text(static_cast<size_t>(count), '\0');
    const int read = Receive(text.data(), count);
    text.resize(read > 0 ? static_cast<size_t>(read) : 0);
    return text;
}

// ---------------------------------------------------------------------------
// Sending

int TCustomWSocket::Send(const void* data, int len)
{
    if (m_state != wsConnected) {
        ws::WSASetLastError(ws::WSAENOTCONN);
        ReportSocketError("Send");
        return -1;
    }
    AllSent = false;
    int result = 0;
    if (len > 0) {
        QueueData(data, len);
        result = len;
    }
    TryToSend();
    // OnDataSent always comes later from the message loop, never from here.
    if (AllSent)
        platform::NotifyWindow::Post(MessageWindow->Handle(), WM_ASYNCSELECT, SocketHandle,
                                     ws::WSAMAKESELECTREPLY(static_cast<int>(ws::FD_WRITE), 0));
    return result;
}

int TCustomWSocket::SendString(const std::string& text)
{
    if (text.empty())
        return 0;
    return Send(text.data(), static_cast<int>(text.size()));
}

void TCustomWSocket::QueueData(const void* data, int len)
{
    const char* bytes = static_cast<const char*>(data);
    if (SendQueue.empty())
        SendQueue.push_back(std::make_unique<TBuffer>(SendChunkSize));
    int done = SendQueue.back()->AppendData(bytes, len);
    while (done < len) {
        SendQueue.push_back(std::make_unique<TBuffer>(SendChunkSize));
        done += SendQueue.back()->AppendData(bytes + done, len - done);
    }
}

int TCustomWSocket::RawSend(const char* data, int len)
{
    return ws::send(SocketHandle, data, len, m_sendFlags);
}

void TCustomWSocket::TryToSend()
{
    if (SocketHandle == ws::INVALID_SOCKET || SendQueue.empty())
        return;
    for (;;) {
        int len = 0;
        const char* data = SendQueue.front()->PeekData(len);
        if (len <= 0) {
            if (SendQueue.size() == 1) {
                AllSent = true;
                return;
            }
            SendQueue.pop_front();
            continue;
        }
        const int sent = RawSend(data, len);
        if (sent > 0 && OnSendData)
            OnSendData(this, sent);
        if (sent == 0)
            return;
        if (sent < 0) {
            const int code = ws::WSAGetLastError();
            switch (code) {
            case ws::WSAECONNRESET:
            case ws::WSAENOTSOCK:
            case ws::WSAENOTCONN:
            case ws::WSAEINVAL:
            case ws::WSAECONNABORTED:
                CloseNotified = true;
                Close();
                FireSessionClosed(static_cast<std::uint16_t>(code));
                return;
            case ws::WSAEWOULDBLOCK:
                return; // resumed by the next FD_WRITE
            default:
                ReportSocketError("TryToSend failed");
                return;
            }
        }
        // A short write is not taken as "buffer full": only a send that would
        // block re-arms FD_WRITE, so stopping here could leave the rest queued
        // for good. The next pass either writes more or gets that refusal.
        SendQueue.front()->RemoveData(sent);
    }
}

void TCustomWSocket::DeleteBufferedData() { SendQueue.clear(); }

// ---------------------------------------------------------------------------
// Closing

void TCustomWSocket::Close() { DoClose(true, 0); }

void TCustomWSocket::ShutdownSocket(int how)
{
    if (SocketHandle != ws::INVALID_SOCKET)
        ws::shutdown(SocketHandle, how);
}

void TCustomWSocket::PumpMessages() { platform::Application::Instance().ProcessMessages(); }

void TCustomWSocket::DoClose(bool shutdown, int error)
{
    if (SocketHandle == ws::INVALID_SOCKET) {
        if (m_state != wsClosed) {
            SetState(wsClosed);
            ResetToDefaults();
        }
        return;
    }
    if (m_state == wsClosed)
        return;
    if (shutdown)
        ShutdownSocket(ws::SD_SEND);
    for (;;) {
        if (ws::closesocket(SocketHandle) == 0) {
            SocketHandle = ws::INVALID_SOCKET;
            break;
        }
        m_lastError = ws::WSAGetLastError();
        if (m_lastError == ws::WSAEWOULDBLOCK) {
            PumpMessages(); // a lingering close that has not finished yet
            continue;
        }
        SocketHandle = ws::INVALID_SOCKET;
        if (m_lastError == ws::WSANOTINITIALISED)
            break;
        ws::WSASetLastError(m_lastError);
        ReportSocketError("Disconnect (closesocket)");
        return;
    }
    SetState(wsClosed);
    if (!m_destroying && !CloseNotified) {
        CloseNotified = true;
        FireSessionClosed(static_cast<std::uint16_t>(error));
    }
    try {
        ResetToDefaults();
    } catch (...) {
    }
}

void TCustomWSocket::AbortConnection()
{
    DeleteBufferedData();
    if (m_state == wsConnected && ProtoNumber == ws::IPPROTO_TCP) {
        m_lingerOnOff = wsLingerOff;
        ApplyLinger();
    }
    DoClose(false, 0);
}

// ---------------------------------------------------------------------------
// Error reporting and events

void TCustomWSocket::ReportError(const std::string& message)
{
    if (OnError) {
        FireError();
        return;
    }
    throw ESocketException(message);
}

void TCustomWSocket::ReportSocketError(const std::string& functionName)
{
    const int code = ws::WSAGetLastError();
    const std::string message =
        "Error " + std::to_string(code) + " in function " + functionName + "\r\n" + ErrorDescription(code);
    if (code == ws::WSAECONNRESET || code == ws::WSAENOTCONN) {
        if (SocketHandle != ws::INVALID_SOCKET)
            ws::closesocket(SocketHandle);
        SocketHandle = ws::INVALID_SOCKET;
        if (m_state != wsClosed)
            FireSessionClosed(static_cast<std::uint16_t>(code));
        SetState(wsClosed);
    }
    m_lastError = code;
    ReportError(message);
}

bool TCustomWSocket::FireDataAvailable(std::uint16_t error)
{
    if (!OnDataAvailable)
        return false;
    OnDataAvailable(this, error);
    return true;
}

void TCustomWSocket::FireSessionAvailable(std::uint16_t error)
{
    if (OnSessionAvailable)
        OnSessionAvailable(this, error);
}

void TCustomWSocket::FireSessionConnected(std::uint16_t error)
{
    if (OnSessionConnected)
        OnSessionConnected(this, error);
}

void TCustomWSocket::FireSessionClosed(std::uint16_t error)
{
    if (OnSessionClosed)
        OnSessionClosed(this, error);
}

void TCustomWSocket::FireDataSent(std::uint16_t error)
{
    if (OnDataSent)
        OnDataSent(this, error);
}

void TCustomWSocket::FireChangeState(TSocketState oldState, TSocketState newState)
{
    if (OnChangeState)
        OnChangeState(this, oldState, newState);
}

void TCustomWSocket::FireError()
{
    if (OnError)
        OnError(this);
}

} // namespace net
