// Threading: Post() may be called from any thread; everything else runs on
// the GUI thread. The registry below maps handles to live windows; a window
// leaves it (under the lock) before QObject's destructor discards the events
// still queued for it, so a post can never reach a destroyed window.
#include "platform/toolkit/NotifyWindow.h"

#include "platform/toolkit/Application.h"
#include "platform/toolkit/HandleTable.h"

#include <QCoreApplication>
#include <QEvent>
#include <atomic>
#include <mutex>

namespace platform {

namespace {

const QEvent::Type NotifyEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

class NotifyEvent : public QEvent {
public:
    NotifyEvent(unsigned message, WPARAM wParam, LPARAM lParam)
        : QEvent(NotifyEventType), message(message), wParam(wParam), lParam(lParam)
    {
    }
    unsigned message;
    WPARAM wParam;
    LPARAM lParam;
};

struct Registry {
    std::mutex lock;
    // Handles are never reused, so a stale handle cannot reach a newer window.
    HandleTable<HWND, NotifyWindow*> windows{0x10000};
};

Registry& registry()
{
    static Registry instance;
    return instance;
}

} // namespace

NotifyWindow::NotifyWindow(Handler handler, QObject* parent)
    : QObject(parent), m_handler(std::move(handler))
{
    Registry& reg = registry();
    std::lock_guard guard(reg.lock);
    m_handle = reg.windows.Insert(this);
}

NotifyWindow::~NotifyWindow()
{
    Registry& reg = registry();
    std::lock_guard guard(reg.lock);
    reg.windows.Erase(m_handle);
}

bool NotifyWindow::Post(HWND window, unsigned message, WPARAM wParam, LPARAM lParam)
{
    Registry& reg = registry();
    std::lock_guard guard(reg.lock);
    NotifyWindow* const* found = reg.windows.Find(window);
    if (!found)
        return false;
    QCoreApplication::postEvent(*found, new NotifyEvent(message, wParam, lParam));
    return true;
}

LRESULT NotifyWindow::Send(unsigned message, WPARAM wParam, LPARAM lParam)
{
    return Deliver(message, wParam, lParam);
}

bool NotifyWindow::event(QEvent* event)
{
    if (event->type() != NotifyEventType)
        return QObject::event(event);
    const auto* notice = static_cast<NotifyEvent*>(event);
    Deliver(notice->message, notice->wParam, notice->lParam);
    return true;
}

LRESULT NotifyWindow::Deliver(unsigned message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (m_handler)
        Application::Instance().Dispatch([&] { result = m_handler(message, wParam, lParam); });
    return result;
}

} // namespace platform
