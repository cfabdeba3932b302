// SPDX-License-Identifier: GPL-3.0-or-later
// What the X server shows of windows painted with the program's toolkit
// settings (Application::PrepareToolkit: no shared-memory image): a window
// that repaints a ticker ten times a second, a message box opened over it
// while it does, and the window again once the box is gone. Each must reach
// the server as the widget paints itself; the pixels are read back from the
// server (QScreen::grabWindow), not from Qt's backing store.
//
// Its own entry point, because the settings must be made before the
// QApplication exists.
#include "platform/toolkit/Application.h"
#include "platform/toolkit/Dialogs.h"
#include "tests/support/EventLoop.h"
#include "widgets/AnimLabel.h"

#include <QApplication>
#include <QImage>
#include <QMessageBox>
#include <QPalette>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

using testsupport::WaitUntil;

namespace {

QImage OnServer(const QWidget& widget)
{
    return widget.screen()->grabWindow(widget.winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

QImage Painted(QWidget& widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Whether the server shows the widget as it paints itself now, within a while.
bool ReachesServer(QWidget& widget, int timeoutMs = 3000)
{
    return WaitUntil([&] { return OnServer(widget) == Painted(widget); }, timeoutMs);
}

// A window like the program's: a dark face with a ticker that moves.
class TickerWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"))
            << "needs an X display: tests/support/desktop-session.sh";
        // What this file is about: the toolkit settings paint without the shared-memory image.
        ASSERT_EQ(qgetenv("QT_XCB_NO_MITSHM"), "1");
        window.setWindowFlag(Qt::FramelessWindowHint);
        window.resize(444, 200);
        QPalette dark = window.palette();
        dark.setColor(QPalette::Window, QColor(0x10, 0x20, 0x40));
        dark.setColor(QPalette::WindowText, QColor(0x60, 0xd0, 0xff));
        window.setPalette(dark);
        window.setAutoFillBackground(true);
        ticker.setGeometry(16, 48, 265, 13);
        ticker.SetIntervall(100);
        ticker.SetBuiltinTimer(true);
        ticker.SetOriginalCaption(QStringLiteral("Willkommen bei Sendolin - Eine Melodie vom lokalen Sender"));
        window.show();
        ASSERT_TRUE(WaitUntil([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }));
        ticker.StartScroll();
        testsupport::Pump(1000); // ten steps, each repainted and flushed
    }

    // Opens the toolkit's message box; `inspect` runs once the box is on
    // screen, then the box is closed.
    void WithMessageBox(const QString& text, const std::function<void(QMessageBox&)>& inspect)
    {
        bool inspected = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (inspected || !box || !box->windowHandle() || !box->windowHandle()->isExposed())
                return;
            inspected = true;
            inspect(*box);
            box->done(QMessageBox::Ok);
        });
        poll.start(20);
        platform::MessageBox(QStringLiteral("Sendolin Client"), text);
        EXPECT_TRUE(inspected) << "the message box never came on screen";
    }

    QWidget window;
    TAnimLabel ticker{&window};
};

TEST_F(TickerWindow, EveryTickerStepReachesTheServer)
{
    ticker.SetBuiltinTimer(false); // each step holds still, so both reads see it
    for (int step = 0; step < 5; ++step) {
        ticker.StartScroll();
        ticker.ScrollSteps(step * 3);
        EXPECT_TRUE(ReachesServer(window)) << "step " << step;
    }
}

TEST_F(TickerWindow, AMessageBoxOpenedWhileTheTickerRunsReachesTheServerPainted)
{
    // Several boxes, each opened after the window repainted for a while: the
    // box must never stay as a blank rectangle on the server.
    for (int attempt = 0; attempt < 3; ++attempt) {
        testsupport::Pump(300 * attempt);
        WithMessageBox(QStringLiteral("Wählen Sie einen Radiosender aus der Liste"), [&](QMessageBox& box) {
            EXPECT_TRUE(ReachesServer(box)) << "attempt " << attempt
                                            << ": the server never showed the box as it paints itself";
            const QImage shown = OnServer(box);
            QImage blank(shown.size(), QImage::Format_RGB32);
            blank.fill(shown.pixel(0, 0));
            EXPECT_NE(shown, blank) << "attempt " << attempt << ": only the box's background";
        });
    }
}

TEST_F(TickerWindow, TheWindowComesBackWholeWhereTheBoxCoveredIt)
{
    WithMessageBox(QStringLiteral("Funktion noch nicht integriert"), [](QMessageBox&) {});
    ticker.SetBuiltinTimer(false);
    ticker.StartScroll();
    EXPECT_TRUE(ReachesServer(window));
}

} // namespace

int main(int argc, char** argv)
{
    platform::Application::PrepareToolkit(); // as the program does
    // Listing the tests needs no display; running them does (SetUp says so).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
