// SPDX-License-Identifier: GPL-3.0-or-later
// Threading: Post(), PostBatch(), PostBatchWhenAwake() and
// WakeForBatchesOlderThan() may be called from any thread; everything else
// runs on the GUI thread. The registry below maps handles to live windows; a
// window leaves it (under the lock) before QObject's destructor discards the
// events still queued for it, so a post can never reach a destroyed window.
// When-awake batches wait in the registry, under the same lock, until the GUI
// thread is about to sleep or anything else is posted: whichever comes first
// turns them into events, oldest first, so no message overtakes another.
#include "platform/core/NotifyWindow.h"

#include "platform/core/Dispatch.h"
#include "platform/core/HandleTable.h"

#include <QAbstractEventDispatcher>
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
    // Batches posted when-awake, oldest first, and when the oldest came.
    std::vector<std::pair<HWND, std::vector<NotifyWindow::Message>>> waiting;
    std::chrono::steady_clock::time_point waitingSince;
    std::atomic<bool> anyWaiting{false}; // read without the lock before each sleep
    bool hooked = false; // whether the GUI thread hands them over before it sleeps
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

// Under reg.lock: posts a batch as one event, if its window still exists.
void PostNow(Registry& reg, HWND window, std::vector<NotifyWindow::Message>&& messages)
{
    NotifyWindow* const* found = reg.windows.Find(window);
    if (!found || messages.empty())
        return;
    auto* notice = new NotifyEvent(std::move(messages));
    g_posts.fetch_add(1, std::memory_order_release);
    QCoreApplication::postEvent(*found, notice);
}

// Under reg.lock.
void PostWaiting(Registry& reg)
{
    for (auto& [window, messages] : reg.waiting)
        PostNow(reg, window, std::move(messages));
    reg.waiting.clear();
    reg.anyWaiting.store(false, std::memory_order_relaxed);
}

} // namespace

NotifyWindow::NotifyWindow(Handler handler, QObject* parent)
    : QObject(parent), m_handler(std::move(handler))
{
    Registry& reg = registry();
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    std::lock_guard guard(reg.lock);
    m_handle = reg.windows.Insert(this);
    if (!reg.hooked && dispatcher) {
        reg.hooked = true;
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, dispatcher, &NotifyWindow::PostWaitingBatches);
    }
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
    return PostMessages(window, Batch(message, wParam, lParams, count));
}

bool NotifyWindow::PostBatchWhenAwake(HWND window, unsigned message, WPARAM wParam, const LPARAM* lParams,
                                      std::size_t count)
{
    Registry& reg = registry();
    std::vector<Message> messages = Batch(message, wParam, lParams, count);
    std::lock_guard guard(reg.lock);
    if (!reg.windows.Find(window))
        return false;
    if (!reg.hooked) {
        PostNow(reg, window, std::move(messages)); // nothing would hand it over
        return true;
    }
    if (messages.empty())
        return true;
    if (reg.waiting.empty())
        reg.waitingSince = std::chrono::steady_clock::now();
    reg.waiting.emplace_back(window, std::move(messages));
    reg.anyWaiting.store(true, std::memory_order_relaxed);
    return true;
}

void NotifyWindow::WakeForBatchesOlderThan(std::chrono::milliseconds bound)
{
    Registry& reg = registry();
    std::lock_guard guard(reg.lock);
    if (!reg.waiting.empty() && std::chrono::steady_clock::now() - reg.waitingSince >= bound)
        PostWaiting(reg);
}

void NotifyWindow::PostWaitingBatches()
{
    Registry& reg = registry();
    if (!reg.anyWaiting.load(std::memory_order_relaxed))
        return;
    std::lock_guard guard(reg.lock);
    PostWaiting(reg);
}

std::vector<NotifyWindow::Message> NotifyWindow::Batch(unsigned message, WPARAM wParam, const LPARAM* lParams,
                                                       std::size_t count)
{
    std::vector<Message> messages;
    messages.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        messages.push_back({message, wParam, lParams[i]});
    return messages;
}

bool NotifyWindow::PostMessages(HWND window, std::vector<Message> messages)
{
    Registry& reg = registry();
    std::lock_guard guard(reg.lock);
    if (!reg.windows.Find(window))
        return false;
    PostWaiting(reg); // what was posted before goes first
    PostNow(reg, window, std::move(messages));
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
        Dispatch::Run([&] { result = m_handler(message, wParam, lParam); });
    return result;
}

} // namespace platform
