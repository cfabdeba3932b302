// SPDX-License-Identifier: GPL-3.0-or-later
// TCustomWSocket / TWSocket: a non-blocking TCP client socket whose network
// notices arrive as events on the GUI thread.
//
// Threading and state: everything runs on the GUI thread. The socket is
// selected for notices on the component's own hidden window; each notice is
// handled to completion, and an exception escaping a handler is caught at
// that window and never reaches the message loop. The state walks
// wsClosed -> wsOpened -> wsConnecting -> wsConnected -> wsClosed; every
// close ends with a reset to defaults, after which Addr and Port must be
// assigned again. Outgoing data is copied into a queue of fixed-size blocks
// and written whenever the socket takes it.
#pragma once

#include "net/WSockBuf.h"
#include "platform/toolkit/Exception.h"
#include "platform/core/NotifyWindow.h"
#include "platform/winsock/WinSock.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>

namespace net {

class ESocketException : public platform::Exception {
public:
    explicit ESocketException(const std::string& message) : platform::Exception(QString::fromLatin1(message)) {}
};

// Name resolution, blocking. Each raises ESocketException on failure.
std::uint32_t WSocketResolveHost(const std::string& host); // network byte order
int WSocketResolvePort(const std::string& port, const std::string& proto); // host byte order
int WSocketResolveProto(const std::string& proto);
// True for text of the form n.n.n.n (parts up to 255, blanks around allowed).
bool WSocketIsDottedIP(const std::string& text);
// The fixed English text of a WinSock error code.
std::string ErrorDescription(int code);

class TCustomWSocket : public QObject {
    Q_OBJECT

public:
    enum TSocketState { wsInvalidState, wsOpened, wsBound, wsConnecting, wsConnected, wsAccepting, wsListening, wsClosed };
    Q_ENUM(TSocketState)
    enum TSocketSendFlags { wsSendNormal, wsSendUrgent };
    Q_ENUM(TSocketSendFlags)
    enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };
    Q_ENUM(TSocketLingerOnOff)
    enum TWSocketOption { wsoNoReceiveLoop, wsoTcpNoDelay };
    Q_ENUM(TWSocketOption)
    // A set of TWSocketOption, one bit per value.
    using TWSocketOptions = unsigned;
    static constexpr TWSocketOptions OptionBit(TWSocketOption o) { return 1u << o; }

    using TSessionConnected = std::function<void(QObject* Sender, std::uint16_t Error)>;
    using TSessionClosed = TSessionConnected;
    using TSessionAvailable = TSessionConnected;
    using TDataAvailable = TSessionConnected;
    using TDataSent = TSessionConnected;
    using TDnsLookupDone = TSessionConnected;
    using TSendData = std::function<void(QObject* Sender, int BytesSent)>;
    using TChangeState = std::function<void(QObject* Sender, TSocketState OldState, TSocketState NewState)>;
    using TBgExceptionEvent = std::function<void(QObject* Sender, const std::exception& E, bool& CanClose)>;
    using TNotifyEvent = std::function<void(QObject* Sender)>;

    // Messages of the hidden window.
    static constexpr unsigned WM_ASYNCSELECT = platform::WM_USER + 1;
    static constexpr unsigned WM_ASYNCGETHOSTBYNAME = platform::WM_USER + 2;
    static constexpr unsigned WM_ASYNCGETHOSTBYADDR = platform::WM_USER + 3;
    static constexpr unsigned WM_CLOSE_DELAYED = platform::WM_USER + 4;
    static constexpr unsigned WM_FREE_DELAYED = platform::WM_USER + 5;
    static constexpr unsigned WM_WSOCKET_TEST = platform::WM_USER + 6;

    explicit TCustomWSocket(QObject* owner = nullptr);
    ~TCustomWSocket() override;

    // Remote end. Assigning the same text again never reports anything.
    std::string Addr() const { return m_addrStr; }
    void SetAddr(const std::string& value);
    std::string Port() const { return m_portStr; }
    virtual void SetPort(const std::string& value);
    std::string Proto() const { return m_protoStr; }
    virtual void SetProto(const std::string& value);
    std::string LocalAddr() const { return m_localAddr; }
    void SetLocalAddr(const std::string& value);
    std::string LocalPort() const { return m_localPortStr; }
    void SetLocalPort(const std::string& value);

