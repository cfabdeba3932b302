// SPDX-License-Identifier: GPL-3.0-or-later
// The notification-area icon in an XEmbed system tray: a real tray (trayer)
// on the session's X display and no StatusNotifierWatcher on its bus, so the
// icon docks as an X window. The test clicks it with the mouse (xdotool).
#include "app/Demo2Client.h"
#include "platform/shell/ShellAPI.h"
#include "platform/toolkit/TBitBtn.h"
#include "tests/support/EventLoop.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/WindowSnapshot.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTest>
#include <gtest/gtest.h>

using testsupport::MainWindowHarness;
using testsupport::WaitUntil;
using testsupport::WindowSnapshot;

namespace {

class XEmbedTray : public ::testing::Test {
protected:
    void SetUp() override
    {
        tray.setProcessChannelMode(QProcess::ForwardedChannels);
        tray.start(QStringLiteral("trayer"), {"--edge", "top", "--align", "right", "--widthtype", "request",
                                              "--height", "32", "--expand", "false"});
        ASSERT_TRUE(tray.waitForStarted(10000)) << "trayer is not installed";
        ASSERT_TRUE(WaitUntil([] { return platform::NotificationAreaAvailable(); }, 15000))
            << "the tray never took the system tray selection";
    }

    void TearDown() override
    {
        tray.terminate();
        if (!tray.waitForFinished(5000))
            tray.kill();
    }

    // The docked icon's place on the screen, once the tray has embedded it:
    // before that the icon is a window of its own at the origin, and the
    // tray sits at the top right.
    static QRect DockedIcon(TfmMain& form)
    {
        // The tray may still move the icon while it sizes itself, so the
        // place counts once it has held for a while.
        QRect where;
        QElapsedTimer held;
        WaitUntil([&] {
            const TWinIconTaskBar* receiver = form.IconTaskBar->Receiver();
            const QSystemTrayIcon* icon = receiver ? platform::ShellTrayIcon(receiver->Handle(), 0) : nullptr;
            const QRect now = icon ? icon->geometry() : QRect();
            if (now != where || !held.isValid()) {
                where = now;
                held.start();
            }
            return where.width() > 0 && where.height() > 0 && where.x() > 0 && held.elapsed() > 500;
        }, 15000);
        return where;
    }

    QProcess tray;
};

// Presses and releases a mouse button over a point of the screen.
bool ClickAt(const QPoint& at, int button)
{
    // From elsewhere onto the icon, so the tray sees the pointer arrive.
    return QProcess::execute(QStringLiteral("xdotool"),
                             {"mousemove", "--sync", "0", "700", "mousemove", "--sync", QString::number(at.x()),
                              QString::number(at.y()), "sleep", "0.2", "click", QString::number(button)})
        == 0;
}

} // namespace

TEST_F(XEmbedTray, LeftAndRightClicksOnTheDockedIconBringTheHiddenWindowBack)
{
    MainWindowHarness h;
    h.directory.body = testsupport::TwoStations;
    TfmMain& form = h.Create();
    form.show();
    EXPECT_TRUE(form.windowFlags().testFlag(Qt::Tool)) << "with a notification area the window has no taskbar entry";
    const QRect icon = DockedIcon(form);
    ASSERT_FALSE(icon.isEmpty()) << "the icon was never docked in the tray";

    ASSERT_TRUE(testsupport::GiveWindowAState(form));
    const WindowSnapshot before(form);
    // Hidden and shown again at once, before the directory query of the
    // last showing has ended: the window must survive the second showing.
    for (const int button : {1, 3}) {
        SCOPED_TRACE(button == 1 ? "left button" : "right button");
        // The handler itself: a synthetic click would mix Qt's test clock
        // into the real clicks' double-click timing.
        form.BitBtn2Click(form.BitBtn2);
        ASSERT_FALSE(form.isVisible()) << "the hide button did not hide the window";
        ASSERT_TRUE(ClickAt(icon.center(), button)) << "xdotool failed";
        ASSERT_TRUE(WaitUntil([&] { return form.isVisible(); }, 10000)) << "the window did not come back";
        EXPECT_EQ(WindowSnapshot(form), before);
    }

    const platform::HWND receiver = form.IconTaskBar->Receiver()->Handle();
    form.close();
    EXPECT_EQ(platform::ShellTrayIcon(receiver, 0), nullptr) << "closing the window left its icon docked";
}

// A directory that takes its time: the window is hidden and shown again from
// the tray while its query is still open, and stays open itself.
TEST(TrayShowing, ShowingAgainDuringADirectoryQueryKeepsTheWindowOpen)
{
    QTcpServer slowDirectory; // accepts and never answers
    ASSERT_TRUE(slowDirectory.listen(QHostAddress::LocalHost, 0));
    MainWindowHarness h;
    h.WriteServerIni(QStringLiteral("http://127.0.0.1:%1/\n").arg(slowDirectory.serverPort()).toStdString());
    TfmMain& form = h.Create();
    form.show();
    ASSERT_TRUE(WaitUntil([&] { return form.HTTPWSocket->State() == net::wsConnected; }, 10000));
    form.hide();
    form.IconTaskBar->OnClick(form.IconTaskBar);
    testsupport::Pump(300);
    EXPECT_TRUE(form.isVisible()) << "the second showing closed the window";
    EXPECT_TRUE(h.messages.empty()) << h.messages.front().text.toStdString();
}
