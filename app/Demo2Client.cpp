// SPDX-License-Identifier: GPL-3.0-or-later
// The main window. GUI thread only; handlers run one at a time through the
// toolkit's dispatch, which shows any escaping exception in the error box.
//
// Sections: start-up and lifecycle · level meters · station list and manual entry · the
// display · window buttons · stream channel · directory query · info channel.
// Further sections (audio) follow the same pattern: handlers bound in
// BindHandlers, one line each. What is logic rather than controls lives in
// classes of its own: StreamReader, DirectoryAnswer, MeterProbe, HostPort.
#include "app/Demo2Client.h"

#include "app/HostPort.h"

#include "audio/AudioClasses.h"
#include "net/WSocket.h"
#include "platform/mpris/MprisService.h"
#include "platform/shell/ShellAPI.h"
#include "platform/toolkit/Application.h"
#include "platform/toolkit/ComponentRegistry.h"
#include "platform/toolkit/Dialogs.h"
#include "platform/toolkit/SysUtils.h"
#include "platform/toolkit/FormReader.h"
#include "platform/toolkit/TBevel.h"
#include "platform/toolkit/TBitBtn.h"
#include "platform/toolkit/TComboBox.h"
#include "platform/toolkit/TImage.h"
#include "platform/toolkit/TLabel.h"
#include "platform/toolkit/TPanel.h"
#include "platform/toolkit/TProgressBar.h"
#include "platform/toolkit/TTimer.h"
#include "platform/core/TextCodec.h"
#include "widgets/AnimLabel.h"
#include "widgets/IconTBar.h"
#include "widgets/Tcascont.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QMouseEvent>
#include <QThread>
#include <QWindow>
#include <fstream>
#include <vector>

using namespace platform;

// ---------------------------------------------------------------------------
// Start-up and lifecycle
// ---------------------------------------------------------------------------

TfmMain::TfmMain(const QString& executableDir, QWidget* parent)
    : TForm(parent),
      m_executableDir(executableDir.isEmpty() ? QCoreApplication::applicationDirPath() : executableDir)
{
    RegisterComponentClasses();
    // A tool window is rarely the active one; its caption's tip must show anyway.
    setAttribute(Qt::WA_AlwaysShowToolTips, true);
    FormReader::ReadFile(*this, FormPath());
    BindComponents();
    BindHandlers();
    // The form has no caption of its own (its title is drawn on the strip),
    // so taskbars and window lists name it as the strip does.
    if (windowTitle().isEmpty())
        setWindowTitle(Label2->Caption());
    setWindowIcon(LoadApplicationIcon());
    UpdateScrollPause();
    FormCreate(this);
}

TfmMain::~TfmMain() = default;

void TfmMain::RegisterComponentClasses()
{
    RegisterToolkitClasses();
    RegisterClass(TClientSocket::staticMetaObject);
    RegisterClass(net::TWSocket::staticMetaObject);
    RegisterAudioClasses();
    RegisterClass(TAnimLabel::staticMetaObject);
    RegisterClass(TCasseteContador::staticMetaObject);
    RegisterClass(TIconTaskBar::staticMetaObject);
}

QString TfmMain::FormPath()
{
    return QStringLiteral(":/app/Demo2Client.form");
}

template <typename T>
T* TfmMain::Component(const char* name)
{
    auto* component = findChild<T*>(QLatin1String(name));
    if (!component)
        throw EFormError(QStringLiteral("%1: component %2 of class %3 is missing")
                             .arg(FormPath(), QLatin1String(name),
                                  ComponentClassName(T::staticMetaObject)));
    return component;
}

