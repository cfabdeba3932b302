// SPDX-License-Identifier: GPL-3.0-or-later
// Threading: GUI thread only. Notices arrive on the socket object's
// notification window; an exception that leaves a notice handler is shown in
// the application's error box by the window's dispatch.
#include "net/ScktComp.h"

#include <QString>
#include <algorithm>
#include <cstring>

namespace ws = platform::winsock;

namespace {

constexpr int kLookupBufferSize = ws::MAXGETHOSTSTRUCT;

QString WinSockMessage(int code, const char* api)
{
    return QStringLiteral("Windows socket error: %1 (%2), on API '%3'")
        .arg(QString::fromLocal8Bit(ws::ErrorText(code)), QString::number(code), QString::fromLatin1(api));
}

// 0 for success; WSAEWOULDBLOCK is returned, every other failure raised.
int CheckWinsock(int result, const char* api)
{
    if (result == 0)
        return 0;
    const int error = ws::WSAGetLastError();
    if (error == ws::WSAEWOULDBLOCK)
        return error;
    throw ESocketError(WinSockMessage(error, api));
}

bool SameText(const std::string& a, const std::string& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

TErrorEvent ErrorEventFor(int event)
{
    switch (event) {
    case ws::FD_CONNECT:
        return eeConnect;
    case ws::FD_CLOSE:
        return eeDisconnect;
    case ws::FD_READ:
        return eeReceive;
    case ws::FD_WRITE:
        return eeSend;
    case ws::FD_ACCEPT:
        return eeAccept;
    default:
        return eeGeneral;
    }
}

} // namespace

// TCustomWinSocket ------------------------------------------------------------

TCustomWinSocket::TCustomWinSocket(SOCKET socket) : m_connected(socket != ws::INVALID_SOCKET), m_socket(socket)
{
    ResetPeerAddress();
    ws::WSADATA data;
    const int result = ws::WSAStartup(0x0101, &data);
    if (result != 0)
        throw ESocketError(WinSockMessage(result, "WSAStartup"));
}

TCustomWinSocket::~TCustomWinSocket()
{
    // No event reaches the owner from here on; the error callback stays.
    m_onSocketEvent = nullptr;
    try {
        // A handle that never connected (or a running lookup) goes too,
        // quietly: nobody will use it again.
        if (m_socket != ws::INVALID_SOCKET || m_lookupRequest != 0)
            DropConnection(m_socket);
    } catch (const ESocketError&) {
        // Nothing left to report to during destruction.
    }
    m_window.reset();
    ws::WSACleanup();
}

platform::HWND TCustomWinSocket::WindowHandle()
{
    if (!m_window)
        m_window = std::make_unique<platform::NotifyWindow>(
            [this](unsigned message, platform::WPARAM wParam, platform::LPARAM lParam) {
                return WindowProc(message, wParam, lParam);
            });
    return m_window->Handle();
}

platform::LRESULT TCustomWinSocket::WindowProc(unsigned message, platform::WPARAM wParam, platform::LPARAM lParam)
{
    switch (message) {
    case WM_SOCKET_EVENT:
        SocketMessage(wParam, lParam);
        break;
    case WM_LOOKUP_DONE:
        LookupDone(wParam, lParam);
        break;
    default: // WM_SOCKET_FREE belongs to the server side, which clients lack
        break;
    }
    return 0;
}

void TCustomWinSocket::SocketMessage(SOCKET socket, platform::LPARAM lParam)
{
    const int event = ws::WSAGETSELECTEVENT(lParam);
    // A handle given up for a newer attempt may still have its connect
    // outcome queued; it must not pass for the newer attempt's outcome.
    if (m_abandoned.contains(socket))
        return;
    if (const int error = ws::WSAGETSELECTERROR(lParam); error != 0) {
        int code = error;
        NotifyError(socket, ErrorEventFor(event), code);
        if (code != 0)
            throw ESocketError(QStringLiteral("Asynchronous socket error %1").arg(code));
        return;
    }
    switch (event) {
    case ws::FD_CONNECT:
        ConnectDone(socket);
        break;
    case ws::FD_CLOSE:
        DropConnection(socket);
        break;
    case ws::FD_READ:
        ReadReady(socket);
        break;
    case ws::FD_WRITE:
        WriteReady(socket);
        break;
    case ws::FD_ACCEPT:
        AcceptReady(socket);
        break;
    default:
        break;
    }
}

void TCustomWinSocket::LookupDone(ws::HANDLE task, platform::LPARAM lParam)
{
    if (m_lookupRequest == 0 || task != m_lookupRequest)
        return;
    m_lookupRequest = 0;
    if (const int error = ws::WSAGETASYNCERROR(lParam); error != 0) {
        int code = error;
        NotifyError(m_socket, eeLookup, code);
        DropConnection(m_socket);
        if (code != 0)
            throw ESocketError(WinSockMessage(error, "ASync Lookup"));
        return;
    }
    if (m_lookupPhase == lpResolvingHost) {
        const auto* host = reinterpret_cast<const ws::hostent*>(m_lookupBuffer.get());
        std::memcpy(&m_addr.sin_addr.s_addr, host->h_addr_list[0], sizeof m_addr.sin_addr.s_addr);
        AdvanceSetup({}, {}, m_savedService, m_savedPort, m_savedClient, m_savedQueueSize);
    } else if (m_lookupPhase == lpResolvingService) {
        const auto* service = reinterpret_cast<const ws::servent*>(m_lookupBuffer.get());
        m_addr.sin_port = static_cast<std::uint16_t>(service->s_port);
        m_savedPort = 0;
        m_savedService.clear();
        AdvanceSetup({}, {}, {}, 0, m_savedClient, m_savedQueueSize);
    }
}

void TCustomWinSocket::StartConnect(const std::string& host, const std::string& address, const std::string& service,
                                    std::uint16_t port, bool blocking)
{
    if (m_connected)
        throw ESocketError("Socket already open");
    AbandonAttempt();
    m_socket = ws::socket(ws::AF_INET, ws::SOCK_STREAM, ws::IPPROTO_IP);
    if (m_socket == ws::INVALID_SOCKET)
        throw ESocketError("Can't create new socket");
    try {
        NotifyEvent(m_socket, seLookup);
        if (blocking) {
            ResolveBlocking(host, address, service, port);
            ConnectStep();
        } else {
            AdvanceSetup(host, address, service, port, true, 0);
        }
    } catch (...) {
        DropConnection(m_socket);
        throw;
    }
}

// A handle left by a failed or still running attempt is closed without any
// event, and its lookup cancelled, so its answer can never land in the buffer
// the new attempt uses.
void TCustomWinSocket::AbandonAttempt()
{
    if (m_lookupRequest != 0) {
        ws::WSACancelAsyncRequest(m_lookupRequest);
        m_lookupRequest = 0;
    }
    if (m_socket != ws::INVALID_SOCKET) {
        ws::closesocket(m_socket);
        m_abandoned.insert(m_socket);
    }
    m_socket = ws::INVALID_SOCKET;
    m_lookupPhase = lpIdle;
    ResetPeerAddress();
}

void TCustomWinSocket::AdvanceSetup(const std::string& host, const std::string& address, const std::string& service,
                                    std::uint16_t port, bool client, int queueSize)
{
    try {
        AdvanceStep(host, address, service, port, client, queueSize);
    } catch (...) {
        DropConnection(m_socket);
        throw;
    }
}

void TCustomWinSocket::AdvanceStep(const std::string& host, const std::string& address, const std::string& service,
                                   std::uint16_t port, bool client, int queueSize)
{
    do {
        switch (m_lookupPhase) {
        case lpIdle:
            if (!host.empty()) {
                if (!m_lookupBuffer)
                    m_lookupBuffer = std::make_unique<char[]>(kLookupBufferSize);
                m_lookupRequest = ws::WSAAsyncGetHostByName(WindowHandle(), WM_LOOKUP_DONE, host.c_str(),
                                                            m_lookupBuffer.get(), kLookupBufferSize);
                if (m_lookupRequest == 0)
                    CheckWinsock(1, "WSAASyncGetHostByName");
                m_savedService = service;
                m_savedPort = port;
                m_savedClient = client;
                m_savedQueueSize = queueSize;
                m_lookupPhase = lpResolvingHost;
                return;
            }
            if (!address.empty()) {
                m_lookupPhase = lpResolvingHost;
                m_addr.sin_addr.s_addr = ws::inet_addr(address.c_str());
                break;
            }
            {
                int code = kNoAddressError;
                NotifyError(m_socket, eeLookup, code);
                DropConnection(m_socket);
                if (code != 0)
                    throw ESocketError("No address specified");
                return;
            }
        case lpResolvingHost:
            if (!service.empty()) {
                m_lookupRequest = ws::WSAAsyncGetServByName(WindowHandle(), WM_LOOKUP_DONE, service.c_str(), "tcp",
                                                            m_lookupBuffer.get(), kLookupBufferSize);
                if (m_lookupRequest == 0)
                    CheckWinsock(1, "WSAASyncGetServByName");
                m_lookupPhase = lpResolvingService;
                return;
            }
            m_addr.sin_port = ws::htons(port);
            m_lookupPhase = lpResolvingService;
            break;
        case lpResolvingService:
            m_lookupPhase = lpIdle;
            if (client)
                ConnectStep();
            break;
        }
    } while (m_lookupPhase != lpIdle);
}

void TCustomWinSocket::ResolveBlocking(const std::string& host, const std::string& address,
                                       const std::string& service, std::uint16_t port)
{
    if (!host.empty()) {
        const ws::hostent* entry = ws::gethostbyname(host.c_str());
        if (entry == nullptr)
            CheckWinsock(1, "gethostbyname");
        else
            std::memcpy(&m_addr.sin_addr.s_addr, entry->h_addr_list[0], sizeof m_addr.sin_addr.s_addr);
    } else if (!address.empty()) {
        m_addr.sin_addr.s_addr = ws::inet_addr(address.c_str());
    } else {
        throw ESocketError("No address specified");
    }
    if (!service.empty()) {
        const ws::servent* entry = ws::getservbyname(service.c_str(), "tcp");
        if (entry == nullptr)
            CheckWinsock(1, "getservbyname");
        else
            m_addr.sin_port = static_cast<std::uint16_t>(entry->s_port);
    } else {
        m_addr.sin_port = ws::htons(port);
    }
}

void TCustomWinSocket::SelectEvents()
{
    if (m_asyncEventMask != 0) {
        ws::WSAAsyncSelect(m_socket, WindowHandle(), WM_SOCKET_EVENT, m_asyncEventMask);
        return;
    }
    ws::WSAAsyncSelect(m_socket, 0, 0, 0);
    ws::u_long blocking = 0;
    ws::ioctlsocket(m_socket, ws::FIONBIO, &blocking);
}

void TCustomWinSocket::ConnectStep()
{
    SelectEvents();
    NotifyEvent(m_socket, seConnecting);
    if (ws::connect(m_socket, reinterpret_cast<const ws::sockaddr*>(&m_addr), sizeof m_addr) != 0)
        CheckWinsock(ws::SOCKET_ERROR, "connect");
    m_lookupPhase = lpIdle;
    if ((m_asyncEventMask & ws::FD_CONNECT) != 0)
        return;
    m_connected = m_socket != ws::INVALID_SOCKET;
    NotifyEvent(m_socket, seConnect);
}

void TCustomWinSocket::SetAsyncEventMask(long mask)
{
    if (mask == m_asyncEventMask)
        return;
    m_asyncEventMask = mask;
    if (m_socket != ws::INVALID_SOCKET)
        SelectEvents();
}

void TCustomWinSocket::ResetPeerAddress()
{
    m_addr = {};
    m_addr.sin_family = ws::AF_INET;
    m_addr.sin_addr.s_addr = ws::INADDR_ANY;
}

void TCustomWinSocket::AcceptReady(SOCKET) {}

void TCustomWinSocket::ConnectDone(SOCKET) {}

void TCustomWinSocket::DropConnection(SOCKET socket)
{
    std::lock_guard guard(m_lock);
    if (m_lookupRequest != 0) {
        if (ws::WSACancelAsyncRequest(m_lookupRequest) != 0)
            CheckWinsock(1, "WSACancelASyncRequest");
        m_lookupRequest = 0;
    }
    if (socket == ws::INVALID_SOCKET || socket != m_socket)
        return;
    // The owner sees the disconnect while the handle is still open.
    NotifyEvent(socket, seDisconnect);
    CheckWinsock(ws::closesocket(socket), "closesocket");
    m_socket = ws::INVALID_SOCKET;
    m_lookupPhase = lpIdle;
    ResetPeerAddress();
    m_connected = false;
}

void TCustomWinSocket::ReadReady(SOCKET socket)
{
    if (socket != ws::INVALID_SOCKET && socket == m_socket)
        NotifyEvent(socket, seRead);
}

void TCustomWinSocket::WriteReady(SOCKET socket)
{
    if (socket != ws::INVALID_SOCKET && socket == m_socket)
        NotifyEvent(socket, seWrite);
}

void TCustomWinSocket::NotifyEvent(SOCKET, TSocketEventKind kind)
{
    if (m_onSocketEvent)
        m_onSocketEvent(this, kind);
}

void TCustomWinSocket::NotifyError(SOCKET, TErrorEvent errorEvent, int& errorCode)
{
    if (m_onErrorEvent)
        m_onErrorEvent(this, errorEvent, errorCode);
}

int TCustomWinSocket::SendBytes(const void* buffer, int count)
{
    std::lock_guard guard(m_lock);
    if (!m_connected)
        return 0;
    const int sent = ws::send(m_socket, static_cast<const char*>(buffer), count, 0);
    if (sent != ws::SOCKET_ERROR)
        return sent;
    const int error = ws::WSAGetLastError();
    if (error == ws::WSAEWOULDBLOCK)
        return ws::SOCKET_ERROR;
    int code = error;
    NotifyError(m_socket, eeSend, code);
    DropConnection(m_socket);
    if (code != 0)
        throw ESocketError(WinSockMessage(code, "send"));
    return ws::SOCKET_ERROR;
}

int TCustomWinSocket::SendString(const std::string& text)
{
    return SendBytes(text.data(), static_cast<int>(text.size()));
}

int TCustomWinSocket::BytesWaiting()
{
    std::lock_guard guard(m_lock);
    if (!m_connected)
        return 0;
    ws::u_long waiting = 0;
    if (ws::ioctlsocket(m_socket, ws::FIONREAD, &waiting) != 0)
        return 0;
    return static_cast<int>(waiting);
}

bool TCustomWinSocket::SetReceiveLowWater(int bytes)
{
    std::lock_guard guard(m_lock);
    return m_connected && ws::setsockopt(m_socket, ws::SOL_SOCKET, ws::SO_RCVLOWAT,
                                         reinterpret_cast<const char*>(&bytes), sizeof bytes) == 0;
}

int TCustomWinSocket::ReceiveBytes(void* buffer, int count)
{
    if (count == -1)
        return BytesWaiting();
    std::lock_guard guard(m_lock);
    if (!m_connected)
        return 0;
    const int received = ws::recv(m_socket, static_cast<char*>(buffer), count, 0);
    if (received != ws::SOCKET_ERROR)
        return received;
    const int error = ws::WSAGetLastError();
    if (error == ws::WSAEWOULDBLOCK)
        return ws::SOCKET_ERROR;
    int code = error;
    NotifyError(m_socket, eeReceive, code);
    DropConnection(m_socket);
    if (code != 0)
        throw ESocketError(WinSockMessage(code, "recv"));
    return ws::SOCKET_ERROR;
}

std::string TCustomWinSocket::ReceiveString()
{
    std::string text(static_cast<size_t>(BytesWaiting()), '\0');
    const int received = ReceiveBytes(text.data(), static_cast<int>(text.size()));
    text.resize(received > 0 ? static_cast<size_t>(received) : 0);
    return text;
}

// TClientWinSocket ------------------------------------------------------------

TClientWinSocket::TClientWinSocket(SOCKET socket) : TCustomWinSocket(socket) {}

void TClientWinSocket::SetClientType(TClientType value)
{
    if (value == m_clientType)
        return;
    if (IsConnected())
        throw ESocketError("Can't change value while socket is active");
    m_clientType = value;
    SetAsyncEventMask(value == ctBlocking ? 0
                                          : ws::FD_READ | ws::FD_WRITE | ws::FD_CONNECT | ws::FD_CLOSE);
}

void TClientWinSocket::ConnectDone(SOCKET socket)
{
    m_connected = true;
    NotifyEvent(socket, seConnect);
}

// TAbstractSocket -------------------------------------------------------------

void TAbstractSocket::SetActive(bool value)
{
    if (value == m_active)
        return;
    if (m_loading)
        m_streamedActive = value;
    else
        ApplyActive(value);
}

void TAbstractSocket::Loaded()
{
    m_loading = false;
    if (m_streamedActive)
        SetActive(true);
}

void TAbstractSocket::SetText(std::string& field, const std::string& value)
{
    if (SameText(value, field))
        return;
    if (!m_loading && m_active)
        throw ESocketError("Can't change value while socket is active");
    field = value;
}

void TAbstractSocket::SetAddress(const std::string& value) { SetText(m_address, value); }
void TAbstractSocket::SetHost(const std::string& value) { SetText(m_host, value); }
void TAbstractSocket::SetService(const std::string& value) { SetText(m_service, value); }

void TAbstractSocket::SetPort(int value)
{
    if (value == m_port)
        return;
    if (!m_loading && m_active)
        throw ESocketError("Can't change value while socket is active");
    m_port = value;
}

// TCustomSocket ---------------------------------------------------------------

void TCustomSocket::DoEvent(TCustomWinSocket* socket, TSocketEventKind kind)
{
    const auto fire = [&](const TSocketNotifyEvent& handler) {
        if (handler)
            handler(this, socket);
    };
    switch (kind) {
    case seLookup:
        return fire(OnLookup);
    case seConnecting:
        return fire(OnConnecting);
    case seConnect:
        m_active = true;
        return fire(OnConnect);
    case seDisconnect:
        m_active = false;
        return fire(OnDisconnect);
    case seListen:
        m_active = true;
        return fire(OnListen);
    case seAccept:
        return fire(OnAccept);
    case seWrite:
        return fire(OnWrite);
    case seRead:
        return fire(OnRead);
    }
}

void TCustomSocket::DoError(TCustomWinSocket* socket, TErrorEvent errorEvent, int& errorCode)
{
    if (OnError)
        OnError(this, socket, errorEvent, errorCode);
}

// TClientSocket ---------------------------------------------------------------

TClientSocket::TClientSocket(QObject* owner)
    : TCustomSocket(owner), m_clientSocket(std::make_unique<TClientWinSocket>(ws::INVALID_SOCKET))
{
    m_clientSocket->SetOnSocketEvent([this](TCustomWinSocket* socket, TSocketEventKind kind) { DoEvent(socket, kind); });
    m_clientSocket->SetOnErrorEvent(
        [this](TCustomWinSocket* socket, TErrorEvent errorEvent, int& errorCode) { DoError(socket, errorEvent, errorCode); });
}

TClientSocket::~TClientSocket() = default;

void TClientSocket::ApplyActive(bool value)
{
    if (value == m_clientSocket->IsConnected())
        return;
    if (m_clientSocket->IsConnected())
        m_clientSocket->DropConnection(m_clientSocket->SocketHandle());
    else
        m_clientSocket->StartConnect(Host(), Address(), Service(), static_cast<std::uint16_t>(Port()),
                                     ClientType() == ctBlocking);
}
