// SPDX-License-Identifier: GPL-3.0-or-later
// A listener at a sound card's pace for the capture route. ALSA's file
// plugin in front of the null device takes audio as fast as it comes; with
// the capture file made a FIFO that is read no faster than the stream's byte
// rate, the device plays in real time, as a sound card would, and a queue of
// audio builds up in the client when a station sends faster than that.
//
// Threading: a helper thread reads the FIFO; Heard() copies under a lock.
// Declare it before the objects whose device writes to it, so that it
// outlives them: the writer would block on a full FIFO nobody reads.
#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace testsupport {

class PacedListener {
public:
    using Clock = std::chrono::steady_clock;
    struct Chunk {
        Clock::time_point at; // when it was read, i.e. heard
        QByteArray bytes;
    };

    PacedListener() = default;
    ~PacedListener();
    PacedListener(const PacedListener&) = delete;
    PacedListener& operator=(const PacedListener&) = delete;

    // Makes `path` (which must not exist yet) a FIFO and starts reading it
    // at `bytesPerSecond`. A gap in the audio is not made up for later.
    void Start(const QString& path, unsigned bytesPerSecond);
    // Reads what is still written without pacing, then ends the thread.
    void Stop();

    std::vector<Chunk> Heard() const;

private:
    void Run(unsigned bytesPerSecond);

    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_lock;
    std::vector<Chunk> m_heard;
    std::thread m_thread;
};

} // namespace testsupport