void TfmMain::BindComponents()
{
    CSocket = Component<TClientSocket>("CSocket");
    ACMO = Component<TACMOut>("ACMO");
    ACMC = Component<TACMConvertor>("ACMC");
    Panel1 = Component<TPanel>("Panel1");
    Label7 = Component<TLabel>("Label7");
    Label8 = Component<TLabel>("Label8");
    lblstatus = Component<TLabel>("lblstatus");
    Label1 = Component<TLabel>("Label1");
    Label2 = Component<TLabel>("Label2");
    BitBtn1 = Component<TBitBtn>("BitBtn1");
    Bevel1 = Component<TBevel>("Bevel1");
    VUTimer = Component<TTimer>("VUTimer");
    Adressliste = Component<TComboBox>("Adressliste");
    Label3 = Component<TLabel>("Label3");
    Image1 = Component<TImage>("Image1");
    IconTaskBar = Component<TIconTaskBar>("IconTaskBar");
    BitBtn2 = Component<TBitBtn>("BitBtn2");
    Radioname = Component<TAnimLabel>("Radioname");
    Image2 = Component<TImage>("Image2");
    RadiosenderTimer = Component<TTimer>("RadiosenderTimer");
    ISocket = Component<TClientSocket>("ISocket");
    Info = Component<TAnimLabel>("Info");
    Timer1 = Component<TTimer>("Timer1");
    KBPSTimer = Component<TTimer>("KBPSTimer");
    btnconnect = Component<TImage>("btnconnect");
    Play2 = Component<TImage>("Play2");
    Play3 = Component<TImage>("Play3");
    Play4 = Component<TImage>("Play4");
    Play1 = Component<TImage>("Play1");
    stop2 = Component<TImage>("stop2");
    stop3 = Component<TImage>("stop3");
    stop4 = Component<TImage>("stop4");
    stop1 = Component<TImage>("stop1");
    rec4 = Component<TImage>("rec4");
    rec1 = Component<TImage>("rec1");
    exit4 = Component<TImage>("exit4");
    exit1 = Component<TImage>("exit1");
    btndisconnect = Component<TImage>("btndisconnect");
    LEDButton1 = Component<TImage>("LEDButton1");
    LEDButton2 = Component<TImage>("LEDButton2");
    Ledmeter1 = Component<TProgressBar>("Ledmeter1");
    Ledmeter2 = Component<TProgressBar>("Ledmeter2");
    HTTPWSocket = Component<net::TWSocket>("HTTPWSocket");
    Zeit = Component<TCasseteContador>("Zeit");
}

void TfmMain::BindHandlers()
{
    Image1->installEventFilter(this);
    Label2->installEventFilter(this);
    OnShow = [this](QObject* s) { FormShow(s); };
    OnClose = [this](QObject* s, TCloseAction& a) { FormClose(s, a); };
    OnClick = [this](QObject* s) { FormClick(s); };
    Timer1->OnTimer = [this](QObject* s) { Timer1Timer(s); };
    Radioname->OnScrollChange = [this](QObject*) { UpdateScrollPause(); };
    Info->OnScrollChange = [this](QObject*) { UpdateScrollPause(); };
    Label3->OnDblClick = [this](QObject* s) { Label3DblClick(s); };
    Image2->OnDblClick = [this](QObject* s) { Image2DblClick(s); };
    BitBtn1->OnClick = [this](QObject* s) { BitBtn1Click(s); };
    BitBtn2->OnClick = [this](QObject* s) { BitBtn2Click(s); };
    IconTaskBar->OnClick = [this](QObject* s) { PhantomDoppelKlick(s); };
    LEDButton1->OnMouseDown = [this](QObject* s, auto b, auto m, int x, int y) { LEDButton1MouseDown(s, b, m, x, y); };
    LEDButton1->OnMouseUp = [this](QObject* s, auto b, auto m, int x, int y) { LEDButton1MouseUp(s, b, m, x, y); };
    LEDButton1->OnClick = [this](QObject* s) { LEDButton1Click(s); };
    LEDButton2->OnMouseDown = [this](QObject* s, auto b, auto m, int x, int y) { LEDButton2MouseDown(s, b, m, x, y); };
    LEDButton2->OnMouseUp = [this](QObject* s, auto b, auto m, int x, int y) { LEDButton2MouseUp(s, b, m, x, y); };
    LEDButton2->OnClick = [this](QObject* s) { LEDButton2Click(s); };
    btnconnect->OnMouseDown = [this](QObject* s, auto b, auto m, int x, int y) { btnconnectMouseDown(s, b, m, x, y); };
    btnconnect->OnMouseUp = [this](QObject* s, auto b, auto m, int x, int y) { btnconnectMouseUp(s, b, m, x, y); };
    btnconnect->OnClick = [this](QObject* s) { btnConnectClick(s); };
    btndisconnect->OnMouseDown = [this](QObject* s, auto b, auto m, int x, int y) { btndisconnectMouseDown(s, b, m, x, y); };
    btndisconnect->OnMouseUp = [this](QObject* s, auto b, auto m, int x, int y) { btndisconnectMouseUp(s, b, m, x, y); };
    btndisconnect->OnClick = [this](QObject* s) { btnDisconnectClick(s); };
    CSocket->OnLookup = [this](QObject* s, TCustomWinSocket* w) { CSocketLookup(s, w); };
    CSocket->OnConnecting = [this](QObject* s, TCustomWinSocket* w) { CSocketConnecting(s, w); };
    CSocket->OnConnect = [this](QObject* s, TCustomWinSocket* w) { CSocketConnect(s, w); };
    CSocket->OnRead = [this](QObject* s, TCustomWinSocket* w) { CSocketRead(s, w); };
    CSocket->OnDisconnect = [this](QObject* s, TCustomWinSocket* w) { CSocketDisconnect(s, w); };
    CSocket->OnError = [this](QObject* s, TCustomWinSocket* w, TErrorEvent e, int& c) { CSocketError(s, w, e, c); };
    ISocket->OnConnect = [this](QObject* s, TCustomWinSocket* w) { ISocketConnect(s, w); };
    ISocket->OnRead = [this](QObject* s, TCustomWinSocket* w) { ISocketRead(s, w); };
    ISocket->OnError = [this](QObject* s, TCustomWinSocket* w, TErrorEvent e, int& c) { ISocketError(s, w, e, c); };
    KBPSTimer->OnTimer = [this](QObject* s) { KBPSTimerTimer(s); };
    VUTimer->OnTimer = [this](QObject* s) { VUTimerTimer(s); };
    RadiosenderTimer->OnTimer = [this](QObject* s) { RadiosenderTimerTimer(s); };
    HTTPWSocket->OnSessionConnected = [this](QObject* s, std::uint16_t e) { HTTPWSocketSessionConnected(s, e); };
    HTTPWSocket->OnDataAvailable = [this](QObject* s, std::uint16_t e) { HTTPWSocketDataAvailable(s, e); };
    HTTPWSocket->OnSessionClosed = [this](QObject* s, std::uint16_t e) { HTTPWSocketSessionClosed(s, e); };
    HTTPWSocket->OnError = [this](QObject* s) { HTTPWSocketError(s); };
}

