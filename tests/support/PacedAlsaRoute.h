// Test-only routing of ALSA's "default" playback device to a sink that
// behaves like a sound card (tests/support/alsa/RealtimeSink.cpp): it plays
// in real time at the rate it is configured for, so what the device reports
// as played follows the clock, a writer that is ahead waits for room, and a
// card that runs dry underruns. Every byte written to it (or only the first
// captureLimit bytes) is kept in order. Like AlsaRoute (which it must not be
// nested with), it lives while a test plays; the previous ALSA configuration
// comes back when it goes.
#pragma once

#include <QByteArray>
#include <QTemporaryDir>

namespace testsupport {

class PacedAlsaRoute {
public:
    explicit PacedAlsaRoute(qint64 captureLimit = -1);
    ~PacedAlsaRoute();
    PacedAlsaRoute(const PacedAlsaRoute&) = delete;
    PacedAlsaRoute& operator=(const PacedAlsaRoute&) = delete;

    // What has been written to the device so far, in order.
    QByteArray Captured() const;

private:
    QString CapturePath() const;

    QTemporaryDir m_dir;
    QByteArray m_previous;
    bool m_hadPrevious;
};

} // namespace testsupport
