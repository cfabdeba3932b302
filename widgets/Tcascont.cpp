// SPDX-License-Identifier: GPL-3.0-or-later
// Threading: GUI thread only. The counter state is the three numbers and the
// run mode; the caption is rebuilt from them after every change.
#include "widgets/Tcascont.h"

#include "platform/toolkit/TTimer.h"

namespace {
constexpr int RealTimeInterval = 1000;
}

TCasseteContador::TCasseteContador(QWidget* parent)
    : TLabel(parent), m_stepTimer(new platform::TTimer(this))
{
    m_stepTimer->SetEnabled(false);
    m_stepTimer->SetInterval(RealTimeInterval);
    m_stepTimer->OnTimer = [this](QObject*) { Tick(); };
    ShowTime();
}

void TCasseteContador::ResetCount()
{
    m_hours = 0;
    m_minutes = 0;
    m_seconds = 0;
    ShowTime();
}

void TCasseteContador::SetRunMode(std::uint8_t mode)
{
    m_runMode = mode;
    switch (mode) {
    case rmStopped:
        m_stepTimer->SetEnabled(false);
        break;
    case rmRealTime:
        m_stepTimer->SetInterval(RealTimeInterval);
        m_stepTimer->SetEnabled(true);
        break;
    case rmFastForward:
    case rmFastRewind:
        m_stepTimer->SetInterval(m_fastSpeed);
        m_stepTimer->SetEnabled(true);
        break;
    default:
        break;
    }
}

void TCasseteContador::Tick()
{
    if (m_runMode == rmRealTime || m_runMode == rmFastForward)
        CountUp();
    else if (m_runMode == rmFastRewind)
        CountDown();
}

void TCasseteContador::CountUp()
{
    if (++m_seconds > 59) {
        ++m_minutes;
        m_seconds = 0;
    }
    if (m_minutes > 59) {
        ++m_hours;
        m_minutes = 0;
    }
    if (m_hours > m_countLimit)
        m_hours = m_countLimit;
    ShowTime();
}

void TCasseteContador::CountDown()
{
    if (--m_seconds < 0) {
        --m_minutes;
        m_seconds = 59;
    }
    if (m_minutes < 0) {
        --m_hours;
        m_minutes = 59;
    }
    if (m_hours < 0) {
        ResetCount();
        return;
    }
    ShowTime();
}

void TCasseteContador::ShowTime()
{
    SetCaption(FormatTime(m_hours, m_minutes, m_seconds));
}

QString TCasseteContador::FormatTime(int hours, int minutes, int seconds)
{
    QString s = QString::number(seconds);
    s = (s.size() == 1 ? QStringLiteral(":0") : QStringLiteral(":")) + s;
    s = QString::number(minutes) + s;
    s = (s.size() == 4 ? QStringLiteral(":0") : QStringLiteral(":")) + s;
    s = QString::number(hours) + s;
    if (s.size() == 7)
        s = QLatin1Char('0') + s;
    return s;
}