void TfmMain::ShowStatus(const QString& Text)
{
    lblstatus->SetCaption(Text);
}

void TfmMain::FormCreate(QObject*)
{
    DirectoryUrl = ReadDirectoryUrl();
    StationAddresses.clear();
    m_meters.SetUp();
    const int maximum = m_meters.Enabled() ? 32767 : 255;
    Ledmeter1->setMaximum(maximum);
    Ledmeter2->setMaximum(maximum);
    ShowStatus(QStringLiteral("Ready"));
}

std::string TfmMain::ReadDirectoryUrl() const
{
    // Server.ini: only its first line counts, taken byte for byte up to the
    // first line break. A missing or unreadable file leaves the URL empty.
    const QString path = QDir(m_executableDir).filePath(QStringLiteral("Server.ini"));
    if (!QFileInfo(path).isFile())
        return std::string();
    std::ifstream file(QFile::encodeName(path).toStdString(), std::ios::binary);
    std::string line;
    char c;
    while (file.get(c) && c != '\n' && c != '\r')
        line.push_back(c);
    return file.bad() ? std::string() : line;
}

void TfmMain::FormShow(QObject*)
{
    // Whether the window has a taskbar button was settled before it
    // appeared (setVisible).
    if (!IconTaskBar->Visible)
        IconTaskBar->ShowIcon();
    // Shown again from the tray while the last query is still under way, the
    // window lets that query refill the list: a second one on its still-open
    // socket fails, and a failed query closes the window.
    if (HTTPWSocket->State() == net::wsClosed)
        RadiosenderTimerTimer(this);
    BringToFront();
}

void TfmMain::FormClose(QObject*, TCloseAction&)
{
    CSocket->CloseConnection();
    ISocket->CloseConnection();
    QThread::msleep(500);
    Application::Instance().ProcessMessages();
    ACMC->SetActive(false);
    ACMO->Close();
    m_meters.Free();
    RadiosenderTimer->SetEnabled(false);
    Timer1->SetEnabled(false);
    KBPSTimer->SetEnabled(false);
    VUTimer->SetEnabled(false);
    Ledmeter1->SetPosition(0);
    Ledmeter2->SetPosition(0);
    Radioname->StopScroll(); // the info line is left as it is
    if (IconTaskBar->Visible)
        IconTaskBar->HideIcon();
    Application::Instance().ProcessMessages();
}

// ---------------------------------------------------------------------------
// Level meters: MeterProbe finds and reads the peak meter; the bars show it.
// ---------------------------------------------------------------------------

