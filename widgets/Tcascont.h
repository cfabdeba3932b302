// SPDX-License-Identifier: GPL-3.0-or-later
// TCasseteContador: a tape-counter label showing HH:MM:SS. It counts ticks of
// its own timer, never a clock: once a second in real time, or every
// FastSpeed milliseconds forwards or backwards.
//
// Threading: GUI thread only; ticks arrive through the toolkit's dispatch.
// Counting up clamps the hours at CountLimit, so the last hour repeats;
// counting down stops at zero and stays there while the timer keeps running.
#pragma once

#include "platform/toolkit/TLabel.h"

#include <QString>
#include <cstdint>

namespace platform {
class TTimer;
}

class TCasseteContador : public platform::TLabel {
    Q_OBJECT
    Q_PROPERTY(int CountLimit READ CountLimit WRITE SetCountLimit)
    Q_PROPERTY(int FastSpeed READ FastSpeed WRITE SetFastSpeed)

public:
    enum TRunMode : std::uint8_t {
        rmStopped = 0,
        rmRealTime = 1,
        rmFastForward = 2,
        rmFastRewind = 3,
    };

    Q_INVOKABLE explicit TCasseteContador(QWidget* parent = nullptr);

    int CountLimit() const { return m_countLimit; }
    void SetCountLimit(int hours) { m_countLimit = hours; }

    int FastSpeed() const { return m_fastSpeed; }
    void SetFastSpeed(int milliseconds) { m_fastSpeed = milliseconds; }

    // Back to 00:00:00; a running counter goes on counting from there.
    void ResetCount();
    // Values other than the four modes are kept but leave the timer alone
    // and make ticks do nothing.
    void SetRunMode(std::uint8_t mode);
    std::uint8_t RunMode() const { return m_runMode; }

    // One tick of the step timer, in the current run mode.
    void Tick();

    const platform::TTimer& StepTimer() const { return *m_stepTimer; }

    // HH:MM:SS with two-digit minutes and seconds and at least two hour digits.
    static QString FormatTime(int hours, int minutes, int seconds);

private:
    void CountUp();
    void CountDown();
    void ShowTime();

    int m_minutes = 0;
    int m_seconds = 0;
    int m_hours = 0;
    platform::TTimer* m_stepTimer;
    int m_countLimit = 3;
    std::uint8_t m_runMode = rmStopped;
    int m_fastSpeed = 10;
};
