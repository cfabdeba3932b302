// SPDX-License-Identifier: GPL-3.0-or-later
// TIconTaskBar against a recording shell: the records it hands over, the
// receiver's dispatch table and the handler copies it works on.
#include "widgets/IconTBar.h"

#include "tests/support/EventLoop.h"

#include <QPixmap>
#include <QPointer>
#include <QVariant>
#include <gtest/gtest.h>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

using namespace platform;

namespace {

struct ShellCall {
    DWORD message;
    NOTIFYICONDATA data;
};

// A component whose shell calls are recorded instead of made.
struct RecordedIcon {
    RecordedIcon()
    {
        icon.Calls.NotifyIcon = [this](DWORD message, const NOTIFYICONDATA* data) {
            calls.push_back({message, *data});
            return BOOL(true);
        };
        icon.Calls.ApplicationIcon = [this] {
            ++iconCopies;
            QPixmap picture(16, 16);
            picture.fill(Qt::red);
            return QIcon(picture);
        };
    }

    QObject owner;
    TIconTaskBar icon{&owner};
    std::vector<ShellCall> calls;
    int iconCopies = 0;
};

// Every callback event as one line, with its Sender checked.
struct EventLog {
    void Attach(TIconTaskBar& icon)
    {
        icon.OnEvent = [this](QObject* s) { Add(s, "event"); };
        icon.OnClick = [this](QObject* s) { Add(s, "click"); };
        icon.OnDblClick = [this](QObject* s) { Add(s, "dblclick"); };
        icon.OnMouseDown = [this](QObject* s, Qt::MouseButton b, Qt::KeyboardModifiers, int, int) {
            Add(s, b == Qt::LeftButton ? "down left" : b == Qt::RightButton ? "down right" : "down middle");
        };
        icon.OnMouseUp = [this](QObject* s, Qt::MouseButton, Qt::KeyboardModifiers, int, int) { Add(s, "up"); };
        icon.OnMouseMove = [this](QObject* s, Qt::KeyboardModifiers, int, int) { Add(s, "move"); };
    }
    void Add(QObject* sender, const std::string& what)
    {
        lines.push_back(what);
        senders.push_back(sender);
    }
    std::vector<std::string> lines;
    std::vector<QObject*> senders;
};

std::vector<std::string> Lines(std::initializer_list<const char*> items)
{
    return {items.begin(), items.end()};
}

} // namespace

TEST(IconTaskBar, ShowIconAddsTheRecordOfItsReceiverAndHideIconDeletesIt)
{
    RecordedIcon r;
    r.icon.Hint = QStringLiteral("Grüße");
    std::vector<std::string> order;
    r.icon.OnShow = [&](QObject* s) {
        EXPECT_EQ(s, &r.icon);
        order.push_back("show after " + std::to_string(r.calls.size()) + " call(s)");
    };
    r.icon.OnClose = [&](QObject* s) {
        EXPECT_EQ(s, &r.icon);
        order.push_back("close after " + std::to_string(r.calls.size()) + " call(s)");
    };

    r.icon.ShowIcon();
    ASSERT_EQ(r.calls.size(), 1u);
    ASSERT_NE(r.icon.Receiver(), nullptr);
    EXPECT_EQ(r.icon.Receiver()->parent(), &r.owner) << "the receiver must be freed with the owner";
    const NOTIFYICONDATA add = r.calls[0].data; // a copy: the next call may move the list
    EXPECT_EQ(r.calls[0].message, NIM_ADD);
    EXPECT_EQ(add.cbSize, 88u);
    EXPECT_EQ(add.hWnd, r.icon.Receiver()->Handle());
    EXPECT_EQ(add.uID, 0u);
    EXPECT_EQ(add.uFlags, 7u);
    EXPECT_EQ(add.uCallbackMessage, 0x401u);
    EXPECT_EQ(add.hIcon, r.icon.Icon());
    EXPECT_EQ(std::string(add.szTip), "Gr\xfc\xdf" "e") << "the tip is Windows-1252 text";
    EXPECT_TRUE(r.icon.Visible);

    r.icon.HideIcon();
    ASSERT_EQ(r.calls.size(), 2u);
    EXPECT_EQ(r.calls[1].message, NIM_DELETE);
    EXPECT_EQ(r.calls[1].data.cbSize, 88u);
    EXPECT_EQ(r.calls[1].data.hWnd, add.hWnd);
    EXPECT_EQ(r.calls[1].data.uID, 0u);
    EXPECT_FALSE(r.icon.Visible);
    EXPECT_EQ(order, Lines({"show after 1 call(s)", "close after 1 call(s)"}));

    // Shown again: the same receiver and the same icon object, no new copy.
    const HWND receiver = add.hWnd;
    const QIcon* icon = r.icon.Icon();
    r.icon.ShowIcon();
    ASSERT_EQ(r.calls.size(), 3u);
    EXPECT_EQ(r.calls[2].message, NIM_ADD);
    EXPECT_EQ(r.calls[2].data.hWnd, receiver);
    EXPECT_EQ(r.icon.Icon(), icon);
    EXPECT_EQ(r.iconCopies, 1);
    EXPECT_FALSE(r.icon.Icon()->isNull());
}

TEST(IconTaskBar, WritingVisibleAddsAndRemovesNothing)
{
    RecordedIcon r;
    r.icon.Visible = true;
    r.icon.setProperty("Visible", false);
    r.icon.setProperty("Visible", true);
    EXPECT_TRUE(r.calls.empty());
    EXPECT_EQ(r.icon.Receiver(), nullptr);
    EXPECT_TRUE(r.icon.property("Visible").toBool());
}

