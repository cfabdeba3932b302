// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Demo2Client.h"
#include "platform/toolkit/ComponentRegistry.h"
#include "platform/toolkit/FormReader.h"
#include "platform/toolkit/FormWriter.h"
#include "platform/toolkit/TBitBtn.h"
#include "platform/toolkit/TComboBox.h"
#include "platform/toolkit/TImage.h"
#include "platform/toolkit/TLabel.h"
#include "platform/toolkit/TPanel.h"
#include "platform/toolkit/TProgressBar.h"
#include "platform/toolkit/TTimer.h"
#include "tests/support/EventLoop.h"
#include "tests/support/MainWindowHarness.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QFontInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

using testsupport::MainWindowHarness;

namespace {

bool SamePicture(const platform::TPicture& a, const platform::TPicture& b)
{
    return a.toImage() == b.toImage();
}

void DoubleClick(QWidget* widget)
{
    QTest::mouseDClick(widget, Qt::LeftButton, {}, QPoint(5, 5));
}

} // namespace

TEST(MainWindow, IsBuiltFromItsLayoutResourceInTheStartState)
{
    MainWindowHarness h;
    TfmMain& form = h.Create();
    EXPECT_EQ(form.size(), QSize(444, 200));
    EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(form.lblstatus->Caption(), "Ready");
    EXPECT_EQ(form.Adressliste->Count(), 0);
    EXPECT_TRUE(form.Addresses().empty());

    // Display elements sit inside the black panel, at panel coordinates.
    EXPECT_EQ(form.lblstatus->parentWidget(), form.Panel1);
    EXPECT_EQ(form.lblstatus->mapTo(&form, QPoint(0, 0)), QPoint(8 + 80, 86 + 86));
    EXPECT_EQ(form.Ledmeter2->parentWidget(), form.Panel1);

    // Timers as the window starts: the scroll timer and the directory timer run.
    EXPECT_TRUE(form.Timer1->Enabled());
    EXPECT_EQ(form.Timer1->Interval(), 100);
    EXPECT_TRUE(form.RadiosenderTimer->Enabled());
    EXPECT_EQ(form.RadiosenderTimer->Interval(), 15000);
    EXPECT_FALSE(form.KBPSTimer->Enabled());
    EXPECT_EQ(form.KBPSTimer->Interval(), 1000);
    EXPECT_FALSE(form.VUTimer->Enabled());
    EXPECT_EQ(form.VUTimer->Interval(), 50);

    // Buttons and faces.
    EXPECT_TRUE(form.btnconnect->isEnabled());
    EXPECT_FALSE(form.btndisconnect->isEnabled());
    EXPECT_FALSE(form.Image2->isEnabled());
    EXPECT_TRUE(SamePicture(form.btnconnect->Picture(), form.Play1->Picture()));
    EXPECT_TRUE(SamePicture(form.btndisconnect->Picture(), form.stop1->Picture()));
    EXPECT_EQ(form.btnconnect->Tag(), 0);
    EXPECT_EQ(form.btndisconnect->Tag(), 0);
    for (auto* face : {form.Play1, form.Play2, form.Play3, form.Play4, form.stop1, form.stop2, form.stop3,
                       form.stop4, form.rec1, form.rec4, form.exit1, form.exit4}) {
        EXPECT_TRUE(face->isHidden()) << face->objectName().toStdString();
        EXPECT_EQ(face->Picture().size(), QSize(57, 49)) << face->objectName().toStdString();
    }
    EXPECT_FALSE(SamePicture(form.Play1->Picture(), form.Play4->Picture())) << "faces are indistinguishable";
    EXPECT_EQ(form.Ledmeter1->maximum(), 32767) << "the output mixer's peak meter drives the bars: maximum 32767";
    EXPECT_EQ(form.Ledmeter2->maximum(), 32767);
    EXPECT_TRUE(h.messages.empty());
    EXPECT_TRUE(h.errors.empty());

    // Shown for the first time: centred on the desktop, classic faces mapped
    // to their metric-compatible stand-ins.
    form.show();
    const QRect desktop = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((form.frameGeometry().center() - desktop.center()).manhattanLength(), 2);
    EXPECT_EQ(QFontInfo(form.lblstatus->font()).family(), "Liberation Mono");
    EXPECT_EQ(QFontInfo(form.Label3->font()).family(), "Liberation Sans");
    EXPECT_TRUE(QFontInfo(form.Label3->font()).bold());
}

