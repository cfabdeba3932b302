// SPDX-License-Identifier: GPL-3.0-or-later
// TTimer: a component that calls OnTimer every Interval milliseconds on the
// GUI thread while Enabled. An interval of 0 never ticks; enabling a disabled
// timer (or changing the interval) starts a full interval from that moment.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

namespace platform {

class TTimer : public QObject {
    Q_OBJECT
    Q_PROPERTY(int Interval READ Interval WRITE SetInterval)
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)

public:
    Q_INVOKABLE explicit TTimer(QObject* owner = nullptr);

    int Interval() const { return m_interval; }
    void SetInterval(int milliseconds);

    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool enabled);

    // A paused timer does not tick. Enabled and Interval keep their values
    // and may still change; the end of the pause starts a full interval.
    bool Paused() const { return m_paused; }
    void SetPaused(bool paused);

    std::function<void(QObject* Sender)> OnTimer;

private:
    void UpdateTimer();
    void Tick();

    QTimer m_timer;
    int m_interval = 1000;
    bool m_enabled = true;
    bool m_paused = false;
};

} // namespace platform
