// SPDX-License-Identifier: GPL-3.0-or-later
// The application object: title, message pump, error box and process end.
//
// Everything here runs on the GUI thread. Handlers of components are called
// through the platform's dispatch (Application::Dispatch here), which catches
// an exception that escaped program code; the toolkit installs the error box
// as its sink when the program starts, so nothing ever unwinds into Qt's
// event loop and every such exception is shown.
#pragma once

#include "platform/core/Dispatch.h"

#include <QString>
#include <QWidget>
#include <exception>
#include <functional>
#include <utility>

namespace platform {

class Application {
public:
    // The process-wide application object, created on first use.
    static Application& Instance();

    // Settings the toolkit reads once, when its application object is made:
    // call before the QApplication exists.
    static void PrepareToolkit();

    QString Title() const { return m_title; }
    void SetTitle(const QString& title) { m_title = title; }

    // The toolkit's default title: the executable's file name up to its first
    // dot, with all but the first character in lower case.
    static QString DefaultTitle(const QString& executablePath);

    // Handles every message already queued, then returns. Handlers may run
    // inside this call.
    void ProcessMessages();

    // Shows the exception's message in the error box with the application
    // title; the message loop goes on.
    void HandleException(const std::exception& error);

    // Runs fn through the platform's dispatch, whose error sink is this
    // object's HandleException from start-up on.
    template <typename Fn>
    void Dispatch(Fn&& fn) noexcept
    {
        platform::Dispatch::Run(std::forward<Fn>(fn));
    }

    // Replaces the modal error box, so tests can see what would be shown
    // without a dialog blocking them. An empty function restores the box.
    using ErrorBoxFn = std::function<void(const QString& title, const QString& text)>;
    void SetErrorBoxHook(ErrorBoxFn hook) { m_errorBoxHook = std::move(hook); }

    // Shows the main form and runs the message loop until it closes; closing
    // the main form ends the loop. Returns the loop's exit code.
    int Run(QWidget& mainForm);
    QWidget* MainForm() const { return m_mainForm; }

    // Ends the process at once, without further handlers.
    [[noreturn]] static void Terminate(int exitCode = 0);

private:
    Application();

    QString m_title;
    ErrorBoxFn m_errorBoxHook;
    QWidget* m_mainForm = nullptr;
};

} // namespace platform
