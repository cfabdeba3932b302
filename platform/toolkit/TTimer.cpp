// SPDX-License-Identifier: GPL-3.0-or-later
// Threading: GUI thread only. The QTimer is restarted on every change of
// Interval, Enabled or Paused, which is what gives a re-enabled timer a full
// interval.
#include "platform/toolkit/TTimer.h"

#include "platform/toolkit/Application.h"

namespace platform {

TTimer::TTimer(QObject* owner) : QObject(owner)
{
    connect(&m_timer, &QTimer::timeout, this, &TTimer::Tick);
    UpdateTimer();
}

void TTimer::SetInterval(int milliseconds)
{
    if (milliseconds == m_interval)
        return;
    m_interval = milliseconds;
    UpdateTimer();
}

void TTimer::SetEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    UpdateTimer();
}

void TTimer::SetPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    UpdateTimer();
}

void TTimer::UpdateTimer()
{
    m_timer.stop();
    // A timer of whole seconds ticks on whole seconds of the clock, so that
    // such timers (the rate readout, the counter) share one wake-up; its
    // first tick may come up to half a second early or late.
    m_timer.setTimerType(m_interval > 0 && m_interval % 1000 == 0 ? Qt::VeryCoarseTimer : Qt::CoarseTimer);
    if (m_enabled && !m_paused && m_interval > 0)
        m_timer.start(m_interval);
}

void TTimer::Tick()
{
    if (OnTimer)
        Application::Instance().Dispatch([this] { OnTimer(this); });
}

} // namespace platform
