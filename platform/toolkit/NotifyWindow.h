// A hidden notification window: the receiver of platform notices.
//
// Any thread may post a message to a window by its handle; the message is
// delivered on the GUI thread, in the order posted, to the window's handler.
// Posting to a handle whose window has been destroyed is silently dropped, and
// so is every message still queued when the window goes away: the platform
// layers' helper threads therefore never hold a pointer to a component.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>

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

    // SendMessage from the GUI thread: the handler runs before this returns.
    LRESULT Send(unsigned message, WPARAM wParam, LPARAM lParam);

protected:
    bool event(QEvent* event) override;

private:
    LRESULT Deliver(unsigned message, WPARAM wParam, LPARAM lParam);

    Handler m_handler;
    HWND m_handle;
};

} // namespace platform
