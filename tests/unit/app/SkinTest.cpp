// SPDX-License-Identifier: GPL-3.0-or-later
// The skinned window: latching Play/Stop faces, the drag strip, the caption's
// tooltip, the layout against its table, and a screenshot of the faces at the
// screen's pixel ratio (this binary also runs with QT_SCALE_FACTOR=2).
#include "app/Demo2Client.h"
#include "platform/toolkit/TBitBtn.h"
#include "platform/toolkit/TComboBox.h"
#include "platform/toolkit/TImage.h"
#include "platform/toolkit/TLabel.h"
#include "platform/toolkit/TPanel.h"
#include "platform/toolkit/TProgressBar.h"
#include "tests/support/EventLoop.h"
#include "tests/support/MainWindowHarness.h"
#include "widgets/IconTBar.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QTcpServer>
#include <QTest>
#include <QToolTip>
#include <gtest/gtest.h>

using testsupport::MainWindowHarness;
using testsupport::WaitUntil;

namespace {

bool Shows(const platform::TImage* button, const platform::TImage* face)
{
    return button->Picture().toImage() == face->Picture().toImage();
}

bool On(const platform::TImage* button)
{
    return TfmMain::LatchOn(button);
}

void Press(QWidget* w, Qt::MouseButton b = Qt::LeftButton) { QTest::mousePress(w, b, {}, QPoint(20, 20)); }
void Release(QWidget* w, Qt::MouseButton b = Qt::LeftButton, QPoint at = QPoint(20, 20))
{
    QTest::mouseRelease(w, b, {}, at);
}

// A window with one station, "Local", that points at a listening port.
class LatchingButtons : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(station.listen(QHostAddress::LocalHost, 0));
        form = &h.Create();
        form->show();
        ASSERT_TRUE(WaitUntil([&] { return h.QueriesDone(1); })) << "the first directory query did not end";
        form->Label3DblClick(form->Label3);
        h.inputAnswers.push_back({true, QStringLiteral("127.0.0.1:%1").arg(station.serverPort())});
        form->Image2DblClick(form->Image2);
    }

    void ChooseStation() { form->Adressliste->setCurrentIndex(0); }

    bool Connected() { return form->CSocket->WinSocket() && form->CSocket->WinSocket()->IsConnected(); }

    void ExpectPlay(const platform::TImage* face, bool latch, bool enabled, const char* when)
    {
        EXPECT_TRUE(Shows(form->btnconnect, face)) << when << ": Play should show " << face->objectName().toStdString();
        EXPECT_EQ(On(form->btnconnect), latch) << when;
        EXPECT_EQ(form->btnconnect->isEnabled(), enabled) << when;
    }
    void ExpectStop(const platform::TImage* face, bool latch, bool enabled, const char* when)
    {
        EXPECT_TRUE(Shows(form->btndisconnect, face)) << when << ": Stop should show " << face->objectName().toStdString();
        EXPECT_EQ(On(form->btndisconnect), latch) << when;
        EXPECT_EQ(form->btndisconnect->isEnabled(), enabled) << when;
    }

    // One listening cycle: Play until connected, then Stop.
    void PlayAndStop(const char* round)
    {
        Press(form->btnconnect);
        EXPECT_TRUE(Shows(form->btnconnect, form->Play4)) << round << ": Play held";
        Release(form->btnconnect);
        ExpectPlay(form->Play3, true, false, round);
        ExpectStop(form->stop1, false, true, round);
        ASSERT_TRUE(WaitUntil([&] { return Connected(); })) << round;
        Press(form->btndisconnect);
        EXPECT_TRUE(Shows(form->btndisconnect, form->stop4)) << round << ": Stop held";
        Release(form->btndisconnect);
        ExpectPlay(form->Play1, false, true, round);
        ExpectStop(form->stop3, true, false, round);
    }

    MainWindowHarness h;
    QTcpServer station;
    TfmMain* form = nullptr;
};