void TfmMain::VUTimerTimer(QObject*)
{
    if (!m_meters.Enabled())
        return;
    // A bar refuses a position above 65535; that, or any other failure,
    // ends the tick with whatever was already set.
    try {
        if (!m_meters.Read())
            return;
        Ledmeter1->SetPosition(m_meters.Level(0));
        Ledmeter2->SetPosition(m_meters.Level(1));
    } catch (...) {
    }
}

// ---------------------------------------------------------------------------
// Station list and manual entry
// ---------------------------------------------------------------------------

void TfmMain::Label3DblClick(QObject*)
{
    Image2->setEnabled(true);
}

void TfmMain::Image2DblClick(QObject*)
{
    const QString address = InputBox(QStringLiteral("Adresseingabe"), QStringLiteral("Adresse:"),
                                     QStringLiteral("192.168.1.1:6565"));
    StationAddresses.push_back(ToWin1252(address));
    Adressliste->AddItem(QStringLiteral("Local"));
}

// ---------------------------------------------------------------------------
// The display
// ---------------------------------------------------------------------------

void TfmMain::Timer1Timer(QObject*)
{
    // The labels' own timers stay off: this tick is the only thing that moves
    // them, so the two lines always step together.
    Radioname->ScrollStep();
    Info->ScrollStep();
}

void TfmMain::FormClick(QObject*)
{
    Info->StartScroll();
}

// ---------------------------------------------------------------------------
// Window buttons and the drag strip
// ---------------------------------------------------------------------------

bool TfmMain::InDragStrip(const QPoint& windowPoint)
{
    return QRect(0, 0, 440, 25).contains(windowPoint);
}

bool TfmMain::StartDrag(const QPoint& windowPoint, const QMouseEvent& press)
{
    if (!InDragStrip(windowPoint) || press.button() != Qt::LeftButton)
        return false;
    // A window manager that framed the window right after it was mapped can
    // leave the toolkit believing it still sits at the origin; the manager's
    // move starts from where the toolkit says the pointer is, so the window
    // would leap by its true offset. The press knows where the window is.
    const QPoint origin = press.globalPosition().toPoint() - windowPoint;
    if (origin != pos())
        move(origin);
    // A window manager moves the window best (snapping, its own limits);
    // without one that supports it, the window follows the mouse itself.
    // The manager's move starts from the last pointer position the X
    // toolkit has read, which on a busy machine can be a motion read in one
    // batch with the press: the window would then trail the mouse by that
    // motion. So the manager gets the move only while the pointer is still
    // at the press.
    const bool pointerAtPress = !QGuiApplication::platformName().startsWith(QLatin1String("xcb"))
        || QCursor::pos() == press.globalPosition().toPoint();
    if (pointerAtPress && windowHandle() && windowHandle()->startSystemMove())
        return true;
    // A Wayland window cannot place itself: without the compositor's move
    // (no pointer it knows of) the press is a drag that goes nowhere.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return true;
    m_dragging = true;
    m_dragGrip = press.globalPosition().toPoint() - pos();
    return true;
}

bool TfmMain::FollowDrag(const QMouseEvent& event)
{
    if (!m_dragging)
        return false;
    if (event.type() == QEvent::MouseButtonRelease && event.button() == Qt::LeftButton)
        m_dragging = false;
    else if (event.type() == QEvent::MouseMove)
        move(event.globalPosition().toPoint() - m_dragGrip);
    return true;
}

void TfmMain::mousePressEvent(QMouseEvent* event)
{
    if (StartDrag(event->position().toPoint(), *event))
        return;
    TForm::mousePressEvent(event);
}

void TfmMain::mouseMoveEvent(QMouseEvent* event)
{
    if (!FollowDrag(*event))
        TForm::mouseMoveEvent(event);
}

void TfmMain::mouseReleaseEvent(QMouseEvent* event)
{
    if (!FollowDrag(*event))
        TForm::mouseReleaseEvent(event);
}

bool TfmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != Image1 && watched != Label2)
        return TForm::eventFilter(watched, event);
    const auto type = event->type();
    if (type == QEvent::MouseButtonPress) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint at = static_cast<QWidget*>(watched)->mapTo(this, mouse->position().toPoint());
        if (StartDrag(at, *mouse))
            return true;
    } else if (type == QEvent::MouseMove || type == QEvent::MouseButtonRelease) {
        if (FollowDrag(*static_cast<QMouseEvent*>(event)))
            return true;
    }
    return TForm::eventFilter(watched, event);
}

