// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/toolkit/TTimer.h"
#include "tests/support/EventLoop.h"
#include "widgets/AnimLabel.h"

#include <QAccessible>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QStringList>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <vector>

namespace {

const QString Gap(10, QLatin1Char(' '));

// A caption of `size` characters: words, and every `every` characters one
// of `odd` (none when empty).
QString LongText(qsizetype size, const QString& odd = {}, qsizetype every = 0)
{
    const QString words = QStringLiteral("Eine Melodie vom lokalen Sender, 24 kbit/s. ");
    QString text;
    text.reserve(size);
    while (text.size() < size)
        text += every && text.size() % every == every - 1 ? odd : QString(words[text.size() % words.size()]);
    return text.first(size);
}

// The captions a viewer sees for the first `steps` steps after StartScroll.
QStringList Steps(TAnimLabel& label, int steps)
{
    QStringList seen{label.Caption()};
    for (int i = 0; i < steps; ++i) {
        label.ScrollStep();
        seen << label.Caption();
    }
    return seen;
}

} // namespace

TEST(TAnimLabel, NewLabelIsBlankWithoutTimer)
{
    TAnimLabel label;
    EXPECT_TRUE(label.OriginalCaption().isEmpty());
    EXPECT_EQ(label.Intervall(), 0);
    EXPECT_FALSE(label.BuiltinTimer());
    EXPECT_EQ(label.StepTimer(), nullptr);
    label.ScrollStep(); // an empty caption must not be rotated into garbage
    EXPECT_TRUE(label.Caption().isEmpty());
    label.SetCaption("left by the form");
    label.StopScroll();
    EXPECT_TRUE(label.Caption().isEmpty());
    EXPECT_EQ(label.StepTimer(), nullptr) << "StopScroll created a timer";
}

TEST(TAnimLabel, RotatesLeftOneCharacterPerStepAndCyclesAfterTextPlusGap)
{
    TAnimLabel label;
    label.SetOriginalCaption("ABC");
    label.StartScroll();
    const QStringList seen = Steps(label, 13);
    EXPECT_EQ(seen[0], "ABC" + Gap);
    EXPECT_EQ(seen[1], "BC" + Gap + "A");
    EXPECT_EQ(seen[2], "C" + Gap + "AB");
    EXPECT_EQ(seen[3], Gap + "ABC");
    for (int k = 1; k < 13; ++k)
        EXPECT_NE(seen[k], seen[0]) << "cycle closed early at step " << k;
    EXPECT_EQ(seen[13], seen[0]) << "a full cycle is text length + 10 steps";
    EXPECT_EQ(label.OriginalCaption(), "ABC") << "scrolling changed the source text";
}

TEST(TAnimLabel, EmptyAndSingleCharacterTextsStayStable)
{
    TAnimLabel label;
    label.StartScroll();
    for (const QString& caption : Steps(label, 3))
        EXPECT_EQ(caption, Gap);

    TAnimLabel one;
    one.SetOriginalCaption("X");
    one.StartScroll();
    one.SetCaption("X"); // a one-character caption rotates onto itself
    one.ScrollStep();
    EXPECT_EQ(one.Caption(), "X");
}

TEST(TAnimLabel, StopScrollBlanksAndStepsStayBlankUntilRestart)
{
    TAnimLabel label;
    label.SetOriginalCaption("Radio");
    label.StartScroll();
    label.ScrollStep();
    label.StopScroll();
    EXPECT_TRUE(label.Caption().isEmpty());
    label.ScrollStep();
    EXPECT_TRUE(label.Caption().isEmpty());
    EXPECT_EQ(label.OriginalCaption(), "Radio") << "StopScroll must keep the source text";
    label.StartScroll();
    EXPECT_EQ(label.Caption(), "Radio" + Gap);
}

TEST(TAnimLabel, RepeatedStartScrollRestartsWithTheSameSingleTimer)
{
    TAnimLabel label;
    label.SetOriginalCaption("News");
    label.StartScroll();
    const platform::TTimer* first = label.StepTimer();
    ASSERT_NE(first, nullptr);
    label.ScrollStep();
    label.ScrollStep();
    label.StartScroll();
    EXPECT_EQ(label.Caption(), "News" + Gap) << "restart did not begin at the first character";
    EXPECT_EQ(label.StepTimer(), first);
    EXPECT_EQ(label.findChildren<platform::TTimer*>().size(), 1);
}