TEST_F(LatchingButtons, StartFacesAndATwicePlayedCycleLookLikeTheFirst)
{
    ExpectPlay(form->Play1, false, true, "start");
    ExpectStop(form->stop1, false, false, "start");
    ChooseStation();
    PlayAndStop("first cycle");
    ChooseStation(); // the directory answer after the disconnect emptied the list
    if (form->Adressliste->Count() == 0) {
        h.inputAnswers.push_back({true, QStringLiteral("127.0.0.1:%1").arg(station.serverPort())});
        form->Image2DblClick(form->Image2);
        ChooseStation();
    }
    PlayAndStop("second cycle");
    EXPECT_TRUE(h.messages.empty());
}

TEST_F(LatchingButtons, RefusedPlayShowsThePressedFaceDuringItsMessageAndEndsReleased)
{
    bool pressedDuringBox = false;
    platform::SetMessageBoxHook([&](const QString& caption, const QString& text) {
        h.messages.push_back({caption, text});
        pressedDuringBox = Shows(form->btnconnect, form->Play4);
    });
    Press(form->btnconnect);
    Release(form->btnconnect); // no station chosen
    ASSERT_EQ(h.messages.size(), 1u);
    EXPECT_TRUE(pressedDuringBox) << "Play4 must stay visible while the message is up";
    ExpectPlay(form->Play1, false, true, "refused");
    ExpectStop(form->stop1, false, false, "refused");
}

TEST_F(LatchingButtons, StopWhileNotConnectedEndsWithBothButtonsReleased)
{
    station.close(); // the connection attempt is refused, later than the press
    ChooseStation();
    Press(form->btnconnect);
    Release(form->btnconnect);
    ASSERT_FALSE(Connected());
    Press(form->btndisconnect);
    EXPECT_TRUE(Shows(form->btndisconnect, form->stop4));
    Release(form->btndisconnect);
    ExpectPlay(form->Play1, false, true, "stop while not connected");
    ExpectStop(form->stop1, false, false, "stop while not connected");
}

TEST_F(LatchingButtons, RightClickFlipsFaceAndLatchWithoutConnecting)
{
    ChooseStation();
    Press(form->btnconnect, Qt::RightButton);
    EXPECT_TRUE(Shows(form->btnconnect, form->Play4));
    Release(form->btnconnect, Qt::RightButton);
    ExpectPlay(form->Play3, true, true, "after the right click");
    EXPECT_FALSE(form->CSocket->Active()) << "a right click connected";

    // The next left press turns the latch off; the click's action then runs.
    form->Adressliste->setCurrentIndex(-1);
    Press(form->btnconnect);
    ExpectPlay(form->Play2, false, true, "left press after the right click");
    Release(form->btnconnect);
    ExpectPlay(form->Play1, false, true, "refused click after the right click");
    EXPECT_EQ(h.messages.size(), 1u);
}

TEST_F(LatchingButtons, PressInsideReleaseOutsideRunsNoClick)
{
    ChooseStation();
    Press(form->btnconnect);
    Release(form->btnconnect, Qt::LeftButton, QPoint(-15, 70));
    ExpectPlay(form->Play3, true, true, "released outside");
    EXPECT_FALSE(form->CSocket->Active()) << "a release outside the button connected";
    EXPECT_TRUE(h.messages.empty());
    // The middle button flips it back, again without any action.
    Press(form->btnconnect, Qt::MiddleButton);
    Release(form->btnconnect, Qt::MiddleButton);
    ExpectPlay(form->Play1, false, true, "middle click");
    EXPECT_FALSE(form->CSocket->Active());
}

TEST_F(LatchingButtons, ADisabledStopButtonKeepsItsFaceAndPassesTheClickToTheWindow)
{
    Press(form->btndisconnect);
    Release(form->btndisconnect);
    ExpectStop(form->stop1, false, false, "disabled");
}

// --- The drag strip without a window manager: the window follows the mouse.

