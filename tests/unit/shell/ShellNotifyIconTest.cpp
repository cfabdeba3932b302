// SPDX-License-Identifier: GPL-3.0-or-later
// Shell_NotifyIcon on QSystemTrayIcon: what each call does to the icon, and
// the mouse messages a click on it posts to the icon's window. Clicks are
// Qt's activation signals, emitted here as a desktop would cause them.
#include "platform/shell/ShellAPI.h"

#include "tests/support/EventLoop.h"

#include <QCoreApplication>
#include <QPixmap>
#include <QPointer>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>
#include <cstring>
#include <memory>
#include <vector>

using namespace platform;

namespace {

constexpr UINT Callback = WM_USER + 1;

struct Message {
    unsigned message;
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const Message&) const = default;
};

// An icon's window that records what the shell posts to it.
struct IconWindow {
    IconWindow()
        : window(std::make_unique<NotifyWindow>([this](unsigned m, WPARAM w, LPARAM l) {
              received.push_back({m, w, l});
              return LRESULT(0);
          }))
    {
    }

    NOTIFYICONDATA Record(UINT id, UINT flags, const char* tip = "") const
    {
        NOTIFYICONDATA data{};
        data.cbSize = NOTIFYICONDATA_V1_SIZE;
        data.hWnd = window->Handle();
        data.uID = id;
        data.uFlags = flags;
        data.uCallbackMessage = Callback;
        std::strncpy(data.szTip, tip, sizeof data.szTip - 1);
        return data;
    }

    // What a click posts, once all of it has arrived.
    std::vector<Message> Click(UINT id, QSystemTrayIcon::ActivationReason reason, size_t expected)
    {
        received.clear();
        emit ShellTrayIcon(window->Handle(), id)->activated(reason);
        testsupport::WaitUntil([&] { return received.size() >= expected; }, 2000);
        testsupport::Pump(20);
        return received;
    }

    std::unique_ptr<NotifyWindow> window;
    std::vector<Message> received;
};

QIcon RedIcon()
{
    QPixmap picture(16, 16);
    picture.fill(Qt::red);
    return QIcon(picture);
}

} // namespace

TEST(ShellNotifyIcon, AddModifyAndDeleteWorkOnTheIconOfThatWindowAndId)
{
    IconWindow w;
    const QIcon red = RedIcon();
    NOTIFYICONDATA add = w.Record(3, NIF_MESSAGE | NIF_ICON | NIF_TIP, "Gr\xfc\xdf" "e");
    add.hIcon = &red;
    ASSERT_TRUE(Shell_NotifyIcon(NIM_ADD, &add));
    QSystemTrayIcon* icon = ShellTrayIcon(w.window->Handle(), 3);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(ShellTrayIcon(w.window->Handle(), 0), nullptr);
    EXPECT_EQ(icon->toolTip(), QStringLiteral("Grüße")) << "the tip is Windows-1252 text";
    EXPECT_FALSE(icon->icon().isNull());
    EXPECT_EQ(icon->icon().pixmap(16).toImage().pixelColor(8, 8), QColor(Qt::red));
    EXPECT_FALSE(Shell_NotifyIcon(NIM_ADD, &add)) << "the same icon was added twice";

    // Only the fields named in the flags change.
    NOTIFYICONDATA tip = w.Record(3, NIF_TIP, "Neu");
    ASSERT_TRUE(Shell_NotifyIcon(NIM_MODIFY, &tip));
    EXPECT_EQ(icon->toolTip(), QStringLiteral("Neu"));
    EXPECT_FALSE(icon->icon().isNull()) << "a tip change must keep the icon";

    const NOTIFYICONDATA remove = w.Record(3, 0);
    ASSERT_TRUE(Shell_NotifyIcon(NIM_DELETE, &remove));
    EXPECT_EQ(ShellTrayIcon(w.window->Handle(), 3), nullptr);
    EXPECT_FALSE(Shell_NotifyIcon(NIM_DELETE, &remove));
    EXPECT_FALSE(Shell_NotifyIcon(NIM_MODIFY, &tip));
}

TEST(ShellNotifyIcon, RefusesRecordsOfAnotherVersion)
{
    IconWindow w;
    NOTIFYICONDATA add = w.Record(0, NIF_TIP);
    add.cbSize = sizeof(NOTIFYICONDATA);
    EXPECT_FALSE(Shell_NotifyIcon(NIM_ADD, &add));
    EXPECT_FALSE(Shell_NotifyIcon(NIM_ADD, nullptr));
    EXPECT_EQ(ShellTrayIcon(w.window->Handle(), 0), nullptr);
}

TEST(ShellNotifyIcon, AClickPostsTheMouseMessagesOfAWindowsShellInOrder)
{
    IconWindow w;
    NOTIFYICONDATA add = w.Record(7, NIF_MESSAGE | NIF_TIP);
    ASSERT_TRUE(Shell_NotifyIcon(NIM_ADD, &add));

    using R = QSystemTrayIcon;
    const auto posted = [](std::initializer_list<unsigned> mouse) {
        std::vector<Message> messages;
        for (const unsigned m : mouse)
            messages.push_back({Callback, 7, LPARAM(m)});
        return messages;
    };
    EXPECT_EQ(w.Click(7, R::Trigger, 2), posted({WM_LBUTTONDOWN, WM_LBUTTONUP}));
    EXPECT_EQ(w.Click(7, R::Context, 2), posted({WM_RBUTTONDOWN, WM_RBUTTONUP}));
    EXPECT_EQ(w.Click(7, R::MiddleClick, 2), posted({WM_MBUTTONDOWN, WM_MBUTTONUP}));
    EXPECT_TRUE(w.Click(7, R::Unknown, 1).empty());

    // Qt reports a double click as its first click, then the double click:
    // together they make the four messages of a double click, not six.
    w.received.clear();
    emit ShellTrayIcon(w.window->Handle(), 7)->activated(R::Trigger);
    emit ShellTrayIcon(w.window->Handle(), 7)->activated(R::DoubleClick);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return w.received.size() >= 4; }, 2000));
    testsupport::Pump(20);
    EXPECT_EQ(w.received, posted({WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}));

    const NOTIFYICONDATA remove = w.Record(7, 0);
    Shell_NotifyIcon(NIM_DELETE, &remove);
}

TEST(ShellNotifyIcon, AnIconWithoutCallbackMessagePostsNothing)
{
    IconWindow w;
    NOTIFYICONDATA add = w.Record(1, NIF_TIP);
    ASSERT_TRUE(Shell_NotifyIcon(NIM_ADD, &add));
    EXPECT_TRUE(w.Click(1, QSystemTrayIcon::Trigger, 1).empty());
    const NOTIFYICONDATA remove = w.Record(1, 0);
    Shell_NotifyIcon(NIM_DELETE, &remove);
}

TEST(ShellNotifyIcon, TheIconOfADestroyedWindowGoesAtItsNextClick)
{
    IconWindow w;
    NOTIFYICONDATA add = w.Record(2, NIF_MESSAGE);
    ASSERT_TRUE(Shell_NotifyIcon(NIM_ADD, &add));
    const HWND handle = w.window->Handle();
    QPointer<QSystemTrayIcon> icon = ShellTrayIcon(handle, 2);
    w.window.reset();
    ASSERT_FALSE(icon.isNull()) << "the shell does not watch windows";
    emit icon->activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(ShellTrayIcon(handle, 2), nullptr);
    EXPECT_TRUE(testsupport::WaitUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return icon.isNull();
    }, 2000));
}