TEST(TAnimLabel, StepTimerFollowsBuiltinTimerAndIntervall)
{
    TAnimLabel label;
    label.SetOriginalCaption("AB");
    label.SetIntervall(100);
    label.StartScroll();
    EXPECT_FALSE(label.StepTimer()->Enabled()) << "an externally stepped label ran its own timer";
    EXPECT_EQ(label.StepTimer()->Interval(), 100);

    label.SetBuiltinTimer(true);
    label.SetIntervall(20);
    label.StartScroll();
    EXPECT_TRUE(label.StepTimer()->Enabled());
    EXPECT_EQ(label.StepTimer()->Interval(), 20);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return label.Caption() != "AB" + Gap; }))
        << "the builtin timer never stepped the label";

    label.StopScroll();
    EXPECT_FALSE(label.StepTimer()->Enabled());
}

TEST(TAnimLabel, IntervallZeroNeverStepsEvenWithBuiltinTimer)
{
    TAnimLabel label;
    label.SetOriginalCaption("Still");
    label.SetBuiltinTimer(true);
    label.StartScroll();
    testsupport::Pump(100);
    EXPECT_EQ(label.Caption(), "Still" + Gap);
}

// A step repaints only the characters that change. What reaches the screen
// must still be exactly the new caption: a repaint area that misses a changed
// glyph leaves a piece of the old text standing.
TEST(TAnimLabel, StepsOnScreenMatchAFreshPaintOfTheCaption)
{
    QWidget window;
    window.resize(300, 40);
    window.setAutoFillBackground(true);
    QPalette palette = window.palette();
    palette.setBrush(QPalette::Window, QBrush(Qt::darkBlue, Qt::Dense4Pattern)); // seen through the label
    window.setPalette(palette);
    TAnimLabel label(&window);
    label.SetAutoSize(false);
    label.setGeometry(16, 10, 265, 15);
    QFont font(QStringLiteral("Liberation Mono"));
    font.setPixelSize(15);
    font.setBold(true);
    label.setFont(font);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    if (!QFontInfo(label.font()).fixedPitch())
        GTEST_SKIP() << "no fixed-pitch font here; every step repaints the whole label";

    // A short name (much of the line is gap) and a text longer than the label.
    for (const QString& text : {QStringLiteral("Bench"), QStringLiteral("Eine Melodie vom lokalen Sender, 24 kbit/s")}) {
        label.SetOriginalCaption(text);
        label.StartScroll();
        for (int step = 1; step <= int(text.size()) + 12; ++step) {
            label.ScrollStep();
            QCoreApplication::processEvents(); // paints and flushes the update
            const QImage shown = window.screen()->grabWindow(window.winId()).toImage().convertToFormat(QImage::Format_RGB32);
            const QImage fresh = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
            ASSERT_EQ(shown, fresh) << qPrintable(text) << ": the screen differs after step " << step;
        }
    }
}

TEST(TAnimLabel, ManyStepsAtOnceEqualSingleSteps)
{
    TAnimLabel single, many;
    for (TAnimLabel* label : {&single, &many}) {
        label->SetOriginalCaption("Sendolin");
        label->StartScroll();
    }
    for (const int steps : {0, 1, 7, 18, 19, 100}) {
        for (int i = 0; i < steps; ++i)
            single.ScrollStep();
        many.ScrollSteps(steps);
        EXPECT_EQ(many.Caption(), single.Caption()) << steps << " steps";
    }
    TAnimLabel blank;
    blank.ScrollSteps(5);
    EXPECT_TRUE(blank.Caption().isEmpty());
}