void SendMouse(QWidget* target, QEvent::Type type, QPoint windowPoint, QPoint global, Qt::MouseButtons buttons)
{
    QWidget* form = target->window();
    const QPointF local = target->mapFrom(form, windowPoint);
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, local, local, global, button, buttons, {});
    QApplication::sendEvent(target, &event);
}

// Presses at a window point, drags by (60, 40) and releases; returns how far
// the window moved.
QPoint DragBy60x40(TfmMain& form, QPoint windowPoint)
{
    const QPoint start = form.pos();
    QWidget* target = form.childAt(windowPoint) ? form.childAt(windowPoint) : &form;
    if (!target->isEnabled())
        target = &form;
    const QPoint global = start + windowPoint;
    SendMouse(target, QEvent::MouseButtonPress, windowPoint, global, Qt::LeftButton);
    for (int step = 1; step <= 4; ++step)
        SendMouse(target, QEvent::MouseMove, windowPoint, global + QPoint(15, 10) * step, Qt::LeftButton);
    SendMouse(target, QEvent::MouseButtonRelease, windowPoint, global + QPoint(60, 40), Qt::NoButton);
    return form.pos() - start;
}

TEST(DragStrip, MovesTheWindowFromX439Y24ButNotFromX440OrY25)
{
    MainWindowHarness h;
    TfmMain& form = h.Create();
    form.show();
    form.move(100, 100);
    EXPECT_EQ(DragBy60x40(form, {439, 24}), QPoint(60, 40)) << "corner of the strip, on the title picture";
    EXPECT_EQ(DragBy60x40(form, {440, 24}), QPoint(0, 0)) << "right of the strip";
    EXPECT_EQ(DragBy60x40(form, {439, 25}), QPoint(0, 0)) << "below the strip";
    EXPECT_EQ(DragBy60x40(form, {30, 8}), QPoint(60, 40)) << "on the caption";
    EXPECT_EQ(DragBy60x40(form, {441, 10}), QPoint(0, 0)) << "bare window right of the strip";

    // A drag is not a click on the background: the info line is not restarted.
    form.Info->SetOriginalCaption(QStringLiteral("a long info text that scrolls"));
    form.Info->StartScroll();
    for (int i = 0; i < 5; ++i)
        form.Info->ScrollStep();
    const QString scrolled = form.Info->Caption();
    DragBy60x40(form, {300, 22});
    EXPECT_EQ(form.Info->Caption(), scrolled) << "dragging restarted the info line";
}

// --- Tooltip, layout, colours.

TEST(SkinnedWindow, TheCaptionShowsItsTooltipOnHover)
{
    MainWindowHarness h;
    TfmMain& form = h.Create();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    const QPoint at(20, 6);
    QHelpEvent hover(QEvent::ToolTip, at, form.Label2->mapToGlobal(at));
    QApplication::sendEvent(form.Label2, &hover);
    EXPECT_TRUE(WaitUntil([] { return QToolTip::isVisible(); }, 3000));
    EXPECT_EQ(QToolTip::text(), QString::fromUtf8("Klicken Sie hier um die Einstellungen zu kommen"));
    EXPECT_TRUE(form.testAttribute(Qt::WA_AlwaysShowToolTips)) << "an inactive tool window would show no tip";
    QToolTip::hideText();
}

TEST(SkinnedWindow, TheSkinAndTheApplicationIconAreReadWithoutQtsImagePlugins)
{
    // Each plugin installed would otherwise be loaded, with the libraries it
    // links, only to be asked whether it reads BMP or PNG.
    const auto pluginMapped = [] {
        QFile maps(QStringLiteral("/proc/self/maps"));
        return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("/imageformats/");
    };
    if (pluginMapped())
        GTEST_SKIP() << "an earlier test in this process loaded an image plugin";
    MainWindowHarness h;
    TfmMain& form = h.Create();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    const QIcon icon = LoadApplicationIcon();
    EXPECT_FALSE(icon.pixmap(QSize(22, 22), 1.0).isNull());
    EXPECT_FALSE(icon.pixmap(QSize(256, 256), 1.0).isNull());
    EXPECT_FALSE(pluginMapped());
}

