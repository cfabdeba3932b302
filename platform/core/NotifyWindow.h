// SPDX-License-Identifier: GPL-3.0-or-later
// A hidden notification window: the receiver of platform notices.
//
// Any thread may post a message to a window by its handle; the message is
// delivered on the GUI thread, in the order posted, to the window's handler.
// Posting to a handle whose window has been destroyed is silently dropped, and
// so is every message still queued when the window goes away: the platform
// layers' helper threads therefore never hold a pointer to a component.
#pragma once

#include <QObject>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace platform {

using HWND = std::uintptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

constexpr unsigned WM_USER = 0x0400;

class NotifyWindow : public QObject {
    Q_OBJECT

public:
    using Handler = std::function<LRESULT(unsigned message, WPARAM wParam, LPARAM lParam)>;

    explicit NotifyWindow(Handler handler, QObject* parent = nullptr);
    ~NotifyWindow() override;

    NotifyWindow(const NotifyWindow&) = delete;
    NotifyWindow& operator=(const NotifyWindow&) = delete;

    HWND Handle() const { return m_handle; }

    // PostMessage: thread-safe; false when no window has that handle.
    static bool Post(HWND window, unsigned message, WPARAM wParam, LPARAM lParam);
    // Posts count messages that differ in lParam only, as one event: they
    // arrive in order, after what was posted before, and wake the GUI
    // thread once.
    static bool PostBatch(HWND window, unsigned message, WPARAM wParam, const LPARAM* lParams, std::size_t count);
    // Like PostBatch, but without waking the GUI thread for it: the batch is
    // delivered once the GUI thread is awake for anything else, and never
    // after a message posted later. For notices nobody waits for, so that
    // they ride on the GUI thread's own wake-ups.
    static bool PostBatchWhenAwake(HWND window, unsigned message, WPARAM wParam, const LPARAM* lParams,
                                   std::size_t count);
    // Wakes the GUI thread for batches posted when-awake longer ago than
    // bound: a poster's guarantee that they still come in time.
    static void WakeForBatchesOlderThan(std::chrono::milliseconds bound);

    // SendMessage from the GUI thread: the handler runs before this returns.
    LRESULT Send(unsigned message, WPARAM wParam, LPARAM lParam);

    struct Message {
        unsigned message;
        WPARAM wParam;
        LPARAM lParam;
    };

protected:
    bool event(QEvent* event) override;

private:
    static bool PostMessages(HWND window, std::vector<Message> messages);
    static std::vector<Message> Batch(unsigned message, WPARAM wParam, const LPARAM* lParams, std::size_t count);
    // Hands the when-awake batches to the GUI thread's queue (on the GUI
    // thread, just before it would sleep).
    static void PostWaitingBatches();
    LRESULT Deliver(unsigned message, WPARAM wParam, LPARAM lParam);

    Handler m_handler;
    HWND m_handle;
    // Messages taken from the queue and not yet handled. A handler that runs
    // an event loop of its own (an error box) has the rest of its batch
    // delivered there first, so nothing overtakes it.
    std::deque<Message> m_backlog;
};

} // namespace platform
