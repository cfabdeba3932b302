// SPDX-License-Identifier: GPL-3.0-or-later
// TIconTaskBar puts the application's icon into the desktop's notification
// area and turns mouse actions on it into component events; TWinIconTaskBar
// is the hidden window that receives the shell's callback messages for it.
//
// State: Absent (Visible false) → ShowIcon → Present (Visible true) →
// HideIcon → Absent. Visible is a plain field: writing it adds or removes
// nothing. The receiver is created by the first ShowIcon, owned by the
// component's owner, and reused by every later ShowIcon; it works on copies
// of the handlers taken at ShowIcon, so later changes reach it only with the
// next ShowIcon. The destructor frees the icon object but leaves the icon in
// the notification area: the owner calls HideIcon first.
//
// GUI thread only; callback messages arrive through the receiver's
// NotifyWindow and are dispatched by the toolkit.
#pragma once

#include "platform/shell/ShellAPI.h"
#include "platform/core/NotifyWindow.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

// The callback message the shell sends to the receiver.
constexpr unsigned WM_TRAY_CALLBACK = platform::WM_USER + 1;

using TNotifyEvent = std::function<void(QObject* Sender)>;
using TMouseEvent = std::function<void(QObject* Sender, Qt::MouseButton Button,
                                       Qt::KeyboardModifiers Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(QObject* Sender, Qt::KeyboardModifiers Shift, int X, int Y)>;

// The shell calls the component makes, and where its icon comes from; the
// platform's by default, so tests can watch the records and force failures.
struct TShellCalls {
    std::function<platform::BOOL(platform::DWORD, const platform::NOTIFYICONDATA*)> NotifyIcon;
    // May throw or return an empty icon; the component's icon then stays empty.
    std::function<QIcon()> ApplicationIcon;

    static TShellCalls Platform();
};

// The program's icon from the artwork compiled in under :/app/icons (every
// size that is there); empty when there is none.
QIcon LoadApplicationIcon();

// The receiver: a hidden notification window, freed with its owner. Its
// mouse events carry no modifiers and position 0, 0: the shell's callback
// message has no cursor position.
class TWinIconTaskBar : public platform::NotifyWindow {
    Q_OBJECT

public:
    explicit TWinIconTaskBar(QObject* owner);

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TNotifyEvent OnEvent;
    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;

private:
    platform::LRESULT WndProc(unsigned message, platform::WPARAM wParam, platform::LPARAM lParam);
    void TrayCallback(platform::LPARAM mouseMessage);
};

class TIconTaskBar : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Hint MEMBER Hint)
    Q_PROPERTY(bool Visible MEMBER Visible)

public:
    Q_INVOKABLE explicit TIconTaskBar(QObject* owner = nullptr);
    ~TIconTaskBar() override;

    void ShowIcon();
    void HideIcon();

    // The receiver, or null before the first ShowIcon.
    TWinIconTaskBar* Receiver() const { return m_receiver; }
    // The icon object, or null before the first ShowIcon.
    const QIcon* Icon() const { return m_icon.get(); }

private:
    std::unique_ptr<QIcon> m_icon;
    platform::UINT m_iconId = 0;

public:
    QString Hint; // tooltip; at most 63 characters of it are shown
    TNotifyEvent OnEvent;
    TNotifyEvent OnShow;
    TNotifyEvent OnClose;
    TNotifyEvent OnDblClick;
    TNotifyEvent OnClick;
    TMouseEvent OnMouseUp; // published, never called
    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    bool Visible = false;

    TShellCalls Calls = TShellCalls::Platform();

private:
    platform::NOTIFYICONDATA Record() const;

    QPointer<TWinIconTaskBar> m_receiver;
};
