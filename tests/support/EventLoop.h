// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers for tests that wait on the GUI event loop.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>

namespace testsupport {

// Runs the event loop until pred() holds or timeoutMs passes; returns pred().
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!pred()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

// Runs the event loop for the given time.
inline void Pump(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

} // namespace testsupport
