// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/toolkit/Application.h"
#include "platform/toolkit/Exception.h"
#include "platform/toolkit/TForm.h"
#include "platform/toolkit/TImage.h"
#include "platform/toolkit/TLabel.h"
#include "platform/toolkit/TPanel.h"
#include "platform/toolkit/TProgressBar.h"

#include <QPainter>
#include <QScreen>

#include <QTest>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

using platform::TImage;

namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// A shown form with a panel and a picture control beside it, recording events.
struct Scene {
    Scene()
    {
        form.resize(300, 100);
        panel = new platform::TPanel(&form);
        panel->setGeometry(10, 10, 150, 80);
        image = new TImage(&form);
        image->setGeometry(170, 10, 57, 49);
        form.OnClick = [this](QObject*) { log.push_back("form click"); };
        form.show();
    }

    void Record()
    {
        image->OnMouseDown = [this](QObject*, Qt::MouseButton b, Qt::KeyboardModifiers, int, int) {
            log.push_back(b == Qt::LeftButton ? "down" : "down other");
        };
        image->OnMouseUp = [this](QObject*, Qt::MouseButton b, Qt::KeyboardModifiers, int, int) {
            log.push_back(b == Qt::LeftButton ? "up" : "up other");
        };
        image->OnClick = [this](QObject*) { log.push_back("click"); };
        image->OnDblClick = [this](QObject*) { log.push_back("double"); };
    }

    platform::TForm form;
    platform::TPanel* panel;
    TImage* image;
    std::vector<std::string> log;
};

using Log = std::vector<std::string>;

} // namespace

