// Test-only routing of ALSA's "default" playback device to a sink that plays
// in real time, so that what the device reports as played follows the clock
// as on a sound card. The file plugin writes into a FIFO with a small buffer,
// and a thread here drains it at the given byte rate, keeping every byte.
// Like AlsaRoute (which it must not be nested with), it lives while a test
// plays; the previous ALSA configuration comes back when it goes.
#pragma once

#include <QByteArray>
#include <QTemporaryDir>
#include <atomic>
#include <mutex>
#include <thread>

namespace testsupport {

class PacedAlsaRoute {
public:
    explicit PacedAlsaRoute(unsigned bytesPerSecond);
    ~PacedAlsaRoute();
    PacedAlsaRoute(const PacedAlsaRoute&) = delete;
    PacedAlsaRoute& operator=(const PacedAlsaRoute&) = delete;

    QByteArray Captured() const;

private:
    void Drain();

    QTemporaryDir m_dir;
    QByteArray m_previous;
    bool m_hadPrevious;
    const unsigned m_rate;
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_lock;
    QByteArray m_captured;
    std::thread m_thread;
};

} // namespace testsupport
