// SPDX-License-Identifier: GPL-3.0-or-later
// The event-driven TCP client connection: TClientSocket and the socket object
// it owns.
//
// State model: a socket object goes Closed → (Resolving host) → Connecting →
// Connected → Closed, or ends a failed connect in Failed (handle open, not
// connected). Name lookup and connect are started by a call and completed by
// a message to the object's notification window, so every step and every
// event runs on the GUI thread, one message at a time. The component's
// `Active` turns true only when the connect notice is handled and false when
// the disconnect is.
//
// The per-object lock is re-entrant because the error paths of sending and
// receiving drop the connection, and dropping calls OnDisconnect, while the
// lock is already held.
#pragma once

#include "platform/toolkit/Exception.h"
#include "platform/core/NotifyWindow.h"
#include "platform/winsock/WinSock.h"

#include <QObject>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

class ESocketError : public platform::Exception {
public:
    using Exception::Exception;
};

namespace scktcomp {
Q_NAMESPACE

enum TClientType { ctNonBlocking, ctBlocking };
Q_ENUM_NS(TClientType)

enum TErrorEvent { eeGeneral, eeSend, eeReceive, eeConnect, eeDisconnect, eeAccept, eeLookup };
Q_ENUM_NS(TErrorEvent)

enum TSocketEventKind { seLookup, seConnecting, seConnect, seDisconnect, seListen, seAccept, seWrite, seRead };
Q_ENUM_NS(TSocketEventKind)

enum TLookupPhase { lpIdle, lpResolvingHost, lpResolvingService };

} // namespace scktcomp

using scktcomp::TClientType;
using scktcomp::TErrorEvent;
using scktcomp::TLookupPhase;
using scktcomp::TSocketEventKind;
using enum scktcomp::TClientType;
using enum scktcomp::TErrorEvent;
using enum scktcomp::TSocketEventKind;
using enum scktcomp::TLookupPhase;

// Private messages of a socket object's notification window.
constexpr unsigned WM_SOCKET_EVENT = platform::WM_USER + 1;
constexpr unsigned WM_SOCKET_FREE = platform::WM_USER + 2;
constexpr unsigned WM_LOOKUP_DONE = platform::WM_USER + 3;

// The error number reported when neither a host nor an address was given.
constexpr int kNoAddressError = 1110;

class TCustomWinSocket {
public:
    using SOCKET = platform::winsock::SOCKET;
    using EventCallback = std::function<void(TCustomWinSocket* Socket, TSocketEventKind Kind)>;
    using ErrorCallback = std::function<void(TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode)>;

    explicit TCustomWinSocket(SOCKET socket);
    virtual ~TCustomWinSocket();

    TCustomWinSocket(const TCustomWinSocket&) = delete;
    TCustomWinSocket& operator=(const TCustomWinSocket&) = delete;

    bool IsConnected() const { return m_connected; }
    SOCKET SocketHandle() const { return m_socket; }
    long AsyncEventMask() const { return m_asyncEventMask; }
    TLookupPhase LookupPhase() const { return m_lookupPhase; }
    const platform::winsock::sockaddr_in& PeerAddress() const { return m_addr; }
    // The notification window, created on first use.
    platform::HWND Handle() { return WindowHandle(); }
    void* Data = nullptr;

    // Returns 0 without sending while not connected; otherwise send()'s result.
    int SendBytes(const void* buffer, int count);
    int SendString(const std::string& text);
    int BytesWaiting();
    // How many received bytes must wait before a read notice (SO_RCVLOWAT;
    // 1: every arrival). A peer that closes is still reported at once.
    bool SetReceiveLowWater(int bytes);
    // A count of -1 asks how much is waiting and reads nothing.
    int ReceiveBytes(void* buffer, int count);
    std::string ReceiveString();

    void SetOnSocketEvent(EventCallback callback) { m_onSocketEvent = std::move(callback); }
    void SetOnErrorEvent(ErrorCallback callback) { m_onErrorEvent = std::move(callback); }

    // Resolves and connects; every step after the lookup notice is completed
    // by a later message unless `blocking`.
    void StartConnect(const std::string& host, const std::string& address, const std::string& service,
                      std::uint16_t port, bool blocking);

    virtual void AcceptReady(SOCKET socket);
    virtual void ConnectDone(SOCKET socket);
    // Cancels a running lookup; for the current handle fires the disconnect
    // notice first, then closes it.
    virtual void DropConnection(SOCKET socket);
    virtual void ReadReady(SOCKET socket);
    virtual void WriteReady(SOCKET socket);

    virtual void NotifyEvent(SOCKET socket, TSocketEventKind kind);
    virtual void NotifyError(SOCKET socket, TErrorEvent errorEvent, int& errorCode);

protected:
    void SetAsyncEventMask(long mask);
    bool m_connected = false;

private:
    platform::HWND WindowHandle();
    platform::LRESULT WindowProc(unsigned message, platform::WPARAM wParam, platform::LPARAM lParam);
    void SocketMessage(SOCKET socket, platform::LPARAM lParam);
    void LookupDone(platform::winsock::HANDLE task, platform::LPARAM lParam);
    void AdvanceSetup(const std::string& host, const std::string& address, const std::string& service,
                      std::uint16_t port, bool client, int queueSize);
    void AdvanceStep(const std::string& host, const std::string& address, const std::string& service,
                     std::uint16_t port, bool client, int queueSize);
    void ResolveBlocking(const std::string& host, const std::string& address, const std::string& service,
                         std::uint16_t port);
    void ConnectStep();
    void SelectEvents();
    void AbandonAttempt();
    void ResetPeerAddress();

