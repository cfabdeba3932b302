// SPDX-License-Identifier: GPL-3.0-or-later
// The one place where an exception that escaped a handler is caught, so that
// nothing ever unwinds into Qt's event loop. Where it goes is the error sink:
// the toolkit installs its error box there at start-up; without a toolkit
// (the platform layers on their own, a program without widgets) the sink
// writes the message to the log and the loop goes on.
//
// Threading: Run() and ReportError() belong to the GUI thread, where the
// handlers run; SetErrorSink() is for start-up, before any handler runs.
#pragma once

#include <exception>
#include <functional>
#include <stdexcept>

namespace platform {

class Dispatch {
public:
    using ErrorSink = std::function<void(const std::exception& error)>;

    // Replaces where escaping exceptions go; an empty function restores the log.
    static void SetErrorSink(ErrorSink sink);

    // Hands the exception to the sink. A sink that throws is itself reported
    // to the log: a report never unwinds either.
    static void ReportError(const std::exception& error) noexcept;

    // Runs fn and hands any exception to the sink.
    template <typename Fn>
    static void Run(Fn&& fn) noexcept
    {
        try {
            fn();
        } catch (const std::exception& error) {
            ReportError(error);
        } catch (...) {
            ReportError(std::runtime_error("Unknown exception"));
        }
    }
};

} // namespace platform