TEST(TImage, ClickIsReportedBetweenMouseDownAndMouseUpOnlyForALeftReleaseInside)
{
    Scene s;
    s.Record();
    QTest::mouseClick(s.image, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(s.log, (Log{"down", "click", "up"}));

    s.log.clear();
    QTest::mouseClick(s.image, Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_EQ(s.log, (Log{"down other", "up other"})) << "a right click must not click";

    s.log.clear();
    QTest::mousePress(s.image, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(s.image, Qt::LeftButton, {}, QPoint(80, 5));
    EXPECT_EQ(s.log, (Log{"down", "up"})) << "releasing outside the control must not click";
}

TEST(TImage, SecondPressOfADoubleClickIsADoubleClickAndAPressButNoClick)
{
    Scene s;
    s.Record();
    // What the window system delivers for a double click.
    QTest::mouseClick(s.image, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mousePress(s.image, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseDClick(s.image, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(s.image, Qt::LeftButton, {}, QPoint(5, 5));
    // The first press and release click; the second press is the double click
    // and a press, and its release clicks nothing.
    EXPECT_EQ(s.log, (Log{"down", "click", "up", "down", "double", "up"}));
}

TEST(TForm, OnlyTheBareFormAndDisabledControlsMakeBackgroundClicks)
{
    Scene s;
    auto* label = new platform::TLabel(s.panel);
    label->setGeometry(80, 10, 40, 13);
    label->show();
    QTest::mouseClick(&s.form, Qt::LeftButton, {}, QPoint(280, 95));
    EXPECT_EQ(s.log, (Log{"form click"}));

    s.log.clear();
    QTest::mouseClick(s.image, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseClick(s.panel, Qt::LeftButton, {}, QPoint(140, 70));
    EXPECT_EQ(s.log, Log{}) << "an enabled control without handlers passed its click to the window";

    s.Record();
    s.image->setEnabled(false);
    QTest::mouseClick(s.image, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(s.log, (Log{"form click"})) << "a disabled picture must pass its click to the window";
    label->setEnabled(false);
    s.log.clear();
    QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(s.log, Log{}) << "a disabled control passes its click to its container, here the panel";

    s.image->setEnabled(true);
    s.log.clear();
    QTest::mouseClick(s.image, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(s.log, (Log{"down", "click", "up"}));
}

TEST(TForm, ExceptionFromAControlHandlerReachesTheErrorBoxAndInputGoesOn)
{
    Scene s;
    std::vector<QString> boxes;
    platform::Application::Instance().SetErrorBoxHook(
        [&](const QString&, const QString& text) { boxes.push_back(text); });
    s.image->OnClick = [](QObject*) { throw platform::Exception("'x' is not a valid integer value"); };
    s.image->OnMouseUp = [&](QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) { s.log.push_back("up"); };
    QTest::mouseClick(s.image, Qt::LeftButton, {}, QPoint(5, 5));
    platform::Application::Instance().SetErrorBoxHook({});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "'x' is not a valid integer value");
    EXPECT_EQ(s.log, (Log{"up"})) << "the mouse-up after a failed click was lost";
}

TEST(TLabel, FixedLabelsClipAndAutoSizedOnesFollowTextAndFont)
{
    platform::TLabel fixed;
    fixed.SetAutoSize(false);
    fixed.resize(20, 13);
    fixed.SetCaption("a rather long status text");
    EXPECT_EQ(fixed.size(), QSize(20, 13));

    platform::TLabel grows;
    grows.SetCaption("Radioliste:");
    const int plainWidth = grows.width();
    QFont bold = grows.font();
    bold.setPixelSize(11);
    bold.setBold(true);
    grows.setFont(bold);
    EXPECT_EQ(grows.width(), grows.sizeHint().width()) << "a font set after the caption was ignored";
    EXPECT_GT(plainWidth, 0);

    platform::TLabel amp;
    amp.SetCaption("Rock & Roll");
    EXPECT_EQ(amp.text(), "Rock & Roll");
    EXPECT_EQ(amp.textFormat(), Qt::PlainText);
}

// Guards the deferred sizing of a hidden label: a caption changed while its
// window was hidden must not come back clipped to the old width.
TEST(TLabel, CaptionChangedWhileHiddenFitsItsTextWhenShownAgain)
{
    QWidget window;
    window.resize(400, 100);
    auto* label = new platform::TLabel(&window);
    label->SetCaption("00:00:00");
    window.show();
    const int shortWidth = label->width();
    window.hide();
    label->SetCaption("a much longer caption than before");
    EXPECT_EQ(label->text(), "a much longer caption than before") << "the caption itself must change at once";
    window.show();
    EXPECT_EQ(label->width(), label->sizeHint().width());
    EXPECT_GT(label->width(), shortWidth);
}

TEST(TForm, OnShowRunsAtEveryShowingAfterAHideAndOnCloseOnce)
{
    platform::TForm form;
    int shown = 0, closed = 0;
    form.OnShow = [&](QObject*) {
        ++shown;
        form.show(); // showing a shown form again must not re-enter
    };
    form.OnClose = [&](QObject*, platform::TForm::TCloseAction&) {
        ++closed;
        form.close(); // a close from inside the close handler is not run again
    };
    form.show();
    form.show();
    EXPECT_EQ(shown, 1);
    form.hide();
    form.show();
    EXPECT_EQ(shown, 2) << "restoring a hidden form must run its show handler";
    form.close();
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(form.isVisible());
}

// The bar schedules its repaint instead of painting at once; the screen must
// still end up showing every new position, and an unchanged one is no change.
// A position that fills the same pixels as the last one shows the same face
// and is not painted (the level bars move twenty times a second); reaching or
// leaving either end of the range changes the face, though no pixel more is
// filled.
TEST(TProgressBar, EachNewPositionReachesTheScreen)
{
    QWidget window;
    window.resize(120, 30);
    platform::TProgressBar bar(&window);
    bar.setGeometry(10, 10, 100, 12);
    bar.setRange(0, 32767);
    PaintCounter counter(&bar);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const auto screen = [&] { return window.screen()->grabWindow(window.winId()).toImage().convertToFormat(QImage::Format_RGB32); };
    const auto fresh = [&] { return window.grab().toImage().convertToFormat(QImage::Format_RGB32); };
    const struct {
        int position;
        bool painted;
    } steps[] = {{16000, true}, {300, true}, {32767, true}, {32767, false}, {0, true},   {65535, true}, {9000, true},
                 {9001, false}, {0, true},  {1, true},      {2, false},     {32766, true}, {32767, true}, {32766, true}};
    for (const auto& step : steps) {
        QCoreApplication::processEvents();
        counter.paints = 0;
        bar.SetPosition(step.position);
        QCoreApplication::processEvents();
        EXPECT_EQ(bar.Position(), std::min(step.position, 32767));
        EXPECT_EQ(counter.paints > 0, step.painted) << "position " << step.position;
        ASSERT_EQ(screen(), fresh()) << "position " << step.position << " was not shown";
    }
}

namespace {
// A bar as it paints itself over the black panel behind the window's bars.
QImage PaintedBar(QProgressBar& bar)
{
    QImage image(bar.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    bar.render(&image, {}, {}, QWidget::DrawChildren);
    return image;
}
} // namespace

// The bar copies a kept face for every position that fills the same pixels;
// a face kept under the wrong key would show a level the bar is not at.
TEST(TProgressBar, EveryPositionLooksAsQtsOwnBarPaintsIt)
{
    platform::TProgressBar bar;
    QProgressBar plain; // Qt's own bar, painted by the style every time
    plain.setTextVisible(false);
    const auto painted = PaintedBar;
    // The window's level bars, then a wider bar: a face judged by the fill
    // of the old width would show another level at the new one.
    for (const auto& [width, maximum] : {std::pair(129, 32767), std::pair(129, 255), std::pair(400, 255)}) {
        for (QProgressBar* b : {static_cast<QProgressBar*>(&bar), &plain})
            b->resize(width, 16);
        bar.setRange(0, maximum);
        plain.setRange(0, maximum);
        // Every position of the short range; of the long one, neighbours spread
        // over it. Both directions of travel, so a face painted for one
        // position is asked for by its neighbours on either side.
        std::vector<int> positions;
        for (int position = 0; position <= maximum; position += maximum < 1000 ? 1 : 97)
            for (const int near : {position - 1, position, position + 1})
                if (near >= 0 && near <= maximum)
                    positions.push_back(near);
        for (const auto& order : {positions, std::vector<int>(positions.rbegin(), positions.rend())})
            for (const int position : order) {
                bar.SetPosition(position);
                plain.setValue(position);
                ASSERT_EQ(painted(bar), painted(plain)) << "position " << position << " of " << maximum << ", "
                                                        << width << " pixels wide";
            }
    }
}

// A position that looked like the shown one is not handed to the bar; once
// the bar is wider the two differ, and the bar must show the newer one.
TEST(TProgressBar, AfterAResizeTheBarShowsItsLastPositionNotTheLastOneThatChangedItsFace)
{
    platform::TProgressBar bar;
    QProgressBar plain;
    plain.setTextVisible(false);
    for (QProgressBar* b : {static_cast<QProgressBar*>(&bar), &plain}) {
        b->resize(129, 16);
        b->setRange(0, 32767);
    }
    bar.SetPosition(200);
    bar.SetPosition(250); // the same face as 200 at 129 pixels
    ASSERT_EQ(bar.Position(), 250);
    for (QProgressBar* b : {static_cast<QProgressBar*>(&bar), &plain})
        b->resize(400, 16); // 200 and 250 fill two and three pixels here
    plain.setValue(250);
    EXPECT_EQ(PaintedBar(bar), PaintedBar(plain));
}
