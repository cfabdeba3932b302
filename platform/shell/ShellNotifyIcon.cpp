// SPDX-License-Identifier: GPL-3.0-or-later
// GUI thread only. The icons live in one table owned by a QObject that is
// deleted early in the application object's destruction, so they are gone
// before Qt shuts its windowing system down.
// An icon whose window no longer exists is removed the next time it is
// clicked, as a Windows shell drops the icon of a dead window once the mouse
// passes over it.
#include "platform/shell/ShellAPI.h"

#include "platform/core/TextCodec.h"

#include <QCoreApplication>
#include <QIcon>
#include <QLoggingCategory>
#include <QPointer>
#include <QSystemTrayIcon>
#include <cstring>
#include <map>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

Q_LOGGING_CATEGORY(lcShell, "sendolin.shell", QtInfoMsg)

namespace platform {

namespace {

using IconKey = std::pair<HWND, UINT>;

// The mouse messages a Windows shell sends for the click Qt reports. Qt
// reports the first click of a double click on its own (Trigger), so a
// double click adds only the messages of its second click.
std::vector<unsigned> MouseMessagesFor(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger: return {WM_LBUTTONDOWN, WM_LBUTTONUP};
    case QSystemTrayIcon::DoubleClick: return {WM_LBUTTONDBLCLK, WM_LBUTTONUP};
    case QSystemTrayIcon::Context: return {WM_RBUTTONDOWN, WM_RBUTTONUP};
    case QSystemTrayIcon::MiddleClick: return {WM_MBUTTONDOWN, WM_MBUTTONUP};
    case QSystemTrayIcon::Unknown: break;
    }
    return {};
}

QString TipText(const NOTIFYICONDATA& data)
{
    const char* end = static_cast<const char*>(std::memchr(data.szTip, 0, sizeof data.szTip));
    const std::size_t length = end ? static_cast<std::size_t>(end - data.szTip) : sizeof data.szTip;
    return FromWin1252(std::string_view(data.szTip, length));
}

class Shell : public QObject {
public:
    static Shell& Instance()
    {
        if (!s_shell) {
            s_shell = new Shell(QCoreApplication::instance());
            // Icons left at exit go while the windowing system is still
            // there: the application's children would go after it.
            qAddPostRoutine([] { delete s_shell; });
        }
        return *s_shell;
    }

    BOOL Add(const NOTIFYICONDATA& data)
    {
        const IconKey key{data.hWnd, data.uID};
        if (m_icons.count(key))
            return false;
        auto icon = std::make_unique<QSystemTrayIcon>();
        connect(icon.get(), &QSystemTrayIcon::activated, this,
                [this, key](QSystemTrayIcon::ActivationReason reason) { Clicked(key, reason); });
        Entry& entry = m_icons[key];
        entry.icon = std::move(icon);
        Apply(entry, data);
        entry.icon->show();
        qCDebug(lcShell) << "icon added for window" << data.hWnd << "id" << data.uID
                         << "notification area:" << QSystemTrayIcon::isSystemTrayAvailable();
        return true;
    }

    BOOL Modify(const NOTIFYICONDATA& data)
    {
        const auto found = m_icons.find({data.hWnd, data.uID});
        if (found == m_icons.end())
            return false;
        Apply(found->second, data);
        return true;
    }

    BOOL Delete(const NOTIFYICONDATA& data)
    {
        // Destroying the icon (not only hiding it) is what takes a
        // StatusNotifierItem off the bus.
        return m_icons.erase({data.hWnd, data.uID}) != 0;
    }

    QSystemTrayIcon* Find(HWND window, UINT id) const
    {
        const auto found = m_icons.find({window, id});
        return found == m_icons.end() ? nullptr : found->second.icon.get();
    }

private:
    struct Entry {
        std::unique_ptr<QSystemTrayIcon> icon;
        UINT callbackMessage = 0;
        bool hasCallback = false;
    };

    explicit Shell(QObject* parent) : QObject(parent) {}

    static void Apply(Entry& entry, const NOTIFYICONDATA& data)
    {
        if (data.uFlags & NIF_MESSAGE) {
            entry.callbackMessage = data.uCallbackMessage;
            entry.hasCallback = true;
        }
        if (data.uFlags & NIF_ICON)
            entry.icon->setIcon(data.hIcon ? *data.hIcon : QIcon());
        if (data.uFlags & NIF_TIP)
            entry.icon->setToolTip(TipText(data));
    }

    void Clicked(const IconKey& key, QSystemTrayIcon::ActivationReason reason)
    {
        const auto found = m_icons.find(key);
        if (found == m_icons.end() || !found->second.hasCallback)
            return;
        for (const unsigned message : MouseMessagesFor(reason)) {
            if (!NotifyWindow::Post(key.first, found->second.callbackMessage, key.second, message)) {
                qCDebug(lcShell) << "window" << key.first << "is gone; its icon is removed";
                // Deferred: this runs inside a signal of the icon itself.
                QSystemTrayIcon* dead = found->second.icon.release();
                m_icons.erase(found);
                dead->deleteLater();
                return;
            }
        }
    }

    std::map<IconKey, Entry> m_icons;
    static inline QPointer<Shell> s_shell;
};

} // namespace

BOOL Shell_NotifyIcon(DWORD message, const NOTIFYICONDATA* data)
{
    if (!data || data->cbSize != NOTIFYICONDATA_V1_SIZE)
        return false;
    Shell& shell = Shell::Instance();
    switch (message) {
    case NIM_ADD: return shell.Add(*data);
    case NIM_MODIFY: return shell.Modify(*data);
    case NIM_DELETE: return shell.Delete(*data);
    default: return false;
    }
}

bool NotificationAreaAvailable()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

QSystemTrayIcon* ShellTrayIcon(HWND window, UINT id)
{
    return Shell::Instance().Find(window, id);
}

} // namespace platform