struct Place {
    const char* name;
    const char* parent; // nullptr: the window
    QRect box;
};

TEST(SkinnedWindow, EveryElementSitsWhereTheLayoutTableSays)
{
    MainWindowHarness h;
    TfmMain& form = h.Create();
    form.show();
    const Place places[] = {
        {"Image1", nullptr, {-12, 0, 457, 25}},     {"Label2", nullptr, {8, 2, 73, 13}},
        {"BitBtn2", nullptr, {400, 27, 16, 16}},    {"BitBtn1", nullptr, {418, 27, 16, 16}},
        {"Bevel1", nullptr, {8, 32, 385, 2}},       {"Image2", nullptr, {11, 48, 160, 30}},
        {"Adressliste", nullptr, {256, 52, 177, 21}}, {"Panel1", nullptr, {8, 86, 297, 107}},
        {"Label7", "Panel1", {144, 10, 9, 13}},
        {"Label8", "Panel1", {144, 26, 8, 13}},     {"Ledmeter1", "Panel1", {160, 8, 129, 16}},
        {"Ledmeter2", "Panel1", {160, 24, 129, 16}}, {"Radioname", "Panel1", {16, 48, 265, 13}},
        {"Info", "Panel1", {16, 64, 265, 13}},      {"lblstatus", "Panel1", {80, 86, 201, 13}},
        {"btnconnect", nullptr, {312, 88, 57, 49}}, {"btndisconnect", nullptr, {376, 88, 57, 49}},
        {"LEDButton1", nullptr, {312, 144, 57, 49}}, {"LEDButton2", nullptr, {376, 144, 57, 49}},
    };
    for (const Place& p : places) {
        auto* widget = form.findChild<QWidget*>(p.name);
        ASSERT_NE(widget, nullptr) << p.name;
        QWidget* parent = p.parent ? form.findChild<QWidget*>(p.parent) : &form;
        EXPECT_EQ(widget->parentWidget(), parent) << p.name;
        EXPECT_EQ(widget->geometry(), p.box) << p.name;
    }
    // The labels that size themselves (the counter is one) start where the
    // table says and fit their text.
    const std::pair<QLabel*, QPoint> sized[] = {
        {form.Label1, {16, 86}}, {form.Label3, {176, 56}}, {form.Zeit, {8, 5}}};
    for (auto [label, origin] : sized) {
        EXPECT_EQ(label->pos(), origin) << label->objectName().toStdString();
        EXPECT_EQ(label->size(), label->sizeHint()) << label->objectName().toStdString();
    }
    EXPECT_EQ(form.size(), QSize(444, 200));
    EXPECT_TRUE(form.BitBtn1->focusPolicy() == Qt::ClickFocus || form.BitBtn1->focusPolicy() == Qt::NoFocus)
        << "the close button is reachable with Tab";
    EXPECT_EQ(form.Image1->Picture().size(), QSize(448, 20));
    EXPECT_EQ(form.Image2->Picture().size(), QSize(160, 30));
    EXPECT_EQ(form.BitBtn1->Glyph().size(), QSize(10, 9));
    EXPECT_EQ(form.BitBtn2->Glyph().size(), QSize(10, 9));
}

struct Look {
    const char* name;
    const char* family;
    int pixels;
    bool bold;
    QColor text;
};