    SOCKET m_socket;
    std::unique_ptr<platform::NotifyWindow> m_window;
    platform::winsock::sockaddr_in m_addr{};
    long m_asyncEventMask = platform::winsock::FD_READ | platform::winsock::FD_WRITE |
                            platform::winsock::FD_CONNECT | platform::winsock::FD_CLOSE;
    TLookupPhase m_lookupPhase = lpIdle;
    platform::winsock::HANDLE m_lookupRequest = 0;
    EventCallback m_onSocketEvent;
    ErrorCallback m_onErrorEvent;
    std::recursive_mutex m_lock;
    std::unique_ptr<char[]> m_lookupBuffer;
    std::unordered_set<SOCKET> m_abandoned; // handles closed for a newer attempt
    std::string m_savedService;
    std::uint16_t m_savedPort = 0;
    bool m_savedClient = true;
    int m_savedQueueSize = 0;
};

class TClientWinSocket : public TCustomWinSocket {
public:
    explicit TClientWinSocket(SOCKET socket);

    TClientType ClientType() const { return m_clientType; }
    void SetClientType(TClientType value);

    void ConnectDone(SOCKET socket) override;

private:
    TClientType m_clientType = ctNonBlocking;
};

class TAbstractSocket : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool Active READ Active WRITE SetActive)
    Q_PROPERTY(QString Address READ AddressText WRITE SetAddressText)
    Q_PROPERTY(QString Host READ HostText WRITE SetHostText)
    Q_PROPERTY(int Port READ Port WRITE SetPort)
    Q_PROPERTY(QString Service READ ServiceText WRITE SetServiceText)

public:
    explicit TAbstractSocket(QObject* owner = nullptr) : QObject(owner) {}

    bool Active() const { return m_active; }
    void SetActive(bool value);

    const std::string& Address() const { return m_address; }
    void SetAddress(const std::string& value);
    const std::string& Host() const { return m_host; }
    void SetHost(const std::string& value);
    int Port() const { return m_port; }
    void SetPort(int value);
    const std::string& Service() const { return m_service; }
    void SetService(const std::string& value);

    // The form reader brackets property loading with these: a stored Active
    // is applied only once every other property has its value.
    void BeginLoading() { m_loading = true; }
    void Loaded();

protected:
    virtual void ApplyActive(bool value) = 0;
    void SetText(std::string& field, const std::string& value);

    bool m_active = false;

private:
    QString AddressText() const { return QString::fromLatin1(m_address); }
    void SetAddressText(const QString& value) { SetAddress(value.toLatin1().toStdString()); }
    QString HostText() const { return QString::fromLatin1(m_host); }
    void SetHostText(const QString& value) { SetHost(value.toLatin1().toStdString()); }
    QString ServiceText() const { return QString::fromLatin1(m_service); }
    void SetServiceText(const QString& value) { SetService(value.toLatin1().toStdString()); }

    std::string m_address;
    std::string m_host;
    int m_port = 0;
    std::string m_service;
    bool m_loading = false;
    bool m_streamedActive = false;
};

using TSocketNotifyEvent = std::function<void(QObject* Sender, TCustomWinSocket* Socket)>;
using TSocketErrorEvent =
    std::function<void(QObject* Sender, TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode)>;

class TCustomSocket : public TAbstractSocket {
    Q_OBJECT

public:
    using TAbstractSocket::TAbstractSocket;

    TSocketNotifyEvent OnLookup;
    TSocketNotifyEvent OnConnect;
    TSocketNotifyEvent OnConnecting;
    TSocketNotifyEvent OnDisconnect;
    TSocketNotifyEvent OnListen;
    TSocketNotifyEvent OnAccept;
    TSocketNotifyEvent OnRead;
    TSocketNotifyEvent OnWrite;
    TSocketErrorEvent OnError;

protected:
    void DoEvent(TCustomWinSocket* socket, TSocketEventKind kind);
    void DoError(TCustomWinSocket* socket, TErrorEvent errorEvent, int& errorCode);
};

class TClientSocket : public TCustomSocket {
    Q_OBJECT
    Q_PROPERTY(scktcomp::TClientType ClientType READ ClientType WRITE SetClientType)

public:
    Q_INVOKABLE explicit TClientSocket(QObject* owner = nullptr);
    ~TClientSocket() override;

    TClientWinSocket* WinSocket() const { return m_clientSocket.get(); }

    TClientType ClientType() const { return m_clientSocket->ClientType(); }
    void SetClientType(TClientType value) { m_clientSocket->SetClientType(value); }

    void OpenConnection() { SetActive(true); }
    void CloseConnection() { SetActive(false); }

protected:
    void ApplyActive(bool value) override;

private:
    std::unique_ptr<TClientWinSocket> m_clientSocket;
};
