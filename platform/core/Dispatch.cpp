// SPDX-License-Identifier: GPL-3.0-or-later
// The sink is process-wide state set once at start-up and read on the GUI
// thread, so it needs no lock.
#include "platform/core/Dispatch.h"

#include <QLoggingCategory>
#include <QString>
#include <utility>

namespace platform {

namespace {

Q_LOGGING_CATEGORY(lcDispatch, "sendolin.dispatch")

Dispatch::ErrorSink& sink()
{
    static Dispatch::ErrorSink instance;
    return instance;
}

void LogError(const char* what) noexcept
{
    qCCritical(lcDispatch).noquote() << QString::fromUtf8(what);
}

} // namespace

void Dispatch::SetErrorSink(ErrorSink errorSink)
{
    sink() = std::move(errorSink);
}

void Dispatch::ReportError(const std::exception& error) noexcept
{
    const ErrorSink& current = sink();
    if (!current) {
        LogError(error.what());
        return;
    }
    try {
        current(error);
    } catch (const std::exception& failure) {
        LogError(error.what());
        LogError(failure.what());
    } catch (...) {
        LogError(error.what());
    }
}

} // namespace platform
