// SPDX-License-Identifier: GPL-3.0-or-later
// GUI thread only. The component talks to the shell only through Calls; the
// shell answers through the receiver's notification window.
#include "widgets/IconTBar.h"

#include "platform/toolkit/FileIconEngine.h"
#include "platform/core/TextCodec.h"

#include <QFile>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

using namespace platform;

namespace {

// The flags of every added icon: a callback message, an icon, a tooltip.
constexpr UINT IconFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;

} // namespace

TShellCalls TShellCalls::Platform()
{
    return {Shell_NotifyIcon, LoadApplicationIcon};
}

QIcon LoadApplicationIcon()
{
    auto engine = std::make_unique<platform::FileIconEngine>();
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString path = QStringLiteral(":/app/icons/hicolor/%1x%1/apps/sendolin.png").arg(size);
        if (QFile::exists(path))
            engine->AddFile(path, QSize(size, size));
    }
    return engine->isNull() ? QIcon() : QIcon(engine.release());
}

// ---------------------------------------------------------------------------
// The receiver
// ---------------------------------------------------------------------------

TWinIconTaskBar::TWinIconTaskBar(QObject* owner)
    : NotifyWindow([this](unsigned message, WPARAM wParam, LPARAM lParam) { return WndProc(message, wParam, lParam); },
                   owner)
{
}

LRESULT TWinIconTaskBar::WndProc(unsigned message, WPARAM, LPARAM lParam)
{
    if (message == WM_TRAY_CALLBACK)
        TrayCallback(lParam);
    return 0;
}

void TWinIconTaskBar::TrayCallback(LPARAM mouseMessage)
{
    if (OnEvent)
        OnEvent(this);
    const auto press = [this](Qt::MouseButton button) {
        if (OnMouseDown)
            OnMouseDown(this, button, Qt::NoModifier, 0, 0);
    };
    switch (mouseMessage) {
    case WM_MOUSEMOVE:
        if (OnMouseMove)
            OnMouseMove(this, Qt::NoModifier, 0, 0);
        break;
    case WM_LBUTTONDOWN: press(Qt::LeftButton); break;
    case WM_RBUTTONDOWN: press(Qt::RightButton); break;
    case WM_MBUTTONDOWN: press(Qt::MiddleButton); break;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
        if (OnClick)
            OnClick(this);
        break;
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDBLCLK:
        if (OnDblClick)
            OnDblClick(this);
        break;
    default: break;
    }
}

// ---------------------------------------------------------------------------
// The component
// ---------------------------------------------------------------------------

TIconTaskBar::TIconTaskBar(QObject* owner) : QObject(owner) {}

TIconTaskBar::~TIconTaskBar() = default;

NOTIFYICONDATA TIconTaskBar::Record() const
{
    NOTIFYICONDATA data{};
    data.cbSize = NOTIFYICONDATA_V1_SIZE;
    data.hWnd = m_receiver ? m_receiver->Handle() : 0;
    data.uID = m_iconId;
    return data;
}

void TIconTaskBar::ShowIcon()
{
    if (!m_receiver) {
        // Freed with the owner; a component without one keeps it itself.
        m_receiver = new TWinIconTaskBar(parent() ? parent() : this);
    }
    m_receiver->OnClick = OnClick;
    m_receiver->OnDblClick = OnDblClick;
    m_receiver->OnEvent = OnEvent;
    m_receiver->OnMouseDown = OnMouseDown;
    m_receiver->OnMouseMove = OnMouseMove;
    if (!m_icon) {
        m_icon = std::make_unique<QIcon>();
        try {
            *m_icon = Calls.ApplicationIcon();
        } catch (...) {
            // Without artwork the icon stays empty; the shell still adds it.
        }
    }
    NOTIFYICONDATA data = Record();
    data.uFlags = IconFlags;
    data.uCallbackMessage = WM_TRAY_CALLBACK;
    data.hIcon = m_icon.get();
    const std::string tip = ToWin1252(Hint);
    std::memcpy(data.szTip, tip.data(), std::min(tip.size(), sizeof data.szTip - 1));
    Calls.NotifyIcon(NIM_ADD, &data);
    Visible = true;
    if (OnShow)
        OnShow(this);
}

void TIconTaskBar::HideIcon()
{
    if (OnClose)
        OnClose(this);
    const NOTIFYICONDATA data = Record();
    Calls.NotifyIcon(NIM_DELETE, &data);
    Visible = false;
}
