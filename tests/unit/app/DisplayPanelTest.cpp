// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Demo2Client.h"
#include "platform/toolkit/TImage.h"
#include "platform/toolkit/TPanel.h"
#include "platform/toolkit/TTimer.h"
#include "tests/support/EventLoop.h"
#include "tests/support/MainWindowHarness.h"

#include <QFontInfo>
#include <QTest>
#include <gtest/gtest.h>

using testsupport::MainWindowHarness;

void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

const QString Gap(10, QLatin1Char(' '));

// Puts a text into a ticker the way the channels do.
void Show(TAnimLabel* label, const QString& text)
{
    label->StopScroll();
    label->SetIntervall(100);
    label->SetOriginalCaption(text);
    label->StartScroll();
}

void Tick(TfmMain& form)
{
    form.Timer1->OnTimer(form.Timer1);
}

} // namespace

TEST(DisplayPanel, TickersClipInAFixedMonospacedBoxAndTheCounterShowsAllItsDigits)
{
    MainWindowHarness h;
    TfmMain& form = h.Create();
    form.show();
    for (TAnimLabel* label : {form.Radioname, form.Info}) {
        const std::string name = label->objectName().toStdString();
        Show(label, QString(100, QLatin1Char('W')));
        EXPECT_EQ(label->size(), QSize(265, 13)) << name << " grew with its text";
        EXPECT_TRUE(QFontInfo(label->font()).fixedPitch()) << name;
        EXPECT_FALSE(label->BuiltinTimer()) << name;
    }
    EXPECT_EQ(form.Zeit->Caption(), "00:00:00");
    EXPECT_GE(form.Zeit->width(), form.Zeit->fontMetrics().horizontalAdvance("00:00:00"))
        << "the counter clips its own digits";
}

TEST(DisplayPanel, ScrollTimerStepsStationNameAndInfoTogether)
{
    MainWindowHarness h;
    TfmMain& form = h.Create();
    Show(form.Radioname, "Radio");
    Show(form.Info, "News & more");
    Tick(form);
    EXPECT_EQ(form.Radioname->Caption(), "adio" + Gap + "R");
    EXPECT_EQ(form.Info->Caption(), "ews & more" + Gap + "N");
    for (int i = 1; i < 15; ++i)
        Tick(form);
    EXPECT_EQ(form.Radioname->Caption(), "Radio" + Gap) << "15 ticks are one cycle of a 5-letter name";

    // The labels' own timers stay off: without the window's tick nothing moves.
    form.Timer1->SetEnabled(false);
    testsupport::Pump(250);
    EXPECT_EQ(form.Radioname->Caption(), "Radio" + Gap);
}

TEST(DisplayPanel, BackgroundClicksRestartTheInfoLineButClicksOnControlsDoNot)
{
    MainWindowHarness h;
    TfmMain& form = h.Create();
    form.show();
    Show(form.Info, "Guten Abend");
    const QString start = form.Info->Caption();
    auto advance = [&] {
        Tick(form);
        Tick(form);
        ASSERT_NE(form.Info->Caption(), start);
    };

    advance();
    QTest::mouseClick(&form, Qt::LeftButton, {}, QPoint(200, 42)); // bare window
    EXPECT_EQ(form.Info->Caption(), start) << "a background click did not restart the info line";

    // Disabled picture controls pass their clicks to the window.
    advance();
    ASSERT_FALSE(form.btndisconnect->isEnabled());
    QTest::mouseClick(form.btndisconnect, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_EQ(form.Info->Caption(), start) << "a click on the disabled Stop button was lost";
    advance();
    ASSERT_FALSE(form.Image2->isEnabled());
    QTest::mouseClick(form.Image2, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(form.Info->Caption(), start) << "a click on the locked logo was lost";

    advance();
    const QString moved = form.Info->Caption();
    QTest::mouseClick(form.Panel1, Qt::LeftButton, {}, QPoint(150, 80));
    EXPECT_EQ(form.Info->Caption(), moved) << "a click on the display panel counted as background";
}

TEST(DisplayPanel, ClosingBlanksTheStationNameButKeepsTheInfoText)
{
    MainWindowHarness h;
    TfmMain& form = h.Create();
    form.show();
    Show(form.Radioname, "Sender");
    Show(form.Info, "Nachrichten");
    form.close();
    EXPECT_TRUE(form.Radioname->Caption().isEmpty());
    EXPECT_EQ(form.Radioname->OriginalCaption(), "Sender");
    // The close steps let the last queued scroll ticks run, so the info line
    // may have moved on, but it still shows its text.
    const QString doubled = ("Nachrichten" + Gap).repeated(2);
    EXPECT_EQ(form.Info->Caption().size(), ("Nachrichten" + Gap).size());
    EXPECT_TRUE(doubled.contains(form.Info->Caption())) << "the info line was cleared on close";
}

// With both lines blank (no station played yet) the scroll tick has nothing to
// move: an idle window used to wake ten times a second for it. It rests until a
// line has text again, and showing the window does not wake it for blank lines.
TEST(DisplayPanel, TheScrollTickRestsWhileBothLinesAreBlank)
{
    MainWindowHarness h;
    TfmMain& form = h.Create();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_TRUE(form.Timer1->Paused());
    EXPECT_TRUE(form.Timer1->Enabled()) << "resting changed what the window enabled";

    Show(form.Radioname, "Radio");
    EXPECT_FALSE(form.Timer1->Paused());
    testsupport::Pump(350);
    EXPECT_NE(form.Radioname->Caption(), "Radio" + Gap) << "the tick did not step a line with text";

    form.Radioname->StopScroll();
    EXPECT_TRUE(form.Timer1->Paused());
    form.hide();
    form.show();
    EXPECT_TRUE(form.Timer1->Paused()) << "showing woke the tick for two blank lines";
    Show(form.Info, "News");
    EXPECT_FALSE(form.Timer1->Paused()) << "the info line alone must wake the tick";
}

// Hidden, the window's scroll and meter ticks pause (they would only wake the
// program); shown again, the lines stand where the missed ticks would have put
// them and the timers keep the states the window gave them.
TEST(DisplayPanel, HiddenWindowPausesTheTickersAndCatchesUpWhenShown)
{
    MainWindowHarness h;
    TfmMain& form = h.Create();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    Show(form.Radioname, "Radio");
    form.VUTimer->SetEnabled(true);
    form.hide();
    EXPECT_TRUE(form.Timer1->Paused());
    EXPECT_TRUE(form.VUTimer->Paused());
    EXPECT_TRUE(form.Timer1->Enabled() && form.VUTimer->Enabled()) << "pausing changed what the window enabled";
    testsupport::Pump(450);
    EXPECT_EQ(form.Radioname->Caption(), "Radio" + Gap) << "a hidden window went on ticking";

    form.show();
    EXPECT_FALSE(form.Timer1->Paused() || form.VUTimer->Paused());
    const QString shown = form.Radioname->Caption();
    int steps = 1;
    while (steps < 15 && ("Radio" + Gap).mid(steps) + ("Radio" + Gap).left(steps) != shown)
        ++steps;
    EXPECT_GE(steps, 4) << "missed ticks not taken: " << shown.toStdString();

    // A timer switched off while hidden stays off when the window comes back.
    form.hide();
    form.VUTimer->SetEnabled(false);
    form.show();
    EXPECT_FALSE(form.VUTimer->Enabled());
}
