// Threading: Post() and PostBatch() may be called from any thread; everything else runs on
// the GUI thread. The registry below maps handles to live windows; a window
// leaves it (under the lock) before QObject's destructor discards the events
// still queued for it, so a post can never reach a destroyed window.
#include "platform/toolkit/NotifyWindow.h"

#include "platform/toolkit/Application.h"
#include "platform/toolkit/HandleTable.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <atomic>
#include <mutex>

namespace platform {

namespace {

const QEvent::Type NotifyEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

// One posted event carries one message or a batch of them.
class NotifyEvent : public QEvent {
public:
    explicit NotifyEvent(std::vector<NotifyWindow::Message>&& messages)
        : QEvent(NotifyEventType), messages(std::move(messages))
    {
    }
    std::vector<NotifyWindow::Message> messages;
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

// Qt's event queue hands each notice to the GUI thread safely, but through
// locks of its own that ThreadSanitizer cannot see, Qt not being instrumented.
// The release in Post() and the acquire in event() state the same ordering in
// the C++ memory model: what a thread wrote before posting is visible to the
// handler. Without them every notice is reported as a data race.
std::atomic<unsigned long long> g_posts{0};

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
    return PostMessages(window, {{message, wParam, lParam}});
}

bool NotifyWindow::PostBatch(HWND window, unsigned message, WPARAM wParam, const LPARAM* lParams, std::size_t count)
{
    std::vector<Message> messages;
    messages.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        messages.push_back({message, wParam, lParams[i]});
    return PostMessages(window, std::move(messages));
}

bool NotifyWindow::PostMessages(HWND window, std::vector<Message> messages)
{
    Registry& reg = registry();
    std::lock_guard guard(reg.lock);
    NotifyWindow* const* found = reg.windows.Find(window);
    if (!found)
        return false;
    if (messages.empty())
        return true;
    auto* notice = new NotifyEvent(std::move(messages));
    g_posts.fetch_add(1, std::memory_order_release);
    QCoreApplication::postEvent(*found, notice);
    return true;
}

LRESULT NotifyWindow::Send(unsigned message, WPARAM wParam, LPARAM lParam)
{
    return Deliver(message, wParam, lParam);
}

bool NotifyWindow::event(QEvent* event)
{
    g_posts.load(std::memory_order_acquire);
    if (event->type() != NotifyEventType)
        return QObject::event(event);
    auto* notice = static_cast<NotifyEvent*>(event);
    m_backlog.insert(m_backlog.end(), notice->messages.begin(), notice->messages.end());
    // A handler may destroy its window; what is left of the backlog goes
    // with it, as queued messages do.
    const QPointer<NotifyWindow> alive(this);
    while (alive && !m_backlog.empty()) {
        const Message next = m_backlog.front();
        m_backlog.pop_front();
        Deliver(next.message, next.wParam, next.lParam);
    }
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