    TSocketState State() const { return m_state; }
    int LastError() const { return m_lastError; }
    int ReadCount() const { return m_readCount; }
    virtual int RcvdCount();
    virtual std::string PeerAddr();
    virtual std::string PeerPort();

    TSocketSendFlags SendFlags() const;
    void SetSendFlags(int value);
    TSocketLingerOnOff LingerOnOff() const { return m_lingerOnOff; }
    void SetLingerOnOff(TSocketLingerOnOff value) { m_lingerOnOff = value; }
    int LingerTimeout() const { return m_lingerTimeout; }
    void SetLingerTimeout(int seconds) { m_lingerTimeout = seconds; }
    TWSocketOptions ComponentOptions() const { return m_options; }
    void SetComponentOptions(TWSocketOptions options) { m_options = options; }
    bool MultiThreaded() const { return m_multiThreaded; }
    void SetMultiThreaded(bool on) { m_multiThreaded = on; }
    int FlushTimeout() const { return m_flushTimeout; }
    void SetFlushTimeout(int seconds) { m_flushTimeout = seconds; }

    virtual void Connect();
    virtual void Close();
    virtual void AbortConnection();
    virtual int Send(const void* data, int len);
    virtual int SendString(const std::string& text);
    virtual int Receive(void* buffer, int len);
    virtual std::string ReceiveString();

    // The hidden window's handle; notices and delayed operations go there.
    platform::HWND Handle() const;

    TSessionConnected OnSessionConnected;
    TDataAvailable OnDataAvailable;
    TSessionClosed OnSessionClosed;
    TDataSent OnDataSent;
    TSendData OnSendData;
    TChangeState OnChangeState;
    TNotifyEvent OnError;
    TBgExceptionEvent OnBgException;
    TSessionAvailable OnSessionAvailable;
    TDnsLookupDone OnDnsLookupDone;

protected:
    virtual platform::LRESULT HandleWindowMessage(unsigned message, platform::WPARAM wParam, platform::LPARAM lParam);
    virtual void ResetToDefaults();
    virtual void DoClose(bool shutdown, int error);
    virtual bool BindLocal();
    virtual int RawSend(const char* data, int len);
    virtual int RawReceive(void* buffer, int len);
    virtual void ReportError(const std::string& message);
    void SetLookedUp(const char* name, const std::string& value, std::string& field, bool& has, bool& ready);
    void ReportSocketError(const std::string& functionName);
    virtual void HandleEventException(const std::exception& e);
    virtual bool FireDataAvailable(std::uint16_t error);
    virtual void FireSessionAvailable(std::uint16_t error);
    virtual void FireSessionConnected(std::uint16_t error);
    virtual void FireSessionClosed(std::uint16_t error);
    virtual void FireDataSent(std::uint16_t error);
    virtual void FireChangeState(TSocketState oldState, TSocketState newState);
    virtual void FireError();
    virtual void ShutdownSocket(int how);
    virtual void PumpMessages();

    void SetState(TSocketState newState);
    // Both return false after reporting a failure.
    bool ApplyLinger();
    void QueueData(const void* data, int len);
    void TryToSend();
    void DeleteBufferedData();

private:
    void HandleSocketNotice(platform::WPARAM socket, int event, std::uint16_t error);
    void ReceiveLoop(std::uint16_t error, TWSocketOptions options);
    void ResolveForConnect();

    std::unique_ptr<platform::NotifyWindow> MessageWindow;
    platform::winsock::SOCKET SocketHandle = platform::winsock::INVALID_SOCKET;

    std::string m_addrStr;
    std::string m_portStr;
    std::string m_protoStr;
    std::string m_localAddr;
    std::string m_localPortStr;
    bool HasAddr = false;
    bool AddrReady = false;
    bool HasPort = false;
    bool PortReady = false;
    bool HasProto = false;
    bool ProtoReady = false;
    bool LocalPortReady = false;