void TfmMain::BitBtn1Click(QObject*)
{
    close();
}

void TfmMain::BitBtn2Click(QObject*)
{
    // Hidden, the window is reachable only through its notification-area
    // icon; where the desktop has no notification area it is minimised to
    // its taskbar entry instead.
    if (NotificationAreaAvailable() && IconTaskBar->Visible)
        hide();
    else
        showMinimized();
}

void TfmMain::PhantomDoppelKlick(QObject*)
{
    // Showing a hidden window runs FormShow again. A window minimised while
    // there was no notification area comes back too.
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    BringToFront();
}

void TfmMain::setVisible(bool visible)
{
    // A tool window gets no taskbar button, so the program is represented
    // only by its window and its notification-area icon. Without a
    // notification area the window keeps its entry, or once hidden it could
    // never be found again. Changing the flag re-creates the native window,
    // so it changes only here, while the window is still hidden.
    const bool wasVisible = isVisible();
    if (visible && !wasVisible) {
        const bool tool = NotificationAreaAvailable();
        if (windowFlags().testFlag(Qt::Tool) != tool)
            setWindowFlag(Qt::Tool, tool);
        ResumeDisplay();
    }
    TForm::setVisible(visible);
    if (!visible && wasVisible)
        PauseDisplay();
}

void TfmMain::PauseDisplay()
{
    // Nothing shows the lines or the bars now: ticking would only wake the
    // program ten and twenty times a second.
    m_hiddenSince.start();
    UpdateScrollPause();
    VUTimer->SetPaused(true);
}

void TfmMain::UpdateScrollPause()
{
    // Two blank lines (no station played yet) have nothing to move: the
    // tick would wake an idle program ten times a second for nothing.
    const bool blank = Radioname->Caption().isEmpty() && Info->Caption().isEmpty();
    Timer1->SetPaused(m_hiddenSince.isValid() || blank);
}

void TfmMain::ResumeDisplay()
{
    if (!m_hiddenSince.isValid())
        return;
    if (Timer1->Enabled() && Timer1->Interval() > 0) {
        const qint64 missed = m_hiddenSince.elapsed() / Timer1->Interval();
        Radioname->ScrollSteps(missed);
        Info->ScrollSteps(missed);
    }
    m_hiddenSince.invalidate();
    UpdateScrollPause();
    VUTimer->SetPaused(false);
    if (VUTimer->Enabled())
        VUTimerTimer(this);
}

void TfmMain::LEDButton1MouseDown(QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int)
{
    LEDButton1->SetPicture(rec4->Picture());
}

void TfmMain::LEDButton1MouseUp(QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int)
{
    LEDButton1->SetPicture(rec1->Picture());
}

void TfmMain::LEDButton1Click(QObject*)
{
    MessageBox(QStringLiteral("Funktion noch nicht integriert"));
}

void TfmMain::LEDButton2MouseDown(QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int)
{
    LEDButton2->SetPicture(exit4->Picture());
}

void TfmMain::LEDButton2MouseUp(QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int)
{
    LEDButton2->SetPicture(exit1->Picture());
}

void TfmMain::LEDButton2Click(QObject*)
{
    close();
    Application::Terminate(0);
}

// ---------------------------------------------------------------------------
// Stream channel
//
// Play points both channels at the chosen station and opens them; the stream
// channel greets once, takes the 514-byte header record and then counts and
// hands on raw audio until it closes. Status texts follow each step.
// ---------------------------------------------------------------------------

namespace {

const std::string kStreamGreeting(wire::StreamGreeting);
const std::string kInfoGreeting(wire::InfoGreeting);

// The latch lives in the button's Tag: all bits set is on, 0 is off, and any
// value whose lowest byte is non-zero reads as on.
constexpr int kLatchOn = -1;
constexpr int kLatchOff = 0;

} // namespace

bool TfmMain::LatchOn(const TImage* button)
{
    return (button->Tag() & 0xff) != 0;
}

void TfmMain::ReleaseStopButton()
{
    btndisconnect->SetPicture(stop1->Picture());
    btndisconnect->SetTag(kLatchOff);
}

void TfmMain::ReleasePlayButton()
{
    btnconnect->SetPicture(Play1->Picture());
    btnconnect->SetTag(kLatchOff);
}

void TfmMain::DropPlayLatch()
{
    btnconnect->SetTag(kLatchOff);
}

