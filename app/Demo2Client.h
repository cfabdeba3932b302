// SPDX-License-Identifier: GPL-3.0-or-later
// TfmMain, the main window: a borderless 444 × 200 skinned window built from
// its layout resource Demo2Client.form. It owns every component of the
// program; their events are bound to its handlers in the constructor.
//
// Everything runs on the GUI thread, one handler at a time. The station list
// is the items of Adressliste together with StationAddresses, index for
// index; both only ever change together.
#pragma once

#include "audio/ACMConvertor.h"
#include "audio/ACMOut.h"
#include "audio/AMixer.h"
#include "audio/MeterProbe.h"
#include "app/DirectoryAnswer.h"
#include "app/StreamReader.h"
#include "net/ScktComp.h"
#include "platform/toolkit/TForm.h"
#include "widgets/AnimLabel.h"
#include "widgets/IconTBar.h"
#include "widgets/Tcascont.h"
#include "wire/StreamRecords.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace net {
class TWSocket;
} // namespace net

namespace platform {
class MprisService;
class TBevel;
class TBitBtn;
class TComboBox;
class TImage;
class TLabel;
class TPanel;
class TProgressBar;
class TTimer;
} // namespace platform

class TfmMain : public platform::TForm {
    Q_OBJECT

public:
    // executableDir is where Server.ini is looked for; empty means the
    // directory of the running executable (tests pass a directory of theirs).
    explicit TfmMain(const QString& executableDir = QString(), QWidget* parent = nullptr);
    ~TfmMain() override;

    // Where the layout resource lives (a Qt resource compiled into the program).
    static QString FormPath();
    // Registers every component class the layout resource may name.
    static void RegisterComponentClasses();

    // Elements of the window, in declaration order. Elements that later
    // parts of the program add take their places as marked.
    TClientSocket* CSocket = nullptr;
    TACMOut* ACMO = nullptr;
    TACMConvertor* ACMC = nullptr;
    platform::TPanel* Panel1 = nullptr;
    platform::TLabel* Label7 = nullptr;
    platform::TLabel* Label8 = nullptr;
    platform::TLabel* lblstatus = nullptr;
    platform::TLabel* Label1 = nullptr;
    platform::TLabel* Label2 = nullptr;
    platform::TBitBtn* BitBtn1 = nullptr;
    platform::TBevel* Bevel1 = nullptr;
    platform::TTimer* VUTimer = nullptr;
    platform::TComboBox* Adressliste = nullptr;
    platform::TLabel* Label3 = nullptr;
    platform::TImage* Image1 = nullptr;
    TIconTaskBar* IconTaskBar = nullptr;
    platform::TBitBtn* BitBtn2 = nullptr;
    TAnimLabel* Radioname = nullptr;
    platform::TImage* Image2 = nullptr;
    platform::TTimer* RadiosenderTimer = nullptr;
    TClientSocket* ISocket = nullptr;
    TAnimLabel* Info = nullptr;
    platform::TTimer* Timer1 = nullptr;
    platform::TTimer* KBPSTimer = nullptr;
    platform::TImage* btnconnect = nullptr;
    platform::TImage* Play2 = nullptr;
    platform::TImage* Play3 = nullptr;
    platform::TImage* Play4 = nullptr;
    platform::TImage* Play1 = nullptr;
    platform::TImage* stop2 = nullptr;
    platform::TImage* stop3 = nullptr;
    platform::TImage* stop4 = nullptr;
    platform::TImage* stop1 = nullptr;
    platform::TImage* rec4 = nullptr;
    platform::TImage* rec1 = nullptr;
    platform::TImage* exit4 = nullptr;
    platform::TImage* exit1 = nullptr;
    platform::TImage* btndisconnect = nullptr;
    platform::TImage* LEDButton1 = nullptr;
    platform::TImage* LEDButton2 = nullptr;
    platform::TProgressBar* Ledmeter1 = nullptr;
    platform::TProgressBar* Ledmeter2 = nullptr;
    TCasseteContador* Zeit = nullptr;
    net::TWSocket* HTTPWSocket = nullptr;