    int ProtoNumber = 6;
    int SocketKind = 1;
    int AddressFamily = 2;
    platform::winsock::sockaddr_in RemoteAddress{};
    int PortNumber = 0;
    int LocalPortNumber = 0;

    std::deque<std::unique_ptr<TBuffer>> SendQueue;
    int SendChunkSize = 1460;
    bool AllSent = true;
    bool CloseNotified = false;
    bool Paused = false;
    bool m_destroying = false;
    long EventMask = 0;

    TSocketState m_state = wsClosed;
    int m_lastError = 0;
    int m_readCount = 0;
    int m_sendFlags = wsSendNormal;
    TSocketLingerOnOff m_lingerOnOff = wsLingerOn;
    int m_lingerTimeout = 0;
    TWSocketOptions m_options = 0;
    bool m_multiThreaded = false;
    int m_flushTimeout = 60;
};

// The published face of the socket, as stored in the window's layout resource.
class TWSocket : public TCustomWSocket {
    Q_OBJECT
    Q_PROPERTY(QString Addr READ AddrText WRITE SetAddrText)
    Q_PROPERTY(QString Port READ PortText WRITE SetPortText)
    Q_PROPERTY(QString Proto READ ProtoText WRITE SetProtoText)
    Q_PROPERTY(QString LocalAddr READ LocalAddrText WRITE SetLocalAddrText)
    Q_PROPERTY(QString LocalPort READ LocalPortText WRITE SetLocalPortText)
    Q_PROPERTY(TSocketSendFlags SendFlags READ SendFlags WRITE SetSendFlagsValue)
    Q_PROPERTY(TSocketLingerOnOff LingerOnOff READ LingerOnOff WRITE SetLingerOnOff)
    Q_PROPERTY(int LingerTimeout READ LingerTimeout WRITE SetLingerTimeout)
    Q_PROPERTY(unsigned ComponentOptions READ ComponentOptions WRITE SetComponentOptions)
    Q_PROPERTY(bool MultiThreaded READ MultiThreaded WRITE SetMultiThreaded)
    Q_PROPERTY(int FlushTimeout READ FlushTimeout WRITE SetFlushTimeout)

public:
    Q_INVOKABLE explicit TWSocket(QObject* owner = nullptr) : TCustomWSocket(owner) {}

    using TCustomWSocket::SetAddr;
    using TCustomWSocket::SetPort;
    using TCustomWSocket::SetProto;

private:
    QString AddrText() const { return QString::fromLatin1(Addr()); }
    void SetAddrText(const QString& v) { SetAddr(v.toLatin1().toStdString()); }
    QString PortText() const { return QString::fromLatin1(Port()); }
    void SetPortText(const QString& v) { SetPort(v.toLatin1().toStdString()); }
    QString ProtoText() const { return QString::fromLatin1(Proto()); }
    void SetProtoText(const QString& v) { SetProto(v.toLatin1().toStdString()); }
    QString LocalAddrText() const { return QString::fromLatin1(LocalAddr()); }
    void SetLocalAddrText(const QString& v) { SetLocalAddr(v.toLatin1().toStdString()); }
    QString LocalPortText() const { return QString::fromLatin1(LocalPort()); }
    void SetLocalPortText(const QString& v) { SetLocalPort(v.toLatin1().toStdString()); }
    void SetSendFlagsValue(TSocketSendFlags v) { SetSendFlags(v); }
};

// The enumerations under their own names, as the components' users write them.
using TSocketState = TCustomWSocket::TSocketState;
using TSocketSendFlags = TCustomWSocket::TSocketSendFlags;
using TSocketLingerOnOff = TCustomWSocket::TSocketLingerOnOff;
using TWSocketOption = TCustomWSocket::TWSocketOption;
using TWSocketOptions = TCustomWSocket::TWSocketOptions;
using enum TCustomWSocket::TSocketState;
using enum TCustomWSocket::TSocketSendFlags;
using enum TCustomWSocket::TSocketLingerOnOff;
using enum TCustomWSocket::TWSocketOption;

} // namespace net
