// SPDX-License-Identifier: GPL-3.0-or-later
// The notification-area calls the icon component is written against, with
// the original numbers: Shell_NotifyIcon with NIM_ADD, NIM_MODIFY and
// NIM_DELETE on the 88-byte NOTIFYICONDATA, and the mouse messages the shell
// sends back to the icon's window.
//
// Each icon is a QSystemTrayIcon, so it shows wherever the desktop has a
// notification area: a StatusNotifierItem on D-Bus when a
// org.kde.StatusNotifierWatcher with a host is on the session bus (KDE
// Plasma, GNOME with the AppIndicator extension, Xfce, LXQt), else an XEmbed
// tray icon (X11 panels; Qt docks it when such a tray appears later). An
// icon added while there is no notification area at all stays registered
// and invisible.
//
// GUI thread only. A click on an icon becomes the mouse messages a Windows
// shell would send, posted in order to the icon's window (a NotifyWindow
// handle) as the callback message with the icon's id in wParam and the
// mouse message in lParam.
#pragma once

#include "platform/core/NotifyWindow.h"

#include <cstdint>

class QIcon;
class QSystemTrayIcon;

namespace platform {

using BOOL = int;
using UINT = unsigned;
using DWORD = std::uint32_t;
// An icon handle is the address of the icon object; the shell copies the
// picture when it is added or modified, so the object need not outlive that.
using HICON = const QIcon*;

constexpr DWORD NIM_ADD = 0x0;
constexpr DWORD NIM_MODIFY = 0x1;
constexpr DWORD NIM_DELETE = 0x2;

constexpr UINT NIF_MESSAGE = 0x1;
constexpr UINT NIF_ICON = 0x2;
constexpr UINT NIF_TIP = 0x4;

// The size of the record's first version, the only one this shell knows.
constexpr DWORD NOTIFYICONDATA_V1_SIZE = 88;

// The mouse messages of a callback (its lParam).
constexpr unsigned WM_MOUSEMOVE = 0x200;
constexpr unsigned WM_LBUTTONDOWN = 0x201;
constexpr unsigned WM_LBUTTONUP = 0x202;
constexpr unsigned WM_LBUTTONDBLCLK = 0x203;
constexpr unsigned WM_RBUTTONDOWN = 0x204;
constexpr unsigned WM_RBUTTONUP = 0x205;
constexpr unsigned WM_RBUTTONDBLCLK = 0x206;
constexpr unsigned WM_MBUTTONDOWN = 0x207;
constexpr unsigned WM_MBUTTONUP = 0x208;
constexpr unsigned WM_MBUTTONDBLCLK = 0x209;

// The version-1 record. Window and icon are 64-bit here, so the structure is
// larger than 88 bytes; cbSize still says 88 to name the version.
struct NOTIFYICONDATA {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    char szTip[64]; // Windows-1252, zero-terminated
};

// NIM_ADD fails (FALSE) for an icon (window, id) that exists already;
// NIM_MODIFY and NIM_DELETE fail for one that does not. Every call fails for
// a record whose cbSize is not NOTIFYICONDATA_V1_SIZE. Only the fields named
// in uFlags are taken from the record.
BOOL Shell_NotifyIcon(DWORD message, const NOTIFYICONDATA* data);

// True when the desktop offers a notification area now.
bool NotificationAreaAvailable();

// The icon the shell shows for (window, id), or nullptr: lets tests look at
// it and click it without a desktop.
QSystemTrayIcon* ShellTrayIcon(HWND window, UINT id);

} // namespace platform