void TfmMain::DropStopLatch()
{
    btndisconnect->SetTag(kLatchOff);
}

// The click (a left release inside the button) runs between the press and
// the release, so the release shows what the click's action left the latch at.
void TfmMain::btnconnectMouseDown(QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int)
{
    btnconnect->SetTag(LatchOn(btnconnect) ? kLatchOff : kLatchOn);
    btnconnect->SetPicture((LatchOn(btnconnect) ? Play4 : Play2)->Picture());
}

void TfmMain::btnconnectMouseUp(QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int)
{
    btnconnect->SetPicture((LatchOn(btnconnect) ? Play3 : Play1)->Picture());
}

void TfmMain::btndisconnectMouseDown(QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int)
{
    btndisconnect->SetTag(LatchOn(btndisconnect) ? kLatchOff : kLatchOn);
    btndisconnect->SetPicture((LatchOn(btndisconnect) ? stop4 : stop2)->Picture());
}

void TfmMain::btndisconnectMouseUp(QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int)
{
    btndisconnect->SetPicture((LatchOn(btndisconnect) ? stop3 : stop1)->Picture());
}

bool TfmMain::SplitHostPort(const std::string& Address, std::string& Host, std::int32_t& Port)
{
    return ::SplitHostPort(Address, Host, Port);
}

void TfmMain::btnConnectClick(QObject*)
{
    if (!btnconnect->isEnabled())
        return;
    ReleaseStopButton();
    const QString shown = Adressliste->Text();
    if (shown.isEmpty()) {
        MessageBox(QStringLiteral("Wählen Sie einen Radiosender aus der Liste"));
        DropPlayLatch();
        return;
    }
    std::string host;
    std::int32_t port = 0;
    if (!SplitHostPort(StationAddresses[SelectedStation(shown)], host, port)) {
        MessageBox(QStringLiteral("Geben Sie eine korrekte Adresse ein: Host:Port"));
        DropPlayLatch();
        return;
    }
    OpenChannels(host, port);
}

std::size_t TfmMain::SelectedStation(const QString& shown) const
{
    // The first item that reads like the shown text, case aside; a text
    // typed in that no item has points past the list.
    int index = 0;
    while (index < Adressliste->Count() && Adressliste->Item(index).compare(shown, Qt::CaseInsensitive) != 0)
        ++index;
    if (index >= static_cast<int>(StationAddresses.size()))
        throw Exception(QStringLiteral("List index out of bounds (%1)").arg(index));
    return static_cast<std::size_t>(index);
}

void TfmMain::OpenChannels(const std::string& host, std::int32_t port)
{
    m_stream.AwaitHeader();
    CSocket->SetHost(host);
    CSocket->SetPort(port);
    ISocket->SetHost(host);
    ISocket->SetPort(port);
    btnconnect->setEnabled(false);
    btndisconnect->setEnabled(true);
    CSocket->OpenConnection();
    ISocket->OpenConnection();
}

void TfmMain::btnDisconnectClick(QObject*)
{
    if (!btndisconnect->isEnabled())
        return;
    btnconnect->setEnabled(true);
    if (!CSocket->WinSocket()->IsConnected())
        DropStopLatch();
    // When the stream channel is connected, its disconnect steps run in here.
    CSocket->CloseConnection();
    ISocket->CloseConnection();
    ReleasePlayButton();
    btndisconnect->setEnabled(false);
}

void TfmMain::CSocketLookup(QObject*, TCustomWinSocket*)
{
    ShowStatus(QStringLiteral("Finding host"));
}

void TfmMain::CSocketConnecting(QObject*, TCustomWinSocket*)
{
    ShowStatus(QStringLiteral("Connecting..."));
}

void TfmMain::CSocketConnect(QObject*, TCustomWinSocket* Socket)
{
    RadiosenderTimer->SetEnabled(false);
    m_stream.Connected();
    KBPSTimer->SetEnabled(true);
    Zeit->ResetCount();
    Zeit->SetRunMode(TCasseteContador::rmRealTime);
    VUTimer->SetEnabled(true);
    ShowStatus(QStringLiteral("Connected"));
    MediaPlaybackChanged(true);
    // The greeting goes out once; 0 means "not connected yet", anything else
    // (the bytes sent, or -1) ends the wait.
    while (Socket->SendString(kStreamGreeting) == 0)
        Application::Instance().ProcessMessages();
}

