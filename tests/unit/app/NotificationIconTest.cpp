// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's notification-area icon where the desktop has none (the
// offscreen platform offers no notification area): the icon is still
// registered for the day one appears, the underscore button minimises instead
// of hiding, and the window keeps its taskbar entry. The way back through the
// icon, and its removal at close, through the shell.
#include "app/Demo2Client.h"
#include "platform/shell/ShellAPI.h"
#include "platform/toolkit/TBitBtn.h"
#include "platform/toolkit/TTimer.h"
#include "tests/support/EventLoop.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/WindowSnapshot.h"

#include <QSystemTrayIcon>
#include <QTest>
#include <gtest/gtest.h>

using testsupport::MainWindowHarness;
using testsupport::WaitUntil;
using testsupport::WindowSnapshot;

namespace {

QSystemTrayIcon* ShownIcon(TfmMain& form)
{
    const TWinIconTaskBar* receiver = form.IconTaskBar->Receiver();
    return receiver ? platform::ShellTrayIcon(receiver->Handle(), 0) : nullptr;
}

} // namespace

TEST(NotificationIcon, WithoutANotificationAreaTheHideButtonMinimisesAndNothingIsLost)
{
    ASSERT_FALSE(platform::NotificationAreaAvailable()) << "this test needs a desktop without one";
    MainWindowHarness h;
    h.directory.body = testsupport::TwoStations;
    TfmMain& form = h.Create();
    form.show();
    EXPECT_FALSE(form.windowFlags().testFlag(Qt::Tool)) << "without a notification area the taskbar entry is the way back";
    EXPECT_TRUE(form.IconTaskBar->Visible);
    EXPECT_NE(ShownIcon(form), nullptr) << "the icon waits in the shell for a notification area";
    ASSERT_TRUE(testsupport::GiveWindowAState(form));
    const WindowSnapshot before(form);

    QTest::mouseClick(form.BitBtn2, Qt::LeftButton);
    EXPECT_TRUE(form.isVisible()) << "hiding would strand the window";
    EXPECT_TRUE(form.isMinimized());
    EXPECT_TRUE(form.Timer1->Enabled());
    EXPECT_EQ(WindowSnapshot(form), before);

    // The icon still brings it back, should a notification area show it.
    emit ShownIcon(form)->activated(QSystemTrayIcon::Trigger);
    ASSERT_TRUE(WaitUntil([&] { return !form.isMinimized(); }));
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(WindowSnapshot(form), before);
}

TEST(NotificationIcon, ShowingAgainAddsNoSecondIconAndClosingRemovesIt)
{
    MainWindowHarness h;
    TfmMain& form = h.Create();
    std::vector<platform::DWORD> calls;
    const auto shell = form.IconTaskBar->Calls.NotifyIcon;
    form.IconTaskBar->Calls.NotifyIcon = [&](platform::DWORD message, const platform::NOTIFYICONDATA* data) {
        calls.push_back(message);
        return shell(message, data);
    };
    EXPECT_FALSE(form.IconTaskBar->Visible) << "the icon is not shown before the window";

    form.show();
    // Shown again while its first query is still open, the window would end
    // the program with the directory error, as a tick during a query does.
    ASSERT_TRUE(WaitUntil([&] { return h.QueriesDone(1); }));
    form.hide();
    // A click on the icon shows the window, which runs its show steps again:
    // a directory query, but no second icon.
    emit ShownIcon(form)->activated(QSystemTrayIcon::Context);
    ASSERT_TRUE(WaitUntil([&] { return form.isVisible(); })) << "a right click must bring the window back too";
    EXPECT_TRUE(WaitUntil([&] { return h.directory.requests.size() == 2; })) << "FormShow did not run again";
    EXPECT_EQ(calls, std::vector<platform::DWORD>{platform::NIM_ADD});

    const platform::HWND receiver = form.IconTaskBar->Receiver()->Handle();
    form.close();
    EXPECT_EQ(calls, (std::vector<platform::DWORD>{platform::NIM_ADD, platform::NIM_DELETE}));
    EXPECT_FALSE(form.IconTaskBar->Visible);
    EXPECT_EQ(platform::ShellTrayIcon(receiver, 0), nullptr) << "closing the window left its icon behind";
}