TEST(MainWindow, ServerIniFirstLineIsTakenUnchangedOrLeftEmpty)
{
    struct Case {
        const char* what;
        std::string content;
        std::string expected;
    };
    const Case cases[] = {
        {"several lines", "http://dir.example/list/\nsecond\nthird\n", "http://dir.example/list/"},
        {"trailing blanks", "http://dir.example/  \t \n", "http://dir.example/  \t "},
        {"line break CR LF", "http://a/\r\nhttp://b/\r\n", "http://a/"},
        {"no line break", "http://only/", "http://only/"},
        {"empty file", "", ""},
        {"Windows-1252 bytes", "http://h\xE4user/\n", "http://h\xE4user/"},
    };
    for (const Case& c : cases) {
        MainWindowHarness h;
        h.WriteServerIni(c.content);
        TfmMain& form = h.Create();
        EXPECT_EQ(form.Directory(), c.expected) << c.what;
        EXPECT_EQ(form.lblstatus->Caption(), "Ready") << c.what;
        EXPECT_TRUE(h.messages.empty() && h.errors.empty()) << c.what;
    }
}

TEST(MainWindow, MissingOrUnreadableServerIniLeavesTheUrlEmptyWithoutAMessage)
{
    {
        MainWindowHarness h;
        h.RemoveServerIni();
        TfmMain& form = h.Create();
        EXPECT_EQ(form.Directory(), "");
        EXPECT_TRUE(h.messages.empty() && h.errors.empty());
    }
    {
        // A directory where the file should be cannot be read as a file.
        MainWindowHarness h;
        h.RemoveServerIni();
        ASSERT_TRUE(QDir().mkpath(h.ServerIniPath()));
        TfmMain& form = h.Create();
        EXPECT_EQ(form.Directory(), "");
        EXPECT_EQ(form.lblstatus->Caption(), "Ready");
        EXPECT_TRUE(h.messages.empty() && h.errors.empty());
    }
}

TEST(MainWindow, ManualEntryIsLockedUntilTheListLabelIsDoubleClicked)
{
    MainWindowHarness h;
    TfmMain& form = h.Create();
    form.show();
    DoubleClick(form.Image2);
    testsupport::Pump(10);
    EXPECT_TRUE(h.inputs.empty()) << "the locked logo opened the address entry";

    DoubleClick(form.Label3);
    EXPECT_TRUE(form.Image2->isEnabled());
    h.inputAnswers.push_back({true, "10.1.2.3:7000"});
    DoubleClick(form.Image2);
    ASSERT_EQ(h.inputs.size(), 1u);
    EXPECT_EQ(h.inputs[0].caption, "Adresseingabe");
    EXPECT_EQ(h.inputs[0].text, "Adresse:\n192.168.1.1:6565");
    ASSERT_EQ(form.Addresses().size(), 1u);
    EXPECT_EQ(form.Addresses()[0], "10.1.2.3:7000");
    EXPECT_EQ(form.Adressliste->Item(0), "Local");
}

