// The main window. GUI thread only; handlers run one at a time through the
// toolkit's dispatch, which shows any escaping exception in the error box.
//
// Sections: start-up and lifecycle · station list and manual entry ·
// window buttons. Further sections (stream channel, info channel, directory
// query, audio) follow the same pattern: handlers bound in BindHandlers, one
// line each.
#include "app/Demo2Client.h"

#include "platform/toolkit/Application.h"
#include "platform/toolkit/ComponentRegistry.h"
#include "platform/toolkit/Dialogs.h"
#include "platform/toolkit/FormReader.h"
#include "platform/toolkit/TBevel.h"
#include "platform/toolkit/TBitBtn.h"
#include "platform/toolkit/TComboBox.h"
#include "platform/toolkit/TImage.h"
#include "platform/toolkit/TLabel.h"
#include "platform/toolkit/TPanel.h"
#include "platform/toolkit/TProgressBar.h"
#include "platform/toolkit/TTimer.h"
#include "platform/toolkit/TextCodec.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMouseEvent>
#include <QThread>
#include <QWindow>
#include <fstream>

using namespace platform;

namespace {

// Every component class the layout resource may name.
void RegisterComponents()
{
    RegisterToolkitClasses();
}

} // namespace

// ---------------------------------------------------------------------------
// Start-up and lifecycle
// ---------------------------------------------------------------------------

TfmMain::TfmMain(const QString& executableDir, QWidget* parent)
    : TForm(parent),
      m_executableDir(executableDir.isEmpty() ? QCoreApplication::applicationDirPath() : executableDir)
{
    RegisterComponents();
    // A tool window gets no taskbar button: the program is represented only by
    // its window and its notification-area icon. Changing the flag on a shown
    // window re-creates it, so it is set once, before the first showing.
    setWindowFlag(Qt::Tool, true);
    FormReader::ReadFile(*this, FormPath());
    BindComponents();
    BindHandlers();
    FormCreate(this);
}

TfmMain::~TfmMain() = default;

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
    BitBtn2 = Component<TBitBtn>("BitBtn2");
    Image2 = Component<TImage>("Image2");
    RadiosenderTimer = Component<TTimer>("RadiosenderTimer");
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
}

void TfmMain::BindHandlers()
{
    Image1->installEventFilter(this);
    Label2->installEventFilter(this);
    OnShow = [this](QObject* s) { FormShow(s); };
    OnClose = [this](QObject* s, TCloseAction& a) { FormClose(s, a); };
    Label3->OnDblClick = [this](QObject* s) { Label3DblClick(s); };
    Image2->OnDblClick = [this](QObject* s) { Image2DblClick(s); };
    BitBtn1->OnClick = [this](QObject* s) { BitBtn1Click(s); };
    BitBtn2->OnClick = [this](QObject* s) { BitBtn2Click(s); };
    LEDButton1->OnMouseDown = [this](QObject* s, auto b, auto m, int x, int y) { LEDButton1MouseDown(s, b, m, x, y); };
    LEDButton1->OnMouseUp = [this](QObject* s, auto b, auto m, int x, int y) { LEDButton1MouseUp(s, b, m, x, y); };
    LEDButton1->OnClick = [this](QObject* s) { LEDButton1Click(s); };
    LEDButton2->OnMouseDown = [this](QObject* s, auto b, auto m, int x, int y) { LEDButton2MouseDown(s, b, m, x, y); };
    LEDButton2->OnMouseUp = [this](QObject* s, auto b, auto m, int x, int y) { LEDButton2MouseUp(s, b, m, x, y); };
    LEDButton2->OnClick = [this](QObject* s) { LEDButton2Click(s); };
}

void TfmMain::ShowStatus(const QString& Text)
{
    lblstatus->SetCaption(Text);
}

void TfmMain::FormCreate(QObject*)
{
    // Server.ini: only its first line counts, taken byte for byte up to the
    // first line break. A missing or unreadable file leaves the URL empty.
    const QString path = QDir(m_executableDir).filePath(QStringLiteral("Server.ini"));
    DirectoryUrl.clear();
    if (QFileInfo(path).isFile()) {
        std::ifstream file(QFile::encodeName(path).toStdString(), std::ios::binary);
        std::string line;
        char c;
        while (file.get(c) && c != '\n' && c != '\r')
            line.push_back(c);
        if (!file.bad())
            DirectoryUrl = line;
    }
    StationAddresses.clear();
    // [the mixer objects and the peak-meter search]
    const int maximum = MeterEnabled ? 32767 : 255;
    Ledmeter1->setMaximum(maximum);
    Ledmeter2->setMaximum(maximum);
    ShowStatus(QStringLiteral("Ready"));
}

void TfmMain::FormShow(QObject*)
{
    // The window is a tool window (see the constructor), so it has no
    // taskbar button at any showing.
    // [show the notification-area icon if it is not shown]
    // [one directory query at once]
    BringToFront();
}

void TfmMain::FormClose(QObject*, TCloseAction&)
{
    // [close the stream channel, then the info channel]
    QThread::msleep(500);
    Application::Instance().ProcessMessages();
    // [deactivate ACMC, close ACMO, free the mixer objects]
    RadiosenderTimer->SetEnabled(false);
    Timer1->SetEnabled(false);
    KBPSTimer->SetEnabled(false);
    VUTimer->SetEnabled(false);
    Ledmeter1->SetPosition(0);
    Ledmeter2->SetPosition(0);
    // [stop scrolling Radioname; hide the notification-area icon if shown]
    Application::Instance().ProcessMessages();
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
// Window buttons and the drag strip
// ---------------------------------------------------------------------------

bool TfmMain::InDragStrip(const QPoint& windowPoint)
{
    return QRect(0, 0, 440, 25).contains(windowPoint);
}

bool TfmMain::StartDrag(const QPoint& windowPoint, Qt::MouseButton button)
{
    return InDragStrip(windowPoint) && button == Qt::LeftButton && windowHandle()
        && windowHandle()->startSystemMove();
}

void TfmMain::mousePressEvent(QMouseEvent* event)
{
    if (StartDrag(event->position().toPoint(), event->button()))
        return;
    TForm::mousePressEvent(event);
}

bool TfmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress && (watched == Image1 || watched == Label2)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint at = static_cast<QWidget*>(watched)->mapTo(this, mouse->position().toPoint());
        if (StartDrag(at, mouse->button()))
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
    hide();
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