void TfmMain::CSocketRead(QObject*, TCustomWinSocket* Socket)
{
    if (m_stream.ExpectingHeader()) {
        if (m_stream.TakeHeader(*Socket))
            ApplyStreamHeader();
        return;
    }
    // A failure here loses this read's audio and nothing else.
    try {
        PlayStreamAudio(m_stream.ReadAudio(*Socket));
    } catch (...) {
    }
    m_stream.Pace(CSocket->WinSocket(), *ACMO);
}

void TfmMain::ApplyStreamHeader()
{
    ShowStationName();
    ACMC->FormatIn = m_stream.Header().FormatIn;
    ACMC->FormatOut = m_stream.Header().FormatOut;
}

void TfmMain::PlayStreamAudio(const std::vector<char>& audio)
{
    if (!ACMO->Active()) {
        ACMO->SetNumBuffers(4);
        ACMO->Open(ACMC->FormatIn);
    }
    ACMO->Play(audio.data(), static_cast<std::uint32_t>(audio.size()));
}

void TfmMain::CSocketDisconnect(QObject*, TCustomWinSocket*)
{
    btnconnect->setEnabled(true);
    KBPSTimer->SetEnabled(false);
    m_stream.Disconnected();
    RadiosenderTimer->SetEnabled(true);
    RadiosenderTimerTimer(this);
    Zeit->SetRunMode(TCasseteContador::rmStopped); // keeps showing the elapsed time
    VUTimer->SetEnabled(false);
    ACMO->Close();
    Ledmeter1->SetPosition(0);
    Ledmeter2->SetPosition(0);
    ShowStatus(QStringLiteral("Disconnected"));
    MediaPlaybackChanged(false);
}

void TfmMain::ShowStationName()
{
    // Byte 0 of the name field is its length; the bytes after it are ignored.
    const auto* name = m_stream.Header().StationName;
    Radioname->StopScroll();
    Radioname->SetIntervall(100);
    Radioname->SetOriginalCaption(FromWin1252(std::string_view(reinterpret_cast<const char*>(name + 1), name[0])));
    Radioname->StartScroll();
    PublishNowPlaying();
}

void TfmMain::CSocketError(QObject*, TCustomWinSocket*, TErrorEvent, int& ErrorCode)
{
    btnconnect->setEnabled(true);
    ShowStatus(QStringLiteral("Error: %1").arg(ErrorCode));
    ErrorCode = 0;
    MediaPlaybackChanged(false); // no audio comes after an error, closed or not
}

void TfmMain::CountReceived(int Bytes)
{
    m_stream.CountReceived(Bytes);
}

void TfmMain::KBPSTimerTimer(QObject*)
{
    // Reads what waits below a raised low-water mark first, so the second's
    // audio is heard and counted now.
    if (m_stream.BacklogWaits(CSocket->WinSocket()))
        CSocketRead(this, CSocket->WinSocket());
    const double kibPerSecond = double(m_stream.Readout(CSocket->WinSocket())) / 1024.0;
    QString number = QString::asprintf("%.2f", kibPerSecond);
    number.replace(QLatin1Char('.'), QLocale().decimalPoint());
    ShowStatus(QStringLiteral("Received %1 KB/s").arg(number));
    m_stream.Pace(CSocket->WinSocket(), *ACMO);
}

// ---------------------------------------------------------------------------
// Directory query: DirectoryAnswer has the bytes, the window the list.
// ---------------------------------------------------------------------------

void TfmMain::RadiosenderTimerTimer(QObject*)
{
    const DirectoryAnswer::Server server = DirectoryAnswer::ServerOf(DirectoryUrl);
    HTTPWSocket->SetAddr(server.host);
    HTTPWSocket->SetPort(server.port);
    HTTPWSocket->SetProto("tcp");
    HTTPWSocket->Connect();
}

void TfmMain::HTTPWSocketSessionConnected(QObject*, std::uint16_t)
{
    // Sent also after a failed attempt: the socket then reports the failed send.
    HTTPWSocket->SendString(DirectoryAnswer::Request(DirectoryUrl));
}

void TfmMain::HTTPWSocketDataAvailable(QObject*, std::uint16_t)
{
    CollectDirectoryAnswer(HTTPWSocket->ReceiveString());
}

void TfmMain::CollectDirectoryAnswer(const std::string& chunk)
{
    m_directory.Collect(chunk);
}