TEST(SkinnedWindow, FontsAndColoursFollowTheLayoutTable)
{
    MainWindowHarness h;
    TfmMain& form = h.Create();
    const QColor cyan(26, 184, 230);
    const Look looks[] = {
        {"Label2", "MS Sans Serif", 13, true, Qt::black},     {"Label3", "MS Sans Serif", 11, true, Qt::black},
        {"Adressliste", "MS Sans Serif", 11, false, cyan},    {"Zeit", "Arial", 33, false, QColor(0, 255, 0)},
        {"Label7", "MS Sans Serif", 11, false, cyan},         {"Label8", "MS Sans Serif", 11, false, cyan},
        {"Radioname", "Courier New", 15, true, cyan},         {"Info", "Courier New", 15, true, cyan},
        {"Label1", "Courier New", 13, true, cyan},            {"lblstatus", "Courier New", 13, true, cyan},
    };
    for (const Look& l : looks) {
        auto* widget = form.findChild<QWidget*>(l.name);
        ASSERT_NE(widget, nullptr) << l.name;
        EXPECT_EQ(widget->font().family(), l.family) << l.name;
        EXPECT_EQ(widget->font().pixelSize(), l.pixels) << l.name;
        EXPECT_EQ(widget->font().bold(), l.bold) << l.name;
        EXPECT_EQ(widget->palette().color(QPalette::WindowText), l.text) << l.name;
    }
    EXPECT_EQ(form.palette().color(QPalette::Window), QColor(0, 79, 196));
    EXPECT_EQ(form.font().family(), "MS Sans Serif");
    EXPECT_EQ(form.font().pixelSize(), 11);
    EXPECT_EQ(form.Panel1->palette().color(QPalette::Window), QColor(Qt::black));
    EXPECT_EQ(form.Adressliste->palette().color(QPalette::Base), QColor(Qt::black));
    EXPECT_EQ(form.Adressliste->ItemHeight(), 13);
    EXPECT_EQ(form.Zeit->palette().color(QPalette::Window), QColor(Qt::black));
}

// --- Screenshot: every picture region of the window is its bitmap, pixel for
// pixel, at the screen's pixel ratio (the 2x run draws the double-size ones).

QImage Region(const QImage& shot, QRect logical, qreal ratio)
{
    const QRect device(logical.topLeft() * ratio, logical.size() * ratio);
    return shot.copy(device).convertToFormat(QImage::Format_RGB32);
}

TEST(Screenshot, EachFaceRegionIsItsBitmapAtTheScreensPixelRatio)
{
    MainWindowHarness h;
    TfmMain& form = h.Create();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    // A playing look: Play lit, Stop raised, so copied faces are checked too.
    form.btnconnect->SetPicture(form.Play3->Picture());
    form.LEDButton1->SetPicture(form.rec4->Picture());
    const qreal ratio = form.devicePixelRatioF();
    const QPixmap shot = form.grab();
    ASSERT_EQ(shot.size(), QSize(444, 200) * ratio);
    const QString file = QDir(QCoreApplication::applicationDirPath())
                             .filePath(QStringLiteral("window@%1x.png").arg(ratio >= 1.5 ? 2 : 1));
    ASSERT_TRUE(shot.save(file)) << file.toStdString();

    const QImage image = shot.toImage();
    const struct {
        platform::TImage* button;
        platform::TImage* face;
    } faces[] = {{form.btnconnect, form.Play3}, {form.btndisconnect, form.stop1},
                 {form.LEDButton1, form.rec4},  {form.LEDButton2, form.exit1},
                 {form.Image2, form.Image2}};
    for (const auto& f : faces) {
        const QImage expected = f.face->Picture().ForRatio(ratio).toImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(expected.size(), QSize(f.button->width() == 160 ? 160 : 57, f.button->height()) * (ratio >= 1.5 ? 2 : 1))
            << f.face->objectName().toStdString() << ": no drawing for this pixel ratio";
        EXPECT_EQ(Region(image, f.button->geometry(), ratio), expected)
            << f.face->objectName().toStdString() << " differs on screen; see " << file.toStdString();
    }
    // The title strip right of the caption: its picture starts 12 pixels left
    // of the window.
    const QImage title = form.Image1->Picture().ForRatio(ratio).toImage().convertToFormat(QImage::Format_RGB32);
    const QRect strip(81, 0, 355, 20);
    EXPECT_EQ(Region(image, strip, ratio), title.copy(QRect((strip.topLeft() + QPoint(12, 0)) * ratio, strip.size() * ratio)))
        << "the title strip differs on screen";
}

} // namespace
