// Threading: GUI thread only. The QTimer is restarted on every change of
// Interval, Enabled or Paused, which is what gives a re-enabled timer a full
// interval.
#include "platform/toolkit/TTimer.h"

#include "platform/toolkit/Application.h"

namespace platform {

TTimer::TTimer(QObject* owner) : QObject(owner)
{
    m_timer.setTimerType(Qt::CoarseTimer);
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
    if (m_enabled && !m_paused && m_interval > 0)
        m_timer.start(m_interval);
}

void TTimer::Tick()
{
    if (OnTimer)
        Application::Instance().Dispatch([this] { OnTimer(this); });
}

} // namespace platform