void TfmMain::HTTPWSocketSessionClosed(QObject*, std::uint16_t)
{
    const std::vector<DirectoryAnswer::Station> stations = m_directory.Rebuild();
    Adressliste->ClearItems();
    StationAddresses.clear();
    // The names go in at once: a directory may list a hundred thousand stations.
    QStringList names;
    names.reserve(qsizetype(stations.size()));
    StationAddresses.reserve(stations.size());
    for (const DirectoryAnswer::Station& station : stations) {
        StationAddresses.push_back(station.address);
        names.push_back(FromWin1252(station.name));
    }
    Adressliste->AddItems(names);
}

void TfmMain::HTTPWSocketError(QObject*)
{
    MessageBox(QStringLiteral("Keine Verbindung zur Datenbank \"") + QString::number(HTTPWSocket->LastError())
               + QStringLiteral("\"\r\nÜberprüfen Sie die Internetverbindung und gegebenenfalls Firewall"));
    // Closed from the message loop: the first query runs while the window is
    // being shown, before the loop that a close of the main window ends.
    QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
}

// ---------------------------------------------------------------------------
// Info channel: best effort. It greets once, shows whatever text is waiting
// as the new info line, and never reports anything.
// ---------------------------------------------------------------------------

void TfmMain::ISocketConnect(QObject*, TCustomWinSocket* Socket)
{
    while (Socket->SendString(kInfoGreeting) == 0)
        Application::Instance().ProcessMessages();
}

namespace {

// The longest info text shown. A station may send megabytes at once; laying
// out and rotating all of it at every scroll step would freeze the window,
// and no ticker of that length is read anyway.
constexpr size_t kMaxInfoText = 64 * 1024;

} // namespace

void TfmMain::ISocketRead(QObject*, TCustomWinSocket* Socket)
{
    // The texts have no framing: all bytes waiting now are one message, and
    // it replaces the previous one whole. Of a longer one the newest bytes
    // are shown; all of it is read, so nothing piles up in the socket.
    std::string text = Socket->ReceiveString();
    if (text.size() > kMaxInfoText)
        text.erase(0, text.size() - kMaxInfoText);
    Info->StopScroll();
    Info->SetIntervall(100);
    Info->SetOriginalCaption(FromWin1252(text));
    Info->StartScroll();
    PublishNowPlaying();
}

void TfmMain::ISocketError(QObject*, TCustomWinSocket*, TErrorEvent, int& ErrorCode)
{
    ErrorCode = 0;
}

// ---------------------------------------------------------------------------
// Desktop media controls: glue between the MPRIS service and the controls.
// ---------------------------------------------------------------------------

void TfmMain::AttachMediaControls(MprisService& media)
{
    m_media = &media;
    media.OnPlay = [this] { MediaPlay(); };
    media.OnStop = [this] { MediaStop(); };
    media.OnRaise = [this] { PhantomDoppelKlick(IconTaskBar); };
    media.OnQuit = [this] { LEDButton2Click(LEDButton2); };
    MediaPlaybackChanged(CSocket->WinSocket() && CSocket->WinSocket()->IsConnected());
    PublishNowPlaying();
}

void TfmMain::MediaPlay()
{
    ClickLikeTheMouse(btnconnect, &TfmMain::btnconnectMouseDown, &TfmMain::btnConnectClick,
                      &TfmMain::btnconnectMouseUp);
}

void TfmMain::MediaStop()
{
    ClickLikeTheMouse(btndisconnect, &TfmMain::btndisconnectMouseDown, &TfmMain::btnDisconnectClick,
                      &TfmMain::btndisconnectMouseUp);
}

void TfmMain::ClickLikeTheMouse(platform::TImage* button, MouseHandler down, ClickHandler click, MouseHandler up)
{
    // A press, the click and the release, as the mouse gives them, so the
    // button shows what a click leaves it at; a disabled one takes no press.
    if (!button->isEnabled())
        return;
    (this->*down)(button, Qt::LeftButton, Qt::NoModifier, 0, 0);
    try {
        (this->*click)(button);
    } catch (...) {
        (this->*up)(button, Qt::LeftButton, Qt::NoModifier, 0, 0);
        throw;
    }
    (this->*up)(button, Qt::LeftButton, Qt::NoModifier, 0, 0);
}

void TfmMain::MediaPlaybackChanged(bool playing)
{
    if (m_media)
        m_media->SetPlaying(playing);
}

void TfmMain::PublishNowPlaying()
{
    if (m_media)
        m_media->SetNowPlaying(Info->OriginalCaption(), Radioname->OriginalCaption());
}