    // Puts a text into the status line; the only writer of lblstatus.
    void ShowStatus(const QString& Text);

    // Lifecycle handlers.
    void FormCreate(QObject* Sender);
    void FormShow(QObject* Sender);
    void FormClose(QObject* Sender, TCloseAction& Action);

    // Directory query: a timer tick (or FormShow) starts one, the socket's
    // events send the request, collect the answer and rebuild the station list.
    void RadiosenderTimerTimer(QObject* Sender);
    void HTTPWSocketSessionConnected(QObject* Sender, std::uint16_t Error);
    void HTTPWSocketDataAvailable(QObject* Sender, std::uint16_t Error);
    void HTTPWSocketSessionClosed(QObject* Sender, std::uint16_t Error);
    // One received piece of the answer under way; the data handler's work
    // without the socket, so the answer parsing can be driven directly.
    void CollectDirectoryAnswer(const std::string& chunk);
    void HTTPWSocketError(QObject* Sender);

    // Manual address entry.
    void Label3DblClick(QObject* Sender);
    void Image2DblClick(QObject* Sender);

    // Window buttons.
    void BitBtn1Click(QObject* Sender);
    void BitBtn2Click(QObject* Sender);
    // A click on the notification-area icon: the window comes back.
    void PhantomDoppelKlick(QObject* Sender);
    void LEDButton1MouseDown(QObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    void LEDButton1MouseUp(QObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    void LEDButton1Click(QObject* Sender);
    void LEDButton2MouseDown(QObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    void LEDButton2MouseUp(QObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    void LEDButton2Click(QObject* Sender);

    // The display: both scrolling lines step together; a click on the
    // window's background restarts the info line.
    void Timer1Timer(QObject* Sender);
    void FormClick(QObject* Sender);
    // Stream channel: Play and Stop, the channel's events, the rate readout.
    void btnConnectClick(QObject* Sender);
    void btnDisconnectClick(QObject* Sender);
    // Splits "host:port" at its last colon; false (nothing assigned) without
    // one. A port text that is no integer raises EConvertError.
    bool SplitHostPort(const std::string& Address, std::string& Host, std::int32_t& Port);
    void CSocketLookup(QObject* Sender, TCustomWinSocket* Socket);
    void CSocketConnecting(QObject* Sender, TCustomWinSocket* Socket);
    void CSocketConnect(QObject* Sender, TCustomWinSocket* Socket);
    void CSocketRead(QObject* Sender, TCustomWinSocket* Socket);
    void CSocketDisconnect(QObject* Sender, TCustomWinSocket* Socket);
    void CSocketError(QObject* Sender, TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode);
    void KBPSTimerTimer(QObject* Sender);
    // Adds one read's bytes to the readout second's count (saturating).
    void CountReceived(int Bytes);

    // Level bars: every 50 ms while the stream channel is connected, the
    // bars show the magnitudes of the selected meter control's channels 0
    // and 1. Any failure ends the tick silently.
    void VUTimerTimer(QObject* Sender);

    // Info channel: the greeting, each waiting text as the new info line,
    // errors swallowed.
    void ISocketConnect(QObject* Sender, TCustomWinSocket* Socket);
    void ISocketRead(QObject* Sender, TCustomWinSocket* Socket);
    void ISocketError(QObject* Sender, TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode);

    // Faces and latches of the Play and Stop buttons: a press (any mouse
    // button) flips the latch and shows the sunken face, the release shows
    // the raised one; the indicator is lit while the latch is on.
    void btnconnectMouseDown(QObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    void btnconnectMouseUp(QObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    void btndisconnectMouseDown(QObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    void btndisconnectMouseUp(QObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    void ReleaseStopButton();
    void ReleasePlayButton();
    void DropPlayLatch();
    void DropStopLatch();
    static bool LatchOn(const platform::TImage* button);

    // Read access for tests and for the other parts of the window.
    const TStreamHeader& StreamHeader() const { return m_stream.Header(); }
    std::int32_t BytesSinceReadout() const { return m_stream.BytesSinceReadout(); }
    // The bytes the stream socket waits for before a read notice (1: every batch).
    int StreamReadPortion() const { return m_stream.ReadPortion(); }
    const std::vector<std::string>& Addresses() const { return StationAddresses; }
    const std::string& Directory() const { return DirectoryUrl; }
    const std::string& DirectoryText() const { return m_directory.Text(); }
    TAudioMixer* Mixer(int Index) const { return m_meters.Mixer(Index); }
    bool MetersEnabled() const { return m_meters.Enabled(); }
    std::array<std::int32_t, 3> MeterSelection() const { return m_meters.Selection(); }

    // The drag strip: x 0–439, y 0–24 of the window move it. It is 440
    // pixels wide, not the full 444.
    static bool InDragStrip(const QPoint& windowPoint);

    // Chooses, before the window appears, whether it has a taskbar entry.
    void setVisible(bool visible) override;

    // Desktop media controls: the service follows the stream and the two
    // display lines from now on, and its requests work the window's own
    // controls (Play and Stop as if clicked, Raise as the icon's click,
    // Quit as the exit button). The service must outlive the window.
    void AttachMediaControls(platform::MprisService& media);
    void MediaPlay();
    void MediaStop();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // Presses on the strip's own controls (title picture, caption) drag too.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BindComponents();
    void BindHandlers();
    bool StartDrag(const QPoint& windowPoint, const QMouseEvent& press);
    // While the window follows the mouse itself: moves it, or ends the drag
    // on the release. False when no such drag is under way.
    bool FollowDrag(const QMouseEvent& event);
    // The first line of Server.ini, or empty.
    std::string ReadDirectoryUrl() const;
    // Play's two steps: the list index of the station shown (an Exception
    // when that is past the addresses), and the opening of both channels.
    std::size_t SelectedStation(const QString& shown) const;
    void OpenChannels(const std::string& host, std::int32_t port);
    // The station name of the last header starts scrolling in Radioname.
    void ShowStationName();
    template <typename T>
    T* Component(const char* name);
    // While the window is hidden the scroll and level-meter ticks pause; on
    // showing, the lines take the steps they missed and the bars are read.
    void PauseDisplay();
    void ResumeDisplay();
    // The scroll tick rests while the window is hidden or both lines are blank.
    void UpdateScrollPause();
    // The header of the stream has come whole: its name scrolls and its
    // formats go to the convertor.
    void ApplyStreamHeader();
    // Hands one read's audio to the device, opening it for the stream's format.
    void PlayStreamAudio(const std::vector<char>& audio);
    // What the media controls show: whether the stream plays, and the info
    // text with the station's name.
    void MediaPlaybackChanged(bool playing);
    void PublishNowPlaying();
    using MouseHandler = void (TfmMain::*)(QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int);
    using ClickHandler = void (TfmMain::*)(QObject*);
    void ClickLikeTheMouse(platform::TImage* button, MouseHandler down, ClickHandler click, MouseHandler up);

    // Private state, in declaration order.
    std::vector<std::string> StationAddresses; // Windows-1252 "host:port" texts
    std::string DirectoryUrl;                  // first line of Server.ini, Windows-1252

    QString m_executableDir;
    MeterProbe m_meters;
    StreamReader m_stream;
    DirectoryAnswer m_directory;
    // A drag that no window manager took over: the window follows the mouse,
    // keeping the pressed point under it.
    bool m_dragging = false;
    QPoint m_dragGrip; // the pressed point, relative to the window's position
    QElapsedTimer m_hiddenSince; // valid while the display is paused
    QPointer<platform::MprisService> m_media; // null without desktop media controls
};