TEST(IconTaskBar, TheTipIsCutTo63CharactersAndAnEmptyHintGivesNoTip)
{
    RecordedIcon r;
    r.icon.Hint = QString(70, u'x');
    r.icon.ShowIcon();
    EXPECT_EQ(std::string(r.calls[0].data.szTip), std::string(63, 'x'));

    r.icon.HideIcon();
    r.icon.Hint.clear();
    r.icon.ShowIcon();
    EXPECT_EQ(std::string(r.calls[2].data.szTip), "");
}

TEST(IconTaskBar, AnIconThatCannotBeCopiedStaysEmptyAndTheIconIsStillAdded)
{
    RecordedIcon r;
    r.icon.Calls.ApplicationIcon = []() -> QIcon { throw std::runtime_error("no artwork"); };
    r.icon.ShowIcon();
    ASSERT_NE(r.icon.Icon(), nullptr);
    EXPECT_TRUE(r.icon.Icon()->isNull());
    ASSERT_EQ(r.calls.size(), 1u);
    EXPECT_EQ(r.calls[0].data.hIcon, r.icon.Icon());
    EXPECT_TRUE(r.icon.Visible);
}

TEST(IconTaskBar, EveryMouseMessageOfTheCallbackReachesItsEventAfterOnEvent)
{
    RecordedIcon r;
    EventLog log;
    log.Attach(r.icon);
    r.icon.ShowIcon();
    TWinIconTaskBar* receiver = r.icon.Receiver();
    const auto send = [&](LPARAM mouse) {
        log.lines.clear();
        receiver->Send(WM_TRAY_CALLBACK, 0, mouse);
        return log.lines;
    };

    EXPECT_EQ(send(WM_MOUSEMOVE), Lines({"event", "move"}));
    EXPECT_EQ(send(WM_LBUTTONDOWN), Lines({"event", "down left"}));
    EXPECT_EQ(send(WM_RBUTTONDOWN), Lines({"event", "down right"}));
    EXPECT_EQ(send(WM_MBUTTONDOWN), Lines({"event", "down middle"}));
    EXPECT_EQ(send(WM_LBUTTONUP), Lines({"event", "click"}));
    EXPECT_EQ(send(WM_RBUTTONUP), Lines({"event", "click"})) << "a right release is a click too";
    EXPECT_EQ(send(WM_MBUTTONUP), Lines({"event", "click"}));
    EXPECT_EQ(send(WM_LBUTTONDBLCLK), Lines({"event", "dblclick"}));
    EXPECT_EQ(send(WM_RBUTTONDBLCLK), Lines({"event", "dblclick"}));
    EXPECT_EQ(send(WM_MBUTTONDBLCLK), Lines({"event", "dblclick"}));
    EXPECT_EQ(send(0x20A), Lines({"event"})) << "other mouse messages call OnEvent only";
    for (QObject* sender : log.senders)
        EXPECT_EQ(sender, receiver) << "callback events name the receiver as Sender";

    // Only the callback message is dispatched.
    log.lines.clear();
    receiver->Send(WM_TRAY_CALLBACK + 1, 0, WM_LBUTTONUP);
    EXPECT_TRUE(log.lines.empty());
}

TEST(IconTaskBar, ADoubleClickAsTheShellPostsItGivesTwoClicksAndOneDoubleClick)
{
    RecordedIcon r;
    EventLog log;
    log.Attach(r.icon);
    r.icon.ShowIcon();
    const HWND receiver = r.icon.Receiver()->Handle();
    for (const unsigned mouse : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
        ASSERT_TRUE(NotifyWindow::Post(receiver, WM_TRAY_CALLBACK, 0, mouse));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return log.lines.size() == 8; }));
    EXPECT_EQ(log.lines, Lines({"event", "down left", "event", "click", "event", "dblclick", "event", "click"}));
}

TEST(IconTaskBar, TheReceiverWorksOnTheHandlersOfTheLastShowIcon)
{
    RecordedIcon r;
    std::vector<std::string> clicks;
    r.icon.OnClick = [&](QObject*) { clicks.push_back("first"); };
    r.icon.ShowIcon();
    r.icon.OnClick = [&](QObject*) { clicks.push_back("second"); };
    r.icon.Receiver()->Send(WM_TRAY_CALLBACK, 0, WM_LBUTTONUP);
    EXPECT_EQ(clicks, Lines({"first"})) << "a handler changed after ShowIcon must not reach the receiver";

    r.icon.HideIcon();
    r.icon.ShowIcon();
    r.icon.Receiver()->Send(WM_TRAY_CALLBACK, 0, WM_LBUTTONUP);
    EXPECT_EQ(clicks, Lines({"first", "second"}));
}

TEST(IconTaskBar, TheDestructorLeavesTheIconAndTheReceiverGoesWithTheOwner)
{
    std::vector<DWORD> messages;
    auto owner = std::make_unique<QObject>();
    auto* icon = new TIconTaskBar(owner.get());
    icon->Calls.NotifyIcon = [&](DWORD message, const NOTIFYICONDATA*) {
        messages.push_back(message);
        return BOOL(true);
    };
    icon->Calls.ApplicationIcon = [] { return QIcon(); };
    icon->ShowIcon();
    QPointer<TWinIconTaskBar> receiver = icon->Receiver();
    delete icon;
    EXPECT_EQ(messages, std::vector<DWORD>{NIM_ADD}) << "the owner removes the icon, not the destructor";
    EXPECT_FALSE(receiver.isNull());
    owner.reset();
    EXPECT_TRUE(receiver.isNull());
}