// The ticker draws its laid-out caption in two pieces instead of laying out
// the turned text at every step; a piece placed a fraction off, a clip or a
// pen QLabel does not use, or a ring kept after the caption changed shows
// other pixels than Qt's own label showing the same text.
TEST(TAnimLabel, EveryStepLooksAsQtsOwnLabelShowingTheTurnedCaption)
{
    QFont font(QStringLiteral("Liberation Mono"));
    font.setPixelSize(15);
    font.setBold(true);
    if (!QFontInfo(font).fixedPitch())
        GTEST_SKIP() << "no fixed-pitch font here; the label lays its text out at every step";
    // At a pixel ratio of 2 the glyphs land on half pixels of the layout.
    const auto painted = [](QLabel& label) {
        std::vector<QImage> images;
        for (const qreal ratio : {1.0, 2.0}) {
            QImage image(label.size() * ratio, QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(ratio);
            image.fill(Qt::darkBlue); // the skin seen through the label
            label.render(&image, {}, {}, QWidget::DrawChildren);
            images.push_back(image);
        }
        return images;
    };
    const struct {
        QString text;
        QSize size;
        Qt::Alignment alignment;
    } cases[] = {
        {QStringLiteral("Bench"), {265, 15}, Qt::AlignLeft | Qt::AlignTop},
        {QStringLiteral("Eine Melodie vom lokalen Sender, 24 kbit/s"), {265, 15}, Qt::AlignLeft | Qt::AlignTop},
        {QStringLiteral("Grüße aus Köln — 100 % Musik"), {265, 22}, Qt::AlignLeft | Qt::AlignVCenter},
        {QStringLiteral("Ende"), {120, 12}, Qt::AlignLeading | Qt::AlignBottom}, // taller text than the box
        {QStringLiteral("Sender \u2605 Stern"), {265, 15}, Qt::AlignLeft | Qt::AlignTop}, // a glyph of another font
        // Longer than a slice of the layout, across its cuts and the wrap;
        // a glyph of another font now and then, and words that are left
        // to QLabel (tabs) far from the beginning.
        {LongText(560, QStringLiteral("\u2605"), 97), {265, 15}, Qt::AlignLeft | Qt::AlignTop},
        {LongText(300) + QStringLiteral("Ra\tdio\tMusik ") + LongText(300), {265, 15}, Qt::AlignLeft | Qt::AlignTop},
    };
    for (const auto& c : cases) {
        TAnimLabel ticker;
        QLabel plain;
        for (QLabel* label : {static_cast<QLabel*>(&ticker), &plain}) {
            label->setFont(font);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(c.alignment);
            label->resize(c.size);
            QPalette palette = label->palette();
            palette.setColor(QPalette::WindowText, QColor(0xe6, 0xb8, 0x1a));
            label->setPalette(palette);
        }
        ticker.SetAutoSize(false);
        ticker.SetOriginalCaption(c.text);
        ticker.StartScroll();
        for (int step = 0; step <= int(c.text.size()) + 11; ++step) {
            plain.setText(ticker.Caption());
            ASSERT_EQ(painted(ticker), painted(plain)) << qPrintable(c.text) << ", step " << step;
            if (step == 3) {
                ticker.ScrollSteps(5); // several steps at once (a window shown again)
                continue;
            }
            ticker.ScrollStep();
        }
        for (QLabel* label : {static_cast<QLabel*>(&ticker), &plain})
            label->resize(c.size.width() + 150, c.size.height()); // more of the caption shows
        plain.setText(ticker.Caption());
        EXPECT_EQ(painted(ticker), painted(plain)) << qPrintable(c.text) << ", widened";
        ticker.SetCaption(QStringLiteral("Verbunden")); // no longer the caption turned
        plain.setText(ticker.Caption());
        EXPECT_EQ(painted(ticker), painted(plain)) << qPrintable(c.text) << ", a caption set from outside";
    }
}

// QLabel is handed only the beginning of a long caption that reaches across
// the label: it is what the label lays out to paint and what a screen reader
// reads, so neither grows with the caption. Caption() stays the whole text.
TEST(TAnimLabel, ScreenReadersGetTheShownBeginningOfALongCaption)
{
    const struct {
        const char* what;
        QString text;
        bool fromOutside; // set as the caption, not scrolled
    } cases[] = {
        {"words", LongText(64 * 1024), false},
        {"controls and soft hyphens", LongText(64 * 1024, QStringLiteral("\u0085\u00AD"), 5), false},
        {"a caption set from outside", LongText(64 * 1024), true},
    };
    for (const auto& c : cases) {
        TAnimLabel label;
        label.SetAutoSize(false);
        label.resize(265, 13);
        QFont font(QStringLiteral("Liberation Mono"));
        font.setPixelSize(15);
        font.setBold(true);
        label.setFont(font);
        if (c.fromOutside) {
            label.SetCaption(c.text);
        } else {
            label.SetOriginalCaption(c.text);
            label.StartScroll();
        }
        label.ScrollSteps(1000);
        label.ScrollStep();
        const QString caption = label.Caption();
        EXPECT_EQ(caption.size(), c.text.size() + (c.fromOutside ? 0 : Gap.size())) << c.what;
        EXPECT_EQ(caption.first(c.text.size() - 1001), c.text.sliced(1001)) << c.what << ": not the caption turned";
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&label);
        ASSERT_NE(accessible, nullptr);
        const QString name = accessible->text(QAccessible::Name);
        EXPECT_LE(name.size(), 1024) << c.what << ": a screen reader gets the whole caption";
        EXPECT_GE(name.size(), 265 / 9) << c.what << ": less than the label shows";
        EXPECT_TRUE(caption.startsWith(name)) << c.what << ": not the caption's beginning";
    }
}