TEST(MainWindow, ManualEntriesAppendLocalStationsCancelKeepsThePresetNothingIsSelected)
{
    MainWindowHarness h;
    TfmMain& form = h.Create();
    form.Label3DblClick(form.Label3);
    h.inputAnswers.push_back({false, "typed then cancelled"});
    form.Image2DblClick(form.Image2);
    h.inputAnswers.push_back({true, QString::fromUtf8("hôst:1")});
    form.Image2DblClick(form.Image2);
    h.inputAnswers.push_back({true, ""});
    form.Image2DblClick(form.Image2);

    ASSERT_EQ(form.Addresses().size(), 3u);
    EXPECT_EQ(form.Addresses()[0], "192.168.1.1:6565") << "Cancel must add the preset";
    EXPECT_EQ(form.Addresses()[1], "h\xF4st:1") << "addresses are kept as Windows-1252 bytes";
    EXPECT_EQ(form.Addresses()[2], "") << "nothing is validated";
    ASSERT_EQ(form.Adressliste->Count(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(form.Adressliste->Item(i), "Local");
    EXPECT_EQ(form.Adressliste->Text(), "") << "a manual entry selected a station";
    EXPECT_EQ(form.Adressliste->IndexOfText("local"), 0) << "of equal names the first one counts";
}

TEST(MainWindow, WindowButtonsHideCloseAndRefuseRecording)
{
    MainWindowHarness h;
    TfmMain& form = h.Create();
    form.show();
    ASSERT_TRUE(form.isVisible());

    // Rec: the pressed face stays visible while its message is up.
    bool pressedFaceDuringBox = false;
    platform::SetMessageBoxHook([&](const QString& caption, const QString& text) {
        h.messages.push_back({caption, text});
        pressedFaceDuringBox = SamePicture(form.LEDButton1->Picture(), form.rec4->Picture());
    });
    QTest::mouseClick(form.LEDButton1, Qt::LeftButton, {}, QPoint(10, 10));
    ASSERT_EQ(h.messages.size(), 1u);
    EXPECT_EQ(h.messages[0].caption, "Sendolin Client");
    EXPECT_EQ(h.messages[0].text, "Funktion noch nicht integriert");
    EXPECT_TRUE(pressedFaceDuringBox);
    EXPECT_TRUE(SamePicture(form.LEDButton1->Picture(), form.rec1->Picture()));

    // Without a notification area (offscreen has none) the hide button
    // minimises; the tray tests hide and restore through a real one.
    EXPECT_FALSE(form.windowFlags().testFlag(Qt::Tool)) << "the window lost its taskbar entry with no tray to return from";
    QTest::mouseClick(form.BitBtn2, Qt::LeftButton);
    EXPECT_TRUE(form.isMinimized()) << "the hide button did not minimise the window";
    EXPECT_TRUE(form.Timer1->Enabled()) << "hiding must keep the program running";

    form.showNormal();
    form.Ledmeter1->SetPosition(100);
    QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.Timer1->Enabled()) << "closing did not run the close steps";
    EXPECT_FALSE(form.RadiosenderTimer->Enabled());
    EXPECT_EQ(form.Ledmeter1->Position(), 0);
}

TEST(MainWindow, CloseStepsProcessMessagesQueuedBeforeTheWaitAndStopEveryTimer)
{
    MainWindowHarness h;
    TfmMain& form = h.Create();
    form.show();
    form.KBPSTimer->SetEnabled(true);
    form.VUTimer->SetEnabled(true);
    bool queuedHandled = false;
    QMetaObject::invokeMethod(&form, [&] { queuedHandled = true; }, Qt::QueuedConnection);
    form.close();
    EXPECT_TRUE(queuedHandled) << "FormClose did not process pending messages";
    for (auto* timer : {form.RadiosenderTimer, form.Timer1, form.KBPSTimer, form.VUTimer})
        EXPECT_FALSE(timer->Enabled()) << timer->objectName().toStdString();
}

TEST(MainWindow, DragStripEndsAtX439AndY24)
{
    EXPECT_TRUE(TfmMain::InDragStrip({0, 0}));
    EXPECT_TRUE(TfmMain::InDragStrip({439, 24}));
    EXPECT_FALSE(TfmMain::InDragStrip({440, 24}));
    EXPECT_FALSE(TfmMain::InDragStrip({439, 25}));
    EXPECT_FALSE(TfmMain::InDragStrip({-1, 3}));
}

TEST(MainWindow, WrittenComponentsReadBackWithTheirLook)
{
    MainWindowHarness h;
    TfmMain& form = h.Create();
    const QByteArray text = platform::FormWriter::Write(*form.Panel1);
    std::unique_ptr<QObject> copy(platform::FormReader::Read(text, "panel.form", QString()));
    auto* panel = qobject_cast<platform::TPanel*>(copy.get());
    ASSERT_NE(panel, nullptr) << text.toStdString();
    EXPECT_EQ(panel->geometry(), form.Panel1->geometry());
    EXPECT_EQ(panel->palette().color(QPalette::Window), QColor(Qt::black));
    for (const char* name : {"Label7", "lblstatus", "Label1"}) {
        auto* original = form.Panel1->findChild<platform::TLabel*>(name);
        auto* read = panel->findChild<platform::TLabel*>(name);
        ASSERT_NE(read, nullptr) << name;
        EXPECT_EQ(read->geometry(), original->geometry()) << name;
        EXPECT_EQ(read->Caption(), original->Caption()) << name;
        EXPECT_EQ(read->font().family(), original->font().family()) << name;
        EXPECT_EQ(read->font().pixelSize(), original->font().pixelSize()) << name;
        EXPECT_EQ(read->font().bold(), original->font().bold()) << name;
        EXPECT_EQ(read->palette().color(QPalette::WindowText), QColor(26, 184, 230)) << name;
    }
    auto* meter = panel->findChild<platform::TProgressBar*>("Ledmeter2");
    ASSERT_NE(meter, nullptr);
    EXPECT_EQ(meter->maximum(), 32767);
    EXPECT_TRUE(meter->Smooth());

    // Every other component of the window survives the same round trip.
    for (QObject* child : form.children()) {
        if (child->objectName().isEmpty() || child == form.Panel1)
            continue;
        const QByteArray written = platform::FormWriter::Write(*child);
        std::unique_ptr<QObject> read;
        try {
            read.reset(platform::FormReader::Read(written, "child.form", QString()));
        } catch (const platform::Exception& error) {
            ADD_FAILURE() << error.Message().toStdString() << "\n" << written.toStdString();
            continue;
        }
        EXPECT_EQ(read->metaObject(), child->metaObject());
        EXPECT_EQ(platform::FormWriter::Write(*read).toStdString(), written.toStdString());
    }
}

TEST(MainWindow, MutatedLayoutResourcesAreReadOrRejectedNeverCrash)
{
    TfmMain::RegisterComponentClasses();
    QFile file(TfmMain::FormPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    // The window's own resource, re-rooted on a plain panel so the reader
    // goes deep into every component before it meets a fault.
    QByteArray base = file.readAll();
    base.replace("object fmMain: TfmMain", "object fmMain: TPanel");
    for (const char* formOnly : {"  BorderStyle = bsNone\n", "  ClientWidth = 444\n", "  ClientHeight = 200\n",
                                 "  Position = poDesktopCenter\n"})
        base.replace(formOnly, "");
    std::unique_ptr<QObject>(platform::FormReader::Read(base, "base.form", ":/app"));

    QRandomGenerator random(20261208);
    const QByteArray alphabet = "{}[]()'#$=:-.,\n \t0123456789abcdefobjectendTrueFalse";
    int rejected = 0;
    for (int round = 0; round < 3000; ++round) {
        QByteArray text = base;
        for (int edits = 1 + random.bounded(6); edits > 0 && !text.isEmpty(); --edits) {
            const int at = random.bounded(int(text.size()));
            switch (random.bounded(4)) {
            case 0: text[at] = alphabet[random.bounded(int(alphabet.size()))]; break;
            case 1: text.remove(at, random.bounded(20)); break;
            case 2: text.insert(at, char(random.bounded(256))); break;
            default: text.truncate(at); break;
            }
        }
        try {
            std::unique_ptr<QObject>(platform::FormReader::Read(text, "mutated.form", ":/app"));
        } catch (const platform::EFormError& error) {
            ++rejected;
            ASSERT_TRUE(error.Message().startsWith("mutated.form, line ")) << error.Message().toStdString();
        }
    }
    EXPECT_GT(rejected, 0);
}
